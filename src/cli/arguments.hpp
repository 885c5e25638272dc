// The command line's arguments as the library takes file names: UTF-8.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace aamsg {

// Each argument in UTF-8: on Windows taken from the UTF-16 command line, which can spell every
// name (the narrow argv holds the ANSI code page's spelling); elsewhere argv's bytes. Empty if
// they cannot be had.
std::vector<std::string> utf8Arguments(int argc, char** argv);

// The regular file argument `index` names, opened for binary reading by the name as the command
// line has it (on Windows its UTF-16 spelling); null if it cannot be, or is a folder, a device or
// a pipe. For `q`'s input when the message goes to standard output; every other file is the
// library's to open.
std::FILE* openInputArgument(int argc, char** argv, int index);

}  // namespace aamsg
