// The JSON tokenizer: one pass over a zero-terminated text into a caller's flat token
// array, with no allocation and no copying.
//
// Open objects and arrays serve as the stack of containers. Between calls an open token
// is one whose end is -1, and closing a bracket means finding the last such token before
// next_free, then the one before that. Searching backwards for them would pass over
// every earlier sibling on each close (quadratic for a wide array of objects), so while
// a call runs each open token's end holds the index of the open token before it,
// encoded as -2 - index (-1 still means there is none). The links are made in one pass
// on entry and every end is set back to -1 before the call returns.
#include "json/tokenizer.hpp"

#include <array>
#include <cstdint>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/export.hpp"

namespace qmrt::json {
namespace {

// What a byte means where a token may start.
enum class CharClass : std::uint8_t {
    end,        // the zero byte: end of text
    skip,       // white space, commas and colons between tokens
    quote,      // starts a string
    open,       // left brace or bracket
    close,      // right brace or bracket
    primitive,  // anything else starts an unquoted value
};

constexpr std::array<CharClass, 256> make_dispatch() {
    std::array<CharClass, 256> table{};
    for (auto &entry : table) entry = CharClass::primitive;
    table['\0'] = CharClass::end;
    for (unsigned char c : {'\t', '\n', '\r', ' ', ',', ':'}) table[c] = CharClass::skip;
    table['"'] = CharClass::quote;
    table['{'] = table['['] = CharClass::open;
    table['}'] = table[']'] = CharClass::close;
    return table;
}

inline constexpr std::array<CharClass, 256> dispatch = make_dispatch();

// Bytes an unquoted value runs on over: printable ASCII that ends nothing. It stops at
// white space, a separator, a closing bracket or the zero byte, and is refused at any
// other byte outside 32 to 126; quotation marks and opening brackets are ordinary in it.
constexpr std::array<bool, 256> make_primitive_body() {
    std::array<bool, 256> table{};
    for (int c = 32; c <= 126; ++c) table[static_cast<std::size_t>(c)] = true;
    for (unsigned char c : {' ', ',', ':', ']', '}'}) table[c] = false;
    return table;
}

inline constexpr std::array<bool, 256> primitive_body = make_primitive_body();

constexpr bool ends_primitive(unsigned char c) {
    CharClass kind = dispatch[c];
    return kind == CharClass::end || kind == CharClass::skip || kind == CharClass::close;
}

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
    while (dispatch[text[from]] == CharClass::skip) ++from;
    return from;
}
#endif

// Characters accepted after a backslash in a string. After u the four hexadecimal
// digits are not checked; they stay ordinary string characters.
constexpr bool escape_letter(unsigned char c) {
    constexpr std::string_view letters = "\"/\\bfnrtu";
    return letters.find(static_cast<char>(c)) != std::string_view::npos;
}

static_assert(dispatch[11] == CharClass::primitive && dispatch[12] == CharClass::primitive,
              "vertical tab and form feed are not white space here");
static_assert(ends_primitive(']') && !ends_primitive('"') && !ends_primitive('['));
static_assert(primitive_body['"'] && primitive_body['['] && !primitive_body['\t'] &&
              !primitive_body[127] && !primitive_body['}']);
static_assert(escape_letter('u') && !escape_letter('x') && !escape_letter('\0'));

constexpr json_token free_token{JSON_PRIMITIVE, -1, -1, 0};

// The link to the enclosing open token, kept in an open token's end while a call runs.
constexpr std::int32_t encode_link(std::int32_t index) {
    return -2 - index;
}
constexpr std::int32_t decode_link(std::int32_t end) {
    return -2 - end;
}
static_assert(encode_link(-1) == -1, "an outermost open token keeps end -1");
static_assert(decode_link(encode_link(41)) == 41 && encode_link(0) == -2);

class Parser {
public:
    Parser(jsmn_state &state, const char *text, std::span<json_token> tokens,
           std::uint32_t max_length)
        : state_(state),
          text_(reinterpret_cast<const unsigned char *>(text)),
          tokens_(tokens.data()),
          count_(tokens.size()),
          max_length_(max_length) {}

