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
    std::uint64_t quote;        // "
    std::uint64_t backslash;    // the escape character
    std::uint64_t zero;         // the terminating zero
    std::uint64_t skip;         // white space, comma, colon
    std::uint64_t bracket;      // { [ } ]
    std::uint64_t unprintable;  // outside 32 to 126 (the zero and white space included)
};

// White space and the comma differ in their low four bits, so one byte lookup by those
// bits finds them all (the colon shares its low bits with the line feed). Entries that
// match nothing hold 0x80, which no byte the lookup answers for can equal. The table is
// repeated for each 16-byte lane of the widest register.
struct alignas(64) SkipByLowBits {
    unsigned char bytes[64];
};

constexpr SkipByLowBits make_skip_by_low_bits() {
    SkipByLowBits table{};
    for (int i = 0; i < 64; ++i) table.bytes[i] = 0x80;
    for (int lane = 0; lane < 64; lane += 16)
        for (unsigned char c : {' ', '\t', '\n', '\r', ','}) table.bytes[lane + (c & 15)] = c;
    return table;
}

inline constexpr SkipByLowBits skip_by_low_bits = make_skip_by_low_bits();

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
