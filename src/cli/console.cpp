// The command line's console: banner, usage, progress, report lines and one table of messages.
#include "cli/console.hpp"

#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define AAMSG_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define AAMSG_ISATTY(f) isatty(fileno(f))
#endif

namespace aamsg {

namespace {

enum class Name { kNone, kInput, kOutput };

// A status's exit code and message: `before`, the name, `after`. Names are arguments, never
// formats.
struct Wording {
    aamsg_status status;
    ExitCode code;
    const char* before;
    Name name;
    const char* after;
};

constexpr Wording kWordings[] = {
    {AAMSG_OK, kExitOk, "OK\r\n\n", Name::kNone, ""},  // printed as a line: a line feed follows
    {AAMSG_CANNOT_OPEN_INPUT, kCannotOpenInput, "Cannot open infile ", Name::kInput, "\n"},
    {AAMSG_CANNOT_OPEN_OUTPUT, kCannotOpenOutput, "Cannot open outfile ", Name::kOutput, "\n"},
    {AAMSG_OUTPUT_IS_INPUT, kCannotOpenOutput, "Cannot open outfile ", Name::kOutput, ": it is the infile\n"},
    {AAMSG_WRITE_FAILED, kCannotWriteOutput, "Cannot write outfile ", Name::kOutput, "\n"},
    {AAMSG_READ_FAILED, kCannotReadInput, "Cannot read infile ", Name::kInput, "\n"},
    {AAMSG_NOT_AUDIO, kNotReadable, "", Name::kInput, " should be a RIFF WAVE file\r\n"},  // `q` words it below
    {AAMSG_NOT_PCM_WAVE, kNotPcm, "", Name::kInput, " should be a WAVE PCM file\r\n"},
    {AAMSG_CORRUPTED, kCorrupted, "", Name::kInput, " is corrupted\r\n"},
    {AAMSG_TOO_LONG, kMessageTooLong, "", Name::kInput, " is too long for a WAVE file\r\n"},
    // After a line end: they may come in the middle of the progress line.
    {AAMSG_OUT_OF_MEMORY, kInternalError, "\r\nOut of memory\n", Name::kNone, ""},
    {AAMSG_INTERNAL, kInternalError, "\r\nInternal error\n", Name::kNone, ""},
    {AAMSG_CANCELLED, kInternalError, "\r\nInternal error\n", Name::kNone, ""},  // the command line never cancels
    {AAMSG_INVALID_ARGUMENT, kBadUsage, "", Name::kNone, ""},  // the caller prints the usage
    {AAMSG_NO_AUDIO_STREAM, kNoAudioTrack, "", Name::kInput, " has no audio track\r\n"},
};

const Wording& wordingOf(aamsg_status status) {
    for (const Wording& wording : kWordings) {
        if (wording.status == status) return wording;
    }
    return wordingOf(AAMSG_INTERNAL);  // a status of a newer library: a failure all the same
}

std::string formatted(const char* format, double a, double b) {
    char line[96];
    std::snprintf(line, sizeof line, format, a, b);
    return line;
}

// The lines of what `q` did to the sound.
std::string soundLines(const aamsg_report& report, const BestChoices& choices) {
    std::string lines;
    if (report.not_numbers > 0) {
        lines += "Not numbers: " + std::to_string(report.not_numbers) +
                 " input samples (NaN made silent, infinities full scale)\r\n";
    }
    if (report.clipped > 0) {
        lines += "Clipped: " + std::to_string(report.clipped) + " of " + std::to_string(report.samples) + " samples\r\n";
    }
    if (report.level_measured != 0 && report.speech_found == 0) return lines + "No active speech: left as it is\r\n";
    if (choices.level) lines += formatted("Level: %.1f dB (gain %+.1f dB)\r\n", report.level_after_db, report.gain_db);
    if (choices.trim) {
        lines += formatted("Trimmed: %.1f s at the start, %.1f s at the end\r\n", report.trimmed_start_seconds,
                           report.trimmed_end_seconds);
    }
    return lines;
}

// The findings about its input that spoil the message, a line each.
std::string warningLines(const aamsg_report& report) {
    std::string lines;
    for (std::uint32_t bit = 1; bit != 0; bit <<= 1) {
        if ((report.findings & AAMSG_WARNING_FINDINGS & bit) != 0) lines += "Warning: " + findingText(bit, nullptr) + "\r\n";
    }
    return lines;
}

// The lines `q` prints before its result, one for each thing it did to the sound, then its
// warnings.
std::string reportLines(const aamsg_report& report, const BestChoices& choices) {
    return soundLines(report, choices) + warningLines(report);
}

}  // namespace

ExitCode exitCodeOf(aamsg_status status) { return wordingOf(status).code; }

std::string findingText(std::uint32_t finding, const aamsg_inspection* inspection) {
    std::string text(aamsg_finding_text(finding, inspection, nullptr, 0), '\0');
    aamsg_finding_text(finding, inspection, text.data(), text.size() + 1);
    return text;
}

std::string statusMessage(aamsg_mode mode, aamsg_status status, const char* input, const char* output) {
    const Wording& wording = wordingOf(status);
    if (status == AAMSG_NOT_AUDIO && mode == AAMSG_MODE_BEST) return std::string(input) + " should be an audio file: " AAMSG_AUDIO_FORMATS "\r\n";
    const char* name = wording.name == Name::kInput ? input : wording.name == Name::kOutput ? output : "";
    return std::string(wording.before) + name + wording.after;
}

std::string closingText(aamsg_mode mode, aamsg_status status, const aamsg_report& report, const BestChoices& choices,
                        const char* input, const char* output) {
    const std::string lines = status == AAMSG_OK && mode == AAMSG_MODE_BEST ? reportLines(report, choices) : std::string();
    return lines + statusMessage(mode, status, input, output);
}

void makeOutputBinary() {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

void printBanner() {
    makeOutputBinary();
    std::fputs("WAVE to KORAM Auto Attendant Message encoder/decoder (c) the aamsg developers\r\n", stdout);
}

// Scripts may read the encode and decode lines: they stay first, as they are.
void printUsage(const char* program) {
    std::printf("Usage:\n encode: %s e infile outfile\n decode: %s d infile outfile\n", program, program);
    std::printf(" best:   %s q [options] infile outfile\n         %s q [options] --out-dir=DIR infile...\n", program, program);
    std::printf(" inspect: %s i [--json] file...\n", program);
    std::fputs(" options of q:\n"
               "  --level[=DB]  bring the active speech level to DB dB of full scale (-22)\n"
               "  --trim        remove silence before and after the speech\n"
               "  --flat        no noise shaping: the least plain error\n",
               stdout);
}

void printNames(const char* input, const char* output) { std::printf("Input file:\t%s\r\nOutput file:\t%s\r\n", input, output); }

ConsoleProgress makeConsoleProgress() { return {AAMSG_ISATTY(stdout) != 0}; }

int printProgress(void* console, int percent) {
    if (percent == 0) {
        std::fputs("\r\nProgress: 0%", stdout);
    } else {
        std::printf("\rProgress: %d%%", percent);
    }
    // Each mark overwrites one console line, so a terminal must see it at once.
    if (static_cast<const ConsoleProgress*>(console)->flushEach) std::fflush(stdout);
    return 0;
}

void printEnd(const ConsoleProgress& console, aamsg_mode mode, aamsg_status status, const aamsg_report& report,
              const BestChoices& choices, const char* input, const char* output) {
    if (report.finished != 0) {
        std::printf("\r\nTotal time: %um %us\r\n", static_cast<unsigned>(report.seconds / 60), static_cast<unsigned>(report.seconds % 60));
        if (console.flushEach) std::fflush(stdout);
    }
    std::fputs(closingText(mode, status, report, choices, input, output).c_str(), stdout);
}

}  // namespace aamsg