    std::int32_t run() {
        // Make every token the parse may still take free. Tokens already made stay.
        for (std::size_t i = static_cast<std::size_t>(state_.next_free); i < count_; ++i)
            tokens_[i] = free_token;
        std::int32_t top = link_open_tokens();
        std::int32_t status = scan(top);
        unlink_open_tokens(top);
        return status;
    }

private:
    // Chains the open tokens already made, each to the open one before it, and gives
    // the last: the container the next closing bracket closes.
    std::int32_t link_open_tokens() {
        std::int32_t top = -1;
        for (std::int32_t i = 0; i < state_.next_free; ++i) {
            json_token &token = tokens_[i];
            if (token.start != -1 && token.end == -1) {
                token.end = encode_link(top);
                top = i;
            }
        }
        return top;
    }

    // Between calls open tokens have end -1 again.
    void unlink_open_tokens(std::int32_t top) {
        while (top != -1) {
            json_token &token = tokens_[top];
            top = decode_link(token.end);
            token.end = -1;
        }
    }

    // The character loop. pos, next_free and parent live in locals and reach the state
    // on every return; pos is left at the token that failed.
    std::int32_t scan(std::int32_t &top) {
        std::uint32_t p = state_.pos;
        std::int32_t next_free = state_.next_free;
        std::int32_t parent = state_.parent;
        std::int32_t status = 0;
        const unsigned char *const s = text_;
        const std::uint32_t limit = max_length_;

        auto take = [&]() -> json_token * {
            if (static_cast<std::size_t>(next_free) >= count_) return nullptr;
            return &tokens_[next_free++];
        };
        auto count_child = [&]() {
            if (parent != -1) ++tokens_[parent].size;
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
            const CharClass kind = dispatch[c];
            if (kind == CharClass::quote) {
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
            if (kind == CharClass::skip) {
                // Runs of separators; one of them at or past the bound fails there.
                // Most runs are one or two bytes, such as ", " or ": ".
                std::uint32_t q = p + 1;
                if (dispatch[s[q]] == CharClass::skip) q = find_skip_end(s, q + 1);
                if (q > limit) {
                    p = limit;
                    status = JSON_ERR_INVALID;
                    break;
                }
                p = q;
                continue;
            }
            if (kind == CharClass::primitive) {
                std::uint32_t e = p;
                while (primitive_body[s[e]]) ++e;
                if (e > limit || !ends_primitive(s[e])) {
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
            if (kind == CharClass::open) {
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
            if (kind == CharClass::close) {
                const std::int32_t type = c == '}' ? JSON_OBJECT : JSON_ARRAY;
                if (top == -1 || tokens_[top].type != type) {
                    status = JSON_ERR_INVALID;
                    break;
                }
                json_token &container = tokens_[top];
                top = parent = decode_link(container.end);
                container.end = static_cast<std::int32_t>(p + 1);
                ++p;
                continue;
            }
            // The zero byte: the end of the text.
            status = top == -1 ? 0 : JSON_ERR_INCOMPLETE;
            break;
        }
        state_ = {p, next_free, parent};
        return status;
    }

    jsmn_state &state_;
    const unsigned char *text_;
    json_token *tokens_;
    std::size_t count_;
    std::uint32_t max_length_;
};

}  // namespace

std::int32_t parse(jsmn_state &state, const char *text, std::span<json_token> tokens,
                   std::uint32_t max_length) {
    // Only a state left by an earlier parse on this array can be resumed. One that
    // claims more tokens than the array holds, or a parent that was never made, would
    // lead the parse outside the array: refuse it and touch nothing.
    if (state.next_free < 0 || static_cast<std::size_t>(state.next_free) > tokens.size() ||
        state.parent < -1 || state.parent >= state.next_free)
        return JSON_ERR_INVALID;
    return Parser(state, text, tokens, max_length).run();
}

}  // namespace qmrt::json

QMRT_EXPORT void jsmn_init(jsmn_state *state) {
    *state = {0, 0, -1};
}

QMRT_EXPORT int32_t jsmn_parse(jsmn_state *state, const char *text, json_token *tokens,
                               uint32_t count) {
    return qmrt::json::parse(*state, text, std::span<json_token>(tokens, count));
}
