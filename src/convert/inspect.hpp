// What `i` finds in a file: an audio file measured as `q` reads it, or any other file measured
// as the message a phone would play from its bytes.
#pragma once

#include <cstdint>
#include <string>

#include "base/base.hpp"
#include "io/stream.hpp"
#include "prompt/inspect.hpp"

namespace aamsg {

struct Inspection {
    bool message = false;     // not an audio file: read as a message
    std::string description;  // the audio file's container and encoding; "message"
    std::uint32_t rate = 0;
    std::uint32_t channels = 0;
    SoundMeasures measures;
    std::uint32_t findings = 0;
};

// Measures the whole input. kOk; kCorrupted for an audio file cut short or undecodable, which
// is measured up to the fault (`result` holds it); kCannotReadInput, kCancelled, kOutOfMemory,
// kInternalError. Never throws.
Status inspectSound(InStream& input, ProgressReport& progress, Inspection& result);

}  // namespace aamsg
