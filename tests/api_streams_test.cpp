// Streams and samples through include/aamsg.h alone: the memory conversion's bytes (which are the
// command line's) through a reader that seeks and one that cannot, into a writer and into a
// file; what a failing reader or writer gives; samples in as the WAVE file of them would be, and
// out as 'd''s WAVE file holds them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "aamsg.h"
#include "api_support.hpp"
#include "wave_builder.hpp"

namespace {

namespace fs = std::filesystem;
using aamsg::test::Bytes;
using namespace aamsg::api_test;

// Bytes in memory as a caller's input: from `start`, seekable or not (a pipe), failing at `failAt`.
struct Source {
    const Bytes* bytes = nullptr;
    bool seekable = true;
    std::int64_t at = 0;
    std::int64_t failAt = -1;
    int calls = 0;  // of read
};

std::int64_t sourceRead(void* context, void* buffer, std::size_t size) {
    Source& s = *static_cast<Source*>(context);
    ++s.calls;
    if (s.failAt >= 0 && s.at >= s.failAt) return -1;
    std::int64_t end = std::min<std::int64_t>(s.at + static_cast<std::int64_t>(std::min<std::size_t>(size, 5000)),
                                              static_cast<std::int64_t>(s.bytes->size()));
    if (s.failAt >= 0) end = std::min(end, s.failAt);
    const std::int64_t n = std::max<std::int64_t>(0, end - s.at);
    std::memcpy(buffer, s.bytes->data() + s.at, static_cast<std::size_t>(n));
    s.at += n;
    return n;  // at most 5000 bytes a call, as a pipe gives what it has
}

std::int64_t sourceSeek(void* context, std::int64_t offset, int whence) {
    Source& s = *static_cast<Source*>(context);
    const std::int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? s.at : static_cast<std::int64_t>(s.bytes->size());
    if (base + offset < 0) return -1;
    s.at = base + offset;
    return s.at;
}

std::int64_t sourceTell(void* context) { return static_cast<Source*>(context)->at; }

aamsg_reader readerOf(Source& source) {
    return {&source, sourceRead, source.seekable ? sourceSeek : nullptr, source.seekable ? sourceTell : nullptr};
}

// The caller's output: everything taken, or a refusal once `refuseAt` bytes came.
struct Sink {
    Bytes bytes;
    std::size_t refuseAt = SIZE_MAX;
};

int sinkWrite(void* context, const void* data, std::size_t size) {
    Sink& s = *static_cast<Sink*>(context);
    if (s.bytes.size() + size > s.refuseAt) return 7;
    const auto* p = static_cast<const std::uint8_t*>(data);
    s.bytes.insert(s.bytes.end(), p, p + size);
    return 0;
}

Converted convertStream(Source& source, const aamsg_options* options, Sink sink = {}, int cancelAt = -1) {
    Converted run;
    run.report.size = sizeof run.report;
    Listener listener{&run.marks, cancelAt};
    const aamsg_reader reader = readerOf(source);
    run.status = aamsg_convert_stream(&reader, sinkWrite, &sink, options, listen, &listener, &run.report);
    run.output = sink.bytes;
    return run;
}

using ApiStreams = ScratchDir;

struct Case {
    const char* name;
    Choices choices;
};

const Case kCases[] = {
    {"e", {AAMSG_MODE_ENCODE}},
    {"d", {AAMSG_MODE_DECODE}},
    {"q", {AAMSG_MODE_BEST}},
    {"q --level=-18 --trim", {AAMSG_MODE_BEST, true, -18.0, true}},
    {"q --flat, one thread", {AAMSG_MODE_BEST, false, 0.0, false, true, 1}},
};

void expectSameReport(const aamsg_report& a, const aamsg_report& b, const std::string& what) {
    EXPECT_EQ(std::memcmp(&a, &b, offsetof(aamsg_report, detail)), 0) << what;
    EXPECT_STREQ(a.detail, b.detail) << what;
}

// Every way a stream reaches the library gives the bytes and report of the memory conversion:
// a reader that seeks, one standing part way into what it reads, one that cannot seek (copied
// aside first, q's two passes included), into a writer and into a file.
TEST_F(ApiStreams, TheMemoryConversionsBytesWhateverTheReader) {
    const Bytes wave = readBytes(kSample);
    const Bytes message = readBytes(kSampleMessage);
    for (const Case& c : kCases) {
        const Bytes& input = c.choices.mode == AAMSG_MODE_DECODE ? message : wave;
        const Options options = makeOptions(c.choices);
        const Converted memory = convertMemory(input, options.get());
        ASSERT_EQ(memory.status, AAMSG_OK) << c.name;

        Source seeking{&input};
        Source pipe{&input, false};
        Bytes prefixed(100 + input.size(), 0xEE);
        std::copy(input.begin(), input.end(), prefixed.begin() + 100);
        Source partWay{&prefixed, true, 100};
        for (Source* source : {&seeking, &pipe, &partWay}) {
            const Converted streamed = convertStream(*source, options.get());
            const std::string what = std::string(c.name) + (source == &pipe ? ", a pipe" : source == &partWay ? ", part way" : "");
            EXPECT_EQ(streamed.status, AAMSG_OK) << what << ": " << streamed.report.detail;
            EXPECT_EQ(streamed.output, memory.output) << what;
            expectSameReport(streamed.report, memory.report, what);
            EXPECT_EQ(streamed.marks, memory.marks) << what;
        }

        Source toFile{&input, false};
        const aamsg_reader reader = readerOf(toFile);
        const fs::path out = dir / "out";
        aamsg_report report{};
        report.size = sizeof report;
        const std::u8string name = out.u8string();
        ASSERT_EQ(aamsg_convert_stream_to_file(&reader, reinterpret_cast<const char*>(name.c_str()), options.get(), nullptr, nullptr,
                                               &report),
                  AAMSG_OK)
            << c.name << ": " << report.detail;
        EXPECT_EQ(readBytes(out), memory.output) << c.name;
        expectSameReport(report, memory.report, c.name);
    }
}

// A reader or a writer that fails ends the conversion with their status and says which failed
// where; q hands nothing on until its message is final, and a cut input's message all the same.
TEST_F(ApiStreams, FailuresOfTheReaderAndTheWriter) {
    const Bytes wave = readBytes(kSample);
    const Options best = makeOptions({AAMSG_MODE_BEST});
    const Options encode = makeOptions({AAMSG_MODE_ENCODE});

    Source failing{&wave, true, 0, 30000};
    Converted run = convertStream(failing, best.get());
    EXPECT_EQ(run.status, AAMSG_READ_FAILED);
    EXPECT_STREQ(run.report.detail, "the reader returned -1 at byte 30000");
    EXPECT_TRUE(run.output.empty());

    Source failingPipe{&wave, false, 0, 30000};
    run = convertStream(failingPipe, encode.get());
    EXPECT_EQ(run.status, AAMSG_READ_FAILED);
    EXPECT_STREQ(run.report.detail, "the reader returned -1 after 30000 bytes");

    Source refused{&wave};
    run = convertStream(refused, encode.get(), Sink{{}, 1000});
    EXPECT_EQ(run.status, AAMSG_WRITE_FAILED);
    EXPECT_STREQ(run.report.detail, "the writer returned 7");

    Source cancelled{&wave, false};
    run = convertStream(cancelled, best.get(), {}, 50);
    EXPECT_EQ(run.status, AAMSG_CANCELLED);
    EXPECT_TRUE(run.output.empty());
    EXPECT_STREQ(run.report.detail, "the progress callback asked to stop at 50%");

    Bytes cut = wave;
    cut.resize(cut.size() / 2);
    Source cutShort{&cut, false};
    run = convertStream(cutShort, best.get());
    EXPECT_EQ(run.status, AAMSG_CORRUPTED);
    EXPECT_EQ(run.output, convertMemory(cut, best.get()).output);
    EXPECT_FALSE(run.output.empty());

    Sink unused;
    aamsg_report report{};
    report.size = sizeof report;
    EXPECT_EQ(aamsg_convert_stream(nullptr, sinkWrite, &unused, nullptr, nullptr, nullptr, &report), AAMSG_INVALID_ARGUMENT);
    EXPECT_STREQ(report.detail, "no reader");
    const aamsg_reader reader = readerOf(refused);
    EXPECT_EQ(aamsg_convert_stream(&reader, nullptr, &unused, nullptr, nullptr, nullptr, &report), AAMSG_INVALID_ARGUMENT);
    EXPECT_STREQ(report.detail, "no output");

    // Into a file: a failing input leaves the file that was there as it was.
    const Bytes old(1234, 0x42);
    const fs::path out = write("kept.msg", old);
    Source failsLater{&wave, false, 0, 60000};
    const aamsg_reader late = readerOf(failsLater);
    EXPECT_EQ(aamsg_convert_stream_to_file(&late, out.string().c_str(), best.get(), nullptr, nullptr, nullptr), AAMSG_READ_FAILED);
    EXPECT_EQ(readBytes(out), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

// Interleaved samples of every shape: the memory conversion's message of the WAVE file of them.
TEST_F(ApiStreams, SamplesEncodeAsTheWaveFileOfThem) {
    struct Shape {
        unsigned channels;
        unsigned rate;
    };
    for (const Shape shape : {Shape{1, 8000}, Shape{2, 44100}, Shape{3, 22050}}) {
        std::vector<std::int16_t> samples;
        std::vector<int> values;
        for (unsigned i = 0; i < shape.rate; ++i) {
            for (unsigned c = 0; c < shape.channels; ++c) {
                const auto v = static_cast<std::int16_t>(8000 * std::sin(0.05 * i + c) + 300 * c);
                samples.push_back(v);
                values.push_back(v);
            }
        }
        const Bytes wave = aamsg::test::wave(static_cast<std::uint16_t>(shape.channels), shape.rate, 16, values);
        for (const aamsg_mode mode : {AAMSG_MODE_ENCODE, AAMSG_MODE_BEST}) {
            const Options options = makeOptions({mode});
            const Converted fromWave = convertMemory(wave, options.get());
            void* output = nullptr;
            std::size_t size = 0;
            aamsg_report report{};
            report.size = sizeof report;
            const aamsg_status status = aamsg_encode_samples(samples.data(), AAMSG_SAMPLES_INT16, samples.size() / shape.channels, shape.rate,
                                                             shape.channels, &output, &size, options.get(), nullptr, nullptr, &report);
            const std::string what = std::to_string(shape.channels) + " channels, " + static_cast<char>(mode);
            // 'e' takes one or two channels; three it refuses alike.
            EXPECT_EQ(status, fromWave.status) << what;
            EXPECT_EQ(status == AAMSG_OK, shape.channels < 3 || mode == AAMSG_MODE_BEST) << what;
            EXPECT_EQ(Bytes(static_cast<std::uint8_t*>(output), static_cast<std::uint8_t*>(output) + size), fromWave.output) << what;
            EXPECT_STREQ(report.detail, fromWave.report.detail) << what;
            aamsg_free(output);
        }
    }

    // Floats: 'q' reads them as the float WAVE file of them; 'e' refuses that file as not PCM.
    std::vector<float> floats;
    Bytes data;
    for (int i = 0; i < 2 * 48000; ++i) {
        const float v = static_cast<float>(0.4 * std::sin(0.01 * i));
        floats.push_back(v);
        std::uint32_t bits = 0;
        std::memcpy(&bits, &v, 4);
        aamsg::test::appendU32(data, bits);
    }
    const Bytes floatWave = aamsg::test::riff({{"fmt ", aamsg::test::fmtBody(3, 2, 48000, 8, 32)}, {"data", data}});
    for (const aamsg_mode mode : {AAMSG_MODE_BEST, AAMSG_MODE_ENCODE}) {
        const Options options = makeOptions({mode});
        const Converted fromWave = convertMemory(floatWave, options.get());
        void* output = nullptr;
        std::size_t size = 0;
        const aamsg_status status =
            aamsg_encode_samples(floats.data(), AAMSG_SAMPLES_FLOAT, 48000, 48000, 2, &output, &size, options.get(), nullptr, nullptr, nullptr);
        EXPECT_EQ(status, mode == AAMSG_MODE_BEST ? AAMSG_OK : AAMSG_NOT_PCM_WAVE);
        EXPECT_EQ(status, fromWave.status);
        EXPECT_EQ(Bytes(static_cast<std::uint8_t*>(output), static_cast<std::uint8_t*>(output) + size), fromWave.output);
        aamsg_free(output);
    }
}

TEST_F(ApiStreams, SamplesThatMakeNoWaveFileAreRefused) {
    const std::int16_t samples[4] = {1, 2, 3, 4};
    const Options decode = makeOptions({AAMSG_MODE_DECODE});
    struct Row {
        const void* samples;
        int type;
        std::size_t frames;
        unsigned rate;
        unsigned channels;
        const aamsg_options* options;
        const char* detail;
    };
    const Row rows[] = {
        {samples, AAMSG_SAMPLES_INT16, 2, 0, 2, nullptr, "a rate of 0 and 2 channels make no WAVE file"},
        {samples, AAMSG_SAMPLES_INT16, 2, 8000, 0, nullptr, "a rate of 8000 and 0 channels make no WAVE file"},
        {samples, 3, 2, 8000, 2, nullptr, "no such sample type: 3"},
        {samples, AAMSG_SAMPLES_INT16, SIZE_MAX / 4, 8000, 2, nullptr, nullptr},
        {nullptr, AAMSG_SAMPLES_INT16, 2, 8000, 2, nullptr, "no samples"},
        {samples, AAMSG_SAMPLES_INT16, 2, 8000, 2, decode.get(), "samples are encoded with 'e' or 'q', not 'd'"},
    };
    for (const Row& row : rows) {
        void* output = reinterpret_cast<void*>(1);
        std::size_t size = 1;
        aamsg_report report{};
        report.size = sizeof report;
        EXPECT_EQ(aamsg_encode_samples(row.samples, static_cast<aamsg_sample_type>(row.type), row.frames, row.rate, row.channels, &output,
                                       &size, row.options, nullptr, nullptr, &report),
                  AAMSG_INVALID_ARGUMENT)
            << report.detail;
        EXPECT_EQ(output, nullptr);
        EXPECT_EQ(size, 0u);
        if (row.detail != nullptr) {
            EXPECT_STREQ(report.detail, row.detail);
        } else {
            EXPECT_NE(std::strstr(report.detail, "more than a WAVE file holds"), nullptr) << report.detail;
        }
    }
}

// A message decodes to exactly the samples of 'd''s WAVE file, in the host's order.
TEST_F(ApiStreams, SamplesOutAreThoseOfTheDecodedWaveFile) {
    const Bytes message = readBytes(kSampleMessage);
    const Converted wave = convertMemory(message, makeOptions({AAMSG_MODE_DECODE}).get());
    ASSERT_EQ(wave.status, AAMSG_OK);
    std::int16_t* samples = nullptr;
    std::size_t count = 0;
    std::vector<int> marks;
    Listener listener{&marks, -1};
    aamsg_report report{};
    report.size = sizeof report;
    ASSERT_EQ(aamsg_decode_samples(message.data(), message.size(), &samples, &count, listen, &listener, &report), AAMSG_OK);
    ASSERT_EQ(count, 2 * message.size());
    ASSERT_EQ(wave.output.size(), 44 + 2 * count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto fromWave = static_cast<std::int16_t>(wave.output[44 + 2 * i] | wave.output[45 + 2 * i] << 8);
        ASSERT_EQ(samples[i], fromWave) << "sample " << i;
    }
    aamsg_free(samples);
    EXPECT_EQ(marks, wave.marks);
    expectSameReport(report, wave.report, "decoded");

    EXPECT_EQ(aamsg_decode_samples(message.data(), 0, &samples, &count, nullptr, nullptr, nullptr), AAMSG_OK);
    EXPECT_EQ(samples, nullptr);
    EXPECT_EQ(count, 0u);
    marks.clear();
    listener.cancelAt = 10;
    EXPECT_EQ(aamsg_decode_samples(message.data(), message.size(), &samples, &count, listen, &listener, nullptr), AAMSG_CANCELLED);
    EXPECT_EQ(samples, nullptr);
    EXPECT_EQ(count, 0u);
}

}  // namespace
