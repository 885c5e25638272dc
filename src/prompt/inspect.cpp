// The measures of a prompt's sound and the findings they lead to.
#include "prompt/inspect.hpp"

#include <algorithm>
#include <cmath>

namespace aamsg {

namespace {

// True when the run closed was long enough to count.
bool closeRun(ClipMeter& clips) {
    const bool counted = clips.length >= kClipRunSamples;
    if (counted) {
        clips.samples += clips.length;
        ++clips.places;
    }
    clips.length = 0;
    return counted;
}

// True when a run ended before `v` and counted: its last sample is the one before `v`.
bool meterClip(ClipMeter& clips, double v) {
    bool counted = false;
    if (clips.length > 0) {
        const bool sameSide = (v > 0.0) == (clips.high > 0.0);
        const double low = std::min(clips.low, v);
        const double high = std::max(clips.high, v);
        if (std::fabs(v) >= kClipLevel && sameSide && high - low <= kFlatTolerance) {
            clips.low = low;
            clips.high = high;
            ++clips.length;
            return false;
        }
        counted = closeRun(clips);
    }
    if (std::fabs(v) >= kClipLevel) {
        clips.length = 1;
        clips.low = clips.high = v;
    }
    return counted;
}

void drawSample(WavePicture& picture, float v) {
    if (picture.columns == 0 || picture.inLast == picture.run) {
        if (picture.columns == kPictureColumns) {
            // Every column is full: pairs merge into the first half, each twice as long.
            for (std::size_t c = 0; c < kPictureColumns / 2; ++c) {
                picture.low[c] = std::min(picture.low[2 * c], picture.low[2 * c + 1]);
                picture.high[c] = std::max(picture.high[2 * c], picture.high[2 * c + 1]);
                picture.clipped[c] = picture.clipped[2 * c] | picture.clipped[2 * c + 1];
            }
            picture.columns = kPictureColumns / 2;
            picture.run *= 2;
        }
        picture.low[picture.columns] = picture.high[picture.columns] = v;
        picture.clipped[picture.columns] = 0;
        ++picture.columns;
        picture.inLast = 0;
    }
    const std::size_t last = picture.columns - 1;
    picture.low[last] = std::min(picture.low[last], v);
    picture.high[last] = std::max(picture.high[last], v);
    ++picture.inLast;
}

// The column where the sample drawn last lies holds a clipped place's end.
void markClipped(WavePicture& picture) {
    if (picture.columns > 0) picture.clipped[picture.columns - 1] = 1;
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
        if (meterClip(meter.clips, v)) markClipped(meter.picture);
        drawSample(meter.picture, static_cast<float>(v));
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
    m.picture = meter.picture;
    ClipMeter clips = meter.clips;
    if (closeRun(clips)) markClipped(m.picture);
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
