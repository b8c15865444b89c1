// The HTTP client in a process where libcurl cannot be loaded: the exchange and the fetch
// fail as they do when libcurl cannot make a transfer handle, nothing of libcurl is
// mapped, and a later transfer loads libcurl once it can be found. This binary names a
// soname that does not exist before anything could load libcurl.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

#include "emulator.hpp"
#include "http/http.hpp"
#include "https_test_server.hpp"
#include "messages.hpp"
#include "qmrt/calendar.h"
#include "qmrt/diag.h"
#include "qmrt/http.h"
#include "qmrt/memory.h"
#include "scratch_dir.hpp"

namespace qmrt::test {
namespace {

bool libcurl_mapped() {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.find("libcurl") != std::string::npos) return true;
    return false;
}

TEST(WithoutLibcurl, TransfersFailAsWithoutAHandleUntilLibcurlIsFound) {
    // Nothing in this binary transfers before this line, so libcurl is not loaded yet.
    qmrt::http::set_curl_soname("libcurl-absent.so.4");
    ScratchDir dir;
    const char *const keys[] = {"status", nullptr};
    char cell[QM_VALUE_SIZE] = "untouched";
    char *values[] = {cell};

    // The exchange reads the clock and releases the last reply, as every exchange does
    // before it makes its handle, then fails with nothing traced.
    g_birt_temp = static_cast<char *>(mballc(4, 1));
    g_birt_size = 3;
    g_timesec = -1;
    EXPECT_EQ(QM_callService(R"({"perintah":"saldo"})", keys, values), -1);
    EXPECT_STREQ(qm_errstr, messages::no_libcurl);
    EXPECT_STREQ(cell, "untouched");
    EXPECT_EQ(g_birt_temp, nullptr);
    EXPECT_EQ(g_birt_size, 0);
    EXPECT_NE(g_timesec, -1);
    EXPECT_FALSE(std::filesystem::exists("debug2"));

    EXPECT_EXIT(json_fetch("https://127.0.0.1:1/doc.json"), testing::KilledBySignal(SIGABRT),
                Reported("^json_fetch: assertion failed: curl != NULL "
                         "\\(src/http/fetch\\.cpp, line [0-9]+\\)\n$"));
    EXPECT_FALSE(libcurl_mapped());

    // A failed load is not kept: once libcurl can be found, the next exchange loads it.
    HttpsTestServer server;
    server.on("/service", HttpsReply::json(R"({"status":"ok"})"));
    qmrt::http::set_endpoint(server.url("/service"));
    qmrt::http::set_tls_verify(false);
    qmrt::http::set_curl_soname("libcurl.so.4");
    EXPECT_EQ(QM_callService(R"({"perintah":"saldo"})", keys, values), 0);
    EXPECT_STREQ(cell, "ok");
    EXPECT_TRUE(libcurl_mapped());
    mbfree(g_birt_temp);
    g_birt_temp = nullptr;
    g_birt_size = 0;
}

}  // namespace
}  // namespace qmrt::test
