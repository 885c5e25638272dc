// The command-line driver: arguments, the library's options, one conversion or a batch, and
// the exit status.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "aamsg.h"
#include "cli/arguments.hpp"
#include "cli/batch.hpp"
#include "cli/cli.hpp"
#include "cli/console.hpp"
#include "cli/inspect.hpp"
#include "cli/interrupt.hpp"
#include "cli/pipes.hpp"

namespace aamsg {

namespace {

void lowercaseAscii(char* text) {
    for (; *text != '\0'; ++text) {
        if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
    }
}

// What the command line asks for, as far as it is understood.
struct Command {
    aamsg_mode mode = AAMSG_MODE_ENCODE;
    BestChoices choices;
    double levelDb = AAMSG_DEFAULT_LEVEL_DB;
    bool flat = false;
    int inputArg = 2;  // where the file names stand in argv
    bool known = true;
    const char* outDir = nullptr;  // a batch: every file after the options, into this folder
    int outDirArg = 0;             // where --out-dir stands in argv
};

// A number of dB; whether the library takes it as a level is its own check.
bool parseNumber(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0';
}

// One option of `q`; false if it is none.
bool parseBestOption(char** argv, int at, Command& command) {
    const char* option = argv[at];
    if (std::strcmp(option, "--trim") == 0) return command.choices.trim = true;
    if (std::strcmp(option, "--flat") == 0) return command.flat = true;
    if (std::strcmp(option, "--level") == 0) return command.choices.level = true;
    if (std::strncmp(option, "--level=", 8) == 0) return command.choices.level = parseNumber(option + 8, command.levelDb);
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
        command.mode = AAMSG_MODE_ENCODE;
    } else if (std::strcmp(switchArg, "d") == 0) {
        command.mode = AAMSG_MODE_DECODE;
    } else if (std::strcmp(switchArg, "q") == 0) {
        command.mode = AAMSG_MODE_BEST;
        return parseBestOptions(argc, argv, command);
    } else {
        command.known = false;
    }
    return true;
}

struct OptionsFree {
    void operator()(aamsg_options* options) const { aamsg_options_free(options); }
};
using OptionsPtr = std::unique_ptr<aamsg_options, OptionsFree>;

// The library's options for the command; kBadUsage when it refuses one (a level out of range).
ExitCode makeOptions(const Command& command, OptionsPtr& options) {
    options.reset(aamsg_options_new());
    const aamsg_status statuses[] = {
        aamsg_options_set_mode(options.get(), command.mode),
        aamsg_options_set_level(options.get(), command.choices.level ? 1 : 0, command.levelDb),
        aamsg_options_set_trim(options.get(), command.choices.trim ? 1 : 0),
        aamsg_options_set_flat(options.get(), command.flat ? 1 : 0),
    };
    for (const aamsg_status status : statuses) {
        if (status == AAMSG_OUT_OF_MEMORY) throw std::bad_alloc();
        if (status != AAMSG_OK) return kBadUsage;
    }
    return kExitOk;
}

// A batch: the files after the options, into the folder of --out-dir.
ExitCode runFiles(int argc, char** argv, const Command& command, aamsg_options& options) {
    const std::vector<std::string> names = utf8Arguments(argc, argv);
    if (names.size() != static_cast<std::size_t>(argc)) {
        std::fprintf(console(), "Cannot open infile %s\n", argv[command.inputArg]);
        return kCannotOpenInput;
    }
    std::vector<BatchFile> files;
    for (auto i = static_cast<std::size_t>(command.inputArg); i < names.size(); ++i) files.push_back({argv[i], names[i]});
    // The folder's name for the library: its argument without the option's name.
    const std::string& option = names[static_cast<std::size_t>(command.outDirArg)];
    const std::string folder = option.size() > 10 ? option.substr(10) : std::string();
    return runBatch(options, command.choices, command.outDir, folder, files);
}

bool isStandardStream(const char* name) { return std::strcmp(name, "-") == 0; }

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// `q` with `-` for its input, its output or both: through the library's streams.
aamsg_status convertPipes(int argc, char** argv, const Command& command, const char* outputName, const aamsg_options* options,
                          ConsoleProgress& progress, aamsg_report& report) {
    const char* input = argv[command.inputArg];
    const char* output = argv[command.inputArg + 1];
    std::unique_ptr<std::FILE, FileCloser> file;
    aamsg_reader reader = standardInput();
    if (!isStandardStream(input)) {
        file.reset(openInputArgument(argc, argv, command.inputArg));
        if (!file) return AAMSG_CANNOT_OPEN_INPUT;
        reader = fileReader(file.get());
    }
    if (isStandardStream(output)) {
        return aamsg_convert_stream(&reader, writeStandardOutput, nullptr, options, printProgress, &progress, &report);
    }
    return aamsg_convert_stream_to_file(&reader, outputName, options, printProgress, &progress, &report);
}

// One conversion: its names, the conversion, and its closing lines.
ExitCode runOne(int argc, char** argv, const Command& command, const aamsg_options* options) {
    // Names are shown as the narrow command line has them and handed to the library in UTF-8
    // (on Windows from the UTF-16 command line, which can spell every name).
    const char* input = argv[command.inputArg];
    const char* output = argv[command.inputArg + 1];
    printNames(input, output);
    if (!command.known) {
        std::fprintf(console(), "Unknown switch: %s\n", argv[1]);
        return kBadUsage;
    }
    const std::vector<std::string> names = utf8Arguments(argc, argv);
    if (names.size() != static_cast<std::size_t>(argc)) {
        std::fprintf(console(), "Cannot open infile %s\n", input);
        return kCannotOpenInput;
    }
    const std::string& inputName = names[static_cast<std::size_t>(command.inputArg)];
    const std::string& outputName = names[static_cast<std::size_t>(command.inputArg) + 1];
    ConsoleProgress progress = makeConsoleProgress(interrupted);
    aamsg_report report{};
    report.size = sizeof report;
    const bool pipes = command.mode == AAMSG_MODE_BEST && (isStandardStream(input) || isStandardStream(output));
    const aamsg_status status =
        pipes ? convertPipes(argc, argv, command, outputName.c_str(), options, progress, report)
              : aamsg_convert_file(inputName.c_str(), outputName.c_str(), options, printProgress, &progress, &report);
    // Stopped by Ctrl-C: the library has removed what it was writing.
    if (interrupted()) endByInterrupt();
    printEnd(progress, command.mode, status, report, command.choices, input, output);
    return exitCodeOf(status);
}

// `i [--json] file...`: at least one file; JSON prints nothing but its document.
ExitCode runInspectCommand(int argc, char** argv, const char* program) {
    const bool json = argc > 2 && std::strcmp(argv[2], "--json") == 0;
    const int first = json ? 3 : 2;
    makeOutputBinary();
    if (!json) printBanner();
    if (argc <= first || std::strncmp(argv[first], "--", 2) == 0) {
        if (json) printBanner();
        printUsage(program);
        return kBadUsage;
    }
    const std::vector<std::string> names = utf8Arguments(argc, argv);
    std::vector<InspectedFile> files;
    for (int i = first; i < argc; ++i) {
        // A name that cannot be had in UTF-8 is a file that cannot be opened.
        files.push_back({argv[i], names.size() == static_cast<std::size_t>(argc) ? names[static_cast<std::size_t>(i)] : std::string()});
    }
    return runInspect(files, json);
}

ExitCode runCommand(int argc, char** argv) {
    const char* program = (argc > 0 && argv[0] != nullptr) ? argv[0] : "aamsg";
    if (argc > 1 && (std::strcmp(argv[1], "i") == 0 || std::strcmp(argv[1], "I") == 0)) return runInspectCommand(argc, argv, program);
    Command command;
    const bool parsed = argc >= 4 && parseCommand(argc, argv, command);
    // With the message on standard output, everything else goes to standard error.
    if (parsed && command.mode == AAMSG_MODE_BEST && command.outDir == nullptr && isStandardStream(argv[command.inputArg + 1])) {
        useConsole(stderr);
    }
    printBanner();
    OptionsPtr options;
    if (!parsed || makeOptions(command, options) != kExitOk) {
        printUsage(program);
        return kBadUsage;
    }
    catchInterrupts();
    if (command.outDir != nullptr) return runFiles(argc, argv, command, *options);
    return runOne(argc, argv, command, options.get());
}

}  // namespace

int runDriver(int argc, char** argv) {
    // Nothing may end the process through std::terminate; the library catches its own, and
    // memory is the only thing the driver asks of the runtime that can run out.
    try {
        return runCommand(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("\r\nOut of memory\n", console());
    } catch (...) {
        std::fputs("\r\nInternal error\n", console());
    }
    return kInternalError;
}

}  // namespace aamsg
