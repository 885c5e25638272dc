// Float input that holds numbers that are not numbers: NaN is silence and an infinity full scale
// of its sign, counted, and nothing else in the message moves (no clipping spread over the
// rate converter's filter, no gain measured on a burst).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

#include "aamsg.h"
#include "api_support.hpp"
#include "wave_builder.hpp"

namespace {

using aamsg::test::Bytes;
using namespace aamsg::api_test;

constexpr std::uint32_t kRate = 44100;

// A 32-bit float WAVE file of interleaved `channels`.
Bytes floatWave(std::uint16_t channels, const std::vector<float>& samples) {
    Bytes data;
    for (const float s : samples) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &s, sizeof bits);
        aamsg::test::appendU32(data, bits);
    }
    const auto blockAlign = static_cast<std::uint16_t>(4 * channels);
    return aamsg::test::riff({{"fmt ", aamsg::test::fmtBody(3, channels, kRate, blockAlign, 32)}, {"data", data}});
}

// A second of a 0.3 full-scale 440 Hz tone, each sample on every channel.
std::vector<float> tone(std::uint16_t channels) {
    std::vector<float> samples;
    for (std::uint32_t i = 0; i < kRate; ++i) {
        const double t = static_cast<double>(i) / kRate;
        samples.insert(samples.end(), channels, static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * 440 * t)));
    }
    return samples;
}

// Every `step`th of `count` samples from `first` set to `value`.
std::vector<float> with(std::vector<float> samples, float value, std::size_t first, std::size_t count, std::size_t step) {
    for (std::size_t i = 0; i < count; ++i) samples[first + i * step] = value;
    return samples;
}

// The decoded message's largest magnitude.
int loudest(const Bytes& message) {
    const Options decode = makeOptions({AAMSG_MODE_DECODE});
    const Converted wave = convertMemory(message, decode.get());
    int peak = 0;
    for (std::size_t i = 44; i + 1 < wave.output.size(); i += 2) {
        const auto s = static_cast<std::int16_t>(wave.output[i] | wave.output[i + 1] << 8);
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    }
    return peak;
}

TEST(NotNumbers, SilentOrFullScaleBeforeTheRateConversion) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> mono = tone(1);
    struct Row {
        const char* name;
        std::uint16_t channels;
        std::vector<float> samples;
        std::uint64_t notNumbers;
        int loudestAtMost;  // of the decoded message
    };
    const Row rows[] = {
        {"clean", 1, mono, 0, 11000},
        {"ten_nans", 1, with(mono, nan, 1000, 10, 3001), 10, 11000},
        {"burst_of_nans", 1, with(mono, nan, 20000, 10, 1), 10, 11000},
        {"all_nan", 1, std::vector<float>(kRate, nan), kRate, 16},
        {"negative_infinities", 1, with(mono, -inf, 1000, 10, 3001), 10, 32767},
        {"all_infinite", 1, std::vector<float>(kRate, inf), kRate, 32767},
        {"nan_in_one_channel", 2, with(tone(2), nan, 2000, 5, 2), 5, 11000},
    };
    const Options options = makeOptions({AAMSG_MODE_BEST});
    for (const Row& row : rows) {
        const Converted q = convertMemory(floatWave(row.channels, row.samples), options.get());
        ASSERT_EQ(q.status, AAMSG_OK) << row.name;
        EXPECT_EQ(q.report.not_numbers, row.notNumbers) << row.name;
        if (row.loudestAtMost < 32767) {
            EXPECT_EQ(q.report.clipped, 0u) << row.name;
        }
        EXPECT_LE(loudest(q.output), row.loudestAtMost) << row.name;
    }
}

// The gain is measured on the tone, not on what a burst of NaN or infinities would have made.
TEST(NotNumbers, LevelMeasuredOnTheNumbers) {
    const std::vector<float> mono = tone(1);
    const Options options = makeOptions({AAMSG_MODE_BEST, true, -20.0});
    const Converted clean = convertMemory(floatWave(1, mono), options.get());
    const Converted nans = convertMemory(floatWave(1, with(mono, std::numeric_limits<float>::quiet_NaN(), 1000, 10, 3001)),
                                         options.get());
    ASSERT_EQ(clean.status, AAMSG_OK);
    ASSERT_EQ(nans.status, AAMSG_OK);
    EXPECT_NEAR(nans.report.gain_db, clean.report.gain_db, 0.1);
    EXPECT_EQ(nans.report.clipped, 0u);
}

}  // namespace
