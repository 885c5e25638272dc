// Which builds of the beam step this program has, which the processor runs, and the
// environment's choice among them.
#include "search/instruction_sets.hpp"

#include <cstdlib>

namespace aamsg {
inline namespace AAMSG_SEARCH_BUILD {

namespace beam_scalar {
std::size_t searchFrame(SearchState& s, std::size_t count, std::uint8_t* codes);
}
#if defined(AAMSG_SEARCH_X86)
namespace beam_avx2 {
std::size_t searchFrame(SearchState& s, std::size_t count, std::uint8_t* codes);
}
namespace beam_avx512 {
std::size_t searchFrame(SearchState& s, std::size_t count, std::uint8_t* codes);
}
#endif
#if defined(__wasm_simd128__)
namespace beam_simd128 {
std::size_t searchFrame(SearchState& s, std::size_t count, std::uint8_t* codes);
}
#endif
#if defined(AAMSG_SEARCH_NEON)
namespace beam_neon {
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

// Without the processor's or the build's support, a set has no step.
BeamStep stepOf(InstructionSet set) {
    switch (set) {
        case InstructionSet::kScalar:
            return beam_scalar::searchFrame;
#if defined(AAMSG_SEARCH_X86)
        case InstructionSet::kAvx2:
            return hasAvx2() ? beam_avx2::searchFrame : nullptr;
        case InstructionSet::kAvx512:
            return hasAvx512() ? beam_avx512::searchFrame : nullptr;
#endif
#if defined(__wasm_simd128__)
        case InstructionSet::kSimd128:
            return beam_simd128::searchFrame;
#endif
#if defined(AAMSG_SEARCH_NEON)
        case InstructionSet::kNeon:
            return beam_neon::searchFrame;
#endif
        default:
            return nullptr;
    }
}

}  // namespace

InstructionSet widestInstructionSet() {
    for (const InstructionSet set : {InstructionSet::kAvx512, InstructionSet::kAvx2, InstructionSet::kNeon, InstructionSet::kSimd128}) {
        if (stepOf(set) != nullptr) return set;
    }
    return InstructionSet::kScalar;
}

InstructionSet bestInstructionSet() {
    // Read each time: a program's environment is its own to change, and a search is made
    // rarely next to the work it then does.
    if (const char* forced = std::getenv("AAMSG_SEARCH_ISA"); forced != nullptr) {
        if (const std::optional<InstructionSet> set = instructionSetNamed(forced); set && stepOf(*set) != nullptr) return *set;
    }
    return widestInstructionSet();
}

BeamStep beamStepFor(InstructionSet set) { return set == InstructionSet::kBest ? stepOf(bestInstructionSet()) : stepOf(set); }

const char* instructionSetName(InstructionSet set) {
    switch (set) {
        case InstructionSet::kBest:
            return instructionSetName(bestInstructionSet());
        case InstructionSet::kScalar:
            return "scalar";
        case InstructionSet::kAvx2:
            return "avx2";
        case InstructionSet::kAvx512:
            return "avx512";
        case InstructionSet::kSimd128:
            return "simd128";
        case InstructionSet::kNeon:
            return "neon";
    }
    return "?";
}

std::optional<InstructionSet> instructionSetNamed(std::string_view name) {
    for (const InstructionSet set : kInstructionSets) {
        if (name == instructionSetName(set)) return set;
    }
    return std::nullopt;
}

}  // namespace AAMSG_SEARCH_BUILD
}  // namespace aamsg
