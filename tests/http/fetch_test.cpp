// The GET fetch against a local HTTPS server, and its collection buffer.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "emulator.hpp"
#include "http/http.hpp"
#include "https_test_server.hpp"
#include "messages.hpp"
#ifdef QMRT_SERVICE_BINARY
#include "service_process.hpp"
#endif
#include "qmrt/http.h"
#include "qmrt/memory.h"
#include "setting.hpp"

namespace qmrt::test {
namespace {

using testing::KilledBySignal;

// The fetched text, taken whole up to `length` bytes so zero bytes inside show too.
std::string fetch(const std::string &url, std::size_t length) {
    char *text = json_fetch(url.c_str());
    std::string whole(text, length + 1);
    std::free(text);
    return whole;
}

TEST(JsonFetch, ReturnsTheBodyOfAnyStatusAsIs) {
    HttpsTestServer server;
    struct Case {
        const char *path;
        HttpsReply reply;
    };
    const std::string large(40000, 'j');
    const Case cases[] = {
        {"/doc", HttpsReply::json(R"({"a":[1,2]})")},
        {"/empty", HttpsReply::json("")},
        {"/missing", HttpsReply::text("not here", 404)},
        {"/moved", HttpsReply::redirect("/doc")},  // not followed: the redirect's own body
        {"/large", HttpsReply::json(large)},       // in several writes
        {"/zero", HttpsReply::json(std::string("ab\0cd", 5))},
    };
    for (const Case &c : cases) server.on(c.path, c.reply);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(fetch(server.url(c.path), c.reply.body.size()), c.reply.body + '\0');
    }
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), std::size(cases)) << "no redirect was followed";
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].header("Accept"), "application/json");
    EXPECT_TRUE(requests[0].header("User-Agent").has_value());
}

TEST(JsonFetch, FailedTransferIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    HttpsTestServer server;
    const std::string url = server.url("/gone");
    server.stop();
    EXPECT_EXIT(
        json_fetch(url.c_str()), KilledBySignal(SIGABRT),
        Reported(messages::exactly(messages::transfer_failed("Couldn't connect to server"))));
}

#ifdef QMRT_SERVICE_BINARY
// A service that stalls or cuts its reply, and a URL of a scheme other than the web's,
// end in the failed transfer's report, within a second or two of stall time-out.
TEST(JsonFetch, StalledOrCutRepliesAndOtherSchemesAreFailedTransfers) {
    const Setting<long> stall(qmrt::http::set_stall_timeout, 2);
    struct Case {
        const char *fault;  // null: no service, the URL as it is
        const char *url;
        const char *reason;
    };
    const Case cases[] = {
        {"stall", "/health", "Timeout was reached"},
        {"cut", "/health", "Transferred a partial file"},
        {nullptr, "file:///etc/hostname", "Unsupported protocol"},
        {nullptr, "dict://127.0.0.1/d:word", "Unsupported protocol"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url);
        std::optional<ServiceProcess> service;
        std::string url = c.url;
        if (c.fault != nullptr) {
            service.emplace(std::vector<std::string>{"--port", "0", "--fault", c.fault});
            ASSERT_NE(service->port(), 0) << service->startup_line();
            url = service->url(c.url);
        }
        EXPECT_EXIT(json_fetch(url.c_str()), KilledBySignal(SIGABRT),
                    Reported(messages::exactly(messages::transfer_failed(c.reason))));
    }
}
#endif

// The collection buffer grows only when a chunk does not fit the room left, and then to
// its limit plus the whole chunk: the room that was left stays for the next chunks.
TEST(FetchData, GrowsTheBufferByTheWholeChunkWhenItDoesNotFit) {
    bounded_buf *buf = buf_size(nullptr, 32768);
    struct Step {
        std::size_t chunk;
        uint64_t limit_after;
    };
    const Step steps[] = {
        {30000, 32768},
        {5000, 37768},  // 2768 bytes left: 32768 + 5000, not the 35000 held afterwards
        {2768, 37768},  // fills what the growth left over
        {1, 37769},
    };
    uint64_t held = 0;
    for (const Step &step : steps) {
        std::string chunk(step.chunk, 'c');
        EXPECT_EQ(fetch_data(chunk.data(), 1, chunk.size(), buf), step.chunk);
        held += step.chunk;
        EXPECT_EQ(buf->len, held);
        EXPECT_EQ(buf->limit, step.limit_after);
    }
    std::free(buf->data);
    std::free(buf);
}

TEST(FetchData, MissingBufferOrDataEndInTheAppendReports) {
    char byte = 'x';
    EXPECT_EXIT(fetch_data(&byte, 1, 1, nullptr), KilledBySignal(SIGABRT),
                Reported("^buf_concat: assertion failed: dst != NULL \\(src/memory/"));
    bounded_buf *buf = buf_size(nullptr, 8);
    EXPECT_EXIT(fetch_data(nullptr, 1, 1, buf), KilledBySignal(SIGABRT),
                Reported("^buf_concat: assertion failed: src != NULL \\(src/memory/"));
    std::free(buf->data);
    std::free(buf);
}

}  // namespace
}  // namespace qmrt::test
