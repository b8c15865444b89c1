#include "common/export.hpp"
#include "memory/memory.hpp"
#include "qmrt/memory.h"

QMRT_EXPORT char *buf_tostr(const bounded_buf *buf) {
    char *text = nullptr;
    qmrt::diag::report(qmrt::memory::to_text(buf, text));
    return text;
}
