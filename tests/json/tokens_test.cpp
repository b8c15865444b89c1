#include "json/tokens.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "emulator.hpp"
#include "json_test_support.hpp"
#include "messages.hpp"
#include "qmrt/diag.h"
#include "qmrt/json.h"

namespace qmrt::test {
namespace {

using testing::KilledBySignal;

struct FreeTokens {
    void operator()(json_token *tokens) const { std::free(tokens); }
};
using TokenArray = std::unique_ptr<json_token[], FreeTokens>;

TokenArray tokenise(const char *text, int32_t *status) {
    return TokenArray(json_tokenise(text, status));
}

// An array of n numbers: n + 1 tokens.
std::string numbers(int n) {
    std::string text = "[";
    for (int i = 0; i < n; ++i) text += i == 0 ? "1" : ",1";
    return text + "]";
}

const std::string assertion_site = " \\(src/json/tokens\\.cpp, line [0-9]+\\)\n$";

TEST(JsonTokenise, ThreeHundredTokensLeaveTheRestFree) {
    int32_t status = 7;
    std::string text = numbers(299);
    TokenArray tokens = tokenise(text.c_str(), &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(tokens[0], arr(0, static_cast<int>(text.size()), 299));
    EXPECT_EQ(tokens[299], prim(597, 598));
    for (int i = 300; i <= 513; ++i) EXPECT_EQ(tokens[i], free_token) << i;
}

// Texts that fill the array exactly still end in a free token, so a lookup of a
// missing key stops inside the array.
TEST(JsonTokenise, FullArrayStillEndsInAFreeToken) {
    for (int count : {256, 513}) {
        int32_t status = 7;
        std::string text = numbers(count - 1);
        TokenArray tokens = tokenise(text.c_str(), &status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(tokens[count - 1].end, static_cast<int>(text.size()) - 1);
        EXPECT_EQ(tokens[count], free_token);
        char value[8] = "keep";
        EXPECT_EQ(QM_getJsonValue(tokens.get(), "missing", value, text.c_str()), -1);
        EXPECT_STREQ(value, "keep");
    }
}

TEST(JsonTokenise, InvalidOrIncompleteTextsGiveStatusMinusOneAndWhatWasMade) {
    struct Bad {
        const char *text;
        std::vector<json_token> made;
    } bad[] = {{"[1,2", {arr(0, -1, 2), prim(1, 2), prim(3, 4)}},
               {"]", {}},
               {R"({"a":"1)", {obj(0, -1, 1), str(2, 3)}}};
    for (const Bad &b : bad) {
        int32_t status = 7;
        TokenArray tokens = tokenise(b.text, &status);
        EXPECT_EQ(status, -1) << b.text;
        for (size_t i = 0; i < b.made.size(); ++i) EXPECT_EQ(tokens[i], b.made[i]) << b.text;
        EXPECT_EQ(tokens[b.made.size()], free_token) << b.text;
    }
    // Invalid after a growth step: still the tokens made, status -1.
    int32_t status = 7;
    std::string text = numbers(400) + "]";
    TokenArray tokens = tokenise(text.c_str(), &status);
    EXPECT_EQ(status, -1);
    EXPECT_EQ(tokens[401], free_token);
}

struct Lookup {
    const char *name;
    const char *text;
    const char *key;
    int32_t result;
    std::string value;  // expected when found
};

void PrintTo(const Lookup &l, std::ostream *out) {
    *out << l.name;
}

class JsonLookup : public testing::TestWithParam<Lookup> {};

TEST_P(JsonLookup, FindsTheValueAfterTheFirstMatchingString) {
    const Lookup &l = GetParam();
    int32_t status = 0;
    TokenArray tokens = tokenise(l.text, &status);
    char value[64];
    std::memset(value, 'Z', sizeof value);
    testing::internal::CaptureStdout();
    EXPECT_EQ(QM_getJsonValue(tokens.get(), l.key, value, l.text), l.result);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    if (l.result == 0)
        EXPECT_EQ(std::string(value), l.value);
    else
        EXPECT_EQ(value[0], 'Z') << "nothing may be written when the key is not found";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JsonLookup,
    testing::Values(Lookup{"WorkedExampleString", R"({"a":"1","b":[2,3]})", "a", 0, "1"},
                    Lookup{"WorkedExampleArray", R"({"a":"1","b":[2,3]})", "b", 0, "[2,3]"},
                    Lookup{"WorkedExampleValueAsKey", R"({"a":"1","b":[2,3]})", "1", 0, "b"},
                    Lookup{"WorkedExamplePrimitiveNeverMatches", R"({"a":"1","b":[2,3]})", "2", -1,
                           ""},
                    Lookup{"WorkedExampleMissingKey", R"({"a":"1","b":[2,3]})", "c", -1, ""},
                    Lookup{"ValueMatchedBeforeKey", R"({"x":"a","a":"1"})", "a", 0, "a"},
                    Lookup{"NestedKeyMatchedFirst", R"({"x":{"a":true},"a":"1"})", "a", 0, "true"},
                    Lookup{"PrimitiveWithKeyTextSkipped", R"({"n":1,"1":"x"})", "1", 0, "x"},
                    Lookup{"KeyWithoutValue", R"({"a"})", "a", -1, ""},
                    Lookup{"MatchIsLastToken", R"({"a":1,"k"})", "k", -1, ""},
                    Lookup{"EmptyValue", R"({"e":""})", "e", 0, ""},
                    Lookup{"EscapedQuotationMarkKept", R"({"k":"q\"r"})", "k", 0, R"(q\"r)"},
                    Lookup{"EmptyKeyMatchesFirstEmptyString", R"({"a":"","b":"v"})", "", 0, "b"},
                    Lookup{"EscapesComparedAsWritten", R"({"q\"r":"v"})", R"(q\"r)", 0, "v"},
                    Lookup{"WhiteSpaceOnly", "  \n ", "", -1, ""},
                    Lookup{"IncompleteArray", "[1,2", "1", -1, ""},
                    // Values left open by an incomplete or invalid text are not copied.
                    Lookup{"OpenArrayValue", R"({"k":[1,2)", "k", -1, ""},
                    Lookup{"OpenObjectValue", R"({"k":{"a":1)", "k", -1, ""},
                    Lookup{"OpenArrayValueOfInvalidText", R"([{"k":[1}])", "k", -1, ""},
                    // Open containers passed over do not stop the scan.
                    Lookup{"OpenContainersPassedOver", R"({"x":[{"a":"v"})", "a", 0, "v"}),
    [](const testing::TestParamInfo<Lookup> &info) { return std::string(info.param.name); });

// The lookup warns about long tokens on standard output through qm_errstr.
TEST(JsonLookupWarnings, LongValueIsCopiedWholeAfterAWarning) {
    for (int length : {500, 501}) {
        std::string text = R"({"k":")" + std::string(static_cast<size_t>(length), 'v') + R"("})";
        int32_t status = 0;
        TokenArray tokens = tokenise(text.c_str(), &status);
        std::vector<char> value(static_cast<size_t>(length) + 1, 'Z');
        testing::internal::CaptureStdout();
        EXPECT_EQ(QM_getJsonValue(tokens.get(), "k", value.data(), text.c_str()), 0);
        std::fflush(stdout);
        std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(std::strlen(value.data()), static_cast<size_t>(length));
        if (length == 500) {
            EXPECT_EQ(printed, "");
        } else {
            EXPECT_EQ(printed, messages::long_value(501));
            EXPECT_EQ(std::string(qm_errstr), messages::long_value(501));
        }
    }
}

TEST(JsonLookupWarnings, LongTokenPassedOverWarnsAndTheScanGoesOn) {
    for (int length : {40000, 40001}) {
        // The root object covers the whole text; its second member pads it.
        std::string head = R"({"k":"v","p":")";
        std::string text =
            head + std::string(static_cast<size_t>(length) - head.size() - 2, 'p') + R"("})";
        ASSERT_EQ(text.size(), static_cast<size_t>(length));
        int32_t status = 0;
        TokenArray tokens = tokenise(text.c_str(), &status);
        char value[8];
        testing::internal::CaptureStdout();
        EXPECT_EQ(QM_getJsonValue(tokens.get(), "k", value, text.c_str()), 0);
        std::fflush(stdout);
        std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_STREQ(value, "v");
        EXPECT_EQ(printed, length == 40000 ? "" : messages::long_token(40001));
    }
}

