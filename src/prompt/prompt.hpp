// Prompts at an even level and without dead air: the active speech level meter (ITU-T P.56
// method B), the plan it leads to (gain, samples kept, fades) and the streaming processor that
// applies it with a look-ahead limiter. The signal comes at the message rate, as q hands it
// over, in 16-bit units (full scale 32768); everything that decides an output sample uses
// + - * / sqrt and integers only, so every build gives the same samples.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/series.hpp"
#include "codec/adpcm.hpp"
#include "prompt/levels.hpp"

namespace aamsg {

// ---- Deterministic decibels: series (base/series.hpp) and exact scaling by powers of two,
// never libm's exp/log.

// 10^(db/10), and its inverse; powerToDb(0) is kSilenceDb.
double dbToPower(double db);
double powerToDb(double power);
// 10^(db/20): an amplitude gain.
double dbToGain(double db);

inline constexpr double kSilenceDb = -200.0;

// A sample as the level meter and the processor take it: NaN, from a broken float file, as
// zero, and anything else held to a range far past full scale where no arithmetic overflows.
inline double cleanSample(float value) {
    constexpr double kLargest = 64.0 * 32768.0;
    const double v = value;
    if (v >= -kLargest && v <= kLargest) return v;
    return v > 0 ? kLargest : v < 0 ? -kLargest : 0.0;
}

// ---- The meter.

inline constexpr double kFullScale = 32768.0;                 // the input's unit: dB re this RMS
inline constexpr double kFullScalePower = kFullScale * kFullScale;

// The envelope's time constant (0.03 s), as the coefficient of each of its two first-order
// smoothing stages: exp(-1 / (rate * 0.03)).
inline constexpr double kEnvelopeCoefficient = expSeries(-1.0 / (kMessageRate * 0.03));
// After the envelope falls below a threshold, this long still counts as active (0.2 s).
inline constexpr std::uint32_t kHangoverSamples = kMessageRate / 5;
// The active level lies this far above the threshold it is measured at.
inline constexpr double kMarginDb = 15.9;
// Thresholds 1, 2, 4 ... 16384 in 16-bit units: a geometric series a factor 2 (6.02 dB)
// apart, from the least significant bit to half of full scale.
inline constexpr std::size_t kThresholds = 15;
// For trimming, a run of the envelope above a threshold is speech once this many of its samples
// (30 ms) reach the threshold themselves: a click lifts the envelope as high, for as long, but
// with a few ms of loud samples.
inline constexpr std::uint32_t kMinSpeechSamples = kMessageRate * 3 / 100;

struct SpeechMeter {
    double envelope1 = 0.0;  // the first smoothing stage of |x|
    double envelope2 = 0.0;  // the second: the envelope the thresholds are compared with
    double sumSquares = 0.0;
    double peak = 0.0;  // the largest |x|
    std::uint64_t samples = 0;
    std::array<std::uint64_t, kThresholds> activeCount{};
    std::array<std::uint32_t, kThresholds> hangover{};  // samples since the envelope was above
    // For trimming, the runs of samples over which the envelope stays at or above each
    // threshold: where the open run began, and how many of its samples reached the threshold
    // themselves (counted up to kMinSpeechSamples).
    std::size_t inRun = 0;  // the thresholds whose run is open: those the last envelope reached
    std::array<std::uint64_t, kThresholds> runStart{};
    std::array<std::uint32_t, kThresholds> runLoud{};
    // The start of the first run with kMinSpeechSamples loud samples, and the last loud sample
    // of the last such run (kNoSample while there was none).
    std::array<std::uint64_t, kThresholds> firstSpeech{};
    std::array<std::uint64_t, kThresholds> lastSpeech{};
};

inline constexpr std::uint64_t kNoSample = UINT64_MAX;

struct SpeechLevel {
    std::uint64_t samples = 0;
    bool active = false;             // any active speech: false for silence, or a level so low
                                     // (below -74 dBFS) that the meter cannot place it
    double activePower = 0.0;        // mean square over the active samples, in 16-bit units squared
    double activeDb = kSilenceDb;    // the same in dB re full scale
    double longTermDb = kSilenceDb;  // mean square over every sample, dB re full scale
    double activityFactor = 0.0;     // the share of the samples that is active speech, 0..1
    double peak = 0.0;               // the largest |sample|
    // Where speech starts and ends, for trimming, at the highest threshold at or below the
    // active level less the margin: the start of the first run of the envelope above it that
    // is speech (see kMinSpeechSamples), and the last sample of the last such run that reached
    // it. Not the envelope's own fall: it lags the signal by tens of ms, and would keep that
    // much more silence. Valid when active.
    std::uint64_t firstActive = 0;
    std::uint64_t lastActive = 0;
};

SpeechMeter makeSpeechMeter();
// Takes the next samples (any block size; the result does not depend on it).
void meterSamples(SpeechMeter& meter, std::span<const float> samples);
SpeechLevel finishMeter(const SpeechMeter& meter);

// ---- The plan.

// Kept before the first and after the last active sample (150 ms).
inline constexpr std::uint32_t kTrimMarginSamples = kMessageRate * 3 / 20;
// A cut into the signal fades in or out over this many samples (5 ms), from and to zero.
inline constexpr std::uint32_t kFadeSamples = kMessageRate / 200;
// The limiter holds every sample to this.
inline constexpr double kCeiling = 32767.0;

struct PromptOptions {
    bool level = false;
    double targetDb = kDefaultTargetDb;  // active speech level wanted, dB re full scale, within the
                                         // levels of prompt/levels.hpp (the library checks it)
    bool trim = false;
};

struct PromptPlan {
    bool active = false;  // the meter found active speech; when false the signal is kept as it is
    double gain = 1.0;    // linear, applied to every kept sample
    double gainDb = 0.0;
    // The samples kept: [keepFrom, keepTo) of the input's. Without trim, every one, however
    // many the second pass brings.
    std::uint64_t keepFrom = 0;
    std::uint64_t keepTo = kNoSample;
    bool fadeIn = false;   // the first kFadeSamples kept rise from zero
    bool fadeOut = false;  // the last kFadeSamples kept fall to zero
    bool mayLimit = false;  // the gained peak passes the ceiling: the limiter will act
    // For the console.
    double levelBeforeDb = kSilenceDb;
    double predictedLevelDb = kSilenceDb;  // levelBeforeDb + gainDb: exact unless the limiter acts
    double trimmedStartSeconds = 0.0;
    double trimmedEndSeconds = 0.0;
};

PromptPlan planPrompt(const SpeechLevel& level, const PromptOptions& options);

// Whether the processor would give back the input unchanged (no gain, no cut, no limiting):
// the conversion can then skip it.
bool planChangesNothing(const PromptPlan& plan);

// ---- The processor.

// The look-ahead of the limiter (4 ms): it reaches the gain a peak needs within this many
// samples before the peak, linearly.
inline constexpr std::size_t kLimiterWindow = 32;
// The limiter's gain recovers exponentially with this time constant (50 ms) after a peak.
inline constexpr double kReleaseCoefficient = expSeries(-1.0 / (kMessageRate * 0.05));
// The limiter's gains are counted in these units: fine enough to be smooth, and a window's sum
// of them is exact.
inline constexpr std::int64_t kGainUnit = std::int64_t{1} << 40;
// The output lags the input by this many samples; finishPrompt gives them.
inline constexpr std::size_t kPromptDelay = kLimiterWindow - 1;

struct PromptProcessor {
    PromptPlan plan;
    std::uint64_t position = 0;  // input samples taken
    // The samples waiting for their look-ahead, after gain and fades, and the gain each needs
    // to stay within the ceiling; a ring of kLimiterWindow from `first`. The stream starts
    // with kLimiterWindow - 1 zeros, never given out, so that a peak at the very start is
    // reached gradually too.
    std::array<double, kLimiterWindow> waiting{};
    std::array<double, kLimiterWindow> needed{};
    std::size_t first = 0;
    std::size_t count = 0;
    std::size_t silentLeft = kLimiterWindow - 1;  // leading zeros still to drop from the output
    std::size_t over = 0;  // of them, samples that need a gain below 1
    // The held gains (the look-ahead's minimum, released slowly) in units of kGainUnit, whose
    // mean over the last kLimiterWindow is the gain applied.
    std::int64_t held = kGainUnit;
    std::array<std::int64_t, kLimiterWindow> heldRing{};
    std::int64_t heldSum = kGainUnit * static_cast<std::int64_t>(kLimiterWindow);
    std::size_t heldNext = 0;
};

PromptProcessor makePromptProcessor(const PromptPlan& plan);
// Takes the same samples the meter took, from the first, in blocks of any size; writes the
// processed samples ready so far to `out` (room for samples.size() needed), returns how many.
// The output never passes kCeiling in magnitude; the conversion rounds it.
std::size_t processPrompt(PromptProcessor& processor, std::span<const float> samples, float* out);
// Writes the samples still held (at most kPromptDelay) and returns how many.
std::size_t finishPrompt(PromptProcessor& processor, float* out);

}  // namespace aamsg
