#include "common/export.hpp"
#include "json/tokens.hpp"
#include "qmrt/json.h"

QMRT_EXPORT char *json_token_tostr(char *text, const json_token *token) {
    return qmrt::json::cut_token(text, *token);
}
