// The command-line driver: arguments, files, one conversion, its message and exit status.
#include <cstring>
#include <exception>
#include <new>

#include "cli/cli.hpp"
#include "audio/audio.hpp"
#include "convert/convert.hpp"
#include "io/stream.hpp"

namespace aamsg {

namespace {

void lowercaseAscii(char* text) {
    for (; *text != '\0'; ++text) {
        if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
    }
}

ExitCode runCommand(int argc, char** argv) {
    setBinaryStdout();
    std::fputs("WAVE to KORAM Auto Attendant Message encoder/decoder (c) the aamsg developers\r\n", stdout);

    const char* program = (argc > 0 && argv[0] != nullptr) ? argv[0] : "aamsg";
    if (argc < 4) {
        std::printf("Usage:\n encode: %s e infile outfile\n decode: %s d infile outfile\n", program, program);
        return kBadUsage;
    }
    char* switchArg = argv[1];
    // Names are shown as the narrow command line has them and opened as the platform's file
    // API takes them (on Windows the UTF-16 command line, which can spell every name).
    const char* inputName = argv[2];
    const char* outputName = argv[3];
    std::printf("Input file:\t%s\r\nOutput file:\t%s\r\n", inputName, outputName);

    lowercaseAscii(switchArg);
    Mode mode{};
    if (std::strcmp(switchArg, "e") == 0) {
        mode = Mode::Encode;
    } else if (std::strcmp(switchArg, "d") == 0) {
        mode = Mode::Decode;
    } else if (std::strcmp(switchArg, "q") == 0) {
        mode = Mode::Best;
    } else {
        std::printf("Unknown switch: %s\n", switchArg);
        return kBadUsage;
    }

    const std::vector<const PathChar*> paths = argumentPaths(argc, argv);
    std::FILE* inputFile = nullptr;
    if (paths.size() < 4 || openInputFile(paths[2], inputFile) != OpenResult::kOpened) {
        std::printf("Cannot open infile %s\n", inputName);
        return kCannotOpenInput;
    }
    std::FILE* outputFile = nullptr;
    switch (openOutputFile(paths[3], inputFile, outputFile)) {
        case OpenResult::kOpened: break;
        case OpenResult::kSameFile:
            std::printf("Cannot open outfile %s: it is the infile\n", outputName);
            std::fclose(inputFile);
            return kCannotOpenOutput;
        default:
            std::printf("Cannot open outfile %s\n", outputName);
            std::fclose(inputFile);
            return kCannotOpenOutput;
    }

    InStream input = fileInput(inputFile);
    OutStream output = fileOutput(outputFile);
    const ProgressReport progress = makeProgressReport(stdout);
    BestEncodeStats stats;
    ExitCode result = kOk;
    switch (mode) {
        case Mode::Encode: result = encodeToMessage(input, output, progress); break;
        case Mode::Decode: result = decodeToWave(input, output, progress); break;
        case Mode::Best: result = encodeBestMessage(input, output, progress, BestEncodeOptions{}, stats); break;
    }
    // Success is only claimed once every byte has reached the file.
    const bool written = flushOutput(output);
    const bool closed = std::fclose(outputFile) == 0;
    if (result == kOk && !(written && closed)) result = kCannotWriteOutput;
    std::fclose(inputFile);
    if (result == kOk && stats.clipped > 0) {
        std::printf("Clipped: %llu of %llu samples\r\n", static_cast<unsigned long long>(stats.clipped),
                    static_cast<unsigned long long>(stats.samples));
    }
    std::fputs(resultMessage(mode, result, inputName, outputName, readsMp3()).c_str(), stdout);
    return result;
}

}  // namespace

int runDriver(int argc, char** argv) {
    // Nothing may end the process through std::terminate; memory is the only thing the
    // conversions ask of the runtime that can run out.
    try {
        return runCommand(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("\r\nOut of memory\n", stdout);
    } catch (...) {
        std::fputs(resultMessage(Mode::Encode, kInternalError, "", "", false).c_str(), stdout);
    }
    return kInternalError;
}

}  // namespace aamsg
