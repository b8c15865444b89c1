// The tokenizer's vector pass on NEON, which every AArch64 processor has: a block in four
// registers, loaded de-interleaved so that their compare results pack into a 64-bit mask
// in text order with a few shifts and inserts.
#if defined(__aarch64__)
#include <arm_neon.h>

#include "json/vector_scan.hpp"

namespace qmrt::json::neon {
namespace {

// The compare results of a block loaded by vld4q (register k holds bytes k, k + 4, ...),
// each byte all ones or zero, as bit i for byte i.
inline std::uint64_t bits_of(uint8x16_t k0, uint8x16_t k1, uint8x16_t k2, uint8x16_t k3) {
    const uint8x16_t pairs_01 = vsriq_n_u8(k1, k0, 1);
    const uint8x16_t pairs_23 = vsriq_n_u8(k3, k2, 1);
    const uint8x16_t fours = vsriq_n_u8(pairs_23, pairs_01, 2);
    const uint8x16_t eights = vsriq_n_u8(fours, fours, 4);
    const uint8x8_t packed = vshrn_n_u16(vreinterpretq_u16_u8(eights), 4);
    return vget_lane_u64(vreinterpret_u64_u8(packed), 0);
}

struct Register {
    uint8x16_t quote, backslash, zero, value, other;
};

// The table lookup gives every byte its entry, those from 128 on included, so no byte
// needs a test of its own beyond the escape character and the zero.
inline Register classify_register(uint8x16_t v, uint8x16_t by_low, uint8x16_t by_high) {
    const uint8x16_t bits = vandq_u8(vqtbl1q_u8(by_low, vandq_u8(v, vdupq_n_u8(15))),
                                     vqtbl1q_u8(by_high, vshrq_n_u8(v, 4)));
    return {
        vtstq_u8(bits, vdupq_n_u8(lane_tables.quote)),
        vceqq_u8(v, vdupq_n_u8(escape)),
        vceqzq_u8(v),
        vceqzq_u8(vandq_u8(bits, vdupq_n_u8(not_value))),
        vtstq_u8(bits, vdupq_n_u8(other_event)),
    };
}

QMRT_BLOCK_READS inline BlockClasses classify(const unsigned char *block) {
    const uint8x16x4_t bytes = vld4q_u8(block);
    const uint8x16_t by_low = vld1q_u8(by_low_bits.bytes);
    const uint8x16_t by_high = vld1q_u8(by_high_bits.bytes);
    const Register a = classify_register(bytes.val[0], by_low, by_high);
    const Register b = classify_register(bytes.val[1], by_low, by_high);
    const Register c = classify_register(bytes.val[2], by_low, by_high);
    const Register d = classify_register(bytes.val[3], by_low, by_high);
    return {
        bits_of(a.quote, b.quote, c.quote, d.quote),
        bits_of(a.backslash, b.backslash, c.backslash, d.backslash),
        bits_of(a.zero, b.zero, c.zero, d.zero),
        bits_of(a.value, b.value, c.value, d.value),
        bits_of(a.other, b.other, c.other, d.other),
    };
}

// Carry-less multiplication is an optional extension of AArch64: shifts it is.
inline std::uint64_t prefix_xor(std::uint64_t bits) {
    for (int shift = 1; shift < 64; shift *= 2) bits ^= bits << shift;
    return bits;
}

using CountZeros = TrailingZeros;
#include "json/write_positions.ipp"
// Not measured on an arm64 host: no chunk is handed to the scalar loop for its density.
constexpr std::uint32_t dense_block_events = 64;

}  // namespace

#include "json/vector_scan.ipp"

}  // namespace qmrt::json::neon
#endif
