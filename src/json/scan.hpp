// What the tokenizer's scalar loop and its vector kernels share: where a parse stands,
// the classes of bytes, and the links that chain open containers while a call runs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "qmrt/json.h"

namespace qmrt::json {

// Where a parse stands between two tokens. pos is a dispatch point: the byte there is
// the next one the dispatch table acts on. top is the last open token made, whose end
// holds the index of the open token before it, or -1.
struct Cursor {
    std::uint32_t pos;
    std::int32_t next_free;
    std::int32_t parent;
    std::int32_t top;
};

// What a kernel returns when it meets a text it does not read exactly itself, or one
// the scalar loop reads faster: the scalar loop goes on from the cursor, which the
// kernel left at a dispatch point. The scalar loop returns it when it hands back.
inline constexpr std::int32_t hand_over = 1;

// A vector kernel: tokenizes from cursor.pos while the text is of the common kind and
// not dense with events, with the statuses of jsmn_parse, or hands over. It reads no
// byte at or past `limit` and no 64-byte block beyond the one holding the terminating
// zero.
using KernelScan = std::int32_t (*)(Cursor &cursor, const unsigned char *text, json_token *tokens,
                                    std::size_t count, std::uint32_t limit);

// The scalar loop: tokenizes from cursor.pos to the end of the text or the first
// failure, with the statuses of jsmn_parse; the cursor is left at the token that failed.
// It hands the text back, with hand_over, at the first dispatch point at or past `pause`
// before `limit`: a kernel goes on from there.
namespace scalar {
std::int32_t scan(Cursor &cursor, const unsigned char *text, json_token *tokens, std::size_t count,
                  std::uint32_t limit, std::uint32_t pause);
}

// While a call runs, each open token's end holds the index of the open token before
// it, or -1 when there is none. Nothing but the chain reads those ends until the parse
// sets them back to -1.

// The escape character inside strings; outside them an ordinary byte of a value.
inline constexpr unsigned char escape = '\\';

// The mark that opens and closes a string.
inline constexpr unsigned char quote_mark = '"';

// The brackets: what each is outside strings, and the token it opens or closes.
struct Bracket {
    unsigned char byte;
    bool opens;
    std::int32_t type;
};
inline constexpr Bracket brackets[] = {{'{', true, JSON_OBJECT},
                                       {'}', false, JSON_OBJECT},
                                       {'[', true, JSON_ARRAY},
                                       {']', false, JSON_ARRAY}};

constexpr std::array<std::uint8_t, 256> make_container_types() {
    std::array<std::uint8_t, 256> table{};
    for (const Bracket &bracket : brackets)
        table[bracket.byte] = static_cast<std::uint8_t>(bracket.type);
    return table;
}

inline constexpr std::array<std::uint8_t, 256> container_types = make_container_types();

// The token an opening bracket makes, and the kind a closing one closes.
constexpr std::int32_t container_type(unsigned char bracket) {
    return container_types[bracket];
}

// What a byte is outside strings.
enum class ByteKind : std::uint8_t {
    end,        // the zero byte: end of text
    skip,       // white space, commas and colons between tokens
    quote,      // starts a string
    open,       // left brace or bracket
    close,      // right brace or bracket
    primitive,  // printable: starts or continues an unquoted value
    invalid,    // any other byte: refused in an unquoted value, its first byte included
};

constexpr std::array<ByteKind, 256> make_byte_kinds() {
    std::array<ByteKind, 256> table{};
    for (auto &entry : table) entry = ByteKind::invalid;
    for (int c = 32; c <= 126; ++c) table[static_cast<std::size_t>(c)] = ByteKind::primitive;
    table['\0'] = ByteKind::end;
    for (unsigned char c : {'\t', '\n', '\r', ' ', ',', ':'}) table[c] = ByteKind::skip;
    table[quote_mark] = ByteKind::quote;
    for (const Bracket &bracket : brackets)
        table[bracket.byte] = bracket.opens ? ByteKind::open : ByteKind::close;
    return table;
}

inline constexpr std::array<ByteKind, 256> byte_kinds = make_byte_kinds();

// The bytes that end an unquoted value: it stops there and the byte is dispatched next.
constexpr bool ends_primitive(ByteKind kind) {
    return kind == ByteKind::end || kind == ByteKind::skip || kind == ByteKind::close;
}

// Characters accepted after a backslash in a string. After u the four hexadecimal
// digits are not checked; they stay ordinary string characters.
constexpr std::array<bool, 256> make_escape_letters() {
    std::array<bool, 256> table{};
    for (unsigned char c : std::string_view("\"/\\bfnrtu")) table[c] = true;
    return table;
}

inline constexpr std::array<bool, 256> escape_letters = make_escape_letters();

constexpr bool escape_letter(unsigned char c) {
    return escape_letters[c];
}

static_assert(byte_kinds[11] == ByteKind::invalid && byte_kinds[12] == ByteKind::invalid,
              "vertical tab and form feed are not white space here");
static_assert(byte_kinds['\\'] == ByteKind::primitive && byte_kinds[127] == ByteKind::invalid);
static_assert(ends_primitive(byte_kinds[']']) && !ends_primitive(byte_kinds['"']) &&
              !ends_primitive(byte_kinds['[']));
static_assert(escape_letter('u') && !escape_letter('x') && !escape_letter('\0'));

// The tokens a scan makes, and the container they are counted to. The size of that
// container is counted here rather than in its token, so that a run of siblings adds in
// a register instead of through memory; it is written back whenever the container
// changes and when the scan stops. Tokens outside every container are counted to a
// token of the scan's own, so that counting and writing back need no test. Callers
// check full() before they add.
class TokenBuilder {
public:
    TokenBuilder(const Cursor &cursor, json_token *tokens, std::size_t count, json_token &outside)
        : tokens_(tokens),
          outside_(&outside),
          next_(tokens + cursor.next_free),
          room_end_(tokens + count),
          top_(cursor.top),
          parent_(container(cursor.parent)),
          children_(parent_->size) {}

