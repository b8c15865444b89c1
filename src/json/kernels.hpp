// The tokenizer's vector kernels and the choice among them. One binary serves every
// x86-64 host: the widest vector unit the processor has is picked at run time. On
// AArch64 every processor has NEON, so its kernel needs no probe.
#pragma once

#include <cstdint>
#include <span>

#include "json/scan.hpp"

namespace qmrt::json {

enum class Kernel : std::uint8_t {
    portable,  // the scalar loop alone, in plain C++ on every architecture
    sse2,
    sse42,  // SSE4.2 with carry-less multiplication
    avx2,
    avx512bw,
    avx512vbmi2,  // AVX-512 with the byte compress
    neon,
};

constexpr const char *kernel_name(Kernel kernel) {
    switch (kernel) {
        case Kernel::sse2:
            return "sse2";
        case Kernel::sse42:
            return "sse42";
        case Kernel::avx2:
            return "avx2";
        case Kernel::avx512bw:
            return "avx512bw";
        case Kernel::avx512vbmi2:
            return "avx512vbmi2";
        case Kernel::neon:
            return "neon";
        default:
            return "portable";
    }
}

// Every kernel of this architecture, ordered by width.
#if defined(__x86_64__)
inline constexpr Kernel every_kernel[] = {Kernel::portable, Kernel::sse2,     Kernel::sse42,
                                          Kernel::avx2,     Kernel::avx512bw, Kernel::avx512vbmi2};
#elif defined(__aarch64__)
inline constexpr Kernel every_kernel[] = {Kernel::portable, Kernel::neon};
#else
inline constexpr Kernel every_kernel[] = {Kernel::portable};
#endif

// Whether this processor has what the kernel's code was compiled for. Every x86-64
// processor has SSE2, and every AArch64 one NEON.
inline bool runs_here(Kernel kernel) {
#if defined(__x86_64__)
    __builtin_cpu_init();
    const bool bit_ops = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("popcnt");
    switch (kernel) {
        case Kernel::sse42:
            return bit_ops && __builtin_cpu_supports("sse4.2");
        case Kernel::avx2:
            return bit_ops && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("avx2");
        case Kernel::avx512bw:
            return bit_ops && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("avx512f") &&
                   __builtin_cpu_supports("avx512bw");
        case Kernel::avx512vbmi2:
            return runs_here(Kernel::avx512bw) && __builtin_cpu_supports("avx512vbmi2");
        default:
            return kernel == Kernel::portable || kernel == Kernel::sse2;
    }
#elif defined(__aarch64__)
    return kernel == Kernel::portable || kernel == Kernel::neon;
#else
    return kernel == Kernel::portable;
#endif
}

// The widest kernel this processor runs. Inline so that the benchmarks, which link the
// shared library, can name the kernel it chose by the same rule.
inline Kernel best_kernel() {
    Kernel best = Kernel::portable;
    for (const Kernel kernel : every_kernel)
        if (runs_here(kernel)) best = kernel;
    return best;
}

// Every kernel this processor can run, the portable one first.
std::span<const Kernel> available_kernels();

// For tests, fuzzing and the benchmarks only: every later parse runs `kernel`, which
// must be one of available_kernels(). Parses run best_kernel() until this is called.
// Returns the kernel it replaces.
Kernel set_kernel(Kernel kernel);
Kernel current_kernel();

// The vector scan of a kernel, or a null pointer for the portable one.
KernelScan scan_with(Kernel kernel);
// That of the kernel parses run now.
KernelScan current_scan();

// The kernels' scans, each compiled for its unit (see KernelScan).
#define QMRT_DECLARE_KERNEL_SCAN(unit)                                                            \
    namespace unit {                                                                              \
    std::int32_t scan(Cursor &, const unsigned char *, json_token *, std::size_t, std::uint32_t); \
    }
#if defined(__x86_64__)
QMRT_DECLARE_KERNEL_SCAN(sse2)
QMRT_DECLARE_KERNEL_SCAN(sse42)
QMRT_DECLARE_KERNEL_SCAN(avx2)
QMRT_DECLARE_KERNEL_SCAN(avx512bw)
QMRT_DECLARE_KERNEL_SCAN(avx512vbmi2)
#elif defined(__aarch64__)
QMRT_DECLARE_KERNEL_SCAN(neon)
#endif
#undef QMRT_DECLARE_KERNEL_SCAN

}  // namespace qmrt::json
