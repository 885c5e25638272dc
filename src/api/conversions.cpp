// The C API's conversions: file to file by UTF-8 names, and memory to memory. Nothing thrown
// inside crosses back to the caller.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "api/options.hpp"
#include "api/report.hpp"
#include "api/status.hpp"
#include "io/files.hpp"

namespace aamsg {

namespace {

struct Caller {
    aamsg_progress progress = nullptr;
    void* context = nullptr;
};

bool tellCaller(void* caller, int percent) {
    const Caller& c = *static_cast<const Caller*>(caller);
    return c.progress(c.context, percent) == 0;
}

ProgressReport progressFor(Caller& caller) {
    ProgressReport progress;
    if (caller.progress != nullptr) {
        progress.listener = tellCaller;
        progress.listenerContext = &caller;
    }
    return progress;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

Status convertFiles(const char* inputName, const char* outputName, const Request& request, ProgressReport& progress,
                    Outcome& outcome) {
    std::FILE* opened = nullptr;
    if (openInputFile(inputName, opened) != OpenResult::kOpened) return kCannotOpenInput;
    const FilePtr inputFile(opened);
    switch (openOutputFile(outputName, inputFile.get(), opened)) {
        case OpenResult::kOpened: break;
        case OpenResult::kSameFile: return kOutputIsInput;
        default: return kCannotOpenOutput;
    }
    FilePtr outputFile(opened);
    InStream input = fileInput(inputFile.get());
    OutStream output = fileOutput(outputFile.get());
    outputFile.release();  // the conversion closes it, whatever happens
    outcome = runConversion(request, input, output, progress);
    return outcome.status;
}

// The memory output: one buffer of the C library's, grown as bytes come, handed to the caller.
struct Buffer {
    std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t capacity = 0;
    bool outOfMemory = false;
};

bool append(const ByteSink& sink, const std::uint8_t* bytes, std::size_t count) {
    Buffer& buffer = *static_cast<Buffer*>(sink.context);
    if (count > buffer.capacity - buffer.size) {
        // Doubled, so that a long message is copied a few times, not once a block.
        const bool fits = buffer.capacity <= SIZE_MAX / 4 && count <= SIZE_MAX / 4;
        const std::size_t capacity = fits ? std::max(2 * buffer.capacity, buffer.size + count) : 0;
        void* grown = fits ? std::realloc(buffer.data, capacity) : nullptr;
        if (grown == nullptr) {
            buffer.outOfMemory = true;
            return false;
        }
        buffer.data = static_cast<std::uint8_t*>(grown);
        buffer.capacity = capacity;
    }
    std::memcpy(buffer.data + buffer.size, bytes, count);
    buffer.size += count;
    return true;
}

bool restart(const ByteSink& sink) {
    static_cast<Buffer*>(sink.context)->size = 0;
    return true;
}

Status convertMemory(const void* bytes, std::size_t size, Buffer& buffer, const Request& request, ProgressReport& progress,
                     Outcome& outcome) {
    InStream input = memoryInput({static_cast<const std::uint8_t*>(bytes), size});
    OutStream output = sinkOutput({&buffer, append, restart});
    outcome = runConversion(request, input, output, progress);
    // The only way memory can fail to take bytes.
    if (outcome.status == kCannotWriteOutput && buffer.outOfMemory) outcome.status = kOutOfMemory;
    return outcome.status;
}

// What escaped the conversion (it lets nothing out; the set-up around it may).
Status statusOf(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    } catch (...) {
        return kInternalError;
    }
}

}  // namespace

}  // namespace aamsg

extern "C" {

aamsg_status aamsg_convert_file(const char* input, const char* output, const aamsg_options* options, aamsg_progress progress,
                                void* context, aamsg_report* report) {
    using namespace aamsg;
    if (input == nullptr || output == nullptr || !reportUsable(report)) return AAMSG_INVALID_ARGUMENT;
    Caller caller{progress, context};
    ProgressReport marks = progressFor(caller);
    Outcome outcome;
    try {
        outcome.status = convertFiles(input, output, requestOf(options), marks, outcome);
    } catch (...) {
        outcome.status = statusOf(std::current_exception());
    }
    fillReport(report, outcome, marks);
    return publicStatus(outcome.status);
}

aamsg_status aamsg_convert_memory(const void* input, size_t size, void** output, size_t* output_size,
                                  const aamsg_options* options, aamsg_progress progress, void* context, aamsg_report* report) {
    using namespace aamsg;
    if (output == nullptr || output_size == nullptr) return AAMSG_INVALID_ARGUMENT;
    *output = nullptr;
    *output_size = 0;
    if ((input == nullptr && size > 0) || !reportUsable(report)) return AAMSG_INVALID_ARGUMENT;
    Caller caller{progress, context};
    ProgressReport marks = progressFor(caller);
    Buffer buffer;
    Outcome outcome;
    try {
        outcome.status = convertMemory(input, size, buffer, requestOf(options), marks, outcome);
    } catch (...) {
        outcome.status = statusOf(std::current_exception());
    }
    if (buffer.size == 0) {
        std::free(buffer.data);
    } else {
        *output = buffer.data;
        *output_size = buffer.size;
    }
    fillReport(report, outcome, marks);
    return publicStatus(outcome.status);
}

void aamsg_free(void* buffer) { std::free(buffer); }

}  // extern "C"
