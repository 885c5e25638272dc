// The library as a program that links it sees it, through include/aamsg.h alone: statuses from
// files that cause them, the options' checks, the same bytes by memory, by file and from the
// command line, progress and cancelling, the report as far as its caller knows it, UTF-8
// names, and two conversions at once.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "aamsg.h"
#include "api_support.hpp"
#include "wave_builder.hpp"

namespace {

namespace fs = std::filesystem;
using aamsg::test::Bytes;
using namespace aamsg::api_test;

const fs::path kSample = fs::path(AAMSG_SAMPLE_DIR) / "thank-you.wav";
const fs::path kSampleMessage = fs::path(AAMSG_TEST_DATA) / "thank-you.msg";

// A scratch directory of the test's own, removed after it.
class Api : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / (std::string("aamsg_api_") + info->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path write(const std::string& name, const Bytes& bytes) const {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    fs::path dir;
};

// The command line's arguments for the same options, to compare its bytes with the library's.
struct Case {
    const char* name;
    std::vector<std::string> arguments;  // the mode, then q's options
    Choices choices;
};

const Case kCases[] = {
    {"encode", {"e"}, {AAMSG_MODE_ENCODE}},
    {"decode", {"d"}, {AAMSG_MODE_DECODE}},
    {"best", {"q"}, {AAMSG_MODE_BEST}},
    {"best_level_trim", {"q", "--level=-18", "--trim"}, {AAMSG_MODE_BEST, true, -18.0, true}},
    {"best_flat", {"q", "--flat"}, {AAMSG_MODE_BEST, false, 0.0, false, true}},
};

std::string quoted(const fs::path& path) {
    std::string text(1, '"');
    text.append(path.string()).push_back('"');
    return text;
}

TEST_F(Api, VersionAndStatusWords) {
    EXPECT_STREQ(aamsg_version(), AAMSG_VERSION_STRING);
    for (int s = AAMSG_OK; s <= AAMSG_NO_AUDIO_STREAM + 1; ++s) {
        const char* text = aamsg_status_text(static_cast<aamsg_status>(s));
        ASSERT_NE(text, nullptr);
        EXPECT_GT(std::strlen(text), 0u);
    }
}

TEST_F(Api, OptionsAreCheckedWhereTheyAreSet) {
    const Options options = makeOptions({});
    struct Level {
        int enabled;
        double db;
        aamsg_status expected;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Level levels[] = {
        {1, AAMSG_MIN_LEVEL_DB, AAMSG_OK},     {1, AAMSG_MAX_LEVEL_DB, AAMSG_OK},
        {1, AAMSG_MIN_LEVEL_DB - 0.01, AAMSG_INVALID_ARGUMENT}, {1, AAMSG_MAX_LEVEL_DB + 0.01, AAMSG_INVALID_ARGUMENT},
        {1, nan, AAMSG_INVALID_ARGUMENT},      {1, -inf, AAMSG_INVALID_ARGUMENT},
        {0, nan, AAMSG_OK},                    {0, 100.0, AAMSG_OK},
    };
    for (const Level& l : levels) {
        EXPECT_EQ(aamsg_options_set_level(options.get(), l.enabled, l.db), l.expected) << l.enabled << " " << l.db;
    }
    EXPECT_EQ(aamsg_options_set_mode(options.get(), static_cast<aamsg_mode>('x')), AAMSG_INVALID_ARGUMENT);
    EXPECT_EQ(aamsg_options_set_mode(options.get(), AAMSG_MODE_DECODE), AAMSG_OK);

    EXPECT_EQ(aamsg_options_set_mode(nullptr, AAMSG_MODE_BEST), AAMSG_INVALID_ARGUMENT);
    EXPECT_EQ(aamsg_options_set_level(nullptr, 0, 0.0), AAMSG_INVALID_ARGUMENT);
    EXPECT_EQ(aamsg_options_set_trim(nullptr, 1), AAMSG_INVALID_ARGUMENT);
    EXPECT_EQ(aamsg_options_set_flat(nullptr, 1), AAMSG_INVALID_ARGUMENT);
    EXPECT_EQ(aamsg_options_set_threads(nullptr, 1), AAMSG_INVALID_ARGUMENT);
    aamsg_options_free(nullptr);

    const Bytes input = readBytes(kSample);
    void* output = reinterpret_cast<void*>(1);
    std::size_t size = 1;
    EXPECT_EQ(aamsg_convert_memory(input.data(), input.size(), nullptr, &size, nullptr, nullptr, nullptr, nullptr),
              AAMSG_INVALID_ARGUMENT);
    EXPECT_EQ(aamsg_convert_memory(input.data(), input.size(), &output, nullptr, nullptr, nullptr, nullptr, nullptr),
              AAMSG_INVALID_ARGUMENT);
    EXPECT_EQ(aamsg_convert_memory(nullptr, 1, &output, &size, nullptr, nullptr, nullptr, nullptr), AAMSG_INVALID_ARGUMENT);
    EXPECT_EQ(output, nullptr);
    EXPECT_EQ(size, 0u);
    aamsg_report tooSmall{};
    tooSmall.size = sizeof tooSmall.size - 1;
    EXPECT_EQ(aamsg_convert_memory(input.data(), input.size(), &output, &size, nullptr, nullptr, nullptr, &tooSmall),
              AAMSG_INVALID_ARGUMENT);
    const std::string name = (dir / "out.msg").string();
    EXPECT_EQ(aamsg_convert_file(nullptr, name.c_str(), nullptr, nullptr, nullptr, nullptr), AAMSG_INVALID_ARGUMENT);
    EXPECT_EQ(aamsg_convert_file(kSample.string().c_str(), nullptr, nullptr, nullptr, nullptr, nullptr),
              AAMSG_INVALID_ARGUMENT);
    EXPECT_FALSE(fs::exists(name));
}

TEST_F(Api, EachStatusFromAFileThatCausesIt) {
    using namespace aamsg::test;
    const Bytes tone = wave(1, 8000, 16, std::vector<int>(800, 1000));
    Bytes cut = tone;
    cut.resize(cut.size() - 100);
    const Bytes floats = riff({{"fmt ", fmtBody(3, 1, 8000, 4, 32)}, {"data", Bytes(400, 0)}});
    const Bytes text = {'n', 'o', ' ', 'a', 'u', 'd', 'i', 'o', ' ', 'h', 'e', 'r', 'e'};
    enum class Output { kNew, kNoDirectory, kInput, kFull };
    struct Row {
        const char* name;
        aamsg_mode mode;
        const Bytes* input;  // null: no such file
        Output output;
        aamsg_status expected;
    };
    const Row rows[] = {
        {"ok", AAMSG_MODE_ENCODE, &tone, Output::kNew, AAMSG_OK},
        {"missing_input", AAMSG_MODE_ENCODE, nullptr, Output::kNew, AAMSG_CANNOT_OPEN_INPUT},
        {"output_in_no_directory", AAMSG_MODE_ENCODE, &tone, Output::kNoDirectory, AAMSG_CANNOT_OPEN_OUTPUT},
        {"output_is_input", AAMSG_MODE_BEST, &tone, Output::kInput, AAMSG_OUTPUT_IS_INPUT},
        {"e_not_riff_wave", AAMSG_MODE_ENCODE, &text, Output::kNew, AAMSG_NOT_AUDIO},
        {"q_not_audio", AAMSG_MODE_BEST, &text, Output::kNew, AAMSG_NOT_AUDIO},
        {"e_float_wave", AAMSG_MODE_ENCODE, &floats, Output::kNew, AAMSG_NOT_PCM_WAVE},
        {"e_cut_short", AAMSG_MODE_ENCODE, &cut, Output::kNew, AAMSG_CORRUPTED},
        {"q_cut_short", AAMSG_MODE_BEST, &cut, Output::kNew, AAMSG_CORRUPTED},
#ifndef _WIN32
        {"disk_full", AAMSG_MODE_DECODE, &text, Output::kFull, AAMSG_WRITE_FAILED},
#endif
    };
    for (const Row& row : rows) {
        const fs::path input = row.input != nullptr ? write(std::string(row.name) + ".in", *row.input) : dir / "none.wav";
        const fs::path output = row.output == Output::kNew           ? dir / (std::string(row.name) + ".out")
                                : row.output == Output::kNoDirectory ? dir / "none" / "out.msg"
                                : row.output == Output::kInput       ? dir / "." / input.filename()
                                                                     : fs::path("/dev/full");
        const Options options = makeOptions({row.mode});
        const Converted file = convertFile(input, output, options.get());
        EXPECT_EQ(file.status, row.expected) << row.name;
        if (row.output == Output::kInput) {
            EXPECT_EQ(readBytes(input), *row.input) << row.name;
        }
        if (row.input == nullptr || row.output != Output::kNew) continue;
        // In memory the same, and the same bytes before the failure.
        const Converted memory = convertMemory(*row.input, options.get());
        EXPECT_EQ(memory.status, row.expected) << row.name;
        EXPECT_EQ(memory.output, readBytes(output)) << row.name;
    }
}

TEST_F(Api, MemoryFileAndCommandLineGiveTheSameBytes) {
    const Bytes wave = readBytes(kSample);
    const Bytes message = readBytes(kSampleMessage);
    const std::string command = AAMSG_COMMAND;
    for (const Case& c : kCases) {
        const bool decode = c.choices.mode == AAMSG_MODE_DECODE;
        const fs::path input = decode ? kSampleMessage : kSample;
        const Options options = makeOptions(c.choices);
        const Converted memory = convertMemory(decode ? message : wave, options.get());
        const Converted file = convertFile(input, dir / (std::string(c.name) + ".lib"), options.get());
        ASSERT_EQ(memory.status, AAMSG_OK) << c.name;
        ASSERT_EQ(file.status, AAMSG_OK) << c.name;
        EXPECT_FALSE(memory.output.empty()) << c.name;
        EXPECT_EQ(memory.output, file.output) << c.name;
        EXPECT_EQ(std::memcmp(&memory.report, &file.report, offsetof(aamsg_report, level_before_db)), 0) << c.name;
        if (c.choices.mode == AAMSG_MODE_ENCODE) {
            EXPECT_EQ(memory.output, message);
        }
        if (command.empty()) continue;  // a cross build: the host's end-to-end tests run its tool
        const fs::path fromTool = dir / (std::string(c.name) + ".tool");
        std::string line = command;
        for (const std::string& word : c.arguments) line.append(" ").append(word);
        line.append(" ").append(quoted(input)).append(" ").append(quoted(fromTool));
        line.append(" >").append(quoted(dir / "console.txt"));
        ASSERT_EQ(std::system(line.c_str()), 0) << line;
        EXPECT_EQ(memory.output, readBytes(fromTool)) << c.name;
    }
}

TEST_F(Api, ProgressMarksInOrderAndCancelAtAPercent) {
    const Bytes wave = readBytes(kSample);
    std::vector<int> all(101);
    for (int p = 0; p <= 100; ++p) all[static_cast<std::size_t>(p)] = p;
    for (const unsigned threads : {1u, 4u}) {
        for (const Case& c : kCases) {
            if (c.choices.mode == AAMSG_MODE_DECODE) continue;
            Choices choices = c.choices;
            choices.threads = threads;
            const Options options = makeOptions(choices);
            const Converted whole = convertMemory(wave, options.get());
            EXPECT_EQ(whole.marks, all) << c.name << " threads " << threads;
            EXPECT_EQ(whole.report.finished, 1) << c.name;

            const Converted cancelled = convertMemory(wave, options.get(), 37);
            EXPECT_EQ(cancelled.status, AAMSG_CANCELLED) << c.name << " threads " << threads;
            EXPECT_EQ(cancelled.marks, std::vector<int>(all.begin(), all.begin() + 38)) << c.name;
            EXPECT_EQ(cancelled.report.finished, 0) << c.name;
            EXPECT_LT(cancelled.output.size(), whole.output.size()) << c.name;
        }
    }
    // Told at once, before anything is converted.
    const Options options = makeOptions({AAMSG_MODE_BEST});
    const Converted atOnce = convertFile(kSample, dir / "cancelled.msg", options.get(), 0);
    EXPECT_EQ(atOnce.status, AAMSG_CANCELLED);
    EXPECT_EQ(atOnce.marks, std::vector<int>{0});
}

TEST_F(Api, ReportSaysWhatWasDone) {
    const Bytes wave = readBytes(kSample);
    const Options levelled = makeOptions({AAMSG_MODE_BEST, true, -18.0, true});
    const Converted speech = convertMemory(wave, levelled.get());
    ASSERT_EQ(speech.status, AAMSG_OK);
    const aamsg_report& r = speech.report;
    EXPECT_EQ(r.size, sizeof(aamsg_report));
    EXPECT_EQ(r.finished, 1);
    EXPECT_EQ(r.samples, 2 * speech.output.size());
    EXPECT_EQ(r.seconds, 4u);  // the input's length, as the console's "Total time" shows it
    EXPECT_EQ(r.level_measured, 1);
    EXPECT_EQ(r.speech_found, 1);
    EXPECT_NEAR(r.level_after_db, -18.0, 0.5);
    EXPECT_NEAR(r.level_before_db + r.gain_db, -18.0, 0.5);
    EXPECT_GT(r.trimmed_start_seconds + r.trimmed_end_seconds, 0.0);
    EXPECT_EQ(r.not_numbers, 0u);

    const Converted silence = convertMemory(aamsg::test::wave(1, 8000, 16, std::vector<int>(16000, 0)), levelled.get());
    EXPECT_EQ(silence.status, AAMSG_OK);
    EXPECT_EQ(silence.report.level_measured, 1);
    EXPECT_EQ(silence.report.speech_found, 0);
    EXPECT_EQ(silence.report.seconds, 2u);

    const Options decode = makeOptions({AAMSG_MODE_DECODE});
    const Converted decoded = convertMemory(readBytes(kSampleMessage), decode.get());
    EXPECT_EQ(decoded.report.seconds, readBytes(kSampleMessage).size() * 2 / 8000);
    EXPECT_EQ(decoded.report.samples, 0u);
}

// A program built against an older header passes a shorter report: nothing past it is written.
TEST_F(Api, ShorterReportFilledOnlyAsFarAsItsSize) {
    const Options options = makeOptions({AAMSG_MODE_BEST, true, -18.0});
    const Bytes wave = readBytes(kSample);
    const Converted full = convertMemory(wave, options.get());
    constexpr std::size_t kOlder = offsetof(aamsg_report, not_numbers);
    struct Guarded {
        aamsg_report report;
        unsigned char after[16];
    } guarded;
    std::memset(&guarded, 0xA5, sizeof guarded);
    guarded.report.size = kOlder;
    void* output = nullptr;
    std::size_t size = 0;
    ASSERT_EQ(aamsg_convert_memory(wave.data(), wave.size(), &output, &size, options.get(), nullptr, nullptr, &guarded.report),
              AAMSG_OK);
    aamsg_free(output);
    EXPECT_EQ(guarded.report.size, kOlder);
    EXPECT_EQ(guarded.report.samples, full.report.samples);
    EXPECT_EQ(guarded.report.clipped, full.report.clipped);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&guarded);
    for (std::size_t i = kOlder; i < sizeof guarded; ++i) ASSERT_EQ(bytes[i], 0xA5) << "byte " << i;
}

TEST_F(Api, NamesInAnyLanguage) {
    const fs::path input = dir / fs::path(u8"Grüße, Привет, 你好.wav");
    const fs::path output = dir / fs::path(u8"メッセージ é.msg");
    fs::copy_file(kSample, input);
    const Options options = makeOptions({AAMSG_MODE_ENCODE});
    const std::u8string in = input.u8string();
    const std::u8string out = output.u8string();
    ASSERT_EQ(aamsg_convert_file(reinterpret_cast<const char*>(in.c_str()), reinterpret_cast<const char*>(out.c_str()),
                                 options.get(), nullptr, nullptr, nullptr),
              AAMSG_OK);
    EXPECT_EQ(readBytes(output), readBytes(kSampleMessage));
    // The same name given again as the output is the input, in any spelling of it.
    EXPECT_EQ(aamsg_convert_file(reinterpret_cast<const char*>(in.c_str()), reinterpret_cast<const char*>(in.c_str()),
                                 options.get(), nullptr, nullptr, nullptr),
              AAMSG_OUTPUT_IS_INPUT);
}

// Two conversions at once share nothing: each gives the bytes it gives alone.
TEST_F(Api, TwoConversionsOnTwoThreadsAtOnce) {
    const Bytes wave = readBytes(kSample);
    const Options levelled = makeOptions({AAMSG_MODE_BEST, true, -18.0, true, false, 2});
    const Options flat = makeOptions({AAMSG_MODE_BEST, false, 0.0, false, true, 2});
    const Converted aloneA = convertMemory(wave, levelled.get());
    const Converted aloneB = convertMemory(wave, flat.get());
    ASSERT_NE(aloneA.output, aloneB.output);
    Converted a;
    Converted b;
    std::thread first([&] { a = convertMemory(wave, levelled.get()); });
    std::thread second([&] { b = convertFile(kSample, dir / "b.msg", flat.get()); });
    first.join();
    second.join();
    EXPECT_EQ(a.status, AAMSG_OK);
    EXPECT_EQ(b.status, AAMSG_OK);
    EXPECT_EQ(a.output, aloneA.output);
    EXPECT_EQ(b.output, aloneB.output);
    EXPECT_EQ(a.marks, aloneA.marks);
    EXPECT_EQ(b.marks, aloneB.marks);
}

}  // namespace
