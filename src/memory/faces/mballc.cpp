#include "common/export.hpp"
#include "memory/memory.hpp"
#include "qmrt/memory.h"

QMRT_EXPORT void *mballc(uint32_t numobj, uint32_t sizobj) {
    return qmrt::memory::allocate_block(numobj, sizobj);
}
