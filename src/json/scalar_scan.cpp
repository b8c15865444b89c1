// The tokenizer's scalar loop: reads the text a byte at a time, never past its zero, in
// plain C++ on every architecture. It reads whole texts where no vector kernel runs, and
// a stretch of a text from where a kernel hands it over.
#include <array>
#include <cstdint>

#include "json/scan.hpp"

namespace qmrt::json::scalar {
namespace {

// Bytes an unquoted value runs on over: those that neither end it nor are refused.
// Quotation marks and opening brackets are ordinary in it.
constexpr std::array<bool, 256> make_primitive_body() {
    std::array<bool, 256> table{};
    for (std::size_t c = 0; c < 256; ++c)
        table[c] = !ends_primitive(byte_kinds[c]) && byte_kinds[c] != ByteKind::invalid;
    return table;
}

// Bytes a string scan stops at: its closing mark, an escape, the end of the text.
constexpr std::array<bool, 256> make_string_stops() {
    std::array<bool, 256> table{};
    for (std::size_t c = 0; c < 256; ++c)
        table[c] =
            byte_kinds[c] == ByteKind::quote || byte_kinds[c] == ByteKind::end || c == escape;
    return table;
}

inline constexpr std::array<bool, 256> primitive_body = make_primitive_body();
inline constexpr std::array<bool, 256> string_stops = make_string_stops();

static_assert(primitive_body['"'] && primitive_body['['] && !primitive_body['\t'] &&
              !primitive_body[127] && !primitive_body['}'] && string_stops['\\']);

// The first string stop from `from` on, four bytes a round: each byte is read only
// once the bytes before it were found to be no stop, so no read passes the zero.
inline std::uint32_t find_string_stop(const unsigned char *text, std::uint32_t from) {
    for (;; from += 4) {
        if (string_stops[text[from]]) return from;
        if (string_stops[text[from + 1]]) return from + 1;
        if (string_stops[text[from + 2]]) return from + 2;
        if (string_stops[text[from + 3]]) return from + 3;
    }
}

inline std::uint32_t find_skip_end(const unsigned char *text, std::uint32_t from) {
    while (byte_kinds[text[from]] == ByteKind::skip) ++from;
    return from;
}

inline std::uint32_t find_primitive_end(const unsigned char *text, std::uint32_t from) {
    while (primitive_body[text[from]]) ++from;
    return from;
}

// Where a string opened at `quote` ends, or its failure.
struct StringEnd {
    std::uint32_t at;  // the closing mark
    std::int32_t status;
};

// The string runs to its closing mark; a zero before it leaves it incomplete, a wrong
// escape makes it invalid, and so does any of its bytes at or past the offset bound.
inline StringEnd string_end(const unsigned char *text, std::uint32_t quote, std::uint32_t limit) {
    std::uint32_t at = quote + 1;
    for (;;) {
        at = find_string_stop(text, at);
        if (at >= limit) break;  // an ordinary character, or the stop itself, at the bound
        if (text[at] != escape) return {at, text[at] == '\0' ? JSON_ERR_INCOMPLETE : 0};
        // A backslash: its letter must be an escape and inside the bound.
        if (!escape_letter(text[at + 1]) || at + 1 >= limit) return {at, JSON_ERR_INVALID};
        at += 2;
    }
    // A zero exactly at the bound still ends the text.
    if (at == limit && text[at] == '\0') return {at, JSON_ERR_INCOMPLETE};
    return {at, JSON_ERR_INVALID};
}

}  // namespace

std::int32_t scan(Cursor &cursor, const unsigned char *text, json_token *tokens, std::size_t count,
                  std::uint32_t limit, std::uint32_t pause) {
    // Tokens outside every container are counted here.
    json_token outside{};
    TokenBuilder out(cursor, tokens, count, outside);
    std::uint32_t pos = cursor.pos;
    const auto stop = [&](std::int32_t status) {
        cursor = out.stop_at(pos);
        return status;
    };
    for (;;) {
        const unsigned char c = text[pos];
        if (pos >= pause) [[unlikely]] {
            if (pos < limit) return stop(hand_over);
            if (c != '\0') return stop(JSON_ERR_INVALID);
        }
        // Tested in the order of how often each kind stands in a typical text;
        // separate tests predict better than one jump through a table.
        const ByteKind kind = byte_kinds[c];
        if (kind == ByteKind::quote) {
            const StringEnd end = string_end(text, pos, limit);
            if (end.status != 0) return stop(end.status);
            if (out.full()) return stop(JSON_ERR_NO_TOKENS);
            out.add_leaf(JSON_STRING, pos + 1, end.at);
            pos = end.at + 1;
        } else if (kind == ByteKind::skip) {
            // Most runs are one or two bytes, such as ", " or ": ". One that reaches the
            // bound fails there.
            std::uint32_t after = pos + 1;
            if (byte_kinds[text[after]] == ByteKind::skip) after = find_skip_end(text, after + 1);
            if (after > limit) {
                pos = limit;
                return stop(JSON_ERR_INVALID);
            }
            pos = after;
        } else if (kind == ByteKind::primitive || kind == ByteKind::invalid) {
            const std::uint32_t end = find_primitive_end(text, pos);
            if (end > limit || !ends_primitive(byte_kinds[text[end]]))
                return stop(JSON_ERR_INVALID);
            if (out.full()) return stop(JSON_ERR_NO_TOKENS);
            out.add_leaf(JSON_PRIMITIVE, pos, end);
            pos = end;  // the terminator is dispatched next: it may close a container
        } else if (kind == ByteKind::open) {
            if (out.full()) return stop(JSON_ERR_NO_TOKENS);
            out.open(container_type(c), pos);
            ++pos;
        } else if (kind == ByteKind::close) {
            if (!out.close(container_type(c), pos)) return stop(JSON_ERR_INVALID);
            ++pos;
        } else {
            // The zero byte: the end of the text.
            return stop(out.top() == -1 ? 0 : JSON_ERR_INCOMPLETE);
        }
    }
}

}  // namespace qmrt::json::scalar
