#include "common/export.hpp"
#include "json/tokens.hpp"
#include "qmrt/json.h"

QMRT_EXPORT json_token *json_tokenise(const char *text, int32_t *status) {
    return qmrt::json::tokenise(text, *status);
}
