// Rounded allocation, counted block growth and the bounded byte buffer, observed without
// replacing the allocator, so these run in the sanitized build too.
#include "memory/memory.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "emulator.hpp"
#include "messages.hpp"
#include "qmrt/memory.h"

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime's allocator interface.
extern "C" int __sanitizer_get_ownership(const volatile void *block);
extern "C" std::size_t __sanitizer_get_allocated_size(const volatile void *block);

// Allocations past what the machine can give must come back null here, as they do
// from the plain allocator, instead of ending the test.
extern "C" const char *__asan_default_options() {
    return "allocator_may_return_null=1";
}
#endif

namespace qmrt::test {
namespace {

using testing::KilledBySignal;

// The exact size of a live heap block, 0 once released; known only where the
// sanitizer's allocator can tell.
std::optional<std::size_t> allocated_size(const void *block) {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_ownership(block) ? __sanitizer_get_allocated_size(block) : 0;
#else
    (void)block;
    return std::nullopt;
#endif
}

bool all_zero(const void *block, std::size_t bytes) {
    const auto *p = static_cast<const unsigned char *>(block);
    return std::all_of(p, p + bytes, [](unsigned char b) { return b == 0; });
}

// Standard output of `call`, everything the library printed included.
std::string stdout_of(const std::function<void()> &call) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    call();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// A pointer that must never be read or released: any use of it crashes the test.
void *const untouchable = reinterpret_cast<void *>(std::uintptr_t{0xdead0});

// ---- The rounding rule ----

struct RoundingRow {
    std::uint32_t n, s;
    std::uint64_t count, size;
    bool message;
};

constexpr RoundingRow rounding_table[] = {
    {0, 8, 1, 4, true},  {5, 0, 1, 4, true},  {0, 0, 1, 4, true},  {1, 1, 1, 4, false},
    {5, 1, 1, 8, false}, {8, 1, 1, 8, false}, {3, 2, 3, 4, false}, {3, 6, 3, 8, false},
    {3, 8, 3, 8, false}, {2, 3, 2, 4, false}, {7, 5, 7, 8, false}, {1, 32767, 1, 32768, false},
};

TEST(RoundingRule, LargestValuesDoNotWrapToSmallBlocks) {
    using qmrt::memory::round_allocation;
    EXPECT_TRUE(round_allocation(0xFFFFFFFCu, 1).fits());
    EXPECT_FALSE(round_allocation(0xFFFFFFFDu, 1).fits());
    EXPECT_EQ(round_allocation(0xFFFFFFFFu, 1).size, 0x100000000u);
    EXPECT_FALSE(round_allocation(2, 0xFFFFFFFDu).fits());
    EXPECT_EQ(round_allocation(2, 0xFFFFFFFFu).size, 0x100000000u);
}

// ---- mballc and mbfree ----

TEST(Mballc, AllocatesZeroFilledBlocksByTheRule) {
    for (const RoundingRow &row : rounding_table) {
        SCOPED_TRACE(testing::Message() << "n " << row.n << ", s " << row.s);
        void *block = nullptr;
        const std::string out = stdout_of([&] { block = mballc(row.n, row.s); });
        ASSERT_NE(block, nullptr);
        const std::size_t bytes = row.count * row.size;
        EXPECT_TRUE(all_zero(block, bytes));
        if (auto size = allocated_size(block)) {
            EXPECT_EQ(*size, bytes);
        }
        EXPECT_EQ(out, row.message ? messages::zero_request(static_cast<int>(row.s),
                                                            static_cast<int>(row.n))
                                   : "");
        mbfree(block);
    }
}

TEST(Mballc, PrintsCountAndSizeAsSignedDecimals) {
    void *block = nullptr;
    EXPECT_EQ(stdout_of([&] { block = mballc(0, 0xFFFFFFFFu); }), messages::zero_request(-1, 0));
    mbfree(block);
}

TEST(Mballc, RefusesRoundingThatWouldWrap) {
    const struct {
        std::uint32_t n, s;
    } rows[] = {{0xFFFFFFFDu, 1u}, {0xFFFFFFFFu, 1u}, {1u, 0xFFFFFFFDu}};
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "n " << row.n << ", s " << row.s);
        void *block = untouchable;
        errno = 0;
        EXPECT_EQ(stdout_of([&] { block = mballc(row.n, row.s); }), "");
        EXPECT_EQ(block, nullptr);
        EXPECT_EQ(errno, ENOMEM);
    }
}

