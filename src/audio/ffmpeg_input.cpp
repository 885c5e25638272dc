// Audio files through FFmpeg's libavformat and libavcodec over our own input stream: only the
// demuxers and decoders src/audio/ffmpeg_components.txt lists, no protocol and no other file,
// the default audio track's channels averaged.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/audio.hpp"
#include "audio/ffmpeg_components.hpp"
#include "base/failure.hpp"
#include "wave/wave.hpp"

namespace aamsg {

// FFmpeg's messages about the reader's contexts (a CAF chunk skipped, a packet cut short) stay
// off the program's standard error: what matters reaches the caller as a status. Messages about
// any other context of the program go to libavutil's own output as before. The filter is set
// when the library loads, so that a program that sets its own later keeps it.
namespace {

std::mutex quietMutex;
std::vector<const void*> quietContexts;

void filterLog(void* context, int level, const char* format, va_list arguments) {
    if (context != nullptr) {
        const std::lock_guard lock(quietMutex);
        if (std::find(quietContexts.begin(), quietContexts.end(), context) != quietContexts.end()) return;
    }
    av_log_default_callback(context, level, format, arguments);
}

[[maybe_unused]] const bool logFiltered = (av_log_set_callback(filterLog), true);

void quieten(const void* context) {
    const std::lock_guard lock(quietMutex);
    quietContexts.push_back(context);
}

void unquieten(const void* context) {
    const std::lock_guard lock(quietMutex);
    if (const auto at = std::find(quietContexts.begin(), quietContexts.end(), context); at != quietContexts.end()) {
        quietContexts.erase(at);
    }
}

}  // namespace

struct AudioFile {
    InStream* input = nullptr;
    std::uint64_t start = 0;  // where the audio data begins: after any ID3v2 tags
    AVIOContext* io = nullptr;
    AVFormatContext* format = nullptr;
    AVCodecContext* decoder = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    std::uint32_t rate = 0;
    std::size_t frameUsed = 0;  // of `frame`'s samples, those already delivered
    bool frameHeld = false;
    bool packetHeld = false;  // `packet` was read to find the tracks, and is still to be decoded
    bool flushed = false;  // the decoder was told the input ended
    bool ended = false;
    Status failure = kOk;  // what ended the reading early
    bool damaged = false;  // a packet failed to demux or decode: the end counts as corrupted
    std::uint64_t declaredFrames = kUnknownFrames;  // what the header promises, when it is exact
    bool cutShort = false;  // the header promises more sample bytes than the file holds
    std::uint64_t delivered = 0;
    std::uint64_t notNumbers = 0;
    const void* quiet[2] = {};  // the contexts whose messages are dropped: the format's, the decoder's
};

void AudioFileCloser::operator()(AudioFile* file) const {
    av_frame_free(&file->frame);
    av_packet_free(&file->packet);
    avcodec_free_context(&file->decoder);
    avformat_close_input(&file->format);  // custom I/O: the context's own, freed below
    if (file->io != nullptr) av_freep(&file->io->buffer);
    avio_context_free(&file->io);
    for (const void* context : file->quiet) unquieten(context);
    delete file;
}

namespace {

// Bytes FFmpeg asks of the stream at a time.
constexpr int kIoBufferSize = 1 << 15;
// Bytes read to tell the format, and to probe a stream that names no codec.
constexpr int kProbeBytes = 1 << 20;
// libavcodec's own bound on channels, checked here before the decoder allocates anything for
// them, whatever the build.
constexpr int kMaxChannels = 512;
// No decoded frame, and in the static builds' own copy of libavutil no single allocation, is
// allowed beyond this: a header may claim frames or tables of any size (an ALAC header frames
// of 16 million samples), and memory is real. A legitimate frame holds a few hundred kB.
constexpr int kMaxAllocation = 64 << 20;
// Decoding failures in a row after which a stream counts as broken beyond reading.
constexpr int kMaxFailuresInARow = 1000;

InStream& streamOf(void* opaque) { return *static_cast<AudioFile*>(opaque)->input; }

int readPacket(void* opaque, std::uint8_t* buffer, int size) {
    InStream& in = streamOf(opaque);
    const std::size_t got = readBytes(in, buffer, static_cast<std::size_t>(std::max(size, 0)));
    if (got > 0) return static_cast<int>(got);
    return in.ioError ? AVERROR(EIO) : AVERROR_EOF;
}

// Positions as FFmpeg sees them start after any ID3v2 tags.
std::int64_t seekStream(void* opaque, std::int64_t offset, int whence) {
    const AudioFile& file = *static_cast<AudioFile*>(opaque);
    InStream& in = *file.input;
    const std::optional<std::uint64_t> size = inputSize(in);
    const std::int64_t length = size && *size >= file.start && *size - file.start <= static_cast<std::uint64_t>(INT64_MAX)
                                    ? static_cast<std::int64_t>(*size - file.start)
                                    : -1;
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return length >= 0 ? length : AVERROR(ENOSYS);
    const auto here = static_cast<std::int64_t>(tellInput(in) - file.start);
    std::int64_t base = 0;
    if (whence == SEEK_CUR) base = here;
    if (whence == SEEK_END) base = length;
    if (base < 0 || (offset > 0 && base > INT64_MAX - offset)) return AVERROR(EINVAL);
    const std::int64_t target = base + offset;
    if (target < 0 || !seekRelative(in, target - here)) return AVERROR(EINVAL);
    return target;
}

// Every file a demuxer would open besides the input (a playlist's entries, a reference movie's
// media, an image sequence's next image) is refused: the input is all aamsg reads.
int refuseToOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

bool listed(const char* name, const char* list) { return name != nullptr && av_match_list(name, list, ',') > 0; }

// The listed decoder for a codec: the first of the list that decodes it.
const AVCodec* listedDecoder(AVCodecID id) {
    const std::string_view list = kAllowedDecoders;
    for (std::size_t at = 0; at < list.size();) {
        const std::size_t end = std::min(list.find(',', at), list.size());
        const std::string name(list.substr(at, end - at));
        if (const AVCodec* codec = avcodec_find_decoder_by_name(name.c_str()); codec != nullptr && codec->id == id) return codec;
        at = end + 1;
    }
    return nullptr;
}

// A decoded frame's buffer, refused past the bound: the decoder then fails on that frame.
int boundedFrame(AVCodecContext* context, AVFrame* frame, int flags) {
    const int bytes = av_samples_get_buffer_size(nullptr, frame->ch_layout.nb_channels, frame->nb_samples,
                                                 static_cast<AVSampleFormat>(frame->format), 0);
    if (bytes < 0 || bytes > kMaxAllocation) return AVERROR(ENOMEM);
    return avcodec_default_get_buffer2(context, frame, flags);
}

// The allocation bound, where the libraries are the library's own (the static builds). Debian's
// shared libavutil belongs to the whole program, whose other uses of it may need more: there a
// claim past FFmpeg's own bound (INT_MAX bytes at once) fails, and a smaller one only reserves
// address space, as the pages a file's data never fills are never touched.
void configureLibraries() {
#if AAMSG_PRIVATE_FFMPEG
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_QUIET);
        av_max_alloc(static_cast<std::size_t>(kMaxAllocation));
    });
