// The tokenizer's vector pass on SSE4.2 with carry-less multiplication: a block in four
// registers, classified by byte lookups as on AVX2.
#if defined(__x86_64__)
#include <immintrin.h>

#include "json/vector_scan.hpp"

QMRT_TARGET_BEGIN("sse4.2,pclmul,popcnt")
namespace qmrt::json::sse42 {
namespace {

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

inline std::uint64_t mask_of(__m128i set, int quarter) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(set)))
           << (16 * quarter);
}

// Each quarter's classes go to integer registers at once, which leaves the vector
// registers free for the next quarter.
QMRT_BLOCK_READS inline BlockClasses classify(const unsigned char *block) {
    const auto *at = reinterpret_cast<const __m128i *>(block);
    BlockClasses c{0, 0, 0, 0, 0};
    std::uint64_t upper = 0;  // from 128 on: refused
#pragma GCC unroll 4
    for (int quarter = 0; quarter < 4; ++quarter) {
        const __m128i v = _mm_load_si128(at + quarter);
        const __m128i bits = class_bits(v);
        c.quote |= mask_of(bits, quarter);
        c.backslash |= mask_of(equals(v, escape), quarter);
        c.zero |= mask_of(_mm_cmpeq_epi8(v, _mm_setzero_si128()), quarter);
        c.value |= mask_of(without(bits, not_value), quarter);
        c.other |= mask_of(without(bits, other_event), quarter);
        upper |= mask_of(v, quarter);
    }
    c.value &= ~upper;
    c.other = ~c.other | upper;
    return c;
}

inline std::uint64_t prefix_xor(std::uint64_t bits) {
    const __m128i product =
        _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(bits)), _mm_set1_epi8(-1), 0);
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
}

using CountZeros = TrailingZeros;
#include "json/write_positions.ipp"
// Chunks with more events than this a block are read faster by the scalar loop here.
constexpr std::uint32_t dense_block_events = 16;

}  // namespace

#include "json/vector_scan.ipp"

}  // namespace qmrt::json::sse42
QMRT_TARGET_END
#endif