TEST(JsonGetreply, AcceptsObjectsWithEvenChildCount) {
    for (const char *text : {"{}", R"({"a":1})", R"({"a":"1","b":[2,3]})"}) {
        int32_t status = 0;
        TokenArray tokens = tokenise(text, &status);
        EXPECT_EQ(json_getreply(text, tokens.get()), 0) << text;
    }
}

TEST(JsonGetreplyDeath, RejectsBadRoots) {
    const std::string missing =
        "^json_getreply: assertion failed: t->start != -1 && t->end != -1" + assertion_site;
    const std::string not_object = messages::exactly(messages::root_not_object);
    const std::string odd = messages::exactly(messages::odd_children);
    const struct {
        const char *text;
        const std::string &report;
    } roots[] = {{"  ", missing},        {R"({"a":1)", missing}, {"[1]", not_object},
                 {R"("s")", not_object}, {"7", not_object},      {R"({"a"})", odd},
                 {R"({"a":1,"b"})", odd}};
    for (const auto &r : roots) {
        int32_t status = 0;
        TokenArray tokens = tokenise(r.text, &status);
        EXPECT_EXIT(json_getreply(r.text, tokens.get()), KilledBySignal(SIGABRT),
                    Reported(r.report))
            << r.text;
    }
}

TEST(JsonTokenText, ComparesTheWholeTokenText) {
    const char *text = R"({"a":"1","b":[2,3]})";
    int32_t status = 0;
    TokenArray tokens = tokenise(text, &status);
    const struct {
        int token;
        const char *s;
        int32_t equal;
    } cases[] = {{1, "a", 1},     {1, "ab", 0},   {1, "A", 0},  {1, "", 0},
                 {4, "[2,3]", 1}, {4, "[2,3", 0}, {0, text, 1}, {5, "2", 1}};
    for (const auto &c : cases)
        EXPECT_EQ(json_token_streq(text, &tokens[c.token], c.s), c.equal) << c.token << " " << c.s;
}