#endif
}

// The length of the ID3v2 tags at the stream's start (MP3 players' titles and cover pictures),
// which the reader steps over itself: the formats are told from what follows, and a picture
// is never read. Leaves the stream where the tags end.
std::uint64_t skipTags(InStream& in) {
    for (;;) {
        std::uint8_t header[10];
        const std::uint64_t at = tellInput(in);
        if (readBytes(in, header, sizeof header) != sizeof header || std::memcmp(header, "ID3", 3) != 0 || header[3] == 0xFF ||
            header[4] == 0xFF || ((header[6] | header[7] | header[8] | header[9]) & 0x80) != 0) {
            seekRelative(in, static_cast<std::int64_t>(at) - static_cast<std::int64_t>(tellInput(in)));
            return at;
        }
        std::uint64_t size = 0;
        for (int i = 6; i < 10; ++i) size = size << 7 | header[i];
        if ((header[5] & 0x10) != 0) size += 10;  // a footer
        seekRelative(in, static_cast<std::int64_t>(size));
    }
}

// Whether a RIFF WAVE or AIFF file declares more sample bytes than it holds, which the demuxers
// read up to the file's end without a word; a recording cut off in copying is corrupted, as `e`
// reports it. Leaves the stream at its start; kCannotReadInput if it cannot go back.
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

