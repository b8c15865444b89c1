// Zero-filled blocks by the suite's rounding rule, and the growth of counted blocks.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "memory/memory.hpp"

namespace qmrt::memory {

void *allocate_block(std::uint32_t numobj, std::uint32_t sizobj) noexcept {
    const Rounding rounding = round_allocation(numobj, sizobj);
    if (rounding.zero_request)
        std::printf("mballc sizobj = %d; numobj = %d\n", static_cast<int>(sizobj),
                    static_cast<int>(numobj));
    if (!rounding.fits()) {
        // Rounding up the largest counts or sizes would wrap to a tiny block.
        errno = ENOMEM;
        return nullptr;
    }
    void *block = std::calloc(rounding.count, rounding.size);
    if (block == nullptr) {
        const int error = errno;
        std::printf("memory habis untuk  %d x %d, errno = %d\n", static_cast<int>(rounding.count),
                    static_cast<int>(rounding.size), error);
    }
    return block;
}

void *grow_block(std::uint32_t count, std::uint32_t add, void *block, std::int16_t size,
                 std::uint32_t spare) noexcept {
    if (!growth_allowed(count, add, size, spare)) return nullptr;
    const auto element = static_cast<std::uint32_t>(size);
    void *grown = allocate_block(count + add + spare, element);
    if (grown == nullptr) return nullptr;
    if (count != 0) {
        // The old block goes only once its elements are safe in the new one.
        const std::span old(static_cast<const std::byte *>(block), std::size_t{count} * element);
        std::ranges::copy(old, static_cast<std::byte *>(grown));
        std::free(block);
    }
    return grown;
}

int grow_counted_block(std::uint32_t &count, std::uint32_t add, void *&block,
                       std::int16_t size) noexcept {
    // While the count is 0 the block cell means nothing: it is neither read nor released.
    void *grown = grow_block(count, add, count != 0 ? block : nullptr, size);
    if (grown == nullptr) return 1;
    block = grown;
    count += add;
    return 0;
}

}  // namespace qmrt::memory
