// `i`: what each file's sound says, as text for people or as one JSON document for scripts.
#pragma once

#include <string>
#include <vector>

#include "cli/console.hpp"

namespace aamsg {

// One file to inspect: its name as the console shows it, and in UTF-8 for the library and JSON.
struct InspectedFile {
    const char* name;
    std::string path;
};

// Inspects every file in the order given and prints what it finds: after the banner, a block a
// file; with `json`, one JSON document and nothing else. Returns kExitOk when every file was
// read, whatever it holds; otherwise the code of the first file (in the order given) that
// could not be.
ExitCode runInspect(const std::vector<InspectedFile>& files, bool json);

// A JSON string literal of UTF-8 text, quotes included; bytes that are not UTF-8 become U+FFFD.
std::string jsonString(const std::string& text);

}  // namespace aamsg
