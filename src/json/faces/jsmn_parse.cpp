#include <span>

#include "common/export.hpp"
#include "json/tokenizer.hpp"
#include "qmrt/json.h"

QMRT_EXPORT int32_t jsmn_parse(jsmn_state *state, const char *text, json_token *tokens,
                               uint32_t count) {
    return qmrt::json::parse(*state, text, std::span<json_token>(tokens, count));
}
