// The one entry point: dispatch, the closing of the output, and what no conversion may let out.
#include <exception>
#include <new>

#include "base/failure.hpp"
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
        outcome.status = fail(kOutOfMemory, "memory ran out during the conversion");
    } catch (const std::exception& error) {
        outcome.status = fail(kInternalError, "the conversion failed unforeseen: %s", error.what());
    } catch (...) {
        outcome.status = fail(kInternalError, "the conversion failed unforeseen");
    }
    if (!closeOutput(output) && outcome.status == kOk) outcome.status = kCannotWriteOutput;
    return outcome;
}

}  // namespace aamsg
