// The growing token array, reply validation and value lookup by key.
#include "json/tokens.hpp"

#include <cstring>
#include <span>
#include <string_view>

#include "diag/diag.hpp"
#include "json/tokenizer.hpp"
#include "qmrt/diag.h"

namespace qmrt::json {
namespace {

// Lookups stop only at a free token, so the array always carries one free token past
// the count the tokenizer was given: a missing key then ends the scan inside it.
constexpr std::uint32_t spare_tokens = 1;

// The largest value the lookup copies without a warning, and the longest token text
// it passes over without one.
constexpr std::int32_t value_warning_length = 500;
constexpr std::int32_t token_warning_length = 40000;

// Bytes for an array the tokenizer may fill up to `count`, with the spare token.
std::size_t array_bytes(std::uint32_t count) {
    return (static_cast<std::size_t>(count) + spare_tokens) * sizeof(json_token);
}

// A token with both offsets set. An object or array left open by an invalid or
// incomplete text has no end yet, and no length may be formed from it.
bool complete(const json_token &token) {
    return token.start >= 0 && token.end >= token.start;
}

std::string_view token_text(const char *text, const json_token &token) {
    return {text + token.start, static_cast<std::size_t>(token.end - token.start)};
}

}  // namespace

json_token *tokenise(const char *text, std::int32_t &status, const Allocator &allocator) {
    GrowingParse parse;
    std::uint32_t count = initial_token_count;
    auto *tokens = static_cast<json_token *>(allocator.allocate(array_bytes(count)));
    if (tokens == nullptr) return nullptr;

    std::int32_t result = parse.resume(text, {tokens, count});
    while (result == JSON_ERR_NO_TOKENS) {
        // Grow to 2n + 1 and resume where the parse stopped: the tokens made stay put.
        // A text within the offset bound never needs a count that wraps.
        void *grown = nullptr;
        if (count <= (UINT32_MAX - spare_tokens - 1) / 2) {
            count = 2 * count + 1;
            grown = allocator.reallocate(tokens, array_bytes(count));
        }
        if (grown == nullptr) {
            std::free(tokens);
            return nullptr;
        }
        tokens = static_cast<json_token *>(grown);
        result = parse.resume(text, {tokens, count});
    }
    status = result == 0 ? 0 : -1;
    tokens[count] = {JSON_PRIMITIVE, -1, -1, 0};
    return tokens;
}

namespace {

void warn(const char *format, std::int32_t length) {
    diag::format_message(qm_errstr, format, length);
    diag::print_message(qm_errstr);
}

}  // namespace

std::int32_t get_value(const json_token *tokens, std::string_view key, char *value,
                       const char *text) {
    bool found = false;
    for (const json_token *token = tokens; token->start >= 0; ++token) {
        if (!complete(*token)) {
            if (found) return -1;  // the key's value was left open: nothing to copy
            continue;
        }
        const std::int32_t length = token->end - token->start;
        if (length > token_warning_length)
            warn("QM_getJsonValue panjang string = %d > 40000", length);
        if (found) {
            if (length > value_warning_length)
                warn("QM_getJsonValue len string = %d > 500", length);
            std::memcpy(value, text + token->start, static_cast<std::size_t>(length));
            value[length] = '\0';
            return 0;
        }
        // Only strings match, byte for byte with escapes as written, at any depth.
        found = token->type == JSON_STRING && token_text(text, *token) == key;
    }
    return -1;
}

void check_reply(const json_token *tokens) {
    const json_token *t = tokens;
    diag::require(t->start != -1 && t->end != -1, "json_getreply",
                  "t->start != -1 && t->end != -1");
    if (t->type != JSON_OBJECT) diag::fatal("Invalid response: root element must be an object.");
    if (t->size % 2 != 0)
        diag::fatal("Invalid response: object must have even number of children.");
}

bool token_equals(const char *text, const json_token &token, const char *s) {
    return complete(token) && token_text(text, token) == std::string_view(s);
}

char *cut_token(char *text, const json_token &token) {
    if (!complete(token)) return nullptr;
    text[token.end] = '\0';
    return text + token.start;
}

}  // namespace qmrt::json
