// The 4-bit IMA ADPCM quantiser of the message format, and the format's fixed facts.
#pragma once

#include <array>
#include <cstdint>

namespace aamsg {

// Every message stream, and every WAVE file this tool writes, runs at this rate, mono.
inline constexpr std::uint32_t kMessageRate = 8000;

// A message file is a bare run of codes, two per byte, the earlier sample in the high nibble.
inline constexpr unsigned kHighNibbleShift = 4;

struct AdpcmState {
    std::int16_t predictor = 0;  // the last reconstructed sample
    std::int32_t stepIndex = 0;  // always within 0..88
};

inline constexpr std::array<std::int32_t, 89> kStepSizes = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// Indexed by the whole code, sign bit included.
inline constexpr std::array<std::int8_t, 16> kIndexAdjust = {-1, -1, -1, -1, 2, 4, 6, 8,
                                                             -1, -1, -1, -1, 2, 4, 6, 8};

static_assert(kStepSizes.size() == 89 && kStepSizes.front() == 7 && kStepSizes.back() == 32767);
static_assert(kIndexAdjust[7] == 8 && kIndexAdjust[15] == 8 && kIndexAdjust[8] == -1);

inline constexpr std::int32_t kMaxStepIndex = static_cast<std::int32_t>(kStepSizes.size()) - 1;

namespace detail {

// The reconstructed value is held to -32767..32767: the format never produces -32768.
inline std::int16_t applyDelta(std::int16_t predictor, std::int32_t delta, bool negative) {
    std::int32_t value = negative ? predictor - delta : predictor + delta;
    if (value > 32767) value = 32767;
    if (value < -32767) value = -32767;
    return static_cast<std::int16_t>(value);
}

inline std::int32_t adjustIndex(std::int32_t stepIndex, unsigned code) {
    std::int32_t index = stepIndex + kIndexAdjust[code];
    if (index < 0) index = 0;
    if (index > kMaxStepIndex) index = kMaxStepIndex;
    return index;
}

}  // namespace detail

// Quantises one sample against the state; returns the 4-bit code (0..15).
inline unsigned encodeSample(std::int16_t sample, AdpcmState& state) {
    std::int32_t step = kStepSizes[static_cast<std::size_t>(state.stepIndex)];
    std::int32_t diff = std::int32_t{sample} - state.predictor;
    unsigned code = 0;
    if (diff < 0) {
        code = 8;
        diff = -diff;
    }
    std::int32_t delta = step >> 3;
    if (diff >= step) {
        code |= 4;
        diff -= step;
        delta += step;
    }
    step >>= 1;
    if (diff >= step) {
        code |= 2;
        diff -= step;
        delta += step;
    }
    step >>= 1;
    if (diff >= step) {
        code |= 1;
        delta += step;
    }
    state.predictor = detail::applyDelta(state.predictor, delta, (code & 8) != 0);
    state.stepIndex = detail::adjustIndex(state.stepIndex, code);
    return code;
}

// Reconstructs one sample from a code (0..15); returns the new predictor.
inline std::int16_t decodeNibble(unsigned code, AdpcmState& state) {
    const std::int32_t step = kStepSizes[static_cast<std::size_t>(state.stepIndex)];
    std::int32_t delta = step >> 3;
    if (code & 4) delta += step;
    if (code & 2) delta += step >> 1;
    if (code & 1) delta += step >> 2;
    state.predictor = detail::applyDelta(state.predictor, delta, (code & 8) != 0);
    state.stepIndex = detail::adjustIndex(state.stepIndex, code);
    return state.predictor;
}

}  // namespace aamsg