TEST(JsonTokenText, CutsTheTokenTextOutInPlace) {
    char text[] = R"({"a":"1","b":[2,3]})";
    int32_t status = 0;
    TokenArray tokens = tokenise(text, &status);
    EXPECT_STREQ(json_token_tostr(text, &tokens[4]), "[2,3]");
    EXPECT_EQ(text[18], '\0');  // the final right brace is lost
    EXPECT_STREQ(json_token_tostr(text, &tokens[1]), "a");
    EXPECT_EQ(text[3], '\0');  // so is the quotation mark after a
    EXPECT_EQ(std::string(text, 3), R"({"a)");
}

// Unset and open tokens have no text: comparing fails and nothing is cut.
TEST(JsonTokenText, TokensWithoutTextAreNeitherComparedNorCut) {
    char text[] = "[1,2";
    int32_t status = 0;
    TokenArray tokens = tokenise(text, &status);
    for (int index : {0, 3}) {  // the open array, and the first free token
        EXPECT_EQ(json_token_streq(text, &tokens[index], ""), 0) << index;
        EXPECT_EQ(json_token_streq(text, &tokens[index], "[1,2"), 0) << index;
        EXPECT_EQ(json_token_tostr(text, &tokens[index]), nullptr) << index;
    }
    EXPECT_STREQ(text, "[1,2");
}

}  // namespace
}  // namespace qmrt::test
