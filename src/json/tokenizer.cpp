// The JSON tokenizer: one pass over a zero-terminated text into a caller's flat token
// array, with no allocation and no copying. Open objects and arrays (end -1) serve as
// the stack of containers, found again by searching backwards through the array.
#include "json/tokenizer.hpp"

#include <array>
#include <optional>
#include <string_view>

#include "common/export.hpp"

namespace qmrt::json {
namespace {

// What a byte means where a token may start. Every per-character decision of the
// tokenizer is taken from this one table.
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

// An unquoted value runs up to white space, a separator, a closing bracket or the end
// of the text; quotation marks and opening brackets inside it are ordinary characters.
constexpr bool ends_primitive(unsigned char c) {
    CharClass kind = dispatch[c];
    return kind == CharClass::end || kind == CharClass::skip || kind == CharClass::close;
}

// Characters allowed in an unquoted value: printable ASCII only.
constexpr bool printable(unsigned char c) {
    return c >= 32 && c <= 126;
}

// Characters accepted after a backslash in a string. After u the four hexadecimal
// digits are not checked; they stay ordinary string characters.
constexpr bool escape_letter(unsigned char c) {
    constexpr std::string_view letters = "\"/\\bfnrtu";
    return letters.find(static_cast<char>(c)) != std::string_view::npos;
}

static_assert(dispatch[11] == CharClass::primitive && dispatch[12] == CharClass::primitive,
              "vertical tab and form feed are not white space here");
static_assert(ends_primitive(']') && !ends_primitive('"') && !ends_primitive('['));
static_assert(escape_letter('u') && !escape_letter('x') && !escape_letter('\0'));

constexpr json_token free_token{JSON_PRIMITIVE, -1, -1, 0};

constexpr bool is_open(const json_token &token) {
    return token.start != -1 && token.end == -1;
}

class Parser {
public:
    Parser(jsmn_state &state, const char *text, std::span<json_token> tokens,
           std::uint32_t max_length)
        : state_(state), text_(text), tokens_(tokens), max_length_(max_length) {}

    std::int32_t run() {
        // Make every token the parse may still take free. Tokens already made stay.
        for (std::size_t i = made(); i < tokens_.size(); ++i) tokens_[i] = free_token;
        for (;;) {
            const std::uint32_t p = state_.pos;
            const unsigned char c = at(p);
            if (c != '\0' && p >= max_length_) return JSON_ERR_INVALID;
            std::int32_t status = 0;
            switch (dispatch[c]) {
                case CharClass::end:
                    return finish();
                case CharClass::skip:
                    state_.pos = p + 1;
                    break;
                case CharClass::quote:
                    status = string(p);
                    break;
                case CharClass::open:
                    status = open(p, c == '{' ? JSON_OBJECT : JSON_ARRAY);
                    break;
                case CharClass::close:
                    status = close(p, c == '}' ? JSON_OBJECT : JSON_ARRAY);
                    break;
                case CharClass::primitive:
                    status = primitive(p);
                    break;
            }
            if (status != 0) return status;  // pos is left at the failing token
        }
    }

private:
    unsigned char at(std::uint32_t offset) const {
        return static_cast<unsigned char>(text_[offset]);
    }
    std::size_t made() const { return static_cast<std::size_t>(state_.next_free); }

    // A non-zero byte at this offset means the text is longer than the offsets reach.
    bool beyond_bound(std::uint32_t offset) const { return offset >= max_length_; }

    // The next free token, or nothing when the array is full. The entry step freed
    // every token from next_free on, so the first free one is always at next_free.
    std::optional<std::int32_t> take() {
        if (made() >= tokens_.size()) return std::nullopt;
        return state_.next_free++;
    }

    // Every token made while a container is open counts as one of its children.
    void count_child() {
        if (state_.parent != -1) ++tokens_[static_cast<std::size_t>(state_.parent)].size;
    }

    // The innermost open container below index `before`, or -1.
    std::int32_t open_before(std::int32_t before) const {
        for (std::int32_t i = before - 1; i >= 0; --i)
            if (is_open(tokens_[static_cast<std::size_t>(i)])) return i;
        return -1;
    }

    std::int32_t open(std::uint32_t p, std::int32_t type) {
        auto index = take();
        if (!index) return JSON_ERR_NO_TOKENS;
        count_child();
        tokens_[static_cast<std::size_t>(*index)] = {type, static_cast<std::int32_t>(p), -1, 0};
        state_.parent = *index;
        state_.pos = p + 1;
        return 0;
    }

    std::int32_t close(std::uint32_t p, std::int32_t type) {
        const std::int32_t index = open_before(state_.next_free);
        if (index == -1) return JSON_ERR_INVALID;
        json_token &container = tokens_[static_cast<std::size_t>(index)];
        if (container.type != type) return JSON_ERR_INVALID;
        container.end = static_cast<std::int32_t>(p + 1);
        state_.parent = open_before(index);
        state_.pos = p + 1;
        return 0;
    }

    std::int32_t string(std::uint32_t q) {
        std::uint32_t e = q + 1;
        for (;; ++e) {
            unsigned char c = at(e);
            if (c == '\0') return JSON_ERR_INCOMPLETE;
            if (beyond_bound(e)) return JSON_ERR_INVALID;
            if (c == '"') break;
            if (c == '\\') {
                ++e;
                c = at(e);
                if (!escape_letter(c) || beyond_bound(e)) return JSON_ERR_INVALID;
            }
        }
        auto index = take();
        if (!index) return JSON_ERR_NO_TOKENS;
        tokens_[static_cast<std::size_t>(*index)] = {JSON_STRING, static_cast<std::int32_t>(q + 1),
                                                     static_cast<std::int32_t>(e), 0};
        count_child();
        state_.pos = e + 1;
        return 0;
    }

    std::int32_t primitive(std::uint32_t s) {
        std::uint32_t e = s;
        for (unsigned char c; !ends_primitive(c = at(e)); ++e)
            if (!printable(c) || beyond_bound(e)) return JSON_ERR_INVALID;
        auto index = take();
        if (!index) return JSON_ERR_NO_TOKENS;
        tokens_[static_cast<std::size_t>(*index)] = {JSON_PRIMITIVE, static_cast<std::int32_t>(s),
                                                     static_cast<std::int32_t>(e), 0};
        count_child();
        state_.pos = e;  // the terminator is dispatched next: it may close a container
        return 0;
    }

    std::int32_t finish() const {
        return open_before(state_.next_free) == -1 ? 0 : JSON_ERR_INCOMPLETE;
    }

    jsmn_state &state_;
    const char *text_;
    std::span<json_token> tokens_;
    std::uint32_t max_length_;
};

}  // namespace

std::int32_t parse(jsmn_state &state, const char *text, std::span<json_token> tokens,
                   std::uint32_t max_length) {
    // Only a state left by an earlier parse on this array can be resumed. One that
    // claims more tokens than the array holds, or a parent that was never made, would
    // lead the searches outside the array: refuse it and touch nothing.
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
