// The active speech level of a prompt (ITU-T P.56 method B) and the decibel arithmetic it and
// the gain need, built from + - * / and exact scaling by powers of two.
#include <algorithm>
#include <cmath>

#include "prompt/prompt.hpp"

namespace aamsg {

namespace {

constexpr double kLn2 = 0.6931471805599453094;
constexpr double kLn10 = 2.3025850929940456840;
constexpr double kSqrtHalf = 0.70710678118654752440;
// 20 log10(2): the distance between neighbouring thresholds.
constexpr double kThresholdStepDb = 6.0205999132796239042;
// Powers outside this range of dB are taken as 0 and as the largest the plan could meet.
constexpr double kPowerDbRange = 600.0;

constexpr double kEnvelopeInput = 1.0 - kEnvelopeCoefficient;

// The natural logarithm of a positive finite x.
double naturalLog(double x) {
    int exponent = 0;
    double m = std::frexp(x, &exponent);  // exact: x = m * 2^exponent, m in [0.5, 1)
    if (m < kSqrtHalf) {
        m *= 2.0;
        --exponent;
    }
    // ln m = 2 atanh(z), z = (m - 1) / (m + 1), |z| <= 0.172: the odd series converges fast.
    return exponent * kLn2 + 2.0 * atanhSeries((m - 1.0) / (m + 1.0));
}

// Full scale, 32768, is 2^15: threshold 15 would lie at 0 dB.
constexpr double kFullScaleLog2 = 15.0;
static_assert(kFullScale == 1 << 15);

// dB re full scale of threshold j (2^j in 16-bit units).
double thresholdDb(std::size_t j) { return (static_cast<double>(j) - kFullScaleLog2) * kThresholdStepDb; }

}  // namespace

double powerToDb(double power) {
    if (!(power > 0.0)) return kSilenceDb;
    return std::max(kSilenceDb, 10.0 * naturalLog(power) / kLn10);
}

double dbToPower(double db) {
    if (!(db > -kPowerDbRange)) return 0.0;  // NaN too
    const double x = std::min(db, kPowerDbRange) * (kLn10 / 10.0);
    // e^x = 2^n e^r with |r| <= ln2 / 2, where the series is exact to the last bits.
    const double n = std::floor(x / kLn2 + 0.5);
    return std::ldexp(expSeries(x - n * kLn2), static_cast<int>(n));
}

double dbToGain(double db) { return dbToPower(db / 2.0); }

SpeechMeter makeSpeechMeter() {
    SpeechMeter meter;
    // Nothing is active before the envelope first reaches a threshold.
    meter.hangover.fill(kHangoverSamples);
    meter.firstSpeech.fill(kNoSample);
    meter.lastSpeech.fill(kNoSample);
    return meter;
}

namespace {

// How many thresholds (2^0, 2^1 ...) a value reaches: x >= 2^j exactly for j below it.
std::size_t thresholdsReached(double x) {
    if (!(x >= 1.0)) return 0;
    int exponent = 0;
    std::frexp(x, &exponent);  // x = m * 2^exponent, m in [0.5, 1)
    return std::min(static_cast<std::size_t>(exponent), kThresholds);
}

}  // namespace

void meterSamples(SpeechMeter& meter, std::span<const float> samples) {
    for (const float sample : samples) {
        const double v = cleanSample(sample);
        const double magnitude = std::fabs(v);
        meter.sumSquares += v * v;
        meter.peak = std::max(meter.peak, magnitude);
        meter.envelope1 = kEnvelopeCoefficient * meter.envelope1 + kEnvelopeInput * magnitude;
        meter.envelope2 = kEnvelopeCoefficient * meter.envelope2 + kEnvelopeInput * meter.envelope1;
        const std::uint64_t at = meter.samples++;
        const std::size_t above = thresholdsReached(meter.envelope2);
        for (std::size_t j = meter.inRun; j < above; ++j) {
            meter.runStart[j] = at;
            meter.runLoud[j] = 0;
        }
        meter.inRun = above;
        for (std::size_t j = 0; j < above; ++j) {
            ++meter.activeCount[j];
            meter.hangover[j] = 0;
        }
        const std::size_t loud = std::min(above, thresholdsReached(magnitude));
        for (std::size_t j = 0; j < loud; ++j) {
            if (meter.runLoud[j] < kMinSpeechSamples) ++meter.runLoud[j];
            if (meter.runLoud[j] == kMinSpeechSamples) {
                if (meter.firstSpeech[j] == kNoSample) meter.firstSpeech[j] = meter.runStart[j];
                meter.lastSpeech[j] = at;
            }
        }
        // A higher threshold was last reached no later than a lower one, so the hangovers grow
        // with j: the first that has run out ends the ones still running.
        for (std::size_t j = above; j < kThresholds && meter.hangover[j] < kHangoverSamples; ++j) {
            ++meter.activeCount[j];
            ++meter.hangover[j];
        }
    }
}

SpeechLevel finishMeter(const SpeechMeter& meter) {
    SpeechLevel level;
    level.samples = meter.samples;
    level.peak = meter.peak;
    if (meter.samples == 0) return level;
    const double longTermPower = meter.sumSquares / static_cast<double>(meter.samples);
    level.longTermDb = powerToDb(longTermPower / kFullScalePower);
    // The active level at threshold j: the power over the samples counted active there.
    auto activeDb = [&](std::size_t j) { return powerToDb(meter.sumSquares / static_cast<double>(meter.activeCount[j]) / kFullScalePower); };
    if (meter.activeCount[0] == 0) return level;
    double previousLevel = activeDb(0);
    double previousExcess = previousLevel - thresholdDb(0);
    // Within the margin already at the lowest threshold: too faint to tell speech from hiss.
    if (previousExcess <= kMarginDb) return level;
    double levelDb = previousLevel;
    std::size_t trimThreshold = kThresholds - 1;
    for (std::size_t j = 1; j < kThresholds; ++j) {
        if (meter.activeCount[j] == 0) {
            // The envelope never reached this threshold (a few short clicks): no line to
            // interpolate on; the last level measured stands.
            trimThreshold = j - 1;
            break;
        }
        const double thisLevel = activeDb(j);
        const double excess = thisLevel - thresholdDb(j);
        if (excess <= kMarginDb) {
            // Where the line between the two thresholds' (threshold, level) points lies the
            // margin above its threshold.
            const double t = (previousExcess - kMarginDb) / (previousExcess - excess);
            levelDb = previousLevel + t * (thisLevel - previousLevel);
            trimThreshold = thresholdDb(j) <= levelDb - kMarginDb ? j : j - 1;
            break;
        }
        previousLevel = thisLevel;
        previousExcess = excess;
        levelDb = thisLevel;
    }
    level.active = true;
    level.activeDb = levelDb;
    level.activePower = dbToPower(levelDb) * kFullScalePower;
    level.activityFactor = std::min(1.0, longTermPower / level.activePower);
    // Where no run at the trimming threshold was long enough to be speech, a lower threshold's
    // may be; failing that, nothing is trimmed.
    std::size_t below = trimThreshold + 1;  // thresholds from it down still to look at
    while (below > 0 && meter.firstSpeech[below - 1] == kNoSample) --below;
    level.firstActive = below > 0 ? meter.firstSpeech[below - 1] : 0;
    level.lastActive = below > 0 ? meter.lastSpeech[below - 1] : meter.samples - 1;
    return level;
}

}  // namespace aamsg
