// `q`'s signal: the input read, its channels averaged, converted to the message rate, brought
// to the prompt's level and length, rounded and clipped, a block at a time.
#pragma once

#include <cstdint>
#include <exception>
#include <vector>

#include <memory>

#include "audio/audio.hpp"
#include "base/failure.hpp"
#include "codec/adpcm.hpp"
#include "prompt/inspect.hpp"
#include "prompt/prompt.hpp"

namespace aamsg {

// Input frames read a block. Each block crosses from the input thread to the search under a
// lock, so blocks are large enough that the hand-over costs nothing next to the work on them.
inline constexpr std::size_t kFramesPerRead = 32768;

// A run of the input at the message rate, with where the input stood after it.
struct SignalBlock {
    std::vector<std::int16_t> samples;
    std::uint64_t unitsLeft = 0;  // input units (frames, or bytes) not yet read
    std::uint64_t clipped = 0;
    std::uint64_t notNumbers = 0;   // input samples read for the block that were NaN or infinite
    std::uint64_t greedyError = 0;  // the greedy encoder's error (the search's measure) so far
    std::uint64_t greedyLast = 0;   // of it, the last sample's
    Status status = kOk;            // not kOk: the input failed after these samples
    std::shared_ptr<const FailureNote> note;  // and what was wrong, as noted on the thread that made the block
    std::exception_ptr failure;     // thrown while the block was made, on the input's thread
    bool last = false;
};

struct SignalSource {
    AudioFilePtr file;
    ResamplerPtr resampler;  // none at 8000 per second
    AudioFormat format;
    std::uint64_t totalUnits = 0;  // frames, or bytes when the frame count is unknown
    bool byBytes = false;
    std::uint64_t framesRead = 0;
    std::vector<float> mono = std::vector<float>(kFramesPerRead);
    std::vector<float> converted;
    std::vector<float> values;  // the block at the message rate, before rounding
    bool shaped = false;        // the prompt processor runs, and the meter measures its output
    PromptProcessor prompt;
    std::vector<float> processed;
    SpeechMeter output = makeSpeechMeter();
    SoundMeter* sound = nullptr;  // when set, measures the input as it is read (readValues)
};

// Opens the signal from the start of the input, shaped by `plan` when one is given.
Status openSignal(InStream& input, SignalSource& source, const PromptPlan* plan = nullptr);

// The next run of the signal at the message rate, before the prompt's shaping, into
// `source.values`; `last` at the end of the input or at a failure, which the result tells.
// `source.sound`, if any, takes the samples at both rates.
Status readValues(SignalSource& source, bool& last);

// The next block of the signal; at the end of the input, or at a failure, the last.
void nextBlock(SignalSource& source, SignalBlock& block);

// A block's status on the thread that takes it, with the note of what was wrong noted there.
Status takeStatus(Status status, const std::shared_ptr<const FailureNote>& note);

// Input units (frames, or bytes) not yet read.
std::uint64_t signalUnitsLeft(const SignalSource& source);

}  // namespace aamsg
