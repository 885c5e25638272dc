// End to end: runs the built command on files made here and compares console bytes, exit
// codes and output bytes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <algorithm>
#include <cmath>
#include <random>
#include <regex>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "codec/adpcm.hpp"
#include "prompt/prompt.hpp"
#include "support.hpp"
#include "wave_builder.hpp"

namespace aamsg {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::progressLine;
using test::readFile;

const std::string kBanner = "WAVE to KORAM Auto Attendant Message encoder/decoder (c) the aamsg developers\r\n";

struct Result {
    int exitCode = -1;
    std::string console;
    long peakKb = 0;  // the run's peak resident memory
};

std::vector<std::string> splitWords(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

// The command that runs the tool: the build's, or AAMSG_COMMAND from the environment, which
// may put a runner in front of it (valgrind, an emulator).
std::vector<std::string> toolCommand() {
    const char* fromEnvironment = std::getenv("AAMSG_COMMAND");
    return splitWords(fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment : AAMSG_COMMAND);
}

bool runsDirectly() { return toolCommand().size() == 1; }

bool runsUnderWine() { return fs::path(toolCommand().front()).filename().string().rfind("wine", 0) == 0; }

// A UTF-8 name as the tool prints it: unchanged on Linux; on Windows as its narrow argv holds
// it, in the ANSI code page (1252 under Wine here), where other letters become '?'.
std::string shown(const std::string& name) {
    if (!runsUnderWine()) return name;
    std::string narrow;
    for (std::size_t i = 0; i < name.size();) {
        const auto lead = static_cast<unsigned char>(name[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        unsigned code = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t k = 1; k < length; ++k) code = code << 6 | (static_cast<unsigned char>(name[i + k]) & 0x3Fu);
        narrow.push_back(code < 0x80 || (code >= 0xA0 && code < 0x100) ? static_cast<char>(code) : '?');
        i += length;
    }
    return narrow;
}

// How a run of the tool is set up beyond its arguments.
struct RunSetup {
    std::string programName;          // replaces argv[0] when the tool runs directly
    int uid = -1;                     // >= 0: run as that user (from root)
    const Bytes* input = nullptr;     // its standard input; none: /dev/null
    bool keepInputOpen = false;       // standard input a pipe the test holds open, writing nothing
    long long fileSizeLimit = -1;     // >= 0: no file it writes may grow past this (a full disk)
    std::string libraryPath;          // LD_LIBRARY_PATH for it
    std::vector<std::string> command; // the command to run instead of the usual one (toolCommand)
};

// A started run: its process, and the read ends of its standard output and error.
struct Started {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
    int in = -1;  // the write end of its standard input, when the test holds it
};

Started start(const std::vector<std::string>& args, const RunSetup& setup = {}) {
    std::vector<std::string> words = setup.command.empty() ? toolCommand() : setup.command;
    const std::string executable = words.front();
    if (!setup.programName.empty() && words.size() == 1) words.front() = setup.programName;
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    int out[2];
    int err[2];
    int in[2] = {-1, -1};
    if (pipe(out) != 0 || pipe(err) != 0) return {};
    if ((setup.input != nullptr || setup.keepInputOpen) && pipe(in) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (in[0] >= 0) {
            dup2(in[0], 0);
        } else {
            dup2(open("/dev/null", O_RDONLY), 0);
        }
        for (const int fd : {out[0], out[1], err[0], err[1], in[0], in[1]}) {
            if (fd > 2) close(fd);
        }
        if (setup.fileSizeLimit >= 0) {
            const rlimit limit{static_cast<rlim_t>(setup.fileSizeLimit), static_cast<rlim_t>(setup.fileSizeLimit)};
            signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails, as on a full disk
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(125);
        }
        if (!setup.libraryPath.empty()) setenv("LD_LIBRARY_PATH", setup.libraryPath.c_str(), 1);
        if (setup.uid >= 0 && (setgid(static_cast<gid_t>(setup.uid)) != 0 || setuid(static_cast<uid_t>(setup.uid)) != 0)) _exit(126);
        execv(executable.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (in[0] >= 0) close(in[0]);
    return {pid, out[0], err[0], in[1]};
}

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    return text;
}

// The exit code, or 1000 plus the signal that ended it; its peak resident memory in `peakKb`.
int waitFor(pid_t pid, long* peakKb = nullptr) {
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (peakKb != nullptr) *peakKb = usage.ru_maxrss;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

struct Output {
    int exitCode = -1;
    std::string out;
    std::string err;
    long peakKb = 0;  // the run's peak resident memory
};

// Runs the tool to its end: standard input written, standard output and error read, at once.
Output finish(Started started, const RunSetup& setup) {
    Output result;
    if (started.pid < 0) return result;
    std::thread writer([&] {
        if (started.in < 0) return;
        if (setup.input != nullptr) {
            signal(SIGPIPE, SIG_IGN);  // the tool may stop reading early
            for (std::size_t done = 0; done < setup.input->size();) {
                const ssize_t n = write(started.in, setup.input->data() + done, setup.input->size() - done);
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
        }
        close(started.in);
    });
    std::thread errors([&] { result.err = readAll(started.err); });
    result.out = readAll(started.out);
    errors.join();
    writer.join();
    result.exitCode = waitFor(started.pid, &result.peakKb);
    return result;
}

Output run(const std::vector<std::string>& args, const RunSetup& setup = {}) { return finish(start(args, setup), setup); }

// Starts the program `setup.programName` itself (a copy of the tool), not the usual command.
Started startAs(const RunSetup& setup, const std::vector<std::string>& args) {
    const char* previous = std::getenv("AAMSG_COMMAND");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("AAMSG_COMMAND", setup.programName.c_str(), 1);
    const Started started = start(args, setup);
    if (previous != nullptr) {
        setenv("AAMSG_COMMAND", saved.c_str(), 1);
    } else {
        unsetenv("AAMSG_COMMAND");
    }
    return started;
}

// Runs `command` (the tool, or a runner and the tool) with `args` after the program name, as a
// script that reads its console does.
Result runCommand(const std::vector<std::string>& command, const std::vector<std::string>& args) {
    RunSetup setup;
    setup.command = command;
    const Output done = run(args, setup);
    return {done.exitCode, done.out, done.peakKb};
}

// Runs the tool so; `programName` replaces argv[0] when it runs directly, `uid` >= 0 runs it as
// that user (from root).
Result runTool(const std::vector<std::string>& args, const std::string& programName = "", int uid = -1) {
    RunSetup setup;
    setup.programName = programName;
    setup.uid = uid;
    const Output done = run(args, setup);
    return {done.exitCode, done.out, done.peakKb};
}


void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string names(const std::string& in, const std::string& out) {
    return "Input file:\t" + in + "\r\nOutput file:\t" + out + "\r\n";
}


class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / ("aamsg-e2e-" + std::to_string(getpid()) + "-" + info->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(dir, ignored);
    }
    std::string path(const std::string& name) const { return (dir / name).string(); }
    fs::path dir;
};

TEST_F(EndToEnd, UsageWhenArgumentsAreMissing) {
    // A runner passes the tool's own path as its name; Wine passes it as a Windows path.
    std::string program = runsDirectly() ? "prog%s" : toolCommand().back();
    if (runsUnderWine()) {
        std::replace(program.begin(), program.end(), '/', '\\');
        program = "Z:" + program;
    }
    const std::string usage = "Usage:\n encode: " + program + " e infile outfile\n decode: " + program +
                              " d infile outfile\n best:   " + program + " q [options] infile outfile\n         " + program +
                              " q [options] --out-dir=DIR infile...\n inspect: " + program + " i [--json] file...\n options of q:\n"
                              "  --level[=DB]  bring the active speech level to DB dB of full scale (-22)\n"
                              "  --trim        remove silence before and after the speech\n"
                              "  --flat        no noise shaping: the least plain error\n"
                              "  -             as infile or outfile: standard input or output\n"
                              " q and i read: WAVE, AIFF, FLAC, MP3, M4A, Ogg, Opus, WebM, WMA, AMR or AC-3\n";
    // Too few names, and options q does not know or e and d do not take (those would be names).
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"d"}, {"d", path("a")}, {"q", "--trim", path("a")}, {"q", "--bogus", path("a"), path("b")},
          {"q", "--level=loud", path("a"), path("b")}, {"q", "--level=3", path("a"), path("b")}, {"Q", "--out-dir=" + path("o")}}) {
        const Result r = runTool(args, "prog%s");
        EXPECT_EQ(r.exitCode, 101);
        EXPECT_EQ(r.console, kBanner + usage);
    }
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(EndToEnd, UnknownSwitchIsShownLowercased) {
    const std::string in = path("in.msg");
    const std::string out = path("out.wav");
    writeFile(in, {1, 2, 3});
    for (const auto& [given, shown] : std::vector<std::pair<std::string, std::string>>{
             {"x", "x"}, {"Z", "z"}, {"encode", "encode"}, {"qq", "qq"}, {"DE", "de"}, {"", ""}}) {
        const Result r = runTool({given, in, out});
        EXPECT_EQ(r.exitCode, 101) << given;
        EXPECT_EQ(r.console, kBanner + names(in, out) + "Unknown switch: " + shown + "\n");
    }
    EXPECT_FALSE(fs::exists(out));
}

// One run a row, as a script sees it: the exit code, the console after the file names, and
// the output. What the conversions do sample by sample is the unit tests' business.
TEST_F(EndToEnd, ExitCodesAndConsoleText) {
    Bytes cut = test::wave(1, 8000, 16, std::vector<int>(20000, 3000));
    cut[40] = cut[41] = cut[42] = cut[43] = 0xFF;  // the data chunk claims 4 GB
    struct Case {
        const char* mode;
        Bytes input;
        int code;
        std::string console;  // %s stands for the input's name
        long long outputSize;  // -1: no output file
        Bytes output;  // when not empty, the output's bytes
    };
    const std::string ok = "OK\r\n\n";
    const std::vector<Case> cases = {
        {"D", Bytes(4000, 0x70), 0, progressLine(100) + "\r\nTotal time: 0m 1s\r\n" + ok, 16044, {}},
        {"d", {}, 0, "\r\nProgress: 0%\r\nTotal time: 0m 0s\r\n" + ok, 44, {}},
        {"E", test::wave(1, 8000, 16, {1000, 1000, 1000, 1000, -1000, -1000, 0}), 0, progressLine(1) + "\r\nTotal time: 0m 0s\r\n" + ok, 3,
         {0x77, 0x77, 0xFF}},
        {"e", Bytes{'h', 'e', 'l', 'l', 'o', ',', ' ', 'w', 'o', 'r', 'l', 'd', '\n'}, 201, "%s should be a RIFF WAVE file\r\n", -1, {}},
        {"e", test::riff({{"fmt ", test::fmtBody(3, 1, 8000, 4, 32)}, {"data", Bytes(8, 0)}}), 202, "%s should be a WAVE PCM file\r\n", -1, {}},
        {"e", test::riff({{"fmt ", test::fmtBody(1, 1, 8000, 3, 24)}, {"data", Bytes(9, 0)}}), 203, "%s is corrupted\r\n", 0, {}},
        {"e", cut, 203, "\r\nProgress: 0%%s is corrupted\r\n", 19999 / 2, {}},
    };
    // A name with a printf directive in it must come out as it is.
    const std::string in = path("in 100%d.wav");
    const std::string out = path("out");
    for (const Case& c : cases) {
        writeFile(in, c.input);
        fs::remove(out);
        const Result r = runTool({c.mode, in, out});
        std::string expected = c.console;
        if (const std::size_t at = expected.find("%s"); at != std::string::npos) expected.replace(at, 2, in);
        EXPECT_EQ(r.exitCode, c.code) << c.mode << " " << c.console;
        EXPECT_EQ(r.console, kBanner + names(in, out) + expected);
        EXPECT_EQ(fs::exists(out) ? static_cast<long long>(fs::file_size(out)) : -1, c.outputSize) << c.mode << " " << c.console;
        if (!c.output.empty()) {
            EXPECT_EQ(readFile(out), c.output);
        }
    }
}

TEST_F(EndToEnd, OpenFailures) {
    const std::string in = path("in.msg");
    writeFile(in, {0x12});
    const std::string missing = path("missing.msg");
    const std::string out = path("out.wav");

    Result r = runTool({"d", missing, out});
    EXPECT_EQ(r.exitCode, 102);
    EXPECT_EQ(r.console, kBanner + names(missing, out) + "Cannot open infile " + missing + "\n");
    EXPECT_FALSE(fs::exists(out));

    const std::string fifo = path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& notAFile : {dir.string(), fifo, std::string("/dev/zero")}) {
        for (const char* mode : {"d", "q"}) {
            r = runTool({mode, notAFile, out});
            EXPECT_EQ(r.exitCode, 102) << notAFile;
            EXPECT_EQ(r.console, kBanner + names(notAFile, out) + "Cannot open infile " + notAFile + "\n");
            EXPECT_FALSE(fs::exists(out));
        }
    }

    for (const std::string& bad : {path("no/such/folder/out.wav"), dir.string()}) {
        r = runTool({"d", in, bad});
        EXPECT_EQ(r.exitCode, 103) << bad;
        EXPECT_EQ(r.console, kBanner + names(in, bad) + "Cannot open outfile " + bad + "\n");
    }
}

// The tool as user nobody can run it, wherever the build lies (a checkout in a private folder):
// a copy of it, and of the library it loads, in the test's own folder, which anyone may read.
RunSetup asNobody(const fs::path& dir) {
    RunSetup setup;
    setup.uid = 65534;
    fs::permissions(dir, fs::perms::all, fs::perm_options::add);
    const fs::path tool = toolCommand().front();
    const fs::path copy = dir / "aamsg-copy";
    fs::copy_file(tool, copy);
    fs::permissions(copy, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    setup.programName = copy.string();
    // The library beside the tool in a build folder (none beside a static one).
    for (const fs::path& library : {tool.parent_path() / "libaamsg.so.0", fs::path(AAMSG_LIBRARY)}) {
        if (!fs::exists(library)) continue;
        fs::create_directory(dir / "lib");
        fs::copy_file(library, dir / "lib" / "libaamsg.so.0");
        fs::permissions(dir / "lib", fs::perms::all, fs::perm_options::add);
        fs::permissions(dir / "lib" / "libaamsg.so.0", fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
        setup.libraryPath = (dir / "lib").string();
        break;
    }
    return setup;
}

// A folder the user may not write: no output is made there. A file there that the user may
// write is written where it is (no file can be made beside it), and replaced.
TEST_F(EndToEnd, ReadOnlyFolder) {
    // Root writes into read-only folders anyway, so from root the tool runs as nobody.
    const bool root = geteuid() == 0;
    if (root && !runsDirectly()) GTEST_SKIP() << "cannot change user through a runner";
    const std::string in = path("in.msg");
    writeFile(in, {0x12, 0x34});
    fs::permissions(in, fs::perms::others_read, fs::perm_options::add);
    const std::string readOnly = path("ro");
    fs::create_directory(readOnly);
    const std::string writable = readOnly + "/writable.wav";
    writeFile(writable, Bytes(100, 0x55));
    fs::permissions(writable, fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec));
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                  fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    RunSetup setup = root ? asNobody(dir) : RunSetup{};
    const std::string out = readOnly + "/out.wav";
    const Output refused = root ? finish(startAs(setup, {"d", in, out}), setup) : run({"d", in, out});
    EXPECT_EQ(refused.exitCode, 103) << refused.err;
    EXPECT_EQ(refused.out, kBanner + names(in, out) + "Cannot open outfile " + out + "\n");
    EXPECT_FALSE(fs::exists(out));

    struct stat before {};
    ASSERT_EQ(stat(writable.c_str(), &before), 0);
    const Output inPlace = root ? finish(startAs(setup, {"d", in, writable}), setup) : run({"d", in, writable});
    EXPECT_EQ(inPlace.exitCode, 0) << inPlace.out << inPlace.err;
    struct stat after {};
    ASSERT_EQ(stat(writable.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(fs::file_size(writable), 44u + 8u);
    std::vector<std::string> inFolder;
    for (const auto& entry : fs::directory_iterator(readOnly)) inFolder.push_back(entry.path().filename().string());
    EXPECT_EQ(inFolder, std::vector<std::string>{"writable.wav"});
}

TEST_F(EndToEnd, OutputThatIsTheInputIsRefused) {
    const std::string in = path("in.msg");
    const Bytes original = {0x10, 0x32, 0x54, 0x76};
    writeFile(in, original);
    fs::create_directory(dir / "sub");
    fs::create_hard_link(in, dir / "hard");
    fs::create_symlink(in, dir / "soft");
    for (const std::string& out : {in, path("sub/../in.msg"), path("hard"), path("soft")}) {
        for (const char* mode : {"d", "e", "q"}) {
            const Result r = runTool({mode, in, out});
            EXPECT_EQ(r.exitCode, 103) << out;
            EXPECT_EQ(r.console, kBanner + names(in, out) + "Cannot open outfile " + out + ": it is the infile\n");
            EXPECT_EQ(readFile(in), original) << out;
        }
    }
}

TEST_F(EndToEnd, FullDiskIsNotSuccess) {
    const std::string message = path("in.msg");
    writeFile(message, Bytes(300000, 0x3C));
    const std::string wave = path("in.wav");
    writeFile(wave, test::wave(2, 44100, 16, std::vector<int>(400000, 100)));
    for (const auto& [mode, in] : std::vector<std::pair<std::string, std::string>>{{"d", message}, {"e", wave}, {"q", wave}}) {
        const Result r = runTool({mode, in, "/dev/full"});
        EXPECT_EQ(r.exitCode, 104) << mode;
        EXPECT_EQ(r.console.find("OK"), std::string::npos);
        const std::string tail = "Cannot write outfile /dev/full\n";
        ASSERT_GE(r.console.size(), tail.size());
        EXPECT_EQ(r.console.substr(r.console.size() - tail.size()), tail);
    }
    // Small enough for every byte to sit in the buffer until the end.
    writeFile(message, {0x12});
    const Result r = runTool({"d", message, "/dev/full"});
    EXPECT_EQ(r.exitCode, 104);
    EXPECT_EQ(r.console, kBanner + names(message, "/dev/full") + progressLine(1) + "\r\nTotal time: 0m 0s\r\nCannot write outfile /dev/full\n");
}

// A disk that really fills up: a file system of 64 KiB, mounted where the test runs as root. Each
// conversion fails as on /dev/full, the file that was there keeps its bytes, and what was
// written beside it is gone, so that the space it took is free again.
TEST_F(EndToEnd, FullDiskLeavesTheOldFileAndItsSpace) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    const std::string small = path("small");
    fs::create_directory(small);
    if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Unmount {
        std::string at;
        ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
    } unmount{small};
    const std::string message = path("in.msg");
    writeFile(message, Bytes(20000, 0x3C));                               // a WAVE file of 160 kB
    const std::string wave = path("in.wav");
    writeFile(wave, test::wave(1, 8000, 16, std::vector<int>(160000, 100)));  // a message of 80 kB
    const std::string out = small + "/out.msg";
    const Bytes old(10000, 0x11);
    writeFile(out, old);
    const auto freeBytes = [&] {
        struct statvfs info {};
        statvfs(small.c_str(), &info);
        return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    };
    const std::uint64_t before = freeBytes();
    for (const auto& [mode, in] : std::vector<std::pair<std::string, std::string>>{{"d", message}, {"e", wave}, {"q", wave}}) {
        const Result r = runTool({mode, in, out});
        EXPECT_EQ(r.exitCode, 104) << mode;
        const std::string tail = "Cannot write outfile " + out + "\n";
        ASSERT_GE(r.console.size(), tail.size()) << mode;
        EXPECT_EQ(r.console.substr(r.console.size() - tail.size()), tail) << mode;
        EXPECT_EQ(readFile(out), old) << mode;
        EXPECT_EQ(std::distance(fs::directory_iterator(small), fs::directory_iterator()), 1) << mode;
        EXPECT_EQ(freeBytes(), before) << mode;
    }
}

// A prompt as recorded: a second of silence, then 1.5 s of voiced "syllables" (a 140 Hz buzz
// with its harmonics, rising and falling), then a second of silence, at 8 kHz; its peak at
// `peakDb` of full scale, and one sharper peak `spikeDb` above it in the middle.
std::vector<int> recordedPrompt(double peakDb, double spikeDb = 0) {
    std::vector<double> voice(8000 * 7 / 2, 0.0);
    double peak = 0;
    for (std::size_t i = 8000; i < 8000 + 12000; ++i) {
        const double t = static_cast<double>(i) / 8000;
        double buzz = 0;
        for (int h = 1; h <= 12; ++h) buzz += std::sin(2 * M_PI * 140 * h * t + h) / h;
        voice[i] = buzz * std::pow(std::sin(M_PI * (t - 1) * 4), 2);  // four syllables
        peak = std::max(peak, std::fabs(voice[i]));
    }
    const double scale = 32768 * std::pow(10, peakDb / 20) / peak;
    std::vector<int> samples;
    for (const double v : voice) samples.push_back(static_cast<int>(std::lround(v * scale)));
    const int spike = static_cast<int>(std::lround(32768 * std::pow(10, (peakDb + spikeDb) / 20)));
    if (spikeDb > 0) samples.insert(samples.begin() + 14000, {spike / 2, spike, spike / 2});
    return samples;
}

// Every way a conversion can fail, onto a file that was there: its bytes stay as they were, no
// file is left beside it, and the console and exit code are those of any failure. A full disk
// is the process's limit on a file's size (where the tool runs directly).
TEST_F(EndToEnd, FailuresLeaveTheOutputAsItWas) {
    const std::string message = path("in.msg");
    writeFile(message, Bytes(300000, 0x3C));
    const std::string wave = path("in.wav");
    writeFile(wave, test::wave(2, 44100, 16, std::vector<int>(400000, 100)));
    const std::string text = path("notes.txt");
    writeFile(text, {'n', 'o', 't', 'e', 's'});
    const std::string out = path("out");
    const Bytes old = {'o', 'l', 'd'};
    struct Row {
        std::string mode;
        std::string in;
        long long limit;
        int code;
        std::string tail;
    };
    std::vector<Row> rows = {
        {"e", text, -1, 201, text + " should be a RIFF WAVE file\r\n"},
        {"q", text, -1, 201, text + " should be an audio file: WAVE, AIFF, FLAC, MP3, M4A, Ogg, Opus, WebM, WMA, AMR or AC-3\r\n"},
        {"d", path("missing.msg"), -1, 102, "Cannot open infile " + path("missing.msg") + "\n"},
    };
    if (runsDirectly()) {
        for (const char* mode : {"d", "e", "q"}) {
            rows.push_back({mode, std::string(mode) == "d" ? message : wave, 10000, 104, "Cannot write outfile " + out + "\n"});
        }
    }
    for (const Row& row : rows) {
        writeFile(out, old);
        RunSetup setup;
        setup.fileSizeLimit = row.limit;
        const Output r = run({row.mode, row.in, out}, setup);
        EXPECT_EQ(r.exitCode, row.code) << row.mode << " " << row.in;
        ASSERT_GE(r.out.size(), row.tail.size());
        EXPECT_EQ(r.out.substr(r.out.size() - row.tail.size()), row.tail);
        EXPECT_EQ(readFile(out), old) << row.mode << " " << row.in;
        std::vector<std::string> files;
        for (const auto& entry : fs::directory_iterator(dir)) files.push_back(entry.path().filename().string());
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, (std::vector<std::string>{"in.msg", "in.wav", "notes.txt", "out"}));
    }
}

bool have(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// q reads standard input and writes standard output, as sox's and ffmpeg's users expect: the same
// bytes as from files, with the console on standard error when the message takes standard
// output. An input that must be read twice (--level), or that its reader seeks in (Ogg), comes
// through a pipe all the same. e and d take - as the name of a file, as they always did.
TEST_F(EndToEnd, PipesInAndOut) {
    const std::string in = path("in.wav");
    const Bytes wave = test::wave(1, 8000, 16, recordedPrompt(-30));
    writeFile(in, wave);
    const std::string reference = path("reference.msg");
    const Result plain = runTool({"q", "--level", "--trim", in, reference});
    ASSERT_EQ(plain.exitCode, 0);
    const std::string afterNames = plain.console.substr((kBanner + names(in, reference)).size());

    RunSetup piped;
    piped.input = &wave;
    const std::string out = path("out.msg");
    Output r = run({"q", "--level", "--trim", "-", out}, piped);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out, kBanner + names("-", out) + afterNames);
    EXPECT_EQ(readFile(out), readFile(reference));

    r = run({"q", "--level", "--trim", in, "-"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, kBanner + names(in, "-") + afterNames);
    EXPECT_EQ(Bytes(r.out.begin(), r.out.end()), readFile(reference));

    r = run({"Q", "--level", "--trim", "-", "-"}, piped);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, kBanner + names("-", "-") + afterNames);
    EXPECT_EQ(Bytes(r.out.begin(), r.out.end()), readFile(reference));

    if (have("sox")) {
        const std::string ogg = path("in.ogg");
        ASSERT_EQ(std::system(("sox '" + in + "' '" + ogg + "'").c_str()), 0);
        const Bytes oggBytes = readFile(ogg);
        ASSERT_EQ(runTool({"q", ogg, reference}).exitCode, 0);
        RunSetup oggPiped;
        oggPiped.input = &oggBytes;
        r = run({"q", "-", "-"}, oggPiped);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(Bytes(r.out.begin(), r.out.end()), readFile(reference));
    }

    const Bytes text = {'n', 'o', 't', 'e', 's'};
    RunSetup textPiped;
    textPiped.input = &text;
    r = run({"q", "-", out}, textPiped);
    EXPECT_EQ(r.exitCode, 201);
    EXPECT_EQ(r.out, kBanner + names("-", out) + "- should be an audio file: WAVE, AIFF, FLAC, MP3, M4A, Ogg, Opus, WebM, WMA, AMR or AC-3\r\n");
    r = run({"q", path("missing.wav"), "-"});
    EXPECT_EQ(r.exitCode, 102);
    EXPECT_EQ(r.err, kBanner + names(path("missing.wav"), "-") + "Cannot open infile " + path("missing.wav") + "\n");
    EXPECT_TRUE(r.out.empty());
    for (const char* mode : {"e", "d"}) {
        r = run({mode, "-", out}, piped);
        EXPECT_EQ(r.exitCode, 102) << mode;
        EXPECT_EQ(r.out, kBanner + names("-", out) + "Cannot open infile -\n");
    }
}

// Ctrl-C stops a conversion: what it was writing is removed, the file that was there is as it
// was, and the tool ends by the signal, as a script expects. A read of standard input that waits
// is stopped too.
TEST_F(EndToEnd, CtrlCStopsCleanly) {
    if (runsUnderWine()) GTEST_SKIP() << "Wine gives a Windows program no POSIX signals";
    const std::string in = path("in.wav");
    std::vector<int> long_(2 * 44100 * 40);
    for (std::size_t i = 0; i < long_.size(); ++i) long_[i] = static_cast<int>(6000 * std::sin(0.001 * static_cast<double>(i * i % 100003)));
    writeFile(in, test::wave(2, 44100, 16, long_));
    const std::string out = path("out.msg");
    const Bytes old = {'o', 'l', 'd'};
    writeFile(out, old);
    const auto files = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    // Once the message is being written beside the output, the conversion is under way.
    const Started started = start({"q", in, out});
    for (int i = 0; i < 3000 && files().size() < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(files().size(), 3u);
    kill(started.pid, SIGINT);
    readAll(started.out);
    readAll(started.err);
    EXPECT_EQ(waitFor(started.pid), 1000 + SIGINT);
    EXPECT_EQ(readFile(out), old);
    EXPECT_EQ(files(), (std::vector<std::string>{"in.wav", "out.msg"}));

    RunSetup waiting;
    waiting.keepInputOpen = true;
    const Started reading = start({"q", "-", path("new.msg")}, waiting);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto asked = std::chrono::steady_clock::now();
    kill(reading.pid, SIGINT);
    readAll(reading.out);
    readAll(reading.err);
    EXPECT_EQ(waitFor(reading.pid), 1000 + SIGINT);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(5));
    close(reading.in);
    EXPECT_EQ(files(), (std::vector<std::string>{"in.wav", "out.msg"}));
}

// Files under /sys claim a size of 4096 bytes and hold a few: a file that is shorter than it
// was measured, as one that shrinks during the run would be.
TEST_F(EndToEnd, InputShorterThanItsMeasuredSize) {
    const std::string in = "/sys/devices/system/cpu/online";
    if (!fs::is_regular_file(in) || fs::file_size(in) <= readFile(in).size()) GTEST_SKIP() << "no such file here";
    const std::string out = path("out.wav");
    const Result r = runTool({"d", in, out});
    EXPECT_EQ(r.exitCode, 105);
    const std::string message = "Cannot read infile " + in + "\n";
    ASSERT_GE(r.console.size(), message.size());
    EXPECT_EQ(r.console.substr(r.console.size() - message.size()), message);
    EXPECT_EQ(r.console.find("Total time"), std::string::npos);
    EXPECT_FALSE(fs::exists(out));
}

// On a terminal each progress update must show at once: the first update read must arrive on
// its own, not in a block of buffered ones.
TEST_F(EndToEnd, ProgressShowsAtOnceOnATerminal) {
    if (!runsDirectly()) GTEST_SKIP() << "needs the tool itself on the terminal";
    const std::string in = path("long.msg");
    {
        std::ofstream create(in, std::ios::binary);
    }
    fs::resize_file(in, 200'000'000);  // sparse; decodes for a few tenths of a second
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const std::string tool = toolCommand().front();
        execl(tool.c_str(), tool.c_str(), "d", in.c_str(), "/dev/null", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string seen;
    std::string firstUpdate;
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) {
        const std::string chunk(buffer, static_cast<std::size_t>(n));
        seen += chunk;
        if (firstUpdate.empty() && seen.find("Progress: 1%") != std::string::npos) firstUpdate = chunk;
    }
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(seen.find("Progress: 100%"), std::string::npos);
    EXPECT_EQ(firstUpdate.find("Progress: 5%"), std::string::npos) << "updates arrived in a block";
}

TEST_F(EndToEnd, MessageTooLongForWaveHeader) {
    const std::string in = path("huge.msg");
    const std::string out = path("out.wav");
    const std::uintmax_t limit = ((std::uintmax_t{1} << 32) - 37) / 4;
    {
        std::ofstream create(in, std::ios::binary);
    }
    fs::resize_file(in, limit + 1);  // sparse: costs no disk
    const Result r = runTool({"d", in, out});
    EXPECT_EQ(r.exitCode, 204);
    EXPECT_EQ(r.console, kBanner + names(in, out) + in + " is too long for a WAVE file\r\n");
    EXPECT_FALSE(fs::exists(out));
}


// Runs a shell command with SRC and DST standing for quoted paths.
bool make(std::string command, const std::string& source, const std::string& destination) {
    for (const auto& [word, path] : {std::pair{"SRC", source}, {"DST", destination}}) {
        for (std::size_t at; (at = command.find(word)) != std::string::npos;) command.replace(at, 3, "'" + path + "'");
    }
    return std::system(command.c_str()) == 0;
}

// A message's bytes in one number, to pin them (64-bit FNV-1a).
std::uint64_t fingerprint(const Bytes& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const std::uint8_t b : bytes) hash = (hash ^ b) * 0x100000001b3u;
    return hash;
}

// A stereo recording of a few tones that come and go, and the same at the message rate.
double tones(double t) {
    const double envelope = 0.6 + 0.4 * std::sin(2 * M_PI * 1.3 * t);
    return 9000 * envelope * (std::sin(2 * M_PI * 310 * t) + 0.6 * std::sin(2 * M_PI * 1130 * t) + 0.3 * std::sin(2 * M_PI * 2450 * t));
}

Bytes tonesWave(double seconds) {
    std::vector<int> stereo;
    for (int i = 0; i < static_cast<int>(seconds * 48000); ++i) {
        const int v = static_cast<int>(std::lround(tones(i / 48000.0)));
        stereo.insert(stereo.end(), {v, v});
    }
    return test::wave(2, 48000, 16, stereo);
}

// `q` on the files people have, made here by sox, ffmpeg, lame and flac. A lossless file gives
// exactly the message of a WAVE file of the same samples, and those of the WAVE files are
// pinned: the bytes `q` gave before it read through FFmpeg. A lossy one gives the tones back
// within a measured bound.
TEST_F(EndToEnd, BestReadsEveryFormat) {
    for (const char* tool : {"sox", "ffmpeg", "lame", "flac"}) {
        if (!have(tool)) GTEST_SKIP() << "needs " << tool;
    }
    writeFile(path("tones.wav"), tonesWave(1));
    // The SNR against the tones at the best delay, found to a sample of the message and then to
    // a sample of the source, as a lossy format's delay need not be whole samples at 8 kHz.
    constexpr int kPerSample = 6;  // source samples a message sample
    constexpr int kMaxDelay = 256 * kPerSample;
    std::vector<double> fine;  // the tones at the source rate, from kMaxDelay before the start
    for (int i = -kMaxDelay; i < 48000 + kMaxDelay; ++i) fine.push_back(tones(i / 48000.0));
    const auto snrOf = [&](const Bytes& message) {
        const std::vector<std::int16_t> decoded = test::decodeMessage(message);
        const auto snrAt = [&](int delay) {
            std::vector<double> reference;
            for (int k = 0; k < 8000; ++k) reference.push_back(fine[static_cast<std::size_t>(k * kPerSample + delay + kMaxDelay)]);
            return test::snrDb(reference, decoded, {.atStart = 1000, .atEnd = 1000});
        };
        std::pair<double, int> best{-100, 0};
        for (int delay = -kMaxDelay; delay <= kMaxDelay; delay += kPerSample) best = std::max(best, std::pair{snrAt(delay), delay});
        const int coarse = best.second;
        for (int delay = coarse - kPerSample; delay <= coarse + kPerSample; ++delay) best = std::max(best, std::pair{snrAt(delay), delay});
        return best.first;
    };
    // WAVE files of every sample type, of samples no 16-bit file holds: synthesised by sox
    // without dither, so that they are the same on every run.
    struct Reference {
        std::string file;
        const char* make;  // nullptr: written above
        std::uint64_t pinned;
    };
    const Reference references[] = {
        {"tones.wav", nullptr, 8480753943266614088u},
        {"u8.wav", "sox -D -n -r 11025 -c 1 -b 8 -e unsigned DST synth 1 sine 300-3000 vol 0.9", 667360951897548790u},
        {"s24.wav", "sox -D -n -r 44100 -c 6 -b 24 DST synth 1 sine 200 sine 450 sine 700 sine 1300 sine 2100 sine 3300 vol 0.8", 6974921518837574151u},
        {"s32.wav", "sox -D -n -r 32000 -c 2 -b 32 -e signed DST synth 1 sine 300 square 700 vol 0.7", 3742698859922887161u},
        {"f32.wav", "sox -D -n -r 22050 -c 2 -b 32 -e floating-point DST synth 1 sine 330 sine 910 vol 0.9", 10198075962203656061u},
        {"f64.wav", "sox -D -n -r 16000 -c 1 -b 64 -e floating-point DST synth 1 sine 440 vol 0.95", 4897303150171531516u},
    };
    // The message of each file, converted once.
    std::map<std::string, Bytes> messages;
    const auto messageOf = [&](const std::string& file) -> const Bytes& {
        if (!messages.count(file)) {
            const Result r = runTool({"q", path(file), path(file + ".msg")});
            EXPECT_EQ(r.exitCode, 0) << file << r.console;
            EXPECT_EQ(r.console.substr(r.console.size() - std::min<std::size_t>(r.console.size(), 5)), "OK\r\n\n") << file;
            messages[file] = readFile(path(file + ".msg"));
        }
        return messages[file];
    };
    for (const Reference& r : references) {
        if (r.make != nullptr) {
            ASSERT_TRUE(make(r.make, "", path(r.file))) << r.make;
        }
        EXPECT_EQ(fingerprint(messageOf(r.file)), r.pinned) << r.file;
    }
    struct Format {
        std::string file;
        const char* from;  // the file it is made from
        const char* make;
        const char* sameAs;  // the file whose message it gives exactly; nullptr: a lossy format
        double minimumSnr;
    };
    // The lossy ones' bounds lie about 3 dB under the SNR measured here (dB): 21.6 for the older
    // WAVE encodings, 19.9 for MP3, 21.2 to 21.8 for MP2, Vorbis, Opus, AAC and AC-3, 12.8 for
    // GSM, 11.8 for WMA, 10.6 for AMR-NB and 14.8 for AMR-WB, codecs made for something else
    // than tones.
    const Format formats[] = {
        // Lossless: PCM in every container, FLAC, ALAC.
        {"flac16.flac", "tones.wav", "flac --totally-silent -o DST SRC", "tones.wav", 0},
        {"aiff16.aiff", "tones.wav", "sox SRC DST", "tones.wav", 0},
        {"caf16.caf", "tones.wav", "sox SRC DST", "tones.wav", 0},
        {"w64.w64", "tones.wav", "sox SRC DST", "tones.wav", 0},
        {"rf64.wav", "tones.wav", "ffmpeg -v error -i SRC -rf64 always DST", "tones.wav", 0},
        {"au16.au", "tones.wav", "sox SRC DST", "tones.wav", 0},
        // sox's VOC files lose the last two frames: the same samples as sox reads them.
        {"voc16.voc", "tones.wav", "sox SRC DST && sox DST DST.wav", "voc16.voc.wav", 0},
        {"alac16.m4a", "tones.wav", "ffmpeg -v error -i SRC -c:a alac DST", "tones.wav", 0},
        {"aiff8.aiff", "u8.wav", "sox SRC DST", "u8.wav", 0},
        {"voc8.voc", "u8.wav", "sox SRC DST && sox DST DST.wav", "voc8.voc.wav", 0},
        {"au8.au", "u8.wav", "sox SRC -e signed DST", "u8.wav", 0},
        {"flac8.flac", "u8.wav", "sox SRC DST", "u8.wav", 0},
        {"flac24.flac", "s24.wav", "flac --totally-silent -o DST SRC", "s24.wav", 0},
        {"aiff24.aiff", "s24.wav", "sox SRC DST", "s24.wav", 0},
        {"caf24.caf", "s24.wav", "sox SRC DST", "s24.wav", 0},
        {"ext24.wav", "s24.wav", "ffmpeg -v error -i SRC -c:a pcm_s24le DST", "s24.wav", 0},
        {"w64-24.w64", "s24.wav", "sox SRC DST", "s24.wav", 0},
        {"au24.au", "s24.wav", "sox SRC DST", "s24.wav", 0},
        {"alac24.m4a", "s24.wav", "ffmpeg -v error -i SRC -c:a alac -sample_fmt s32p DST", "s24.wav", 0},
        {"aiff32.aiff", "s32.wav", "sox SRC DST", "s32.wav", 0},
        {"caf32.caf", "s32.wav", "ffmpeg -v error -i SRC -c:a pcm_s32be DST", "s32.wav", 0},
        {"f32.aifc", "f32.wav", "sox SRC DST", "f32.wav", 0},
        {"f32.caf", "f32.wav", "sox SRC DST", "f32.wav", 0},
        {"f32.w64", "f32.wav", "sox SRC DST", "f32.wav", 0},
        {"f32.au", "f32.wav", "sox SRC DST", "f32.wav", 0},
        {"f32-rf64.wav", "f32.wav", "ffmpeg -v error -i SRC -c:a pcm_f32le -rf64 always DST", "f32.wav", 0},
        {"f64.aifc", "f64.wav", "sox SRC DST", "f64.wav", 0},
        {"f64.caf", "f64.wav", "ffmpeg -v error -i SRC -c:a pcm_f64be DST", "f64.wav", 0},
        // Lossy: WAVE's older encodings, MP3, Ogg, Opus; M4A, MP4, MOV, 3GP, AMR, WebM, MKV,
        // WMA, AC-3.
        {"ulaw.wav", "tones.wav", "sox SRC -e u-law DST", nullptr, 18},
        {"alaw.wav", "tones.wav", "sox SRC -e a-law DST", nullptr, 18},
        {"ulaw.au", "tones.wav", "sox SRC -e u-law DST", nullptr, 18},
        {"gsm.wav", "tones.wav", "sox SRC -r 8000 -c 1 -e gsm-full-rate DST", nullptr, 9},
        {"msadpcm.wav", "tones.wav", "sox SRC -e ms-adpcm DST", nullptr, 18},
        {"imaadpcm.wav", "tones.wav", "sox SRC -e ima-adpcm DST", nullptr, 18},
        {"ima4.aifc", "tones.wav", "ffmpeg -v error -i SRC -c:a adpcm_ima_qt -f aiff DST", nullptr, 18},
        {"lame.mp3", "tones.wav", "lame --quiet -b 128 SRC DST", nullptr, 17},
        {"tagged.mp3", "tones.wav", "ffmpeg -v error -i SRC -c:a libmp3lame -b:a 128k -metadata title=Hold DST", nullptr, 17},
        {"mp2.mp2", "tones.wav", "ffmpeg -v error -i SRC -c:a mp2 DST", nullptr, 18},
        {"vorbis.ogg", "tones.wav", "sox SRC DST", nullptr, 18},
        {"opus.opus", "tones.wav", "ffmpeg -v error -i SRC -c:a libopus DST", nullptr, 18},
        {"aac.m4a", "tones.wav", "ffmpeg -v error -i SRC -c:a aac DST", nullptr, 18},
        // A video track changes nothing.
        {"video.mp4", "tones.wav",
         "ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=5 -i SRC -shortest -map 0:v -map 1:a -c:v mpeg4 -c:a aac DST", "aac.m4a", 0},
        {"aac.mp4", "tones.wav", "ffmpeg -v error -i SRC -c:a aac DST", nullptr, 18},
        {"aac.mov", "tones.wav", "ffmpeg -v error -i SRC -c:a aac DST", nullptr, 18},
        {"adts.aac", "tones.wav", "ffmpeg -v error -i SRC -c:a aac DST", nullptr, 18},
        {"amrnb.amr", "tones.wav", "sox SRC -r 8000 -c 1 -t amr-nb DST", nullptr, 7},
        {"amrnb.3gp", "tones.wav", "sox SRC -r 8000 -c 1 -t amr-nb DST.amr && ffmpeg -v error -i DST.amr -c copy DST", nullptr, 7},
#ifdef AAMSG_AMRWB_ENCODE
        {"amrwb.awb", "tones.wav", "sox SRC -r 16000 -c 1 -t raw -b 16 -e signed DST.raw && " AAMSG_AMRWB_ENCODE " DST.raw DST", nullptr, 11},
        {"amrwb.3gp", "amrwb.awb", "ffmpeg -v error -i SRC -c copy DST", nullptr, 11},
#endif
        {"opus.webm", "tones.wav", "ffmpeg -v error -i SRC -c:a libopus DST", nullptr, 18},
        {"vorbis.webm", "tones.wav", "ffmpeg -v error -i SRC -c:a libvorbis DST", nullptr, 18},
        {"vorbis.mkv", "tones.wav", "ffmpeg -v error -i SRC -c:a libvorbis DST", nullptr, 18},
        {"wmav1.wma", "tones.wav", "ffmpeg -v error -i SRC -c:a wmav1 DST", nullptr, 9},
        {"wmav2.wma", "tones.wav", "ffmpeg -v error -i SRC -c:a wmav2 DST", nullptr, 9},
        {"ac3.ac3", "tones.wav", "ffmpeg -v error -i SRC -c:a ac3 DST", nullptr, 18},
    };
    // Another build (Windows, another processor: AAMSG_COMMAND) gives each file the message of
    // this host's build: the same bytes wherever FFmpeg decodes in integers, and where it has
    // only a floating-point decoder, a message whose samples lie within a measured SNR (dB) of
    // the host's: 6 dB under the lowest measured on Windows, arm64 and i386 (Vorbis 29.3 dB,
    // Opus 25.0, AMR-NB 29.5, AMR-WB 22.6; WMA above 30).
    const std::vector<std::string> hostTool = splitWords(AAMSG_COMMAND);
    const std::map<std::string, double> floatingPoint = {
        {"vorbis.ogg", 23}, {"vorbis.webm", 23}, {"vorbis.mkv", 23}, {"opus.opus", 19}, {"opus.webm", 19}, {"amrnb.amr", 23},
        {"amrnb.3gp", 23}, {"amrwb.awb", 16}, {"amrwb.3gp", 16}, {"wmav1.wma", 24}, {"wmav2.wma", 24}};
    const auto compareWithHost = [&](const std::string& file, const Bytes& message) {
        const Result r = runCommand(hostTool, {"q", path(file), path(file + ".host.msg")});
        ASSERT_EQ(r.exitCode, 0) << file << r.console;
        const Bytes host = readFile(path(file + ".host.msg"));
        const auto bound = floatingPoint.find(file);
        if (bound == floatingPoint.end()) {
            EXPECT_EQ(message, host) << file << ": not the host build's bytes";
            return;
        }
        const std::vector<std::int16_t> ours = test::decodeMessage(message);
        const std::vector<std::int16_t> theirs = test::decodeMessage(host);
        const double snr = test::snrDb(theirs, ours);
        std::size_t differing = 0;
        for (std::size_t i = 0; i < std::min(message.size(), host.size()); ++i) differing += message[i] != host[i];
        EXPECT_GT(snr, bound->second) << file << ": " << differing << " of " << host.size() << " bytes differ";
        RecordProperty(file + " against the host, SNR dB", std::to_string(snr));
        RecordProperty(file + " against the host, bytes differing", std::to_string(differing));
    };
    const bool crossBuild = toolCommand() != hostTool;
    for (const Format& format : formats) {
        ASSERT_TRUE(make(format.make, path(format.from), path(format.file))) << format.make;
        const Bytes& message = messageOf(format.file);
        if (crossBuild) compareWithHost(format.file, message);
        if (format.sameAs != nullptr) {
            EXPECT_EQ(message, messageOf(format.sameAs)) << format.file;
        } else {
            const double snr = snrOf(message);
            EXPECT_GT(snr, format.minimumSnr) << format.file;
            RecordProperty(format.file + " SNR dB", std::to_string(snr));
            RecordProperty(format.file + " SNR dB", std::to_string(snr));
        }
    }
}

// Each build of the search's beam step that the processor has, forced through the environment
// as someone tracking down a fault would, writes the message of the default one: shaped and
// flat, on a recording long enough to be split over the search threads. (A set this build or
// processor lacks falls back to the widest: the same bytes again.)
TEST_F(EndToEnd, BestGivesOneMessageOnEveryInstructionSet) {
    const std::vector<std::int16_t> sample = test::samplesOf(readFile(AAMSG_SAMPLE_DIR "/thank-you.wav"));
    std::vector<int> twice(sample.begin(), sample.end());
    twice.insert(twice.end(), sample.begin(), sample.end());
    const std::string in = path("twice.wav");
    writeFile(in, test::wave(2, 44100, 16, twice));
    for (const std::string mode : {"", "--flat"}) {
        std::vector<std::string> args = {"q", in, path("widest.msg")};
        if (!mode.empty()) args.insert(args.begin() + 1, mode);
        ASSERT_EQ(runTool(args).exitCode, 0);
        const Bytes widest = readFile(path("widest.msg"));
        for (const char* set : {"scalar", "avx2", "avx512", "neon", "simd128"}) {
            args.back() = path(std::string(set) + ".msg");
            setenv("AAMSG_SEARCH_ISA", set, 1);
            const Result r = runTool(args);
            unsetenv("AAMSG_SEARCH_ISA");
            EXPECT_EQ(r.exitCode, 0) << set << r.console;
            EXPECT_EQ(readFile(args.back()), widest) << set << " " << mode;
        }
    }
}

TEST_F(EndToEnd, BestRefusesWhatIsNoAudioAndKeepsWhatWasCut) {
    const std::string out = path("out.msg");
    std::mt19937 random(5);
    Bytes noise(3000);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random());
    const std::string text = "Please hold.\n";
    for (const Bytes& file : {Bytes(text.begin(), text.end()), noise}) {
        const std::string in = path("not audio 100%s.wav");
        writeFile(in, file);
        const Result r = runTool({"Q", in, out});
        EXPECT_EQ(r.exitCode, 201);
        EXPECT_EQ(r.console, kBanner + names(in, out) + in + " should be an audio file: WAVE, AIFF, FLAC, MP3, M4A, Ogg, Opus, WebM, WMA, AMR or AC-3\r\n");
        EXPECT_FALSE(fs::exists(out));
    }
    const std::string cut = path("cut.wav");
    Bytes file = test::wave(1, 8000, 16, std::vector<int>(16000, 2000));
    file.resize(file.size() / 2);
    writeFile(cut, file);
    const Result r = runTool({"q", cut, out});
    EXPECT_EQ(r.exitCode, 203);
    EXPECT_EQ(r.console.substr(r.console.size() - cut.size() - 15), cut + " is corrupted\r\n");
    EXPECT_EQ(r.console.find("Total time"), std::string::npos);
    EXPECT_NEAR(static_cast<double>(fs::file_size(out)), 16000 / 4.0, 20);  // half the samples, two a byte
}

// A file cut short converts what it holds and says it is corrupted, in every format whose header
// states its length (an MP3 or Ogg file states none, and a cut one reads as a shorter file);
// an M4A file whose index was at its end holds nothing that can be read.
TEST_F(EndToEnd, BestKeepsWhatACutFileHolds) {
    if (!have("sox") || !have("ffmpeg")) GTEST_SKIP() << "needs sox and ffmpeg";
    writeFile(path("tones.wav"), tonesWave(1));
    struct Format {
        const char* file;
        const char* make;
        bool keeps;  // converts what comes before the cut
    };
    const Format formats[] = {
        {"cut.wav", "sox SRC DST", true},          {"cut.aiff", "sox SRC DST", true},
        {"cut.flac", "sox SRC DST", true},         {"cut.caf", "sox SRC DST", true},
        {"cut.w64", "sox SRC DST", true},          {"cut.au", "sox SRC DST", true},
        {"cut.voc", "sox SRC DST", true},          {"rf64.wav", "ffmpeg -v error -i SRC -rf64 always DST", true},
        {"cut.m4a", "ffmpeg -v error -i SRC -c:a aac DST", false},
    };
    for (const Format& format : formats) {
        const std::string in = path(format.file);
        ASSERT_TRUE(make(format.make, path("tones.wav"), in)) << format.make;
        const std::string whole = in + ".msg";
        ASSERT_EQ(runTool({"q", in, whole}).exitCode, 0) << format.file;
        fs::resize_file(in, fs::file_size(in) * 6 / 10);
        const std::string out = path("out.msg");
        const Result r = runTool({"q", in, out});
        EXPECT_EQ(r.exitCode, 203) << format.file;
        const std::string tail = in + " is corrupted\r\n";
        EXPECT_EQ(r.console.substr(r.console.size() - std::min(r.console.size(), tail.size())), tail) << format.file;
        EXPECT_EQ(r.console.find("Total time"), std::string::npos) << format.file;
        const double kept = static_cast<double>(fs::file_size(out)) / static_cast<double>(fs::file_size(whole));
        if (format.keeps) {
            EXPECT_NEAR(kept, 0.6, 0.05) << format.file;
        } else {
            EXPECT_EQ(kept, 0) << format.file;
        }
    }
}

// A video without sound (a screen recording without its microphone) has its own message.
TEST_F(EndToEnd, BestSaysWhenThereIsNoAudioTrack) {
    if (!have("ffmpeg")) GTEST_SKIP() << "needs ffmpeg";
    for (const char* file : {"silent.mp4", "silent.webm"}) {
        const std::string in = path(file);
        ASSERT_TRUE(make("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=5 -t 1 DST", "", in));
        const std::string out = path("out.msg");
        const Result r = runTool({"q", in, out});
        EXPECT_EQ(r.exitCode, 205) << file;
        EXPECT_EQ(r.console, kBanner + names(in, out) + in + " has no audio track\r\n");
        EXPECT_FALSE(fs::exists(out)) << file;
    }
}

// A playlist or concatenation list naming an audio file is no audio file: the tool refuses it
// and never opens the file it names (inotify watches that file while the tool runs).
TEST_F(EndToEnd, PlaylistsOpenNoOtherFile) {
    const std::string named = path("named.wav");
    writeFile(named, test::wave(1, 8000, 16, std::vector<int>(8000, 1000)));
    const std::string lists[] = {
        "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:1.0,\n" + named + "\n#EXT-X-ENDLIST\n",
        "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:1.0,\nnamed.wav\n#EXT-X-ENDLIST\n",
        "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:1.0,\nfile://" + named + "\n#EXT-X-ENDLIST\n",
        "ffconcat version 1.0\nfile '" + named + "'\n",
        "ffconcat version 1.0\nfile named.wav\n",
        "#EXTM3U\n#EXTINF:1,Greeting\n" + named + "\n",
    };
    const int watch = inotify_init1(IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, named.c_str(), IN_OPEN | IN_ACCESS), 0);
    const auto events = [&] {
        char buffer[4096];
        ssize_t total = 0;
        for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;) total += n;
        return total;
    };
    for (const std::string& list : lists) {
        const std::string in = path("list.m3u8");
        writeFile(in, Bytes(list.begin(), list.end()));
        const Result r = runTool({"q", in, path("out.msg")});
        EXPECT_EQ(r.exitCode, 201) << list;
        EXPECT_NE(r.console.find(" should be an audio file: "), std::string::npos) << list;
        EXPECT_EQ(events(), 0) << list;
    }
    // The watch sees an open.
    EXPECT_EQ(readFile(named).size(), 16044u);
    EXPECT_GT(events(), 0);
    close(watch);
}

