// The library's inspection as a program sees it, through include/aamsg.h alone: the same
// measures by file and by memory, the struct filled as far as its size, progress and cancel,
// the findings' names, thresholds and words, and the findings a conversion reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "aamsg.h"
#include "api_support.hpp"
#include "wave_builder.hpp"

namespace {

namespace fs = std::filesystem;
using aamsg::test::Bytes;
using namespace aamsg::api_test;

// Bursts of a 440 Hz tone, 0.3 s on and 0.2 s off, `seconds` long, at `rmsDb` while on: the
// level meter takes them for speech, and their pauses are digital silence.
std::vector<int> bursts(double seconds, double rmsDb, std::uint32_t rate = 8000) {
    std::vector<int> samples(static_cast<std::size_t>(seconds * rate));
    const double amplitude = 32768.0 * std::pow(10.0, rmsDb / 20.0) * std::sqrt(2.0);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        if (std::fmod(t, 0.5) < 0.3) samples[i] = static_cast<int>(std::lround(amplitude * std::sin(2 * std::numbers::pi * 440.0 * t)));
    }
    return samples;
}

struct Inspected {
    aamsg_status status = AAMSG_INTERNAL;
    aamsg_inspection result{};
    std::vector<int> marks;
};

Inspected inspectMemory(const Bytes& bytes, int cancelAt = -1) {
    Inspected run;
    run.result.size = sizeof run.result;
    Listener listener{&run.marks, cancelAt};
    run.status = aamsg_inspect_memory(bytes.data(), bytes.size(), &run.result, listen, &listener);
    return run;
}

Inspected inspectFile(const fs::path& path) {
    Inspected run;
    run.result.size = sizeof run.result;
    Listener listener{&run.marks, -1};
    run.status = aamsg_inspect_file(reinterpret_cast<const char*>(path.u8string().c_str()), &run.result, listen, &listener);
    return run;
}

