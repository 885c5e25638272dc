// The command line's arguments as the library takes file names: UTF-8.
#pragma once

#include <string>
#include <vector>

namespace aamsg {

// Each argument in UTF-8: on Windows taken from the UTF-16 command line, which can spell every
// name (the narrow argv holds the ANSI code page's spelling); elsewhere argv's bytes. Empty if
// they cannot be had.
std::vector<std::string> utf8Arguments(int argc, char** argv);

}  // namespace aamsg
