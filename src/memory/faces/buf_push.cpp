#include "common/export.hpp"
#include "memory/memory.hpp"
#include "qmrt/memory.h"

QMRT_EXPORT void buf_push(bounded_buf *buf, char byte) {
    qmrt::diag::report(qmrt::memory::push(buf, byte));
}
