// Audio files through libsndfile's virtual I/O over our input stream, channels averaged.
#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "audio/audio.hpp"

namespace aamsg {

struct AudioFile {
    InStream* input = nullptr;
    SNDFILE* handle = nullptr;
    SF_INFO info{};
    std::uint64_t declaredFrames = kUnknownFrames;  // what the header promises, when it is exact
    std::uint64_t delivered = 0;
    std::vector<float> interleaved;
};

void AudioFileCloser::operator()(AudioFile* file) const {
    if (file->handle != nullptr) sf_close(file->handle);
    delete file;
}

namespace {

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

std::uint32_t u32le(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

std::uint32_t u32be(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | std::uint32_t{p[3]};
}

// Whether a RIFF WAVE or AIFF file declares more sample bytes than it holds. libsndfile reads
// such a file up to its end without a word, but a recording cut off in copying is corrupted,
// as `e` reports it. Leaves the stream at its start.
bool sampleDataCutShort(InStream& in) {
    std::uint8_t header[12];
    bool cut = false;
    if (readBytes(in, header, 12) == 12) {
        const bool wave = std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + 8, "WAVE", 4) == 0;
        const bool aiff = std::memcmp(header, "FORM", 4) == 0 &&
                          (std::memcmp(header + 8, "AIFF", 4) == 0 || std::memcmp(header + 8, "AIFC", 4) == 0);
        const char* dataId = wave ? "data" : "SSND";
        const std::optional<std::uint64_t> length = inputSize(in);
        for (std::uint8_t chunk[8]; (wave || aiff) && length && readBytes(in, chunk, 8) == 8;) {
            const std::uint64_t size = wave ? u32le(chunk + 4) : u32be(chunk + 4);
            if (std::memcmp(chunk, dataId, 4) == 0) {
                cut = tellInput(in) + size > *length;
                break;
            }
            if (!seekRelative(in, static_cast<std::int64_t>(size + (size & 1)))) break;
        }
    }
    seekRelative(in, -static_cast<std::int64_t>(tellInput(in)));
    return cut;
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

ExitCode openAudio(InStream& input, AudioFilePtr& file, AudioFormat& format) {
    auto opened = AudioFilePtr(new AudioFile);
    opened->input = &input;
    const bool cut = sampleDataCutShort(input);
    if (input.ioError) return kCannotReadInput;
    SF_VIRTUAL_IO io{streamLength, streamSeek, streamRead, streamWrite, streamTell};
    opened->handle = sf_open_virtual(&io, SFM_READ, &opened->info, opened.get());
    if (input.ioError) return kCannotReadInput;
    if (opened->handle == nullptr) return kNotRiffWave;
    const SF_INFO& info = opened->info;
    if (info.samplerate < static_cast<int>(kMinAudioRate) || info.samplerate > static_cast<int>(kMaxAudioRate) ||
        info.channels < 1) {
        return kCorrupted;
    }
    // Integers reach us as fractions of full scale, floats as they are stored.
    sf_command(opened->handle, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    format.sampleRate = static_cast<std::uint32_t>(info.samplerate);
    format.channels = static_cast<std::uint32_t>(info.channels);
    const bool known = info.frames >= 0 && info.frames < SF_COUNT_MAX;
    format.frames = known ? static_cast<std::uint64_t>(info.frames) : kUnknownFrames;
    // A WAVE or AIFF file cut short reads as far as it goes and then counts as corrupted.
    if (cut) {
        opened->declaredFrames = kUnknownFrames - 1;
    } else if (known && framesAreExact(info.format)) {
        opened->declaredFrames = format.frames;
    }
    opened->interleaved.resize(static_cast<std::size_t>(std::max(1, 65536 / info.channels)) *
                               static_cast<std::size_t>(info.channels));
    file = std::move(opened);
    return kOk;
}

ExitCode readMono(AudioFile& file, float* mono, std::size_t count, std::size_t& got) {
    got = 0;
    const auto channels = static_cast<std::size_t>(file.info.channels);
    const std::size_t perRead = file.interleaved.size() / channels;
    while (got < count) {
        const std::size_t want = std::min(perRead, count - got);
        const sf_count_t frames = sf_readf_float(file.handle, file.interleaved.data(), static_cast<sf_count_t>(want));
        if (file.input->ioError) return kCannotReadInput;
        if (frames <= 0) {
            const bool broken = sf_error(file.handle) != SF_ERR_NO_ERROR ||
                                (file.declaredFrames != kUnknownFrames && file.delivered < file.declaredFrames);
            return broken ? kCorrupted : kOk;
        }
        const float* frame = file.interleaved.data();
        const float scale = 32768.0f / static_cast<float>(channels);
        for (sf_count_t i = 0; i < frames; ++i, frame += channels) {
            float sum = 0.0f;
            for (std::size_t c = 0; c < channels; ++c) sum += frame[c];
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

}  // namespace aamsg
