#include "json/tokenizer.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "files.hpp"
#include "json/kernels.hpp"
#include "json_test_support.hpp"
#include "qmrt/json.h"
#include "reference_tokenizer.hpp"
#include "setting.hpp"

namespace qmrt::test {
namespace {

// Fills tokens the parse must leave alone, or must make free before use.
constexpr json_token leftover{7, 77, 777, 7777};

struct Outcome {
    int32_t status;
    jsmn_state state;
    std::vector<json_token> tokens;
};

// One parse from a fresh state with `count` tokens, the array prefilled with leftovers.
Outcome parse_once(const std::string &text, uint32_t count) {
    Outcome out{0, {}, std::vector<json_token>(count, leftover)};
    jsmn_init(&out.state);
    out.status = jsmn_parse(&out.state, text.c_str(), out.tokens.data(), count);
    return out;
}

// Starts with `count` tokens and enlarges the array by `grow` on every -1, keeping
// its contents and adding leftovers, as a caller that resumes does.
Outcome parse_growing(const std::string &text, uint32_t count, uint32_t (*grow)(uint32_t)) {
    Outcome out{0, {}, std::vector<json_token>(count, leftover)};
    jsmn_init(&out.state);
    while ((out.status = jsmn_parse(&out.state, text.c_str(), out.tokens.data(), count)) ==
           JSON_ERR_NO_TOKENS) {
        count = grow(count);
        out.tokens.resize(count, leftover);
    }
    return out;
}

// The tokens made, the rest checked free.
std::vector<json_token> made_tokens(const Outcome &out) {
    std::vector<json_token> made(out.tokens.begin(), out.tokens.begin() + out.state.next_free);
    for (size_t i = made.size(); i < out.tokens.size(); ++i)
        EXPECT_EQ(out.tokens[i], free_token) << "token " << i << " should be free";
    return made;
}

const std::string worked_example = R"({"a":"1","b":[2,3]})";

TEST(Tokenizer, WorkedExample) {
    Outcome out = parse_once(worked_example, 16);
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.state.pos, 19u);
    EXPECT_EQ(out.state.parent, -1);
    const std::vector<json_token> expected{obj(0, 19, 4),  str(2, 3),    str(6, 7),   str(10, 11),
                                           arr(13, 18, 2), prim(14, 15), prim(16, 17)};
    EXPECT_EQ(made_tokens(out), expected);
}

TEST(Tokenizer, WorkedExampleResumedAfterTheArrayFilledUp) {
    Outcome out = parse_once(worked_example, 3);
    EXPECT_EQ(out.status, JSON_ERR_NO_TOKENS);
    EXPECT_EQ(out.state.pos, 9u);
    EXPECT_EQ(out.state.next_free, 3);
    EXPECT_EQ(out.state.parent, 0);
    EXPECT_EQ(out.tokens[0], obj(0, -1, 2));

    out.tokens.resize(7, leftover);
    EXPECT_EQ(jsmn_parse(&out.state, worked_example.c_str(), out.tokens.data(), 7), 0);
    EXPECT_EQ(out.tokens, parse_once(worked_example, 7).tokens);
    EXPECT_EQ(out.tokens[4], arr(13, 18, 2));
}

struct Case {
    const char *name;
    std::string text;
    int32_t status;
    uint32_t pos;
    std::vector<json_token> tokens;
    int32_t parent = -1;
};

void PrintTo(const Case &c, std::ostream *out) {
    *out << c.name;
}

class TokenizerCase : public testing::TestWithParam<Case> {};

TEST_P(TokenizerCase, GivesTokensStatusAndPosition) {
    const Case &c = GetParam();
    Outcome out = parse_once(c.text, 16);
    EXPECT_EQ(out.status, c.status);
    EXPECT_EQ(out.state.pos, c.pos);
    EXPECT_EQ(out.state.parent, c.parent);
    EXPECT_EQ(made_tokens(out), c.tokens);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TokenizerCase,
    testing::Values(
        Case{"Empty", "", 0, 0, {}}, Case{"SeparatorsOnly", " \t\r\n,:", 0, 6, {}},
        Case{"TopLevelPrimitives", "1 2 3", 0, 5, {prim(0, 1), prim(2, 3), prim(4, 5)}},
        Case{"UnquotedKey", "{a:1}", 0, 5, {obj(0, 5, 2), prim(1, 2), prim(3, 4)}},
        Case{"QuoteInsidePrimitive", "tru\"e", 0, 5, {prim(0, 5)}},
        Case{"BraceInsidePrimitive", "a{b", 0, 3, {prim(0, 3)}},
        Case{"PrimitiveAfterString", "\"a\"b", 0, 4, {str(1, 2), prim(3, 4)}},
        Case{"EmptyArray", "[ ]", 0, 3, {arr(0, 3, 0)}},
        Case{"EmptyObject", "{}", 0, 2, {obj(0, 2, 0)}},
        Case{"NestedContainersRestoreTheirParent",
             R"([[1],{"k":[]},2])",
             0,
             16,
             {arr(0, 16, 3), arr(1, 4, 1), prim(2, 3), obj(5, 13, 2), str(7, 8), arr(10, 12, 0),
              prim(14, 15)}},
        Case{"EscapedQuotationMarkStaysInString", R"(["a\"b"])", 0, 8, {arr(0, 8, 1), str(2, 6)}},
        Case{"UnicodeEscapeDigitsNotChecked", R"("\u12")", 0, 6, {str(1, 5)}},
        Case{"ControlAndHighBytesInString", "\"\x01\xff\"", 0, 4, {str(1, 3)}},
        Case{"OpenObjectAtEnd",
             R"({"a":1)",
             JSON_ERR_INCOMPLETE,
             6,
             {obj(0, -1, 2), str(2, 3), prim(5, 6)},
             0},
        Case{"UnterminatedString",
             R"({"a":"1)",
             JSON_ERR_INCOMPLETE,
             5,
             {obj(0, -1, 1), str(2, 3)},
             0},
        Case{"OpenArrayAtEnd",
             "[1,2",
             JSON_ERR_INCOMPLETE,
             4,
             {arr(0, -1, 2), prim(1, 2), prim(3, 4)},
             0},
        Case{"UnknownEscape", R"(["\x"])", JSON_ERR_INVALID, 1, {arr(0, -1, 0)}, 0},
        Case{"BackslashLastIsInvalidNotIncomplete", "\"ab\\", JSON_ERR_INVALID, 0, {}},
        Case{"ControlByteInPrimitive",
             "[1,a\x01]",
             JSON_ERR_INVALID,
             3,
             {arr(0, -1, 1), prim(1, 2)},
             0},
        Case{"HighByteInPrimitive", "\xc3\xa9", JSON_ERR_INVALID, 0, {}},
        Case{"VerticalTabIsNoWhiteSpace", "1\v", JSON_ERR_INVALID, 0, {}},
        Case{"FormFeedIsNoWhiteSpace", "\f", JSON_ERR_INVALID, 0, {}},
        Case{"DeleteInPrimitive", "ab\x7f", JSON_ERR_INVALID, 0, {}},
        Case{"CloseWithNothingOpen", "]", JSON_ERR_INVALID, 0, {}},
        Case{"CloseAfterTopLevelPrimitive", "1]", JSON_ERR_INVALID, 1, {prim(0, 1)}},
        Case{"MismatchedCloseLeavesObjectOpen", "{]", JSON_ERR_INVALID, 1, {obj(0, -1, 0)}, 0},
        Case{"MismatchedCloseOfInnerArray",
             R"({"a":[1})",
             JSON_ERR_INVALID,
             7,
             {obj(0, -1, 2), str(2, 3), arr(5, -1, 1), prim(6, 7)},
             2},
        Case{"CloseAfterCompleteObject",
             R"({"a":1}})",
             JSON_ERR_INVALID,
             7,
             {obj(0, 7, 2), str(2, 3), prim(5, 6)}}),
    [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

// Every byte value, through the one classification the tokenizer uses.
TEST(Tokenizer, ClassifiesEveryByteAsUnquotedValue) {
    for (int c = 1; c < 256; ++c) {
        if (std::strchr("\t\n\r ,:\"{}[]", c) != nullptr) continue;
        Outcome out = parse_once(std::string(1, static_cast<char>(c)), 4);
        if (c >= 32 && c <= 126) {
            EXPECT_EQ(out.status, 0) << "byte " << c;
            EXPECT_EQ(out.tokens[0], prim(0, 1)) << "byte " << c;
        } else {
            EXPECT_EQ(out.status, JSON_ERR_INVALID) << "byte " << c;
            EXPECT_EQ(out.state.next_free, 0) << "byte " << c;
        }
    }
}

TEST(Tokenizer, ClassifiesEveryByteInStringsAndEscapes) {
    for (int c = 1; c < 256; ++c) {
        const std::string ch(1, static_cast<char>(c));
        if (c != '"' && c != '\\') {
            Outcome plain = parse_once("\"" + ch + "\"", 4);
            EXPECT_EQ(plain.status, 0) << "byte " << c;
            EXPECT_EQ(plain.tokens[0], str(1, 2)) << "byte " << c;
        }
        Outcome escaped = parse_once("\"\\" + ch + "\"", 4);
        if (std::strchr("\"/\\bfnrtu", c) != nullptr) {
            EXPECT_EQ(escaped.status, 0) << "escape " << c;
            EXPECT_EQ(escaped.tokens[0], str(1, 3)) << "escape " << c;
        } else {
            EXPECT_EQ(escaped.status, JSON_ERR_INVALID) << "escape " << c;
            EXPECT_EQ(escaped.state.pos, 0u) << "escape " << c;
        }
    }
}

TEST(Tokenizer, FullArrayStopsAtTheTokenThatDidNotFitAndChangesNothingElse) {
    struct Stop {
        std::string text;
        uint32_t count;
        uint32_t pos;
    } stops[] = {{"[1]", 0, 0},        {"  \"ab\"", 0, 2},   {"  12", 0, 2},
                 {R"({"a":1})", 1, 1}, {R"({"a":1})", 2, 5}, {"[[],{}]", 2, 4}};
    for (const Stop &s : stops) {
        Outcome out = parse_once(s.text, s.count);
        Outcome full = parse_once(s.text, 16);
        EXPECT_EQ(out.status, JSON_ERR_NO_TOKENS) << s.text;
        EXPECT_EQ(out.state.pos, s.pos) << s.text;
        EXPECT_EQ(out.state.next_free, static_cast<int32_t>(s.count)) << s.text;
        // Tokens made so far are as a full parse left them, except that sizes and ends
        // only count what stood before the stop.
        for (uint32_t i = 0; i < s.count; ++i) {
            EXPECT_EQ(out.tokens[i].start, full.tokens[i].start) << s.text;
            EXPECT_LE(out.tokens[i].size, full.tokens[i].size) << s.text;
        }
    }
    Outcome object = parse_once(R"({"a":1})", 1);
    EXPECT_EQ(object.tokens[0], obj(0, -1, 0));
    EXPECT_EQ(object.state.parent, 0);
}

TEST(Tokenizer, CountZeroOnTextWithoutTokensSucceeds) {
    for (const char *text : {"", " , : "}) {
        jsmn_state state;
        jsmn_init(&state);
        EXPECT_EQ(jsmn_parse(&state, text, nullptr, 0), 0);
        EXPECT_EQ(state.pos, std::strlen(text));
    }
}

TEST(Tokenizer, NeverWritesAtOrBeyondCountAndFreesLeftoversBelowIt) {
    for (const std::string &text : {std::string("[1,[2],{\"a\":3}]"), std::string(""),
                                    std::string("{\"a\":[1"), std::string("]")}) {
        for (uint32_t count = 0; count <= 8; ++count) {
            std::vector<json_token> tokens(count + 4, leftover);
            jsmn_state state;
            jsmn_init(&state);
            jsmn_parse(&state, text.c_str(), tokens.data(), count);
            for (uint32_t i = count; i < tokens.size(); ++i)
                EXPECT_EQ(tokens[i], leftover) << text << " count " << count;
            for (uint32_t i = static_cast<uint32_t>(state.next_free); i < count; ++i)
                EXPECT_EQ(tokens[i], free_token) << text << " count " << count;
        }
    }
}

// A resumed call must come with an array that holds what the state says was made;
// otherwise the parse would reach outside the array.
TEST(Tokenizer, RefusesAStateThatDoesNotFitTheArray) {
    const jsmn_state states[] = {{0, 3, -1}, {0, 2, 2}, {0, -1, -1}, {0, 1, -2}};
    for (const jsmn_state &bad : states) {
        jsmn_state state = bad;
        std::vector<json_token> tokens(2, leftover);
        EXPECT_EQ(jsmn_parse(&state, "]", tokens.data(), 2), JSON_ERR_INVALID);
        EXPECT_EQ(state.pos, bad.pos);
        EXPECT_EQ(state.next_free, bad.next_free);
        EXPECT_EQ(state.parent, bad.parent);
        EXPECT_EQ(tokens, std::vector<json_token>(2, leftover));
    }
}

// Each kernel reads whole aligned blocks around the text: none may reach the unmapped
// pages before and after a text that starts at a page's first byte or ends, with its
// terminating zero, on a page's last.
TEST(Tokenizer, ReadsNoPageOutsideTheText) {
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    auto *pages = static_cast<char *>(
        ::mmap(nullptr, 3 * page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    char *const mapped = pages + page;
    ASSERT_EQ(::mprotect(mapped, page, PROT_READ | PROT_WRITE), 0);
    const std::string sample = R"([{"a":"x\"y","b":[1,2.5e3,true]},"tail", null ,{}])";
    for (const qmrt::json::Kernel kernel : qmrt::json::available_kernels()) {
        const Setting<qmrt::json::Kernel> forced(qmrt::json::set_kernel, kernel);
        for (size_t length = 0; length <= sample.size(); ++length) {
            const std::string text = sample.substr(0, length);
            jsmn_state want_state{0, 0, -1};
            std::vector<json_token> want(16, leftover);
            const int32_t want_status = reference::parse(want_state, text.c_str(), want);
            for (char *at : {mapped, mapped + page - length - 1}) {
                std::memcpy(at, text.c_str(), length + 1);
                jsmn_state state{0, 0, -1};
                std::vector<json_token> tokens(16, leftover);
                EXPECT_EQ(qmrt::json::parse(state, at, tokens), want_status) << text;
                EXPECT_EQ(state.pos, want_state.pos) << text;
                EXPECT_EQ(tokens, want) << qmrt::json::kernel_name(kernel) << ' ' << text;
            }
        }
    }
    ::munmap(pages, 3 * page);
}

