// Prompt levelling and trimming: the meter against signals whose level is known by
// construction, the gain and the limiter's bounds, the trim's margins, and independence from
// how the signal is handed over; and what a prompt's sound says: its measures and findings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "codec/adpcm.hpp"
#include "prompt/inspect.hpp"
#include "prompt/prompt.hpp"

namespace aamsg {
namespace {

using Samples = std::vector<float>;

std::size_t secondsToSamples(double seconds) { return static_cast<std::size_t>(seconds * kMessageRate); }
double amplitudeOf(double rmsDb) { return kFullScale * std::pow(10.0, rmsDb / 20.0); }

Samples silence(double seconds) { return Samples(secondsToSamples(seconds), 0.0f); }

Samples tone(double seconds, double rmsDb) {
    Samples s(secondsToSamples(seconds));
    const double peak = amplitudeOf(rmsDb) * std::numbers::sqrt2;
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<float>(peak * std::sin(2 * std::numbers::pi * 440.0 * double(i) / kMessageRate));
    return s;
}

// Speech-like: syllables of noise 100-300 ms long under a raised-sine envelope, levels spread
// over 12 dB, with 50-150 ms between them and a 400 ms pause every few.
Samples babble(double seconds, double rmsDb, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    Samples s;
    const std::size_t total = secondsToSamples(seconds);
    for (int syllable = 1; s.size() < total; ++syllable) {
        const std::size_t length = secondsToSamples(0.1 + 0.2 * uniform(random));
        const double amplitude = amplitudeOf(rmsDb - 6.0 + 12.0 * uniform(random));
        for (std::size_t i = 0; i < length; ++i) {
            const double envelope = std::sin(std::numbers::pi * double(i) / double(length));
            s.push_back(static_cast<float>(amplitude * envelope * noise(random)));
        }
        const double gap = syllable % 4 == 0 ? 0.4 : 0.05 + 0.1 * uniform(random);
        s.insert(s.end(), secondsToSamples(gap), 0.0f);
    }
    s.resize(total);
    return s;
}

Samples joined(std::initializer_list<Samples> parts) {
    Samples s;
    for (const Samples& part : parts) s.insert(s.end(), part.begin(), part.end());
    return s;
}

Samples scaled(Samples s, double gain) {
    for (float& v : s) v = static_cast<float>(v * gain);
    return s;
}

SpeechLevel measure(const Samples& s, std::size_t block = 4096) {
    SpeechMeter meter = makeSpeechMeter();
    for (std::size_t at = 0; at < s.size(); at += block) meterSamples(meter, std::span(s).subspan(at, std::min(block, s.size() - at)));
    return finishMeter(meter);
}

Samples process(const Samples& s, const PromptPlan& plan, std::size_t block = 4096) {
    PromptProcessor processor = makePromptProcessor(plan);
    Samples out(s.size() + kPromptDelay);
    std::size_t n = 0;
    for (std::size_t at = 0; at < s.size(); at += block) {
        n += processPrompt(processor, std::span(s).subspan(at, std::min(block, s.size() - at)), out.data() + n);
    }
    n += finishPrompt(processor, out.data() + n);
    out.resize(n);
    return out;
}

double peakOf(const Samples& s) {
    double peak = 0;
    for (const float v : s) peak = std::max(peak, double(std::fabs(v)));
    return peak;
}

TEST(PromptDecibels, AgreeWithTheLibraryToFarBelowWhatIsHeard) {
    for (const double power : {1e-12, 0.000123, 0.5, 1.0, 2.0, 3.0, 1000.0, 32768.0 * 32768.0, 4.5e15}) {
        EXPECT_NEAR(powerToDb(power), 10.0 * std::log10(power), 1e-12) << power;
        EXPECT_NEAR(dbToPower(powerToDb(power)) / power, 1.0, 1e-13) << power;
    }
    for (const double db : {-90.3, -22.0, -0.01, 0.0, 6.0, 33.3}) EXPECT_NEAR(dbToGain(db) / std::pow(10.0, db / 20.0), 1.0, 1e-14) << db;
    EXPECT_EQ(powerToDb(0.0), kSilenceDb);
    EXPECT_DOUBLE_EQ(kEnvelopeCoefficient, std::exp(-1.0 / 240.0));
}

// Bursts of a tone: the active level is the tone's, less the hangover and the envelope's decay
// counted as active after each burst (at most 0.35 s, which the level and the activity factor
// may take); a steady tone is active throughout.
TEST(PromptMeter, ToneBurstsMeasureTheToneAndTheirDutyCycle) {
    struct Case {
        double on, off, rmsDb;
        int bursts;
    };
    for (const Case c : {Case{2.0, 2.0, -20.0, 3}, Case{1.0, 3.0, -35.0, 4}, Case{0.5, 0.5, -10.0, 8}, Case{10.0, 0.0, -26.0, 1}}) {
        Samples s;
        for (int b = 0; b < c.bursts; ++b) s = joined({s, tone(c.on, c.rmsDb), silence(c.off)});
        const SpeechLevel level = measure(s);
        const std::string name = std::to_string(c.on) + " s on, " + std::to_string(c.off) + " s off";
        ASSERT_TRUE(level.active) << name;
        const double duty = c.on / (c.on + c.off);
        const double counted = std::min(c.on + 0.35, c.on + c.off) / c.on;
        EXPECT_LE(level.activeDb, c.rmsDb + 0.05) << name;
        EXPECT_GE(level.activeDb, c.rmsDb - 10.0 * std::log10(counted)) << name;
        EXPECT_GE(level.activityFactor, duty * 0.98) << name;
        EXPECT_LE(level.activityFactor, duty * counted) << name;
        EXPECT_NEAR(level.longTermDb, c.rmsDb + 10.0 * std::log10(duty), 0.01) << name;
    }
}

// Scaling a signal scales its active level by the same dB, wherever the thresholds fall.
TEST(PromptMeter, AGainOnTheSignalMovesTheLevelByTheGain) {
    const Samples speech = joined({silence(0.7), babble(6.0, -30.0, 7), silence(1.0)});
    const SpeechLevel reference = measure(speech);
    ASSERT_TRUE(reference.active);
    for (const double gainDb : {-20.0, -6.0206, -1.5, 3.3, 6.0206, 17.0}) {
        const SpeechLevel level = measure(scaled(speech, std::pow(10.0, gainDb / 20.0)));
        EXPECT_NEAR(level.activeDb - reference.activeDb, gainDb, 0.02) << gainDb;
        EXPECT_NEAR(level.activityFactor, reference.activityFactor, 0.002) << gainDb;
    }
}

// Silence, and hiss too faint to be told from it, are left exactly as they are.
TEST(PromptPlan, NoActiveSpeechLeavesTheSignalAlone) {
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0.0, 0.4);
    Samples hiss(secondsToSamples(3.0));
    for (float& v : hiss) v = static_cast<float>(noise(random));
    for (const Samples& s : {Samples{}, silence(2.0), hiss, scaled(hiss, 4.0)}) {
        const SpeechLevel level = measure(s);
        EXPECT_FALSE(level.active) << peakOf(s);
        const PromptPlan plan = planPrompt(level, PromptOptions{true, -22.0, true});
        EXPECT_TRUE(planChangesNothing(plan));
        EXPECT_EQ(plan.trimmedStartSeconds + plan.trimmedEndSeconds, 0.0);
        EXPECT_EQ(process(s, plan), s);
    }
}

// The gain brings the active level of a prompt peaking at -40 dBFS to the target, measured
// again on the output; 12 dB louder, its peaks would pass full scale, and the limiter holds
// them without a sample past it and without a step in the gain: it falls over the look-ahead
// and recovers at the release's pace.
TEST(PromptProcessor, LevelsQuietPromptsAndLimitsPeaksSmoothly) {
    Samples prompt = joined({silence(0.5), babble(5.0, -50.0, 11), silence(0.5)});
    prompt = scaled(prompt, amplitudeOf(-40.0) / peakOf(prompt));
    struct Case {
        const Samples& signal;
        double target;
        bool limited;
    };
    // Also noise loud from its first sample, which the limiter must already hold.
    Samples abrupt(secondsToSamples(1.0));
    std::mt19937 random(17);
    std::normal_distribution<double> noise(0.0, amplitudeOf(-40.0));
    for (float& v : abrupt) v = static_cast<float>(noise(random));
    for (const Case c : {Case{prompt, -22.0, false}, Case{prompt, -10.0, true}, Case{abrupt, kMaxTargetDb, true}}) {
        const Samples& s = c.signal;
        const PromptPlan plan = planPrompt(measure(s), PromptOptions{true, c.target, false});
        EXPECT_NEAR(plan.predictedLevelDb, c.target, 1e-9);
        EXPECT_EQ(plan.mayLimit, c.limited) << c.target;
        const Samples out = process(s, plan);
        ASSERT_EQ(out.size(), s.size());
        const double after = measure(out).activeDb;
        if (c.limited) {
            EXPECT_LT(after, c.target);
        } else {
            EXPECT_NEAR(after, c.target, 1.0);
        }
        EXPECT_LE(peakOf(out), kCeiling) << c.target;
        // The gain the limiter applied, read where the signal is large enough to tell.
        double lastRatio = -1.0;
        std::size_t lastAt = 0;
        for (std::size_t i = 0; i < s.size(); ++i) {
            const double in = double(s[i]) * plan.gain;
            if (std::fabs(in) < 300.0) continue;
            const double ratio = out[i] / in;
            ASSERT_LE(ratio, 1.0 + 1e-6) << c.target << " at " << i;
            const double steps = double(i - lastAt);
            if (lastRatio >= 0) {
                ASSERT_GE(ratio - lastRatio, -steps / kLimiterWindow - 1e-5) << c.target << " at " << i;
                ASSERT_LE(ratio - lastRatio, steps * (1.0 - kReleaseCoefficient) + 1e-5) << c.target << " at " << i;
            }
            lastRatio = ratio;
            lastAt = i;
        }
    }
}

// Trimming keeps the speech and at most 0.2 s on either side, however abruptly it ends and
// whatever clicks lie in the silence around it, and a cut into sound fades from and to zero.
TEST(PromptProcessor, TrimKeepsTheSpeechAndLittleMore) {
    struct Case {
        double lead, speech, tail, hissDb;
        bool tone;
        bool clicks;  // 5 ms at full scale, 1 s before and after the speech
    };
    for (const Case c : {Case{1.5, 2.0, 2.0, -70.0, false, true}, Case{0.0, 3.0, 0.9, -60.0, false, false},
                         Case{0.05, 1.0, 0.05, -200.0, false, false}, Case{0.7, 1.0, 1.0, -200.0, true, false}}) {
        const Samples speech = c.tone ? tone(c.speech, -25.0) : babble(c.speech, -25.0, 5);
        Samples s = joined({silence(c.lead), speech, silence(c.tail)});
        std::mt19937 random(9);
        std::normal_distribution<double> noise(0.0, amplitudeOf(c.hissDb));
        for (float& v : s) v = static_cast<float>(v + noise(random));
        // Where the speech really starts and ends, however quiet its first syllable begins.
        const std::size_t from = secondsToSamples(c.lead);
        std::size_t to = from + speech.size();
        while (to > from && speech[to - from - 1] == 0.0f) --to;
        for (std::size_t k = 0; c.clicks && k < secondsToSamples(0.005); ++k) {
            s[from - kMessageRate + k] = k % 2 ? 32767.0f : -32767.0f;
            s[to + kMessageRate + k] = s[from - kMessageRate + k];
        }
        const std::string name = std::to_string(c.lead) + " s before, " + std::to_string(c.tail) + " s after";

        const PromptPlan plan = planPrompt(measure(s), PromptOptions{false, kDefaultTargetDb, true});
        const Samples out = process(s, plan);
        EXPECT_LE(plan.keepFrom, from) << name;
        EXPECT_GE(plan.keepTo, to) << name;
        EXPECT_LE(double(from - plan.keepFrom), 0.2 * kMessageRate) << name;
        EXPECT_LE(double(plan.keepTo - to), 0.2 * kMessageRate) << name;
        EXPECT_EQ(out.size(), plan.keepTo - plan.keepFrom) << name;
        EXPECT_DOUBLE_EQ((plan.trimmedStartSeconds + plan.trimmedEndSeconds) * kMessageRate + double(out.size()), double(s.size())) << name;
        EXPECT_EQ(plan.fadeIn, plan.keepFrom > 0) << name;
        EXPECT_EQ(plan.fadeOut, plan.keepTo < s.size()) << name;
        if (plan.fadeIn) {
            EXPECT_EQ(out.front(), 0.0f) << name;
        }
        if (plan.fadeOut) {
            EXPECT_EQ(out.back(), 0.0f) << name;
        }
        // Beyond the fades, the kept samples are the input's.
        for (std::size_t k = kFadeSamples; k + kFadeSamples < out.size(); ++k) ASSERT_EQ(out[k], s[plan.keepFrom + k]) << name;
    }
}

// The meter and the processor give the same results whatever blocks the signal comes in.
TEST(PromptProcessor, BlockSizesChangeNothing) {
    Samples s = joined({silence(0.8), babble(3.0, -45.0, 21), silence(0.6)});
    s[secondsToSamples(1.5)] = 30000.0f;  // a click the gain takes past full scale
    const SpeechLevel whole = measure(s, s.size());
    const PromptPlan plan = planPrompt(whole, PromptOptions{true, -16.0, true});
    ASSERT_TRUE(plan.mayLimit && plan.fadeIn && plan.fadeOut);
    const Samples expected = process(s, plan, s.size());
    for (const std::size_t block : {std::size_t{1}, std::size_t{7}, kLimiterWindow, std::size_t{4096}}) {
        const SpeechLevel level = measure(s, block);
        EXPECT_EQ(level.activeDb, whole.activeDb) << block;
        EXPECT_EQ(level.activityFactor, whole.activityFactor) << block;
        EXPECT_EQ(level.firstActive, whole.firstActive) << block;
        EXPECT_EQ(level.lastActive, whole.lastActive) << block;
        EXPECT_EQ(process(s, plan, block), expected) << block;
    }
}

// One prompt's measured level, gain and processed samples, pinned: a build whose arithmetic
// differs (optimisation level, processor, compiler, Windows) fails here. The signal is made
// with integers only, so that it is itself the same everywhere.
TEST(PromptProcessor, SameSamplesOnEveryBuild) {
    Samples s(secondsToSamples(0.4), 0.0f);
    std::uint32_t state = 12345;
    for (int syllable = 0; syllable < 12; ++syllable) {
        const int length = 800 + syllable % 5 * 300;
        for (int i = 0; i < length; ++i) {
            state = state * 1664525u + 1013904223u;
            const int noise = static_cast<int>(state >> 20) - 2048;  // -2048..2047
            const int envelope = std::min(i, length - i) * (4 + syllable % 3);
            s.push_back(static_cast<float>(noise * envelope) / 4096.0f);
        }
        s.insert(s.end(), static_cast<std::size_t>(400 + syllable % 4 * 500), 0.0f);
    }
    const SpeechLevel level = measure(s);
    const PromptPlan plan = planPrompt(level, PromptOptions{true, -12.0, true});
    ASSERT_TRUE(plan.mayLimit && plan.fadeIn && plan.fadeOut);
    std::uint64_t hash = 14695981039346656037u;  // FNV-1a over the bytes of every result
    auto add = [&hash](const auto& value) {
        unsigned char bytes[sizeof value];
        std::memcpy(bytes, &value, sizeof value);
        for (const unsigned char b : bytes) hash = (hash ^ b) * 1099511628211u;
    };
    add(level.activeDb);
    add(level.activityFactor);
    add(plan.gain);
    for (const float v : process(s, plan)) add(v);
    EXPECT_EQ(hash, 373869716461603860u);
}

// ---- What a prompt's sound says.

Samples hiss(double seconds, double rmsDb, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, amplitudeOf(rmsDb));
    Samples s(secondsToSamples(seconds));
    for (float& v : s) v = static_cast<float>(noise(random));
    return s;
}

