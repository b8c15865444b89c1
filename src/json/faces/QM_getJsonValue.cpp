#include "common/export.hpp"
#include "json/tokens.hpp"
#include "qmrt/json.h"

QMRT_EXPORT int32_t QM_getJsonValue(const json_token *tokens, const char *key, char *value,
                                    const char *text) {
    return qmrt::json::get_value(tokens, key, value, text);
}
