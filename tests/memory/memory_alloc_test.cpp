// The library's allocator calls, seen from outside: this binary defines the allocator
// entry points itself (the static library's calls bind to them), forwards them to
// glibc, records the calls made while a test watches and fails one on demand.
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
#include "qmrt/memory.h"

extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *block, std::size_t size);
void __libc_free(void *block);
}

namespace {

enum class Kind { malloc, calloc, realloc, free };

struct Call {
    Kind kind;
    const void *block;  // argument of realloc and free
    std::size_t a, b;   // sizes, or count and size for calloc
    const void *result;
};

// Plain static storage: the hooks run before main and must not allocate.
constexpr std::size_t max_calls = 64;
Call calls[max_calls];
std::size_t call_count = 0;
bool watching = false;
bool fail_next[4] = {};

bool should_fail(Kind kind) {
    bool &flag = fail_next[static_cast<int>(kind)];
    const bool fail = flag;
    flag = false;
    if (fail && (kind == Kind::malloc || kind == Kind::calloc))
        fail_next[static_cast<int>(Kind::malloc)] = fail_next[static_cast<int>(Kind::calloc)] = false;
    return fail;
}

void note(Kind kind, const void *block, std::size_t a, std::size_t b, const void *result) {
    if (watching && call_count < max_calls) calls[call_count++] = Call{kind, block, a, b, result};
}

// Watches the allocator calls of one scope.
class Watch {
public:
    Watch() {
        call_count = 0;
        watching = true;
    }
    ~Watch() { watching = false; }
    Watch(const Watch &) = delete;
    Watch &operator=(const Watch &) = delete;

    std::vector<Call> calls() const {
        watching = false;
        std::vector<Call> seen(::calls, ::calls + call_count);
        watching = true;
        return seen;
    }
};

// The next call of this kind fails with ENOMEM, as an exhausted heap does.
void fail_next_call(Kind kind) {
    fail_next[static_cast<int>(kind)] = true;
}

// A block the source asks for with malloc and then fills with zeros may reach the
// allocator as one calloc (clang merges the two): the next of either fails.
void fail_next_new_block() {
    fail_next_call(Kind::malloc);
    fail_next_call(Kind::calloc);
}

// The bytes a call asks for as a new block (0 for realloc and free).
std::size_t new_block_bytes(const Call &call) {
    if (call.kind == Kind::malloc) return call.a;
    if (call.kind == Kind::calloc) return call.a * call.b;
    return 0;
}

}  // namespace

extern "C" {
void *malloc(std::size_t size) noexcept {
    void *result = nullptr;
    if (should_fail(Kind::malloc))
        errno = ENOMEM;
    else
        result = __libc_malloc(size);
    note(Kind::malloc, nullptr, size, 0, result);
    return result;
}

void *calloc(std::size_t count, std::size_t size) noexcept {
    void *result = nullptr;
    if (should_fail(Kind::calloc))
        errno = ENOMEM;
    else
        result = __libc_calloc(count, size);
    note(Kind::calloc, nullptr, count, size, result);
    return result;
}

void *realloc(void *block, std::size_t size) noexcept {
    void *result = nullptr;
    if (should_fail(Kind::realloc))
        errno = ENOMEM;
    else
        result = __libc_realloc(block, size);
    note(Kind::realloc, block, size, 0, result);
    return result;
}

void free(void *block) noexcept {
    note(Kind::free, block, 0, 0, nullptr);
    __libc_free(block);
}
}

namespace {

using qmrt::test::Reported;
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
        std::vector<Call> seen;
        void *block = nullptr;
        {
            Watch watch;
            block = mballc(row.n, row.s);
            seen = watch.calls();
        }
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
        const char *out;
    };
    const Row rows[] = {
        {3, 6, "memory habis untuk  3 x 8, errno = 12\n"},
        {5, 1, "memory habis untuk  1 x 8, errno = 12\n"},
        {0, 8, "mballc sizobj = 8; numobj = 0\nmemory habis untuk  1 x 4, errno = 12\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.out);
        std::fflush(stdout);
        testing::internal::CaptureStdout();
        fail_next_call(Kind::calloc);
        void *block = mballc(row.n, row.s);
        EXPECT_EQ(captured_stdout(), row.out);
        EXPECT_EQ(block, nullptr);
    }
}

TEST(CpmemLongCalls, AllocatesThenReleasesTheOldBlock) {
    std::uint32_t count = 3;
    void *block = mballc(3, 6);
    void *const old = block;
    Watch watch;
    ASSERT_EQ(QM_CPMEM_LONG(&count, 2, &block, 6), 0);
    const std::vector<Call> seen = watch.calls();
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
    std::vector<Call> seen;
    bounded_buf *buf = nullptr;
    {
        Watch watch;
        buf = buf_size(nullptr, 0);
        buf_size(buf, 16);
        buf_size(buf, 0);
        seen = watch.calls();
    }
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(new_block_bytes(seen[0]), sizeof(bounded_buf));
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
    EXPECT_EXIT(
        {
            fail_next_new_block();
            buf_size(nullptr, 8);
        },
        KilledBySignal(SIGABRT), Reported(report("buf_size", "buf != NULL")));
    EXPECT_EXIT(
        {
            fail_next_call(Kind::realloc);
            buf_size(nullptr, 8);
        },
        KilledBySignal(SIGABRT), Reported(report("buf_size", "buf->data != NULL")));
    EXPECT_EXIT(
        {
            bounded_buf *buf = buf_size(nullptr, 8);
            fail_next_call(Kind::realloc);
            buf_size(buf, 4);
        },
        KilledBySignal(SIGABRT), Reported(report("buf_size", "buf->data != NULL")));
    EXPECT_EXIT(
        {
            bounded_buf *buf = buf_size(nullptr, 8);
            fail_next_call(Kind::malloc);
            buf_tostr(buf);
        },
        KilledBySignal(SIGABRT), Reported(report("buf_tostr", "str != NULL")));
}

}  // namespace