Samples plus(Samples s, const Samples& other) {
    for (std::size_t i = 0; i < s.size() && i < other.size(); ++i) s[i] += other[i];
    return s;
}

Samples offset(Samples s, double share) {
    for (float& v : s) v = static_cast<float>(v + share * kFullScale);
    return s;
}

// What a 16-bit recorder keeps of a signal too loud for it.
Samples clippedAt16Bits(Samples s) {
    for (float& v : s) v = std::clamp(v, -32768.0f, 32767.0f);
    return s;
}

// The same samples as the input and at the message rate, as for an 8000 Hz file.
SoundMeasures inspect(const Samples& s, std::size_t block = 4096) {
    SoundMeter meter;
    for (std::size_t at = 0; at < s.size(); at += block) {
        const std::span<const float> part = std::span(s).subspan(at, std::min(block, s.size() - at));
        meterInput(meter, part);
        meterMessageRate(meter, part);
    }
    return finishSoundMeter(meter, kMessageRate);
}

// Prompts made to show one fault each (or none): each gives exactly its findings, and the
// measures behind them. The babble's pauses are digital silence, as a synthesised voice's are.
TEST(PromptInspection, EachFaultGivesItsFinding) {
    const Samples raw = babble(5.0, -22.0, 31);
    const Samples speech = scaled(raw, dbToGain(kDefaultTargetDb - measure(raw).activeDb));
    struct Case {
        const char* name;
        Samples signal;
        std::uint32_t findings;
    };
    const Case cases[] = {
        {"prompt", joined({silence(0.3), speech, silence(0.3)}), 0},
        {"silence", silence(3.0), kFindingNoSpeech},
        {"faint hiss", hiss(3.0, -85.0, 1), kFindingNoSpeech},
        {"hiss", hiss(3.0, -50.0, 2), kFindingNoiseOnly},
        {"tone", tone(3.0, -20.0), kFindingNoiseOnly},
        {"quiet", scaled(speech, dbToGain(-14.0)), kFindingTooQuiet},
        {"loud", scaled(speech, dbToGain(12.0)), kFindingTooLoud},
        {"noisy", plus(speech, hiss(5.0, -34.0, 3)), kFindingNoisy},
        {"dead air", joined({silence(2.0), speech, silence(2.5)}), kFindingSilenceAtStart | kFindingSilenceAtEnd},
        {"offset", offset(speech, 0.02), kFindingDcOffset},
        {"float past full scale", scaled(speech, dbToGain(26.0)), kFindingTooLoud},
        {"clipped", clippedAt16Bits(scaled(speech, dbToGain(26.0))), kFindingTooLoud | kFindingClipped},
    };
    for (const Case& c : cases) {
        const Samples& signal = c.signal;
        const SoundMeasures m = inspect(signal);
        EXPECT_EQ(findingsOf(m), c.findings) << c.name;
        EXPECT_DOUBLE_EQ(m.seconds, double(signal.size()) / kMessageRate) << c.name;
        if (m.level.active) {
            EXPECT_EQ(m.gainDb, kDefaultTargetDb - m.level.activeDb) << c.name;
            EXPECT_EQ(m.speechToNoiseDb, m.level.activeDb - std::max(m.noiseFloorDb, kDigitalSilenceDb)) << c.name;
        }
    }
    const SoundMeasures silent = inspect(silence(1.0));
    EXPECT_EQ(silent.peakDb, kSilenceDb);
    EXPECT_EQ(silent.noiseFloorDb, kSilenceDb);
    EXPECT_EQ(silent.gainDb, 0.0);
    // Steady hiss: its floor lies just under its level, which the meter finds.
    const SoundMeasures steady = inspect(hiss(3.0, -50.0, 2));
    EXPECT_NEAR(steady.level.activeDb, -50.0, 0.5);
    EXPECT_GT(steady.noiseFloorDb, -53.0);
    EXPECT_LT(steady.noiseFloorDb, -50.0);
    // Noise 12 dB under the speech's level is measured about there.
    const SoundMeasures noisy = inspect(plus(speech, hiss(5.0, -34.0, 3)));
    EXPECT_NEAR(noisy.speechToNoiseDb, 12.0, 1.5);
    const SoundMeasures deadAir = inspect(joined({silence(2.0), speech, silence(2.5)}));
    EXPECT_NEAR(deadAir.silenceStartSeconds, 2.05, 0.06);
    EXPECT_GE(deadAir.silenceEndSeconds, 2.5);
    EXPECT_LT(deadAir.silenceEndSeconds, 3.0);
    const double own = inspect(speech).dcOffset;
    EXPECT_NEAR(inspect(offset(speech, 0.02)).dcOffset - own, 0.02, 1e-9);
    EXPECT_NEAR(inspect(offset(speech, -0.005)).dcOffset - own, -0.005, 1e-9);
}

