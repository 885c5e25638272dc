// Files opened by their UTF-8 names, with the checks a conversion needs: an input that is a
// regular file, and an output that is never the input. One back end a platform.
#pragma once

#include <cstdio>

namespace aamsg {

enum class OpenResult { kOpened, kFailed, kNotRegular, kSameFile };

// Opens a regular file for binary reading without blocking on FIFOs or devices; folders and
// devices are kNotRegular.
OpenResult openInputFile(const char* name, std::FILE*& file);

// Opens `name` for binary writing (created, or truncated), unless it is the file `input` is
// open on: then nothing is truncated and kSameFile comes back. The check is made on the open
// file, not on names, so no second name, link or rename can slip past it.
OpenResult openOutputFile(const char* name, std::FILE* input, std::FILE*& file);

}  // namespace aamsg
