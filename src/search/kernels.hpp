// The instruction sets the beam step is built for, and the choice among them at run time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace aamsg {

struct SearchState;

// Each computes the same codes; the choice only changes how fast.
enum class SearchKernel {
    kBest,     // the widest this processor runs
    kScalar,   // no vector instructions: the reference
    kAvx2,     // x86-64 with AVX2
    kAvx512,   // x86-64 with AVX-512 (F, BW, DQ, VL, CD)
    kSimd128,  // WebAssembly SIMD
};

// The beam's search of one frame's first `count` samples, writing the codes decided on the way;
// returns how many.
using SearchFrameFunction = std::size_t (*)(SearchState& s, std::size_t count, std::uint8_t* codes);

// The kernel's step, or null where this build or processor lacks it. kBest is never null.
SearchFrameFunction searchFrameFunction(SearchKernel kernel);

// The kernel kBest stands for here.
SearchKernel bestSearchKernel();

const char* searchKernelName(SearchKernel kernel);

}  // namespace aamsg
