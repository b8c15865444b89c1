// A program that defines functions named as the library's services (namesakes.c) makes an
// exchange and a fetch against a local server, linked once against the shared library and
// once against the archive: the library's services must not bind to the program's names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "https_test_server.hpp"
#include "scratch_dir.hpp"
#include "subprocess.hpp"

namespace qmrt::test {
namespace {

TEST(Namesakes, LeaveTheLibrarysExchangeAndFetchAlone) {
    const std::string reply = R"({"perintah":"saldo","status":"OK"})";
    const std::string document = R"({"dokumen":[1,2,3],"nama":"saldo harian"})";
    for (const char *program : {NAMESAKES_SHARED, NAMESAKES_STATIC}) {
        SCOPED_TRACE(program);
        ScratchDir dir;
        HttpsTestServer server;
        server.on("/service", HttpsReply::json(reply));
        server.on("/doc.json", HttpsReply::json(document));
        ::setenv("QMRT_TEST_SERVICE_URL", server.url("/service").c_str(), 1);
        Finished got = run(program, {server.url("/doc.json")});
        ::unsetenv("QMRT_TEST_SERVICE_URL");

        EXPECT_EQ(got.out, "exchange 0: status=OK perintah=saldo\nfetch: " + document +
                               "\nown names called 0 times\n");
        EXPECT_EQ(got.err, "");
        EXPECT_EQ(got.status, 0);
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].method, "POST");
        EXPECT_EQ(requests[0].body, R"({"perintah":"saldo"})");
        EXPECT_EQ(requests[1].method, "GET");
    }
}

}  // namespace
}  // namespace qmrt::test
