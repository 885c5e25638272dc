// Audio files through libsndfile's virtual I/O over our input stream, channels averaged.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "audio/audio.hpp"
#include "base/failure.hpp"
#include "wave/wave.hpp"

namespace aamsg {

struct AudioFile {
    InStream* input = nullptr;
    SNDFILE* handle = nullptr;
    SF_INFO info{};
    std::uint64_t declaredFrames = kUnknownFrames;  // what the header promises, when it is exact
    bool cutShort = false;  // the header promises more sample bytes than the file holds
    std::uint64_t delivered = 0;
    std::uint64_t notNumbers = 0;
    std::vector<float> interleaved;
};

void AudioFileCloser::operator()(AudioFile* file) const {
    if (file->handle != nullptr) sf_close(file->handle);
    delete file;
}

namespace {

// Interleaved samples fetched from libsndfile a call: a few hundred kB whatever the channels.
constexpr std::size_t kSamplesPerRead = std::size_t{1} << 16;

InStream& streamOf(void* user) { return *static_cast<AudioFile*>(user)->input; }

sf_count_t streamLength(void* user) {
    const std::optional<std::uint64_t> size = inputSize(streamOf(user));
    return size && *size <= static_cast<std::uint64_t>(INT64_MAX) ? static_cast<sf_count_t>(*size) : -1;
}

sf_count_t streamTell(void* user) { return static_cast<sf_count_t>(tellInput(streamOf(user))); }

sf_count_t streamSeek(sf_count_t offset, int whence, void* user) {
    InStream& in = streamOf(user);
    std::int64_t base = 0;
    if (whence == SEEK_CUR) base = static_cast<std::int64_t>(tellInput(in));
    if (whence == SEEK_END) base = streamLength(user);
    if (base < 0 || (offset > 0 && base > INT64_MAX - offset)) return -1;
    const std::int64_t target = base + offset;
    if (target < 0) return -1;
    if (!seekRelative(in, target - static_cast<std::int64_t>(tellInput(in)))) return -1;
    return target;
}

sf_count_t streamRead(void* ptr, sf_count_t count, void* user) {
    if (count <= 0) return 0;
    return static_cast<sf_count_t>(readBytes(streamOf(user), static_cast<std::uint8_t*>(ptr), static_cast<std::size_t>(count)));
}

sf_count_t streamWrite(const void*, sf_count_t, void*) { return 0; }

// Floats are read as stored, full scale 1. A float file may hold values that are no numbers:
// NaN becomes silence and an infinity full scale of its sign, here, before the rate conversion
// would spread them over its filter's length and any gain were measured on them. Numbers far
// past full scale are held where nothing after can overflow to an infinity (no recording
// holds them; they are clipped in the end all the same).
float numberOf(float value, std::uint64_t& notNumbers) {
    constexpr float kLargest = 65536.0f;
    if (value >= -kLargest && value <= kLargest) return value;
    if (std::isnan(value)) {
        ++notNumbers;
        return 0.0f;
    }
    if (std::isinf(value)) {
        ++notNumbers;
        return value > 0.0f ? 1.0f : -1.0f;
    }
    return value > 0.0f ? kLargest : -kLargest;
}

// Whether a RIFF WAVE or AIFF file declares more sample bytes than it holds. libsndfile reads
// such a file up to its end without a word, but a recording cut off in copying is corrupted,
// as `e` reports it. Leaves the stream at its start; kCannotReadInput if it cannot go back.
Status checkSampleData(InStream& in, bool& cut) {
    cut = false;
    std::uint8_t header[12];
    if (readBytes(in, header, sizeof header) == sizeof header) {
        const bool wave = std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + 8, "WAVE", 4) == 0;
        const bool aiff = std::memcmp(header, "FORM", 4) == 0 &&
                          (std::memcmp(header + 8, "AIFF", 4) == 0 || std::memcmp(header + 8, "AIFC", 4) == 0);
        const std::optional<std::uint64_t> length = inputSize(in);
        ChunkHeader chunk{};
        if ((wave || aiff) && length &&
            findChunk(in, wave ? "data" : "SSND", wave ? ByteOrder::kLittle : ByteOrder::kBig, chunk) == kOk) {
            cut = tellInput(in) + chunk.size > *length;
        }
    }
    if (!seekRelative(in, -static_cast<std::int64_t>(tellInput(in))) || in.ioError) {
        return in.ioError ? kCannotReadInput : fail(kCannotReadInput, "the input cannot be read again from its start");
    }
    return kOk;
}

// Formats whose header states the frame count exactly; for the others (MP3 without a frame
// table, a cut Ogg stream) it is an estimate or missing, and only a decoding error counts.
bool framesAreExact(int format) {
    switch (format & SF_FORMAT_TYPEMASK) {
        case SF_FORMAT_MPEG:
        case SF_FORMAT_OGG: return false;
        default: return true;
    }
}

}  // namespace

