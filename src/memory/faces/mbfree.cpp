#include "common/export.hpp"
#include "memory/memory.hpp"
#include "qmrt/memory.h"

QMRT_EXPORT void mbfree(void *block) {
    qmrt::memory::release_block(block);
}
