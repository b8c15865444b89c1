// The exchange when memory runs out while the reply arrives: the process allocator refuses
// large blocks on demand, as an exhausted heap would refuse the growing reply block.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "failing_allocator.hpp"
#include "files.hpp"
#include "http/http.hpp"
#include "https_test_server.hpp"
#include "messages.hpp"
#include "qmrt/diag.h"
#include "qmrt/http.h"
#include "qmrt/memory.h"
#include "scratch_dir.hpp"

namespace qmrt::test {
namespace {

TEST(ExchangeOutOfMemory, GrowthFailureAbortsTheTransferWithAWriteError) {
    ScratchDir dir;
    HttpsTestServer server;
    const std::string body = R"({"a":"1","pad":")" + std::string(200000, 'p') + R"(","z":"2"})";
    server.on("/service", HttpsReply::json(body));
    qmrt::http::set_endpoint(server.url("/service"));

    const char *keys[] = {"z", nullptr};
    char cell[QM_VALUE_SIZE] = "untouched";
    char *values[] = {cell};
    testing::internal::CaptureStdout();
    alloc::arm(0, 65536);
    const int32_t result = QM_callService("{}", keys, values);
    alloc::disarm();
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(result, -1);
    EXPECT_STREQ(cell, "untouched");
    EXPECT_NE(out.find(", errno = 12\n"), std::string::npos) << out;
    EXPECT_EQ(out.rfind("memory habis untuk  1 x ", 0), 0u) << out;
    EXPECT_NE(read_file("debug2").find("res = 23\n"), std::string::npos);
    // What arrived before the refusal is kept whole and still terminated.
    ASSERT_NE(g_birt_temp, nullptr);
    EXPECT_LT(g_birt_size, 65536);
    EXPECT_EQ(std::strlen(g_birt_temp), static_cast<std::size_t>(g_birt_size));
    EXPECT_EQ(body.compare(0, g_birt_size, g_birt_temp), 0);
    EXPECT_EQ(std::string(qm_errstr),
              messages::reply_cut_short("Failed writing received data to disk/application"));
    mbfree(g_birt_temp);
    g_birt_temp = nullptr;
    g_birt_size = 0;
}

}  // namespace
}  // namespace qmrt::test