// ---- QM_CPMEM_LONG ----

// A counted block of `count` elements of `size` bytes filled with 1, 2, 3...
struct Counted {
    std::uint32_t count = 0;
    void *block = nullptr;

    Counted(std::uint32_t elements, std::int16_t size) {
        if (elements == 0) return;
        block = mballc(elements, static_cast<std::uint32_t>(size));
        count = elements;
        auto *bytes = static_cast<unsigned char *>(block);
        for (std::uint32_t i = 0; i < elements * static_cast<std::uint32_t>(size); ++i)
            bytes[i] = static_cast<unsigned char>(i + 1);
    }
    Counted(const Counted &) = delete;
    Counted &operator=(const Counted &) = delete;
    ~Counted() {
        if (count != 0) mbfree(block);
    }
};

bool holds_pattern(const void *block, std::size_t bytes) {
    const auto *p = static_cast<const unsigned char *>(block);
    for (std::size_t i = 0; i < bytes; ++i)
        if (p[i] != static_cast<unsigned char>(i + 1)) return false;
    return true;
}

struct GrowthRow {
    std::uint32_t count, add;
    std::int16_t size;
    std::size_t new_bytes;  // of the new block
    std::string message;
};

TEST(CpmemLong, GrowsIntoANewBlock) {
    const GrowthRow rows[] = {
        {0, 5, 1, 8, ""},
        {3, 2, 6, 40, ""},
        {0, 0, 4, 4, messages::zero_request(4, 0)},
        {2, 3, 0, 4, messages::zero_request(0, 5)},
        {4, 4, 1, 8, ""},
        {1, 0, 2, 4, ""},
    };
    for (const GrowthRow &row : rows) {
        SCOPED_TRACE(testing::Message()
                     << "count " << row.count << ", add " << row.add << ", size " << row.size);
        Counted cells(row.count, row.size);
        void *const old = cells.block;
        // While the count is 0 the block cell must be neither read nor released.
        if (row.count == 0) cells.block = untouchable;
        int result = -1;
        EXPECT_EQ(stdout_of([&] {
                      result = QM_CPMEM_LONG(&cells.count, row.add, &cells.block, row.size);
                  }),
                  row.message);
        ASSERT_EQ(result, 0);
        EXPECT_EQ(cells.count, row.count + row.add);
        ASSERT_NE(cells.block, untouchable);
        if (row.count != 0) {
            EXPECT_NE(cells.block, old);
            if (auto size = allocated_size(old)) {
                EXPECT_EQ(*size, 0u) << "old block not released";
            }
        }
        if (auto size = allocated_size(cells.block)) {
            EXPECT_EQ(*size, row.new_bytes);
        }
        const std::size_t copied = std::size_t{row.count} * static_cast<std::size_t>(row.size);
        EXPECT_TRUE(holds_pattern(cells.block, copied));
        EXPECT_TRUE(all_zero(static_cast<char *>(cells.block) + copied, row.new_bytes - copied));
        if (cells.count == 0) mbfree(cells.block);
    }
}

// Growths outside the 32-bit limits: refused with 1, printing and allocating nothing.
TEST(CpmemLong, RefusesGrowthPastTheLimits) {
    struct Row {
        const char *why;
        std::uint32_t count, add;
        std::int16_t size;
    };
    const Row rows[] = {
        {"negative element size", 3, 1, -1},
        {"negative element size, nothing held", 0, 1, INT16_MIN},
        {"count past UINT32_MAX", 2, 0xFFFFFFFFu, 1},
        {"byte block rounded past 32 bits", 0, 0xFFFFFFFDu, 1},
        {"rounded size times count past 32 bits", 0, 0x20000000u, 6},
        {"largest element size", 1, 131072, 32767},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.why);
        Counted cells(row.count, row.size < 0 ? 6 : row.size);
        void *const old = cells.block;
        const std::size_t held = std::size_t{row.count} * (row.size < 0 ? 6 : row.size);
        int result = -1;
        EXPECT_EQ(stdout_of([&] {
                      result = QM_CPMEM_LONG(&cells.count, row.add, &cells.block, row.size);
                  }),
                  "");
        EXPECT_EQ(result, 1);
        EXPECT_EQ(cells.count, row.count);
        EXPECT_EQ(cells.block, old);
        EXPECT_TRUE(holds_pattern(cells.block, held));
    }
}

