// The one table of result messages, for the command line and the web page alike.
#include <string>

#include "base/base.hpp"

namespace aamsg {

namespace {

// Names are arguments, never formats.
std::string withName(const char* before, const char* name, const char* after) {
    return std::string(before) + name + after;
}

}  // namespace

std::string resultMessage(Mode mode, ExitCode result, const char* inputName, const char* outputName, bool readsMp3) {
    switch (result) {
        case kOk: return "OK\r\n\n";  // printed as a line: a line feed follows
        case kNotRiffWave:
            if (mode == Mode::Best) {
                return withName("", inputName,
                                readsMp3 ? " should be an audio file: WAVE, AIFF, CAF, FLAC, Ogg, Opus or MP3\r\n"
                                         : " should be an audio file: WAVE, AIFF, CAF, FLAC, Ogg, Opus\r\n");
            }
            return withName("", inputName, " should be a RIFF WAVE file\r\n");
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

}  // namespace aamsg
