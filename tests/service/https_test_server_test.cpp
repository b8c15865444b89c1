// The HTTP client's tests rely on the test server delivering exactly the awkward replies
// they script: these tests hold it to that, seen from libcurl.
#include "https_test_server.hpp"

#include <gtest/gtest.h>

#include "curl_request.hpp"

namespace qmrt::test {
namespace {

struct ChunkCase {
    const char *name;
    std::string body;
    std::vector<std::size_t> sizes;
    std::vector<std::size_t> writes;  // what the client's write callback sees
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ChunkCase &c, std::ostream *out) {
    *out << c.name;
}

class ChunkedReply : public testing::TestWithParam<ChunkCase> {};

TEST_P(ChunkedReply, ArrivesAsSeparateWrites) {
    const ChunkCase &c = GetParam();
    HttpsTestServer server;
    server.on("/chunks", HttpsReply::chunked(c.body, c.sizes));

    CurlResult got = curl_request(server.url("/chunks"));
    EXPECT_EQ(got.code, CURLE_OK);
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.body, c.body);
    EXPECT_EQ(got.writes, c.writes);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ChunkedReply,
    testing::Values(ChunkCase{"FiveThenSix",
                              R"({"a":"12"})"
                              "\n",
                              {5, 6},
                              {5, 6}},
                    ChunkCase{"RestAsLastChunk", "abcdefgh", {3}, {3, 5}},
                    ChunkCase{"ZeroSizesSkipped", "abc", {0, 1, 0, 2}, {1, 2}},
                    ChunkCase{"ZeroByteInside", std::string("a\0b", 3), {1, 2}, {1, 2}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(HttpsTestServer, LargeChunkedBodyArrivesWhole) {
    HttpsTestServer server;
    std::string body(40000, 'x');
    server.on("/large", HttpsReply::chunked(body, {16384, 16384, 7232}));

    CurlResult got = curl_request(server.url("/large"));
    EXPECT_EQ(got.code, CURLE_OK);
    EXPECT_EQ(got.body, body);
    EXPECT_GE(got.writes.size(), 3u);
}

TEST(HttpsTestServer, CutBodyEndsTransferWithErrorAfterPartialBody) {
    for (std::size_t sent : {std::size_t{0}, std::size_t{4}}) {
        SCOPED_TRACE(sent);
        HttpsTestServer server;
        server.on("/cut", HttpsReply::cut(R"({"a":"1"})", sent));

        CurlResult got = curl_request(server.url("/cut"));
        EXPECT_EQ(got.code, CURLE_PARTIAL_FILE);
        EXPECT_EQ(got.body, std::string(R"({"a":"1"})").substr(0, sent));
    }
}

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
