#include "common/export.hpp"
#include "diag/diag.hpp"
#include "qmrt/diag.h"

QMRT_EXPORT int write_debug2(const char *text) {
    // A null text is nothing to append; it must not crash the caller.
    if (text != nullptr) qmrt::diag::append_trace(text);
    return 0;
}
