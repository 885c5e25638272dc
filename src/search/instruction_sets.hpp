// The instruction sets the beam step is built for, and the choice among them at run time. Every
// build of the step computes the same codes; the choice only changes how fast.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "search/limits.hpp"

namespace aamsg {
inline namespace AAMSG_SEARCH_BUILD {

struct SearchState;

enum class InstructionSet {
    kBest,     // the widest this processor runs, unless AAMSG_SEARCH_ISA names another
    kScalar,   // no vector instructions: the reference
    kAvx2,     // x86-64 with AVX2, 8 lanes
    kAvx512,   // x86-64 with AVX-512 (F, BW, DQ, VL, CD), 16 lanes
    kSimd128,  // WebAssembly SIMD, 4 lanes
    kNeon,     // arm64's Advanced SIMD, 4 lanes
};

inline constexpr InstructionSet kInstructionSets[] = {InstructionSet::kScalar, InstructionSet::kAvx2, InstructionSet::kAvx512,
                                                      InstructionSet::kSimd128, InstructionSet::kNeon};

// The beam's search of one frame's first `count` samples, writing the codes decided on the way;
// returns how many.
using BeamStep = std::size_t (*)(SearchState& s, std::size_t count, std::uint8_t* codes);

// The set's beam step, or null where this build or processor lacks it. kBest is never null.
BeamStep beamStepFor(InstructionSet set);

// The set kBest stands for: the one the environment variable AAMSG_SEARCH_ISA names (scalar,
// avx2, avx512, simd128, neon) where this build and processor have it, as a test or a user
// tracking down a fault forces one; otherwise the widest the processor runs.
InstructionSet bestInstructionSet();

// The widest set this build and processor have, whatever the environment says.
InstructionSet widestInstructionSet();

const char* instructionSetName(InstructionSet set);
std::optional<InstructionSet> instructionSetNamed(std::string_view name);

}  // namespace AAMSG_SEARCH_BUILD
}  // namespace aamsg
