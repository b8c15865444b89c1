// The tokenizer on any text: the parse grown from one token by 2n + 1 equals one call
// with room to spare and the reference tokenizer's parse, tokens at and beyond the count
// stay untouched, and every token made lies inside the text. The reference comparison
// runs every kernel this processor has, the text at an offset from a 64-byte boundary
// that the input chooses.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "json/kernels.hpp"
#include "json/tokenizer.hpp"
#include "qmrt/json.h"
#include "reference_tokenizer.hpp"

namespace {

constexpr json_token leftover{7, 77, 777, 7777};

bool same(const json_token &a, const json_token &b) {
    return a.type == b.type && a.start == b.start && a.end == b.end && a.size == b.size;
}

bool same(const jsmn_state &a, const jsmn_state &b) {
    return a.pos == b.pos && a.next_free == b.next_free && a.parent == b.parent;
}

void check(bool holds) {
    if (!holds) std::abort();
}

struct Parse {
    std::int32_t status;
    jsmn_state state;
    std::vector<json_token> tokens;
};

Parse grow_from(const char *text, std::uint32_t count, std::uint32_t margin) {
    Parse out{0, {0, 0, -1}, std::vector<json_token>(count + margin, leftover)};
    while ((out.status = jsmn_parse(&out.state, text, out.tokens.data(), count)) ==
           JSON_ERR_NO_TOKENS) {
        for (std::uint32_t i = count; i < out.tokens.size(); ++i)
            check(same(out.tokens[i], leftover));
        count = 2 * count + 1;
        out.tokens.resize(count + margin, leftover);
    }
    for (std::uint32_t i = count; i < out.tokens.size(); ++i) check(same(out.tokens[i], leftover));
    out.tokens.resize(count);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);  // ends at any zero byte
    const char *const s = text.c_str();
    const auto length = static_cast<std::int32_t>(std::strlen(s));
    const auto room = static_cast<std::uint32_t>(length) + 1;

    // One call with room to spare, bordered by tokens it must not write.
    Parse one{0, {0, 0, -1}, std::vector<json_token>(room + 4, leftover)};
    one.status = jsmn_parse(&one.state, s, one.tokens.data(), room);
    check(one.status != JSON_ERR_NO_TOKENS);
    for (std::uint32_t i = room; i < one.tokens.size(); ++i) check(same(one.tokens[i], leftover));
    one.tokens.resize(room);

    // Each token made lies inside the text, in text order; the rest are free.
    std::int32_t previous = -1;
    for (std::int32_t i = 0; i < one.state.next_free; ++i) {
        const json_token &t = one.tokens[static_cast<std::size_t>(i)];
        check(t.start > previous && t.start < length);
        previous = t.start;
        if (t.end == -1) {
            check(one.status != 0 && (t.type == JSON_OBJECT || t.type == JSON_ARRAY));
            continue;
        }
        check(t.end >= t.start && t.end <= length);
        switch (t.type) {
            case JSON_STRING:
                check(s[t.start - 1] == '"' && s[t.end] == '"' && t.size == 0);
                break;
            case JSON_PRIMITIVE:
                check(t.end > t.start && t.size == 0);
                break;
            case JSON_OBJECT:
                check(s[t.start] == '{' && s[t.end - 1] == '}');
                break;
            case JSON_ARRAY:
                check(s[t.start] == '[' && s[t.end - 1] == ']');
                break;
            default:
                check(false);
        }
    }
    for (std::uint32_t i = static_cast<std::uint32_t>(one.state.next_free); i < room; ++i)
        check(one.tokens[i].start == -1 && one.tokens[i].end == -1);
    if (one.status == 0) check(one.state.pos == static_cast<std::uint32_t>(length));

    // Growing from one token ends exactly as the single call.
    const Parse grown = grow_from(s, 1, 3);
    check(grown.status == one.status && same(grown.state, one.state));
    for (std::int32_t i = 0; i < one.state.next_free; ++i)
        check(same(grown.tokens[static_cast<std::size_t>(i)],
                   one.tokens[static_cast<std::size_t>(i)]));

    // And the reference tokenizer agrees, with a count cut short by the input too.
    const std::size_t offset = size < 2 ? 0 : data[1] % 64;
    std::vector<char> placed_storage(text.size() + 1 + 128);
    char *const placed = placed_storage.data() +
                         (64 - reinterpret_cast<std::uintptr_t>(placed_storage.data()) % 64) % 64 +
                         offset;
    std::memcpy(placed, s, text.size() + 1);
    for (std::uint32_t count : {room, size == 0 ? 0u : data[0] % room}) {
        std::vector<json_token> want(count + 2, leftover);
        jsmn_state want_state{0, 0, -1};
        const std::int32_t want_status =
            qmrt::test::reference::parse(want_state, s, {want.data(), count});
        for (const qmrt::json::Kernel kernel : qmrt::json::available_kernels()) {
            qmrt::json::set_kernel(kernel);
            std::vector<json_token> got(count + 2, leftover);
            jsmn_state got_state{0, 0, -1};
            const std::int32_t got_status =
                qmrt::json::parse(got_state, placed, {got.data(), count});
            check(want_status == got_status && same(want_state, got_state));
            for (std::size_t i = 0; i < want.size(); ++i) check(same(want[i], got[i]));
            if (count != room) continue;
            // json_tokenise, resuming on its growing array, ends as the single call.
            std::int32_t status = 0;
            json_token *array = json_tokenise(placed, &status);
            check(status == (want_status == 0 ? 0 : -1));
            for (std::int32_t i = 0; i < want_state.next_free; ++i)
                check(same(array[i], want[static_cast<std::size_t>(i)]));
            check(array[want_state.next_free].start == -1 && array[want_state.next_free].end == -1);
            std::free(array);
        }
        qmrt::json::set_kernel(qmrt::json::best_kernel());
    }
    return 0;
}
