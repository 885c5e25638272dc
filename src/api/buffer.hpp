// The library's memory outputs: one buffer of the C library's, grown as bytes come and handed
// to the caller, who frees it with aamsg_free.
#pragma once

#include <cstddef>
#include <cstdint>

#include "api/call.hpp"
#include "io/stream.hpp"

namespace aamsg {

struct Buffer {
    std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t capacity = 0;
};

// A sink into `buffer` that can be rewound; a failure to grow is noted as kOutOfMemory.
ByteSink bufferSink(Buffer& buffer);

// Runs the conversion from `input` into `buffer`; memory that runs out for the output is
// kOutOfMemory.
Status convertIntoBuffer(const Request& request, InStream& input, Buffer& buffer, Call& call);

// Hands the bytes to the caller (none: a null pointer and 0) and leaves `buffer` empty.
void handOver(Buffer& buffer, void** output, std::size_t* outputSize);

}  // namespace aamsg