// Headers that claim what no file holds (65535 channels, ALAC frames of 16 million samples, an
// M4A index of a billion samples) fail cleanly, within a bound of memory.
TEST_F(EndToEnd, HugeClaimsFailWithinAMemoryBound) {
    if (!have("ffmpeg")) GTEST_SKIP() << "needs ffmpeg";
    writeFile(path("tones.wav"), tonesWave(1));
    const auto patched = [&](const std::string& file, const char* make_, const char* box, std::size_t skip, std::uint32_t value) {
        const std::string made = path(std::string("made-") + file);
        EXPECT_TRUE(make(make_, path("tones.wav"), made)) << make_;
        Bytes bytes = readFile(made);
        const std::string text(bytes.begin(), bytes.end());
        const std::size_t at = text.find(box, text.find("stsd") == std::string::npos ? 0 : text.find("stsd"));
        EXPECT_NE(at, std::string::npos) << file;
        if (at == std::string::npos) return bytes;
        for (int i = 0; i < 4; ++i) bytes[at + 4 + skip + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
        return bytes;
    };
    // ALAC's own "alac" box is the second after "stsd": its frame length follows a version word.
    const char* alac = "ffmpeg -v error -i SRC -c:a alac DST";
    Bytes alacFile = patched("alac.m4a", alac, "alac", 0, 0);
    {
        const std::string text(alacFile.begin(), alacFile.end());
        const std::size_t inner = text.find("alac", text.find("alac", text.find("stsd")) + 4);
        ASSERT_NE(inner, std::string::npos);
        for (int i = 0; i < 4; ++i) alacFile[inner + 8 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((1u << 24) >> (24 - 8 * i));
    }
    const char* aac = "ffmpeg -v error -i SRC -c:a aac -movflags +faststart DST";
    const std::pair<std::string, Bytes> files[] = {
        {"channels.wav", test::riff({{"fmt ", test::fmtBody(1, 65535, 8000, 65535, 8)}, {"data", Bytes(65535 * 4, 0x80)}})},
        {"alac.m4a", alacFile},
        {"stsz.m4a", patched("stsz.m4a", aac, "stsz", 8, 0x3FFFFFF0u)},
        {"stco.m4a", patched("stco.m4a", aac, "stco", 4, 0x3FFFFFF0u)},
        {"stts.m4a", patched("stts.m4a", aac, "stts", 4, 0x3FFFFFF0u)},
    };
    for (const auto& [file, bytes] : files) {
        const std::string in = path(file);
        writeFile(in, bytes);
        const Result r = runTool({"q", in, path("out.msg")});
        EXPECT_TRUE(r.exitCode == 201 || r.exitCode == 203) << file << ": " << r.exitCode;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        // The tool with FFmpeg's libraries takes about 36 MB on any file; a decoded frame may
        // take 64 MB more.
        if (runsDirectly()) {
            EXPECT_LT(r.peakKb, 100 * 1024) << file;
        }
#endif
    }
}

// The active speech level of a message, as the meter of --level measures it.
double activeLevel(const Bytes& message) {
    const std::vector<std::int16_t> samples = test::decodeMessage(message);
    const std::vector<float> decoded(samples.begin(), samples.end());
    SpeechMeter meter = makeSpeechMeter();
    meterSamples(meter, decoded);
    return finishMeter(meter).activeDb;
}

// Prompts recorded too quiet, with a sharp peak, and with dead air: --level brings them to the
// telephone level without clipping, --trim keeps the speech and little more.
TEST_F(EndToEnd, PromptsAtAnEvenLevelWithoutDeadAir) {
    const std::string in = path("prompt.wav");
    const std::string out = path("prompt.msg");
    for (const double spikeDb : {0.0, 12.0}) {
        writeFile(in, test::wave(1, 8000, 16, recordedPrompt(-40, spikeDb)));
        const Result r = runTool({"q", "--level", in, out});
        ASSERT_EQ(r.exitCode, 0) << r.console;
        EXPECT_NEAR(activeLevel(readFile(out)), -22, 1) << spikeDb;
        EXPECT_NE(r.console.find("\r\nLevel: -2"), std::string::npos) << r.console;
        EXPECT_EQ(r.console.find("Clipped"), std::string::npos) << r.console;
    }
    const Result trimmed = runTool({"q", "--trim", in, out});
    ASSERT_EQ(trimmed.exitCode, 0);
    EXPECT_NE(trimmed.console.find("\r\nTrimmed: "), std::string::npos);
    EXPECT_LE(fs::file_size(out), (1.5 + 0.4) * 4000);  // the speech and at most 0.4 s
    EXPECT_GE(fs::file_size(out), 1.4 * 4000);
}

// ---- `i`: what a file's sound says.

// The JSON document's objects, one a file, each on a line of its own.
std::vector<std::string> jsonObjects(const std::string& json) {
    std::vector<std::string> objects;
    std::istringstream lines(json);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("  {", 0) == 0) objects.push_back(line);
    }
    return objects;
}

