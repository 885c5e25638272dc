// The command line's console: banner, usage, progress and report lines. The closing message of
// each status and the exit code come from the library's one table of them.
#include "cli/console.hpp"

#include <cstdio>
#include <vector>

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

// Standard output, unless the message itself goes there.
std::FILE* consoleStream = stdout;

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

void useConsole(std::FILE* stream) { consoleStream = stream; }

std::FILE* console() { return consoleStream; }

ExitCode exitCodeOf(aamsg_status status) { return static_cast<ExitCode>(aamsg_exit_code(status)); }

std::string findingText(std::uint32_t finding, const aamsg_inspection* inspection) {
    std::string text(aamsg_finding_text(finding, inspection, nullptr, 0), '\0');
    aamsg_finding_text(finding, inspection, text.data(), text.size() + 1);
    return text;
}

std::string statusMessage(aamsg_mode mode, aamsg_status status, const char* input, const char* output) {
    std::vector<char> text(aamsg_console_message(status, mode, input, output, nullptr, 0) + 1);
    aamsg_console_message(status, mode, input, output, text.data(), text.size());
    return text.data();
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
#ifdef _WIN32
    _setmode(_fileno(consoleStream), _O_BINARY);
#endif
    std::fputs("WAVE to KORAM Auto Attendant Message encoder/decoder (c) the aamsg developers\r\n", consoleStream);
}

// Scripts may read the encode and decode lines: they stay first, as they are.
void printUsage(const char* program) {
    std::fprintf(consoleStream, "Usage:\n encode: %s e infile outfile\n decode: %s d infile outfile\n", program, program);
    std::fprintf(consoleStream, " best:   %s q [options] infile outfile\n         %s q [options] --out-dir=DIR infile...\n", program,
                 program);
    std::fprintf(consoleStream, " inspect: %s i [--json] file...\n", program);
    std::fputs(" options of q:\n"
               "  --level[=DB]  bring the active speech level to DB dB of full scale (-22)\n"
               "  --trim        remove silence before and after the speech\n"
               "  --flat        no noise shaping: the least plain error\n"
               "  -             as infile or outfile: standard input or output\n"
               " q and i read: " AAMSG_AUDIO_FORMATS "\n",
               consoleStream);
}

void printNames(const char* input, const char* output) {
    std::fprintf(consoleStream, "Input file:\t%s\r\nOutput file:\t%s\r\n", input, output);
}

ConsoleProgress makeConsoleProgress(bool (*stop)()) { return {AAMSG_ISATTY(consoleStream) != 0, stop}; }

int printProgress(void* context, int percent) {
    const auto& progress = *static_cast<const ConsoleProgress*>(context);
    if (percent == 0) {
        std::fputs("\r\nProgress: 0%", consoleStream);
    } else {
        std::fprintf(consoleStream, "\rProgress: %d%%", percent);
    }
    // Each mark overwrites one console line, so a terminal must see it at once.
    if (progress.flushEach) std::fflush(consoleStream);
    return progress.stop != nullptr && progress.stop() ? 1 : 0;
}

void printEnd(const ConsoleProgress& progress, aamsg_mode mode, aamsg_status status, const aamsg_report& report,
              const BestChoices& choices, const char* input, const char* output) {
    if (report.finished != 0) {
        std::fprintf(consoleStream, "\r\nTotal time: %um %us\r\n", static_cast<unsigned>(report.seconds / 60),
                     static_cast<unsigned>(report.seconds % 60));
        if (progress.flushEach) std::fflush(consoleStream);
    }
    std::fputs(closingText(mode, status, report, choices, input, output).c_str(), consoleStream);
}

}  // namespace aamsg
