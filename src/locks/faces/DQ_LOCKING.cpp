#include "common/export.hpp"
#include "locks/locks.hpp"
#include "qmrt/locks.h"

QMRT_EXPORT int32_t DQ_LOCKING(int32_t code) {
    return qmrt::locks::run(code);
}