// A field of one object, as written: a number, true, false or a string with its quotes.
std::string jsonField(const std::string& object, const std::string& name) {
    std::smatch match;
    const std::regex field("\"" + name + "\": (\"(?:[^\"\\\\]|\\\\.)*\"|[^,}\\]]+)");
    return std::regex_search(object, match, field) ? match[1].str() : std::string();
}

double jsonNumber(const std::string& object, const std::string& name) { return std::stod(jsonField(object, name)); }

// The findings' names and texts of one object, in order (the texts hold nothing to escape).
std::vector<std::pair<std::string, std::string>> jsonFindings(const std::string& object) {
    std::vector<std::pair<std::string, std::string>> findings;
    const std::regex finding("\\{\"name\": \"([a-z_]+)\", \"text\": \"([^\"\\\\]*)\"\\}");
    for (auto it = std::sregex_iterator(object.begin(), object.end(), finding); it != std::sregex_iterator(); ++it) {
        findings.emplace_back((*it)[1].str(), (*it)[2].str());
    }
    return findings;
}

// Numbers as '#', for comparing the layout of lines whose figures depend on the recording.
std::string withoutNumbers(const std::string& text) { return std::regex_replace(text, std::regex("[0-9]+(\\.[0-9]+)?"), "#"); }

// The prompts people make, by the tools they have: a voice from espeak-ng, silence, room
// noise, a recording too quiet, one clipped, one with dead air, and a message from q. `i`
// finds in each what is wrong with it, in JSON and in text alike.
TEST_F(EndToEnd, InspectPromptsMadeByRealTools) {
    if (!have("sox") || !have("espeak-ng")) GTEST_SKIP() << "needs sox and espeak-ng";
    const std::string speech = path("speech.wav");
    ASSERT_EQ(std::system(("espeak-ng -v en-us -s 150 -w '" + speech + "' 'Thank you for calling. Please hold while we connect your call.'").c_str()), 0);
    struct Made {
        std::string file;
        std::string make;  // SPEECH and DST stand for the paths; -R: the same dither and noise each run
        std::vector<std::string> findings;
    };
    const std::vector<Made> made = {
        {"good.wav", "sox SPEECH DST gain -1", {}},
        {"silence.wav", "sox -n -r 44100 -c 2 DST trim 0 3", {"no_speech"}},
        {"noise.wav", "sox -R -n -r 44100 DST synth 3 pinknoise gain -60", {"noise_only"}},
        {"quiet.wav", "sox SPEECH DST gain -24", {"too_quiet"}},
        {"clipped.wav", "sox -R SPEECH DST gain 29", {"too_loud", "clipped", "dc_offset"}},
        {"padded.wav", "sox SPEECH DST gain -1 pad 3 3", {"silence_start", "silence_end"}},
    };
    std::vector<std::string> args = {"i", "--json"};
    for (const Made& m : made) {
        std::string command = m.make + " 2>/dev/null";
        command.replace(command.find("DST"), 3, "'" + path(m.file) + "'");
        if (const std::size_t at = command.find("SPEECH"); at != std::string::npos) command.replace(at, 6, "'" + speech + "'");
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        args.push_back(path(m.file));
    }
    ASSERT_EQ(runTool({"q", path("good.wav"), path("good.msg")}).exitCode, 0);
    args.push_back(path("good.msg"));

    const Result json = runTool(args);
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_EQ(json.console.rfind("{\"files\": [\n", 0), 0u) << "nothing but the document";
    if (have("python3")) {
        writeFile(path("inspect.json"), Bytes(json.console.begin(), json.console.end()));
        EXPECT_EQ(std::system(("python3 -c 'import json, sys; assert len(json.load(sys.stdin)[\"files\"]) == 7' < '" + path("inspect.json") + "'").c_str()), 0);
    }
    const std::vector<std::string> objects = jsonObjects(json.console);
    ASSERT_EQ(objects.size(), 7u) << json.console;
    for (std::size_t i = 0; i < made.size(); ++i) {
        const std::string& o = objects[i];
        EXPECT_EQ(jsonField(o, "name"), "\"" + path(made[i].file) + "\"");
        EXPECT_EQ(jsonField(o, "code"), "0");
        EXPECT_EQ(jsonField(o, "type"), "\"audio\"");
        std::vector<std::string> names;
        for (const auto& [name, text] : jsonFindings(o)) names.push_back(name);
        // How far off centre a clipped voice lies depends on the voice: the offset may come or not.
        if (made[i].file == "clipped.wav" && names.size() == 2) names.push_back("dc_offset");
        EXPECT_EQ(names, made[i].findings) << made[i].file;
    }
    const auto number = [&](std::size_t file, const char* name) { return jsonNumber(objects[file], name); };
    EXPECT_NEAR(number(0, "level_db"), -22.0, 1.5);
    EXPECT_EQ(jsonField(objects[0], "format"), "\"WAVE 16-bit PCM\"");
    EXPECT_EQ(jsonField(objects[1], "speech_found"), "false");
    EXPECT_EQ(number(1, "peak_db"), -200.0);
    EXPECT_EQ(jsonField(objects[1], "channels"), "2");
    EXPECT_NEAR(number(2, "level_db"), -74.0, 1.5);
    EXPECT_LT(number(2, "speech_to_noise_db"), 6.0);
    EXPECT_NEAR(number(3, "level_db"), -45.0, 1.5);
    EXPECT_NEAR(number(3, "gain_db"), -22.0 - number(3, "level_db"), 0.011);
    EXPECT_GT(number(4, "clipped_places"), 1000.0);
    EXPECT_GT(number(4, "clipped_samples"), 3 * number(4, "clipped_places") - 1);
    EXPECT_NEAR(number(5, "silence_start_seconds"), 3.1, 0.15);
    EXPECT_NEAR(number(5, "silence_end_seconds"), 3.4, 0.15);
    EXPECT_EQ(jsonField(objects[6], "type"), "\"message\"");
    EXPECT_EQ(jsonField(objects[6], "rate"), "8000");
    EXPECT_NEAR(number(6, "level_db"), number(0, "level_db"), 0.3);  // as the phone plays it
    EXPECT_TRUE(jsonFindings(objects[6]).empty());

    // The text: a block a file, the same findings in the same words.
    args.erase(args.begin() + 1);
    const Result text = runTool(args);
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_EQ(text.console.rfind(kBanner, 0), 0u);
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const std::string name = i < made.size() ? path(made[i].file) : path("good.msg");
        const std::size_t at = text.console.find("\r\n" + shown(name) + "\r\n  File:");
        ASSERT_NE(at, std::string::npos) << name;
        const std::size_t next = text.console.find("\r\n\r\n", at + 2);  // the next block's start
        const std::string block = text.console.substr(at, next == std::string::npos ? next : next + 2 - at);
        const auto findings = jsonFindings(objects[i]);
        EXPECT_EQ(block.find("  Findings:    none\r\n") != std::string::npos, findings.empty()) << name;
        for (const auto& [finding, words] : findings) EXPECT_NE(block.find("\r\n  - " + words + "\r\n"), std::string::npos) << name << " " << finding;
    }
    const std::string message = text.console.substr(text.console.find("\r\n" + shown(path("good.msg")) + "\r\n"));
    EXPECT_EQ(withoutNumbers(message), withoutNumbers("\r\n" + shown(path("good.msg")) + "\r\n") +
                                           "  File:        not an audio file: read as a message, as a phone would play it (any bytes make one)\r\n"
                                           "  Duration:    # s\r\n"
                                           "  Speech:      -# dB (ITU-T P.#), active #% of the time\r\n"
                                           "  Silence:     # s at the start, # s at the end\r\n"
                                           "  Peak:        -# dB\r\n"
                                           "  Clipped:     none\r\n"
                                           "  Noise floor: digital silence\r\n"
                                           "  DC offset:   +#% of full scale\r\n"
                                           "  Findings:    none\r\n");
}

