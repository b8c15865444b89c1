// Cores of the memory services: the rounding rule of every zero-filled block, the
// allocation and growth of counted blocks, and the steps of the bounded byte buffer, so
// that the HTTP client collects and grows its replies with the very same code as the C
// faces.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <limits>

#include "diag/diag.hpp"
#include "qmrt/memory.h"

namespace qmrt::memory {

// What one zero-filled allocation asks calloc for: `count` elements of `size` bytes.
struct Rounding {
    std::uint64_t count;
    std::uint64_t size;
    bool zero_request;  // the count or the size was 0: a 4-byte block and its message

    constexpr std::uint64_t bytes() const noexcept { return count * size; }
    // The rule works in 32-bit numbers; a rounding that does not fit them is refused
    // instead of wrapping to a block smaller than was asked for.
    constexpr bool fits() const noexcept {
        constexpr std::uint64_t widest = std::numeric_limits<std::uint32_t>::max();
        return count <= widest && size <= widest;
    }
};

constexpr std::uint64_t round_up4(std::uint64_t value) noexcept {
    return (value + 3) & ~std::uint64_t{3};
}

// The suite's rounding rule for `numobj` elements of `sizobj` bytes, computed wide so
// that rounding the largest 32-bit values shows up as not fitting rather than as 0.
constexpr Rounding round_allocation(std::uint32_t numobj, std::uint32_t sizobj) noexcept {
    if (numobj == 0 || sizobj == 0) return {1, 4, true};
    if (sizobj == 1) return {1, round_up4(numobj), false};
    return {numobj, round_up4(sizobj), false};
}

// mballc: a zero-filled block for `numobj` elements of `sizobj` bytes by the rounding
// rule, with its messages on standard output (a zero count or size; no memory left).
// Null when no memory was left, or with errno ENOMEM and no message when the rounding
// does not fit 32 bits.
[[nodiscard]] void *allocate_block(std::uint32_t numobj, std::uint32_t sizobj) noexcept;

// mbfree: releases a block of allocate_block or grow_block; null is accepted.
inline void release_block(void *block) noexcept {
    if (block != nullptr) std::free(block);
}

// The byte bound of a counted block: its rounded size and its copy must fit 32 bits.
inline constexpr std::uint64_t block_byte_limit = std::numeric_limits<std::uint32_t>::max();

// Whether growing a counted block of `count` elements by `add` (plus `spare`) elements
// of `size` bytes stays inside the limits the rule works in: no wrapped count, no
// byte size past 32 bits, no negative element size.
constexpr bool growth_allowed(std::uint32_t count, std::uint32_t add, std::int16_t size,
                              std::uint32_t spare = 0) noexcept {
    if (size < 0) return false;
    const std::uint64_t total = std::uint64_t{count} + add + spare;
    if (total > std::numeric_limits<std::uint32_t>::max()) return false;
    const Rounding r =
        round_allocation(static_cast<std::uint32_t>(total), static_cast<std::uint32_t>(size));
    return r.bytes() <= block_byte_limit &&
           std::uint64_t{count} * static_cast<std::uint64_t>(size) <= block_byte_limit;
}

// The block that grows a counted block of `count` elements of `size` bytes at `block`
// by `add` elements, allocated as mballc does (with its messages) for count + add +
// `spare` elements. The first count × size bytes are copied from `block`, everything
// after them is zero, and then `block` is released (not read or released when `count`
// is 0). Returns null, with `block` untouched and still owned by the caller, when the
// growth is refused by growth_allowed (nothing is printed) or no memory was left (the
// out-of-memory message was printed). The caller stores the new block and count + add.
// `spare` lets an owner keep room after its elements, such as a text terminator.
[[nodiscard]] void *grow_block(std::uint32_t count, std::uint32_t add, void *block,
                               std::int16_t size, std::uint32_t spare = 0) noexcept;

// QM_CPMEM_LONG: grows the counted block `count` × `size` at `block` by `add` elements
// with grow_block, storing the new block and count. 0, or 1 with both cells untouched.
int grow_counted_block(std::uint32_t &count, std::uint32_t add, void *&block,
                       std::int16_t size) noexcept;

// The steps of the bounded byte buffer. Each returns the first of its checks it found
// broken, named by the C service that owns it ("buf_size", "buf_push", "buf_concat",
// "buf_tostr") whichever code runs the step, and then has changed nothing.

// buf_size: creates the record when `buf` is null (storing it in `buf`), then resize().
[[nodiscard]] diag::BrokenCheck size_buffer(bounded_buf *&buf, std::uint64_t size) noexcept;

// The resize step of buf_size: `data` becomes exactly `size` bytes (at least one byte is
// kept allocated for a size of 0), keeping the bytes both sizes share; `len` is cut to
// `size` and `limit` set to it. Checks "buf->data != NULL".
[[nodiscard]] diag::BrokenCheck resize(bounded_buf &buf, std::uint64_t size) noexcept;

// buf_push: appends one byte within the limit.
[[nodiscard]] diag::BrokenCheck push(bounded_buf *buf, char byte) noexcept;

// The append step of buf_concat: `len` bytes at `src` after the held ones, within the
// limit. Checks "dst != NULL", "src != NULL" (even for 0 bytes) and
// "dst->len + len <= dst->limit", in that order.
[[nodiscard]] diag::BrokenCheck append(bounded_buf *dst, const char *src,
                                       std::uint64_t len) noexcept;

// The to-string step of buf_tostr: a new malloc'd, zero-terminated copy of the held
// bytes, stored in `text`. Checks "buf != NULL" and "str != NULL".
[[nodiscard]] diag::BrokenCheck to_text(const bounded_buf *buf, char *&text) noexcept;

}  // namespace qmrt::memory
