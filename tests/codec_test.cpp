// The ADPCM quantiser: known vectors, an independent implementation's output, and the
// invariants a decoder relies on.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "codec/adpcm.hpp"

namespace aamsg {
namespace {

TEST(Codec, DecodesCodeSevenFromRest) {
    AdpcmState state;
    const int expected[] = {11, 41, 104, 240};
    const int indices[] = {8, 16, 24, 32};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(decodeNibble(7, state), expected[i]);
        EXPECT_EQ(state.stepIndex, indices[i]);
    }
}

TEST(Codec, EncodesStepUpAndDownAndDecoderFollows) {
    const std::int16_t samples[] = {1000, 1000, 1000, 1000, -1000, -1000};
    const unsigned codes[] = {7, 7, 7, 7, 15, 15};
    const int decoded[] = {11, 41, 104, 240, -53, -684};
    AdpcmState encoder;
    AdpcmState decoder;
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(encodeSample(samples[i], encoder), codes[i]) << i;
        EXPECT_EQ(decodeNibble(codes[i], decoder), decoded[i]) << i;
    }
    EXPECT_EQ(encoder.predictor, -684);
    EXPECT_EQ(encoder.stepIndex, 48);
    EXPECT_EQ(decoder.predictor, encoder.predictor);
    EXPECT_EQ(decoder.stepIndex, encoder.stepIndex);
}

TEST(Codec, SilenceStaysAtRest) {
    AdpcmState state;
    EXPECT_EQ(encodeSample(0, state), 0u);
    EXPECT_EQ(state.predictor, 0);
    EXPECT_EQ(state.stepIndex, 0);
    EXPECT_EQ(decodeNibble(0, state), 0);
    EXPECT_EQ(state.stepIndex, 0);
}

TEST(Codec, PredictorIsHeldToSymmetricRange) {
    AdpcmState down;
    AdpcmState up;
    for (int i = 0; i < 200; ++i) {
        decodeNibble(15, down);
        decodeNibble(7, up);
    }
    EXPECT_EQ(down.predictor, -32767);  // never -32768
    EXPECT_EQ(down.stepIndex, 88);
    EXPECT_EQ(up.predictor, 32767);
    EXPECT_EQ(up.stepIndex, 88);

    AdpcmState encoder;
    for (int i = 0; i < 200; ++i) encodeSample(-32768, encoder);
    EXPECT_EQ(encoder.predictor, -32767);
}

TEST(Codec, StepIndexStaysInTable) {
    AdpcmState low;
    decodeNibble(0, low);
    EXPECT_EQ(low.stepIndex, 0);
    AdpcmState high{0, 85};
    decodeNibble(7, high);
    EXPECT_EQ(high.stepIndex, 88);
}

// The signal the golden file was made from; tests/data/make_golden.py builds the same one.
std::vector<std::int16_t> goldenSignal() {
    std::vector<std::int16_t> out;
    std::uint64_t x = 12345;
    for (int n = 0; n < 4000; ++n) {
        x = (x * 1103515245 + 12345) % (std::uint64_t{1} << 31);
        const int noise = static_cast<int>((x >> 16) % 2001) - 1000;
        const int phase = n % 64;
        const int tri = phase < 32 ? phase * 1000 - 16000 : 48000 - phase * 1000;
        int burst = 0;
        if ((n / 500) % 2 == 1) burst = (n / 25) % 2 == 0 ? 9000 : -9000;
        out.push_back(static_cast<std::int16_t>(tri + burst + noise));
    }
    return out;
}

std::vector<std::uint8_t> readHexFile(const std::string& path) {
    std::ifstream file(path);
    std::vector<std::uint8_t> bytes;
    std::string line;
    while (std::getline(file, line)) {
        for (std::size_t i = 0; i + 1 < line.size(); i += 2) {
            bytes.push_back(static_cast<std::uint8_t>(std::stoi(line.substr(i, 2), nullptr, 16)));
        }
    }
    return bytes;
}

TEST(Codec, MatchesIndependentImplementationOnGoldenSignal) {
    const std::vector<std::uint8_t> golden = readHexFile(AAMSG_TEST_DATA "/golden_codes.hex");
    const std::vector<std::int16_t> signal = goldenSignal();
    ASSERT_EQ(golden.size(), signal.size() / 2);

    AdpcmState encoder;
    AdpcmState decoder;
    for (std::size_t i = 0; i < signal.size(); i += 2) {
        const unsigned high = encodeSample(signal[i], encoder);
        const unsigned low = encodeSample(signal[i + 1], encoder);
        ASSERT_EQ((high << kHighNibbleShift) | low, golden[i / 2]) << "byte " << i / 2;
        decodeNibble(high, decoder);
        decodeNibble(low, decoder);
        ASSERT_EQ(decoder.predictor, encoder.predictor);
        ASSERT_EQ(decoder.stepIndex, encoder.stepIndex);
    }
}

TEST(Codec, EncoderAndDecoderStayInStepOnHarshInput) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> anySample(-32768, 32767);
    AdpcmState encoder;
    AdpcmState decoder;
    for (int i = 0; i < 200000; ++i) {
        // Alternate full-scale jumps with noise, to visit both ends of the table and the clamp.
        const int s = (i / 1000) % 2 == 0 ? anySample(random) : ((i / 7) % 2 == 0 ? 32767 : -32768);
        const unsigned code = encodeSample(static_cast<std::int16_t>(s), encoder);
        ASSERT_LT(code, 16u);
        ASSERT_EQ(decodeNibble(code, decoder), encoder.predictor);
        ASSERT_EQ(decoder.stepIndex, encoder.stepIndex);
        ASSERT_GE(encoder.predictor, -32767);
        ASSERT_GE(encoder.stepIndex, 0);
        ASSERT_LE(encoder.stepIndex, 88);
    }
}

}  // namespace
}  // namespace aamsg
