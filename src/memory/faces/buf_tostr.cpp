#include "common/export.hpp"
#include "memory/memory.hpp"
#include "qmrt/memory.h"

QMRT_EXPORT char *buf_tostr(const bounded_buf *buf) {
    return qmrt::memory::to_text(buf);
}
