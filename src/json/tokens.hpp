// Cores of the growing token array, reply validation and value lookup by key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "qmrt/json.h"

namespace qmrt::json {

inline constexpr std::uint32_t initial_token_count = 256;

// Where the token array's memory comes from: the process heap, or a stand-in in tests
// that need an allocation to fail.
struct Allocator {
    void *(*allocate)(std::size_t bytes) = std::malloc;
    void *(*reallocate)(void *block, std::size_t bytes) = std::realloc;
};

// json_tokenise, with its memory taken from `allocator`: the token array, with `status` 0
// for a complete text and -1 otherwise; null, with nothing left allocated and `status`
// untouched, when the array cannot be allocated or grown.
json_token *tokenise(const char *text, std::int32_t &status, const Allocator &allocator = {});

// QM_getJsonValue: copies the text of the token after the first string token equal to
// `key` into `value`, terminated. 0, or -1 when there is no such key or its value was
// left open.
std::int32_t get_value(const json_token *tokens, std::string_view key, char *value,
                       const char *text);

// json_getreply: the root must be an object with keys and values paired; anything else
// is fatal.
void check_reply(const json_token *tokens);

// json_token_streq: whether the complete token's text equals `s`.
bool token_equals(const char *text, const json_token &token, const char *s);

// json_token_tostr: the complete token's text cut out in place (a zero at its end), or
// null for a token left open.
char *cut_token(char *text, const json_token &token);

}  // namespace qmrt::json