TEST(CpmemLong, GrowthLimitsSitExactlyAtThirtyTwoBits) {
    using qmrt::memory::growth_allowed;
    EXPECT_TRUE(growth_allowed(0, 0xFFFFFFFCu, 1));
    EXPECT_FALSE(growth_allowed(0, 0xFFFFFFFDu, 1));
    EXPECT_TRUE(growth_allowed(0, 0x1FFFFFFFu, 6));  // 8 × count = 4294967288
    EXPECT_FALSE(growth_allowed(1, 0x1FFFFFFFu, 6));
    EXPECT_TRUE(growth_allowed(0xFFFFFFFFu, 0, 0));  // a zero size is always 4 bytes
    EXPECT_FALSE(growth_allowed(0xFFFFFFFFu, 1, 0));
    EXPECT_FALSE(growth_allowed(0xFFFFFFFCu, 0, 1, 1));
    EXPECT_TRUE(growth_allowed(0xFFFFFFFBu, 0, 1, 1));
    EXPECT_FALSE(growth_allowed(0, 0, -1));
}

TEST(GrowBlock, SpareElementsAreAllocatedZeroButNotCounted) {
    std::uint32_t count = 0;
    void *block = nullptr;
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    for (const char *chunk : {"abcd", "efgh"}) {
        void *grown = qmrt::memory::grow_block(count, 4, block, 1, 1);
        ASSERT_NE(grown, nullptr);
        std::memcpy(static_cast<char *>(grown) + count, chunk, 4);
        block = grown;
        count += 4;
        // A multiple of 4 bytes still leaves a zero after them.
        EXPECT_STREQ(static_cast<char *>(block), count == 4 ? "abcd" : "abcdefgh");
        if (auto size = allocated_size(block)) {
            EXPECT_EQ(*size, count + 4);
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    mbfree(block);
}

// ---- Out of memory, in a child whose address space is capped ----

struct ChildRun {
    int status;
    std::string out;
};

// Runs `body` in a child with standard output on a pipe and at most `headroom` bytes of
// address space beyond what it uses now; `body` returns the child's exit status.
ChildRun run_capped(std::uint64_t headroom, const std::function<int()> &body) {
    std::fflush(stdout);
    int fds[2];
    if (::pipe(fds) != 0) return {-1, ""};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[1]);
        std::uint64_t pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const std::uint64_t used = pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
        const auto limit = static_cast<rlim_t>(used + headroom);
        const rlimit cap{limit, limit};
        if (pages == 0 || ::setrlimit(RLIMIT_AS, &cap) != 0) ::_exit(99);
        const int status = body();
        std::fflush(stdout);
        ::_exit(status);
    }
    ::close(fds[1]);
    std::string out;
    char chunk[256];
    for (ssize_t n; (n = ::read(fds[0], chunk, sizeof chunk)) > 0;)
        out.append(chunk, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = -1;
    ::waitpid(child, &status, 0);
    return {status, out};
}

constexpr std::uint64_t headroom = 256u << 20;

// Whether this host holds a process to its address-space cap: an emulator such as
// qemu-user takes the limit and ignores it, and a test of running out of memory then
// cannot run out.
bool address_space_cap_holds() {
    const ChildRun run = run_capped(headroom, [] {
        void *block = ::mmap(nullptr, 2 * headroom, PROT_NONE,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        return block == MAP_FAILED ? 0 : 1;
    });
    return WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0;
}

class OutOfMemory : public testing::Test {
protected:
    void SetUp() override {
        static const bool holds = address_space_cap_holds();
        if (!holds) GTEST_SKIP() << "this host does not hold a process to RLIMIT_AS (an emulator?)";
    }
};

TEST_F(OutOfMemory, MballcPrintsTheAllocationAndErrno) {
    const ChildRun run = run_capped(headroom, [] {
        std::printf("start\n");
        return mballc(0x60000000u, 1) == nullptr ? 0 : 1;
    });
    ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
    EXPECT_EQ(WEXITSTATUS(run.status), 0);
    EXPECT_EQ(run.out, "start\n" + messages::out_of_memory(1, 1610612736, ENOMEM));
}

TEST_F(OutOfMemory, FailedGrowthLeavesTheCountedBlockAsItWas) {
    const ChildRun run = run_capped(headroom, [] {
        std::printf("start\n");
        Counted cells(3, 6);
        void *const old = cells.block;
        const int result = QM_CPMEM_LONG(&cells.count, 0x0C000000u, &cells.block, 6);
        if (result != 1) return 1;
        if (cells.count != 3 || cells.block != old) return 2;
        if (!holds_pattern(cells.block, 18)) return 3;
        // The old block is still live and can still be grown within the cap.
        if (QM_CPMEM_LONG(&cells.count, 2, &cells.block, 6) != 0 || !holds_pattern(cells.block, 18))
            return 4;
        return 0;
    });
    ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
    EXPECT_EQ(WEXITSTATUS(run.status), 0);
    EXPECT_EQ(run.out, "start\n" + messages::out_of_memory(201326595, 8, ENOMEM));
}

// ---- The bounded byte buffer ----

// Owns a buffer the way its callers do: the data block, then the record.
struct OwnedBuf {
    bounded_buf *buf;
    explicit OwnedBuf(std::uint64_t size) : buf(buf_size(nullptr, size)) {}
    OwnedBuf(const OwnedBuf &) = delete;
    OwnedBuf &operator=(const OwnedBuf &) = delete;
    ~OwnedBuf() {
        std::free(buf->data);
        std::free(buf);
    }
    std::string held() const { return std::string(buf->data, buf->len); }
};

TEST(BufSize, CreatesAnEmptyBufferOfTheAskedCapacity) {
    OwnedBuf b(32768);
    EXPECT_EQ(b.buf->len, 0u);
    EXPECT_EQ(b.buf->limit, 32768u);
    ASSERT_NE(b.buf->data, nullptr);
    if (auto size = allocated_size(b.buf->data)) {
        EXPECT_EQ(*size, 32768u);
    }
}

TEST(BufSize, ResizingKeepsTheBytesBothSizesShare) {
    struct Row {
        std::uint64_t size, len;
        const char *held;
    };
    const Row rows[] = {{4, 4, "0123"}, {10, 10, "0123456789"}, {64, 10, "0123456789"}, {0, 0, ""}};
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "size " << row.size);
        OwnedBuf b(12);
        buf_concat(b.buf, "0123456789", 10);
        EXPECT_EQ(buf_size(b.buf, row.size), b.buf);
        EXPECT_EQ(b.buf->len, row.len);
        EXPECT_EQ(b.buf->limit, row.size);
        EXPECT_EQ(b.held(), row.held);
        if (auto size = allocated_size(b.buf->data)) {
            EXPECT_EQ(*size, std::max<std::uint64_t>(row.size, 1));
        }
    }
}

