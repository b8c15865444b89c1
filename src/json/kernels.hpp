// The tokenizer's vector kernels and the choice among them. One binary serves every
// x86-64 host: the widest vector unit the processor has is picked at run time.
#pragma once

#include <cstdint>
#include <span>

#include "json/scan.hpp"

namespace qmrt::json {

enum class Kernel : std::uint8_t {
    portable,  // the scalar loop alone
    sse2,
    avx2,
    avx512bw,
    avx512vbmi2,  // AVX-512 with the byte compress
};

constexpr const char *kernel_name(Kernel kernel) {
    switch (kernel) {
        case Kernel::sse2:
            return "sse2";
        case Kernel::avx2:
            return "avx2";
        case Kernel::avx512bw:
            return "avx512bw";
        case Kernel::avx512vbmi2:
            return "avx512vbmi2";
        default:
            return "portable";
    }
}

// The widest kernel this processor runs. Inline so that the benchmarks, which link the
// shared library, can name the kernel it chose by the same rule.
inline Kernel best_kernel() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    const bool bit_ops = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("bmi") &&
                         __builtin_cpu_supports("popcnt");
    if (bit_ops && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw"))
        return __builtin_cpu_supports("avx512vbmi2") ? Kernel::avx512vbmi2 : Kernel::avx512bw;
    if (bit_ops && __builtin_cpu_supports("avx2")) return Kernel::avx2;
    return Kernel::sse2;
#else
    return Kernel::portable;
#endif
}

// Every kernel this processor can run, the portable one first.
std::span<const Kernel> available_kernels();

// For tests and fuzzing only: every later parse runs `kernel`, which must be one of
// available_kernels(). Parses run best_kernel() until this is called.
void use_kernel(Kernel kernel);
Kernel current_kernel();

// The vector scan of a kernel, or a null pointer for the portable one.
KernelScan scan_with(Kernel kernel);

#if defined(__x86_64__)
// The kernels' scans, each compiled for its unit (see KernelScan).
namespace sse2 {
std::int32_t scan(Cursor &, const unsigned char *, json_token *, std::size_t, std::uint32_t);
}
namespace avx2 {
std::int32_t scan(Cursor &, const unsigned char *, json_token *, std::size_t, std::uint32_t);
}
namespace avx512bw {
std::int32_t scan(Cursor &, const unsigned char *, json_token *, std::size_t, std::uint32_t);
}
namespace avx512vbmi2 {
std::int32_t scan(Cursor &, const unsigned char *, json_token *, std::size_t, std::uint32_t);
}
#endif

}  // namespace qmrt::json
