// The statuses of the C API: each of the library's, and its words.
#include "api/status.hpp"

namespace aamsg {

aamsg_status publicStatus(Status status) {
    switch (status) {
        case kOk: return AAMSG_OK;
        case kCannotOpenInput: return AAMSG_CANNOT_OPEN_INPUT;
        case kCannotOpenOutput: return AAMSG_CANNOT_OPEN_OUTPUT;
        case kOutputIsInput: return AAMSG_OUTPUT_IS_INPUT;
        case kCannotWriteOutput: return AAMSG_WRITE_FAILED;
        case kCannotReadInput: return AAMSG_READ_FAILED;
        case kNotAudioFile: return AAMSG_NOT_AUDIO;
        case kNotPcm: return AAMSG_NOT_PCM_WAVE;
        case kCorrupted: return AAMSG_CORRUPTED;
        case kMessageTooLong: return AAMSG_TOO_LONG;
        case kOutOfMemory: return AAMSG_OUT_OF_MEMORY;
        case kInternalError: return AAMSG_INTERNAL;
        case kCancelled: return AAMSG_CANCELLED;
        case kInvalidArgument: return AAMSG_INVALID_ARGUMENT;
        case kNoAudioStream: return AAMSG_NO_AUDIO_STREAM;
    }
    return AAMSG_INTERNAL;
}

}  // namespace aamsg

extern "C" const char* aamsg_status_text(aamsg_status status) {
    switch (status) {
        case AAMSG_OK: return "success";
        case AAMSG_CANNOT_OPEN_INPUT: return "the input file cannot be opened";
        case AAMSG_CANNOT_OPEN_OUTPUT: return "the output file cannot be created";
        case AAMSG_OUTPUT_IS_INPUT: return "the output file is the input file";
        case AAMSG_WRITE_FAILED: return "the output could not be written";
        case AAMSG_READ_FAILED: return "the input could not be read";
        case AAMSG_NOT_AUDIO: return "the input is not an audio file this conversion reads (q: " AAMSG_AUDIO_FORMATS "; e: WAVE)";
        case AAMSG_NOT_PCM_WAVE: return "the input is not a PCM WAVE file";
        case AAMSG_CORRUPTED: return "the input is corrupted";
        case AAMSG_TOO_LONG: return "the message is too long for a WAVE file";
        case AAMSG_OUT_OF_MEMORY: return "out of memory";
        case AAMSG_INTERNAL: return "internal error";
        case AAMSG_CANCELLED: return "cancelled";
        case AAMSG_INVALID_ARGUMENT: return "invalid argument";
        case AAMSG_NO_AUDIO_STREAM: return "the input has no audio track";
    }
    return "unknown status";
}