// Files that cannot be read get their message in their block and their code in the JSON; the
// exit code is the first failure's, and every other file is still inspected. JSON names are
// escaped, and bytes that are not UTF-8 become U+FFFD.
TEST_F(EndToEnd, InspectExitCodesAndNames) {
    const std::vector<int> full = recordedPrompt(-12);
    const std::vector<int> prompt(full.begin() + 4000, full.end() - 4000);  // half a second of silence at either end
    const std::string good = path("good 100%s.wav");
    writeFile(good, test::wave(1, 8000, 16, prompt));
    Bytes cut = test::wave(1, 8000, 16, prompt);
    cut.resize(cut.size() / 2);
    const std::string broken = path("cut.wav");
    writeFile(broken, cut);
    const std::string notes = path("notes.txt");
    writeFile(notes, {'P', 'r', 'e', 's', 's', ' ', '1', '\n'});
    const std::string missing = path("missing.wav");

    Result r = runTool({"I", good, missing, broken, notes});
    EXPECT_EQ(r.exitCode, 102);
    EXPECT_NE(r.console.find("\r\n" + shown(missing) + "\r\n  Cannot open infile " + shown(missing) + "\n"), std::string::npos) << r.console;
    EXPECT_NE(r.console.find("  Findings:    none\r\n  " + shown(broken) + " is corrupted\r\n"), std::string::npos) << r.console;
    EXPECT_NE(r.console.find("\r\n" + shown(notes) + "\r\n  File:        not an audio file"), std::string::npos);
    EXPECT_EQ(runTool({"i", broken, missing}).exitCode, 203);
    EXPECT_EQ(runTool({"i", good, notes}).exitCode, 0);

    r = runTool({"i", "--json", good, missing, broken});
    EXPECT_EQ(r.exitCode, 102);
    const std::vector<std::string> objects = jsonObjects(r.console);
    ASSERT_EQ(objects.size(), 3u) << r.console;
    EXPECT_EQ(objects[0], "  {" + objects[0].substr(3));
    EXPECT_EQ(jsonField(objects[0], "code"), "0");
    EXPECT_EQ(jsonField(objects[0], "error"), "");
    EXPECT_EQ(jsonField(objects[1], "code"), "102");
    EXPECT_EQ(jsonField(objects[1], "error"), "\"Cannot open infile " + missing + "\"");
    EXPECT_EQ(jsonField(objects[1], "type"), "");
    EXPECT_EQ(jsonField(objects[2], "code"), "203");
    EXPECT_EQ(jsonField(objects[2], "error"), "\"" + broken + " is corrupted\"");
    EXPECT_NEAR(jsonNumber(objects[2], "seconds"), 2.5 / 2, 0.01);  // measured up to the cut
    EXPECT_EQ(r.console.substr(r.console.size() - 4), "\n]}\n");

    if (!runsUnderWine()) {  // names Windows has no room for
        const std::string odd = path("say \"hi\"\\\x01.wav");
        const std::string notUtf8 = path("\xff\xfe.msg");
        writeFile(odd, Bytes(10, 0));
        writeFile(notUtf8, Bytes(10, 0));
        r = runTool({"i", "--json", odd, notUtf8});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_NE(r.console.find("{\"name\": \"" + path("say \\\"hi\\\"\\\\\\u0001.wav") + "\""), std::string::npos) << r.console;
        EXPECT_NE(r.console.find("{\"name\": \"" + path("\\ufffd\\ufffd.msg") + "\""), std::string::npos) << r.console;
    }

    // A switch and no file, or an option `i` does not know: the usage.
    for (const std::vector<std::string>& args : {std::vector<std::string>{"i"}, {"i", "--json"}, {"i", "--bogus", good}}) {
        r = runTool(args);
        EXPECT_EQ(r.exitCode, 101);
        EXPECT_EQ(r.console.rfind(kBanner + "Usage:\n", 0), 0u) << r.console;
    }
}

