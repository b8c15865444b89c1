// Core of the JSON tokenizer; jsmn_parse is its C face.
#pragma once

#include <cstdint>
#include <limits>
#include <span>

#include "json/scan.hpp"
#include "qmrt/json.h"

namespace qmrt::json {

// Offsets are stored in signed 32-bit fields, so no text may be longer than this.
inline constexpr std::uint32_t max_text_length = std::numeric_limits<std::int32_t>::max();

// The bound of every parse, max_text_length unless changed here (tests lower it to reach
// it cheaply): a non-zero byte at an offset of the bound or beyond makes the text too long
// for the offsets, and the parse stops there with JSON_ERR_INVALID. Returns the bound it
// replaces.
std::uint32_t set_text_bound(std::uint32_t bound);

// Tokenizes the zero-terminated text from state.pos on into tokens, with the statuses
// and resumption rules of jsmn_parse.
std::int32_t parse(jsmn_state &state, const char *text, std::span<json_token> tokens);

// The parse json_tokenise runs: from a fresh state over a growing array, resumed with
// the same results as parse gives. Between a -1 and the next call the open containers
// stay chained (their ends hold links, which the array's growth keeps valid), so that a
// resumption does not pass over every token made before it; the chain is undone when
// the parse ends. Not to be used on an array anything else reads in between.
class GrowingParse {
public:
    // Tokenizes on from where the last call stopped, into tokens, which holds what the
    // earlier calls made at the same places.
    std::int32_t resume(const char *text, std::span<json_token> tokens);

private:
    Cursor cursor_{0, 0, -1, -1};
};

}  // namespace qmrt::json
