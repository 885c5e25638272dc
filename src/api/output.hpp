// The output of a conversion into a named file, which the conversions of files and of streams
// share: written beside the file and put in its place only when it is whole (io/files.hpp).
#pragma once

#include <cstdio>

#include "api/call.hpp"

namespace aamsg {

// Runs the conversion from `input` into the file `outputName`, and puts it in place on success
// and on kCorrupted. `inputFile`, when the input is a file, is never written: a name of it is
// refused with kOutputIsInput.
Status convertToFile(InStream& input, std::FILE* inputFile, const char* outputName, const Request& request, Call& call);

}  // namespace aamsg
