// The WebAssembly module behind the web page: the command line's own conversions, on bytes in
// memory. A Web Worker calls these; progress goes to the page as the console's percentages.
#include <emscripten.h>

#include <cstdint>
#include <string>
#include <vector>

#include "audio/audio.hpp"
#include "convert/convert.hpp"

namespace {

struct Job {
    std::vector<std::uint8_t> output;
    std::vector<std::uint8_t> preview;  // the message decoded, as the phone plays it
    std::string message;
    std::uint64_t clipped = 0;
    std::uint64_t samples = 0;
};

Job job;

EM_JS(void, postProgress, (int percent), {
    if (typeof postMessage === "function") postMessage({type: "progress", percent: percent});
});

void onProgress(void*, int percent) { postProgress(percent); }

}  // namespace

extern "C" {

// Runs one conversion: mode 'e', 'd' or 'q' on `size` bytes at `input`. The names go into the
// message exactly as the command line prints them. Returns the exit code the command line would.
EMSCRIPTEN_KEEPALIVE int aamsg_convert(int mode, const std::uint8_t* input, std::size_t size, const char* inputName,
                                       const char* outputName) {
    using namespace aamsg;
    job = Job{};
    InStream in = memoryInput({input, size});
    OutStream out = memoryOutput(job.output);
    ProgressReport progress = makeProgressReport(nullptr);
    progress.listener = onProgress;
    ExitCode result = kOk;
    Mode which = Mode::Best;
    if (mode == 'e') {
        which = Mode::Encode;
        result = encodeToMessage(in, out, progress);
    } else if (mode == 'd') {
        which = Mode::Decode;
        result = decodeToWave(in, out, progress);
    } else {
        BestEncodeStats stats;
        BestEncodeOptions options;
        options.background = false;  // the worker is the second thread
        result = encodeBestMessage(in, out, progress, options, stats);
        job.clipped = stats.clipped;
        job.samples = stats.samples;
    }
    if (!flushOutput(out) && result == kOk) result = kCannotWriteOutput;
    job.message = resultMessage(which, result, inputName, outputName, readsMp3());
    if (result == kOk && which != Mode::Decode) {
        InStream message = memoryInput(job.output);
        OutStream wave = memoryOutput(job.preview);
        decodeToWave(message, wave, makeProgressReport(nullptr));
        flushOutput(wave);
    }
    return result;
}

EMSCRIPTEN_KEEPALIVE const std::uint8_t* aamsg_output() { return job.output.data(); }
EMSCRIPTEN_KEEPALIVE std::size_t aamsg_output_size() { return job.output.size(); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* aamsg_preview() { return job.preview.data(); }
EMSCRIPTEN_KEEPALIVE std::size_t aamsg_preview_size() { return job.preview.size(); }
EMSCRIPTEN_KEEPALIVE const char* aamsg_message() { return job.message.c_str(); }
EMSCRIPTEN_KEEPALIVE double aamsg_clipped() { return static_cast<double>(job.clipped); }
EMSCRIPTEN_KEEPALIVE double aamsg_samples() { return static_cast<double>(job.samples); }

}