// q's warnings, as the library words them.
const std::string kNoSpeechWarning =
    "Warning: There is no speech: only silence, or hiss too faint to measure. Check that the right file was recorded.\r\n";
const std::string kSteadyWarning =
    "Warning: There is only steady sound: noise, hum or a tone, its quietest parts less than 6 dB under it, without the pauses of "
    "speech. Check the microphone and record it again, or convert music and tones with --flat.\r\n";
const std::string kLargeGainWarning =
    "Warning: The recording is very quiet: --level raised it by more than 20 dB, and the recorder's noise with it. Record it "
    "again closer to the microphone.\r\n";
const std::string kClippedWarning =
    "Warning: The recording is clipped: its loudest parts were cut flat at full scale and sound distorted, which --level cannot "
    "undo. Record it again with the input level lower.\r\n";

// q warns of what spoils a message, a line for each, after what it did: no speech, steady
// sound, a gain past 20 dB, a clipped recording; and not of what only --level or --trim mend.
TEST_F(EndToEnd, BestWarnsOfWhatSpoilsTheMessage) {
    std::vector<int> loud = recordedPrompt(-3);
    for (int& v : loud) v = std::clamp(v * 6, -32768, 32767);
    std::vector<int> tone(16000);
    for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int>(std::lround(6000 * std::sin(2 * M_PI * 440 * static_cast<double>(i) / 8000)));
    struct Case {
        const char* name;
        std::vector<int> samples;
        std::vector<std::string> options;
        std::string warnings;  // between what q did and "OK"
    };
    const std::vector<Case> cases = {
        {"silence", std::vector<int>(16000, 0), {"--level"}, "No active speech: left as it is\r\n" + kNoSpeechWarning},
        {"tone", tone, {}, kSteadyWarning},
        {"tone, flat", tone, {"--flat"}, ""},
        {"faint", recordedPrompt(-45), {}, ""},
        {"faint, levelled", recordedPrompt(-45), {"--level"}, kLargeGainWarning},
        {"clipped", loud, {}, kClippedWarning},
        {"prompt", recordedPrompt(-12), {"--trim"}, ""},
    };
    const std::string in = path("in.wav");
    const std::string out = path("out.msg");
    for (const Case& c : cases) {
        writeFile(in, test::wave(1, 8000, 16, c.samples));
        std::vector<std::string> args = {"q"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {in, out});
        const Result r = runTool(args);
        EXPECT_EQ(r.exitCode, 0) << c.name;
        const std::size_t end = r.console.size() - std::string("OK\r\n\n").size();
        const std::size_t warnings = c.warnings.empty() ? end : r.console.find(c.warnings.substr(0, 20));
        ASSERT_NE(warnings, std::string::npos) << c.name << r.console;
        EXPECT_EQ(r.console.substr(warnings), c.warnings + "OK\r\n\n") << c.name;
    }
    // In a batch's line, joined as the other lines are.
    writeFile(path("silent.wav"), test::wave(1, 8000, 16, std::vector<int>(8000, 0)));
    const Result batch = runTool({"q", "--out-dir=" + path("."), path("silent.wav")});
    EXPECT_EQ(batch.exitCode, 0);
    EXPECT_NE(batch.console.find("\t" + kNoSpeechWarning.substr(0, kNoSpeechWarning.size() - 2) + "; OK\r\n"), std::string::npos)
        << batch.console;
}

