#include "common/export.hpp"
#include "memory/memory.hpp"
#include "qmrt/memory.h"

QMRT_EXPORT bounded_buf *buf_size(bounded_buf *buf, uint64_t size) {
    qmrt::diag::report(qmrt::memory::size_buffer(buf, size));
    return buf;
}
