#include <cstdarg>

#include "common/export.hpp"
#include "diag/diag.hpp"
#include "qmrt/diag.h"

QMRT_EXPORT int log_info(const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int result = qmrt::diag::inform(format, args);
    va_end(args);
    return result;
}
