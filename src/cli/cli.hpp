// The command line: the driver that ties a run together, from arguments to exit status.
#pragma once

namespace aamsg {

// Runs one command line; prints to standard output (to standard error when the message goes to
// standard output) and returns the process exit status.
int runDriver(int argc, char** argv);

}  // namespace aamsg
