// The command line: the conversion direction and the driver that ties a run together.
#pragma once

#include "base/base.hpp"

namespace aamsg {

enum class Mode { Encode, Decode };

// Runs one command line; prints to standard output and returns the process exit status.
int runDriver(int argc, char** argv);

}  // namespace aamsg
