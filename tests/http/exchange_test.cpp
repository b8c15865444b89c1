// The POST exchange against a local HTTPS server: what is sent, what is traced in
// "debug2", what the caller gets back, and every way the exchange can fail.
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "files.hpp"
#include "http/http.hpp"
#include "https_test_server.hpp"
#include "messages.hpp"
#include "qmrt/diag.h"
#include "qmrt/http.h"
#include "qmrt/memory.h"
#include "scratch_dir.hpp"
#ifdef QMRT_SERVICE_BINARY
#include "service_process.hpp"
#endif
#include "setting.hpp"
#include "unserved_port.hpp"

namespace qmrt::test {
namespace {

// The caller's side of one exchange: keys and their 64-byte value cells.
struct Call {
    std::vector<std::string> keys;
    std::vector<std::vector<char>> cells;

    explicit Call(std::vector<std::string> wanted) : keys(std::move(wanted)) {
        for (std::size_t i = 0; i < keys.size(); ++i) cells.emplace_back(QM_VALUE_SIZE + 8, '#');
    }
    int32_t run(const std::string &request) {
        std::vector<const char *> key_list;
        std::vector<char *> values;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            key_list.push_back(keys[i].c_str());
            values.push_back(cells[i].data());
        }
        key_list.push_back(nullptr);
        return QM_callService(request.c_str(), key_list.data(), values.data());
    }
    std::string value(std::size_t i) const { return cells[i].data(); }
    // Bytes past the 64-byte cell are never written.
    bool cell_guard_intact(std::size_t i) const {
        return std::string(cells[i].begin() + QM_VALUE_SIZE, cells[i].end()) == std::string(8, '#');
    }
    bool cell_untouched(std::size_t i) const {
        return std::string(cells[i].begin(), cells[i].end()) == std::string(cells[i].size(), '#');
    }
};

class Exchange : public testing::Test {
protected:
    void SetUp() override {
        qmrt::http::set_endpoint(server.url("/service"));
        std::strcpy(qm_errstr, "untouched");
    }
    void TearDown() override {
        mbfree(g_birt_temp);
        g_birt_temp = nullptr;
        g_birt_size = 0;
    }
    std::string trace() const { return read_file(dir.path() / "debug2"); }
    std::string head_of_trace(const std::string &request) const {
        return "url = " + server.url("/service") +
               "\nAccept: application/json\nContent-Type: application/json\n"
               "\nQM_callService: jsondata=\n" +
               request + "\n";
    }

