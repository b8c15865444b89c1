#include "common/export.hpp"
#include "qmrt/json.h"

QMRT_EXPORT void jsmn_init(jsmn_state *state) {
    *state = {0, 0, -1};
}
