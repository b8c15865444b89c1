// The library's allocator calls, seen from outside through the failing allocator: the
// calls made, and what comes of one that fails.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "emulator.hpp"
#include "failing_allocator.hpp"
#include "messages.hpp"
#include "qmrt/memory.h"

namespace qmrt::test {
namespace {

using alloc::Call;
using alloc::Kind;

// The allocator calls `work` makes.
template <typename Work>
std::vector<Call> calls_of(Work work) {
    alloc::arm(0);
    work();
    alloc::disarm();
    return alloc::calls_logged();
}

using testing::KilledBySignal;

std::string captured_stdout() {
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(MballcCalls, OneCallocWithExactlyTheRuleValues) {
    struct Row {
        std::uint32_t n, s;
        std::size_t count, size;
    };
    const Row rows[] = {{0, 8, 1, 4}, {5, 0, 1, 4}, {1, 1, 1, 4}, {5, 1, 1, 8},     {8, 1, 1, 8},
                        {3, 2, 3, 4}, {3, 6, 3, 8}, {3, 8, 3, 8}, {100, 1, 1, 100}, {9, 13, 9, 16}};
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "n " << row.n << ", s " << row.s);
        testing::internal::CaptureStdout();
        void *block = nullptr;
        const std::vector<Call> seen = calls_of([&] { block = mballc(row.n, row.s); });
        captured_stdout();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].kind, Kind::calloc);
        EXPECT_EQ(seen[0].a, row.count);
        EXPECT_EQ(seen[0].b, row.size);
        EXPECT_EQ(seen[0].result, block);
        mbfree(block);
    }
}

TEST(MballcCalls, FailedCallocPrintsTheAllocationAsMade) {
    struct Row {
        std::uint32_t n, s;
        std::string out;
    };
    const Row rows[] = {
        {3, 6, messages::out_of_memory(3, 8, ENOMEM)},
        {5, 1, messages::out_of_memory(1, 8, ENOMEM)},
        {0, 8, messages::zero_request(8, 0) + messages::out_of_memory(1, 4, ENOMEM)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.out);
        std::fflush(stdout);
        testing::internal::CaptureStdout();
        alloc::arm(1);
        void *block = mballc(row.n, row.s);
        alloc::disarm();
        EXPECT_EQ(captured_stdout(), row.out);
        EXPECT_EQ(block, nullptr);
    }
}

TEST(CpmemLongCalls, AllocatesThenReleasesTheOldBlock) {
    std::uint32_t count = 3;
    void *block = mballc(3, 6);
    void *const old = block;
    const std::vector<Call> seen =
        calls_of([&] { ASSERT_EQ(QM_CPMEM_LONG(&count, 2, &block, 6), 0); });
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].kind, Kind::calloc);
    EXPECT_EQ(seen[0].a, 5u);
    EXPECT_EQ(seen[0].b, 8u);
    EXPECT_EQ(seen[0].result, block);
    EXPECT_EQ(seen[1].kind, Kind::free);
    EXPECT_EQ(seen[1].block, old);
    mbfree(block);
}

TEST(BufSizeCalls, CreatesTheRecordThenTheDataAndNeverReallocatesToZero) {
    bounded_buf *buf = nullptr;
    const std::vector<Call> seen = calls_of([&] {
        buf = buf_size(nullptr, 0);
        buf_size(buf, 16);
        buf_size(buf, 0);
    });
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_NE(seen[0].kind, Kind::realloc);
    EXPECT_EQ(seen[0].bytes(), sizeof(bounded_buf));
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(seen[i].kind, Kind::realloc);
        EXPECT_GT(seen[i].a, 0u) << "a reallocation to 0 bytes may release the data block";
    }
    EXPECT_EQ(seen[1].block, nullptr);
    EXPECT_EQ(seen[2].a, 16u);
    EXPECT_EQ(seen[3].result, buf->data);
    std::free(buf->data);
    std::free(buf);
}

std::string report(const char *function, const char *condition) {
    return std::string("^") + function + ": assertion failed: " + condition +
           " \\(src/memory/[a-z_]+\\.cpp, line [0-9]+\\)\n$";
}

TEST(BoundedBufCallsDeathTest, FailedAllocationsAreFatal) {
    // The record, then its data (a new buffer); the data alone (a resize); the text.
    EXPECT_EXIT(
        {
            alloc::arm(1);
            buf_size(nullptr, 8);
        },
        KilledBySignal(SIGABRT), Reported(report("buf_size", "buf != NULL")));
    EXPECT_EXIT(
        {
            alloc::arm(2);
            buf_size(nullptr, 8);
        },
        KilledBySignal(SIGABRT), Reported(report("buf_size", "buf->data != NULL")));
    EXPECT_EXIT(
        {
            bounded_buf *buf = buf_size(nullptr, 8);
            alloc::arm(1);
            buf_size(buf, 4);
        },
        KilledBySignal(SIGABRT), Reported(report("buf_size", "buf->data != NULL")));
    EXPECT_EXIT(
        {
            bounded_buf *buf = buf_size(nullptr, 8);
            alloc::arm(1);
            buf_tostr(buf);
        },
        KilledBySignal(SIGABRT), Reported(report("buf_tostr", "str != NULL")));
}

}  // namespace
}  // namespace qmrt::test
