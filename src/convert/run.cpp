// The one entry point: dispatch, the closing of the output, and the console's closing text.
#include <cstdio>
#include <new>

#include "audio/audio.hpp"
#include "convert/conversions.hpp"

namespace aamsg {

namespace {

// Names are arguments, never formats.
std::string withName(const char* before, const char* name, const char* after) {
    return std::string(before) + name + after;
}

std::string notAudioMessage(const char* inputName) {
    return withName("", inputName,
                    readsMp3() ? " should be an audio file: WAVE, AIFF, CAF, FLAC, Ogg, Opus or MP3\r\n"
                               : " should be an audio file: WAVE, AIFF, CAF, FLAC, Ogg, Opus\r\n");
}

std::string formatted(const char* format, double a, double b) {
    char line[96];
    std::snprintf(line, sizeof line, format, a, b);
    return line;
}

// The lines `q` prints before its result.
std::string bestReport(const BestOptions& options, const BestStats& stats) {
    std::string report;
    if (stats.clipped > 0) {
        report += "Clipped: " + std::to_string(stats.clipped) + " of " + std::to_string(stats.samples) + " samples\r\n";
    }
    const PromptReport& prompt = stats.prompt;
    if (prompt.measured && !prompt.active) return report + "No active speech: left as it is\r\n";
    if (options.prompt.level) report += formatted("Level: %.1f dB (gain %+.1f dB)\r\n", prompt.levelAfterDb, prompt.gainDb);
    if (options.prompt.trim) {
        report += formatted("Trimmed: %.1f s at the start, %.1f s at the end\r\n", prompt.trimmedStartSeconds, prompt.trimmedEndSeconds);
    }
    return report;
}

ExitCode dispatch(const Request& request, InStream& input, OutStream& output, ProgressReport progress, BestStats& stats) {
    switch (request.mode) {
        case Mode::Encode: return encodeToMessage(input, output, progress);
        case Mode::Decode: return decodeToWave(input, output, progress);
        case Mode::Best: return encodeBestMessage(input, output, progress, request.best, stats);
    }
    return kInternalError;
}

}  // namespace

std::string resultMessage(Mode mode, ExitCode result, const char* inputName, const char* outputName) {
    switch (result) {
        case kOk: return "OK\r\n\n";  // printed as a line: a line feed follows
        case kNotRiffWave:
            return mode == Mode::Best ? notAudioMessage(inputName) : withName("", inputName, " should be a RIFF WAVE file\r\n");
        case kNotPcm: return withName("", inputName, " should be a WAVE PCM file\r\n");
        case kCorrupted: return withName("", inputName, " is corrupted\r\n");
        case kMessageTooLong: return withName("", inputName, " is too long for a WAVE file\r\n");
        case kCannotWriteOutput: return withName("Cannot write outfile ", outputName, "\n");
        case kCannotReadInput: return withName("Cannot read infile ", inputName, "\n");
        // After a line end: it may come in the middle of the progress line.
        case kInternalError: return "\r\nInternal error\n";
        default: return {};
    }
}

Outcome runConversion(const Request& request, InStream& input, OutStream& output, ProgressReport progress) {
    Outcome outcome;
    try {
        outcome.result = dispatch(request, input, output, progress, outcome.stats);
    } catch (const std::bad_alloc&) {
        outcome.result = kInternalError;
        outcome.message = "\r\nOut of memory\n";
    } catch (...) {
        outcome.result = kInternalError;
    }
    if (!closeOutput(output) && outcome.result == kOk) outcome.result = kCannotWriteOutput;
    if (outcome.message.empty()) {
        if (outcome.result == kOk && request.mode == Mode::Best) outcome.message = bestReport(request.best, outcome.stats);
        outcome.message += resultMessage(request.mode, outcome.result, request.inputName, request.outputName);
    }
    return outcome;
}

}  // namespace aamsg
