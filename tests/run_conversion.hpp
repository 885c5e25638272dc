// Runs a conversion on in-memory files and collects its result, output and console bytes.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "convert/convert.hpp"
#include "wave_builder.hpp"

namespace aamsg::test {

struct Outcome {
    ExitCode result;
    Bytes output;
    std::string console;
};

using Conversion = std::function<ExitCode(InStream&, OutStream&, ProgressReport)>;

inline Outcome convert(const Conversion& conversion, const Bytes& input, std::size_t block = kDefaultBlockSize,
                      std::uint64_t outputCapacity = UINT64_MAX, std::uint64_t failReadAt = UINT64_MAX) {
    Outcome run{};
    std::FILE* console = std::tmpfile();
    InStream in = memoryInput(input, block);
    in.memoryFailAt = failReadAt;
    OutStream out = memoryOutput(run.output, block);
    out.memoryCapacity = outputCapacity;
    run.result = conversion(in, out, makeProgressReport(console));
    if (!flushOutput(out) && run.result == kOk) run.result = kCannotWriteOutput;
    std::rewind(console);
    for (int c = std::fgetc(console); c != EOF; c = std::fgetc(console)) run.console.push_back(static_cast<char>(c));
    std::fclose(console);
    return run;
}

}  // namespace aamsg::test