    ScratchDir dir;
    HttpsTestServer server;
};

TEST_F(Exchange, TracesEveryStepOfASuccessfulExchange) {
    server.on("/service", HttpsReply::json(R"({"a":"1","b":[2,3]})"));
    Call call({"a", "b"});
    ASSERT_EQ(call.run(R"({"q":"x"})"), 0);
    EXPECT_EQ(call.value(0), "1");
    EXPECT_EQ(call.value(1), "[2,3]");
    EXPECT_EQ(trace(), head_of_trace(R"({"q":"x"})") +
                           "res = 0\nhttp response: 200\n"
                           "QM_callService:jawaban server=\n{\"a\":\"1\",\"b\":[2,3]}\n"
                           "a=1\nb=[2,3]\n");
    EXPECT_STREQ(g_birt_temp, R"({"a":"1","b":[2,3]})");
    EXPECT_EQ(g_birt_size, 19);
    EXPECT_STREQ(qm_errstr, "untouched");
}

TEST_F(Exchange, PostsTheRequestWithBothHeadersAndNothingElse) {
    server.on("/service", HttpsReply::json(R"({"a":"1"})"));
    Call call({});
    const std::string request = R"({"perintah": "saldo", "rekening": "A-1029"})";
    ASSERT_EQ(call.run(request), 0);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/service");
    EXPECT_EQ(requests[0].body, request);
    EXPECT_EQ(requests[0].header("Accept"), "application/json");
    EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
    EXPECT_EQ(requests[0].header("User-Agent"), std::nullopt);
}

TEST_F(Exchange, MissingKeysFailWithTheReplyInTheMessage) {
    struct Case {
        std::vector<std::string> keys;
        std::vector<std::string> traced_values;
        bool message_traced;
    };
    const std::string reply = R"({"a":"1"})";
    const std::string message = messages::reply_without_key(reply);
    const Case cases[] = {
        {{"b"}, {}, true},               // the first key: its failure is traced
        {{"a", "b"}, {"a=1\n"}, false},  // a later key: only left in qm_errstr
    };
    for (const Case &c : cases) {
        std::filesystem::remove("debug2");
        server.next_reply(HttpsReply::json(reply));
        Call call(c.keys);
        EXPECT_EQ(call.run("{}"), -1);
        EXPECT_EQ(std::string(qm_errstr), message);
        std::string expected = head_of_trace("{}") + "res = 0\nhttp response: 200\n" +
                               "QM_callService:jawaban server=\n" + reply + "\n";
        for (const std::string &line : c.traced_values) expected += line;
        if (c.message_traced) expected += message;
        EXPECT_EQ(trace(), expected);
    }
}

TEST_F(Exchange, ALongReplyIsTracedWholeAndCutInTheMessages) {
    const std::string reply = R"({"a":")" + std::string(2000, 'x') + R"("})";
    server.next_reply(HttpsReply::json(reply));
    Call call({"b"});
    EXPECT_EQ(call.run("{}"), -1);
    const std::string message = messages::reply_without_key(reply);
    const std::string record = "QM_callService:jawaban server=\n" + reply + "\n";
    const std::size_t kept = sizeof qm_errstr - 1;
    EXPECT_EQ(std::string(qm_errstr), message.substr(0, kept));
    EXPECT_EQ(std::string(qm_calstr), record.substr(0, kept)) << "the reply record, cut";
    const std::string t = trace();
    EXPECT_NE(t.find(record + message.substr(0, kept)), std::string::npos)
        << "the record whole, then the message as qm_errstr holds it";
}

TEST_F(Exchange, NonJsonErrorPageIsReadAndItsKeysAreMissing) {
    server.on("/service", HttpsReply::text("<html>Internal error</html>", 500, "text/html"));
    Call call({"a"});
    EXPECT_EQ(call.run("{}"), -1);
    EXPECT_EQ(std::string(qm_errstr), messages::reply_without_key("<html>Internal error</html>"));
    EXPECT_NE(trace().find("res = 0\nhttp response: 500\n"), std::string::npos);
}

TEST_F(Exchange, NoServerFailsWithTheConnectionResultAndNoStatusLine) {
    const UnservedPort closed;
    qmrt::http::set_endpoint("https://127.0.0.1:" + std::to_string(closed.port()) + "/service");
    Call call({"a"});
    EXPECT_EQ(call.run("{}"), -1);
    const std::string t = trace();
    EXPECT_NE(t.find("res = 7\nQM_callService:jawaban server=\n\n"), std::string::npos) << t;
    EXPECT_EQ(t.find("http response"), std::string::npos);
    EXPECT_STREQ(qm_errstr, "untouched");
    EXPECT_STREQ(qm_calstr, "QM_callService:jawaban server=\n\n") << "the latest trace line";
    EXPECT_EQ(g_birt_temp, nullptr);
}

TEST_F(Exchange, SecondExchangeReleasesTheFirstReplyBeforeItsTransfer) {
    server.on("/service", HttpsReply::json(R"({"a":"1"})"));
    Call call({"a"});
    ASSERT_EQ(call.run("{}"), 0);
    ASSERT_NE(g_birt_temp, nullptr);
    server.stop();
    EXPECT_EQ(call.run("{}"), -1);
    EXPECT_EQ(g_birt_temp, nullptr);
    EXPECT_EQ(g_birt_size, 0);
}

TEST_F(Exchange, ValuesUpToSixtyThreeCharactersFitTheCell) {
    struct Case {
        std::size_t length;
        int32_t result;
    };
    for (const Case &c : {Case{63, 0}, Case{64, -1}}) {
        std::filesystem::remove("debug2");
        const std::string value(c.length, 'v');
        server.next_reply(HttpsReply::json(R"({"a":")" + value + R"("})"));
        Call call({"a"});
        EXPECT_EQ(call.run("{}"), c.result) << c.length;
        EXPECT_TRUE(call.cell_guard_intact(0));
        if (c.result == 0) {
            EXPECT_EQ(call.value(0), value);
            continue;
        }
        EXPECT_TRUE(call.cell_untouched(0)) << "nothing is cut silently into the cell";
        const std::string message = messages::value_too_long("a", 64);
        EXPECT_EQ(std::string(qm_errstr), message);
        const std::string t = trace();
        EXPECT_EQ(t.substr(t.size() - message.size()), message);
    }
}

TEST_F(Exchange, RequestsLongerThanTheBufferAreRefusedBeforeAnythingHappens) {
    server.on("/service", HttpsReply::json(R"({"a":"1"})"));
    Call call({"a"});
    ASSERT_EQ(call.run("{}"), 0);
    char *reply = g_birt_temp;

    // The longest request that fits is sent whole.
    const std::string longest = "\"" + std::string(34997, 'x') + "\"";
    ASSERT_EQ(longest.size(), 34999u);
    EXPECT_EQ(call.run(longest), 0);
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[1].body, longest);
    reply = g_birt_temp;

