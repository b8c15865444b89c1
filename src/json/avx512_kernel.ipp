// The classes, prefix xor and offset stores of the two AVX-512 kernels, a block in one
// register. Included in each kernel's namespace inside its target region; with
// QMRT_KERNEL_VBMI2 the offsets are packed as bytes by the VBMI2 compress.
namespace {

// A register the compiler cannot rebuild from a known value: it keeps it rather than
// broadcasting the value again in the loop.
inline __m512i opaque(__m512i value) {
    asm("" : "+v"(value));
    return value;
}

// On these processors comparisons into mask registers, byte shuffles and broadcasts
// share one execution port, which bounds the pass; the quotation marks are read off
// the sign bits of the lookup on another port, and no broadcast is left in the loop.
QMRT_BLOCK_READS inline BlockClasses classify(const unsigned char *block) {
    const __m512i v = _mm512_load_si512(block);
    const __m512i high_bits =
        _mm512_and_si512(_mm512_srli_epi16(v, 4), opaque(_mm512_set1_epi8(15)));
    const __m512i bits =
        _mm512_and_si512(_mm512_shuffle_epi8(_mm512_load_si512(by_low_bits.bytes), v),
                         _mm512_shuffle_epi8(_mm512_load_si512(by_high_bits.bytes), high_bits));
    const std::uint64_t upper = _mm512_movepi8_mask(v);  // from 128 on: refused
    return {
        _mm512_movepi8_mask(bits),
        _mm512_cmpeq_epi8_mask(v, opaque(_mm512_set1_epi8(static_cast<char>(escape)))),
        _mm512_testn_epi8_mask(v, v),
        ~(_mm512_test_epi8_mask(bits, opaque(_mm512_set1_epi8(not_value))) | upper),
        _mm512_test_epi8_mask(bits, opaque(_mm512_set1_epi8(other_event))) | upper,
    };
}

inline std::uint64_t prefix_xor(std::uint64_t bits) {
    const __m128i product =
        _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(bits)), _mm_set1_epi8(-1), 0);
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
}

// Each block's offset in every lane of a register, advanced by a vector addition
// rather than broadcast anew from an integer register on the busy port.
using PositionBase = __m512i;
inline PositionBase position_base(std::uint32_t offset) {
    return _mm512_set1_epi32(static_cast<int>(offset));
}
inline PositionBase next_block(PositionBase base) {
    return _mm512_add_epi32(base, _mm512_set1_epi32(64));
}

// With VBMI2 the walk keeps level with the scalar loop or ahead of it at every density
// measured, and no chunk is handed over for its density. Without it the scalar loop
// reads chunks of short values faster, as it does on AVX2.
#if defined(QMRT_KERNEL_VBMI2)
constexpr std::uint32_t dense_block_events = 64;
#else
constexpr std::uint32_t dense_block_events = 18;
#endif

#if defined(QMRT_KERNEL_VBMI2)
constexpr unsigned position_slack = 64;
constexpr bool collects_event_bytes = true;

// The bytes at the events, in order, so that the walk need not read them from the text.
QMRT_BLOCK_READS inline void write_event_bytes(unsigned char *out, const unsigned char *block,
                                               std::uint64_t bits) {
    _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(bits, _mm512_load_si512(block)));
}

// Sixteen packed bit numbers, from the given quarter of the register, widened and added
// to the block offset. The zero-masked forms with every lane kept make the same
// instructions as the plain ones (the cast included), whose undefined start values
// GCC 12 reports as uninitialised variables of ours.
template <int quarter>
inline __m512i widen_quarter(__m512i packed, PositionBase offset) {
    const __m128i bytes = _mm512_maskz_extracti32x4_epi32(0xF, packed, quarter);
    return _mm512_add_epi32(offset, _mm512_maskz_cvtepu8_epi32(0xFFFF, bytes));
}

// The bit numbers packed into bytes by one compress, then widened 16 at a time.
inline std::uint32_t write_positions(std::uint32_t *out, PositionBase offset, std::uint64_t bits) {
    const __m512i numbers = _mm512_set_epi8(
        63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44, 43, 42, 41,
        40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18,
        17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    const __m512i packed = _mm512_maskz_compress_epi8(bits, numbers);
    const auto count = static_cast<std::uint32_t>(__builtin_popcountll(bits));
    _mm512_storeu_si512(out, widen_quarter<0>(packed, offset));
    if (count > 16) {
        _mm512_storeu_si512(out + 16, widen_quarter<1>(packed, offset));
        if (count > 32) {
            _mm512_storeu_si512(out + 32, widen_quarter<2>(packed, offset));
            _mm512_storeu_si512(out + 48, widen_quarter<3>(packed, offset));
        }
    }
    return count;
}
#else
constexpr unsigned position_slack = 16;
constexpr bool collects_event_bytes = false;
inline void write_event_bytes(unsigned char *, const unsigned char *, std::uint64_t) {}

// Each quarter of the bits compresses its sixteen offsets into place after the last.
inline std::uint32_t write_positions(std::uint32_t *out, PositionBase base, std::uint64_t bits) {
    const __m512i sixteen = _mm512_set1_epi32(16);
    __m512i offsets = _mm512_add_epi32(
        _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15), base);
    std::uint32_t count = 0;
    for (int quarter = 0; quarter < 4; ++quarter) {
        const auto part = static_cast<__mmask16>(bits >> (16 * quarter));
        _mm512_storeu_si512(out + count, _mm512_maskz_compress_epi32(part, offsets));
        count += static_cast<std::uint32_t>(__builtin_popcount(part));
        offsets = _mm512_add_epi32(offsets, sixteen);
    }
    return count;
}
#endif

}  // namespace
