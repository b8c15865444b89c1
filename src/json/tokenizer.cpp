// The JSON tokenizer: a zero-terminated text into a caller's flat token array, with no
// allocation and no copying.
//
// A vector kernel, the widest this processor has, reads texts of the common kind; the
// scalar loop here reads the rest, from where a kernel hands a text over, and the whole
// text where there is no kernel. Both make the same tokens.
//
// Open objects and arrays serve as the stack of containers. Between calls an open token
// is one whose end is -1, and closing a bracket means finding the last such token before
// next_free, then the one before that. Searching backwards for them would pass over
// every earlier sibling on each close (quadratic for a wide array of objects), so while
// a call runs each open token's end links to the open token before it (encode_link).
// The links are made in one pass on entry and every end is set back to -1 before the
// call returns.
#include "json/tokenizer.hpp"

#include <array>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "json/kernels.hpp"
#include "json/scan.hpp"

namespace qmrt::json {
namespace {

// Bytes an unquoted value runs on over: printable ASCII that ends nothing. Quotation
// marks and opening brackets are ordinary in it.
constexpr std::array<bool, 256> make_primitive_body() {
    std::array<bool, 256> table{};
    for (int c = 32; c <= 126; ++c) table[static_cast<std::size_t>(c)] = true;
    for (unsigned char c : {' ', ',', ':', ']', '}'}) table[c] = false;
    return table;
}

inline constexpr std::array<bool, 256> primitive_body = make_primitive_body();

static_assert(primitive_body['"'] && primitive_body['['] && !primitive_body['\t'] &&
              !primitive_body[127] && !primitive_body['}']);

// Scanning a run 16 bytes at a time. The text's length is not known, so blocks are read
// at 16-byte aligned addresses: such a block never reaches into another page, and the
// bytes before the run's start are masked off. A block may still hold bytes past the
// terminating zero, which belong to no object of the caller's; the address sanitizer
// would count that as an overflow, so these two functions are exempt from it. What they
// find is the first byte that ends the run, which always lies at or before the zero.
#if defined(__SSE2__)
#define QMRT_WHOLE_BLOCK_READS __attribute__((no_sanitize_address))

inline const __m128i *aligned_block(const unsigned char *at) {
    return reinterpret_cast<const __m128i *>(reinterpret_cast<std::uintptr_t>(at) &
                                             ~std::uintptr_t{15});
}

inline unsigned first_bits_off(const unsigned char *at) {
    return ~0u << (reinterpret_cast<std::uintptr_t>(at) & 15);
}

inline std::uint32_t offset_of(const unsigned char *text, const __m128i *block, unsigned mask) {
    return static_cast<std::uint32_t>(reinterpret_cast<const unsigned char *>(block) - text) +
           static_cast<std::uint32_t>(__builtin_ctz(mask));
}

// Bit i set for a quotation mark, backslash or zero byte at byte i of the block.
inline unsigned string_stops(__m128i bytes) {
    const __m128i stops = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')),
                                                    _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\'))),
                                       _mm_cmpeq_epi8(bytes, _mm_setzero_si128()));
    return static_cast<unsigned>(_mm_movemask_epi8(stops));
}

// Bit i set for a byte that is not white space, a comma or a colon.
inline unsigned skip_ends(__m128i bytes) {
    const __m128i space = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')),
                                                    _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))),
                                       _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t')),
                                                    _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r'))));
    const __m128i separators = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(',')),
                                            _mm_cmpeq_epi8(bytes, _mm_set1_epi8(':')));
    return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(space, separators))) & 0xffff;
}

// The offset of the first quotation mark, backslash or zero byte from `from` on.
QMRT_WHOLE_BLOCK_READS inline std::uint32_t find_string_stop(const unsigned char *text,
                                                             std::uint32_t from) {
    const __m128i *block = aligned_block(text + from);
    unsigned mask = string_stops(_mm_load_si128(block)) & first_bits_off(text + from);
    while (mask == 0) mask = string_stops(_mm_load_si128(++block));
    return offset_of(text, block, mask);
}

