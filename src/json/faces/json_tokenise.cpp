#include "common/export.hpp"
#include "diag/diag.hpp"
#include "json/tokens.hpp"
#include "qmrt/json.h"

QMRT_EXPORT json_token *json_tokenise(const char *text, int32_t *status) {
    json_token *tokens = qmrt::json::tokenise(text, *status);
    qmrt::diag::require(tokens != nullptr, "json_tokenise", "tokens != NULL");
    return tokens;
}
