// The tokenizer's vector pass on AVX2: a block in two registers.
#if defined(__x86_64__)
#include <immintrin.h>

#include "json/vector_scan.hpp"

QMRT_TARGET_BEGIN("avx2,pclmul,bmi,popcnt")
namespace qmrt::json::avx2 {
namespace {

inline std::uint64_t bits_of(__m256i low, __m256i high) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
           static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(high))) << 32;
}

inline __m256i equals(__m256i v, char c) {
    return _mm256_cmpeq_epi8(v, _mm256_set1_epi8(c));
}

inline __m256i skip_bytes(__m256i v) {
    const __m256i lookup =
        _mm256_load_si256(reinterpret_cast<const __m256i *>(skip_by_low_bits.bytes));
    return _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_shuffle_epi8(lookup, v), v), equals(v, ':'));
}

inline __m256i bracket_bytes(__m256i v) {
    const __m256i folded = _mm256_or_si256(v, _mm256_set1_epi8(0x20));  // [ ] read as { }
    return _mm256_or_si256(equals(folded, '{'), equals(folded, '}'));
}

// 32 to 126; bytes from 128 on compare as negative.
inline __m256i printable_bytes(__m256i v) {
    return _mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_set1_epi8(31)),
                            _mm256_cmpgt_epi8(_mm256_set1_epi8(127), v));
}

QMRT_BLOCK_READS inline BlockClasses classify(const unsigned char *block) {
    const __m256i lo = _mm256_load_si256(reinterpret_cast<const __m256i *>(block));
    const __m256i hi = _mm256_load_si256(reinterpret_cast<const __m256i *>(block + 32));
    const __m256i zero = _mm256_setzero_si256();
    return {
        bits_of(equals(lo, '"'), equals(hi, '"')),
        bits_of(equals(lo, '\\'), equals(hi, '\\')),
        bits_of(_mm256_cmpeq_epi8(lo, zero), _mm256_cmpeq_epi8(hi, zero)),
        bits_of(skip_bytes(lo), skip_bytes(hi)),
        bits_of(bracket_bytes(lo), bracket_bytes(hi)),
        ~bits_of(printable_bytes(lo), printable_bytes(hi)),
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

}  // namespace qmrt::json::avx2
QMRT_TARGET_END
#endif
