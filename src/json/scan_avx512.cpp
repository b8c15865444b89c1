// The tokenizer's vector pass on AVX-512: with byte instructions, and with the VBMI2
// compress where the processor has it.
#if defined(__x86_64__)
#include <immintrin.h>

#include "json/vector_scan.hpp"

QMRT_TARGET_BEGIN("avx512f,avx512bw,pclmul,bmi,popcnt")
namespace qmrt::json::avx512bw {
#include "json/avx512_kernel.ipp"
#include "json/vector_scan.ipp"
}  // namespace qmrt::json::avx512bw
QMRT_TARGET_END

QMRT_TARGET_BEGIN("avx512f,avx512bw,avx512vbmi2,pclmul,bmi,popcnt")
namespace qmrt::json::avx512vbmi2 {
#define QMRT_KERNEL_VBMI2
#include "json/avx512_kernel.ipp"
#undef QMRT_KERNEL_VBMI2
#include "json/vector_scan.ipp"
}  // namespace qmrt::json::avx512vbmi2
QMRT_TARGET_END
#endif
