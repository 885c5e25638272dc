// The one entry point: dispatch, the closing of the output, and what no conversion may let out.
#include <new>

#include "convert/conversions.hpp"

namespace aamsg {

namespace {

Status dispatch(const Request& request, InStream& input, OutStream& output, ProgressReport& progress, BestStats& stats) {
    switch (request.mode) {
        case Mode::Encode: return encodeToMessage(input, output, progress);
        case Mode::Decode: return decodeToWave(input, output, progress);
        case Mode::Best: return encodeBestMessage(input, output, progress, request.best, stats);
    }
    return kInternalError;
}

}  // namespace

Outcome runConversion(const Request& request, InStream& input, OutStream& output, ProgressReport& progress) {
    Outcome outcome;
    try {
        outcome.status = dispatch(request, input, output, progress, outcome.stats);
    } catch (const std::bad_alloc&) {
        outcome.status = kOutOfMemory;
    } catch (...) {
        outcome.status = kInternalError;
    }
    if (!closeOutput(output) && outcome.status == kOk) outcome.status = kCannotWriteOutput;
    return outcome;
}

}  // namespace aamsg
