// The library as a program that links it sees it, through include/aamsg.h alone: statuses from
// files that cause them, the options' checks, the same bytes by memory, by file and from the
// command line, progress and cancelling, the report as far as its caller knows it, UTF-8
// names, and two conversions at once.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#endif

#include <algorithm>
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

// The test program's own nothrow new, which the library's options reach: it fails when asked
// to, as it would when memory runs out.
namespace {
bool failNothrowNew = false;
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (failNothrowNew) return nullptr;
    try {
        return ::operator new(size);  // so that delete frees it, as the sanitizers check
    } catch (...) {
        return nullptr;
    }
}

namespace {

namespace fs = std::filesystem;
using aamsg::test::Bytes;
using namespace aamsg::api_test;

using Api = ScratchDir;

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
    const unsigned number = aamsg_version_number();
    EXPECT_EQ(number, static_cast<unsigned>(AAMSG_VERSION_NUMBER));
    EXPECT_EQ(std::to_string(number >> 16) + "." + std::to_string(number >> 8 & 255) + "." + std::to_string(number & 255), aamsg_version());
    for (int s = AAMSG_OK; s <= AAMSG_NO_AUDIO_STREAM + 1; ++s) {
        const char* text = aamsg_status_text(static_cast<aamsg_status>(s));
        ASSERT_NE(text, nullptr);
        EXPECT_GT(std::strlen(text), 0u);
    }
}

