// qmrt call: the exchange with the service, run by the test-only variant of the tool
// whose endpoint the test chooses: the HTTPS test server, or a port nobody listens on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "files.hpp"
#include "https_test_server.hpp"
#include "messages.hpp"
#include "scratch_dir.hpp"
#include "subprocess.hpp"
#include "unserved_port.hpp"

namespace qmrt::test {
namespace {

const std::string hooked_tool = QMRT_CLI_HOOKED;

// The endpoint for the tool's exchange while the object lives.
class Endpoint {
public:
    explicit Endpoint(const std::string &url) { ::setenv("QMRT_TEST_SERVICE_URL", url.c_str(), 1); }
    Endpoint(const Endpoint &) = delete;
    Endpoint &operator=(const Endpoint &) = delete;
    ~Endpoint() { ::unsetenv("QMRT_TEST_SERVICE_URL"); }
};

TEST(Call, PrintsValuesOfTheReplyOrTheLibrarysRefusal) {
    const std::string reply = R"({"status":"OK","id":"A-1","n":{"x":1},"e":""})";
    struct Exchange {
        std::vector<std::string> args;  // after "call"
        std::string input;
        std::string request;  // the body the service must receive
        std::string out;
        int status;
        std::string err;
    };
    const Exchange exchanges[] = {
        {{"@request.json", "id", "status", "n", "e"},
         "",
         R"({"from":"file"})",
         "A-1\nOK\n{\"x\":1}\n\n",
         0,
         ""},
        {{"-", "id"}, R"({"from":"stdin"})", R"({"from":"stdin"})", "A-1\n", 0, ""},
        {{R"({"from":"text"})"}, "", R"({"from":"text"})", "", 0, ""},
        {{"{}", "id", "absent"},
         "",
         "{}",
         "",
         1,
         "qmrt: " + messages::reply_without_key(reply) + "\n"},
    };
    for (const Exchange &exchange : exchanges) {
        ScratchDir dir;
        std::ofstream("request.json") << R"({"from":"file"})";
        HttpsTestServer server;
        server.on("/service", HttpsReply::json(reply));
        Endpoint endpoint(server.url("/service"));
        std::vector<std::string> args{"call"};
        args.insert(args.end(), exchange.args.begin(), exchange.args.end());
        Finished got = run(hooked_tool, args, exchange.input);

        EXPECT_EQ(got.out, exchange.out) << exchange.args.front();
        EXPECT_EQ(got.status, exchange.status) << exchange.args.front();
        EXPECT_EQ(got.err, exchange.err);
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].method, "POST");
        EXPECT_EQ(requests[0].body, exchange.request);
    }
}

TEST(Call, NoServiceIsANoWithTheTraceLeftInDebug2) {
    ScratchDir dir;
    UnservedPort closed;
    Endpoint endpoint("https://127.0.0.1:" + std::to_string(closed.port()) + "/service");
    Finished got = run(hooked_tool, {"call", R"({"a":"1"})", "a"});
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err,
              "qmrt: the exchange got no reply from the service (the transfer result is in "
              "\"debug2\")\n");
    const std::string trace = read_file("debug2");
    EXPECT_NE(trace.find("{\"a\":\"1\"}\nres = 7\n"), std::string::npos) << trace;
}

TEST(Call, UnreadableRequestFileIsAUsageError) {
    ScratchDir dir;
    Finished got = run(hooked_tool, {"call", "@absent.json", "a"});
    EXPECT_EQ(got.status, 2);
    EXPECT_NE(got.err.find("cannot open absent.json"), std::string::npos) << got.err;
}

}  // namespace
}  // namespace qmrt::test
