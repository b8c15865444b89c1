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

inline __m256i equals(__m256i v, unsigned char c) {
    return _mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(c)));
}

// The class bits of each byte below 128 (see by_low_bits); zero from 128 on.
inline __m256i class_bits(__m256i v) {
    const auto *low = reinterpret_cast<const __m256i *>(by_low_bits.bytes);
    const auto *high = reinterpret_cast<const __m256i *>(by_high_bits.bytes);
    const __m256i high_bits = _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(15));
    return _mm256_and_si256(_mm256_shuffle_epi8(_mm256_load_si256(low), v),
                            _mm256_shuffle_epi8(_mm256_load_si256(high), high_bits));
}

inline __m256i without(__m256i bits, unsigned char set) {
    return _mm256_cmpeq_epi8(_mm256_and_si256(bits, _mm256_set1_epi8(static_cast<char>(set))),
                             _mm256_setzero_si256());
}

QMRT_BLOCK_READS inline BlockClasses classify(const unsigned char *block) {
    const __m256i lo = _mm256_load_si256(reinterpret_cast<const __m256i *>(block));
    const __m256i hi = _mm256_load_si256(reinterpret_cast<const __m256i *>(block + 32));
    const __m256i lo_bits = class_bits(lo), hi_bits = class_bits(hi);
    const std::uint64_t upper = bits_of(lo, hi);  // from 128 on: refused
    const __m256i zero = _mm256_setzero_si256();
    return {
        bits_of(equals(lo, quote_mark), equals(hi, quote_mark)),
        bits_of(equals(lo, escape), equals(hi, escape)),
        bits_of(_mm256_cmpeq_epi8(lo, zero), _mm256_cmpeq_epi8(hi, zero)),
        bits_of(without(lo_bits, not_value), without(hi_bits, not_value)) & ~upper,
        ~bits_of(without(lo_bits, other_event), without(hi_bits, other_event)) | upper,
    };
}

inline std::uint64_t prefix_xor(std::uint64_t bits) {
    const __m128i product =
        _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(bits)), _mm_set1_epi8(-1), 0);
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
}

// The count of trailing zeros of BMI, which gives 64 for none.
struct CountZeros {
    std::uint32_t operator()(std::uint64_t bits) const {
        return static_cast<std::uint32_t>(_tzcnt_u64(bits));
    }
};
#include "json/write_positions.ipp"
// Chunks with more events than this a block are read faster by the scalar loop here.
constexpr std::uint32_t dense_block_events = 18;

}  // namespace

#include "json/vector_scan.ipp"

}  // namespace qmrt::json::avx2
QMRT_TARGET_END
#endif