// The command line's exit codes and closing messages, which the page and other programs that
// stand in for the tool take from the library: names put in as they are, the message cut to the
// buffer but its whole length returned.
TEST_F(Api, TheCommandLinesWordsForEachStatus) {
    struct Row {
        aamsg_status status;
        aamsg_mode mode;
        int code;
        const char* message;
    };
    const Row rows[] = {
        {AAMSG_OK, AAMSG_MODE_BEST, 0, "OK\r\n\n"},
        {AAMSG_CANNOT_OPEN_INPUT, AAMSG_MODE_ENCODE, 102, "Cannot open infile in 100%s.wav\n"},
        {AAMSG_OUTPUT_IS_INPUT, AAMSG_MODE_DECODE, 103, "Cannot open outfile out.msg: it is the infile\n"},
        {AAMSG_WRITE_FAILED, AAMSG_MODE_DECODE, 104, "Cannot write outfile out.msg\n"},
        {AAMSG_NOT_AUDIO, AAMSG_MODE_ENCODE, 201, "in 100%s.wav should be a RIFF WAVE file\r\n"},
        {AAMSG_NOT_AUDIO, AAMSG_MODE_BEST, 201, "in 100%s.wav should be an audio file: WAVE, AIFF, FLAC, MP3, M4A, Ogg, Opus, WebM, WMA, AMR or AC-3\r\n"},
        {AAMSG_CORRUPTED, AAMSG_MODE_BEST, 203, "in 100%s.wav is corrupted\r\n"},
        {AAMSG_TOO_LONG, AAMSG_MODE_DECODE, 204, "in 100%s.wav is too long for a WAVE file\r\n"},
        {AAMSG_NO_AUDIO_STREAM, AAMSG_MODE_BEST, 205, "in 100%s.wav has no audio track\r\n"},
        {AAMSG_CANCELLED, AAMSG_MODE_BEST, 106, "\r\nInternal error\n"},
        {AAMSG_INVALID_ARGUMENT, AAMSG_MODE_BEST, 101, ""},
        {static_cast<aamsg_status>(AAMSG_NO_AUDIO_STREAM + 1), AAMSG_MODE_BEST, 106, "\r\nInternal error\n"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(aamsg_exit_code(row.status), row.code) << row.message;
        char buffer[128];
        EXPECT_EQ(aamsg_console_message(row.status, row.mode, "in 100%s.wav", "out.msg", buffer, sizeof buffer), std::strlen(row.message));
        EXPECT_STREQ(buffer, row.message);
        char shortBuffer[6];
        EXPECT_EQ(aamsg_console_message(row.status, row.mode, "in 100%s.wav", "out.msg", shortBuffer, sizeof shortBuffer),
                  std::strlen(row.message));
        EXPECT_EQ(std::string(shortBuffer), std::string(row.message).substr(0, 5));
    }
    EXPECT_EQ(aamsg_console_message(AAMSG_CORRUPTED, AAMSG_MODE_ENCODE, "x", "y", nullptr, 0), std::strlen("x is corrupted\r\n"));
}

// Options that could not be made never pass for the defaults: every call refuses them.
TEST_F(Api, OptionsThatCouldNotBeMade) {
    failNothrowNew = true;
    aamsg_options* options = aamsg_options_new();
    failNothrowNew = false;
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(aamsg_options_set_mode(options, AAMSG_MODE_ENCODE), AAMSG_OUT_OF_MEMORY);
    EXPECT_EQ(aamsg_options_set_level(options, 1, -20.0), AAMSG_OUT_OF_MEMORY);
    EXPECT_EQ(aamsg_options_set_threads(options, 2), AAMSG_OUT_OF_MEMORY);
    const Bytes wave = readBytes(kSample);
    const Converted run = convertMemory(wave, options);
    EXPECT_EQ(run.status, AAMSG_OUT_OF_MEMORY);
    EXPECT_TRUE(run.output.empty());
    EXPECT_STREQ(run.report.detail, "the options could not be made: memory ran out");
    EXPECT_EQ(convertFile(kSample, dir / "out.msg", options).status, AAMSG_OUT_OF_MEMORY);
    EXPECT_FALSE(fs::exists(dir / "out.msg"));
    aamsg_options_free(options);
    aamsg_options_free(options);  // nothing to free, however often
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

// A program built against a newer header passes a longer report: what this library does not
// know of is zeroed, as far as the program's size says, and no further.
TEST_F(Api, LongerReportZeroedBeyondWhatTheLibraryKnows) {
    struct Newer {
        aamsg_report report;
        unsigned char newer[24];
        unsigned char after[8];
    } newer;
    std::memset(&newer, 0xA5, sizeof newer);
    newer.report.size = offsetof(Newer, after);
    const Bytes wave = readBytes(kSample);
    void* output = nullptr;
    std::size_t size = 0;
    ASSERT_EQ(aamsg_convert_memory(wave.data(), wave.size(), &output, &size, nullptr, nullptr, nullptr, &newer.report), AAMSG_OK);
    aamsg_free(output);
    EXPECT_EQ(newer.report.size, offsetof(Newer, after));
    EXPECT_EQ(newer.report.finished, 1);
    EXPECT_STREQ(newer.report.detail, "");
    for (const unsigned char byte : newer.newer) EXPECT_EQ(byte, 0);
    for (const unsigned char byte : newer.after) EXPECT_EQ(byte, 0xA5);
}

// The files of a folder, but for `but`.
std::vector<std::string> filesIn(const fs::path& dir, const std::string& but = "") {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().filename() != but) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// An output is replaced only by a whole message (or by all a cut input held): after any other
// failure, and after a cancel, the file that was there is as it was, or there is none, and no
// temporary file is left beside it.
TEST_F(Api, OutputsAreNeverLost) {
    using namespace aamsg::test;
    const Bytes tone = wave(1, 8000, 16, std::vector<int>(8000, 1000));
    Bytes cut = tone;
    cut.resize(cut.size() - 5000);
    const Bytes text = {'n', 'o', 't', 'e', 's'};
    const Bytes old(321, 0x77);
    struct Row {
        const char* name;
        aamsg_mode mode;
        const Bytes* input;
        bool existing;  // the output had a file before
        int cancelAt;
        aamsg_status expected;
    };
    const Row rows[] = {
        {"e of a text file", AAMSG_MODE_ENCODE, &text, true, -1, AAMSG_NOT_AUDIO},
        {"q of a text file", AAMSG_MODE_BEST, &text, true, -1, AAMSG_NOT_AUDIO},
        {"q cancelled", AAMSG_MODE_BEST, &tone, true, 50, AAMSG_CANCELLED},
        {"q cancelled, no file before", AAMSG_MODE_BEST, &tone, false, 50, AAMSG_CANCELLED},
        {"e cancelled", AAMSG_MODE_ENCODE, &tone, true, 50, AAMSG_CANCELLED},
        {"e of a cut file", AAMSG_MODE_ENCODE, &cut, true, -1, AAMSG_CORRUPTED},
        {"q of a cut file", AAMSG_MODE_BEST, &cut, true, -1, AAMSG_CORRUPTED},
        {"e", AAMSG_MODE_ENCODE, &tone, true, -1, AAMSG_OK},
    };
    for (const Row& row : rows) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        const fs::path input = write("in.wav", *row.input);
        const fs::path output = dir / "out.msg";
        if (row.existing) write("out.msg", old);
        const Options options = makeOptions({row.mode});
        const Converted run = convertFile(input, output, options.get(), row.cancelAt);
        EXPECT_EQ(run.status, row.expected) << row.name;
        const bool replaced = row.expected == AAMSG_OK || row.expected == AAMSG_CORRUPTED;
        if (replaced) {
            EXPECT_EQ(readBytes(output), convertMemory(*row.input, options.get()).output) << row.name;
            EXPECT_FALSE(readBytes(output).empty()) << row.name;
        } else if (row.existing) {
            EXPECT_EQ(readBytes(output), old) << row.name;
        }
        EXPECT_EQ(filesIn(dir), (row.existing || replaced ? std::vector<std::string>{"in.wav", "out.msg"}
                                                           : std::vector<std::string>{"in.wav"}))
            << row.name;
    }
}

#ifndef _WIN32
// The file replaced keeps its permissions; a symbolic link stays a link, and its file is replaced.
TEST_F(Api, ReplacedFilesKeepTheirPermissionsAndLinks) {
    const Options options = makeOptions({AAMSG_MODE_ENCODE});
    const fs::path output = write("out.msg", Bytes(10, 1));
    fs::permissions(output, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_EQ(convertFile(kSample, output, options.get()).status, AAMSG_OK);
    EXPECT_EQ(readBytes(output), readBytes(kSampleMessage));
    EXPECT_EQ(fs::status(output).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    fs::create_directory(dir / "elsewhere");
    const fs::path target = write("elsewhere/target.msg", Bytes(10, 2));
    fs::create_symlink("elsewhere/target.msg", dir / "link.msg");
    ASSERT_EQ(convertFile(kSample, dir / "link.msg", options.get()).status, AAMSG_OK);
    EXPECT_TRUE(fs::is_symlink(dir / "link.msg"));
    EXPECT_EQ(readBytes(target), readBytes(kSampleMessage));
    EXPECT_EQ(filesIn(dir / "elsewhere"), std::vector<std::string>{"target.msg"});
}

// A disk that fills up (here, the process's limit on the size of a file): the conversion fails
// with the system's words, and the file that was there is as it was.
TEST_F(Api, FullDiskLeavesTheOldFile) {
    const Bytes message(300000, 0x3C);
    const fs::path input = write("in.msg", message);
    const Bytes old(4000, 0x11);
    const fs::path output = write("out.wav", old);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 100000;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const Converted run = convertFile(input, output, makeOptions({AAMSG_MODE_DECODE}).get());
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(run.status, AAMSG_WRITE_FAILED);
    EXPECT_STREQ(run.report.detail, "writing the output failed: File too large");
    EXPECT_EQ(readBytes(output), old);
    EXPECT_EQ(filesIn(dir), (std::vector<std::string>{"in.msg", "out.wav"}));
}
#endif

// Each failure says what exactly was wrong.
TEST_F(Api, TheReportSaysWhatWasWrong) {
    using namespace aamsg::test;
    const Bytes slow = wave(1, 50, 16, std::vector<int>(500, 1000));
    const Bytes extensible = riff({{"fmt ", fmtBody(0xFFFE, 1, 48000, 3, 24, 24)}, {"data", Bytes(300, 0)}});
    const Bytes floats = riff({{"fmt ", fmtBody(3, 1, 8000, 4, 32)}, {"data", Bytes(400, 0)}});
    const Bytes wide = riff({{"fmt ", fmtBody(1, 1, 48000, 3, 24)}, {"data", Bytes(300, 0)}});
    const Bytes text = {'n', 'o', 't', 'e', 's', '.', '.', '.', '.', '.', '.', '.', '.'};
    Bytes cut = wave(1, 8000, 16, std::vector<int>(800, 1000));
    cut.resize(cut.size() - 100);
    const char* eReads = "e reads 8- and 16-bit PCM, mono or stereo, and 32-bit mono";
    struct Row {
        aamsg_mode mode;
        const Bytes* input;
        aamsg_status status;
        std::string detail;
    };
    const Row rows[] = {
        {AAMSG_MODE_BEST, &slow, AAMSG_CORRUPTED, "the rate is 50 Hz; aamsg reads 100 Hz to 1536 kHz"},
        {AAMSG_MODE_ENCODE, &extensible, AAMSG_NOT_PCM_WAVE, std::string("a 24-bit WAVE_FORMAT_EXTENSIBLE WAVE file: ") + eReads},
        {AAMSG_MODE_ENCODE, &floats, AAMSG_NOT_PCM_WAVE, std::string("a 32-bit floating-point WAVE file: ") + eReads},
        {AAMSG_MODE_ENCODE, &wide, AAMSG_CORRUPTED, std::string("its frames are 3 bytes (1 channel of 24 bits): ") + eReads},
        {AAMSG_MODE_ENCODE, &text, AAMSG_NOT_AUDIO, "it does not start with a RIFF WAVE header"},
        {AAMSG_MODE_ENCODE, &cut, AAMSG_CORRUPTED, "its samples end before the 800 frames its \"data\" chunk declares"},
        {AAMSG_MODE_DECODE, &text, AAMSG_OK, ""},
    };
    for (const Row& row : rows) {
        const Converted run = convertMemory(*row.input, makeOptions({row.mode}).get());
        EXPECT_EQ(run.status, row.status) << row.detail;
        EXPECT_EQ(run.report.detail, row.detail);
    }
    const Converted cancelled = convertMemory(readBytes(kSample), makeOptions({AAMSG_MODE_ENCODE}).get(), 37);
    EXPECT_STREQ(cancelled.report.detail, "the progress callback asked to stop at 37%");
    // No failure is left without words: the status's own, where nothing more is known.
    const Converted missing = convertFile(dir / "missing.wav", dir / "out.msg", nullptr);
    EXPECT_EQ(missing.status, AAMSG_CANNOT_OPEN_INPUT);
    EXPECT_GT(std::strlen(missing.report.detail), 0u);
#ifndef _WIN32
    EXPECT_STREQ(missing.report.detail, "No such file or directory");
#endif
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
