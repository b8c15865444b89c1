// The kernel registry: which kernels this build has, and the one parses run.
#include "json/kernels.hpp"

#include <vector>

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif

namespace qmrt::json {
namespace {

struct Choice {
    Kernel kernel;
    KernelScan scan;
};

// The kernel parses run until a test chooses another. Under valgrind the scalar loop:
// the kernels read whole blocks around the text, parts of which memcheck would report
// as reads outside the caller's memory, while the scalar loop's reads always hold a byte
// of the text. Both make the same tokens.
Kernel first_kernel() {
#if defined(RUNNING_ON_VALGRIND)
    if (RUNNING_ON_VALGRIND) return Kernel::portable;
#endif
    return best_kernel();
}

Choice &choice() {
    static Choice chosen{first_kernel(), scan_with(first_kernel())};
    return chosen;
}

}  // namespace

KernelScan scan_with(Kernel kernel) {
    switch (kernel) {
#if defined(__x86_64__)
        case Kernel::sse2:
            return sse2::scan;
        case Kernel::sse42:
            return sse42::scan;
        case Kernel::avx2:
            return avx2::scan;
        case Kernel::avx512bw:
            return avx512bw::scan;
        case Kernel::avx512vbmi2:
            return avx512vbmi2::scan;
#elif defined(__aarch64__)
        case Kernel::neon:
            return neon::scan;
#endif
        default:
            return nullptr;
    }
}

std::span<const Kernel> available_kernels() {
    static const std::vector<Kernel> available = [] {
        std::vector<Kernel> kernels;
        for (const Kernel kernel : every_kernel)
            if (runs_here(kernel)) kernels.push_back(kernel);
        return kernels;
    }();
    return available;
}

Kernel set_kernel(Kernel kernel) {
    const Kernel previous = choice().kernel;
    choice() = {kernel, scan_with(kernel)};
    return previous;
}

Kernel current_kernel() {
    return choice().kernel;
}

KernelScan current_scan() {
    return choice().scan;
}

}  // namespace qmrt::json
