#include "common/export.hpp"
#include "memory/memory.hpp"
#include "qmrt/memory.h"

QMRT_EXPORT int QM_CPMEM_LONG(uint32_t *count, uint32_t add, void **block, int16_t size) {
    return qmrt::memory::grow_counted_block(*count, add, *block, size);
}
