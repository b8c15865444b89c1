// The bounded byte buffer: appends stay within the capacity its owner sets.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <span>

#include "diag/diag.hpp"
#include "memory/memory.hpp"

namespace qmrt::memory {

using diag::check;

namespace {

// Byte counts are 64-bit on every host. One past what the host's allocator can be asked
// for (a 32-bit size_t) fails as running out of memory does, never as a cut size.
constexpr bool allocatable(std::uint64_t bytes) noexcept {
    return bytes <= std::numeric_limits<std::size_t>::max();
}

}  // namespace

diag::BrokenCheck size_buffer(bounded_buf *&buf, std::uint64_t size) noexcept {
    if (buf == nullptr) {
        auto *made = static_cast<bounded_buf *>(std::malloc(sizeof(bounded_buf)));
        if (auto broken = check(made != nullptr, "buf_size", "buf != NULL")) return broken;
        *made = bounded_buf{0, 0, nullptr};
        buf = made;
    }
    return resize(*buf, size);
}

diag::BrokenCheck resize(bounded_buf &buf, std::uint64_t size) noexcept {
    // A reallocation to 0 bytes may release the block and hand back null; an empty
    // buffer keeps one byte instead, so `data` is always a live block its owner frees.
    const std::uint64_t bytes = std::max<std::uint64_t>(size, 1);
    void *data =
        allocatable(bytes) ? std::realloc(buf.data, static_cast<std::size_t>(bytes)) : nullptr;
    if (auto broken = check(data != nullptr, "buf_size", "buf->data != NULL")) return broken;
    buf.data = static_cast<char *>(data);
    buf.len = std::min(buf.len, size);
    buf.limit = size;
    return {};
}

diag::BrokenCheck push(bounded_buf *buf, char byte) noexcept {
    if (auto broken = check(buf != nullptr, "buf_push", "buf != NULL")) return broken;
    if (auto broken = check(buf->len < buf->limit, "buf_push", "buf->len < buf->limit"))
        return broken;
    buf->data[buf->len++] = byte;
    return {};
}

diag::BrokenCheck append(bounded_buf *dst, const char *src, std::uint64_t len) noexcept {
    if (auto broken = check(dst != nullptr, "buf_concat", "dst != NULL")) return broken;
    if (auto broken = check(src != nullptr, "buf_concat", "src != NULL")) return broken;
    // Measured against the room left, so a huge count cannot wrap the sum past the bound.
    if (auto broken = check(dst->len <= dst->limit && len <= dst->limit - dst->len, "buf_concat",
                            "dst->len + len <= dst->limit"))
        return broken;
    // Within the limit, so within the allocated block and the host's size_t.
    std::ranges::copy(std::span(src, static_cast<std::size_t>(len)), dst->data + dst->len);
    dst->len += len;
    return {};
}

diag::BrokenCheck to_text(const bounded_buf *buf, char *&text) noexcept {
    if (auto broken = check(buf != nullptr, "buf_tostr", "buf != NULL")) return broken;
    // A length that leaves no room for the terminator cannot be allocated either.
    const std::uint64_t bytes = buf->len + 1;
    char *str = bytes != 0 && allocatable(bytes)
                    ? static_cast<char *>(std::malloc(static_cast<std::size_t>(bytes)))
                    : nullptr;
    if (auto broken = check(str != nullptr, "buf_tostr", "str != NULL")) return broken;
    std::ranges::copy(std::span<const char>(buf->data, static_cast<std::size_t>(buf->len)), str);
    str[buf->len] = '\0';
    text = str;
    return {};
}

}  // namespace qmrt::memory
