// The token array and the lookup on any text and key. The first byte gives the key's
// length, the key follows, the rest is the text. json_tokenise must end in a free token,
// the lookup must find what the first matching string token is followed by, and the
// value buffer holds just the text's length and a terminator, so any longer copy shows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "qmrt/json.h"

namespace {

void check(bool holds) {
    if (!holds) std::abort();
}

bool complete(const json_token &t) {
    return t.start >= 0 && t.end >= t.start;
}

struct Free {
    void operator()(void *p) const { std::free(p); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t key_length = std::min<std::size_t>(data[0] % 16, size - 1);
    const std::string key(reinterpret_cast<const char *>(data + 1), key_length);
    const std::string input(reinterpret_cast<const char *>(data + 1 + key_length),
                            size - 1 - key_length);
    const char *const text = input.c_str();
    const std::size_t length = std::strlen(text);

    std::int32_t status = 7;
    std::unique_ptr<json_token[], Free> tokens(json_tokenise(text, &status));
    check(status == 0 || status == -1);

    // The made tokens, then a free one that ends every scan.
    std::size_t made = 0;
    while (tokens[made].start != -1) ++made;
    check(tokens[made].end == -1);

    // What the lookup must give: the token after the first string equal to the key.
    const char *key_text = key.c_str();  // the lookup sees the key up to any zero byte
    const std::string_view wanted_key(key_text);
    std::int32_t expected = -1;
    std::string expected_value;
    for (std::size_t i = 0; i < made; ++i) {
        const json_token &t = tokens[i];
        if (!complete(t)) continue;
        const std::string_view token_text(text + t.start,
                                          static_cast<std::size_t>(t.end - t.start));
        check(json_token_streq(text, &t, key_text) == (token_text == wanted_key ? 1 : 0));
        if (t.type != JSON_STRING || token_text != wanted_key) continue;
        if (i + 1 < made && complete(tokens[i + 1])) {
            const json_token &v = tokens[i + 1];
            expected = 0;
            expected_value.assign(text + v.start, static_cast<std::size_t>(v.end - v.start));
        }
        break;
    }

    std::unique_ptr<char[], Free> value(static_cast<char *>(std::malloc(length + 1)));
    const std::int32_t found = QM_getJsonValue(tokens.get(), key_text, value.get(), text);
    check(found == expected);
    if (found == 0) check(expected_value == value.get() && expected_value.size() <= length);

    // The reply check returns only for a complete object root with an even child count;
    // anything else ends the process, which a fuzzer cannot survive, so only those call it.
    const json_token &root = tokens[0];
    if (root.start != -1 && root.end != -1 && root.type == JSON_OBJECT && root.size % 2 == 0)
        check(json_getreply(text, tokens.get()) == 0);

    // Cutting a complete token out gives exactly its text.
    if (made > 0 && complete(tokens[made - 1])) {
        std::string copy = input;
        const json_token &last = tokens[made - 1];
        const char *cut = json_token_tostr(copy.data(), &last);
        check(std::string_view(cut) ==
              std::string_view(text + last.start, static_cast<std::size_t>(last.end - last.start)));
    }
    return 0;
}
