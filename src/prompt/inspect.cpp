// The measures of a prompt's sound and the findings they lead to.
#include "prompt/inspect.hpp"

#include <algorithm>
#include <cmath>

namespace aamsg {

namespace {

void closeRun(ClipMeter& clips) {
    if (clips.length >= kClipRunSamples) {
        clips.samples += clips.length;
        ++clips.places;
    }
    clips.length = 0;
}

void meterClip(ClipMeter& clips, double v) {
    if (clips.length > 0) {
        const bool sameSide = (v > 0.0) == (clips.high > 0.0);
        const double low = std::min(clips.low, v);
        const double high = std::max(clips.high, v);
        if (std::fabs(v) >= kClipLevel && sameSide && high - low <= kFlatTolerance) {
            clips.low = low;
            clips.high = high;
            ++clips.length;
            return;
        }
        closeRun(clips);
    }
    if (std::fabs(v) >= kClipLevel) {
        clips.length = 1;
        clips.low = clips.high = v;
    }
}

void closeFrame(NoiseMeter& noise, std::size_t samples) {
    const double n = static_cast<double>(samples);
    const double mean = noise.sum / n;
    const double db = powerToDb(std::max(0.0, noise.squares / n - mean * mean) / kFullScalePower);
    noise.sum = 0.0;
    noise.squares = 0.0;
    noise.filled = 0;
    if (db < kDigitalSilenceDb) {
        ++noise.silentPending;
        return;
    }
    // Silence counts once sound follows it: then it lay between sounds.
    if (noise.sounding > 0) noise.silentInside += noise.silentPending;
    noise.silentPending = 0;
    const auto bin = static_cast<std::size_t>((db - kDigitalSilenceDb) / kNoiseBinDb);
    ++noise.frames[std::min(bin, kNoiseBins - 1)];
    ++noise.sounding;
}

double noiseFloorDb(NoiseMeter noise) {
    // A signal shorter than one frame is measured as one.
    if (noise.sounding == 0 && noise.silentPending == 0 && noise.filled > 0) closeFrame(noise, noise.filled);
    if (noise.sounding == 0) return kSilenceDb;
    const std::uint64_t total = noise.sounding + noise.silentInside;
    // The frame at the percentile, counted from 1: the quietest tenth lies at or under it.
    const auto rank = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::ceil(kNoisePercentile * static_cast<double>(total))));
    if (rank <= noise.silentInside) return kSilenceDb;
    std::uint64_t seen = noise.silentInside;
    std::size_t bin = 0;
    for (; bin + 1 < kNoiseBins; ++bin) {
        seen += noise.frames[bin];
        if (seen >= rank) break;
    }
    return kDigitalSilenceDb + (static_cast<double>(bin) + 0.5) * kNoiseBinDb;
}

double seconds(std::uint64_t samples, std::uint32_t rate) { return rate > 0 ? static_cast<double>(samples) / rate : 0.0; }

}  // namespace

void meterInput(SoundMeter& meter, std::span<const float> samples) {
    for (const float sample : samples) {
        const double v = cleanSample(sample);
        meter.sum += v;
        meter.peak = std::max(meter.peak, std::fabs(v));
        meterClip(meter.clips, v);
    }
    meter.inputSamples += samples.size();
}

void meterMessageRate(SoundMeter& meter, std::span<const float> samples) {
    meterSamples(meter.speech, samples);
    NoiseMeter& noise = meter.noise;
    for (const float sample : samples) {
        const double v = cleanSample(sample);
        noise.sum += v;
        noise.squares += v * v;
        if (++noise.filled == kNoiseFrameSamples) closeFrame(noise, kNoiseFrameSamples);
    }
}

SoundMeasures finishSoundMeter(const SoundMeter& meter, std::uint32_t inputRate) {
    SoundMeasures m;
    m.seconds = seconds(meter.inputSamples, inputRate);
    m.level = finishMeter(meter.speech);
    m.peakDb = powerToDb(meter.peak * meter.peak / kFullScalePower);
    ClipMeter clips = meter.clips;
    closeRun(clips);
    m.clippedSamples = clips.samples;
    m.clippedPlaces = clips.places;
    m.noiseFloorDb = noiseFloorDb(meter.noise);
    if (meter.inputSamples > 0) m.dcOffset = meter.sum / static_cast<double>(meter.inputSamples) / kFullScale;
    if (m.level.active) {
        m.silenceStartSeconds = seconds(m.level.firstActive, kMessageRate);
        m.silenceEndSeconds = seconds(m.level.samples - 1 - m.level.lastActive, kMessageRate);
        m.speechToNoiseDb = m.level.activeDb - std::max(m.noiseFloorDb, kDigitalSilenceDb);
        m.gainDb = kDefaultTargetDb - m.level.activeDb;
    }
    return m;
}

std::uint32_t findingsOf(const SoundMeasures& m) {
    std::uint32_t findings = 0;
    if (m.clippedPlaces > 0) findings |= kFindingClipped;
    if (std::fabs(m.dcOffset) > kDcOffsetLimit) findings |= kFindingDcOffset;
    if (!m.level.active) return findings | kFindingNoSpeech;
    // Steady sound has no speech to level, trim or keep clear of noise.
    if (m.speechToNoiseDb < kNoiseOnlySnrDb) return findings | kFindingNoiseOnly;
    if (m.level.activeDb < kTooQuietDb) findings |= kFindingTooQuiet;
    if (m.level.activeDb > kTooLoudDb) findings |= kFindingTooLoud;
    if (m.speechToNoiseDb < kNoisySnrDb) findings |= kFindingNoisy;
    if (m.silenceStartSeconds > kLongSilenceSeconds) findings |= kFindingSilenceAtStart;
    if (m.silenceEndSeconds > kLongSilenceSeconds) findings |= kFindingSilenceAtEnd;
    return findings;
}

std::uint32_t conversionFindings(const SoundMeasures& measures, double appliedGainDb, bool steady) {
    std::uint32_t findings = findingsOf(measures);
    if (steady) findings &= ~static_cast<std::uint32_t>(kFindingNoiseOnly);
    if (appliedGainDb > kLargeGainDb) findings |= kFindingLargeGain;
    return findings;
}

}  // namespace aamsg
