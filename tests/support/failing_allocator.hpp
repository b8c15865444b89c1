// The tests' one way to make an allocation fail: a process allocator that fails a chosen
// call, or every calloc of a block of at least a chosen size (as an exhausted heap refuses
// the library's growing zero-filled blocks while smaller requests still pass). Included by exactly
// one source of a test binary, it defines malloc, calloc, realloc and free (the static library's
// calls bind to them) and forwards them to glibc. While a thread has armed it, that thread's calls
// are counted and their sizes recorded, the chosen ones fail with ENOMEM as an exhausted heap
// would, and the blocks they obtain are tracked until freed, so that what is left over is a leak.
// Calls of other threads (a test server's) pass untouched, and so do calls made inside a
// foreign library (see foreign_depth) other than from this binary's own code. The sanitizers bring
// an allocator of their own, so only plain builds use this.
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

// Plain storage: the allocator runs before main and must not allocate for itself.
inline constexpr std::size_t max_tracked = 1 << 14;
inline thread_local bool armed = false;
inline thread_local std::size_t calls = 0;          // counted calls since arming
inline thread_local std::size_t fail_at = 0;        // 1-based; 0 fails none
inline thread_local std::size_t calloc_from = 0;    // bytes; 0 fails no calloc by size
inline thread_local std::size_t tracked_count = 0;  // blocks obtained while armed, live
inline thread_local void *tracked[max_tracked];
inline thread_local bool overflowed = false;
inline constexpr std::size_t max_sizes = 64;
inline thread_local std::size_t sizes[max_sizes];  // bytes asked for by the first calls

// Starts counting this thread's calls; call number `n` fails (0: none does), and so does
// every calloc of `bytes` bytes or more (0: none does).
inline void arm(std::size_t n, std::size_t bytes = 0) {
    armed = true;
    calls = 0;
    fail_at = n;
    calloc_from = bytes;
    tracked_count = 0;
    overflowed = false;
}

// The bytes each counted call asked for, in order (the first max_sizes of them); asked
// once disarmed, since the list it returns is allocated too.
inline std::vector<std::size_t> sizes_asked() {
    return {sizes, sizes + std::min(calls, max_sizes)};
}

inline void disarm() {
    armed = false;
}

// Blocks obtained while armed and not freed since; -1 when there were too many to track.
inline long leaked() {
    return overflowed ? -1 : static_cast<long>(tracked_count);
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

inline bool fail_this_call(const void *caller, std::size_t bytes, bool zero_filled = false) {
    if (!counts(caller)) return false;
    if (calls < max_sizes) sizes[calls] = bytes;
    return ++calls == fail_at || (zero_filled && calloc_from != 0 && bytes >= calloc_from);
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
    if (fail_this_call(caller, size)) {
        errno = ENOMEM;
        return nullptr;
    }
    void *block = __libc_malloc(size);
    track(block, caller);
    return block;
}

void *calloc(std::size_t count, std::size_t size) noexcept {
    using namespace qmrt::test::alloc;
    const void *caller = __builtin_return_address(0);
    if (fail_this_call(caller, count * size, true)) {
        errno = ENOMEM;
        return nullptr;
    }
    void *block = __libc_calloc(count, size);
    track(block, caller);
    return block;
}

void *realloc(void *block, std::size_t size) noexcept {
    using namespace qmrt::test::alloc;
    const void *caller = __builtin_return_address(0);
    if (fail_this_call(caller, size)) {
        errno = ENOMEM;
        return nullptr;  // the old block stays the caller's
    }
    void *moved = __libc_realloc(block, size);
    if (moved != nullptr || size == 0) untrack(block);
    track(moved, caller);
    return moved;
}

void free(void *block) noexcept {
    qmrt::test::alloc::untrack(block);
    __libc_free(block);
}
}
