// Cores of the growing token array, reply validation and value lookup by key.
#pragma once

#include <cstdint>
#include <string_view>

#include "diag/diag.hpp"
#include "qmrt/json.h"

namespace qmrt::json {

inline constexpr std::uint32_t initial_token_count = 256;

// json_tokenise: the token array, malloc'd, with `status` 0 for a complete text and -1
// otherwise; null, with nothing left allocated and `status` untouched, when the array
// cannot be allocated or grown.
json_token *tokenise(const char *text, std::int32_t &status);

// QM_getJsonValue: copies the text of the token after the first string token equal to
// `key` into `value`, terminated. 0, or -1 when there is no such key or its value was
// left open.
std::int32_t get_value(const json_token *tokens, std::string_view key, char *value,
                       const char *text);

// json_getreply: what is wrong with the reply's root, which must be an object with keys
// and values paired: the text of its report, or a broken check in `broken`; null and an
// empty `broken` when nothing is.
const char *reply_fault(const json_token *tokens, diag::BrokenCheck &broken);

// json_token_streq: whether the complete token's text equals `s`.
bool token_equals(const char *text, const json_token &token, const char *s);

// json_token_tostr: the complete token's text cut out in place (a zero at its end), or
// null for a token left open.
char *cut_token(char *text, const json_token &token);

}  // namespace qmrt::json
