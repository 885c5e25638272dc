// The command-line driver: arguments, files, one conversion, its message and exit status.
#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <thread>

#include "cli/batch.hpp"
#include "cli/cli.hpp"
#include "convert/convert.hpp"
#include "io/stream.hpp"

namespace aamsg {

namespace {

void lowercaseAscii(char* text) {
    for (; *text != '\0'; ++text) {
        if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
    }
}

// Scripts may read the encode and decode lines: they stay first, as they are.
void printUsage(const char* program) {
    std::printf("Usage:\n encode: %s e infile outfile\n decode: %s d infile outfile\n", program, program);
    std::printf(" best:   %s q [options] infile outfile\n         %s q [options] --out-dir=DIR infile...\n", program, program);
    std::fputs(" options of q:\n"
               "  --level[=DB]  bring the active speech level to DB dB of full scale (-22)\n"
               "  --trim        remove silence before and after the speech\n"
               "  --flat        no noise shaping: the least plain error\n",
               stdout);
}

// What the command line asks for, as far as it is understood.
struct Command {
    Request request;
    int inputArg = 2;  // where the file names stand in argv
    bool known = true;
    const char* outDir = nullptr;  // a batch: every file after the options, into this folder
    int outDirArg = 0;             // where --out-dir stands in argv
};

// The target level: a number of dB of full scale, within what a prompt can be brought to.
bool parseLevel(const char* text, double& level) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value >= kMinTargetDb && value <= kMaxTargetDb)) return false;
    level = value;
    return true;
}

// One option of `q`; false if it is none.
bool parseBestOption(char** argv, int at, Command& command) {
    const char* option = argv[at];
    PromptOptions& prompt = command.request.best.prompt;
    if (std::strcmp(option, "--trim") == 0) return prompt.trim = true;
    if (std::strcmp(option, "--flat") == 0) {
        command.request.best.search.shaped = false;
        return true;
    }
    if (std::strcmp(option, "--level") == 0) return prompt.level = true;
    if (std::strncmp(option, "--level=", 8) == 0) return prompt.level = parseLevel(option + 8, prompt.targetDb);
    if (std::strncmp(option, "--out-dir=", 10) == 0 && option[10] != '\0') {
        command.outDir = option + 10;
        command.outDirArg = at;
        return true;
    }
    return false;
}

// `q` takes its options between the switch and the file names; `e` and `d` take none.
bool parseBestOptions(int argc, char** argv, Command& command) {
    int at = 2;
    for (; at < argc && std::strncmp(argv[at], "--", 2) == 0; ++at) {
        if (!parseBestOption(argv, at, command)) return false;
    }
    if (argc - at < (command.outDir != nullptr ? 1 : 2)) return false;
    command.inputArg = at;
    return true;
}

bool parseCommand(int argc, char** argv, Command& command) {
    char* switchArg = argv[1];
    lowercaseAscii(switchArg);
    if (std::strcmp(switchArg, "e") == 0) {
        command.request.mode = Mode::Encode;
    } else if (std::strcmp(switchArg, "d") == 0) {
        command.request.mode = Mode::Decode;
    } else if (std::strcmp(switchArg, "q") == 0) {
        command.request.mode = Mode::Best;
        return parseBestOptions(argc, argv, command);
    } else {
        command.known = false;
    }
    return true;
}

// Opens both files, or prints why not. The output is never created or truncated when it is the
// input.
ExitCode openFiles(const Command& command, const std::vector<const PathChar*>& paths, std::FILE*& input, std::FILE*& output) {
    const int at = command.inputArg;
    if (paths.size() < static_cast<std::size_t>(at) + 2 || openInputFile(paths[static_cast<std::size_t>(at)], input) != OpenResult::kOpened) {
        std::printf("Cannot open infile %s\n", command.request.inputName);
        return kCannotOpenInput;
    }
    const OpenResult opened = openOutputFile(paths[static_cast<std::size_t>(at) + 1], input, output);
    if (opened == OpenResult::kOpened) return kOk;
    std::fclose(input);
    if (opened == OpenResult::kSameFile) {
        std::printf("Cannot open outfile %s: it is the infile\n", command.request.outputName);
    } else {
        std::printf("Cannot open outfile %s\n", command.request.outputName);
    }
    return kCannotOpenOutput;
}

// A batch: the files after the options, into the folder of --out-dir.
ExitCode runFiles(int argc, char** argv, const Command& command) {
    const std::vector<const PathChar*> paths = argumentPaths(argc, argv);
    if (paths.size() != static_cast<std::size_t>(argc)) {
        std::printf("Cannot open infile %s\n", argv[command.inputArg]);
        return kCannotOpenInput;
    }
    std::vector<BatchFile> files;
    for (auto i = static_cast<std::size_t>(command.inputArg); i < paths.size(); ++i) files.push_back({argv[i], paths[i]});
    // The folder's name for the file API: its argument without the option's name.
    const PathChar* dirPath = paths[static_cast<std::size_t>(command.outDirArg)] + 10;
    return runBatch(command.request.best, command.outDir, dirPath, files);
}

ExitCode runCommand(int argc, char** argv) {
    setBinaryStdout();
    std::fputs("WAVE to KORAM Auto Attendant Message encoder/decoder (c) the aamsg developers\r\n", stdout);
    const char* program = (argc > 0 && argv[0] != nullptr) ? argv[0] : "aamsg";
    Command command;
    if (argc < 4 || !parseCommand(argc, argv, command)) {
        printUsage(program);
        return kBadUsage;
    }
    // One file searches on every core; a batch shares them out among its files.
    command.request.best.threads = std::max(1u, std::thread::hardware_concurrency());
    if (command.outDir != nullptr) return runFiles(argc, argv, command);
    // Names are shown as the narrow command line has them and opened as the platform's file
    // API takes them (on Windows the UTF-16 command line, which can spell every name).
    command.request.inputName = argv[command.inputArg];
    command.request.outputName = argv[command.inputArg + 1];
    std::printf("Input file:\t%s\r\nOutput file:\t%s\r\n", command.request.inputName, command.request.outputName);
    if (!command.known) {
        std::printf("Unknown switch: %s\n", argv[1]);
        return kBadUsage;
    }
    std::FILE* inputFile = nullptr;
    std::FILE* outputFile = nullptr;
    if (const ExitCode rc = openFiles(command, argumentPaths(argc, argv), inputFile, outputFile); rc != kOk) return rc;
    InStream input = fileInput(inputFile);
    OutStream output = fileOutput(outputFile);
    const Outcome outcome = runConversion(command.request, input, output, makeProgressReport(stdout));
    std::fclose(inputFile);
    std::fputs(outcome.message.c_str(), stdout);
    return outcome.result;
}

}  // namespace

int runDriver(int argc, char** argv) {
    // Nothing may end the process through std::terminate; the conversion catches its own, and
    // memory is the only thing the driver asks of the runtime that can run out.
    try {
        return runCommand(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("\r\nOut of memory\n", stdout);
    } catch (...) {
        std::fputs("\r\nInternal error\n", stdout);
    }
    return kInternalError;
}

}  // namespace aamsg