// Clipping is a flat run at full scale at the input's rate: each cut peak one place, whatever
// the integer format's limits or the dither added after; a smooth peak at full scale, a run of
// two and loud samples that vary are no clipping.
TEST(PromptInspection, ClippingIsFlatRunsAtFullScale) {
    const auto sine = [](double hz, double rate, double amplitude, double seconds) {
        Samples s(static_cast<std::size_t>(seconds * rate));
        for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * hz * double(i) / rate));
        return s;
    };
    const auto held = [](Samples s, float low, float high) {
        for (float& v : s) v = std::clamp(v, low, high);
        return s;
    };
    Samples dithered = held(sine(200.0, 8000.0, 60000.0, 0.1), -32768.0f, 32767.0f);
    for (std::size_t i = 0; i < dithered.size(); i += 3) {
        if (std::fabs(dithered[i]) >= 32767.0f) dithered[i] -= std::copysign(1.0f, dithered[i]);
    }
    Samples pairs(400, 0.0f);
    for (std::size_t i = 0; i < pairs.size(); i += 10) pairs[i] = pairs[i + 1] = 32767.0f;
    Samples varying = sine(200.0, 8000.0, 40000.0, 0.1);  // a float file past full scale, not held
    struct Case {
        const char* name;
        Samples input;
        std::uint64_t places;
    };
    const Case cases[] = {
        {"16-bit", held(sine(200.0, 8000.0, 60000.0, 0.1), -32768.0f, 32767.0f), 40},
        {"8-bit limits", held(sine(200.0, 8000.0, 60000.0, 0.1), -32768.0f, 32512.0f), 40},
        {"dithered after", dithered, 40},
        {"smooth at full scale", sine(1000.0, 48000.0, 32767.0, 0.1), 0},
        {"runs of two", pairs, 0},
        {"varying past full scale", varying, 0},
    };
    for (const Case& c : cases) {
        for (const std::size_t block : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
            SoundMeter meter;
            for (std::size_t at = 0; at < c.input.size(); at += block) meterInput(meter, std::span(c.input).subspan(at, std::min(block, c.input.size() - at)));
            const SoundMeasures m = finishSoundMeter(meter, 8000);
            EXPECT_EQ(m.clippedPlaces, c.places) << c.name << " block " << block;
            EXPECT_EQ(m.clippedSamples == 0, c.places == 0) << c.name;
        }
    }
    // A sine held at full scale stays there while |sin| passes 32767 / 60000.
    SoundMeter meter;
    meterInput(meter, cases[0].input);
    const double expected = 800.0 * (1.0 - 2.0 * std::asin(32767.0 / 60000.0) / std::numbers::pi);
    EXPECT_NEAR(double(finishSoundMeter(meter, 8000).clippedSamples), expected, double(cases[0].places));  // a sample a place
}

