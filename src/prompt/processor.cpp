// The plan for a prompt (gain, samples kept, fades) and the streaming processor that applies
// it, holding peaks below full scale with a look-ahead limiter.
#include <algorithm>
#include <cmath>

#include "prompt/prompt.hpp"

namespace aamsg {

PromptPlan planPrompt(const SpeechLevel& level, const PromptOptions& options) {
    PromptPlan plan;
    // Silence, or hiss too faint to measure, is left exactly as it is.
    if (!level.active) return plan;
    plan.active = true;
    plan.levelBeforeDb = level.activeDb;
    if (options.level) {
        plan.gainDb = options.targetDb - level.activeDb;
        plan.gain = dbToGain(plan.gainDb);
    }
    if (options.trim) {
        plan.keepFrom = level.firstActive > kTrimMarginSamples ? level.firstActive - kTrimMarginSamples : 0;
        plan.keepTo = std::min(level.samples, level.lastActive + 1 + kTrimMarginSamples);
        plan.fadeIn = plan.keepFrom > 0;
        plan.fadeOut = plan.keepTo < level.samples;
    }
    plan.mayLimit = level.peak * plan.gain > kCeiling;
    plan.predictedLevelDb = level.activeDb + plan.gainDb;
    plan.trimmedStartSeconds = static_cast<double>(plan.keepFrom) / kMessageRate;
    if (options.trim) plan.trimmedEndSeconds = static_cast<double>(level.samples - plan.keepTo) / kMessageRate;
    return plan;
}

bool planChangesNothing(const PromptPlan& plan) {
    return plan.gain == 1.0 && plan.keepFrom == 0 && !plan.fadeIn && !plan.fadeOut && !plan.mayLimit;
}

namespace {

// The gain that brings a sample of this size to the ceiling, or 1 if it is within it.
double neededGain(double value) {
    const double magnitude = std::fabs(value);
    return magnitude > kCeiling ? kCeiling / magnitude : 1.0;
}

// Gives out the oldest waiting sample, with the gain the look-ahead over the waiting samples
// (those the stream has) calls for.
void emitOldest(PromptProcessor& p, float* out, std::size_t& written) {
    double gain = 1.0;
    if (p.plan.mayLimit) {
        double lowest = 1.0;
        if (p.over > 0) {
            for (std::size_t k = 0; k < p.count; ++k) lowest = std::min(lowest, p.needed[(p.first + k) % kLimiterWindow]);
        }
        // A lowered gain recovers exponentially unless the look-ahead holds it down. Counted
        // in units of kGainUnit, the recovery always ends at exactly 1, and the window's sum
        // is exact.
        const auto recovering = kGainUnit - static_cast<std::int64_t>(static_cast<double>(kGainUnit - p.held) * kReleaseCoefficient);
        p.held = std::min(static_cast<std::int64_t>(lowest * kGainUnit), recovering);
        p.heldSum += p.held - p.heldRing[p.heldNext];
        p.heldRing[p.heldNext] = p.held;
        p.heldNext = (p.heldNext + 1) % kLimiterWindow;
        // Each held gain of the last window is at most the gain this sample needs (its
        // look-ahead covered it), so their mean is too, and the mean moves by at most
        // 1/kLimiterWindow a sample: the attack is a ramp over the look-ahead.
        gain = static_cast<double>(p.heldSum) / static_cast<double>(kGainUnit * static_cast<std::int64_t>(kLimiterWindow));
    }
    // The ceiling's division can round a sample an ulp past it.
    const double value = std::clamp(p.waiting[p.first] * gain, -kCeiling, kCeiling);
    if (p.needed[p.first] < 1.0) --p.over;
    p.first = (p.first + 1) % kLimiterWindow;
    --p.count;
    if (p.silentLeft > 0) {
        --p.silentLeft;
    } else {
        out[written++] = static_cast<float>(value);
    }
}

void push(PromptProcessor& p, double value, float* out, std::size_t& written) {
    const std::size_t slot = (p.first + p.count) % kLimiterWindow;
    p.waiting[slot] = value;
    p.needed[slot] = neededGain(value);
    if (p.needed[slot] < 1.0) ++p.over;
    ++p.count;
    if (p.count == kLimiterWindow) emitOldest(p, out, written);
}

}  // namespace

PromptProcessor makePromptProcessor(const PromptPlan& plan) {
    PromptProcessor p;
    p.plan = plan;
    p.heldRing.fill(kGainUnit);
    std::size_t none = 0;
    for (std::size_t k = 0; k < kLimiterWindow - 1; ++k) push(p, 0.0, nullptr, none);
    return p;
}

std::size_t processPrompt(PromptProcessor& p, std::span<const float> samples, float* out) {
    const PromptPlan& plan = p.plan;
    std::size_t written = 0;
    for (const float sample : samples) {
        const std::uint64_t at = p.position++;
        if (at < plan.keepFrom || at >= plan.keepTo) continue;
        double value = cleanSample(sample) * plan.gain;
        const std::uint64_t fromStart = at - plan.keepFrom;
        const std::uint64_t toEnd = plan.keepTo - 1 - at;
        if (plan.fadeIn && fromStart < kFadeSamples) value = value * static_cast<double>(fromStart) / kFadeSamples;
        if (plan.fadeOut && toEnd < kFadeSamples) value = value * static_cast<double>(toEnd) / kFadeSamples;
        push(p, value, out, written);
    }
    return written;
}

std::size_t finishPrompt(PromptProcessor& p, float* out) {
    std::size_t written = 0;
    while (p.count > 0) emitOldest(p, out, written);
    return written;
}

}  // namespace aamsg