    std::filesystem::remove("debug2");
    const std::string too_long = longest + " ";
    EXPECT_EQ(call.run(too_long), -1);
    EXPECT_EQ(server.requests().size(), 2u) << "nothing is sent";
    EXPECT_EQ(g_birt_temp, reply) << "the previous reply stays";
    const std::string message = messages::request_too_long(35000);
    EXPECT_EQ(std::string(qm_errstr), message);
    EXPECT_EQ(trace(), message);
}

TEST_F(Exchange, NullRequestFailsWithItsMessageAlone) {
    Call call({"a"});
    const char *keys[] = {"a", nullptr};
    char *values[] = {call.cells[0].data()};
    EXPECT_EQ(QM_callService(nullptr, keys, values), -1);
    EXPECT_STREQ(qm_errstr, messages::no_request);
    EXPECT_FALSE(std::filesystem::exists("debug2")) << "nothing is traced";
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(Exchange, KeysWithoutValueCellsAreRefusedBeforeAnythingIsSent) {
    server.on("/service", HttpsReply::json(R"({"a":"1","b":"2"})"));
    const char *keys[] = {"a", "b", nullptr};
    char cell[QM_VALUE_SIZE] = "untouched";
    char *first_missing[] = {nullptr, cell};
    char *second_missing[] = {cell, nullptr};
    struct Case {
        char **values;
        const char *key;
    };
    for (const Case &c :
         {Case{nullptr, "a"}, Case{first_missing, "a"}, Case{second_missing, "b"}}) {
        SCOPED_TRACE(c.key);
        std::filesystem::remove("debug2");
        EXPECT_EQ(QM_callService("{}", keys, c.values), -1);
        const std::string message = messages::no_value_buffer(c.key);
        EXPECT_EQ(std::string(qm_errstr), message);
        EXPECT_EQ(trace(), message);
        EXPECT_STREQ(cell, "untouched");
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(Exchange, UnopenableTraceFileDoesNotStopTheExchange) {
    std::filesystem::create_directory("debug2");
    server.on("/service", HttpsReply::json(R"({"a":"1"})"));
    Call call({"a"});
    testing::internal::CaptureStdout();
    EXPECT_EQ(call.run("{}"), 0);
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(call.value(0), "1");
    EXPECT_NE(out.find(messages::trace_not_opened(21)), std::string::npos);
}

TEST_F(Exchange, VerifyingTheCertificateRefusesASelfSignedServer) {
    server.on("/service", HttpsReply::json(R"({"a":"1"})"));
    Call call({"a"});
    // The session saved by an unverified exchange must not spare a verifying one its check.
    ASSERT_EQ(call.run("{}"), 0);
    std::filesystem::remove("debug2");
    std::strcpy(qm_errstr, "untouched");
    {
        const Setting<bool> verifying(qmrt::http::set_tls_verify, true);
        EXPECT_EQ(call.run("{}"), -1);
    }
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(trace().find("http response"), std::string::npos);
    EXPECT_STREQ(qm_errstr, "untouched");
}

// Every exchange has a connection of its own; from the second on, its handshake resumes
// the TLS session an earlier one saved, whichever TLS version the service speaks.
TEST_F(Exchange, EachExchangeConnectsAnewAndLaterOnesResumeTheSession) {
    for (int version : {TLS1_3_VERSION, TLS1_2_VERSION}) {
        SCOPED_TRACE(version);
        HttpsTestServer service(0, version);
        service.on("/service", HttpsReply::json(R"({"a":"1"})"));
        qmrt::http::set_endpoint(service.url("/service"));
        Call call({"a"});
        for (int i = 0; i < 3; ++i) ASSERT_EQ(call.run("{}"), 0);
        const auto requests = service.requests();
        ASSERT_EQ(requests.size(), 3u);
        EXPECT_NE(requests[0].client_port, requests[1].client_port);
        EXPECT_NE(requests[1].client_port, requests[2].client_port);
        EXPECT_FALSE(requests[0].resumed);
        EXPECT_TRUE(requests[1].resumed);
        EXPECT_TRUE(requests[2].resumed);
    }
}

// A restarted service knows none of the saved sessions: the exchange makes a full
// handshake and succeeds, and the one after it resumes the new session.
TEST_F(Exchange, AfterTheServiceRestartedTheExchangeStillSucceeds) {
    auto service = std::make_unique<HttpsTestServer>();
    const int port = service->port();
    service->on("/service", HttpsReply::json(R"({"a":"1"})"));
    qmrt::http::set_endpoint(service->url("/service"));
    Call call({"a"});
    ASSERT_EQ(call.run("{}"), 0);
    ASSERT_EQ(call.run("{}"), 0);
    ASSERT_TRUE(service->requests()[1].resumed);

    service.reset();
    service = std::make_unique<HttpsTestServer>(port);
    service->on("/service", HttpsReply::json(R"({"a":"2"})"));
    ASSERT_EQ(call.run("{}"), 0);
    EXPECT_EQ(call.value(0), "2");
    ASSERT_EQ(call.run("{}"), 0);
    const auto requests = service->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].resumed);
    EXPECT_TRUE(requests[1].resumed);
}

#ifdef QMRT_SERVICE_BINARY
// The exchange against a service that misbehaves (qmrt-service --fault), and one that
// takes the connection and never starts TLS, with a stall time-out of two seconds: the
// exchange never waits for ever, never hands back a value from a reply that did not come
// whole (not even one whose part holds it), and is never cut while bytes keep coming.
struct Misbehaviour {
    const char *name;
    std::vector<std::string> options;  // empty: the silent port instead of the service
    const char *result_line;
    int32_t result;
    const char *message;    // in qm_errstr and at the end of the trace; null: untouched
    const char *part = "";  // how the part of a reply that came begins
};

TEST(ExchangeWithAMisbehavingService, NeverHangsAndNeverReadsAnIncompleteReply) {
    const Setting<long> stall(qmrt::http::set_stall_timeout, 2);

    const Misbehaviour cases[] = {
        {"connection taken, TLS never started", {}, "res = 28\n", -1, nullptr},
        {"stall", {"--fault", "stall"}, "res = 28\n", -1, nullptr},
        // The first half of the reply comes, the key's value whole in it.
        {"cut",
         {"--fault", "cut"},
         "res = 18\n",
         -1,
         "Transferred a partial file",
         R"({"saldo":"1250000",)"},
        {"reset",
         {"--fault", "reset"},
         "res = 56\n",
         -1,
         "Failure when receiving data from the peer",
         R"({"saldo":"1250000",)"},
        {"slow, past the limit",
         {"--fault", "slow", "--fault-interval", "5000"},
         "res = 28\n",
         -1,
         "Timeout was reached"},
        // Some 60 bytes 50 ms apart: longer than the limit in all, never idle that long.
        {"slow, but never idle that long",
         {"--fault", "slow", "--fault-interval", "50"},
         "res = 0\nhttp response: 200\n",
         0,
         nullptr},
        {"delayed within the limit",
         {"--delay", "1000"},
         "res = 0\nhttp response: 200\n",
         0,
         nullptr},
        {"odd status", {"--fault", "status=503"}, "res = 0\nhttp response: 503\n", 0, nullptr},
    };
    for (const Misbehaviour &c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        std::optional<ServiceProcess> service;
        std::optional<UnservedPort> silent;
        if (c.options.empty()) {
            silent.emplace(UnservedPort::Kind::silent);
            qmrt::http::set_endpoint("https://127.0.0.1:" + std::to_string(silent->port()) +
                                     "/service");
        } else {
            std::vector<std::string> options{"--port", "0"};
            options.insert(options.end(), c.options.begin(), c.options.end());
            service.emplace(options);
            ASSERT_NE(service->port(), 0) << service->startup_line();
            qmrt::http::set_endpoint(service->url("/service"));
        }
        std::strcpy(qm_errstr, "untouched");
        Call call({"saldo"});
        EXPECT_EQ(call.run(R"({"saldo":"1250000"})"), c.result);
        const std::string t = read_file("debug2");
        EXPECT_NE(t.find(c.result_line), std::string::npos) << t;
        if (c.result == 0) {
            EXPECT_EQ(call.value(0), "1250000");
        } else {
            EXPECT_TRUE(call.cell_untouched(0));
        }
        const std::string message = c.message ? messages::reply_cut_short(c.message) : "untouched";
        EXPECT_EQ(std::string(qm_errstr), message);
        if (c.message) {
            // The part that came stays in the reply block, traced as the reply; nothing
            // of it is read.
            ASSERT_GT(g_birt_size, 0);
            EXPECT_TRUE(std::string_view(g_birt_temp).starts_with(c.part)) << g_birt_temp;
            EXPECT_TRUE(t.ends_with(std::string(c.result_line) +
                                    "QM_callService:jawaban server=\n" + g_birt_temp + "\n" +
                                    message))
                << t;
        }
        mbfree(g_birt_temp);
        g_birt_temp = nullptr;
        g_birt_size = 0;
    }
}
#endif

}  // namespace
}  // namespace qmrt::test
