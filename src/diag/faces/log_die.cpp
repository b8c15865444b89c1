#include <cstdarg>

#include "common/export.hpp"
#include "diag/diag.hpp"
#include "qmrt/diag.h"

QMRT_EXPORT void log_die(const char *format, ...) {
    va_list args;
    va_start(args, format);
    qmrt::diag::die(format, args);
}
