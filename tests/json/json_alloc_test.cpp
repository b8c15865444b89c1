// json_tokenise when each of its allocations in turn fails: the fatal report, with no
// write out of bounds before it (the core itself hands the failure back, leaving nothing
// allocated); and when none fails, the array grows as it should and every block it
// obtained is the caller's array, which leaves nothing behind once freed.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "emulator.hpp"
#include "failing_allocator.hpp"
#include "json/tokens.hpp"
#include "qmrt/json.h"

namespace qmrt::test {
namespace {

using testing::KilledBySignal;

// An array of n numbers: n + 1 tokens, so 1100 need three growth steps (256 -> 513 ->
// 1027 -> 2055): one malloc and three reallocs.
std::string numbers(int n) {
    std::string text = "[";
    for (int i = 0; i < n; ++i) text += i == 0 ? "1" : ",1";
    return text + "]";
}

// The allocator calls one json_tokenise makes, none failing, and the blocks it leaves.
std::size_t calls_of(const std::string &text, long &left) {
    std::int32_t status = 7;
    alloc::arm(0);
    json_token *tokens = json_tokenise(text.c_str(), &status);
    const std::size_t calls = alloc::calls;
    left = alloc::leaked();
    std::free(tokens);
    alloc::disarm();
    EXPECT_EQ(status, 0);
    return calls;
}

TEST(JsonTokeniseAllocation, OnlyTheArrayIsAllocatedAndNothingElseStays) {
    for (int n : {0, 300, 1100}) {
        long left = 0;
        const std::size_t calls = calls_of(numbers(n), left);
        EXPECT_EQ(calls, n < 255 ? 1u : n < 512 ? 2u : 4u) << n;
        EXPECT_EQ(left, 1) << "the array is the one block the caller owns";
        alloc::arm(0);
        std::int32_t status = 0;
        std::free(json_tokenise(numbers(n).c_str(), &status));
        EXPECT_EQ(alloc::leaked(), 0);
        alloc::disarm();
    }
}

// The array grows 256 -> 513 -> 1027 (plus the spare token each time) and the parse
// resumes: one allocation and one reallocation per step, never a fresh start.
TEST(JsonTokeniseAllocation, GrowsToTwiceAndOneResumingTheParse) {
    struct Growth {
        int tokens;
        std::vector<std::size_t> counts;
    } growths[] = {{256, {256}},
                   {257, {256, 513}},
                   {300, {256, 513}},
                   {513, {256, 513}},
                   {514, {256, 513, 1027}}};
    for (const Growth &g : growths) {
        const std::string text = numbers(g.tokens - 1);
        std::int32_t status = 7;
        alloc::arm(0);
        std::free(json_tokenise(text.c_str(), &status));
        alloc::disarm();
        std::vector<std::size_t> expected;
        for (std::size_t count : g.counts) expected.push_back((count + 1) * sizeof(json_token));
        const std::vector<alloc::Call> seen = alloc::calls_logged();
        std::vector<std::size_t> asked;
        for (const alloc::Call &call : seen)
            if (call.kind != alloc::Kind::free) asked.push_back(call.bytes());
        EXPECT_EQ(asked, expected) << g.tokens << " tokens";
        EXPECT_EQ(status, 0);
    }
}

TEST(JsonTokeniseAllocation, TheCoreHandsEachFailureBackLeavingNothing) {
    const std::string text = numbers(1100);
    long left = 0;
    const std::size_t calls = calls_of(text, left);
    for (std::size_t n = 1; n <= calls; ++n) {
        std::int32_t status = 7;
        alloc::arm(n);
        json_token *tokens = qmrt::json::tokenise(text.c_str(), status);
        const long leaked = alloc::leaked();
        alloc::disarm();
        EXPECT_EQ(tokens, nullptr) << n;
        EXPECT_EQ(leaked, 0) << n;
        EXPECT_EQ(status, 7) << n;
    }
}

TEST(JsonTokeniseAllocationDeathTest, EachFailedAllocationIsTheFatalReport) {
    const std::string text = numbers(1100);
    long left = 0;
    const std::size_t calls = calls_of(text, left);
    ASSERT_EQ(calls, 4u);
    for (std::size_t n = 1; n <= calls; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EXIT(
            {
                std::int32_t status = 0;
                alloc::arm(n);
                json_tokenise(text.c_str(), &status);
            },
            KilledBySignal(SIGABRT),
            Reported("^json_tokenise: assertion failed: tokens != NULL "
                     "\\(src/json/faces/json_tokenise\\.cpp, line [0-9]+\\)\n$"));
    }
}

}  // namespace
}  // namespace qmrt::test