TEST(BufSize, ZeroSizeKeepsALiveEmptyBlock) {
    OwnedBuf b(0);
    EXPECT_EQ(b.buf->len, 0u);
    EXPECT_EQ(b.buf->limit, 0u);
    ASSERT_NE(b.buf->data, nullptr);
    if (auto size = allocated_size(b.buf->data)) {
        EXPECT_GT(*size, 0u);
    }
    buf_concat(b.buf, "", 0);
    char *text = buf_tostr(b.buf);
    EXPECT_STREQ(text, "");
    std::free(text);
    buf_size(b.buf, 3);
    buf_concat(b.buf, "abc", 3);
    EXPECT_EQ(b.held(), "abc");
    buf_size(b.buf, 0);
    EXPECT_EQ(b.buf->len, 0u);
    buf_size(b.buf, 2);
    buf_push(b.buf, 'x');
    EXPECT_EQ(b.held(), "x");
}

TEST(BufPushAndConcat, AppendUpToTheLimitExactly) {
    OwnedBuf b(8);
    buf_push(b.buf, 'a');
    buf_push(b.buf, '\0');
    buf_push(b.buf, 'b');
    buf_concat(b.buf, "cd\0ef", 5);
    EXPECT_EQ(b.buf->len, 8u);
    EXPECT_EQ(b.buf->limit, 8u);
    EXPECT_EQ(b.held(), std::string("a\0bcd\0ef", 8));
    buf_concat(b.buf, "zz", 0);  // nothing to add still fits a full buffer
    EXPECT_EQ(b.held(), std::string("a\0bcd\0ef", 8));
}

TEST(BufTostr, CopiesTheHeldBytesAndATerminator) {
    for (const std::string &held :
         {std::string(), std::string("ab\0c", 4), std::string(1000, 'q')}) {
        SCOPED_TRACE(testing::Message() << "length " << held.size());
        OwnedBuf b(held.size() + 3);
        buf_concat(b.buf, held.data(), held.size());
        char *text = buf_tostr(b.buf);
        ASSERT_NE(text, nullptr);
        if (auto size = allocated_size(text)) {
            EXPECT_EQ(*size, held.size() + 1);
        }
        EXPECT_EQ(std::memcmp(text, held.c_str(), held.size() + 1), 0);
        EXPECT_EQ(std::strlen(text), std::strlen(held.c_str()));
        EXPECT_NE(text, b.buf->data);
        EXPECT_EQ(b.held(), held);
        std::free(text);
    }
}

