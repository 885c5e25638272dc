// Bad input, systematically: every truncation of valid files, every corrupted header byte,
// lying chunk sizes, odd "fmt " sizes, and noise given to both directions. Every run must
// end with a listed result, and output only what the file's intact part supports.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "convert/convert.hpp"
#include "support.hpp"
#include "wave_builder.hpp"

namespace aamsg {
namespace {

using test::Bytes;
using test::convert;
using test::Converted;

Converted encode(const Bytes& file) { return convert(Mode::Encode, file, {64}); }

const std::set<Status> kEncodeResults = {kOk, kNotAudioFile, kNotPcm, kCorrupted};

bool isPrefix(const Bytes& part, const Bytes& whole) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

std::vector<int> wobble(int count, int amplitude, int centre) {
    std::vector<int> s;
    for (int i = 0; i < count; ++i) s.push_back(centre + (i * 7919 % (2 * amplitude + 1)) - amplitude);
    return s;
}

struct Layout {
    const char* name;
    Bytes file;
    std::size_t dataStart;  // offset of the first sample byte
};

std::vector<Layout> layouts() {
    std::vector<Layout> all = {
        {"mono8", test::wave(1, 11025, 8, wobble(300, 100, 128)), 44},
        {"stereo8", test::wave(2, 11025, 8, wobble(600, 100, 128)), 44},
        {"mono16", test::wave(1, 11025, 16, wobble(300, 20000, 0)), 44},
        {"stereo16", test::wave(2, 11025, 16, wobble(600, 30000, 0)), 44},
    };
    // Chunks before "fmt ", an extended "fmt ", and a chunk between "fmt " and "data".
    all.push_back({"chunky", test::riff({{"JUNK", Bytes(10, 0)},
                                         {"fmt ", test::fmtBody(1, 2, 22050, 4, 16, 2)},
                                         {"LIST", Bytes(7, 'i')},
                                         {"data", test::pcm16(wobble(400, 16000, 0))}}),
                   12 + 18 + 26 + 16 + 8});
    return all;
}

TEST(Truncation, EveryPrefixEndsWithItsCode) {
    for (const Layout& layout : layouts()) {
        const Converted whole = encode(layout.file);
        ASSERT_EQ(whole.result, kOk) << layout.name;
        for (std::size_t length = 0; length < layout.file.size(); ++length) {
            const Bytes prefix(layout.file.begin(), layout.file.begin() + static_cast<std::ptrdiff_t>(length));
            const Converted cut = encode(prefix);
            const std::string where = std::string(layout.name) + " cut at " + std::to_string(length);
            if (length < 12) {
                EXPECT_EQ(cut.result, kNotAudioFile) << where;
            } else {
                EXPECT_EQ(cut.result, kCorrupted) << where;
            }
            if (length < layout.dataStart) {
                EXPECT_TRUE(cut.output.empty()) << where;
            } else {
                // Partial output, and only what the frames that arrived give.
                EXPECT_TRUE(isPrefix(cut.output, whole.output)) << where;
            }
        }
    }
}

TEST(Corruption, EveryHeaderByteEndsWithAListedCode) {
    const Bytes file = test::wave(2, 44100, 16, wobble(200, 30000, 0));
    for (std::size_t at = 0; at < 44; ++at) {
        const std::uint8_t original = file[at];
        for (std::uint8_t value : {std::uint8_t{0}, std::uint8_t{0xFF}, static_cast<std::uint8_t>(original ^ 1),
                                   static_cast<std::uint8_t>(original ^ 0x80), static_cast<std::uint8_t>(original + 1)}) {
            Bytes bad = file;
            bad[at] = value;
            const Converted outcome = encode(bad);
            const std::string where = "byte " + std::to_string(at) + " = " + std::to_string(value);
            ASSERT_TRUE(kEncodeResults.count(outcome.result)) << where << ": " << outcome.result;
            if (outcome.result == kNotAudioFile || outcome.result == kNotPcm) {
                EXPECT_TRUE(outcome.output.empty()) << where;
            }
            if ((at < 4 || (at >= 8 && at < 12)) && value != original) {
                EXPECT_EQ(outcome.result, kNotAudioFile) << where;
            }
            if ((at == 20 || at == 21) && value != original) {
                EXPECT_EQ(outcome.result, kNotPcm) << where;
            }
        }
    }
}

TEST(Corruption, LyingChunkSizes) {
    const Bytes fmt = test::fmtBody(1, 1, 16000, 2, 16);
    const Bytes data = test::pcm16(wobble(100, 9000, 0));
    for (std::uint32_t size : {0u, 1u, 17u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
        const std::vector<std::vector<test::Chunk>> files = {
            {{"fmt ", fmt, size}, {"data", data}},
            {{"fmt ", fmt}, {"data", data, size}},
            {{"fmt ", fmt}, {"LIST", Bytes(6, 'x'), size}, {"data", data}},
            {{"JUNK", Bytes(6, 'x'), size}, {"fmt ", fmt}, {"data", data}},
        };
        for (std::size_t i = 0; i < files.size(); ++i) {
            const Converted outcome = encode(test::riff(files[i]));
            EXPECT_TRUE(kEncodeResults.count(outcome.result)) << "size " << size << " in file " << i;
        }
    }
    // A data chunk claiming 4 GB: all present frames are encoded, then the cut is reported.
    const Converted longData = encode(test::riff({{"fmt ", fmt}, {"data", data, 0xFFFFFFFFu}}));
    EXPECT_EQ(longData.result, kCorrupted);
    EXPECT_EQ(longData.output.size(), 25u);  // instants 0..49/8000 lie within the 100 frames at 16000
}

TEST(Corruption, FmtChunkSizes) {
    const Bytes full = test::fmtBody(1, 1, 8000, 2, 16);
    const Bytes data = test::pcm16(wobble(50, 9000, 0));
    const Converted reference = encode(test::riff({{"fmt ", full}, {"data", data}}));
    ASSERT_EQ(reference.result, kOk);
    const auto withFmt = [&](std::size_t size, bool pad) {
        Bytes body = full;
        body.resize(size, 0);  // shorter: cut; longer: extension bytes
        return encode(test::riff({{"fmt ", body, std::nullopt, pad}, {"data", data}}));
    };
    // Longer chunks are passed over; shorter ones are read on into the next chunk header and the
    // reader moves back to it.
    for (std::size_t size : {16u, 18u, 40u, 14u}) {
        const Converted outcome = withFmt(size, true);
        EXPECT_EQ(outcome.result, kOk) << size;
        EXPECT_EQ(outcome.output, reference.output) << size;
    }
    EXPECT_EQ(withFmt(15, false).result, kOk);        // the 16th byte read is the 'd' of "data"
    EXPECT_EQ(withFmt(15, true).result, kCorrupted);  // moving back one lands on the pad byte
    EXPECT_EQ(withFmt(0, true).result, kNotPcm);      // the "format tag" read is "da"
}

TEST(Corruption, FormatFieldsAtTheirLimits) {
    const Bytes data = test::pcm16(wobble(64, 9000, 0));
    struct Case {
        std::uint16_t channels;
        std::uint32_t rate;
        std::uint16_t blockAlign;
        Status expected;
    };
    // Zero rates and impossible block aligns are in the reader's own table.
    const Case cases[] = {{1, 1, 2, kOk}, {1, 4294967295u, 2, kOk}, {0, 8000, 2, kOk}, {65535, 8000, 2, kOk}};
    for (const Case& c : cases) {
        const Converted outcome = encode(test::riff({{"fmt ", test::fmtBody(1, c.channels, c.rate, c.blockAlign, 16)}, {"data", data}}));
        EXPECT_EQ(outcome.result, c.expected) << c.channels << " " << c.rate << " " << c.blockAlign;
    }
}

TEST(Noise, RandomAndTextFilesInBothDirections) {
    std::mt19937 random(17);
    std::vector<Bytes> inputs = {Bytes{}, Bytes{'R', 'I', 'F', 'F'}};
    const std::string text = "Thank you for calling.\r\nPlease hold.\n";
    inputs.emplace_back(text.begin(), text.end());
    for (int i = 0; i < 200; ++i) {
        Bytes b(random() % 3000);
        for (auto& x : b) x = static_cast<std::uint8_t>(random());
        if (i % 2 == 0 && b.size() >= 12) std::copy_n("RIFF\0\0\0\0WAVE", 12, b.begin());
        inputs.push_back(b);
    }
    for (const Bytes& input : inputs) {
        EXPECT_TRUE(kEncodeResults.count(encode(input).result));
        const Converted decoded = convert(Mode::Decode, input, {100});
        EXPECT_EQ(decoded.result, kOk);
        EXPECT_EQ(decoded.output.size(), 44 + 4 * input.size());
    }
}

}  // namespace
}  // namespace aamsg
