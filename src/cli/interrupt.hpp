// Ctrl-C, and the other signals that ask a program to end (SIGTERM, SIGHUP): the conversion is
// stopped through its progress callback, the library removes what it was writing, and the tool
// then ends by the same signal, as a well-behaved program does, so that a shell's loop or a
// script that runs it stops too.
#pragma once

namespace aamsg {

// From now on those signals are caught (and interrupt a blocking read of standard input).
void catchInterrupts();

// Whether one was caught.
bool interrupted();

// Ends the process by the signal that was caught (on Windows as a console program ended by
// Ctrl-C does, with STATUS_CONTROL_C_EXIT).
[[noreturn]] void endByInterrupt();

}  // namespace aamsg