// ---- Fatal checks of the bounded buffer ----

std::string report(const char *function, const char *condition) {
    std::string pattern = "^";
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's allocator remarks on a request it cannot serve before null comes back.
    pattern += "(==[0-9]+==WARNING: AddressSanitizer failed to allocate 0x[0-9a-f]+ bytes\n)?";
#endif
    pattern += std::string(function) + ": assertion failed: ";
    for (const char *c = condition; *c; ++c) {
        if (std::strchr("()[]{}.*+?^$|\\", *c)) pattern += '\\';
        pattern += *c;
    }
    return pattern + " \\(src/memory/[a-z_]+\\.cpp, line [0-9]+\\)\n$";
}

struct FatalRow {
    const char *what;
    const char *function;
    const char *condition;
    std::function<void()> call;
};

TEST(BoundedBufDeathTest, EveryBrokenCheckReportsItsFunctionAndCondition) {
    static char bytes[16];
    // A record whose length no allocation can cover (its data is never read).
    static bounded_buf huge{std::uint64_t{1} << 62, std::uint64_t{1} << 62, bytes};
    static bounded_buf endless{UINT64_MAX, UINT64_MAX, bytes};
    // The largest count this host's allocator takes, and one past it by two: on a 32-bit
    // host a count cut to its size_t would ask for 0 and 1 bytes and succeed.
    static bounded_buf widest{SIZE_MAX, SIZE_MAX, bytes};
    static constexpr std::uint64_t past_size_t =
        SIZE_MAX == UINT64_MAX ? UINT64_MAX : std::uint64_t{SIZE_MAX} + 2;
    static bounded_buf full{2, 2, bytes};
    static bounded_buf partly{1, 8, bytes};
    const FatalRow rows[] = {
        {"push into null", "buf_push", "buf != NULL", [] { buf_push(nullptr, 'x'); }},
        {"push into full", "buf_push", "buf->len < buf->limit", [] { buf_push(&full, 'x'); }},
        {"push into empty capacity", "buf_push", "buf->len < buf->limit",
         [] { buf_push(buf_size(nullptr, 0), 'x'); }},
        {"concat into null", "buf_concat", "dst != NULL", [] { buf_concat(nullptr, "a", 1); }},
        {"concat from null", "buf_concat", "src != NULL", [] { buf_concat(&partly, nullptr, 1); }},
        {"concat nothing from null", "buf_concat", "src != NULL",
         [] { buf_concat(&partly, nullptr, 0); }},
        {"concat one byte into full", "buf_concat", "dst->len + len <= dst->limit",
         [] { buf_concat(&full, "a", 1); }},
        {"concat one byte too many", "buf_concat", "dst->len + len <= dst->limit",
         [] { buf_concat(&partly, "12345678", 8); }},
        {"concat count that wraps the sum", "buf_concat", "dst->len + len <= dst->limit",
         [] { buf_concat(&partly, "a", UINT64_MAX); }},
        {"tostr of null", "buf_tostr", "buf != NULL", [] { buf_tostr(nullptr); }},
        {"tostr too long to allocate", "buf_tostr", "str != NULL", [] { buf_tostr(&huge); }},
        {"tostr with no room for a terminator", "buf_tostr", "str != NULL",
         [] { buf_tostr(&endless); }},
        {"size too large to allocate", "buf_size", "buf->data != NULL",
         [] { buf_size(nullptr, std::uint64_t{1} << 62); }},
        {"resize too large to allocate", "buf_size", "buf->data != NULL",
         [] { buf_size(buf_size(nullptr, 4), UINT64_MAX); }},
        {"tostr whose terminator passes the host's size_t", "buf_tostr", "str != NULL",
         [] { buf_tostr(&widest); }},
        {"size past the host's size_t", "buf_size", "buf->data != NULL",
         [] { buf_size(nullptr, past_size_t); }},
    };
    for (const FatalRow &row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EXIT(row.call(), KilledBySignal(SIGABRT),
                    Reported(report(row.function, row.condition)));
    }
}

}  // namespace
}  // namespace qmrt::test