// Codecs whose stream length the container states exactly: a file that ends sooner is cut.
// Other lengths (an MP3's frame table, an Ogg page's position) are estimates or may be missing.
bool lengthIsExact(AVCodecID id) { return id == AV_CODEC_ID_FLAC || av_get_exact_bits_per_sample(id) > 0; }

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

// A sample as a fraction of full scale, in single precision: integers divided by their full
// scale (8-bit by 128, 16-bit by 32768, 32-bit, which holds 24-bit ones shifted up, by 2^31),
// floats as they are and doubles rounded to floats, then NaN and infinities as above.
float valueOf(std::uint8_t v, std::uint64_t&) { return static_cast<float>(static_cast<int>(v) - 128) * (1.0f / 128.0f); }
float valueOf(std::int16_t v, std::uint64_t&) { return static_cast<float>(v) * (1.0f / 32768.0f); }
float valueOf(std::int32_t v, std::uint64_t&) { return static_cast<float>(v) * (1.0f / 2147483648.0f); }
float valueOf(float v, std::uint64_t& notNumbers) { return numberOf(v, notNumbers); }
float valueOf(double v, std::uint64_t& notNumbers) { return numberOf(static_cast<float>(v), notNumbers); }

// Frames [first, first + count) of `frame`, each the sum of its channels (in their order, in
// single precision) times 32768 / channels.
template <typename Sample, bool kPlanar>
void mixFrames(const AVFrame& frame, std::size_t first, std::size_t count, float* mono, std::uint64_t& notNumbers) {
    const auto channels = static_cast<std::size_t>(frame.ch_layout.nb_channels);
    const float scale = 32768.0f / static_cast<float>(channels);
    for (std::size_t i = first; i < first + count; ++i) {
        float sum = 0.0f;
        for (std::size_t c = 0; c < channels; ++c) {
            const Sample sample = kPlanar ? reinterpret_cast<const Sample*>(frame.extended_data[c])[i]
                                          : reinterpret_cast<const Sample*>(frame.extended_data[0])[i * channels + c];
            sum += valueOf(sample, notNumbers);
        }
        *mono++ = sum * scale;
    }
}

using Mixer = void (*)(const AVFrame&, std::size_t, std::size_t, float*, std::uint64_t&);

Mixer mixerOf(int sampleFormat) {
    switch (sampleFormat) {
        case AV_SAMPLE_FMT_U8: return mixFrames<std::uint8_t, false>;
        case AV_SAMPLE_FMT_S16: return mixFrames<std::int16_t, false>;
        case AV_SAMPLE_FMT_S32: return mixFrames<std::int32_t, false>;
        case AV_SAMPLE_FMT_FLT: return mixFrames<float, false>;
        case AV_SAMPLE_FMT_DBL: return mixFrames<double, false>;
        case AV_SAMPLE_FMT_U8P: return mixFrames<std::uint8_t, true>;
        case AV_SAMPLE_FMT_S16P: return mixFrames<std::int16_t, true>;
        case AV_SAMPLE_FMT_S32P: return mixFrames<std::int32_t, true>;
        case AV_SAMPLE_FMT_FLTP: return mixFrames<float, true>;
        case AV_SAMPLE_FMT_DBLP: return mixFrames<double, true>;
        default: return nullptr;
    }
}

