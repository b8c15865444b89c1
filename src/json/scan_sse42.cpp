// The tokenizer's vector pass on SSE4.2 with carry-less multiplication: a block in four
// registers, classified by byte lookups as on AVX2.
#if defined(__x86_64__)
#include <immintrin.h>

#include "json/vector_scan.hpp"

QMRT_TARGET_BEGIN("sse4.2,pclmul,popcnt")
namespace qmrt::json::sse42 {
namespace {

inline std::uint64_t bits_of(__m128i a, __m128i b, __m128i c, __m128i d) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(a))) |
           static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(b))) << 16 |
           static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(c))) << 32 |
           static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(d))) << 48;
}

// The class bits of each byte below 128 (see LaneTables); zero from 128 on, where the
// shuffle gives zero. The quotation mark's class is their sign.
inline __m128i class_bits(__m128i v) {
    const auto *low = reinterpret_cast<const __m128i *>(by_low_bits.bytes);
    const auto *high = reinterpret_cast<const __m128i *>(by_high_bits.bytes);
    const __m128i high_bits = _mm_and_si128(_mm_srli_epi16(v, 4), _mm_set1_epi8(15));
    return _mm_and_si128(_mm_shuffle_epi8(_mm_load_si128(low), v),
                         _mm_shuffle_epi8(_mm_load_si128(high), high_bits));
}

inline __m128i without(__m128i bits, unsigned char set) {
    return _mm_cmpeq_epi8(_mm_and_si128(bits, _mm_set1_epi8(static_cast<char>(set))),
                          _mm_setzero_si128());
}

inline __m128i equals(__m128i v, unsigned char c) {
    return _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(c)));
}

QMRT_BLOCK_READS inline BlockClasses classify(const unsigned char *block) {
    const auto *at = reinterpret_cast<const __m128i *>(block);
    __m128i v[4], bits[4];
    for (int k = 0; k < 4; ++k) {
        v[k] = _mm_load_si128(at + k);
        bits[k] = class_bits(v[k]);
    }
    const auto each = [&](auto test) { return bits_of(test(0), test(1), test(2), test(3)); };
    const std::uint64_t upper = bits_of(v[0], v[1], v[2], v[3]);  // from 128 on: refused
    return {
        bits_of(bits[0], bits[1], bits[2], bits[3]),
        each([&](int k) { return equals(v[k], escape); }),
        each([&](int k) { return _mm_cmpeq_epi8(v[k], _mm_setzero_si128()); }),
        each([&](int k) { return without(bits[k], not_value); }) & ~upper,
        ~each([&](int k) { return without(bits[k], other_event); }) | upper,
    };
}

inline std::uint64_t prefix_xor(std::uint64_t bits) {
    const __m128i product =
        _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(bits)), _mm_set1_epi8(-1), 0);
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
}

constexpr bool collects_event_bytes = false;
inline void write_event_bytes(unsigned char *, const unsigned char *, std::uint64_t) {}
constexpr unsigned position_slack = 16;

#include "json/write_positions.ipp"

inline std::uint32_t write_positions(std::uint32_t *out, PositionBase base, std::uint64_t bits) {
    return write_positions_by_eights(out, base, bits);
}

}  // namespace

#include "json/vector_scan.ipp"

}  // namespace qmrt::json::sse42
QMRT_TARGET_END
#endif
