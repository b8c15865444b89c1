// The HTTP client's tests rely on the test server answering exactly as they script and
// recording exactly what it received: these tests hold it to that, seen from libcurl.
#include "https_test_server.hpp"

#include <gtest/gtest.h>

#include "curl_request.hpp"

namespace qmrt::test {
namespace {

TEST(HttpsTestServer, RedirectIsAnsweredNotFollowed) {
    HttpsTestServer server;
    server.on("/old", HttpsReply::redirect(server.url("/new")));
    server.on("/new", HttpsReply::json(R"({"moved":true})"));

    CurlResult got = curl_request(server.url("/old"));
    EXPECT_EQ(got.code, CURLE_OK);
    EXPECT_EQ(got.status, 302);
    EXPECT_EQ(got.redirect_url, server.url("/new"));
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST(HttpsTestServer, RecordsMethodPathHeadersAndExactBody) {
    HttpsTestServer server;
    server.on("/service", HttpsReply::json("{}"));
    const std::string body = "{\"a\": \"1\",\n \"b\": \"\xc3\xa9\"}";

    CurlRequest post{
        "POST", body, {"Accept: application/json", "Content-Type: application/json"}, {}};
    ASSERT_EQ(curl_request(server.url("/service"), post).code, CURLE_OK);
    ASSERT_EQ(curl_request(server.url("/other")).code, CURLE_OK);

    std::vector<RecordedRequest> seen = server.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[0].path, "/service");
    EXPECT_EQ(seen[0].body, body);
    EXPECT_EQ(seen[0].header("accept"), "application/json");
    EXPECT_EQ(seen[0].header("CONTENT-TYPE"), "application/json");
    EXPECT_EQ(seen[0].header("Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(seen[1].method, "GET");
    EXPECT_EQ(seen[1].path, "/other");
    EXPECT_EQ(seen[1].header("Content-Type"), std::nullopt);
}

TEST(HttpsTestServer, QueuedRepliesComeFirstThenPathRepliesThen404) {
    HttpsTestServer server;
    server.on("/x", HttpsReply::json(R"({"path":"x"})"));
    server.next_reply(HttpsReply::text("<html>oops</html>", 500, "text/html"));

    struct Step {
        const char *path;
        long status;
        std::string body;
    };
    for (const Step &step :
         {Step{"/x", 500, "<html>oops</html>"}, Step{"/x", 200, R"({"path":"x"})"},
          Step{"/y", 404, "no reply for /y\n"}}) {
        SCOPED_TRACE(step.path);
        CurlResult got = curl_request(server.url(step.path));
        EXPECT_EQ(got.code, CURLE_OK);
        EXPECT_EQ(got.status, step.status);
        EXPECT_EQ(got.body, step.body);
    }
}

TEST(HttpsTestServer, StoppedServerRefusesConnections) {
    HttpsTestServer server;
    server.on("/", HttpsReply::json("{}"));
    ASSERT_EQ(curl_request(server.url()).code, CURLE_OK);

    server.stop();
    EXPECT_EQ(curl_request(server.url()).code, CURLE_COULDNT_CONNECT);
    server.stop();
}

}  // namespace
}  // namespace qmrt::test
