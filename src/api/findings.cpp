// The findings in words: the one place that says what each means and what to do about it, for
// the command line, the web page and the Python module alike. Numbers are filled in with the
// library's own formats; no text from a file or a caller is ever a format.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "aamsg.h"
#include "prompt/inspect.hpp"

namespace aamsg {

static_assert(AAMSG_FINDING_NO_SPEECH == kFindingNoSpeech && AAMSG_FINDING_NOISE_ONLY == kFindingNoiseOnly &&
              AAMSG_FINDING_TOO_QUIET == kFindingTooQuiet && AAMSG_FINDING_TOO_LOUD == kFindingTooLoud &&
              AAMSG_FINDING_CLIPPED == kFindingClipped && AAMSG_FINDING_SILENCE_START == kFindingSilenceAtStart &&
              AAMSG_FINDING_SILENCE_END == kFindingSilenceAtEnd && AAMSG_FINDING_NOISY == kFindingNoisy &&
              AAMSG_FINDING_DC_OFFSET == kFindingDcOffset && AAMSG_FINDING_LARGE_GAIN == kFindingLargeGain);
static_assert(AAMSG_TOO_QUIET_DB == kTooQuietDb && AAMSG_TOO_LOUD_DB == kTooLoudDb && AAMSG_NOISE_ONLY_SNR_DB == kNoiseOnlySnrDb &&
              AAMSG_NOISY_SNR_DB == kNoisySnrDb && AAMSG_LONG_SILENCE_SECONDS == kLongSilenceSeconds &&
              AAMSG_CLIP_RUN_SAMPLES == kClipRunSamples && AAMSG_DC_OFFSET_LIMIT == kDcOffsetLimit &&
              AAMSG_LARGE_GAIN_DB == kLargeGainDb && AAMSG_SILENCE_DB == kSilenceDb);

namespace {

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void add(std::string& text, const char* format, ...) {
    char piece[256];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(piece, sizeof piece, format, arguments);
    va_end(arguments);
    if (length > 0) text.append(piece, std::min(static_cast<std::size_t>(length), sizeof piece - 1));
}

constexpr double kTrimKeepsSeconds = static_cast<double>(kTrimMarginSamples) / kMessageRate;

// Each finding's words, with the inspection's numbers or (null) without. No semicolons: a
// batch's line joins its report's lines with "; ".
void noSpeech(std::string& t, const aamsg_inspection*) {
    add(t, "There is no speech: only silence, or hiss too faint to measure. Check that the right file was recorded.");
}

void noiseOnly(std::string& t, const aamsg_inspection* i) {
    if (i != nullptr) {
        add(t, "There is only steady sound: noise, hum or a tone at %.1f dB, its quietest parts only %.1f dB under it, without the pauses of speech.",
            i->level_db, i->speech_to_noise_db);
    } else {
        add(t, "There is only steady sound: noise, hum or a tone, its quietest parts less than %.0f dB under it, without the pauses of speech.",
            kNoiseOnlySnrDb);
    }
    add(t, " Check the microphone and record it again, or convert music and tones with --flat.");
}

void tooQuiet(std::string& t, const aamsg_inspection* i) {
    if (i != nullptr) {
        add(t, "The speech is too quiet: %.1f dB, %.1f dB under the telephone level of %.0f dB. Convert it with --level, which raises it by %+.1f dB and its noise with it,",
            i->level_db, i->gain_db, kDefaultTargetDb, i->gain_db);
    } else {
        add(t, "The speech is too quiet: more than %.0f dB under the telephone level of %.0f dB. Convert it with --level,",
            kLevelToleranceDb, kDefaultTargetDb);
    }
    add(t, " or record it again closer to the microphone.");
}

void tooLoud(std::string& t, const aamsg_inspection* i) {
    if (i != nullptr) {
        add(t, "The speech is too loud: %.1f dB, %.1f dB over the telephone level of %.0f dB, louder than callers expect. Convert it with --level, which lowers it by %.1f dB.",
            i->level_db, -i->gain_db, kDefaultTargetDb, -i->gain_db);
    } else {
        add(t, "The speech is too loud: more than %.0f dB over the telephone level of %.0f dB, louder than callers expect. Convert it with --level.",
            kLevelToleranceDb, kDefaultTargetDb);
    }
}

void clipped(std::string& t, const aamsg_inspection* i) {
    if (i != nullptr) {
        add(t, "The recording is clipped: %llu samples in %llu %s were cut flat at full scale and sound distorted,",
            static_cast<unsigned long long>(i->clipped_samples), static_cast<unsigned long long>(i->clipped_places),
            i->clipped_places == 1 ? "place" : "places");
    } else {
        add(t, "The recording is clipped: its loudest parts were cut flat at full scale and sound distorted,");
    }
    add(t, " which --level cannot undo. Record it again with the input level lower.");
}

void silence(std::string& t, const char* where, double seconds, bool known) {
    if (known) {
        add(t, "The silence %s the speech is long: %.1f s of dead air for callers.", where, seconds);
    } else {
        add(t, "The silence %s the speech is long: more than %.0f s of dead air for callers.", where, kLongSilenceSeconds);
    }
    add(t, " Convert it with --trim, which keeps %.2f s.", kTrimKeepsSeconds);
}

void silenceStart(std::string& t, const aamsg_inspection* i) {
    silence(t, "before", i != nullptr ? i->silence_start_seconds : 0.0, i != nullptr);
}

void silenceEnd(std::string& t, const aamsg_inspection* i) { silence(t, "after", i != nullptr ? i->silence_end_seconds : 0.0, i != nullptr); }

void noisy(std::string& t, const aamsg_inspection* i) {
    if (i != nullptr) {
        add(t, "The recording is noisy: its noise lies only %.1f dB under the speech, less than %.1f dB,", i->speech_to_noise_db, kNoisySnrDb);
    } else {
        add(t, "The recording is noisy: its noise lies less than %.1f dB under the speech,", kNoisySnrDb);
    }
    add(t, " and is heard between the words (--level raises it with the speech). Record it again somewhere quieter or closer to the microphone.");
}

void dcOffset(std::string& t, const aamsg_inspection* i) {
    if (i != nullptr) {
        add(t, "The recording has a DC offset: its samples are centred %.1f%% of full scale off zero,", 100.0 * std::fabs(i->dc_offset));
    } else {
        add(t, "The recording has a DC offset: its samples are centred more than %.0f%% of full scale off zero,", 100.0 * kDcOffsetLimit);
    }
    add(t, " which can click where the message starts, ends or is cut. Remove it before converting, for example with sox's highpass 10.");
}

void largeGain(std::string& t, const aamsg_inspection* i) {
    if (i != nullptr) {
        add(t, "The recording is very quiet: --level raises it by %+.1f dB, more than %.0f dB,", i->gain_db, kLargeGainDb);
    } else {
        add(t, "The recording is very quiet: --level raised it by more than %.0f dB,", kLargeGainDb);
    }
    add(t, " and the recorder's noise with it. Record it again closer to the microphone.");
}

struct Words {
    std::uint32_t finding;
    const char* name;
    double threshold;
    void (*say)(std::string& text, const aamsg_inspection* inspection);
};

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

constexpr Words kWords[] = {
    {kFindingNoSpeech, "no_speech", kNone, noSpeech},
    {kFindingNoiseOnly, "noise_only", kNoiseOnlySnrDb, noiseOnly},
    {kFindingTooQuiet, "too_quiet", kTooQuietDb, tooQuiet},
    {kFindingTooLoud, "too_loud", kTooLoudDb, tooLoud},
    {kFindingClipped, "clipped", kClipRunSamples, clipped},
    {kFindingSilenceAtStart, "silence_start", kLongSilenceSeconds, silenceStart},
    {kFindingSilenceAtEnd, "silence_end", kLongSilenceSeconds, silenceEnd},
    {kFindingNoisy, "noisy", kNoisySnrDb, noisy},
    {kFindingDcOffset, "dc_offset", kDcOffsetLimit, dcOffset},
    {kFindingLargeGain, "large_gain", kLargeGainDb, largeGain},
};

const Words* wordsOf(std::uint32_t finding) {
    for (const Words& words : kWords) {
        if (words.finding == finding) return &words;
    }
    return nullptr;
}

// The caller's struct, read only as far as its size says it reaches: the words need the fields
// up to `findings` (what came after, the picture, they never read); a shorter one is taken as
// none, never read past.
constexpr std::size_t kWordsReach = offsetof(aamsg_inspection, findings) + sizeof(uint32_t);

const aamsg_inspection* numbersOf(const aamsg_inspection* inspection) {
    return inspection != nullptr && inspection->size >= kWordsReach ? inspection : nullptr;
}

}  // namespace

}  // namespace aamsg

extern "C" {

const char* aamsg_finding_name(uint32_t finding) {
    const aamsg::Words* words = aamsg::wordsOf(finding);
    return words != nullptr ? words->name : nullptr;
}

double aamsg_finding_threshold(uint32_t finding) {
    const aamsg::Words* words = aamsg::wordsOf(finding);
    return words != nullptr ? words->threshold : aamsg::kNone;
}

size_t aamsg_finding_text(uint32_t finding, const aamsg_inspection* inspection, char* buffer, size_t size) {
    const aamsg::Words* words = aamsg::wordsOf(finding);
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    if (words == nullptr) return 0;
    std::string text;
    try {
        words->say(text, aamsg::numbersOf(inspection));
    } catch (...) {
        return 0;  // out of memory: no words
    }
    if (buffer != nullptr && size > 0) {
        const std::size_t length = std::min(text.size(), size - 1);
        std::memcpy(buffer, text.data(), length);
        buffer[length] = '\0';
    }
    return text.size();
}

}  // extern "C"