// The offset bound, lowered so that texts just past it are cheap to build.
TEST(Tokenizer, RefusesTextsLongerThanTheOffsetBound) {
    struct Bound {
        std::string text;
        uint32_t max_length;
        int32_t status;
        uint32_t pos;
    } bounds[] = {
        {"[1]", 3, 0, 3},                      // exactly at the bound
        {"[12]", 3, JSON_ERR_INVALID, 3},      // closing bracket past it
        {"  ", 1, JSON_ERR_INVALID, 1},        // even white space counts
        {"\"abc\"", 3, JSON_ERR_INVALID, 0},   // inside a string
        {"\"a\\n\"", 3, JSON_ERR_INVALID, 0},  // the escape letter
        {"abcd", 2, JSON_ERR_INVALID, 0},      // inside a primitive
        {"\"ab", 2, JSON_ERR_INVALID, 0},      // too long even though unterminated
    };
    for (const Bound &b : bounds) {
        jsmn_state state{0, 0, -1};
        std::vector<json_token> tokens(4);
        const Setting<uint32_t> bounded(qmrt::json::set_text_bound, b.max_length);
        EXPECT_EQ(qmrt::json::parse(state, b.text.c_str(), tokens), b.status) << b.text;
        EXPECT_EQ(state.pos, b.pos) << b.text;
    }
}

