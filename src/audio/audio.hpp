// The input path of `q`: any audio file FFmpeg's libraries read with the components
// src/audio/ffmpeg_components.txt lists, its channels averaged into one, and converted to the
// message rate by libsoxr. The libraries stay behind this header: their handles are opaque here
// and their errors become statuses in one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/base.hpp"
#include "io/stream.hpp"

namespace aamsg {

struct AudioFile;
struct AudioFileCloser {
    void operator()(AudioFile* file) const;
};
using AudioFilePtr = std::unique_ptr<AudioFile, AudioFileCloser>;

struct AudioFormat {
    std::uint32_t sampleRate = 0;
    std::uint64_t frames = 0;  // as the file declares it; kUnknownFrames when it does not
    std::uint32_t channels = 0;
    std::string description;  // the container and the encoding, for people: "WAVE 16-bit PCM"
};

inline constexpr std::uint64_t kUnknownFrames = UINT64_MAX;

// Rates outside this range are no recording's; they are refused as corrupted.
inline constexpr std::uint32_t kMinAudioRate = 100;
inline constexpr std::uint32_t kMaxAudioRate = 1536000;

// Opens the default audio track of an audio file on `input` (left open; it must outlive the
// file). kOk; kNotAudioFile when no listed format is found in it, or its track's codec is not
// listed; kNoAudioStream for a file without an audio track (a video alone); kCorrupted when
// its header cannot be read or states an impossible rate or channel count; kCannotReadInput
// when the input could not be read.
Status openAudio(InStream& input, AudioFilePtr& file, AudioFormat& format);

// Reads up to `count` frames, each the average of its channels in 16-bit sample units (full
// scale 32768), into `mono`; `got` says how many. Float samples that are NaN count as silence
// and infinite ones as full scale (audioNotNumbers counts both). kOk with got 0 at the end;
// kCorrupted when the file ends before the length its header declares, or part of it fails to
// demux or decode (what decodes is read all the same); kCannotReadInput on a read error.
Status readMono(AudioFile& file, float* mono, std::size_t count, std::size_t& got);

// The input's position, for progress by bytes when the frame count is unknown.
std::uint64_t audioBytesRead(const AudioFile& file);

// The samples read so far (of every channel) that were NaN or infinite.
std::uint64_t audioNotNumbers(const AudioFile& file);

struct Resampler;
struct ResamplerCloser {
    void operator()(Resampler* resampler) const;
};
using ResamplerPtr = std::unique_ptr<Resampler, ResamplerCloser>;

// An anti-aliased conversion from `inputRate` to the message rate (libsoxr). kInternalError if
// libsoxr cannot make one.
Status makeResampler(std::uint32_t inputRate, ResamplerPtr& resampler);

// Converts up to `count` input samples (`used` says how many were taken) into at most `room`
// output samples (`made` says how many). With `input` null it gives the samples still held in
// the filter, and `made` is 0 once there are none. kInternalError when libsoxr fails.
Status resample(Resampler& resampler, const float* input, std::size_t count, std::size_t& used, float* output,
                  std::size_t room, std::size_t& made);

}  // namespace aamsg
