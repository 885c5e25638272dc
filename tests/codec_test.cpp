// The ADPCM quantiser: codes and states worked out by hand, an independent implementation's
// codes, the quantiser written plainly from its tables, and the ends of the ranges.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "codec/adpcm.hpp"

namespace aamsg {
namespace {

// Samples from rest, the code each takes and the state after it, worked out by hand from the
// step table: step/8 is always added, code 0 moves too, the sign alone moves by step/8 the
// other way. The encoder must give these codes and states, and the decoder, fed the codes,
// these states.
TEST(Codec, KnownCodesAndStatesFromRest) {
    struct Row {
        std::int16_t sample;
        unsigned code;
        std::int16_t predictor;
        std::int32_t stepIndex;
    };
    const Row rows[] = {
        {0, 0, 0, 0},          // step 7: 7 >> 3 is 0, silence stays at rest
        {1000, 7, 11, 8},      // 0 + 7 + 3 + 1
        {1000, 7, 41, 16},     // step 16: 2 + 16 + 8 + 4
        {1000, 7, 104, 24},    // step 34
        {1000, 7, 240, 32},    // step 73
        {-1000, 15, -53, 40},  // step 157: 19 + 157 + 78 + 39 down
        {-1000, 15, -684, 48}, // step 337
        {-684, 0, -594, 47},   // on target, step 724: code 0 still adds 90
        {-600, 8, -676, 46},   // step 658: the sign alone takes 82 off
        {-200, 3, -154, 45},   // step 598: 74 + 299 + 149
    };
    AdpcmState encoder;
    AdpcmState decoder;
    for (const Row& row : rows) {
        EXPECT_EQ(encodeSample(row.sample, encoder), row.code) << row.sample;
        EXPECT_EQ(encoder.predictor, row.predictor) << row.sample;
        EXPECT_EQ(encoder.stepIndex, row.stepIndex) << row.sample;
        EXPECT_EQ(decodeNibble(row.code, decoder), row.predictor) << row.sample;
        EXPECT_EQ(decoder.stepIndex, row.stepIndex) << row.sample;
    }
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
    for (std::size_t i = 0; i < signal.size(); i += 2) {
        const unsigned high = encodeSample(signal[i], encoder);
        const unsigned low = encodeSample(signal[i + 1], encoder);
        ASSERT_EQ((high << kHighNibbleShift) | low, golden[i / 2]) << "byte " << i / 2;
    }
}

// The quantiser as the step and index tables define it, one branch per bit, without the
// precomputed decode steps or the encoder's masks.
struct PlainState {
    int predictor = 0;
    int stepIndex = 0;
};

int plainDecode(unsigned code, PlainState& state) {
    const int step = kStepSizes[static_cast<std::size_t>(state.stepIndex)];
    int difference = step >> 3;
    if (code & 4) difference += step;
    if (code & 2) difference += step >> 1;
    if (code & 1) difference += step >> 2;
    state.predictor = std::clamp(state.predictor + ((code & 8) ? -difference : difference), -32767, 32767);
    state.stepIndex = std::clamp(state.stepIndex + kIndexAdjust[code], 0, static_cast<int>(kStepCount) - 1);
    return state.predictor;
}

unsigned plainEncode(int sample, PlainState& state) {
    int step = kStepSizes[static_cast<std::size_t>(state.stepIndex)];
    int difference = sample - state.predictor;
    unsigned code = 0;
    if (difference < 0) {
        code = 8;
        difference = -difference;
    }
    for (unsigned bit = 4; bit != 0; bit >>= 1, step >>= 1) {
        if (difference >= step) {
            code |= bit;
            difference -= step;
        }
    }
    plainDecode(code, state);
    return code;
}

// Noise and full-scale jumps through the encoder, random codes through the decoder: the codec
// gives the plain quantiser's codes and states, at both ends of the table and at the clamp.
TEST(Codec, AgreesWithThePlainQuantiserOnHarshInput) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> anySample(-32768, 32767);
    std::uniform_int_distribution<unsigned> anyCode(0, 15);
    AdpcmState encoder;
    AdpcmState decoder;
    PlainState plainEncoder;
    PlainState plainDecoder;
    for (int i = 0; i < 200000; ++i) {
        const int s = (i / 1000) % 2 == 0 ? anySample(random) : ((i / 7) % 2 == 0 ? 32767 : -32768);
        ASSERT_EQ(encodeSample(static_cast<std::int16_t>(s), encoder), plainEncode(s, plainEncoder)) << i;
        ASSERT_EQ(encoder.predictor, plainEncoder.predictor) << i;
        ASSERT_EQ(encoder.stepIndex, plainEncoder.stepIndex) << i;
        // Any code drives the step index up; codes without the step's bit walk it back down.
        const unsigned code = (i / 500) % 2 == 0 ? anyCode(random) : anyCode(random) & ~4u;
        ASSERT_EQ(decodeNibble(code, decoder), plainDecode(code, plainDecoder)) << i;
        ASSERT_EQ(decoder.stepIndex, plainDecoder.stepIndex) << i;
    }
}

}  // namespace
}  // namespace aamsg