Status openAudio(InStream& input, AudioFilePtr& file, AudioFormat& format) {
    auto opened = AudioFilePtr(new AudioFile);
    opened->input = &input;
    if (const Status rc = checkSampleData(input, opened->cutShort); rc != kOk) return rc;
    SF_VIRTUAL_IO io{streamLength, streamSeek, streamRead, streamWrite, streamTell};
    opened->handle = sf_open_virtual(&io, SFM_READ, &opened->info, opened.get());
    if (input.ioError) return kCannotReadInput;
    if (opened->handle == nullptr) return fail(kNotAudioFile, "libsndfile reads no audio format in it");
    const SF_INFO& info = opened->info;
    if (info.samplerate < static_cast<int>(kMinAudioRate) || info.samplerate > static_cast<int>(kMaxAudioRate)) {
        return fail(kCorrupted, "the rate is %d Hz; aamsg reads %u Hz to %u kHz", info.samplerate, kMinAudioRate, kMaxAudioRate / 1000);
    }
    if (info.channels < 1) return fail(kCorrupted, "the file has %d channels", info.channels);
    // Integers reach us as fractions of full scale, floats as they are stored.
    sf_command(opened->handle, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    format.sampleRate = static_cast<std::uint32_t>(info.samplerate);
    const bool known = info.frames >= 0 && info.frames < SF_COUNT_MAX;
    format.frames = known ? static_cast<std::uint64_t>(info.frames) : kUnknownFrames;
    if (known && framesAreExact(info.format)) opened->declaredFrames = format.frames;
    const auto channels = static_cast<std::size_t>(info.channels);
    opened->interleaved.resize(std::max<std::size_t>(1, kSamplesPerRead / channels) * channels);
    file = std::move(opened);
    return kOk;
}

Status readMono(AudioFile& file, float* mono, std::size_t count, std::size_t& got) {
    got = 0;
    const auto channels = static_cast<std::size_t>(file.info.channels);
    const std::size_t perRead = file.interleaved.size() / channels;
    while (got < count) {
        const std::size_t want = std::min(perRead, count - got);
        const sf_count_t frames = sf_readf_float(file.handle, file.interleaved.data(), static_cast<sf_count_t>(want));
        if (file.input->ioError) return kCannotReadInput;
        if (frames <= 0) {
            // A WAVE or AIFF file cut short reads as far as it goes and then counts as corrupted.
            if (sf_error(file.handle) != SF_ERR_NO_ERROR) return fail(kCorrupted, "libsndfile: %s", sf_strerror(file.handle));
            if (file.cutShort || (file.declaredFrames != kUnknownFrames && file.delivered < file.declaredFrames)) {
                return fail(kCorrupted, "the file ends before the samples its header declares");
            }
            return kOk;
        }
        const float* frame = file.interleaved.data();
        const float scale = 32768.0f / static_cast<float>(channels);
        for (sf_count_t i = 0; i < frames; ++i, frame += channels) {
            float sum = 0.0f;
            for (std::size_t c = 0; c < channels; ++c) sum += numberOf(frame[c], file.notNumbers);
            mono[got++] = sum * scale;
        }
        file.delivered += static_cast<std::uint64_t>(frames);
    }
    return kOk;
}

bool readsMp3() {
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) == 0 &&
            (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG) {
            return true;
        }
    }
    return false;
}

std::uint64_t audioBytesRead(const AudioFile& file) { return tellInput(*file.input); }

std::uint64_t audioNotNumbers(const AudioFile& file) { return file.notNumbers; }

}  // namespace aamsg
