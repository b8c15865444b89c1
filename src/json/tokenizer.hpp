// Internal core of the JSON tokenizer; jsmn_parse is its C face.
#pragma once

#include <cstdint>
#include <limits>
#include <span>

#include "qmrt/json.h"

namespace qmrt::json {

// Offsets are stored in signed 32-bit fields, so no text may be longer than this.
inline constexpr std::uint32_t max_text_length = std::numeric_limits<std::int32_t>::max();

// Tokenizes the zero-terminated text from state.pos on into tokens, with the statuses
// and resumption rules of jsmn_parse. A non-zero byte at an offset of max_length or
// beyond makes the text too long for the offsets: the parse stops there with
// JSON_ERR_INVALID. Tests pass a small max_length to reach that bound cheaply.
std::int32_t parse(jsmn_state &state, const char *text, std::span<json_token> tokens,
                   std::uint32_t max_length = max_text_length);

}  // namespace qmrt::json