// A real text one byte past the bound: 2^31 spaces and a digit, built from one
// 64 MiB block of spaces mapped 32 times so that it costs little memory.
TEST(Tokenizer, RefusesATextPastTwoGigabytes) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "scanning 2 GiB takes too long in the sanitizer build";
#elif PTRDIFF_MAX <= INT32_MAX
    GTEST_SKIP() << "a 32-bit process cannot reach 2 GiB into a text from its start";
#else
    constexpr size_t chunk = size_t{64} << 20;
    constexpr size_t chunks = 32;
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    int fd = ::memfd_create("qmrt-long-text", 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, chunk), 0);
    void *fill = ::mmap(nullptr, chunk, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(fill, MAP_FAILED);
    std::memset(fill, ' ', chunk);
    ::munmap(fill, chunk);
    const size_t total = chunk * chunks + page;
    auto *base = static_cast<char *>(
        ::mmap(nullptr, total, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
    ASSERT_NE(base, MAP_FAILED);
    for (size_t i = 0; i < chunks; ++i)
        ASSERT_NE(::mmap(base + i * chunk, chunk, PROT_READ, MAP_SHARED | MAP_FIXED, fd, 0),
                  MAP_FAILED);
    char *tail = base + chunk * chunks;
    ASSERT_NE(
        ::mmap(tail, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0),
        MAP_FAILED);
    tail[0] = '1';
    tail[1] = '\0';

    jsmn_state state;
    jsmn_init(&state);
    json_token token = leftover;
    EXPECT_EQ(jsmn_parse(&state, base, &token, 1), JSON_ERR_INVALID);
    EXPECT_EQ(state.pos, 2147483647u);
    EXPECT_EQ(token, free_token);
    ::munmap(base, total);
    ::close(fd);
#endif
}

// Growing the array on every -1 ends exactly as one call with room to spare. The
// growth of json_tokenise (2n + 1) is checked, and growth by one token from none,
// which resumes at every token of the text.
uint32_t twice_and_one(uint32_t n) {
    return 2 * n + 1;
}
uint32_t one_more(uint32_t n) {
    return n + 1;
}

void expect_growth_matches_one_call(const std::string &text, uint32_t from = 1,
                                    uint32_t (*grow)(uint32_t) = twice_and_one) {
    Outcome one = parse_once(text, static_cast<uint32_t>(text.size() + 1));
    Outcome grown = parse_growing(text, from, grow);
    EXPECT_EQ(grown.status, one.status);
    EXPECT_EQ(grown.state.pos, one.state.pos);
    EXPECT_EQ(grown.state.next_free, one.state.next_free);
    EXPECT_EQ(grown.state.parent, one.state.parent);
    EXPECT_EQ(made_tokens(grown), made_tokens(one));
}

const std::vector<std::string> property_texts{worked_example,
                                              "",
                                              "1 2 3",
                                              R"([[1],{"k":[]},2])",
                                              R"({"a":{"b":{"c":[1,[2,[3]]]}},"d":"e"})",
                                              R"({"a":1)",
                                              R"({"a":"1)",
                                              "[1,2",
                                              "[[[[[",
                                              R"({"a":[1})",
                                              R"({"a":1}})",
                                              "]",
                                              R"(["\x"])",
                                              "[1,a\x01]",
                                              R"([{"a":1},{"b":2},{"c":3}] tail [4])"};

TEST(TokenizerProperty, GrowingEqualsOneCall) {
    for (const std::string &text : property_texts) {
        SCOPED_TRACE(text);
        expect_growth_matches_one_call(text);
        expect_growth_matches_one_call(text, 0, one_more);
    }
}

TEST(TokenizerProperty, BenchmarkDocuments) {
    for (const char *name : {"twitter.json", "citm_catalog.json"}) {
        SCOPED_TRACE(name);
        std::string text = read_file(std::string(QMRT_JSON_TEST_DATA) + "/" + name);
        ASSERT_GT(text.size(), 100000u);
        Outcome one = parse_once(text, static_cast<uint32_t>(text.size() + 1));
        EXPECT_EQ(one.status, 0);
        EXPECT_EQ(one.state.pos, text.size());
        expect_growth_matches_one_call(text);
        // The same documents cut short and spoiled.
        expect_growth_matches_one_call(text.substr(0, text.size() / 2));
        std::string spoiled = text;
        spoiled[spoiled.rfind('}')] = ']';
        expect_growth_matches_one_call(spoiled);
    }
}

}  // namespace
}  // namespace qmrt::test
