// The tokenizer's vector pass on SSE2, which every x86-64 processor has: a block in four
// registers, without byte lookups or carry-less multiplication.
#if defined(__x86_64__)
#include <emmintrin.h>

#include "json/vector_scan.hpp"

namespace qmrt::json::sse2 {
namespace {

inline std::uint64_t bits_of(__m128i a, __m128i b, __m128i c, __m128i d) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(a))) |
           static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(b))) << 16 |
           static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(c))) << 32 |
           static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(d))) << 48;
}

inline __m128i equals(__m128i v, char c) {
    return _mm_cmpeq_epi8(v, _mm_set1_epi8(c));
}

struct Quarter {
    __m128i quote, backslash, zero, skip, bracket, printable;
};

inline Quarter classify_quarter(__m128i v) {
    const __m128i folded = _mm_or_si128(v, _mm_set1_epi8(0x20));  // [ ] read as { }
    return {
        equals(v, '"'),
        equals(v, '\\'),
        _mm_cmpeq_epi8(v, _mm_setzero_si128()),
        _mm_or_si128(_mm_or_si128(_mm_or_si128(equals(v, ' '), equals(v, '\n')),
                                  _mm_or_si128(equals(v, '\t'), equals(v, '\r'))),
                     _mm_or_si128(equals(v, ','), equals(v, ':'))),
        _mm_or_si128(equals(folded, '{'), equals(folded, '}')),
        // 32 to 126; bytes from 128 on compare as negative.
        _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(31)), _mm_cmpgt_epi8(_mm_set1_epi8(127), v)),
    };
}

QMRT_BLOCK_READS inline BlockClasses classify(const unsigned char *block) {
    const auto *at = reinterpret_cast<const __m128i *>(block);
    const Quarter a = classify_quarter(_mm_load_si128(at)),
                  b = classify_quarter(_mm_load_si128(at + 1)),
                  c = classify_quarter(_mm_load_si128(at + 2)),
                  d = classify_quarter(_mm_load_si128(at + 3));
    const std::uint64_t quote = bits_of(a.quote, b.quote, c.quote, d.quote);
    const std::uint64_t zero = bits_of(a.zero, b.zero, c.zero, d.zero);
    const std::uint64_t skip = bits_of(a.skip, b.skip, c.skip, d.skip);
    const std::uint64_t bracket = bits_of(a.bracket, b.bracket, c.bracket, d.bracket);
    const std::uint64_t printable = bits_of(a.printable, b.printable, c.printable, d.printable);
    return {
        quote,
        bits_of(a.backslash, b.backslash, c.backslash, d.backslash),
        zero,
        printable & ~(skip | bracket | quote),
        bracket | (~printable & ~skip & ~zero),
    };
}

inline std::uint64_t prefix_xor(std::uint64_t bits) {
    for (int shift = 1; shift < 64; shift *= 2) bits ^= bits << shift;
    return bits;
}

constexpr bool collects_event_bytes = false;
inline void write_event_bytes(unsigned char *, const unsigned char *, std::uint64_t) {}
constexpr unsigned position_slack = 0;

inline std::uint32_t write_positions(std::uint32_t *out, PositionBase base, std::uint64_t bits) {
    std::uint32_t count = 0;
    for (; bits != 0; bits &= bits - 1)
        out[count++] = base + static_cast<std::uint32_t>(__builtin_ctzll(bits));
    return count;
}

}  // namespace

#include "json/vector_scan.ipp"

}  // namespace qmrt::json::sse2
#endif
