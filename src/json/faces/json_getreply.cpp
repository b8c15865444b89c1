#include "common/export.hpp"
#include "json/tokens.hpp"
#include "qmrt/json.h"

QMRT_EXPORT int32_t json_getreply(const char *, const json_token *tokens) {
    qmrt::json::check_reply(tokens);
    return 0;
}