// Whether a decoded frame can be used: the rate of the first (a stream that changes its rate is
// read up to the change), a channel count within the bound, and samples the mixer knows.
bool usableFrame(const AudioFile& file, const AVFrame& frame) {
    return frame.nb_samples >= 0 && frame.ch_layout.nb_channels >= 1 && frame.ch_layout.nb_channels <= kMaxChannels &&
           mixerOf(frame.format) != nullptr && (file.rate == 0 || static_cast<std::uint32_t>(frame.sample_rate) == file.rate);
}

// GSM comes in blocks of a fixed size, and a part of one holds no sound: sox's GSM WAVE files
// count the chunk's pad byte as sample data, which the decoder would call damaged. False when
// nothing of the packet is left.
bool keepWholeBlocks(const AVCodecContext& decoder, AVPacket& packet) {
    if ((decoder.codec_id == AV_CODEC_ID_GSM || decoder.codec_id == AV_CODEC_ID_GSM_MS) && decoder.block_align > 0) {
        packet.size -= packet.size % decoder.block_align;
    }
    return packet.size > 0;
}

// Decodes the next frame of the audio track into `file.frame`; false at the end of the input
// or at a failure, which `file.failure`, `file.damaged` and `file.ended` then tell.
bool decodeFrame(AudioFile& file) {
    int failuresInARow = 0;
    for (;;) {
        const int received = avcodec_receive_frame(file.decoder, file.frame);
        if (received == 0) {
            if (!usableFrame(file, *file.frame)) {
                av_frame_unref(file.frame);
                file.damaged = true;
                file.ended = true;
                return false;
            }
            if (file.frame->nb_samples == 0) continue;
            file.frameUsed = 0;
            file.frameHeld = true;
            return true;
        }
        if (received == AVERROR_EOF) {
            file.ended = true;
            return false;
        }
        if (received != AVERROR(EAGAIN)) {
            // A frame that does not decode: the rest may, but the file is damaged.
            file.damaged = true;
            if (++failuresInARow < kMaxFailuresInARow) continue;
            file.ended = true;
            return false;
        }
        const int read = file.packetHeld ? 0 : av_read_frame(file.format, file.packet);
        file.packetHeld = false;
        if (file.input->ioError) {
            file.failure = kCannotReadInput;
            file.ended = true;
            return false;
        }
        if (read < 0) {
            // The end, or data the demuxer cannot follow: what was decoded stands.
            if (read != AVERROR_EOF) file.damaged = true;
            if (file.flushed || avcodec_send_packet(file.decoder, nullptr) < 0) {
                file.ended = true;
                return false;
            }
            file.flushed = true;
            continue;
        }
        if (file.packet->stream_index == file.stream && keepWholeBlocks(*file.decoder, *file.packet)) {
            const int sent = avcodec_send_packet(file.decoder, file.packet);
            if (sent < 0 && sent != AVERROR(EAGAIN)) {
                file.damaged = true;
                if (++failuresInARow >= kMaxFailuresInARow) {
                    av_packet_unref(file.packet);
                    file.ended = true;
                    return false;
                }
            }
        }
        av_packet_unref(file.packet);
    }
}

const char* containerName(const AVInputFormat& container);

