// The reference service as developers run it: the real binary on a free port, its routes
// seen through libcurl, its log, its own certificate files, and its stop on a signal.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "curl_request.hpp"
#include "scratch_dir.hpp"
#include "self_signed.hpp"
#include "service_process.hpp"

namespace qmrt::test {
namespace {

using nlohmann::json;

// A JSON object of exactly `size` bytes.
std::string object_of_size(std::size_t size) {
    return R"({"pad":")" + std::string(size - 10, 'x') + R"("})";
}

struct RouteCase {
    const char *name;
    std::string method;
    std::string path;
    std::string body;
    long status;
    const char *reply_status;  // the reply's "status" member
};

class ServiceRoutes : public testing::Test {
protected:
    static void SetUpTestSuite() {
        service_ = new ServiceProcess();
        ASSERT_NE(service_->port(), 0) << service_->startup_line();
    }
    static void TearDownTestSuite() { delete service_; }
    static ServiceProcess *service_;
};
ServiceProcess *ServiceRoutes::service_ = nullptr;

TEST_F(ServiceRoutes, AnswerWithStatusAndJsonBody) {
    const std::size_t mib = 1024 * 1024;
    const RouteCase cases[] = {
        {"object", "POST", "/service", R"({"a":"1","n":2})", 200, "OK"},
        {"empty object", "POST", "/service", "{}", 200, "OK"},
        {"1 MiB object", "POST", "/service", object_of_size(mib), 200, "OK"},
        {"array", "POST", "/service", "[1,2]", 400, "ERROR"},
        {"not JSON", "POST", "/service", "a=1", 400, "ERROR"},
        {"empty body", "POST", "/service", "", 400, "ERROR"},
        {"over 1 MiB", "POST", "/service", object_of_size(mib + 1), 413, "ERROR"},
        {"GET", "GET", "/service", "", 405, "ERROR"},
        {"PUT", "PUT", "/service", "{}", 405, "ERROR"},
        {"DELETE", "DELETE", "/service", "", 405, "ERROR"},
        {"health", "GET", "/health", "", 200, "OK"},
        {"unknown path", "GET", "/nowhere", "", 404, "ERROR"},
    };
    for (const RouteCase &c : cases) {
        SCOPED_TRACE(c.name);
        CurlResult got = curl_request(service_->url(c.path),
                                      {c.method, c.body, {"Content-Type: application/json"}, {}});
        ASSERT_EQ(got.code, CURLE_OK);
        EXPECT_EQ(got.status, c.status);
        json reply = json::parse(got.body, nullptr, false);
        ASSERT_TRUE(reply.is_object()) << got.body;
        EXPECT_EQ(reply.value("status", ""), c.reply_status);
        if (c.status >= 400) {
            EXPECT_TRUE(reply.contains("message")) << got.body;
        }
    }
}

TEST_F(ServiceRoutes, EchoesEveryMemberAndAddsServedAt) {
    CurlResult got = curl_request(service_->url("/service"),
                                  {"POST",
                                   R"({"a":"1","nested":{"x":[1,"y"]},"status":"mine"})",
                                   {"Accept: application/json", "Content-Type: application/json"},
                                   {}});
    ASSERT_EQ(got.status, 200);
    json reply = json::parse(got.body);
    EXPECT_EQ(reply["a"], "1");
    EXPECT_EQ(reply["nested"], json::parse(R"({"x":[1,"y"]})"));
    EXPECT_EQ(reply["status"], "OK");
    EXPECT_TRUE(std::regex_match(reply["served_at"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")))
        << reply["served_at"];
    EXPECT_EQ(reply.size(), 4u);
}

TEST(Service, StopsCleanlyOnSignalAfterLoggingEachRequest) {
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        ServiceProcess service;
        ASSERT_NE(service.port(), 0) << service.startup_line();
        curl_request(service.url("/health"));
        curl_request(service.url("/service"), {"POST", "[]", {}, {}});

        const Finished stopped = service.stop(signal);
        EXPECT_EQ(stopped.status, 0);
        const std::string &log = stopped.err;
        EXPECT_TRUE(std::regex_search(log, std::regex(R"(.* GET /health 200 \d+\n)"))) << log;
        EXPECT_TRUE(std::regex_search(log, std::regex(R"(.* POST /service 400 \d+\n)"))) << log;
    }
}

TEST(Service, CapsTheTlsVersionWhenAsked) {
    ServiceProcess capped({"--port", "0", "--tls-max", "1.2"});
    ASSERT_NE(capped.port(), 0) << capped.startup_line();
    ServiceProcess open;
    ASSERT_NE(open.port(), 0) << open.startup_line();
    struct Case {
        const ServiceProcess &service;
        long lowest;
        CURLcode code;
    };
    for (const Case &c : {Case{capped, CURL_SSLVERSION_TLSv1_2, CURLE_OK},
                          Case{capped, CURL_SSLVERSION_TLSv1_3, CURLE_SSL_CONNECT_ERROR},
                          Case{open, CURL_SSLVERSION_TLSv1_3, CURLE_OK}}) {
        SCOPED_TRACE(c.service.port());
        CurlRequest request;
        request.tls_version = c.lowest;
        EXPECT_EQ(curl_request(c.service.url("/health"), request).code, c.code);
    }

    ServiceProcess refused({"--port", "0", "--tls-max", "1.1"});
    EXPECT_EQ(refused.startup_line(), "");
    EXPECT_NE(refused.stop(SIGTERM).status, 0);
}

// A stalled reply holds a worker of the service until it stops: the stop must end it.
TEST(Service, StopsCleanlyWhileAReplyStalls) {
    ServiceProcess service({"--port", "0", "--fault", "stall"});
    ASSERT_NE(service.port(), 0) << service.startup_line();
    CurlResult got;
    std::thread client([&] { got = curl_request(service.url("/health")); });
    // Time for the request to reach the service.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Finished stopped = service.stop(SIGTERM);
    client.join();
    EXPECT_EQ(stopped.status, 0);
    EXPECT_NE(got.code, CURLE_OK);
    EXPECT_EQ(got.body, "") << "a stalled reply stays unanswered";
}

TEST(Service, RefusesAFaultItCannotPlay) {
    for (const char *fault : {"hang", "status=99", "status=600", "status=5x", "status="}) {
        SCOPED_TRACE(fault);
        ServiceProcess refused({"--port", "0", "--fault", fault});
        EXPECT_EQ(refused.startup_line(), "");
        const Finished stopped = refused.stop(SIGTERM);
        EXPECT_EQ(stopped.status, 2);
        EXPECT_NE(stopped.err.find("not a fault"), std::string::npos) << stopped.err;
    }
}

TEST(Service, RefusesToStartOnAPortAlreadyServed) {
    ServiceProcess first;
    ASSERT_NE(first.port(), 0) << first.startup_line();

    ServiceProcess second({"--port", std::to_string(first.port())});
    EXPECT_EQ(second.startup_line(), "");
    const Finished stopped = second.stop(SIGTERM);
    EXPECT_EQ(stopped.status, 1);
    EXPECT_NE(stopped.err.find("cannot listen"), std::string::npos) << stopped.err;
}

TEST(Service, ServesWithGivenCertificateThatClientsCanVerify) {
    ScratchDir scratch;
    tls::Credentials made = tls::make_self_signed(1);
    std::ofstream(scratch.path() / "cert.pem") << tls::certificate_pem(*made.cert);
    std::ofstream(scratch.path() / "key.pem") << tls::private_key_pem(*made.key);
    ServiceProcess service({"--port", "0", "--cert", (scratch.path() / "cert.pem").string(),
                            "--key", (scratch.path() / "key.pem").string()});
    ASSERT_NE(service.port(), 0) << service.startup_line();

    CurlRequest verified{"GET", "", {}, (scratch.path() / "cert.pem").string()};
    CurlResult got = curl_request(service.url("/health"), verified);
    EXPECT_EQ(got.code, CURLE_OK);
    EXPECT_EQ(got.status, 200);
}

}  // namespace
}  // namespace qmrt::test
