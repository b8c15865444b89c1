// The library's tokenizer against the straightforward one it replaced: on generated
// texts, with every count, with resumption and with arbitrary array contents, both must
// give the same status, state and array, every token of it. Each comparison runs every
// kernel this processor has, with the text placed at varying offsets from a 64-byte
// boundary so that tokens, escapes and the terminator fall at every place of a block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "files.hpp"
#include "json/kernels.hpp"
#include "json/tokenizer.hpp"
#include "json_test_support.hpp"
#include "qmrt/json.h"
#include "reference_tokenizer.hpp"
#include "setting.hpp"

namespace qmrt::test {
namespace {

constexpr json_token leftover{7, 77, 777, 7777};

using ParseFn = std::int32_t (*)(jsmn_state &, const char *, std::span<json_token>, std::uint32_t);

struct Outcome {
    std::vector<std::int32_t> statuses;
    jsmn_state state{};
    std::vector<json_token> tokens;  // the whole array, tokens past the count included

    bool operator==(const Outcome &other) const {
        return statuses == other.statuses && state.pos == other.state.pos &&
               state.next_free == other.state.next_free && state.parent == other.state.parent &&
               tokens == other.tokens;
    }
};

void PrintTo(const Outcome &run, std::ostream *out) {
    *out << "statuses";
    for (std::int32_t s : run.statuses) *out << ' ' << s;
    *out << ", pos " << run.state.pos << ", next_free " << run.state.next_free << ", parent "
         << run.state.parent << ", tokens";
    for (const json_token &t : run.tokens) {
        *out << ' ';
        PrintTo(t, out);
    }
}

// The library's parse with its text bound set to `bound` for the call.
std::int32_t library_parse(jsmn_state &state, const char *text, std::span<json_token> tokens,
                           std::uint32_t bound) {
    const Setting<std::uint32_t> bounded(qmrt::json::set_text_bound, bound);
    return qmrt::json::parse(state, text, tokens);
}

// Starts from `state` and `tokens`, calls with `count`, and on every -1 (and, when
// asked, on -2 and -3 too) enlarges the count by `grow` and calls again, up to `calls`
// times. The array is as long as the largest count plus a margin, so that writes at or
// beyond the count show.
Outcome drive(ParseFn parse, const char *text, jsmn_state state, std::vector<json_token> tokens,
              std::uint32_t count, std::uint32_t (*grow)(std::uint32_t), bool retry_failures,
              std::uint32_t max_length, int calls = 100) {
    Outcome run{{}, state, std::move(tokens)};
    for (int i = 0; i < calls; ++i) {
        const std::int32_t status =
            parse(run.state, text, std::span<json_token>(run.tokens.data(), count), max_length);
        run.statuses.push_back(status);
        if (status == 0 || (status != JSON_ERR_NO_TOKENS && !retry_failures)) break;
        if (status == JSON_ERR_NO_TOKENS) {
            if (count == run.tokens.size()) break;
            count =
                std::min<std::uint32_t>(grow(count), static_cast<std::uint32_t>(run.tokens.size()));
        }
    }
    return run;
}

std::uint32_t same(std::uint32_t n) {
    return n;
}
std::uint32_t one_more(std::uint32_t n) {
    return n + 1;
}
std::uint32_t twice_and_one(std::uint32_t n) {
    return 2 * n + 1;
}

// A copy of a text that starts `offset` bytes past a 64-byte boundary.
class Placed {
public:
    Placed(const std::string &text, std::size_t offset) : storage_(text.size() + 1 + 128) {
        const auto address = reinterpret_cast<std::uintptr_t>(storage_.data());
        text_ = storage_.data() + ((64 - address % 64) % 64) + offset % 64;
        text.copy(text_, text.size());
        text_[text.size()] = '\0';
    }
    const char *c_str() const { return text_; }

private:
    std::vector<char> storage_;
    char *text_;
};

// The library's parse with each kernel against `want`, the text placed anew for each.
template <typename Run>
void expect_every_kernel(const Outcome &want, const std::string &text, std::size_t offset,
                         Run run) {
    for (const qmrt::json::Kernel kernel : qmrt::json::available_kernels()) {
        const Placed placed(text, offset + static_cast<std::size_t>(kernel) * 17);
        const Outcome got = [&] {
            const Setting<qmrt::json::Kernel> forced(qmrt::json::set_kernel, kernel);
            return run(placed.c_str());
        }();
        ASSERT_EQ(got, want) << "text \"" << text << "\" kernel " << qmrt::json::kernel_name(kernel)
                             << " offset " << offset;
    }
}

// Texts over an alphabet rich in the bytes the tokenizer treats specially, so that
// brackets mismatch, strings break off and escapes go wrong in every way.
std::string random_text(std::mt19937 &rng, int longest = 40) {
    static const std::string alphabet =
        "{}[]{}[]\"\"\"\\\\,:  \t\n\r\v\f1a-.tu/xbfnr\x01\x7f\xc3\xff";
    std::uniform_int_distribution<int> length(0, longest);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string text(static_cast<std::size_t>(length(rng)), ' ');
    for (char &c : text) c = alphabet[pick(rng)];
    return text;
}

// Well-formed documents of random shape, then sometimes spoiled at one byte, so that
// deep and wide nesting with long runs of siblings is reached too.
void append_value(std::mt19937 &rng, std::string &out, int depth) {
    std::uniform_int_distribution<int> kind(0, depth > 4 ? 2 : 4);
    std::uniform_int_distribution<int> width(0, 6);
    switch (kind(rng)) {
        case 0:
            out += "12";
            break;
        case 1:
            out += "\"s\\\"t\"";
            break;
        case 2:
            out += "true";
            break;
        case 3: {
            out += '[';
            for (int i = 0, n = width(rng); i < n; ++i) {
                if (i) out += ',';
                append_value(rng, out, depth + 1);
            }
            out += ']';
            break;
        }
        default: {
            out += '{';
            for (int i = 0, n = width(rng); i < n; ++i) {
                out += i ? ",\"k\":" : "\"k\":";
                append_value(rng, out, depth + 1);
            }
            out += '}';
        }
    }
}

std::string random_document(std::mt19937 &rng) {
    std::string text;
    append_value(rng, text, 0);
    std::uniform_int_distribution<int> spoil(0, 2);
    if (!text.empty() && spoil(rng) != 0) {
        static const std::string spoilers = "{}[]\",\\ \x01";
        std::uniform_int_distribution<std::size_t> at(0, text.size() - 1);
        std::uniform_int_distribution<std::size_t> with(0, spoilers.size() - 1);
        text[at(rng)] = spoilers[with(rng)];
    }
    return text;
}

// Compares both tokenizers from a fresh state: every count up to one past the tokens
// the text makes, each grown by one, by 2n + 1 and not at all; and calls that go on
// after a failure.
void compare_fresh(const std::string &text, std::size_t offset, bool every_count = true) {
    const auto room = static_cast<std::uint32_t>(text.size()) + 1;
    const jsmn_state fresh{0, 0, -1};
    jsmn_state all = fresh;
    std::vector<json_token> scratch(room);
    reference::parse(all, text.c_str(), scratch);
    const auto made = static_cast<std::uint32_t>(all.next_free);
    std::vector<std::uint32_t> counts;
    for (std::uint32_t count = 0; count <= made + 1; ++count)
        if (every_count || count < 2 || count + 2 > made || count == made / 2)
            counts.push_back(count);
    for (const std::uint32_t count : counts) {
        for (auto grow : {same, one_more, twice_and_one}) {
            const int calls = grow == same ? 3 : 100;
            const std::vector<json_token> array(std::max(2 * count + 4, made + 4), leftover);
            const Outcome want = drive(reference::parse, text.c_str(), fresh, array, count, grow,
                                       grow == same, qmrt::json::max_text_length, calls);
            expect_every_kernel(want, text, offset + count, [&](const char *placed) {
                return drive(library_parse, placed, fresh, array, count, grow, grow == same,
                             qmrt::json::max_text_length, calls);
            });
        }
    }
}

TEST(TokenizerDifferential, RandomBytes) {
    std::mt19937 rng(20240229);
    for (int i = 0; i < 30000; ++i) compare_fresh(random_text(rng), static_cast<std::size_t>(i));
}

TEST(TokenizerDifferential, RandomDocumentsWholeAndSpoiled) {
    std::mt19937 rng(19700101);
    for (int i = 0; i < 3000; ++i) compare_fresh(random_document(rng), static_cast<std::size_t>(i));
}

// An array of strings made of escaped backslashes, escaped marks and letters, with a
// wrong escape now and then, so that runs of backslashes of every length end at every
// place of a block.
std::string escape_runs(std::mt19937 &rng) {
    static const char *const units[] = {"\\\\", "\\\\", "\\\"", "\\n", "n", "u"};
    std::uniform_int_distribution<std::size_t> pick(0, std::size(units) - 1);
    std::uniform_int_distribution<int> length(0, 60), wrong(0, 200);
    std::string text = "[";
    for (int s = 0; s < 4; ++s) {
        text += s ? ",\"" : "\"";
        for (int i = length(rng); i > 0; --i) text += wrong(rng) ? units[pick(rng)] : "\\x";
        text += '"';
    }
    return text + "]";
}

// Texts over several blocks, so that strings, values and runs of backslashes run on
// from one block into the next.
TEST(TokenizerDifferential, LongTextsAcrossBlocks) {
    std::mt19937 rng(1024);
    for (int i = 0; i < 3000; ++i) {
        std::string text;
        switch (i % 3) {
            case 0:
                text = random_text(rng, 300);
                break;
            case 1:
                text = std::string(static_cast<std::size_t>(i % 70), ' ') + random_document(rng);
                break;
            default:
                text = escape_runs(rng);
        }
        compare_fresh(text, static_cast<std::size_t>(i), false);
    }
}

// Documents of several KiB as dense in tokens as texts get, some spoiled at one byte, so
// that the vector pass fills its buffer of offsets before a chunk of text is read
// through and runs over many chunks before it meets the spoiled byte. Kernels hand such
// text to the scalar loop, which hands it back after a stretch: every fourth document
// runs on past that, into long strings and wide spaces a kernel reads again.
TEST(TokenizerDifferential, LongDenseDocuments) {
    std::mt19937 rng(4096);
    for (int i = 0; i < 40; ++i) {
        std::string text = "[";
        while (text.size() < (i % 4 ? 12000u : 30000u)) {
            if (text.size() > 1) text += ',';
            append_value(rng, text, 1);
        }
        for (int k = 0; i % 4 == 0 && k < 40; ++k)
            text += ",        \"" + std::string(static_cast<std::size_t>(100 + k), 'x') + "\"";
        text += ']';
        if (i % 2) {
            std::uniform_int_distribution<std::size_t> at(text.size() / 2, text.size() - 1);
            text[at(rng)] = "{}[]\",\\ \x01"[i % 9];
        }
        compare_fresh(text, static_cast<std::size_t>(i), false);
    }
}

// Offsets past a lowered bound are refused at exactly the same place.
TEST(TokenizerDifferential, OffsetBound) {
    std::mt19937 rng(42);
    for (int i = 0; i < 4000; ++i) {
        const std::string text = i % 2 ? random_text(rng) : random_document(rng);
        // Every bound on short texts, a sample on long ones.
        std::vector<std::uint32_t> bounds;
        std::uniform_int_distribution<std::uint32_t> any(0,
                                                         static_cast<std::uint32_t>(text.size()));
        for (std::uint32_t b = 0; b <= text.size() + 1; ++b)
            bounds.push_back(text.size() <= 48 ? b : any(rng));
        if (bounds.size() > 50) bounds.resize(50);
        for (std::uint32_t bound : bounds) {
            const std::vector<json_token> array(text.size() + 4, leftover);
            const auto count = static_cast<std::uint32_t>(text.size() + 1);
            const Outcome want =
                drive(reference::parse, text.c_str(), {0, 0, -1}, array, count, same, false, bound);
            SCOPED_TRACE(bound);
            expect_every_kernel(want, text, bound, [&](const char *placed) {
                return drive(library_parse, placed, {0, 0, -1}, array, count, same, false, bound);
            });
        }
    }
}

// A state and array the tokenizer never left: tokens below next_free of any kind, open
// or not, and a parent that is not the last open token. The close still takes the last
// open token before next_free and then the open token before that one.
TEST(TokenizerDifferential, ArbitraryArraysAndStates) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> small(-1, 3);
    std::uniform_int_distribution<int> made(0, 6);
    for (int i = 0; i < 20000; ++i) {
        const std::string text = random_text(rng);
        const int next_free = made(rng);
        std::vector<json_token> array(static_cast<std::size_t>(next_free) + 12, leftover);
        for (int t = 0; t < next_free; ++t) {
            std::uniform_int_distribution<int> type(0, 3);
            array[t] = {type(rng), small(rng), small(rng), small(rng)};
        }
        std::uniform_int_distribution<int> parent(-1, next_free - 1);
        std::uniform_int_distribution<std::uint32_t> pos(0,
                                                         static_cast<std::uint32_t>(text.size()));
        const jsmn_state state{pos(rng), next_free, parent(rng)};
        const auto count = static_cast<std::uint32_t>(next_free + 8);
        const Outcome want = drive(reference::parse, text.c_str(), state, array, count, one_more,
                                   false, qmrt::json::max_text_length);
        SCOPED_TRACE(testing::Message()
                     << "state " << state.pos << ',' << state.next_free << ',' << state.parent);
        expect_every_kernel(want, text, static_cast<std::size_t>(i), [&](const char *placed) {
            return drive(library_parse, placed, state, array, count, one_more, false,
                         qmrt::json::max_text_length);
        });
    }
}

// Texts of the common kind are read by the vector kernels themselves: handing them over
// to the scalar loop would give the same tokens, only slowly. Every comparison above
// holds only the kernels available_kernels() names, so it must name the vector kernel of
// each architecture that has one (NEON on AArch64 under an emulator too).
TEST(TokenizerDifferential, KernelsReadCommonTextsThemselves) {
#if defined(__x86_64__) || defined(__aarch64__)
    EXPECT_GT(qmrt::json::available_kernels().size(), 1u);
#endif
    for (const char *name : {"twitter.json", "citm_catalog.json"}) {
        const std::string text = read_file(std::string(QMRT_JSON_TEST_DATA) + "/" + name);
        for (const qmrt::json::Kernel kernel : qmrt::json::available_kernels()) {
            if (kernel == qmrt::json::Kernel::portable) continue;
            const Setting<qmrt::json::Kernel> forced(qmrt::json::set_kernel, kernel);
            // Placed at every offset within a block, so that the bytes before the text
            // in its first block (zero bytes among them) are of every kind.
            for (std::size_t offset = 0; offset < 64; offset += 7) {
                const Placed placed(text, offset);
                std::vector<json_token> tokens(text.size() / 2);
                qmrt::json::Cursor cursor{0, 0, -1, -1};
                const auto *bytes = reinterpret_cast<const unsigned char *>(placed.c_str());
                EXPECT_EQ(qmrt::json::scan_with(kernel)(cursor, bytes, tokens.data(), tokens.size(),
                                                        qmrt::json::max_text_length),
                          0)
                    << name << ' ' << qmrt::json::kernel_name(kernel) << " offset " << offset;
            }
        }
    }
}

// The benchmark documents, whole, cut short and spoiled, grown as json_tokenise does.
TEST(TokenizerDifferential, BenchmarkDocuments) {
    for (const char *name : {"twitter.json", "citm_catalog.json"}) {
        const std::string whole = read_file(std::string(QMRT_JSON_TEST_DATA) + "/" + name);
        ASSERT_FALSE(whole.empty()) << name;
        std::string spoiled = whole;
        spoiled[spoiled.size() / 3] = '}';
        for (const std::string &text : {whole, whole.substr(0, whole.size() / 2), spoiled}) {
            const std::vector<json_token> array(text.size() / 2 + 8, leftover);
            const Outcome want = drive(reference::parse, text.c_str(), {0, 0, -1}, array, 256,
                                       twice_and_one, false, qmrt::json::max_text_length);
            for (const qmrt::json::Kernel kernel : qmrt::json::available_kernels()) {
                const Setting<qmrt::json::Kernel> forced(qmrt::json::set_kernel, kernel);
                const Outcome got = drive(library_parse, text.c_str(), {0, 0, -1}, array, 256,
                                          twice_and_one, false, qmrt::json::max_text_length);
                ASSERT_EQ(got.statuses, want.statuses) << name << ' ' << kernel_name(kernel);
                ASSERT_TRUE(got == want) << name << ' ' << kernel_name(kernel);
            }
        }
    }
}

}  // namespace
}  // namespace qmrt::test
