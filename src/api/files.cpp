// The C API's conversion of one named file into another, which replaces the output only when
// the conversion is whole.
#include <memory>

#include "api/call.hpp"
#include "api/output.hpp"
#include "io/files.hpp"

namespace aamsg {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Whether a conversion that ended so puts its output in place: a whole one, and one of an
// input cut short, whose message holds everything the input held.
bool keeps(Status status) { return status == kOk || status == kCorrupted; }

Status convertFiles(const char* inputName, const char* outputName, const Request& request, Call& call) {
    std::FILE* opened = nullptr;
    if (openInputFile(inputName, opened) != OpenResult::kOpened) return kCannotOpenInput;
    const FilePtr inputFile(opened);
    InStream input = fileInput(inputFile.get());
    return convertToFile(input, inputFile.get(), outputName, request, call);
}

}  // namespace

Status convertToFile(InStream& input, std::FILE* inputFile, const char* outputName, const Request& request, Call& call) {
    OutputFile output;
    switch (openOutputFile(outputName, inputFile, output)) {
        case OpenResult::kOpened: break;
        case OpenResult::kSameFile: return kOutputIsInput;
        default: return kCannotOpenOutput;
    }
    // A file that is to replace another reaches the disk before it does.
    OutStream out = output.temporary.empty() ? fileOutput(output.file) : durableFileOutput(output.file);
    output.file = nullptr;  // the conversion closes it, whatever happens
    call.outcome = runConversion(request, input, out, call.progress);
    if (!keeps(call.outcome.status)) return call.outcome.status;  // `output` removes the temporary file
    if (!placeOutput(output)) call.outcome.status = kCannotWriteOutput;
    return call.outcome.status;
}

}  // namespace aamsg

extern "C" aamsg_status aamsg_convert_file(const char* input, const char* output, const aamsg_options* options,
                                           aamsg_progress progress, void* context, aamsg_report* report) {
    using namespace aamsg;
    if (!reportUsable(report)) return AAMSG_INVALID_ARGUMENT;
    Call call(progress, context, report);
    if (input == nullptr || output == nullptr) return finish(call, fail(kInvalidArgument, "a file name is null"));
    return finish(call, runWithOptions(options, [&](const Request& request) { return convertFiles(input, output, request, call); }));
}