// Opens the format context over the stream, with only the listed demuxers and no file but the
// input. kNotAudioFile when no listed format is found in it; kCorrupted when the format's header
// cannot be read.
Status openContainer(AudioFile& file) {
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferSize));
    if (buffer == nullptr) return kOutOfMemory;
    file.io = avio_alloc_context(buffer, kIoBufferSize, 0, &file, readPacket, nullptr, seekStream);
    if (file.io == nullptr) {
        av_free(buffer);
        return kOutOfMemory;
    }
    file.format = avformat_alloc_context();
    if (file.format == nullptr) return kOutOfMemory;
    quieten(file.quiet[0] = file.format);
    AVFormatContext& format = *file.format;
    format.pb = file.io;
    format.flags |= AVFMT_FLAG_CUSTOM_IO;
    format.io_open = refuseToOpen;
    format.format_probesize = kProbeBytes;
    format.probesize = kProbeBytes;
    if (av_opt_set(&format, "format_whitelist", kAllowedDemuxers, 0) < 0 ||
        av_opt_set(&format, "codec_whitelist", kAllowedDecoders, 0) < 0 || av_opt_set(&format, "protocol_whitelist", "", 0) < 0) {
        return kInternalError;
    }
    // The format is told from the bytes alone, never from a name, and only when they leave no
    // doubt: a raw MP3, AAC or AC-3 stream shows at least four frames in a row (a stray frame
    // header in noise or text shows one).
    const AVInputFormat* found = nullptr;
    const int score = av_probe_input_buffer2(file.io, &found, "", &format, 0, kProbeBytes);
    if (file.input->ioError) return kCannotReadInput;
    if (score < AVPROBE_SCORE_RETRY || found == nullptr) return fail(kNotAudioFile, "no audio format aamsg reads was found in it");
    if (!listed(found->name, kAllowedDemuxers)) return fail(kNotAudioFile, "it is in FFmpeg's %s format, which aamsg does not read", found->name);
    // Reference movies' outside media stay unread (the default, said here once more).
    AVDictionary* options = nullptr;
    av_dict_set(&options, "enable_drefs", "0", 0);
    const int opened = avformat_open_input(&file.format, "", found, &options);
    av_dict_free(&options);
    if (file.input->ioError) return kCannotReadInput;
    return opened < 0 ? fail(kCorrupted, "its %s header cannot be read", containerName(*found)) : kOk;
}

// Opens the listed decoder of the default audio track, every other track left unread.
// kNoAudioStream when the file has none; kNotAudioFile when its codec is not listed;
// kCorrupted when its parameters are impossible.
Status openDecoder(AudioFile& file) {
    AVFormatContext& format = *file.format;
    file.packet = av_packet_alloc();
    file.frame = av_frame_alloc();
    if (file.packet == nullptr || file.frame == nullptr) return kOutOfMemory;
    // A format whose tracks show with their first packet (VOC): that packet is read now.
    if (format.nb_streams == 0 && (format.ctx_flags & AVFMTCTX_NOHEADER) != 0) {
        file.packetHeld = av_read_frame(&format, file.packet) == 0;
        if (file.input->ioError) return kCannotReadInput;
    }
    // libavformat ranks the tracks whose rate and channels the header gives; in a stream whose
    // frames alone tell them (MP3, FLAC, VOC) the audio track is the first.
    file.stream = av_find_best_stream(&format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    for (unsigned i = 0; i < format.nb_streams && file.stream < 0; ++i) {
        if (format.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) file.stream = static_cast<int>(i);
    }
    if (file.stream < 0) return fail(kNoAudioStream, "none of its %u tracks is audio", format.nb_streams);
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        if (static_cast<int>(i) != file.stream) format.streams[i]->discard = AVDISCARD_ALL;
    }
    const AVStream& stream = *format.streams[file.stream];
    const AVCodecParameters& parameters = *stream.codecpar;
    if (parameters.ch_layout.nb_channels < 0 || parameters.ch_layout.nb_channels > kMaxChannels) {
        return fail(kCorrupted, "its header claims %d channels; aamsg reads 1 to %d", parameters.ch_layout.nb_channels, kMaxChannels);
    }
    const AVCodec* codec = listedDecoder(parameters.codec_id);
    if (codec == nullptr) return fail(kNotAudioFile, "its audio is %s, which aamsg does not read", avcodec_get_name(parameters.codec_id));
    file.decoder = avcodec_alloc_context3(codec);
    if (file.decoder == nullptr) return kOutOfMemory;
    quieten(file.quiet[1] = file.decoder);
    if (avcodec_parameters_to_context(file.decoder, &parameters) < 0) return fail(kCorrupted, "its audio track's parameters are impossible");
    file.decoder->pkt_timebase = stream.time_base;
    file.decoder->thread_count = 1;  // the samples never depend on threads
    file.decoder->get_buffer2 = boundedFrame;
    if (av_opt_set(file.decoder, "codec_whitelist", kAllowedDecoders, 0) < 0) return kInternalError;
    if (avcodec_open2(file.decoder, codec, nullptr) < 0) {
        return fail(kCorrupted, "the %s decoder cannot start on its audio track's parameters", codec->name);
    }
    return kOk;
}

