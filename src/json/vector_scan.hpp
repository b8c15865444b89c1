// What a vector kernel of the tokenizer supplies to the shared vector pass, and the
// switches that compile a kernel for its unit. A kernel's source includes this, then
// opens its target region, defines classify() and prefix_xor() in its own namespace and
// includes vector_scan.ipp there, so each kernel has its own copy of the pass compiled
// for its unit and nothing of it is shared with code that runs on any host.
#pragma once

#include <cstddef>
#include <cstdint>

#include "json/kernels.hpp"
#include "json/scan.hpp"

namespace qmrt::json {

// The classes of the 64 bytes of one block, bit i for byte i.
struct BlockClasses {
    std::uint64_t quote;      // "
    std::uint64_t backslash;  // the escape character
    std::uint64_t zero;       // the terminating zero
    std::uint64_t value;      // printable bytes that start or continue an unquoted value
    std::uint64_t other;      // brackets and refused bytes: events wherever they stand
};

// A table for a byte lookup, repeated for each 16-byte lane of the widest register.
struct alignas(64) LaneTable {
    unsigned char bytes[64];
};

// The classes a kernel looks up: each byte's bits are the entry of its low four bits
// ANDed with that of its high four bits, and a class holds for the byte when the result
// has one of the class's bits. The tables are derived from byte_kinds: each bit stands
// for a rectangle of the 16 x 16 byte square, the rows of high bits whose bytes of the
// class have the same low bits. Kernels whose lookup reads no entry for bytes from 128
// on (x86's byte shuffle gives 0 there) find those by their sign instead.
struct LaneTables {
    LaneTable by_low_bits;
    LaneTable by_high_bits;
    unsigned char quote;        // the quotation mark; in the sign bit, where one move reads it
    unsigned char not_value;    // bytes that neither start nor continue an unquoted value
    unsigned char other_event;  // brackets and refused bytes: events wherever they stand
};

enum class LaneClass { quote, not_value, other_event };

constexpr bool in_lane_class(LaneClass lane_class, std::size_t byte) {
    const ByteKind kind = byte_kinds[byte];
    switch (lane_class) {
        case LaneClass::quote:
            return kind == ByteKind::quote;
        case LaneClass::not_value:
            return kind != ByteKind::primitive;
        default:
            return kind == ByteKind::open || kind == ByteKind::close || kind == ByteKind::invalid;
    }
}

// The low four bits of the bytes of one row (high four bits) that are of the class.
constexpr std::uint16_t class_columns(LaneClass lane_class, unsigned row) {
    std::uint16_t columns = 0;
    for (unsigned column = 0; column < 16; ++column)
        if (in_lane_class(lane_class, row * 16 + column)) columns |= std::uint16_t(1u << column);
    return columns;
}

constexpr LaneTables make_lane_tables() {
    struct Rectangle {
        std::uint16_t rows, columns;
    };
    Rectangle rectangles[8]{};
    unsigned made = 0;
    LaneTables tables{};
    // The quotation mark's class first, so that its one rectangle takes the sign bit.
    for (const LaneClass lane_class :
         {LaneClass::quote, LaneClass::not_value, LaneClass::other_event}) {
        unsigned char class_bits = 0;
        for (unsigned row = 0; row < 16; ++row) {
            const std::uint16_t columns = class_columns(lane_class, row);
            if (columns == 0) continue;
            std::uint16_t rows = 0;
            for (unsigned other = 0; other < 16; ++other)
                if (class_columns(lane_class, other) == columns) rows |= std::uint16_t(1u << other);
            unsigned at = 0;
            while (at < made && (rectangles[at].rows != rows || rectangles[at].columns != columns))
                ++at;
            if (at == made) {
                if (made == 8) throw "the byte classes need more than eight lookup bits";
                rectangles[made++] = {rows, columns};
            }
            class_bits |= static_cast<unsigned char>(at == 0 ? 0x80 : 1u << (at - 1));
        }
        if (lane_class == LaneClass::quote) tables.quote = class_bits;
        if (lane_class == LaneClass::not_value) tables.not_value = class_bits;
        if (lane_class == LaneClass::other_event) tables.other_event = class_bits;
    }
    for (unsigned at = 0; at < made; ++at) {
        const auto bit = static_cast<unsigned char>(at == 0 ? 0x80 : 1u << (at - 1));
        for (unsigned i = 0; i < 64; ++i) {
            if (rectangles[at].columns >> (i % 16) & 1) tables.by_low_bits.bytes[i] |= bit;
            if (rectangles[at].rows >> (i % 16) & 1) tables.by_high_bits.bytes[i] |= bit;
        }
    }
    return tables;
}

inline constexpr LaneTables lane_tables = make_lane_tables();
inline constexpr const LaneTable &by_low_bits = lane_tables.by_low_bits;
inline constexpr const LaneTable &by_high_bits = lane_tables.by_high_bits;
inline constexpr unsigned char not_value = lane_tables.not_value;
inline constexpr unsigned char other_event = lane_tables.other_event;

// The lookups give every byte the classes byte_kinds gives it.
constexpr bool lookups_agree() {
    for (unsigned c = 0; c < 256; ++c) {
        const unsigned bits = by_low_bits.bytes[c % 16] & by_high_bits.bytes[c / 16];
        if (((bits & lane_tables.quote) != 0) != in_lane_class(LaneClass::quote, c) ||
            ((bits & not_value) != 0) != in_lane_class(LaneClass::not_value, c) ||
            ((bits & other_event) != 0) != in_lane_class(LaneClass::other_event, c))
            return false;
    }
    return true;
}
static_assert(lookups_agree());
static_assert(lane_tables.quote == 0x80, "the AVX-512 kernels read the quotation mark's sign");

// The offset of a block's first byte as the kernels that store offsets one at a time
// keep it. A kernel that adds it in vector registers declares its own in its namespace.
using PositionBase = std::uint32_t;
inline PositionBase position_base(std::uint32_t offset) {
    return offset;
}
inline PositionBase next_block(PositionBase base) {
    return base + 64;
}

// The number of trailing zeros of bits, 64 or more for none, as plain C++ has it: bit
// 63 is set in the count so that it is defined once every bit is taken, and it never
// moves a bit that is still there.
struct TrailingZeros {
    std::uint32_t operator()(std::uint64_t bits) const {
        return static_cast<std::uint32_t>(__builtin_ctzll(bits | std::uint64_t{1} << 63));
    }
};

}  // namespace qmrt::json

// Blocks are read whole at 64-byte aligned addresses, so a read never reaches into
// another page; but a block may hold bytes before the text or past its terminating
// zero, which belong to no object of the caller's. The address sanitizer would count
// those as overflows, so the functions that read blocks are exempt from it. Nothing they
// find past the zero is used.
#define QMRT_BLOCK_READS __attribute__((no_sanitize_address))

#define QMRT_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define QMRT_TARGET_BEGIN(features) \
    QMRT_PRAGMA(clang attribute push(__attribute__((target(features))), apply_to = function))
#define QMRT_TARGET_END QMRT_PRAGMA(clang attribute pop)
#else
#define QMRT_TARGET_BEGIN(features) QMRT_PRAGMA(GCC push_options) QMRT_PRAGMA(GCC target(features))
#define QMRT_TARGET_END QMRT_PRAGMA(GCC pop_options)
#endif
