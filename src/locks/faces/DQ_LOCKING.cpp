#include "common/export.hpp"
#include "locks/locks.hpp"
#include "qmrt/locks.h"

QMRT_EXPORT int32_t DQ_LOCKING(int32_t code) {
    const qmrt::locks::Outcome outcome = qmrt::locks::run(code);
    if (outcome.refusal != nullptr) qmrt::locks::refuse(*outcome.refusal);
    return outcome.result;
}
