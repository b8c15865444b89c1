// The tests' one way to make an allocation fail and to see the library's allocator calls:
// a process allocator that fails a chosen call, or every calloc of a block of at least a
// chosen size (as an exhausted heap refuses the library's growing zero-filled blocks while
// smaller requests still pass). Included by exactly one source of a test binary, it
// defines malloc, calloc, realloc and free (the static library's calls bind to them) and
// forwards them to glibc. While a thread has armed it, that thread's calls are counted and
// logged, the chosen ones fail with ENOMEM as an exhausted heap would, and the blocks they
// obtain are tracked until freed, so that what is left over is a leak. Calls of other
// threads (a test server's) pass untouched, and so do calls made inside a foreign library
// (see foreign_depth) other than from this binary's own code. The sanitizers bring an
// allocator of their own, so only plain builds use this.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <vector>

extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *block, std::size_t size);
void __libc_free(void *block);
}

namespace qmrt::test::alloc {

enum class Kind { malloc, calloc, realloc, free };

// One logged call: its arguments (a is malloc's and realloc's size, calloc's count; b is
// calloc's size) and the block it returned.
struct Call {
    Kind kind;
    const void *block;  // realloc's and free's argument
    std::size_t a, b;
    const void *result;

    std::size_t bytes() const { return kind == Kind::calloc ? a * b : a; }
};

// Plain storage: the allocator runs before main and must not allocate for itself.
inline constexpr std::size_t max_tracked = 1 << 14;
inline constexpr std::size_t max_logged = 64;
inline thread_local bool armed = false;
inline thread_local std::size_t calls = 0;          // counted calls since arming (frees aside)
inline thread_local std::size_t fail_at = 0;        // 1-based; 0 fails none
inline thread_local std::size_t calloc_from = 0;    // bytes; 0 fails no calloc by size
inline thread_local std::size_t tracked_count = 0;  // blocks obtained while armed, live
inline thread_local void *tracked[max_tracked];
inline thread_local bool overflowed = false;
inline thread_local Call log[max_logged];  // the first counted calls, frees included
inline thread_local std::size_t logged = 0;

// Starts counting this thread's calls; call number `n` fails (0: none does), and so does
// every calloc of `bytes` bytes or more (0: none does).
inline void arm(std::size_t n, std::size_t bytes = 0) {
    armed = true;
    calls = 0;
    fail_at = n;
    calloc_from = bytes;
    tracked_count = 0;
    overflowed = false;
    logged = 0;
}

inline void disarm() {
    armed = false;
}

// Blocks obtained while armed and not freed since; -1 when there were too many to track.
inline long leaked() {
    return overflowed ? -1 : static_cast<long>(tracked_count);
}

// The calls logged since arming; asked once disarmed, since the list is allocated too.
inline std::vector<Call> calls_logged() {
    return {log, log + logged};
}

// Depth of calls into a library whose own allocations are passed through uncounted, so
// that a sweep stays with the calls the library under test is answerable for.
inline thread_local int foreign_depth = 0;

extern "C" char __executable_start, etext;  // this binary's code, from the linker

// A call counts when it is made while armed and either outside foreign code or from
// this binary's own code (a callback of the library under test running inside it).
inline bool counts(const void *caller) {
    if (!armed) return false;
    if (foreign_depth == 0) return true;
    const auto *where = static_cast<const char *>(caller);
    return where >= &__executable_start && where < &etext;
}

inline void note(const void *caller, const Call &call) {
    if (counts(caller) && logged < max_logged) log[logged++] = call;
}

inline bool fail_this_call(const void *caller, Kind kind, std::size_t bytes) {
    if (!counts(caller)) return false;
    return ++calls == fail_at || (kind == Kind::calloc && calloc_from != 0 && bytes >= calloc_from);
}

// Only blocks of counted calls are tracked: a foreign library's caches are its own.
inline void track(void *block, const void *caller) {
    if (block == nullptr || !counts(caller)) return;
    if (tracked_count == max_tracked) {
        overflowed = true;
        return;
    }
    tracked[tracked_count++] = block;
}

inline void untrack(void *block) {
    if (block == nullptr) return;
    for (std::size_t i = tracked_count; i-- > 0;)
        if (tracked[i] == block) {
            tracked[i] = tracked[--tracked_count];
            return;
        }
}

}  // namespace qmrt::test::alloc

extern "C" {
void *malloc(std::size_t size) noexcept {
    using namespace qmrt::test::alloc;
    const void *caller = __builtin_return_address(0);
    void *block = nullptr;
    if (fail_this_call(caller, Kind::malloc, size))
        errno = ENOMEM;
    else
        block = __libc_malloc(size);
    note(caller, {Kind::malloc, nullptr, size, 0, block});
    track(block, caller);
    return block;
}

void *calloc(std::size_t count, std::size_t size) noexcept {
    using namespace qmrt::test::alloc;
    const void *caller = __builtin_return_address(0);
    void *block = nullptr;
    if (fail_this_call(caller, Kind::calloc, count * size))
        errno = ENOMEM;
    else
        block = __libc_calloc(count, size);
    note(caller, {Kind::calloc, nullptr, count, size, block});
    track(block, caller);
    return block;
}

void *realloc(void *block, std::size_t size) noexcept {
    using namespace qmrt::test::alloc;
    const void *caller = __builtin_return_address(0);
    void *moved = nullptr;
    if (fail_this_call(caller, Kind::realloc, size)) {
        errno = ENOMEM;  // the old block stays the caller's
    } else {
        moved = __libc_realloc(block, size);
        if (moved != nullptr || size == 0) untrack(block);
    }
    note(caller, {Kind::realloc, block, size, 0, moved});
    track(moved, caller);
    return moved;
}

void free(void *block) noexcept {
    using namespace qmrt::test::alloc;
    note(__builtin_return_address(0), {Kind::free, block, 0, 0, nullptr});
    untrack(block);
    __libc_free(block);
}
}
