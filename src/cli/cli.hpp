// The command line: the conversion direction and the driver that ties a run together.
#pragma once

#include "base/base.hpp"

namespace aamsg {

// `e` and `d` are the format's exact conversions; `q` encodes any audio file as well as the
// format allows.
enum class Mode { Encode, Decode, Best };

// Runs one command line; prints to standard output and returns the process exit status.
int runDriver(int argc, char** argv);

}  // namespace aamsg
