// Many files with `q` at once: each into a message of its name in one folder, over the cores.
#pragma once

#include <vector>

#include "convert/convert.hpp"
#include "io/stream.hpp"

namespace aamsg {

// One input of a batch: its name as the console shows it and as the file API opens it.
struct BatchFile {
    const char* name;
    const PathChar* path;
};

// Converts every file into `outDir`/<its name without extension>.msg, several at a time, and
// prints one line a file in the given order, then "N of M converted". A file that fails leaves
// nothing under its message's name (a message that was there stays). Returns kOk when all
// converted, else the first failing file's code.
ExitCode runBatch(const BestOptions& options, const char* outDirName, const PathChar* outDirPath,
                  const std::vector<BatchFile>& files);

}  // namespace aamsg