// The frames the header declares, at the rate the decoder gives; kUnknownFrames when it
// declares none.
std::uint64_t declaredLength(const AVStream& stream, std::uint32_t rate) {
    if (stream.duration <= 0 || stream.duration == AV_NOPTS_VALUE || stream.time_base.num <= 0 || stream.time_base.den <= 0) {
        return kUnknownFrames;
    }
    const std::int64_t frames = av_rescale_q(stream.duration, stream.time_base, AVRational{1, static_cast<int>(rate)});
    return frames > 0 && frames != INT64_MAX ? static_cast<std::uint64_t>(frames) : kUnknownFrames;
}

// The container, for people: "WAVE", "MP4"; "audio" for one without a name of ours.
const char* containerName(const AVInputFormat& container) {
    static constexpr std::pair<std::string_view, const char*> kContainers[] = {
        {"wav", "WAVE"}, {"w64", "W64"}, {"aiff", "AIFF"}, {"caf", "CAF"}, {"au", "AU"}, {"voc", "VOC"}, {"flac", "FLAC"},
        {"ogg", "Ogg"}, {"mp3", "MP3"}, {"aac", "AAC"}, {"mov", "MP4"}, {"amr", "AMR"}, {"matroska", "WebM"}, {"asf", "ASF"},
        {"ac3", "AC-3"}};
    const std::string_view demuxer = container.name;
    for (const auto& [key, shown] : kContainers) {
        if (demuxer.substr(0, demuxer.find(',')) == key) return shown;
    }
    return "audio";
}

// The container and the encoding in a few words, for people: "WAVE 16-bit PCM", "Ogg Opus",
// "MP3"; a container named as its one encoding is named once.
std::string describe(const AVInputFormat& container, const AVCodecParameters& track) {
    const std::string name = containerName(container);
    std::string encoding;
    switch (track.codec_id) {
        case AV_CODEC_ID_PCM_F32LE:
        case AV_CODEC_ID_PCM_F32BE: encoding = "32-bit float"; break;
        case AV_CODEC_ID_PCM_F64LE:
        case AV_CODEC_ID_PCM_F64BE: encoding = "64-bit float"; break;
        case AV_CODEC_ID_PCM_ALAW: encoding = "A-law"; break;
        case AV_CODEC_ID_PCM_MULAW: encoding = "mu-law"; break;
        case AV_CODEC_ID_ADPCM_IMA_WAV:
        case AV_CODEC_ID_ADPCM_IMA_QT: encoding = "IMA ADPCM"; break;
        case AV_CODEC_ID_ADPCM_MS: encoding = "MS ADPCM"; break;
        case AV_CODEC_ID_GSM:
        case AV_CODEC_ID_GSM_MS: encoding = "GSM 6.10"; break;
        case AV_CODEC_ID_AMR_NB: encoding = "AMR-NB"; break;
        case AV_CODEC_ID_AMR_WB: encoding = "AMR-WB"; break;
        case AV_CODEC_ID_AC3: encoding = "AC-3"; break;
        case AV_CODEC_ID_WMAV1:
        case AV_CODEC_ID_WMAV2: encoding = "WMA"; break;
        default: {
            const AVCodecDescriptor* descriptor = avcodec_descriptor_get(track.codec_id);
            const int bits = av_get_exact_bits_per_sample(track.codec_id);
            if (descriptor != nullptr && std::string_view(descriptor->name).substr(0, 4) == "pcm_" && bits > 0) {
                encoding = std::to_string(bits) + "-bit PCM";
            } else if (descriptor != nullptr) {
                for (const char* c = descriptor->name; *c != '\0'; ++c) encoding += static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
                if (encoding == "VORBIS" || encoding == "OPUS") encoding = encoding.substr(0, 1) + std::string(descriptor->name).substr(1);
            }
        }
    }
    if (encoding.empty() || encoding == name) return name;
    if (encoding.rfind(name, 0) == 0) return encoding;  // "AMR" holding "AMR-NB"
    return name + " " + encoding;
}

}  // namespace

