// Files opened by their UTF-8 names, with the checks a conversion needs: an input that is a
// regular file, and an output that is never the input and is never lost. One back end a
// platform. Failures are noted (base/failure.hpp) with the status the library gives them.
#pragma once

#include <cstdio>
#include <string>

#include "base/base.hpp"

namespace aamsg {

enum class OpenResult { kOpened, kFailed, kNotRegular, kSameFile };

// Opens a regular file for binary reading without blocking on FIFOs or devices; folders and
// devices are kNotRegular.
OpenResult openInputFile(const char* name, std::FILE*& file);

#ifdef _WIN32
using FileName = std::wstring;  // the UTF-16 name the wide file API takes
#else
using FileName = std::string;
#endif

// The output of a conversion to a named file. Where the name is a regular file or none, the
// conversion writes a temporary file beside it (beside the file a symbolic link leads to), made
// with the permissions of the file it is to replace; placeOutput then renames it over the name,
// so that the file that was there stays as it was until the new one is whole. Where that cannot
// be done (a device, a pipe, a folder where only the file itself may be written) the output is
// written where it is, as the conversion goes: `temporary` is then empty.
struct OutputFile {
    std::FILE* file = nullptr;  // open for binary writing, until a stream takes it
    FileName target;            // the name the output is to have
    FileName temporary;         // where it is written until then
    bool existed = false;       // a file had the name before

    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // closes a file no stream took, and removes a temporary file not placed
};

// Opens `name` for the output, unless it is the file `input` is open on (if there is one: it
// may be null): then nothing is created or truncated and kSameFile comes back. The check is
// made on open files, not on names, so no second name or link slips past it.
OpenResult openOutputFile(const char* name, std::FILE* input, OutputFile& output);

// After the stream wrote and closed the file: the temporary file renamed over the output's
// name. False, with the temporary file removed and the output's old file as it was, when that
// fails. True at once for an output written where it is.
bool placeOutput(OutputFile& output);

// An unnamed temporary file in the system's folder for them, open for reading and writing,
// which is gone once it is closed, or when the process ends however it ends. Null, noted as
// `whenFailing`, if none can be made.
std::FILE* openScratchFile(Status whenFailing);

}  // namespace aamsg
