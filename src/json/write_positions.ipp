// The offset stores the kernels without a compress share. Included in a kernel's
// namespace inside its target region, so that the count of bits and of zeros compile to
// the kernel's own instructions, and a kernel's count of zeros can be inlined.

// The number of trailing zeros of bits, 64 or more for none, as plain C++ has it: bit
// 63 is set in the count so that it is defined once every bit is taken, and it never
// moves a bit that is still there. Kernels whose unit counts zeros of a zero pass their
// own instruction instead.
struct TrailingZeros {
    std::uint32_t operator()(std::uint64_t bits) const {
        return static_cast<std::uint32_t>(__builtin_ctzll(bits | std::uint64_t{1} << 63));
    }
};

// Stores base + i for each set bit i in order and returns their number: eight stores
// whatever the number, and eight more past eight, so that a block of the usual kind costs
// no mispredicted branch; up to fifteen land past the last offset.
template <typename CountZeros = TrailingZeros>
inline std::uint32_t write_positions_by_eights(std::uint32_t *out, std::uint32_t base,
                                               std::uint64_t bits, CountZeros zeros = {}) {
    const auto count = static_cast<std::uint32_t>(__builtin_popcountll(bits));
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        out[k] = base + zeros(bits);
        bits &= bits - 1;
    }
    if (count > 8) {
#pragma GCC unroll 8
        for (int k = 8; k < 16; ++k) {
            out[k] = base + zeros(bits);
            bits &= bits - 1;
        }
        for (std::uint32_t k = 16; bits != 0; ++k) {
            out[k] = base + zeros(bits);
            bits &= bits - 1;
        }
    }
    return count;
}
