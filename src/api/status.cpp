// The statuses of the C API in one table: each of the library's, its words, and what the command
// line (and every program that stands in for it, the web page among them) makes of it: its exit
// code and its closing message. Scripts read those bytes: they stay exactly as they are.
#include "api/status.hpp"

#include <algorithm>
#include <cstring>


namespace aamsg {

namespace {

enum class Name { kNone, kInput, kOutput };

// The closing message is `before`, the name, `after`; names are put in, never read as formats.
struct Wording {
    Status status;
    aamsg_status code;
    const char* text;
    int exitCode;
    const char* before;
    Name name;
    const char* after;
};

constexpr Wording kWordings[] = {
    {kOk, AAMSG_OK, "success", 0, "OK\r\n\n", Name::kNone, ""},  // printed as a line: a line feed follows
    {kCannotOpenInput, AAMSG_CANNOT_OPEN_INPUT, "the input file cannot be opened", 102, "Cannot open infile ", Name::kInput, "\n"},
    {kCannotOpenOutput, AAMSG_CANNOT_OPEN_OUTPUT, "the output file cannot be created", 103, "Cannot open outfile ", Name::kOutput, "\n"},
    {kOutputIsInput, AAMSG_OUTPUT_IS_INPUT, "the output file is the input file", 103, "Cannot open outfile ", Name::kOutput,
     ": it is the infile\n"},
    {kCannotWriteOutput, AAMSG_WRITE_FAILED, "the output could not be written", 104, "Cannot write outfile ", Name::kOutput, "\n"},
    {kCannotReadInput, AAMSG_READ_FAILED, "the input could not be read", 105, "Cannot read infile ", Name::kInput, "\n"},
    // 'q' words it otherwise: see consoleMessage.
    {kNotAudioFile, AAMSG_NOT_AUDIO, "the input is not an audio file this conversion reads (q: " AAMSG_AUDIO_FORMATS "; e: WAVE)",
     201, "", Name::kInput, " should be a RIFF WAVE file\r\n"},
    {kNotPcm, AAMSG_NOT_PCM_WAVE, "the input is not a PCM WAVE file", 202, "", Name::kInput, " should be a WAVE PCM file\r\n"},
    {kCorrupted, AAMSG_CORRUPTED, "the input is corrupted", 203, "", Name::kInput, " is corrupted\r\n"},
    {kMessageTooLong, AAMSG_TOO_LONG, "the message is too long for a WAVE file", 204, "", Name::kInput, " is too long for a WAVE file\r\n"},
    // After a line end: they may come in the middle of the progress line.
    {kOutOfMemory, AAMSG_OUT_OF_MEMORY, "out of memory", 106, "\r\nOut of memory\n", Name::kNone, ""},
    {kInternalError, AAMSG_INTERNAL, "internal error", 106, "\r\nInternal error\n", Name::kNone, ""},
    {kCancelled, AAMSG_CANCELLED, "cancelled", 106, "\r\nInternal error\n", Name::kNone, ""},
    {kInvalidArgument, AAMSG_INVALID_ARGUMENT, "invalid argument", 101, "", Name::kNone, ""},  // the tool prints its usage
    {kNoAudioStream, AAMSG_NO_AUDIO_STREAM, "the input has no audio track", 205, "", Name::kInput, " has no audio track\r\n"},
};

const Wording& wordingOf(aamsg_status status) {
    for (const Wording& wording : kWordings) {
        if (wording.code == status) return wording;
    }
    return wordingOf(AAMSG_INTERNAL);
}

// A message put together piece by piece into a buffer that may be too short: as much as fits,
// always ended by a zero byte, and the length of the whole.
struct Pieces {
    char* buffer;
    std::size_t size;
    std::size_t length = 0;

    void add(const char* piece) {
        const std::size_t n = std::strlen(piece);
        if (length + 1 < size) std::memcpy(buffer + length, piece, std::min(n, size - 1 - length));
        length += n;
        if (size > 0) buffer[std::min(length, size - 1)] = '\0';
    }
};

}  // namespace

aamsg_status publicStatus(Status status) {
    for (const Wording& wording : kWordings) {
        if (wording.status == status) return wording.code;
    }
    return AAMSG_INTERNAL;
}

}  // namespace aamsg

extern "C" {

const char* aamsg_status_text(aamsg_status status) {
    for (const aamsg::Wording& wording : aamsg::kWordings) {
        if (wording.code == status) return wording.text;
    }
    return "unknown status";
}

int aamsg_exit_code(aamsg_status status) { return aamsg::wordingOf(status).exitCode; }

size_t aamsg_console_message(aamsg_status status, aamsg_mode mode, const char* input, const char* output, char* buffer,
                             size_t size) {
    using aamsg::Name;
    aamsg::Pieces message{buffer, buffer != nullptr ? size : 0};
    if (message.size > 0) buffer[0] = '\0';
    const aamsg::Wording& wording = aamsg::wordingOf(status);
    const char* name = wording.name == Name::kInput ? input : wording.name == Name::kOutput ? output : "";
    message.add(wording.before);
    message.add(name != nullptr ? name : "");
    if (status == AAMSG_NOT_AUDIO && mode == AAMSG_MODE_BEST) {
        message.add(" should be an audio file: " AAMSG_AUDIO_FORMATS "\r\n");
    } else {
        message.add(wording.after);
    }
    return message.length;
}

}  // extern "C"
