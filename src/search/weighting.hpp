// The perceptual weighting of `q`'s shaped search: W(z) = A(z/g1) / A(z/g2) from a linear
// prediction A(z) of each 20 ms frame, so that minimising the weighted error leaves the noise
// under the speech's formants, where the speech masks it. The analysis uses doubles with + - *
// / and sqrt only, and hands out integer coefficients: the same on every platform.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/adpcm.hpp"
#include "search/limits.hpp"

namespace aamsg {
inline namespace AAMSG_SEARCH_BUILD {

// The prediction's order, and the weighting filter's (one more for the tilt).
inline constexpr std::size_t kPredictionOrder = 10;
inline constexpr std::size_t kWeightOrder = kPredictionOrder + 1;
inline constexpr std::size_t kFrameLength = kMessageRate / 50;  // 20 ms
// The analysis window: the frame and the samples before it.
inline constexpr std::size_t kFrameHistory = 80;
inline constexpr std::size_t kAnalysisLength = kFrameHistory + kFrameLength;
// Coefficients are fixed point with this many fraction bits.
inline constexpr int kWeightShift = 12;

// The weighting of one frame: weighted = error + sum(zeros[k] * error[n-1-k])
// - sum(poles[k] * weighted[n-1-k]), the sums scaled down by 2^kWeightShift. All zero: no
// weighting (the plain error).
struct WeightingFilter {
    std::array<std::int32_t, kWeightOrder> zeros{};
    std::array<std::int32_t, kWeightOrder> poles{};
};

// A filter's memory: the last errors and weighted errors, the newest first.
struct WeightHistory {
    std::array<std::int32_t, kWeightOrder> error{};
    std::array<std::int32_t, kWeightOrder> weighted{};
};

// The bandwidth factors g1 (zeros) and g2 (poles), in thousandths.
struct WeightShape {
    int zeros = 900;
    int poles = 700;
    // A fixed tilt, the poles times 1 - tilt z^-1: it weighs the low band's error more and so
    // moves noise out of it, where the voice's loudest formants are, into the high band.
    int tilt = 500;
    // Frames quieter than this RMS (about -41 dBFS) get the tilt alone: their few formants hide
    // little noise, and shaping after them costs more in the quiet frames than it gains.
    int quietRms = 300;
    // Frames whose prediction gain (signal over residual power) exceeds this ratio, 30 dB, are
    // tones, not a voice (a voice's frames stay under about 25 dB): they are left unweighted,
    // since noise under a pure tone is heard where noise under a formant is not. 0: no limit.
    int tonalGain = 1000;
};

// A frame's samples with those before it, the oldest first; the frame's end may be zeros.
using AnalysisWindow = std::array<std::int16_t, kAnalysisLength>;

// The weighting for one frame: a lag-windowed autocorrelation of the Hann-windowed samples,
// Levinson-Durbin to order kPredictionOrder, the coefficients scaled by g^k, the poles times the
// tilt. Silence gives the tilt alone.
WeightingFilter analyseFrame(const AnalysisWindow& window, const WeightShape& shape);

// The part of the next weighted error that the memory decides; the error itself is added to it.
// Held within a range whose square, summed over a long file, cannot overflow 64 bits.
inline std::int32_t weightFeedback(const WeightingFilter& filter, const WeightHistory& history) {
    std::int64_t sum = 0;
    for (std::size_t k = 0; k < kWeightOrder; ++k) {
        sum += std::int64_t{filter.zeros[k]} * history.error[k] - std::int64_t{filter.poles[k]} * history.weighted[k];
    }
    sum = (sum + (std::int64_t{1} << (kWeightShift - 1))) >> kWeightShift;  // to nearest: no drift
    constexpr std::int64_t kLimit = 1 << 20;
    return static_cast<std::int32_t>(sum < -kLimit ? -kLimit : sum > kLimit ? kLimit : sum);
}

// The weighted error of a sample whose error is `error` after `feedback`; moves the memory on.
inline std::int32_t pushWeighted(WeightHistory& history, std::int32_t error, std::int32_t feedback) {
    const std::int32_t weighted = error + feedback;
    for (std::size_t k = kWeightOrder - 1; k > 0; --k) {
        history.error[k] = history.error[k - 1];
        history.weighted[k] = history.weighted[k - 1];
    }
    history.error[0] = error;
    history.weighted[0] = weighted;
    return weighted;
}

// The square of a (weighted) error, in 64 bits: weighted errors reach 2^21.
inline std::uint64_t square(std::int32_t value) {
    const std::int64_t v = value;
    return static_cast<std::uint64_t>(v * v);
}

// Samples gathered a frame at a time, with the history the analysis of the frame needs.
struct FrameWindow {
    AnalysisWindow samples{};
    std::size_t filled = 0;  // of the frame, after the history
};

// Takes one sample; true when it completes the frame.
inline bool addToFrame(FrameWindow& frame, std::int16_t sample) {
    frame.samples[kFrameHistory + frame.filled++] = sample;
    return frame.filled == kFrameLength;
}

// The frame's first sample, and the frame's samples still to come made silent (at the end).
inline const std::int16_t* frameStart(FrameWindow& frame) {
    for (std::size_t i = kFrameHistory + frame.filled; i < kAnalysisLength; ++i) frame.samples[i] = 0;
    return frame.samples.data() + kFrameHistory;
}

// Moves on to the next frame: the end of this one becomes its history.
inline void nextFrame(FrameWindow& frame) {
    for (std::size_t i = 0; i < kFrameHistory; ++i) frame.samples[i] = frame.samples[kFrameLength + i];
    frame.filled = 0;
}

}  // namespace AAMSG_SEARCH_BUILD
}  // namespace aamsg