Status openAudio(InStream& input, AudioFilePtr& file, AudioFormat& format) {
    configureLibraries();
    auto opened = AudioFilePtr(new AudioFile);
    opened->input = &input;
    if (const Status rc = checkSampleData(input, opened->cutShort); rc != kOk) return rc;
    opened->start = skipTags(input);
    if (input.ioError) return kCannotReadInput;
    if (const Status rc = openContainer(*opened); rc != kOk) return rc;
    if (const Status rc = openDecoder(*opened); rc != kOk) return rc;

    // The first frame tells the rate the decoder gives (an AAC stream's may be twice its
    // header's); a track without one has the header's.
    const AVStream& stream = *opened->format->streams[opened->stream];
    if (decodeFrame(*opened)) {
        opened->rate = static_cast<std::uint32_t>(opened->frame->sample_rate);
    } else {
        if (opened->failure != kOk) return opened->failure;
        opened->rate = static_cast<std::uint32_t>(std::max(stream.codecpar->sample_rate, 0));
        if (opened->rate == 0 && !opened->damaged) opened->rate = kMinAudioRate;  // no sound at all: any rate will do
    }
    if (opened->rate < kMinAudioRate || opened->rate > kMaxAudioRate) {
        return fail(kCorrupted, "the rate is %u Hz; aamsg reads %u Hz to %u kHz", opened->rate, kMinAudioRate, kMaxAudioRate / 1000);
    }
    format.sampleRate = opened->rate;
    format.frames = declaredLength(stream, opened->rate);
    // The decoder knows the channels once it has a frame; a header may not have said.
    const int channels = opened->decoder->ch_layout.nb_channels > 0 ? opened->decoder->ch_layout.nb_channels : stream.codecpar->ch_layout.nb_channels;
    format.channels = static_cast<std::uint32_t>(std::max(channels, 1));
    format.description = describe(*opened->format->iformat, *stream.codecpar);
    if (lengthIsExact(stream.codecpar->codec_id)) opened->declaredFrames = format.frames;
    file = std::move(opened);
    return kOk;
}

Status readMono(AudioFile& file, float* mono, std::size_t count, std::size_t& got) {
    got = 0;
    while (got < count) {
        if (!file.frameHeld && (file.ended || !decodeFrame(file))) {
            if (file.failure != kOk) return file.failure;
            // A file cut short reads as far as it goes and then counts as corrupted.
            if (file.cutShort || (file.declaredFrames != kUnknownFrames && file.delivered < file.declaredFrames)) {
                return fail(kCorrupted, "it ends before the samples its header declares");
            }
            return file.damaged ? fail(kCorrupted, "some of its audio does not decode") : kOk;
        }
        const AVFrame& frame = *file.frame;
        const std::size_t take = std::min(static_cast<std::size_t>(frame.nb_samples) - file.frameUsed, count - got);
        mixerOf(frame.format)(frame, file.frameUsed, take, mono + got, file.notNumbers);
        got += take;
        file.frameUsed += take;
        file.delivered += take;
        if (file.frameUsed == static_cast<std::size_t>(frame.nb_samples)) {
            av_frame_unref(file.frame);
            file.frameHeld = false;
        }
    }
    return kOk;
}

std::uint64_t audioBytesRead(const AudioFile& file) { return tellInput(*file.input); }

std::uint64_t audioNotNumbers(const AudioFile& file) { return file.notNumbers; }

}  // namespace aamsg