// The offset of the first byte from `from` on that is not skipped between tokens.
QMRT_WHOLE_BLOCK_READS inline std::uint32_t find_skip_end(const unsigned char *text,
                                                          std::uint32_t from) {
    const __m128i *block = aligned_block(text + from);
    unsigned mask = skip_ends(_mm_load_si128(block)) & first_bits_off(text + from);
    while (mask == 0) mask = skip_ends(_mm_load_si128(++block));
    return offset_of(text, block, mask);
}
#else
// Bytes a string scan must stop at: its closing mark, an escape, the end of the text.
constexpr std::array<bool, 256> make_string_stop() {
    std::array<bool, 256> table{};
    table['"'] = table['\\'] = table['\0'] = true;
    return table;
}

inline constexpr std::array<bool, 256> string_stop = make_string_stop();

inline std::uint32_t find_string_stop(const unsigned char *text, std::uint32_t from) {
    while (!string_stop[text[from]]) ++from;
    return from;
}

inline std::uint32_t find_skip_end(const unsigned char *text, std::uint32_t from) {
    while (byte_kinds[text[from]] == ByteKind::skip) ++from;
    return from;
}
#endif

constexpr json_token free_token{JSON_PRIMITIVE, -1, -1, 0};

// The character loop, from the cursor on to the end of the text or the first failure,
// with pos left at the token that failed.
std::int32_t scan(Cursor &cursor, const unsigned char *const s, json_token *const tokens,
                  const std::size_t count, const std::uint32_t limit) {
    std::uint32_t p = cursor.pos;
    std::int32_t next_free = cursor.next_free;
    std::int32_t parent = cursor.parent;
    std::int32_t top = cursor.top;
    std::int32_t status = 0;

    auto take = [&]() -> json_token * {
        if (static_cast<std::size_t>(next_free) >= count) return nullptr;
        return &tokens[next_free++];
    };
    auto count_child = [&]() {
        if (parent != -1) ++tokens[parent].size;
    };
    // A string or primitive from `start` to `end`; false when no token is left.
    auto add_leaf = [&](std::int32_t type, std::uint32_t start, std::uint32_t end) {
        json_token *token = take();
        if (token == nullptr) return false;
        *token = {type, static_cast<std::int32_t>(start), static_cast<std::int32_t>(end), 0};
        count_child();
        return true;
    };

    for (;;) {
        unsigned char c = s[p];
        if (c != '\0' && p >= limit) {
            status = JSON_ERR_INVALID;
            break;
        }
        // Tested in the order of how often each kind stands in a typical text;
        // separate tests predict better than one jump through a table.
        const ByteKind kind = byte_kinds[c];
        if (kind == ByteKind::quote) {
            std::uint32_t e = p + 1;
            for (;;) {
                e = find_string_stop(s, e);
                if (e > limit) break;  // an ordinary character lies at the bound
                c = s[e];
                if (c == '\0' || e == limit || c == '"') break;
                // A backslash: its letter must be an escape and inside the bound.
                if (!escape_letter(s[e + 1]) || e + 1 >= limit) {
                    e = limit + 1;
                    break;
                }
                e += 2;
            }
            if (e <= limit && s[e] == '\0') {
                status = JSON_ERR_INCOMPLETE;
                break;
            }
            if (e >= limit) {
                status = JSON_ERR_INVALID;
                break;
            }
            if (!add_leaf(JSON_STRING, p + 1, e)) {
                status = JSON_ERR_NO_TOKENS;
                break;
            }
            p = e + 1;
            continue;
        }
        if (kind == ByteKind::skip) {
            // Runs of separators; one of them at or past the bound fails there.
            // Most runs are one or two bytes, such as ", " or ": ".
            std::uint32_t q = p + 1;
            if (byte_kinds[s[q]] == ByteKind::skip) q = find_skip_end(s, q + 1);
            if (q > limit) {
                p = limit;
                status = JSON_ERR_INVALID;
                break;
            }
            p = q;
            continue;
        }
        if (kind == ByteKind::primitive || kind == ByteKind::invalid) {
            std::uint32_t e = p;
            while (primitive_body[s[e]]) ++e;
            if (e > limit || !ends_primitive(byte_kinds[s[e]])) {
                status = JSON_ERR_INVALID;
                break;
            }
            if (!add_leaf(JSON_PRIMITIVE, p, e)) {
                status = JSON_ERR_NO_TOKENS;
                break;
            }
            p = e;  // the terminator is dispatched next: it may close a container
            continue;
        }
        if (kind == ByteKind::open) {
            json_token *token = take();
            if (token == nullptr) {
                status = JSON_ERR_NO_TOKENS;
                break;
            }
            count_child();
            *token = {c == '{' ? JSON_OBJECT : JSON_ARRAY, static_cast<std::int32_t>(p),
                      encode_link(top), 0};
            top = parent = next_free - 1;
            ++p;
            continue;
        }
        if (kind == ByteKind::close) {
            const std::int32_t type = c == '}' ? JSON_OBJECT : JSON_ARRAY;
            if (top == -1 || tokens[top].type != type) {
                status = JSON_ERR_INVALID;
                break;
            }
            json_token &container = tokens[top];
            top = parent = decode_link(container.end);
            container.end = static_cast<std::int32_t>(p + 1);
            ++p;
            continue;
        }
        // The zero byte: the end of the text.
        status = top == -1 ? 0 : JSON_ERR_INCOMPLETE;
        break;
    }
    cursor = {p, next_free, parent, top};
    return status;
}

