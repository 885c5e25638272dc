// Everything the command line prints, and the exit status each outcome ends with. Scripts read
// these bytes: they stay exactly as they are. The closing message and exit code of each of the
// library's statuses are the library's (aamsg_console_message, aamsg_exit_code).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "aamsg.h"

namespace aamsg {

// The process exit status: the command line's words for how a run ended.
enum ExitCode : int {
    kExitOk = 0,
    kBadUsage = 101,
    kCannotOpenInput = 102,
    kCannotOpenOutput = 103,
    kCannotWriteOutput = 104,
    kCannotReadInput = 105,
    kInternalError = 106,  // out of memory, or a failure the program did not foresee
    kNotReadable = 201,    // `e`: not RIFF WAVE; `q`: no audio file the library reads
    kNotPcm = 202,
    kCorrupted = 203,
    kMessageTooLong = 204,
    kNoAudioTrack = 205,   // `q`: a container without an audio track (a video alone)
};

ExitCode exitCodeOf(aamsg_status status);

// What `q` was asked to do to the sound, for its report lines.
struct BestChoices {
    bool level = false;
    bool trim = false;
};

// Where the console goes: standard output, or standard error when the message goes to standard
// output. Chosen before anything is printed.
void useConsole(std::FILE* stream);
std::FILE* console();

// Standard output made binary where the C runtime would rewrite line ends.
void makeOutputBinary();
// The banner, with the console made binary where the C runtime would rewrite line ends.
void printBanner();
void printUsage(const char* program);
void printNames(const char* input, const char* output);

// The running percentage, as the library's progress callback: a line overwritten at each mark,
// shown at once when the console is a terminal. It stops the conversion once `stop` says so.
struct ConsoleProgress {
    bool flushEach = false;
    bool (*stop)() = nullptr;
};
ConsoleProgress makeConsoleProgress(bool (*stop)());
int printProgress(void* context, int percent);

// After the progress: the duration line when the conversion finished, then the closing text.
void printEnd(const ConsoleProgress& progress, aamsg_mode mode, aamsg_status status, const aamsg_report& report,
              const BestChoices& choices, const char* input, const char* output);

// The closing text: `q`'s report lines on success, then the status's message (with its line
// ends, as printed). `input` and `output` are the names as the console shows them.
std::string closingText(aamsg_mode mode, aamsg_status status, const aamsg_report& report, const BestChoices& choices,
                        const char* input, const char* output);

// A finding's words from the library, with the numbers of `inspection` (null: without them).
std::string findingText(std::uint32_t finding, const aamsg_inspection* inspection);

// The message of one status alone.
std::string statusMessage(aamsg_mode mode, aamsg_status status, const char* input, const char* output);

}  // namespace aamsg