// A folder of prompts at once: one line a file in the order given, a bad file does not stop the
// others and leaves nothing under its name, and the exit code is the first failure's.
// A float file's NaN and infinite samples are counted on a line of their own, before the result;
// a file without any has no such line.
TEST_F(EndToEnd, SamplesThatAreNotNumbers) {
    const auto floatWave = [](const std::vector<float>& samples) {
        Bytes data;
        for (const float s : samples) {
            std::uint32_t bits = 0;
            std::memcpy(&bits, &s, sizeof bits);
            test::appendU32(data, bits);
        }
        return test::riff({{"fmt ", test::fmtBody(3, 1, 44100, 4, 32)}, {"data", data}});
    };
    std::vector<float> tone(44100);
    for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<float>(0.3 * std::sin(2 * M_PI * 440 * static_cast<double>(i) / 44100.0));
    std::vector<float> spoiled = tone;
    for (std::size_t i = 0; i < 10; ++i) spoiled[1000 + 3001 * i] = std::numeric_limits<float>::quiet_NaN();
    spoiled[500] = std::numeric_limits<float>::infinity();
    spoiled[501] = -std::numeric_limits<float>::infinity();
    const std::string clean = path("clean.wav");
    const std::string bad = path("spoiled.wav");
    writeFile(clean, floatWave(tone));
    writeFile(bad, floatWave(spoiled));
    const std::string end = progressLine(100) + "\r\nTotal time: 0m 1s\r\n";
    Result r = runTool({"q", clean, path("clean.msg")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.console, kBanner + names(clean, path("clean.msg")) + end + kSteadyWarning + "OK\r\n\n");
    r = runTool({"q", bad, path("spoiled.msg")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.console, kBanner + names(bad, path("spoiled.msg")) + end +
                             "Not numbers: 12 input samples (NaN made silent, infinities full scale)\r\n" + kSteadyWarning + "OK\r\n\n");
}

TEST_F(EndToEnd, BatchOfPrompts) {
    fs::create_directory(dir / "out");
    std::vector<std::string> args = {"q", "--level=-20", "--out-dir=" + path("out")};
    for (const char* name : {"hello", "menu", "broken", "hold", "closed"}) {
        const std::string file = path(std::string(name) + ".wav");
        writeFile(file, std::string(name) == "broken" ? Bytes{'n', 'o', 'p', 'e'} : test::wave(1, 8000, 16, recordedPrompt(-30)));
        args.push_back(file);
    }
    const Result r = runTool(args);
    EXPECT_EQ(r.exitCode, 201);
    const std::string out = path("out");
    EXPECT_NE(r.console.find("\r\n201\t" + path("broken.wav") + "\t" + shown(out) + "/broken.msg\t" + path("broken.wav") +
                             " should be an audio file"), std::string::npos) << r.console;
    EXPECT_EQ(r.console.substr(r.console.size() - 20), "\r\n4 of 5 converted\r\n");
    std::vector<std::string> made;
    for (const auto& entry : fs::directory_iterator(dir / "out")) made.push_back(entry.path().filename().string());
    std::sort(made.begin(), made.end());
    EXPECT_EQ(made, (std::vector<std::string>{"closed.msg", "hello.msg", "hold.msg", "menu.msg"}));
    EXPECT_LT(r.console.find("hello.msg"), r.console.find("menu.msg"));
    EXPECT_LT(r.console.find("hold.msg"), r.console.find("closed.msg"));
}

// Greetings are named in the caller's language. Latin-1 letters, letters no Western code page
// has, and spaces: the same bytes out as for an ASCII name, the name shown as the command line
// has it, and the same refusals.
TEST_F(EndToEnd, NamesInAnyLanguage) {
    const Bytes wave = test::wave(2, 22050, 16, std::vector<int>(9000, 1200));
    writeFile(path("plain.wav"), wave);
    const Result plain = runTool({"e", path("plain.wav"), path("plain.msg")});
    ASSERT_EQ(plain.exitCode, 0);
    const std::string afterNames = plain.console.substr((kBanner + names(path("plain.wav"), path("plain.msg"))).size());
    const Bytes message = readFile(path("plain.msg"));
    ASSERT_EQ(runTool({"d", path("plain.msg"), path("plain-back.wav")}).exitCode, 0);
    const Bytes decoded = readFile(path("plain-back.wav"));

    const std::pair<std::string, std::string> namePairs[] = {
        {"Begrüßung.wav", "Grüße Café.msg"}, {"问候语.wav", "приветствие.msg"}, {"hold music.wav", "问候语 2.msg"}};
    for (const auto& [inName, outName] : namePairs) {
        const std::string in = path(inName);
        const std::string out = path(outName);
        writeFile(in, wave);
        Result r = runTool({"e", in, out});
        EXPECT_EQ(r.exitCode, 0) << inName;
        EXPECT_EQ(r.console, kBanner + names(shown(in), shown(out)) + afterNames) << inName;
        EXPECT_EQ(readFile(out), message) << outName;

        const std::string back = path(outName + ".wav");
        EXPECT_EQ(runTool({"d", out, back}).exitCode, 0) << outName;
        EXPECT_EQ(readFile(back), decoded) << outName;

        r = runTool({"e", in, in});
        EXPECT_EQ(r.exitCode, 103) << inName;
        EXPECT_EQ(r.console, kBanner + names(shown(in), shown(in)) + "Cannot open outfile " + shown(in) + ": it is the infile\n");
        EXPECT_EQ(readFile(in), wave) << inName;

        const std::string missing = path("missing " + inName);
        r = runTool({"e", missing, out});
        EXPECT_EQ(r.exitCode, 102) << inName;
        EXPECT_EQ(r.console, kBanner + names(shown(missing), shown(out)) + "Cannot open infile " + shown(missing) + "\n");
    }
}

// Windows names the same file in more ways than Linux (letter case, backslashes) and has device
// names in every folder.
TEST_F(EndToEnd, WindowsSpellingsAndDevices) {
    if (!runsUnderWine()) GTEST_SKIP() << "Windows build only";
    const std::string in = path("Begrüßung.wav");
    const Bytes wave = test::wave(1, 8000, 16, std::vector<int>(4000, 700));
    writeFile(in, wave);
    std::string backslashed = path("sub/../BEGRÜßUNG.WAV");
    std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
    fs::create_directory(dir / "sub");
    for (const std::string& other : {path("BEGRÜßUNG.WAV"), path("begrüßung.Wav"), backslashed}) {
        const Result r = runTool({"e", in, other});
        EXPECT_EQ(r.exitCode, 103) << other;
        EXPECT_EQ(readFile(in), wave) << other;
    }
    Result r = runTool({"e", in, "NUL"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.console.substr(r.console.size() - 5), "OK\r\n\n");
    for (const std::string& device : {std::string("NUL"), std::string("CON"), std::string("COM1"), dir.string()}) {
        r = runTool({"e", device, path("out.msg")});
        EXPECT_EQ(r.exitCode, 102) << device;
        EXPECT_EQ(r.console, kBanner + names(device, path("out.msg")) + "Cannot open infile " + device + "\n");
    }
}

}  // namespace
}  // namespace aamsg
