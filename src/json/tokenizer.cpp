// The JSON tokenizer: a zero-terminated text into a caller's flat token array, with no
// allocation and no copying.
//
// A vector kernel, the widest this processor has, reads texts of the common kind; the
// scalar loop (scalar_scan.cpp) reads the rest, a stretch at a time from where a kernel
// hands a text over, and the whole text where there is no kernel. Both make the same
// tokens.
//
// Open objects and arrays serve as the stack of containers. Between calls an open token
// is one whose end is -1, and closing a bracket means finding the last such token before
// next_free, then the one before that. Searching backwards for them would pass over
// every earlier sibling on each close (quadratic for a wide array of objects), so while
// a call runs each open token's end holds the index of the open token before it.
// The links are made in one pass on entry and every end is set back to -1 before the
// call returns.
#include "json/tokenizer.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "json/kernels.hpp"
#include "json/scan.hpp"

namespace qmrt::json {
namespace {

constexpr json_token free_token{JSON_PRIMITIVE, -1, -1, 0};

// Chains the open tokens already made, each to the open one before it, and gives the
// last: the container the next closing bracket closes.
std::int32_t link_open_tokens(std::span<json_token> made) {
    std::int32_t top = -1;
    for (std::size_t i = 0; i < made.size(); ++i) {
        json_token &token = made[i];
        if (token.start != -1 && token.end == -1) {
            token.end = top;
            top = static_cast<std::int32_t>(i);
        }
    }
    return top;
}

// Between calls open tokens have end -1 again.
void unlink_open_tokens(json_token *tokens, std::int32_t top) {
    while (top != -1) {
        json_token &token = tokens[top];
        top = token.end;
        token.end = -1;
    }
}

}  // namespace

namespace {

std::uint32_t text_bound = max_text_length;

// What the scalar loop reads of a text a kernel hands over before it hands it back. A
// kernel that hands the text straight back, having made nothing, found it as dense as
// before: the stretch doubles, up to its most, so that a long dense text is not tried
// again every few chunks. Once the kernel makes tokens the stretch starts over.
constexpr std::uint32_t scalar_stretch = 16384;
constexpr std::uint32_t longest_stretch = 1 << 20;

// From the cursor to the end of the text or the first failure: the kernel while it
// reads the text, the scalar loop for a stretch from where it hands the text over.
std::int32_t scan_from(Cursor &cursor, const char *text, std::span<json_token> tokens) {
    const std::uint32_t max_length = text_bound;
    const auto *bytes = reinterpret_cast<const unsigned char *>(text);
    const KernelScan kernel = current_scan();
    if (kernel == nullptr)
        return scalar::scan(cursor, bytes, tokens.data(), tokens.size(), max_length, max_length);
    std::uint32_t stretch = scalar_stretch / 2;  // the first hand-over reads scalar_stretch
    for (;;) {
        const std::int32_t made = cursor.next_free;
        std::int32_t status = kernel(cursor, bytes, tokens.data(), tokens.size(), max_length);
        if (status != hand_over) return status;
        stretch =
            cursor.next_free == made ? std::min(2 * stretch, longest_stretch) : scalar_stretch;
        const auto pause = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(std::uint64_t{cursor.pos} + stretch, max_length));
        status = scalar::scan(cursor, bytes, tokens.data(), tokens.size(), max_length, pause);
        if (status != hand_over) return status;
    }
}

// Every token the parse did not take is free afterwards. Freeing them last rather than
// first leaves the same array and writes each token once.
void free_untaken(std::span<json_token> tokens, std::int32_t next_free) {
    for (json_token &token : tokens.subspan(static_cast<std::size_t>(next_free)))
        token = free_token;
}

}  // namespace

std::uint32_t set_text_bound(std::uint32_t bound) {
    return std::exchange(text_bound, bound);
}

std::int32_t parse(jsmn_state &state, const char *text, std::span<json_token> tokens) {
    // Only a state left by an earlier parse on this array can be resumed. One that
    // claims more tokens than the array holds, or a parent that was never made, would
    // lead the parse outside the array: refuse it and touch nothing.
    if (state.next_free < 0 || static_cast<std::size_t>(state.next_free) > tokens.size() ||
        state.parent < -1 || state.parent >= state.next_free)
        return JSON_ERR_INVALID;
    const std::size_t made = static_cast<std::size_t>(state.next_free);
    Cursor cursor{state.pos, state.next_free, state.parent, link_open_tokens(tokens.first(made))};
    const std::int32_t status = scan_from(cursor, text, tokens);
    unlink_open_tokens(tokens.data(), cursor.top);
    free_untaken(tokens, cursor.next_free);
    state = {cursor.pos, cursor.next_free, cursor.parent};
    return status;
}

std::int32_t GrowingParse::resume(const char *text, std::span<json_token> tokens) {
    const std::int32_t status = scan_from(cursor_, text, tokens);
    if (status == JSON_ERR_NO_TOKENS) return status;  // the array is full: nothing to free
    unlink_open_tokens(tokens.data(), cursor_.top);
    cursor_.top = -1;
    free_untaken(tokens, cursor_.next_free);
    return status;
}

}  // namespace qmrt::json
