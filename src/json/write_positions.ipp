// The offset stores the kernels without a compress share. Included in a kernel's
// namespace inside its target region after it named its count of trailing zeros,
// CountZeros (TrailingZeros, or its unit's instruction where that gives 64 for none),
// so that the counts compile to the kernel's own instructions and inline.

// Stores base + i for each set bit i in order and returns their number: eight stores
// whatever the number, and eight more past eight, so that a block of the usual kind costs
// no mispredicted branch; up to fifteen land past the last offset.
inline std::uint32_t write_positions(std::uint32_t *out, PositionBase base, std::uint64_t bits) {
    const CountZeros zeros;
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

// Such kernels read the bytes at the events from the text.
constexpr bool collects_event_bytes = false;
inline void write_event_bytes(unsigned char *, const unsigned char *, std::uint64_t) {}
constexpr unsigned position_slack = 16;
