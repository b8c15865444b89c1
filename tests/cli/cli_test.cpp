// The qmrt tool driven as a subprocess: what it prints and the status it ends with.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "scratch_dir.hpp"
#include "subprocess.hpp"
#include "unserved_port.hpp"

namespace qmrt::test {
namespace {

const std::string tool = QMRT_CLI;

// In `args` and `err_part`, "{closed}" stands for 127.0.0.1:PORT, a port nobody listens on.
struct Case {
    std::vector<std::string> args;
    std::string input;  // standard input
    std::string out;    // the whole standard output
    int status;
    std::string err_part;  // a part of standard error ("" : standard error stays empty)
    int err_lines = 1;     // lines on standard error when it is not empty
};

void PrintTo(const Case &c, std::ostream *os) {
    for (const std::string &arg : c.args) *os << arg << ' ';
}

// "3_date_shift_20240101__1": unique, and still says which invocation failed.
std::string case_name(const ::testing::TestParamInfo<Case> &info) {
    std::string name = std::to_string(info.index);
    for (const std::string &arg : info.param.args) {
        name += '_';
        for (char c : arg) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

class Invocation : public ::testing::TestWithParam<Case> {};

std::string with_port(std::string text, int port) {
    const std::string placeholder = "{closed}";
    for (auto at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder))
        text.replace(at, placeholder.size(), "127.0.0.1:" + std::to_string(port));
    return text;
}

// Core dumps on as far as the hard limit allows, for the tool started meanwhile: a tool
// that aborted would leave its core file behind where the kernel writes them as files.
class CoreDumpsOn {
public:
    CoreDumpsOn() {
        ::getrlimit(RLIMIT_CORE, &previous_);
        rlimit on = previous_;
        on.rlim_cur = on.rlim_max;
        ::setrlimit(RLIMIT_CORE, &on);
    }
    CoreDumpsOn(const CoreDumpsOn &) = delete;
    CoreDumpsOn &operator=(const CoreDumpsOn &) = delete;
    ~CoreDumpsOn() { ::setrlimit(RLIMIT_CORE, &previous_); }

private:
    rlimit previous_{};
};

std::vector<std::string> core_files(const std::filesystem::path &dir) {
    std::vector<std::string> found;
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name == "core" || name.starts_with("core.")) found.push_back(name);
    }
    return found;
}

TEST_P(Invocation, PrintsAndEndsAsExpected) {
    ScratchDir dir;
    std::ofstream(dir.path() / "reply.json") << R"({"status":"OK","n":[1,2],"who":{"id":"A"}})";
    const Case &c = GetParam();
    UnservedPort closed;
    std::vector<std::string> args;
    for (const std::string &arg : c.args) args.push_back(with_port(arg, closed.port()));
    Finished got;
    {
        CoreDumpsOn cores;
        got = run(tool, args, c.input);
    }
    EXPECT_EQ(got.out, c.out);
    EXPECT_EQ(got.status, c.status);
    if (c.err_part.empty()) {
        EXPECT_EQ(got.err, "");
    } else {
        const std::string part = with_port(c.err_part, closed.port());
        EXPECT_NE(got.err.find(part), std::string::npos) << got.err;
        // Whole lines, as many as expected (one for a "no" of the tool's own), so that
        // scripts can show them as they are.
        EXPECT_EQ(std::count(got.err.begin(), got.err.end(), '\n'), c.err_lines) << got.err;
        EXPECT_EQ(got.err.back(), '\n') << got.err;
    }
    EXPECT_EQ(core_files(dir.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Dates, Invocation,
    ::testing::Values(Case{{"date", "jdn", "20240229"}, "", "2460370\n", 0, ""},
                      Case{{"date", "packed", "2460370"}, "", "20240229\n", 0, ""},
                      Case{{"date", "parts", "2460370"}, "", "2024 2 29\n", 0, ""},
                      Case{{"date", "shift", "20240228", "1"}, "", "20240229\n", 0, ""},
                      Case{{"date", "shift", "20240101", "-1"}, "", "20231231\n", 0, ""},
                      Case{{"date", "valid", "2000", "2", "29"}, "", "20000229\n", 0, ""},
                      Case{{"date", "valid", "1900", "2", "29"}, "", "", 1, "not a valid date"},
                      // Numbers are decimal: a leading zero never makes one octal.
                      Case{{"date", "valid", "2024", "02", "09"}, "", "20240209\n", 0, ""},
                      Case{{"date", "leap", "2024", "2", "29"}, "", "1\n", 0, ""},
                      Case{{"date", "leap", "2100", "2", "29"}, "", "0\n", 1, ""}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Json, Invocation,
    ::testing::Values(
        Case{{"json", "get", "reply.json", "status", "who", "id"},
             "",
             "OK\n{\"id\":\"A\"}\nA\n",
             0,
             ""},
        Case{{"json", "get", "n"}, R"({"n":[1,2]})", "[1,2]\n", 0, ""},
        Case{{"json", "get", "-", "n", "m"}, R"({"n":1,"m":""})", "1\n\n", 0, ""},
        Case{{"json", "get", "reply.json", "status", "absent"},
             "",
             "OK\n",
             1,
             "key not found: absent"},
        Case{{"json", "get", "x"},
             R"({"x":[1,2})",
             "",
             1,
             "invalid JSON (status -2): the parse stopped at offset 9"},
        Case{{"json", "tokens"},
             "{\"a\":[1,\"b\\n\"]\n}",
             "index  kind        start     end  size  text\n"
             "    0  object          0      16     2  {\"a\":[1,\"b\\n\"]\\n}\n"
             "    1  string          2       3     0  a\n"
             "    2  array           5      14     2  [1,\"b\\n\"]\n"
             "    3  primitive       6       7     0  1\n"
             "    4  string          9      12     0  b\\n\n",
             0,
             ""},
        Case{{"json", "tokens", "--width", "3", "-"},
             R"(["abcdef"])",
             "index  kind        start     end  size  text\n"
             "    0  array           0      10     1  [\"a...\n"
             "    1  string          2       8     0  abc...\n",
             0,
             ""},
        Case{{"json", "tokens"},
             "[1,2",
             "index  kind        start     end  size  text\n"
             "    0  array           0      -1     2  (still open)\n"
             "    1  primitive       1       2     0  1\n"
             "    2  primitive       3       4     0  2\n",
             1,
             "incomplete JSON (status -3): the parse stopped at offset 4"},
        Case{{"json", "tokens", "missing.json"}, "", "", 2, "cannot open missing.json"},
        Case{{"json", "tokens"}, std::string("{}\0{}", 5), "", 2, "zero byte at offset 2"}),
    case_name);

// The library's fetch ends its process on any failure; the tool's stays a "no": the
// library's report, then the tool's line naming the fetch.
INSTANTIATE_TEST_SUITE_P(Fetch, Invocation,
                         ::testing::Values(Case{
                             {"fetch", "http://{closed}/doc.json"},
                             "",
                             "",
                             1,
                             "curl_easy_perform failed: Couldn't connect to server\n"
                             "qmrt: the fetch of http://{closed}/doc.json failed: the library "
                             "ended it with its fatal report\n",
                             2}),
                         case_name);

INSTANTIATE_TEST_SUITE_P(
    UsageErrors, Invocation,
    ::testing::Values(
        Case{{}, "", "", 2, "qmrt: "}, Case{{"bogus"}, "", "", 2, "qmrt: "},
        Case{{"date"}, "", "", 2, "qmrt: "}, Case{{"date", "jdn"}, "", "", 2, "PACKED is required"},
        // A refused number names the range its help shows.
        Case{{"date", "jdn", "2024-02-29"},
             "",
             "",
             2,
             "PACKED: 2024-02-29 is not a whole number in -2147483648..2147483647"},
        Case{
            {"date", "valid", "40000", "1", "1"}, "", "", 2, "YEAR: 40000 is not in -32768..32767"},
        Case{{"now", "9"}, "", "", 2, "CODE: 9 is not in 0..8"},
        Case{{"json", "tokens", "--width", "-1"}, "", "", 2, "--width: -1 is not in 1..2147483647"},
        Case{{"now", "2", "--time"}, "", "", 2, "qmrt: "},
        Case{{"lock"}, "", "", 2, "CODE is required"},
        Case{{"call"}, "", "", 2, "REQUEST is required"}),
    case_name);

TEST(Help, EverySubcommandHasHelpAndEndsWithStatusZero) {
    const std::vector<std::vector<std::string>> commands = {{},
                                                            {"date"},
                                                            {"date", "jdn"},
                                                            {"date", "packed"},
                                                            {"date", "parts"},
                                                            {"date", "shift"},
                                                            {"date", "valid"},
                                                            {"date", "leap"},
                                                            {"now"},
                                                            {"json"},
                                                            {"json", "tokens"},
                                                            {"json", "get"},
                                                            {"fetch"},
                                                            {"call"},
                                                            {"lock"},
                                                            {"locks"}};
    for (std::vector<std::string> args : commands) {
        args.push_back("--help");
        Finished got = run(tool, args);
        EXPECT_EQ(got.status, 0) << args.front();
        EXPECT_NE(got.out.find("Usage:"), std::string::npos) << got.out;
    }
}

TEST(Now, TextsFollowTheirLayouts) {
    struct Layout {
        std::vector<std::string> args;
        const char *pattern;
    };
    const Layout layouts[] = {
        {{"now"}, R"(\d{4}-\d{2}-\d{2}\n)"},
        {{"now", "2"}, R"(\d{2}/\d{2}/\d{4} \d{2}:\d{2}:\d{2}\n)"},
        {{"now", "6"}, R"([A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3]\d \d{2}:\d{2}\n)"},
        {{"now", "--time"}, R"([1-3]\d[0-5]\d[0-6]\d\n)"},
    };
    for (const Layout &layout : layouts) {
        Finished got = run(tool, layout.args);
        EXPECT_EQ(got.status, 0);
        EXPECT_TRUE(std::regex_match(got.out, std::regex(layout.pattern))) << got.out;
    }
}

TEST(Json, TokenTableGrowsPastItsFirstArray) {
    std::string many = "[0";
    for (int i = 1; i < 300; ++i) many.append(",").append(std::to_string(i));
    many += "]";
    Finished got = run(tool, {"json", "tokens"}, many);
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_NE(got.out.find("\n  300  primitive    1087    1090     0  299\n"), std::string::npos);
    EXPECT_NE(got.out.find("\n    0  array           0    1091   300  [0,1,2,3"),
              std::string::npos);
}

}  // namespace
}  // namespace qmrt::test
