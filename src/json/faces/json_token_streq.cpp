#include "common/export.hpp"
#include "json/tokens.hpp"
#include "qmrt/json.h"

QMRT_EXPORT int32_t json_token_streq(const char *text, const json_token *token, const char *s) {
    return qmrt::json::token_equals(text, *token, s) ? 1 : 0;
}