class Inspect : public ::testing::Test {
protected:
    void SetUp() override {
        // A folder of this run's own: other runs of the suite may be at work on the machine.
        const auto run = std::chrono::steady_clock::now().time_since_epoch().count();
        dir = fs::temp_directory_path() /
              (std::string("aamsg_inspect_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" + std::to_string(run));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path write(const std::string& name, const Bytes& bytes) const {
        std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return dir / name;
    }
    fs::path dir;
};

// One row a kind of file: what it is taken for, its length, its findings; by memory and by
// file alike, to the byte.
TEST_F(Inspect, FileAndMemoryGiveTheSameMeasures) {
    using namespace aamsg::test;
    std::vector<int> stereo;
    for (const int v : bursts(2.0, -22.0, 44100)) stereo.insert(stereo.end(), {v, v});
    Bytes cut = wave(1, 8000, 16, bursts(2.0, -22.0));
    cut.resize(cut.size() / 2);
    const std::string words = "Thank you for calling. Press 1 for sales.";
    struct Row {
        const char* name;
        Bytes file;
        aamsg_status status;
        int message;
        const char* format;
        std::uint32_t rate, channels;
        double seconds;
        std::uint32_t findings;
    };
    const Row rows[] = {
        {"prompt", wave(2, 44100, 16, stereo), AAMSG_OK, 0, "WAVE 16-bit PCM", 44100, 2, 2.0, 0},
        {"quiet", wave(1, 8000, 16, bursts(3.0, -50.0)), AAMSG_OK, 0, "WAVE 16-bit PCM", 8000, 1, 3.0, AAMSG_FINDING_TOO_QUIET},
        {"silence", wave(1, 16000, 8, std::vector<int>(16000, 128)), AAMSG_OK, 0, "WAVE 8-bit PCM", 16000, 1, 1.0, AAMSG_FINDING_NO_SPEECH},
        {"message", Bytes(4000, 0x08), AAMSG_OK, 1, "message", 8000, 1, 1.0, AAMSG_FINDING_NO_SPEECH},
        {"text", Bytes(words.begin(), words.end()), AAMSG_OK, 1, "message", 8000, 1, 2.0 * static_cast<double>(words.size()) / 8000, 0},
        {"empty", {}, AAMSG_OK, 1, "message", 8000, 1, 0.0, AAMSG_FINDING_NO_SPEECH},
        {"cut short", cut, AAMSG_CORRUPTED, 0, "WAVE 16-bit PCM", 8000, 1, 1.0 - 22.0 / 16000, 0},
    };
    for (const Row& row : rows) {
        const Inspected memory = inspectMemory(row.file);
        const Inspected file = inspectFile(write(row.name, row.file));
        EXPECT_EQ(memory.status, row.status) << row.name;
        EXPECT_EQ(std::memcmp(&memory.result, &file.result, sizeof memory.result), 0) << row.name;
        const aamsg_inspection& r = memory.result;
        EXPECT_EQ(r.size, sizeof r);
        EXPECT_EQ(r.is_message, row.message) << row.name;
        EXPECT_STREQ(r.format, row.format) << row.name;
        EXPECT_EQ(r.rate, row.rate) << row.name;
        EXPECT_EQ(r.channels, row.channels) << row.name;
        EXPECT_NEAR(r.seconds, row.seconds, 1e-9) << row.name;
        if (std::string(row.name) != "text") {  // decoded text is noise of no fixed kind
            EXPECT_EQ(r.findings, row.findings) << row.name;
        }
        EXPECT_EQ(r.speech_found == 0, (r.findings & AAMSG_FINDING_NO_SPEECH) != 0) << row.name;
    }
    const aamsg_inspection quiet = inspectMemory(rows[1].file).result;
    // The bursts' power over the time the meter counts active: theirs and its hangovers.
    EXPECT_GE(quiet.activity, 0.6);
    EXPECT_NEAR(quiet.level_db, -50.0 - 10.0 * std::log10(quiet.activity / 0.6), 0.05);
    EXPECT_DOUBLE_EQ(quiet.gain_db, AAMSG_DEFAULT_LEVEL_DB - quiet.level_db);
    EXPECT_NEAR(quiet.peak_db, -47.0, 0.1);
    EXPECT_EQ(quiet.noise_floor_db, AAMSG_SILENCE_DB);
    const aamsg_inspection silent = inspectMemory(rows[2].file).result;
    EXPECT_EQ(silent.level_db, AAMSG_SILENCE_DB);
    EXPECT_EQ(silent.peak_db, AAMSG_SILENCE_DB);

    const Inspected missing = inspectFile(dir / "missing.wav");
    EXPECT_EQ(missing.status, AAMSG_CANNOT_OPEN_INPUT);
    EXPECT_EQ(missing.result.size, sizeof missing.result);
    EXPECT_EQ(missing.result.seconds, 0.0);
    EXPECT_STREQ(missing.result.format, "");
}

// Marks 0 to 100 in order; a stop ends it with AAMSG_CANCELLED and nothing measured.
TEST_F(Inspect, ProgressAndCancel) {
    const Bytes file = aamsg::test::wave(1, 8000, 16, bursts(3.0, -22.0));
    std::vector<int> all(101);
    for (int p = 0; p <= 100; ++p) all[static_cast<std::size_t>(p)] = p;
    for (const Bytes& bytes : {file, Bytes(40000, 0x17)}) {
        EXPECT_EQ(inspectMemory(bytes).marks, all);
        const Inspected cancelled = inspectMemory(bytes, 0);
        EXPECT_EQ(cancelled.status, AAMSG_CANCELLED);
        EXPECT_EQ(cancelled.marks, std::vector<int>{0});
        EXPECT_EQ(cancelled.result.seconds, 0.0);
    }
}

// The picture: a column a sample for a short sound, with a clipped place's end marked where it
// ends (inside and at the very end); a long one in equal runs, each column the lowest and
// highest of its run, whatever merging the columns went through while the samples came.
TEST_F(Inspect, PictureOfTheSound) {
    std::vector<int> shortSound(100, 0);
    for (std::size_t i = 0; i < shortSound.size(); ++i) shortSound[i] = static_cast<int>(i * 300) - 15000;
    for (std::size_t i : {10u, 11u, 12u, 97u, 98u, 99u}) shortSound[i] = 32767;
    shortSound[40] = -32768;  // alone: no clipped place
    const aamsg_inspection few = inspectMemory(aamsg::test::wave(1, 8000, 16, shortSound)).result;
    ASSERT_EQ(few.picture_columns, shortSound.size());
    EXPECT_EQ(few.picture_run, 1u);
    for (std::size_t c = 0; c < shortSound.size(); ++c) {
        EXPECT_FLOAT_EQ(few.picture_low[c], static_cast<float>(shortSound[c]) / 32768.0f) << c;
        EXPECT_EQ(few.picture_high[c], few.picture_low[c]) << c;
        EXPECT_EQ(few.picture_clipped[c], c == 12 || c == 99 ? 1 : 0) << c;
    }
    EXPECT_EQ(few.clipped_places, 2u);

    for (const double seconds : {3.0, 7.3}) {
        const std::vector<int> samples = bursts(seconds, -20.0);
        const aamsg_inspection many = inspectMemory(aamsg::test::wave(1, 8000, 16, samples)).result;
        const std::size_t columns = many.picture_columns, run = many.picture_run;
        ASSERT_GE(columns, AAMSG_PICTURE_COLUMNS / 2) << seconds;
        ASSERT_LE(columns, AAMSG_PICTURE_COLUMNS) << seconds;
        ASSERT_LT(run * (columns - 1), samples.size()) << seconds;
        ASSERT_GE(run * columns, samples.size()) << seconds;
        for (std::size_t c = 0; c < columns; ++c) {
            const auto from = samples.begin() + static_cast<std::ptrdiff_t>(c * run);
            const auto to = samples.begin() + static_cast<std::ptrdiff_t>(std::min(samples.size(), (c + 1) * run));
            EXPECT_FLOAT_EQ(many.picture_low[c], static_cast<float>(*std::min_element(from, to)) / 32768.0f) << c;
            EXPECT_FLOAT_EQ(many.picture_high[c], static_cast<float>(*std::max_element(from, to)) / 32768.0f) << c;
            EXPECT_EQ(many.picture_clipped[c], 0) << c;
        }
    }
}

// A program built against an older header passes a shorter struct, a newer one a longer: the
// library writes only within it, and zeroes what it does not know.
TEST_F(Inspect, FilledAsFarAsItsSize) {
    const Bytes file = aamsg::test::wave(1, 8000, 16, bursts(1.0, -30.0));
    const aamsg_inspection full = inspectMemory(file).result;
    constexpr std::size_t kOlder = offsetof(aamsg_inspection, seconds);
    struct Guarded {
        aamsg_inspection result;
        unsigned char after[16];
    } guarded;
    std::memset(&guarded, 0xA5, sizeof guarded);
    guarded.result.size = kOlder;
    ASSERT_EQ(aamsg_inspect_memory(file.data(), file.size(), &guarded.result, nullptr, nullptr), AAMSG_OK);
    EXPECT_EQ(guarded.result.size, kOlder);
    constexpr std::size_t kFrom = offsetof(aamsg_inspection, is_message);
    EXPECT_EQ(std::memcmp(reinterpret_cast<const char*>(&guarded.result) + kFrom, reinterpret_cast<const char*>(&full) + kFrom, kOlder - kFrom), 0);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&guarded);
    for (std::size_t i = kOlder; i < sizeof guarded; ++i) ASSERT_EQ(bytes[i], 0xA5) << "byte " << i;

    std::memset(&guarded, 0xA5, sizeof guarded);
    guarded.result.size = sizeof guarded;
    ASSERT_EQ(aamsg_inspect_memory(file.data(), file.size(), &guarded.result, nullptr, nullptr), AAMSG_OK);
    for (const unsigned char b : guarded.after) ASSERT_EQ(b, 0);

    aamsg_inspection tooSmall{};
    tooSmall.size = sizeof tooSmall.size - 1;
    EXPECT_EQ(aamsg_inspect_memory(file.data(), file.size(), &tooSmall, nullptr, nullptr), AAMSG_INVALID_ARGUMENT);
    EXPECT_EQ(aamsg_inspect_memory(file.data(), file.size(), nullptr, nullptr, nullptr), AAMSG_INVALID_ARGUMENT);
    aamsg_inspection result{};
    result.size = sizeof result;
    EXPECT_EQ(aamsg_inspect_memory(nullptr, 1, &result, nullptr, nullptr), AAMSG_INVALID_ARGUMENT);
    EXPECT_EQ(aamsg_inspect_memory(nullptr, 0, &result, nullptr, nullptr), AAMSG_OK);
    EXPECT_EQ(aamsg_inspect_file(nullptr, &result, nullptr, nullptr), AAMSG_INVALID_ARGUMENT);
}

std::string textOf(std::uint32_t finding, const aamsg_inspection* inspection) {
    std::string text(aamsg_finding_text(finding, inspection, nullptr, 0), '\0');
    aamsg_finding_text(finding, inspection, text.data(), text.size() + 1);
    return text;
}

// Every finding has a name, a threshold and words, and nothing else has; the words carry the
// inspection's numbers when given one, and a short buffer gets as much as fits, terminated.
TEST_F(Inspect, FindingsInWords) {
    const std::uint32_t known = 0x3FFu;
    std::set<std::string> names;
    for (std::uint32_t bit = 1; bit != 0; bit <<= 1) {
        const char* name = aamsg_finding_name(bit);
        const std::string generic = textOf(bit, nullptr);
        ASSERT_EQ(name != nullptr, (known & bit) != 0) << bit;
        EXPECT_EQ(generic.empty(), (known & bit) == 0) << bit;
        EXPECT_EQ(std::isnan(aamsg_finding_threshold(bit)), (known & bit) == 0 || bit == AAMSG_FINDING_NO_SPEECH) << bit;
        if (name == nullptr) continue;
        names.insert(name);
        // No line ends or semicolons (a batch's line joins lines with "; "), no directive left
        // unformatted.
        EXPECT_FALSE(std::regex_search(generic, std::regex("[\r\n;]|%[-+#0-9.]*[a-zA-Z%]"))) << name;
    }
    EXPECT_EQ(names.size(), 10u);
    EXPECT_EQ(aamsg_finding_name(AAMSG_FINDING_CLIPPED | AAMSG_FINDING_NOISY), nullptr);
    EXPECT_EQ(aamsg_finding_threshold(AAMSG_FINDING_TOO_QUIET), AAMSG_TOO_QUIET_DB);
    EXPECT_EQ(aamsg_finding_threshold(AAMSG_FINDING_CLIPPED), AAMSG_CLIP_RUN_SAMPLES);

    aamsg_inspection numbers{};
    numbers.size = sizeof numbers;
    numbers.level_db = -45.04;
    numbers.gain_db = 23.04;
    numbers.clipped_samples = 30658;
    numbers.clipped_places = 1;
    numbers.silence_start_seconds = 3.14;
    numbers.dc_offset = -0.0234;
    EXPECT_NE(textOf(AAMSG_FINDING_TOO_QUIET, &numbers).find("-45.0 dB, 23.0 dB under the telephone level of -22 dB"), std::string::npos);
    EXPECT_NE(textOf(AAMSG_FINDING_TOO_QUIET, &numbers).find("+23.0 dB"), std::string::npos);
    EXPECT_NE(textOf(AAMSG_FINDING_CLIPPED, &numbers).find("30658 samples in 1 place "), std::string::npos);
    EXPECT_NE(textOf(AAMSG_FINDING_SILENCE_START, &numbers).find("3.1 s"), std::string::npos);
    EXPECT_NE(textOf(AAMSG_FINDING_DC_OFFSET, &numbers).find("2.3%"), std::string::npos);
    EXPECT_NE(textOf(AAMSG_FINDING_TOO_QUIET, nullptr), textOf(AAMSG_FINDING_TOO_QUIET, &numbers));
    // A program from before the picture passes a struct that ends at `findings`: its numbers are
    // read all the same; one that ends before them is not read.
    aamsg_inspection older = numbers;
    older.size = offsetof(aamsg_inspection, findings) + sizeof older.findings;
    EXPECT_EQ(textOf(AAMSG_FINDING_TOO_QUIET, &older), textOf(AAMSG_FINDING_TOO_QUIET, &numbers));
    older.size = offsetof(aamsg_inspection, gain_db);
    EXPECT_EQ(textOf(AAMSG_FINDING_TOO_QUIET, &older), textOf(AAMSG_FINDING_TOO_QUIET, nullptr));
    for (std::uint32_t bit = 1; bit <= AAMSG_FINDING_LARGE_GAIN; bit <<= 1) EXPECT_EQ(textOf(bit, &numbers).find(';'), std::string::npos) << bit;

    char small[12];
    std::memset(small, 'x', sizeof small);
    const std::string whole = textOf(AAMSG_FINDING_NOISY, nullptr);
    EXPECT_EQ(aamsg_finding_text(AAMSG_FINDING_NOISY, nullptr, small, sizeof small), whole.size());
    EXPECT_EQ(std::string(small), whole.substr(0, sizeof small - 1));
    EXPECT_EQ(aamsg_finding_text(0, nullptr, small, sizeof small), 0u);
    EXPECT_STREQ(small, "");
}

// A conversion reports the findings about its input: those of an inspection, and the gain
// --level gave; the flat search, for music and tones, takes no steady sound for noise.
TEST_F(Inspect, ConversionsReportTheFindings) {
    using namespace aamsg::test;
    const Bytes faint = wave(1, 8000, 16, bursts(2.0, -50.0));
    const Bytes silent = wave(1, 8000, 16, std::vector<int>(8000, 0));
    std::vector<int> steady(16000);
    for (std::size_t i = 0; i < steady.size(); ++i) steady[i] = static_cast<int>(std::lround(8000.0 * std::sin(2 * std::numbers::pi * 440.0 * static_cast<double>(i) / 8000)));
    const Bytes tone = wave(1, 8000, 16, steady);
    struct Row {
        const char* name;
        const Bytes* input;
        Choices choices;
        std::uint32_t findings;
    };
    const Row rows[] = {
        {"faint", &faint, {AAMSG_MODE_BEST}, AAMSG_FINDING_TOO_QUIET},
        {"faint levelled", &faint, {AAMSG_MODE_BEST, true, -22.0}, AAMSG_FINDING_TOO_QUIET | AAMSG_FINDING_LARGE_GAIN},
        {"faint levelled a little", &faint, {AAMSG_MODE_BEST, true, -40.0, true}, AAMSG_FINDING_TOO_QUIET},
        {"silent", &silent, {AAMSG_MODE_BEST, false, 0.0, true}, AAMSG_FINDING_NO_SPEECH},
        {"tone", &tone, {AAMSG_MODE_BEST}, AAMSG_FINDING_NOISE_ONLY},
        {"tone, flat", &tone, {AAMSG_MODE_BEST, false, 0.0, false, true}, 0},
        {"tone, flat, 2 threads", &tone, {AAMSG_MODE_BEST, false, 0.0, false, true, 2}, 0},
        {"e", &faint, {AAMSG_MODE_ENCODE}, 0},
    };
    for (const Row& row : rows) {
        const Options options = makeOptions(row.choices);
        const Converted run = convertMemory(*row.input, options.get());
        ASSERT_EQ(run.status, AAMSG_OK) << row.name;
        EXPECT_EQ(run.report.findings, row.findings) << row.name;
        if (row.choices.mode == AAMSG_MODE_BEST && !row.choices.flat) {
            EXPECT_EQ(run.report.findings & ~AAMSG_FINDING_LARGE_GAIN, inspectMemory(*row.input).result.findings) << row.name;
        }
    }
}

}  // namespace
