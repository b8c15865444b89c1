#include "common/export.hpp"
#include "memory/memory.hpp"
#include "qmrt/memory.h"

QMRT_EXPORT void buf_concat(bounded_buf *dst, const char *src, uint64_t len) {
    qmrt::diag::report(qmrt::memory::append(dst, src, len));
}
