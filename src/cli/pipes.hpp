// `q`'s `-`: standard input as the library's reader, standard output as its writer, and a named
// input file as a reader when the message goes to standard output.
#pragma once

#include <cstdio>

#include "aamsg.h"

namespace aamsg {

// Standard input, in binary; it seeks where it is a file (`< greeting.wav`), and the library
// copies it aside where it is a pipe. A read that an interrupt breaks fails.
aamsg_reader standardInput();

// Writes to standard output, in binary; 0 when every byte was written.
int writeStandardOutput(void* context, const void* data, std::size_t size);

// An open file as a reader.
aamsg_reader fileReader(std::FILE* file);

}  // namespace aamsg
