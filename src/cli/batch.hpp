// Many files with `q` at once: each into a message of its name in one folder, over the cores.
#pragma once

#include <string>
#include <vector>

#include "aamsg.h"
#include "cli/console.hpp"

namespace aamsg {

// One input of a batch: its name as the console shows it, and in UTF-8 for the library.
struct BatchFile {
    const char* name;
    std::string path;
};

// Converts every file into `folder`/<its name without extension>.msg, several at a time, and
// prints one line a file in the given order, then "N of M converted". A file that fails leaves
// its message's name as it was (the library replaces a message only with a whole one). `options` are shared by
// every conversion (their threads are set here). Returns kExitOk when all converted, else the
// first failing file's code. `outDirName` is the folder as the console shows it.
ExitCode runBatch(aamsg_options& options, const BestChoices& choices, const char* outDirName, const std::string& folder,
                  const std::vector<BatchFile>& files);

}  // namespace aamsg
