// The C API's conversion of bytes in memory into a buffer of the library's.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "api/buffer.hpp"
#include "api/call.hpp"

namespace aamsg {

namespace {

bool append(const ByteSink& sink, const std::uint8_t* bytes, std::size_t count) {
    Buffer& buffer = *static_cast<Buffer*>(sink.context);
    if (count > buffer.capacity - buffer.size) {
        // Doubled, so that a long message is copied a few times, not once a block.
        const bool fits = buffer.capacity <= SIZE_MAX / 4 && count <= SIZE_MAX / 4;
        const std::size_t capacity = fits ? std::max(2 * buffer.capacity, buffer.size + count) : 0;
        void* grown = fits ? std::realloc(buffer.data, capacity) : nullptr;
        if (grown == nullptr) {
            fail(kOutOfMemory, "no memory for an output of %zu bytes", buffer.size + count);
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

}  // namespace

ByteSink bufferSink(Buffer& buffer) { return {&buffer, append, restart}; }

Status convertIntoBuffer(const Request& request, InStream& input, Buffer& buffer, Call& call) {
    OutStream output = sinkOutput(bufferSink(buffer));
    call.outcome = runConversion(request, input, output, call.progress);
    // The only way memory can fail to take bytes.
    if (call.outcome.status == kCannotWriteOutput && lastFailure().status == kOutOfMemory) call.outcome.status = kOutOfMemory;
    return call.outcome.status;
}

void handOver(Buffer& buffer, void** output, std::size_t* outputSize) {
    if (buffer.size == 0) {
        std::free(buffer.data);
    } else {
        *output = buffer.data;
        *outputSize = buffer.size;
    }
    buffer = Buffer{};
}

}  // namespace aamsg

extern "C" {

aamsg_status aamsg_convert_memory(const void* input, size_t size, void** output, size_t* output_size,
                                  const aamsg_options* options, aamsg_progress progress, void* context, aamsg_report* report) {
    using namespace aamsg;
    if (output != nullptr) *output = nullptr;
    if (output_size != nullptr) *output_size = 0;
    if (!reportUsable(report)) return AAMSG_INVALID_ARGUMENT;
    Call call(progress, context, report);
    if (output == nullptr || output_size == nullptr) return finish(call, fail(kInvalidArgument, "no place for the output"));
    if (input == nullptr && size > 0) return finish(call, fail(kInvalidArgument, "no input bytes"));
    Buffer buffer;
    const Status status = runWithOptions(options, [&](const Request& request) {
        InStream in = memoryInput({static_cast<const std::uint8_t*>(input), size});
        return convertIntoBuffer(request, in, buffer, call);
    });
    handOver(buffer, output, output_size);
    return finish(call, status);
}

void aamsg_free(void* buffer) { std::free(buffer); }

}  // extern "C"
