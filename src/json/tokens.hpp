// Internal core of the growing token array.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "qmrt/json.h"

namespace qmrt::json {

inline constexpr std::uint32_t initial_token_count = 256;

// Where the token array's memory comes from: the process heap, or a stand-in in tests
// that need an allocation to fail.
struct Allocator {
    void *(*allocate)(std::size_t bytes) = std::malloc;
    void *(*reallocate)(void *block, std::size_t bytes) = std::realloc;
};

// json_tokenise with its memory taken from `allocator`.
json_token *tokenise(const char *text, std::int32_t &status, const Allocator &allocator);

}  // namespace qmrt::json
