// The tokenizer's vector pass on AVX-512 with byte instructions: a block in one register.
#if defined(__x86_64__)
#include <immintrin.h>

#include "json/vector_scan.hpp"

QMRT_TARGET_BEGIN("avx512f,avx512bw,pclmul,bmi,popcnt")
namespace qmrt::json::avx512bw {
namespace {

QMRT_BLOCK_READS inline BlockClasses classify(const unsigned char *block) {
    const __m512i v = _mm512_load_si512(block);
    const __m512i skip_lookup = _mm512_load_si512(skip_by_low_bits.bytes);
    const __m512i folded = _mm512_or_si512(v, _mm512_set1_epi8(0x20));  // [ ] read as { }
    return {
        _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('"')),
        _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\\')),
        _mm512_testn_epi8_mask(v, v),
        _mm512_cmpeq_epi8_mask(_mm512_shuffle_epi8(skip_lookup, v), v) |
            _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(':')),
        _mm512_cmpeq_epi8_mask(folded, _mm512_set1_epi8('{')) |
            _mm512_cmpeq_epi8_mask(folded, _mm512_set1_epi8('}')),
        _mm512_cmpge_epu8_mask(_mm512_sub_epi8(v, _mm512_set1_epi8(32)), _mm512_set1_epi8(95)),
    };
}

inline std::uint64_t prefix_xor(std::uint64_t bits) {
    const __m128i product =
        _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(bits)), _mm_set1_epi8(-1), 0);
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
}

}  // namespace

#define QMRT_KERNEL_BIT_OPS
#include "json/vector_scan.ipp"
#undef QMRT_KERNEL_BIT_OPS

}  // namespace qmrt::json::avx512bw
QMRT_TARGET_END
#endif
