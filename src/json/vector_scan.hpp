// What a vector kernel of the tokenizer supplies to the shared vector pass, and the
// switches that compile a kernel for its unit. A kernel's source includes this, then
// opens its target region, defines classify() and prefix_xor() in its own namespace and
// includes vector_scan.ipp there, so each kernel has its own copy of the pass compiled
// for its unit and nothing of it is shared with code that runs on any host.
#pragma once

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

// The classes of bytes below 128 as bits of a lookup by their low four bits ANDed with
// one by their high four bits; bytes from 128 on are refused and found by their sign.
// Each bit stands for a set of bytes that shares its high bits:
enum : unsigned char {
    control = 0x01,     // 0x00-0x1f
    space_mark = 0x02,  // space, quotation mark, comma
    colon = 0x04,
    bracket = 0x08,       // [ ] { }
    delete_ = 0x10,       // 127
    refused_low = 0x20,   // 0x01-0x0f but tab, line feed, carriage return
    refused_high = 0x40,  // 0x10-0x1f
    quote_mark = 0x80,    // the quotation mark alone, in the sign bit where one move reads it
};
// Not an unquoted value's byte, and an event wherever it stands.
inline constexpr unsigned char not_value = control | space_mark | colon | bracket | delete_;
inline constexpr unsigned char other_event = bracket | delete_ | refused_low | refused_high;

constexpr LaneTable make_by_low_bits() {
    LaneTable table{};
    for (int i = 0; i < 64; ++i) {
        const int low = i % 16;
        unsigned char bits = control | refused_high;
        if (low != 0 && low != '\t' && low != '\n' && low != '\r') bits |= refused_low;
        if (low == (' ' & 15) || low == ('"' & 15) || low == (',' & 15)) bits |= space_mark;
        if (low == (':' & 15)) bits |= colon;
        if (low == ('[' & 15) || low == (']' & 15)) bits |= bracket;
        if (low == 15) bits |= delete_;
        if (low == ('"' & 15)) bits |= quote_mark;
        table.bytes[i] = bits;
    }
    return table;
}

constexpr LaneTable make_by_high_bits() {
    constexpr unsigned char by_high[16] = {control | refused_low,
                                           control | refused_high,
                                           space_mark | quote_mark,
                                           colon,
                                           0,
                                           bracket,
                                           0,
                                           bracket | delete_};
    LaneTable table{};
    for (int i = 0; i < 64; ++i) table.bytes[i] = by_high[i % 16];
    return table;
}

inline constexpr LaneTable by_low_bits = make_by_low_bits();
inline constexpr LaneTable by_high_bits = make_by_high_bits();

// The offset of a block's first byte as the kernels that store offsets one at a time
// keep it. A kernel that adds it in vector registers declares its own in its namespace.
using PositionBase = std::uint32_t;
inline PositionBase position_base(std::uint32_t offset) {
    return offset;
}
inline PositionBase next_block(PositionBase base) {
    return base + 64;
}

// The tables say of every byte what the tokenizer's byte kinds say.
constexpr bool lookups_agree() {
    for (int c = 0; c < 128; ++c) {
        const unsigned bits = by_low_bits.bytes[c % 16] & by_high_bits.bytes[c / 16];
        const ByteKind kind = byte_kinds[static_cast<std::size_t>(c)];
        if (((bits & not_value) == 0) != (kind == ByteKind::primitive)) return false;
        if (((bits & other_event) != 0) !=
            (kind == ByteKind::open || kind == ByteKind::close || kind == ByteKind::invalid))
            return false;
        if (((bits & quote_mark) != 0) != (c == '"')) return false;
    }
    return true;
}
static_assert(lookups_agree());

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
