// The tokenizer's vector pass on SSE2, which every x86-64 processor has: a block in four
// registers, without byte lookups or carry-less multiplication.
#if defined(__x86_64__)
#include <emmintrin.h>

#include "json/vector_scan.hpp"

namespace qmrt::json::sse2 {
namespace {

inline __m128i equals(__m128i v, unsigned char c) {
    return _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(c)));
}

// Without a byte lookup, classes are found by comparisons with the bytes byte_kinds
// gives them, and unquoted values by the one range of printable bytes.
template <std::size_t size>
struct ByteList {
    unsigned char bytes[size];
};

template <std::size_t size>
constexpr ByteList<size> bytes_of_kinds(ByteKind first, ByteKind second) {
    ByteList<size> list{};
    std::size_t made = 0;
    for (std::size_t c = 0; c < 256; ++c)
        if (byte_kinds[c] == first || byte_kinds[c] == second) {
            if (made == size) throw "more bytes of these kinds than the list holds";
            list.bytes[made++] = static_cast<unsigned char>(c);
        }
    if (made != size) throw "fewer bytes of these kinds than the list holds";
    return list;
}

inline constexpr auto skip_bytes = bytes_of_kinds<6>(ByteKind::skip, ByteKind::skip);
inline constexpr auto bracket_bytes = bytes_of_kinds<4>(ByteKind::open, ByteKind::close);

// The printable bytes: the one run of bytes that are not refused, which excludes the
// zero and the white space below it. Signed comparisons serve, as it ends below 128.
constexpr bool refused(std::size_t c) {
    return byte_kinds[c] == ByteKind::invalid;
}
constexpr unsigned char printable_first = [] {
    std::size_t c = 255;
    while (refused(c)) --c;
    while (c > 0 && !refused(c - 1)) --c;
    return static_cast<unsigned char>(c);
}();
constexpr unsigned char printable_last = [] {
    std::size_t c = 255;
    while (refused(c)) --c;
    return static_cast<unsigned char>(c);
}();
static_assert(printable_last < 128, "the range is compared as signed bytes");
constexpr bool range_and_lists_agree() {
    for (std::size_t c = 0; c < 256; ++c) {
        const bool printable = c >= printable_first && c <= printable_last;
        const ByteKind kind = byte_kinds[c];
        if (!printable && kind != ByteKind::invalid && kind != ByteKind::skip &&
            kind != ByteKind::end)
            return false;
        if (printable && kind == ByteKind::invalid) return false;
    }
    return true;
}
static_assert(range_and_lists_agree());

template <std::size_t size>
inline __m128i equals_any(__m128i v, const ByteList<size> &list) {
    __m128i found = equals(v, list.bytes[0]);
#pragma GCC unroll 8
    for (std::size_t i = 1; i < size; ++i) found = _mm_or_si128(found, equals(v, list.bytes[i]));
    return found;
}

inline std::uint64_t mask_of(__m128i set, int quarter) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(set)))
           << (16 * quarter);
}

// Each quarter's classes go to integer registers at once, which leaves the vector
// registers free for the next quarter.
QMRT_BLOCK_READS inline BlockClasses classify(const unsigned char *block) {
    const auto *at = reinterpret_cast<const __m128i *>(block);
    std::uint64_t quote = 0, backslash = 0, zero = 0, skip = 0, bracket = 0, printable = 0;
#pragma GCC unroll 4
    for (int quarter = 0; quarter < 4; ++quarter) {
        const __m128i v = _mm_load_si128(at + quarter);
        quote |= mask_of(equals(v, quote_mark), quarter);
        backslash |= mask_of(equals(v, escape), quarter);
        zero |= mask_of(_mm_cmpeq_epi8(v, _mm_setzero_si128()), quarter);
        skip |= mask_of(equals_any(v, skip_bytes), quarter);
        bracket |= mask_of(equals_any(v, bracket_bytes), quarter);
        // Bytes from 128 on compare as negative.
        printable |= mask_of(
            _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(printable_first - 1))),
                          _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(printable_last + 1)), v)),
            quarter);
    }
    return {
        quote,
        backslash,
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
// Chunks with more events than this a block are read faster by the scalar loop here.
constexpr std::uint32_t dense_block_events = 16;

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
