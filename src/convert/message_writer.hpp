// The one writer of message files: codes two to a byte, the earlier in the high nibble.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/adpcm.hpp"
#include "io/stream.hpp"

namespace aamsg {

// A file holds whole bytes, so an odd final code is never written.
struct MessageWriter {
    OutStream& output;
    std::uint64_t codes = 0;  // codes taken so far
    std::uint8_t pending = 0;
};

// False once a write has failed.
inline bool writeCode(MessageWriter& writer, unsigned code) {
    if ((writer.codes++ & 1) == 0) {
        writer.pending = static_cast<std::uint8_t>(code << kHighNibbleShift);
        return true;
    }
    return writeByte(writer.output, static_cast<std::uint8_t>(writer.pending | code));
}

inline bool writeCodes(MessageWriter& writer, const std::uint8_t* codes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (!writeCode(writer, codes[i])) return false;
    }
    return true;
}

}  // namespace aamsg