    bool full() const { return next_ == room_end_; }

    // A string or primitive from `start` to `end`.
    void add_leaf(std::int32_t type, std::uint32_t start, std::uint32_t end) {
        *next_++ = {type, static_cast<std::int32_t>(start), static_cast<std::int32_t>(end), 0};
        ++children_;
    }

    // An object or array opened at `at`: the container of what follows.
    void open(std::int32_t type, std::uint32_t at) {
        parent_->size = children_ + 1;
        *next_ = {type, static_cast<std::int32_t>(at), static_cast<std::int32_t>(top_), 0};
        top_ = next_ - tokens_;
        parent_ = next_++;
        children_ = 0;
    }

    // Closes the last open token with the bracket at `at`; false, changing nothing, when
    // there is none or it is of the other kind. A run of closes waits on each closed
    // token's link: as a plain index, held wide, it leads to the next token in a load and
    // a shift.
    bool close(std::int32_t type, std::uint32_t at) {
        if (top_ == -1 || tokens_[top_].type != type) return false;
        parent_->size = children_;
        json_token &closed = tokens_[top_];
        top_ = closed.end;
        closed.end = static_cast<std::int32_t>(at + 1);
        parent_ = container(top_);
        children_ = parent_->size;
        return true;
    }

    std::int32_t top() const { return static_cast<std::int32_t>(top_); }

    // Where the scan stops, with the container's size written back.
    Cursor stop_at(std::uint32_t pos) {
        parent_->size = children_;
        const std::int32_t parent =
            parent_ == outside_ ? -1 : static_cast<std::int32_t>(parent_ - tokens_);
        return {pos, static_cast<std::int32_t>(next_ - tokens_), parent, top()};
    }

private:
    json_token *container(std::ptrdiff_t index) const {
        return index == -1 ? outside_ : tokens_ + index;
    }

    json_token *tokens_;
    json_token *outside_;
    json_token *next_;
    json_token *room_end_;
    std::ptrdiff_t top_;  // the last open token made, or -1
    json_token *parent_;
    std::int32_t children_;
};

}  // namespace qmrt::json
