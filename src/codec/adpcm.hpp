// The 4-bit IMA ADPCM quantiser of the message format, and the format's fixed facts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace aamsg {

// Every message stream, and every WAVE file this tool writes, runs at this rate, mono; so do
// the signals the search and the prompt's level and trim work on.
inline constexpr std::uint32_t kMessageRate = 8000;

// A message file is a bare run of codes, two per byte, the earlier sample in the high nibble.
inline constexpr unsigned kHighNibbleShift = 4;
inline constexpr unsigned kLowNibbleMask = 0x0F;

struct AdpcmState {
    std::int16_t predictor = 0;  // the last reconstructed sample
    std::int32_t stepIndex = 0;  // always within 0..88
};

// The quantiser's step sizes, one per step index, and the number of codes.
inline constexpr std::size_t kStepCount = 89;
inline constexpr std::size_t kCodeCount = 16;

inline constexpr std::array<std::int32_t, kStepCount> kStepSizes = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// Indexed by the whole code, sign bit included.
inline constexpr std::array<std::int8_t, kCodeCount> kIndexAdjust = {-1, -1, -1, -1, 2, 4, 6, 8,
                                                             -1, -1, -1, -1, 2, 4, 6, 8};

static_assert(kStepSizes.front() == 7 && kStepSizes.back() == 32767);
static_assert(kIndexAdjust[7] == 8 && kIndexAdjust[15] == 8 && kIndexAdjust[8] == -1);

inline constexpr std::int32_t kMaxStepIndex = static_cast<std::int32_t>(kStepSizes.size()) - 1;

namespace detail {

constexpr std::int32_t adjustIndex(std::int32_t stepIndex, unsigned code) {
    std::int32_t index = stepIndex + kIndexAdjust[code];
    if (index < 0) index = 0;
    if (index > kMaxStepIndex) index = kMaxStepIndex;
    return index;
}

}  // namespace detail

// The code (0..15) that quantises `sample` against the state best by the greedy rule: the sign,
// then as many of the step, its half and its quarter as the distance holds. The three magnitude
// decisions are made with masks rather than branches: on audio they are close to random, and a
// mispredicted branch costs more than the whole computation.
inline unsigned greedyCode(std::int32_t sample, const AdpcmState& state) {
    std::int32_t step = kStepSizes[static_cast<std::size_t>(state.stepIndex)];
    std::int32_t diff = sample - state.predictor;
    const std::int32_t negative = diff < 0 ? 1 : 0;
    if (negative) diff = -diff;
    unsigned code = static_cast<unsigned>(negative) << 3;
    for (unsigned bit = 4; bit != 0; bit >>= 1) {
        const std::int32_t take = -static_cast<std::int32_t>(diff >= step);  // all ones or zero
        code |= bit & static_cast<unsigned>(take);
        diff -= step & take;
        step >>= 1;
    }
    return code;
}

// What decoding one code does to the state, for every step index and code: the signed change
// of the predictor (before the clamp) and the next step index. Built from the two tables
// above at compile time, so that the decoder's serial chain is one load per code.
struct DecodeStep {
    std::int32_t delta;
    std::int32_t nextIndex;
};

namespace detail {

constexpr std::array<DecodeStep, kStepCount * kCodeCount> makeDecodeSteps() {
    std::array<DecodeStep, kStepCount * kCodeCount> table{};
    for (std::size_t index = 0; index < kStepSizes.size(); ++index) {
        for (unsigned code = 0; code < kCodeCount; ++code) {
            const std::int32_t step = kStepSizes[index];
            std::int32_t delta = step >> 3;
            if (code & 4) delta += step;
            if (code & 2) delta += step >> 1;
            if (code & 1) delta += step >> 2;
            table[index * kCodeCount + code] = {(code & 8) ? -delta : delta, adjustIndex(static_cast<std::int32_t>(index), code)};
        }
    }
    return table;
}

}  // namespace detail

inline constexpr std::array<DecodeStep, kStepCount * kCodeCount> kDecodeSteps = detail::makeDecodeSteps();
static_assert(kDecodeSteps[7].delta == 11 && kDecodeSteps[7].nextIndex == 8);
static_assert(kDecodeSteps[kDecodeSteps.size() - 1].delta == -(4095 + 32767 + 16383 + 8191) &&
              kDecodeSteps[kDecodeSteps.size() - 1].nextIndex == kMaxStepIndex);

// Reconstructs one sample from a code (0..15); returns the new predictor, which the format holds
// to -32767..32767 (it never produces -32768).
inline std::int16_t decodeNibble(unsigned code, AdpcmState& state) {
    const DecodeStep& step = kDecodeSteps[static_cast<std::size_t>(state.stepIndex) * kCodeCount + code];
    std::int32_t value = state.predictor + step.delta;
    if (value > 32767) value = 32767;
    if (value < -32767) value = -32767;
    state.predictor = static_cast<std::int16_t>(value);
    state.stepIndex = step.nextIndex;
    return state.predictor;
}

// Quantises one sample against the state; returns the 4-bit code (0..15). The encoder's state
// moves exactly as the decoder's does for the same code: it is the decoder's step.
inline unsigned encodeSample(std::int16_t sample, AdpcmState& state) {
    const unsigned code = greedyCode(sample, state);
    decodeNibble(code, state);
    return code;
}

}  // namespace aamsg
