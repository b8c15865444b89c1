// The straightforward tokenizer the library's one must match output for output.
#pragma once

#include <cstdint>
#include <span>

#include "json/tokenizer.hpp"
#include "qmrt/json.h"

namespace qmrt::test::reference {

// The same contract as qmrt::json::parse.
std::int32_t parse(jsmn_state &state, const char *text, std::span<json_token> tokens,
                   std::uint32_t max_length = qmrt::json::max_text_length);

}  // namespace qmrt::test::reference
