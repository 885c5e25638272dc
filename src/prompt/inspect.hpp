// What a prompt's sound says: the measures of a recording as `q` reads it (its channels
// averaged; the level, silences and noise at the message rate, the clipping, peak and offset at
// the input's own rate), and the findings they lead to. Pure computation, streaming, in
// constant memory.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "prompt/prompt.hpp"

namespace aamsg {

// ---- What is wrong with a prompt: one bit each (the library's AAMSG_FINDING_* flags).
enum Finding : std::uint32_t {
    kFindingNoSpeech = 1u << 0,
    kFindingNoiseOnly = 1u << 1,
    kFindingTooQuiet = 1u << 2,
    kFindingTooLoud = 1u << 3,
    kFindingClipped = 1u << 4,
    kFindingSilenceAtStart = 1u << 5,
    kFindingSilenceAtEnd = 1u << 6,
    kFindingNoisy = 1u << 7,
    kFindingDcOffset = 1u << 8,
    kFindingLargeGain = 1u << 9,  // a conversion's only: --level raised the speech by more than kLargeGainDb
};

// ---- Their thresholds.

// Telephone networks want active speech at -19 dBm0 (ITU-T G.169, G.115, RFC 7874), -22 dB of
// full scale here; RFC 7874 lets an automatic gain control leave it within 6 dB of that.
inline constexpr double kLevelToleranceDb = 6.0;
inline constexpr double kTooQuietDb = kDefaultTargetDb - kLevelToleranceDb;
inline constexpr double kTooLoudDb = kDefaultTargetDb + kLevelToleranceDb;
// Noise closer to the speech than P.56's margin is counted as speech by the meter itself: the
// pauses carry sound it cannot tell from talk.
inline constexpr double kNoisySnrDb = kMarginDb;
// Speech rises 20 dB and more above the pauses between its words; sound whose quiet tenth lies
// within 6 dB of its active level has none, and is steady noise, hum, a tone or music.
inline constexpr double kNoiseOnlySnrDb = 6.0;
// Dead air a caller notices at either end of a prompt (--trim keeps kTrimMarginSamples).
inline constexpr double kLongSilenceSeconds = 1.0;
// A recorder's offset, as a share of full scale, that clicks where the message starts and ends.
inline constexpr double kDcOffsetLimit = 0.01;
// A gain that brings up the recorder's noise as far: the recording was made far too quietly.
inline constexpr double kLargeGainDb = 20.0;

// ---- Clipping, judged on the input at its own rate: a recorder that clipped holds its samples
// flat at full scale, one run for each peak it cut. After the rate conversion the runs ring and
// overshoot, and a smooth peak of a sound normalised to full scale would reach as high: only
// flat runs at the input's rate tell the two apart.

// A sample is at full scale from the top step of 8-bit samples up (127/128, -0.07 dB): every
// integer format's positive and negative limits, and floats at 1.0 and beyond.
inline constexpr double kClipLevel = kFullScale * (1.0 - 1.0 / 128.0);
// A run is flat while its samples lie within one 16-bit step of each other (dither added after
// the clipping moves some by one).
inline constexpr double kFlatTolerance = 1.0;
// Samples in a flat run at full scale that make a clipped place: as Audacity's Find Clipping
// counts by default. Two can be a smooth peak's top; three at 48 kHz would need a tone under
// 60 Hz at full scale.
inline constexpr std::uint32_t kClipRunSamples = 3;

struct ClipMeter {
    std::uint64_t length = 0;  // samples in the open run, 0 when none is open
    double low = 0.0;          // the open run's lowest and highest sample
    double high = 0.0;
    std::uint64_t samples = 0;  // in closed runs long enough to count
    std::uint64_t places = 0;
};

// ---- The noise floor: the level that the quietest tenth of the sound stays under, in 20 ms
// frames at the message rate, each frame's offset taken out (a constant is no noise). Frames of
// digital silence (below -100 dB, under the noise of any 16-bit recording) count as silence,
// and those before the first frame of sound and after the last not at all: silence added
// around a recording says nothing of the noise under its speech.

inline constexpr std::size_t kNoiseFrameSamples = kMessageRate / 50;
inline constexpr double kDigitalSilenceDb = -100.0;
inline constexpr double kNoiseBinDb = 0.25;
inline constexpr std::size_t kNoiseBins = 480;  // -100 dB up to +20 dB
inline constexpr double kNoisePercentile = 0.1;

struct NoiseMeter {
    double sum = 0.0;  // of the open frame's samples
    double squares = 0.0;  // and of their squares
    std::size_t filled = 0;
    std::array<std::uint64_t, kNoiseBins> frames{};  // frames of sound by level
    std::uint64_t sounding = 0;                      // their count
    std::uint64_t silentInside = 0;                  // silent frames between frames of sound
    std::uint64_t silentPending = 0;                 // silent frames since the last of sound
};

// ---- A picture of the sound, for a waveform drawn beside the measures: the samples at the
// input's rate in equal runs, one column each, and each column's lowest and highest sample and
// whether a clipped place ends in it. The length is not known while the samples come: when the
// columns are full, neighbours merge and the run doubles, so that a sound of any length takes
// from half of kPictureColumns to all of them (a short one a column a sample).

inline constexpr std::size_t kPictureColumns = 1024;

struct WavePicture {
    std::uint64_t run = 1;      // samples a column
    std::size_t columns = 0;    // in use, the last maybe not yet full
    std::uint64_t inLast = 0;   // samples in the last
    std::array<float, kPictureColumns> low{};   // 16-bit units, as the samples come
    std::array<float, kPictureColumns> high{};
    std::array<std::uint8_t, kPictureColumns> clipped{};
};

struct SoundMeter {
    // At the input's rate.
    std::uint64_t inputSamples = 0;
    double sum = 0.0;   // for the offset
    double peak = 0.0;  // the largest |sample|
    ClipMeter clips;
    WavePicture picture;
    // At the message rate.
    SpeechMeter speech = makeSpeechMeter();
    NoiseMeter noise;
};

// Takes the next samples at the input's rate, channels averaged (16-bit units, full scale 32768).
void meterInput(SoundMeter& meter, std::span<const float> samples);
// Takes the next samples of the same signal at the message rate.
void meterMessageRate(SoundMeter& meter, std::span<const float> samples);

struct SoundMeasures {
    double seconds = 0.0;       // the input's length: its samples over its rate
    SpeechLevel level;          // at the message rate, as --level measures it
    double peakDb = kSilenceDb;  // dB re full scale; kSilenceDb for all zeros
    std::uint64_t clippedSamples = 0;
    std::uint64_t clippedPlaces = 0;
    // Before the first and after the last active sample, as --trim finds them (0 without speech).
    double silenceStartSeconds = 0.0;
    double silenceEndSeconds = 0.0;
    double noiseFloorDb = kSilenceDb;  // kSilenceDb: digital silence
    // The active level over the noise floor, the floor taken no lower than kDigitalSilenceDb;
    // 0 without speech.
    double speechToNoiseDb = 0.0;
    double dcOffset = 0.0;  // the mean sample, a share of full scale (-1 to 1)
    double gainDb = 0.0;    // what --level would apply for the telephone level; 0 without speech
    WavePicture picture;
};

// `inputRate` is the rate meterInput's samples came at.
SoundMeasures finishSoundMeter(const SoundMeter& meter, std::uint32_t inputRate);

// The findings of a recording's measures (never kFindingLargeGain, which a conversion adds).
std::uint32_t findingsOf(const SoundMeasures& measures);

// The findings of a conversion's input: its measures', and kFindingLargeGain when the gain
// applied passes kLargeGainDb. Music and tones (`steady`: the flat search, which is for them)
// hold no pauses by nature: they are not taken for noise.
std::uint32_t conversionFindings(const SoundMeasures& measures, double appliedGainDb, bool steady);

}  // namespace aamsg