// Digital silence around a recording says nothing of the noise under its speech; silence
// between its words does (a synthesised voice's pauses are noiseless).
TEST(PromptInspection, NoiseFloorIsTheNoiseBetweenTheWords) {
    const Samples noisy = plus(babble(5.0, -22.0, 41), hiss(5.0, -40.0, 5));
    const SoundMeasures bare = inspect(noisy);
    const SoundMeasures padded = inspect(joined({silence(3.0), noisy, silence(3.0)}));
    EXPECT_NEAR(bare.noiseFloorDb, -40.0, 2.0);
    EXPECT_NEAR(padded.noiseFloorDb, bare.noiseFloorDb, kNoiseBinDb);
    EXPECT_EQ(inspect(babble(5.0, -22.0, 41)).noiseFloorDb, kSilenceDb);
}

// Everything measured is the same whatever blocks the signal comes in.
TEST(PromptInspection, BlockSizesChangeNothing) {
    const Samples s = offset(joined({silence(1.3), plus(babble(3.0, -30.0, 51), hiss(3.0, -60.0, 7)), silence(0.7)}), 0.003);
    const SoundMeasures whole = inspect(s, s.size());
    for (const std::size_t block : {std::size_t{1}, std::size_t{7}, kNoiseFrameSamples, std::size_t{4096}}) {
        const SoundMeasures m = inspect(s, block);
        EXPECT_EQ(m.level.activeDb, whole.level.activeDb) << block;
        EXPECT_EQ(m.noiseFloorDb, whole.noiseFloorDb) << block;
        EXPECT_EQ(m.silenceStartSeconds, whole.silenceStartSeconds) << block;
        EXPECT_EQ(m.silenceEndSeconds, whole.silenceEndSeconds) << block;
        EXPECT_EQ(m.peakDb, whole.peakDb) << block;
        EXPECT_EQ(m.dcOffset, whole.dcOffset) << block;
    }
}

// A conversion adds what it did: a gain past kLargeGainDb; and the flat search, for music and
// tones, does not take their steadiness for noise.
TEST(PromptInspection, ConversionFindings) {
    const SoundMeasures steady = inspect(tone(2.0, -20.0));
    EXPECT_EQ(conversionFindings(steady, 0.0, false), kFindingNoiseOnly);
    EXPECT_EQ(conversionFindings(steady, 0.0, true), 0u);
    const SoundMeasures quiet = inspect(scaled(babble(3.0, -22.0, 61), dbToGain(-25.0)));
    EXPECT_EQ(conversionFindings(quiet, 0.0, false), kFindingTooQuiet);
    EXPECT_EQ(conversionFindings(quiet, kLargeGainDb, false), kFindingTooQuiet);
    EXPECT_EQ(conversionFindings(quiet, quiet.gainDb, false), kFindingTooQuiet | kFindingLargeGain);
}

}  // namespace
}  // namespace aamsg
