// The WebAssembly module behind the web page: the command line's own entry point, on bytes in
// memory. A Web Worker calls these; progress goes to the page as the console's percentages.
#include <emscripten.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/convert.hpp"

namespace {

struct Job {
    std::vector<std::uint8_t> output;
    std::vector<std::uint8_t> preview;  // the message decoded, as the phone plays it
    aamsg::Outcome outcome;
};

Job job;

EM_JS(void, postProgress, (int percent), {
    if (typeof postMessage === "function") postMessage({type: "progress", percent: percent});
});

void onProgress(void*, int percent) { postProgress(percent); }

aamsg::Mode modeOf(int letter) {
    if (letter == 'e') return aamsg::Mode::Encode;
    if (letter == 'd') return aamsg::Mode::Decode;
    return aamsg::Mode::Best;
}

double levelOr(double db) {
    const aamsg::PromptReport& prompt = job.outcome.stats.prompt;
    return prompt.measured && prompt.active ? db : std::nan("");
}

// What the phone will play: the message decoded. A failure here leaves no preview.
void makePreview() {
    using namespace aamsg;
    InStream message = memoryInput(job.output);
    OutStream wave = memoryOutput(job.preview);
    Request request;
    request.mode = Mode::Decode;
    if (runConversion(request, message, wave, makeProgressReport(nullptr)).result != kOk) job.preview.clear();
}

}  // namespace

extern "C" {

// Runs one conversion: mode 'e', 'd' or 'q' on `size` bytes at `input`. The names go into the
// message exactly as the command line prints them. `options` are q's, as bits: 1 flat noise
// (no shaping), 2 bring the active speech level to `levelDb`, 4 trim the silence around the
// speech. Returns the exit code the command line would.
EMSCRIPTEN_KEEPALIVE int aamsg_convert(int mode, const std::uint8_t* input, std::size_t size, const char* inputName,
                                       const char* outputName, int options, double levelDb) {
    using namespace aamsg;
    job = Job{};
    Request request;
    request.mode = modeOf(mode);
    request.inputName = inputName;
    request.outputName = outputName;
    request.best.background = false;  // the worker is the second thread
    request.best.search.shaped = (options & 1) == 0;
    request.best.prompt.level = (options & 2) != 0;
    request.best.prompt.targetDb = levelDb >= kMinTargetDb && levelDb <= kMaxTargetDb ? levelDb : kDefaultTargetDb;
    request.best.prompt.trim = (options & 4) != 0;
    InStream in = memoryInput({input, size});
    OutStream out = memoryOutput(job.output);
    ProgressReport progress = makeProgressReport(nullptr);
    progress.listener = onProgress;
    job.outcome = runConversion(request, in, out, progress);
    if (job.outcome.result == kOk && request.mode != Mode::Decode) makePreview();
    return job.outcome.result;
}

EMSCRIPTEN_KEEPALIVE const std::uint8_t* aamsg_output() { return job.output.data(); }
EMSCRIPTEN_KEEPALIVE std::size_t aamsg_output_size() { return job.output.size(); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* aamsg_preview() { return job.preview.data(); }
EMSCRIPTEN_KEEPALIVE std::size_t aamsg_preview_size() { return job.preview.size(); }
EMSCRIPTEN_KEEPALIVE const char* aamsg_message() { return job.outcome.message.c_str(); }
EMSCRIPTEN_KEEPALIVE double aamsg_clipped() { return static_cast<double>(job.outcome.stats.clipped); }
EMSCRIPTEN_KEEPALIVE double aamsg_samples() { return static_cast<double>(job.outcome.stats.samples); }

// The prompt's level before and after (dB of full scale, NaN when it was not measured or holds
// no speech), the gain, and the seconds trimmed at each end.
EMSCRIPTEN_KEEPALIVE double aamsg_level_before() { return levelOr(job.outcome.stats.prompt.levelBeforeDb); }
EMSCRIPTEN_KEEPALIVE double aamsg_level_after() { return levelOr(job.outcome.stats.prompt.levelAfterDb); }
EMSCRIPTEN_KEEPALIVE double aamsg_gain() { return job.outcome.stats.prompt.gainDb; }
EMSCRIPTEN_KEEPALIVE double aamsg_trimmed_start() { return job.outcome.stats.prompt.trimmedStartSeconds; }
EMSCRIPTEN_KEEPALIVE double aamsg_trimmed_end() { return job.outcome.stats.prompt.trimmedEndSeconds; }

}
