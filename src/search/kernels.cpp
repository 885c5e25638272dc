// Which builds of the beam step this program has, and which the processor runs.
#include "search/kernels.hpp"

namespace aamsg {

namespace search_scalar {
std::size_t searchFrame(SearchState& s, std::size_t count, std::uint8_t* codes);
}
#if defined(AAMSG_SEARCH_X86)
namespace search_avx2 {
std::size_t searchFrame(SearchState& s, std::size_t count, std::uint8_t* codes);
}
namespace search_avx512 {
std::size_t searchFrame(SearchState& s, std::size_t count, std::uint8_t* codes);
}
#endif
#if defined(__wasm_simd128__)
namespace search_simd128 {
std::size_t searchFrame(SearchState& s, std::size_t count, std::uint8_t* codes);
}
#endif

namespace {

#if defined(AAMSG_SEARCH_X86)
bool hasAvx2() {
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
           __builtin_cpu_supports("popcnt");
}

bool hasAvx512() {
    return hasAvx2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512cd");
}
#endif

}  // namespace

SearchFrameFunction searchFrameFunction(SearchKernel kernel) {
    switch (kernel) {
        case SearchKernel::kBest:
            return searchFrameFunction(bestSearchKernel());
        case SearchKernel::kScalar:
            return search_scalar::searchFrame;
#if defined(AAMSG_SEARCH_X86)
        case SearchKernel::kAvx2:
            return hasAvx2() ? search_avx2::searchFrame : nullptr;
        case SearchKernel::kAvx512:
            return hasAvx512() ? search_avx512::searchFrame : nullptr;
#endif
#if defined(__wasm_simd128__)
        case SearchKernel::kSimd128:
            return search_simd128::searchFrame;
#endif
        default:
            return nullptr;
    }
}

SearchKernel bestSearchKernel() {
#if defined(AAMSG_SEARCH_X86)
    if (hasAvx512()) return SearchKernel::kAvx512;
    if (hasAvx2()) return SearchKernel::kAvx2;
#endif
#if defined(__wasm_simd128__)
    return SearchKernel::kSimd128;
#else
    return SearchKernel::kScalar;
#endif
}

const char* searchKernelName(SearchKernel kernel) {
    switch (kernel) {
        case SearchKernel::kBest:
            return searchKernelName(bestSearchKernel());
        case SearchKernel::kScalar:
            return "scalar";
        case SearchKernel::kAvx2:
            return "avx2";
        case SearchKernel::kAvx512:
            return "avx512";
        case SearchKernel::kSimd128:
            return "simd128";
    }
    return "?";
}

}  // namespace aamsg
