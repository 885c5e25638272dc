// The WAVE reader: a table of layouts it must accept or refuse, and the frame mixdown.
#include <gtest/gtest.h>

#include "wave/wave.hpp"
#include "support.hpp"
#include "wave_builder.hpp"

namespace aamsg {
namespace {

using test::Bytes;
using test::Chunk;
using test::fmtBody;
using test::riff;

struct HeaderCase {
    const char* name;
    Bytes file;
    Status expected;
    std::uint32_t frameCount = 0;
};

Bytes data16(int frames) { return Bytes(static_cast<std::size_t>(frames) * 2, 0x11); }
Bytes mono16Fmt() { return fmtBody(1, 1, 8000, 2, 16); }
Bytes withBlockAlign(std::uint16_t align) { return fmtBody(1, 1, 8000, align, 16); }

std::vector<HeaderCase> headerCases() {
    Bytes shortFmt = mono16Fmt();
    shortFmt.resize(14);
    return {
        {"canonical", riff({{"fmt ", mono16Fmt()}, {"data", data16(10)}}), kOk, 10},
        {"list_between_fmt_and_data", riff({{"fmt ", mono16Fmt()}, {"LIST", Bytes(26, 'x')}, {"data", data16(3)}}), kOk, 3},
        {"junk_before_fmt", riff({{"JUNK", Bytes(28, 0)}, {"fmt ", mono16Fmt()}, {"data", data16(3)}}), kOk, 3},
        {"extended_fmt_18", riff({{"fmt ", fmtBody(1, 1, 8000, 2, 16, 2)}, {"data", data16(4)}}), kOk, 4},
        {"fmt_declaring_14_moves_back", riff({{"fmt ", shortFmt}, {"data", data16(5)}}), kOk, 5},
        {"data_before_fmt_is_skipped", riff({{"data", data16(9)}, {"fmt ", mono16Fmt()}, {"data", data16(2)}}), kOk, 2},
        {"odd_chunk_with_pad_byte", riff({{"fmt ", mono16Fmt()}, {"note", Bytes(5, 'n')}, {"data", data16(2)}}), kOk, 2},
        {"partial_trailing_frame_ignored", riff({{"fmt ", mono16Fmt()}, {"data", Bytes(7, 1)}}), kOk, 3},
        {"empty_file", Bytes{}, kNotAudioFile},
        {"eleven_bytes", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V'}, kNotAudioFile},
        {"text_file", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n', 'x'}, kNotAudioFile},
        {"riff_but_avi", riff({{"fmt ", mono16Fmt()}}, "AVI "), kNotAudioFile},
        {"lowercase_fmt_id", riff({{"FMT ", mono16Fmt()}, {"data", data16(1)}}), kCorrupted},
        {"header_only", riff({}), kCorrupted},
        {"fmt_cut_short", riff({{"fmt ", Bytes(10, 1)}}), kCorrupted},
        {"float_format", riff({{"fmt ", fmtBody(3, 1, 8000, 4, 32)}, {"data", data16(2)}}), kNotPcm},
        {"extensible_format", riff({{"fmt ", fmtBody(0xFFFE, 2, 48000, 4, 16, 24)}, {"data", data16(2)}}), kNotPcm},
        {"non_pcm_with_missing_tail", riff({{"fmt ", fmtBody(2, 1, 8000, 256, 4)}}), kNotPcm},
        {"no_data_chunk", riff({{"fmt ", mono16Fmt()}, {"LIST", Bytes(4, 0)}}), kCorrupted},
        {"block_align_0", riff({{"fmt ", withBlockAlign(0)}, {"data", data16(2)}}), kCorrupted},
        {"block_align_3", riff({{"fmt ", withBlockAlign(3)}, {"data", data16(3)}}), kCorrupted},
        {"block_align_5", riff({{"fmt ", withBlockAlign(5)}, {"data", data16(5)}}), kCorrupted},
        {"block_align_65535", riff({{"fmt ", withBlockAlign(65535)}, {"data", data16(2)}}), kCorrupted},
        {"sample_rate_0", riff({{"fmt ", fmtBody(1, 1, 0, 2, 16)}, {"data", data16(2)}}), kCorrupted},
        {"data_smaller_than_frame", riff({{"fmt ", fmtBody(1, 2, 8000, 4, 16)}, {"data", Bytes(3, 0)}}), kCorrupted},
        {"huge_chunk_skips_forward", riff({{"fmt ", mono16Fmt()}, {"JUNK", Bytes{}, 0x80000000u}, {"data", data16(2)}}), kCorrupted},
        {"chunk_size_ffffffff", riff({{"JUNK", Bytes{}, 0xFFFFFFFFu}, {"fmt ", mono16Fmt()}}), kCorrupted},
    };
}

class ReaderHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(ReaderHeader, GivesExpectedResult) {
    const HeaderCase& c = GetParam();
    for (std::size_t block : {std::size_t{1}, std::size_t{7}, kDefaultBlockSize}) {
        InStream in = memoryInput(c.file, block);
        WaveFormat format;
        std::uint32_t frames = 0;
        ASSERT_EQ(readWaveHeader(in, format, frames), c.expected) << "block " << block;
        if (c.expected == kOk) {
            EXPECT_EQ(frames, c.frameCount);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ReaderHeader, ::testing::ValuesIn(headerCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Reader, StopsAtFirstSampleByte) {
    const Bytes file = riff({{"fmt ", fmtBody(1, 1, 8000, 2, 16, 2)}, {"LIST", Bytes(3, 0)}, {"data", test::pcm16({-5, 9})}});
    InStream in = memoryInput(file);
    WaveFormat format;
    std::uint32_t frames = 0;
    ASSERT_EQ(readWaveHeader(in, format, frames), kOk);
    EXPECT_EQ(format.sampleRate, 8000u);
    EXPECT_EQ(format.bitsPerSample, 16);
    double sample = 0;
    ASSERT_EQ(readFrame(in, format, sample), kOk);
    EXPECT_EQ(sample, -5.0);
    ASSERT_EQ(readFrame(in, format, sample), kOk);
    EXPECT_EQ(sample, 9.0);
    EXPECT_EQ(readFrame(in, format, sample), kCorrupted);
}

TEST(Reader, ReadFailureIsNotTakenForEndOfFile) {
    const Bytes file = riff({{"fmt ", mono16Fmt()}, {"data", data16(100)}});
    for (std::uint64_t failAt : {std::uint64_t{5}, std::uint64_t{30}, std::uint64_t{60}}) {
        const test::FaultyBytes faults{&file, failAt};
        InStream in = test::faultyInput(faults, 4);
        WaveFormat format;
        std::uint32_t frames = 0;
        Status rc = readWaveHeader(in, format, frames);
        double sample = 0;
        while (rc == kOk) rc = readFrame(in, format, sample);
        EXPECT_EQ(rc, kCannotReadInput) << failAt;
    }
}

// A chunk skipped by a seek that fails must not be read as if it had been passed over: here the
// skipped body holds a well-formed "fmt " and "data" of its own.
TEST(Reader, FailedSeekIsAReadFailure) {
    const Bytes inner = riff({{"fmt ", mono16Fmt()}, {"data", data16(4)}});
    const Bytes decoy(inner.begin() + 12, inner.end());
    const Bytes afterFmt = riff({{"fmt ", fmtBody(1, 1, 8000, 2, 16, 2)}, {"JUNK", decoy}, {"data", data16(3)}});
    for (const Bytes& file : {riff({{"JUNK", decoy}, {"fmt ", mono16Fmt()}, {"data", data16(3)}}), afterFmt}) {
        const test::FaultyBytes faults{&file, UINT64_MAX, true};
        InStream in = test::faultyInput(faults, 8);
        WaveFormat format;
        std::uint32_t frames = 0;
        EXPECT_EQ(readWaveHeader(in, format, frames), kCannotReadInput);
    }
}

struct FrameCase {
    const char* name;
    WaveFormat format;
    Bytes frame;
    double expected;
};

WaveFormat layout(std::uint16_t channels, std::uint16_t blockAlign, std::uint16_t bits) {
    return WaveFormat{1, channels, 8000, blockAlign, bits};
}

TEST(Reader, MixesFramesToOneValue) {
    const FrameCase cases[] = {
        {"stereo16_summed", layout(2, 4, 16), test::pcm16({1000, -3000}), -2000.0},
        {"stereo16_beyond_16_bits", layout(2, 4, 16), test::pcm16({30000, 30000}), 60000.0},
        {"stereo16_lowest", layout(2, 4, 16), test::pcm16({-32768, -32768}), -65536.0},
        {"mono8_centre", layout(1, 1, 8), Bytes{128}, 0.0},
        {"mono8_top", layout(1, 1, 8), Bytes{255}, 32512.0},
        {"mono8_bottom", layout(1, 1, 8), Bytes{0}, -32768.0},
        {"stereo8_summed", layout(2, 2, 8), Bytes{255, 0}, -256.0},
        {"three_channels_first_slot_only", layout(3, 4, 16), test::pcm16({1234, 999}), 1234.0},
        {"mono32_top_bytes", layout(1, 4, 32), Bytes{0xFF, 0xFF, 0x18, 0xFC}, -1000.0},
        {"mono24_in_32_top_bytes", layout(1, 4, 24), Bytes{0x00, 0x80, 0xE8, 0x03}, 1000.0},
        {"stereo16_in_two_bytes_reads_zero_fill", layout(2, 2, 16), Bytes{0x01, 0x02}, 0x0201 + 0x02},
        {"mono16_in_one_byte_reads_zero_fill", layout(1, 1, 16), Bytes{0x7F}, 0x7F},
    };
    for (const FrameCase& c : cases) {
        InStream in = memoryInput(c.frame);
        double sample = 0;
        ASSERT_EQ(readFrame(in, c.format, sample), kOk) << c.name;
        EXPECT_EQ(sample, c.expected) << c.name;
    }
}

}  // namespace
}  // namespace aamsg