// Chains the open tokens already made, each to the open one before it, and gives the
// last: the container the next closing bracket closes.
std::int32_t link_open_tokens(std::span<json_token> made) {
    std::int32_t top = -1;
    for (std::size_t i = 0; i < made.size(); ++i) {
        json_token &token = made[i];
        if (token.start != -1 && token.end == -1) {
            token.end = encode_link(top);
            top = static_cast<std::int32_t>(i);
        }
    }
    return top;
}

// Between calls open tokens have end -1 again.
void unlink_open_tokens(json_token *tokens, std::int32_t top) {
    while (top != -1) {
        json_token &token = tokens[top];
        top = decode_link(token.end);
        token.end = -1;
    }
}

}  // namespace

namespace {

// From the cursor to the end of the text or the first failure: the kernel while it
// reads the text, the scalar loop from where it hands the text over.
std::int32_t scan_from(Cursor &cursor, const char *text, std::span<json_token> tokens,
                       std::uint32_t max_length) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(text);
    std::int32_t status = hand_over;
    if (const KernelScan kernel = current_scan())
        status = kernel(cursor, bytes, tokens.data(), tokens.size(), max_length);
    if (status == hand_over) status = scan(cursor, bytes, tokens.data(), tokens.size(), max_length);
    return status;
}

// Every token the parse did not take is free afterwards. Freeing them last rather than
// first leaves the same array and writes each token once.
void free_untaken(std::span<json_token> tokens, std::int32_t next_free) {
    for (json_token &token : tokens.subspan(static_cast<std::size_t>(next_free)))
        token = free_token;
}

}  // namespace

std::int32_t parse(jsmn_state &state, const char *text, std::span<json_token> tokens,
                   std::uint32_t max_length) {
    // Only a state left by an earlier parse on this array can be resumed. One that
    // claims more tokens than the array holds, or a parent that was never made, would
    // lead the parse outside the array: refuse it and touch nothing.
    if (state.next_free < 0 || static_cast<std::size_t>(state.next_free) > tokens.size() ||
        state.parent < -1 || state.parent >= state.next_free)
        return JSON_ERR_INVALID;
    const std::size_t made = static_cast<std::size_t>(state.next_free);
    Cursor cursor{state.pos, state.next_free, state.parent, link_open_tokens(tokens.first(made))};
    const std::int32_t status = scan_from(cursor, text, tokens, max_length);
    unlink_open_tokens(tokens.data(), cursor.top);
    free_untaken(tokens, cursor.next_free);
    state = {cursor.pos, cursor.next_free, cursor.parent};
    return status;
}

std::int32_t GrowingParse::resume(const char *text, std::span<json_token> tokens) {
    const std::int32_t status = scan_from(cursor_, text, tokens, max_text_length);
    if (status == JSON_ERR_NO_TOKENS) return status;  // the array is full: nothing to free
    unlink_open_tokens(tokens.data(), cursor_.top);
    cursor_.top = -1;
    free_untaken(tokens, cursor_.next_free);
    return status;
}

}  // namespace qmrt::json
