// The reply block as the exchange's write callback builds it, chunk by chunk.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "qmrt/http.h"
#include "qmrt/memory.h"

namespace qmrt::test {
namespace {

struct ReplyBlockTest : testing::Test {
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        mbfree(g_birt_temp);
        g_birt_temp = nullptr;
        g_birt_size = 0;
    }
    static size_t feed(std::string chunk) {
        return writefunction(chunk.data(), 1, chunk.size(), nullptr);
    }
};

TEST_F(ReplyBlockTest, EachChunkLeavesANewRoundedBlockWithAZeroAfterTheReply) {
    struct Step {
        std::string chunk;
        int32_t size_after;
        size_t block_at_least;
    };
    // 5 bytes take a block of 8; 11 take 12 (the zero byte fits in the rounding);
    // 12 take 16, since the reply must stay terminated.
    const Step steps[] = {{"hello", 5, 8}, {" world", 11, 12}, {"!", 12, 16}};
    std::string so_far;
    for (const Step &step : steps) {
        char *before = g_birt_temp;
        ASSERT_EQ(feed(step.chunk), step.chunk.size());
        so_far += step.chunk;
        EXPECT_NE(g_birt_temp, before) << "the block is replaced, never extended";
        EXPECT_EQ(g_birt_size, step.size_after);
        EXPECT_GE(malloc_usable_size(g_birt_temp), step.block_at_least);
        EXPECT_EQ(std::string(g_birt_temp), so_far);
        EXPECT_EQ(g_birt_temp[g_birt_size], '\0');
    }
}

// Past 64 KiB the block grows by at least half at a time, so a long reply is copied a
// bounded number of times per byte; up to there every chunk still leaves a new block.
TEST_F(ReplyBlockTest, LongRepliesGrowTheBlockGeometrically) {
    constexpr std::size_t chunk = 16 * 1024, total = 8 * 1024 * 1024;
    std::string reply;
    std::size_t replaced = 0;
    for (std::size_t sent = 0; sent < total; sent += chunk) {
        const std::string piece(chunk, static_cast<char>('a' + sent / chunk % 26));
        char *before = g_birt_temp;
        ASSERT_EQ(feed(piece), chunk);
        reply += piece;
        if (g_birt_temp != before) ++replaced;
        if (reply.size() <= 64 * 1024) {
            EXPECT_NE(g_birt_temp, before) << reply.size();
        }
        ASSERT_EQ(g_birt_size, static_cast<int32_t>(reply.size()));
        ASSERT_EQ(g_birt_temp[g_birt_size], '\0');
    }
    EXPECT_EQ(std::string(g_birt_temp, g_birt_size), reply);
    // 4 exact blocks, then growth by half from 64 KiB to 8 MiB: 12 more at most.
    EXPECT_LE(replaced, 4u + 12u);
}

TEST_F(ReplyBlockTest, KeepsZeroBytesOfTheReply) {
    ASSERT_EQ(writefunction(const_cast<char *>("a\0b"), 1, 3, nullptr), 3u);
    EXPECT_EQ(g_birt_size, 3);
    EXPECT_EQ(std::memcmp(g_birt_temp, "a\0b\0", 4), 0);
}

TEST_F(ReplyBlockTest, RefusesAReplyPastThirtyOneBitsAndKeepsTheBlock) {
    ASSERT_EQ(feed("abc"), 3u);
    char *block = g_birt_temp;
    g_birt_size = INT32_MAX;  // as if that much had arrived; nothing may be copied
    char byte = 'x';
    EXPECT_EQ(writefunction(&byte, 1, 1, nullptr), static_cast<size_t>(-1));
    EXPECT_EQ(g_birt_temp, block);
    EXPECT_EQ(g_birt_size, INT32_MAX);
    g_birt_size = 3;
}

TEST_F(ReplyBlockTest, RefusesAChunkWhoseByteCountOverflows) {
    char byte = 'x';
    EXPECT_EQ(writefunction(&byte, SIZE_MAX / 2, 3, nullptr), static_cast<size_t>(-1));
    EXPECT_EQ(g_birt_temp, nullptr);
    EXPECT_EQ(g_birt_size, 0);
}

}  // namespace
}  // namespace qmrt::test
