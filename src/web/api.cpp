// The WebAssembly module behind the web page: a client of the library's memory conversions. A
// Web Worker calls these; progress goes to the page as the console's percentages, failures
// with the command line's exit codes and words, which are the library's (one table for both).
#include <emscripten.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "aamsg.h"
#include "describe.hpp"

namespace {

struct Job {
    void* output = nullptr;
    std::size_t outputSize = 0;
    void* preview = nullptr;  // the message decoded, as the phone plays it
    std::size_t previewSize = 0;
    std::string message;
    aamsg_report report{};
    std::string sounds;  // the inspections of the input and of the message, as JSON
    std::string reportWords;  // the report as JSON, made when asked for
    aamsg_status status = AAMSG_OK;
};

Job job;
unsigned searchThreads = 1;  // the page's worker is the second thread; a threaded module may have more

void clearJob() {
    aamsg_free(job.output);
    aamsg_free(job.preview);
    job = Job{};
    job.report.size = sizeof job.report;
}

// Progress goes to the module's `onProgress` when its user set one (a true answer cancels), else
// to the page from its worker.
EM_JS(int, tellProgress, (int percent), {
    if (typeof Module["onProgress"] === "function") return Module["onProgress"](percent) ? 1 : 0;
    if (typeof postMessage === "function") postMessage({type: "progress", percent: percent});
    return 0;
});

int onProgress(void*, int percent) { return tellProgress(percent); }

// A failure in the command line's words, from the library's table (the page shows them); only a
// level out of range, for which the tool prints its usage, is worded here, from the library's
// limits.
std::string messageOf(int mode, aamsg_status status, const std::string& input, const std::string& output) {
    if (status == AAMSG_INVALID_ARGUMENT) {
        char words[80];
        std::snprintf(words, sizeof words, "The level must lie between %g and %g dB\n", AAMSG_MIN_LEVEL_DB, AAMSG_MAX_LEVEL_DB);
        return words;
    }
    const auto chosen = static_cast<aamsg_mode>(mode);
    std::string message(aamsg_console_message(status, chosen, input.c_str(), output.c_str(), nullptr, 0), '\0');
    aamsg_console_message(status, chosen, input.c_str(), output.c_str(), message.data(), message.size() + 1);
    return message;
}

double levelOr(double db) { return job.report.level_measured != 0 && job.report.speech_found != 0 ? db : std::nan(""); }

struct Options {
    aamsg_options* handle = aamsg_options_new();
    Options() = default;
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;
    ~Options() { aamsg_options_free(handle); }
};

// What the phone will play: the message decoded. A failure here leaves no preview.
void makePreview() {
    Options decode;
    if (decode.handle == nullptr || aamsg_options_set_mode(decode.handle, AAMSG_MODE_DECODE) != AAMSG_OK) return;
    if (aamsg_convert_memory(job.output, job.outputSize, &job.preview, &job.previewSize, decode.handle, nullptr, nullptr, nullptr) !=
        AAMSG_OK) {
        aamsg_free(job.preview);
        job.preview = nullptr;
        job.previewSize = 0;
    }
}

aamsg_status setOptions(aamsg_options* options, int mode, int bits, double levelDb) {
    if (options == nullptr) return AAMSG_OUT_OF_MEMORY;
    const aamsg_mode chosen = mode == 'e' ? AAMSG_MODE_ENCODE : mode == 'd' ? AAMSG_MODE_DECODE : AAMSG_MODE_BEST;
    aamsg_status status = aamsg_options_set_mode(options, chosen);
    if (status == AAMSG_OK) status = aamsg_options_set_flat(options, bits & 1);
    if (status == AAMSG_OK) status = aamsg_options_set_level(options, bits & 2, levelDb);
    if (status == AAMSG_OK) status = aamsg_options_set_trim(options, bits & 4);
    if (status == AAMSG_OK) status = aamsg_options_set_threads(options, searchThreads);
    return status;
}

// An input: bytes in memory, or a file of the module's file system (the page's worker mounts
// the chosen file there, read in pieces as the library asks for them).
struct Input {
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    const char* path = nullptr;

    aamsg_status inspect(aamsg_inspection* into, aamsg_progress progress) const {
        return path != nullptr ? aamsg_inspect_file(path, into, progress, nullptr)
                               : aamsg_inspect_memory(bytes, size, into, progress, nullptr);
    }
};

// Inspects `input` into `json`, with the findings of `keep` and `add`; false when nothing could
// be measured.
bool inspectInto(const Input& input, std::string& json, std::uint32_t keep, std::uint32_t add) {
    const auto inspection = std::make_unique<aamsg_inspection>();
    inspection->size = sizeof *inspection;
    const aamsg_status status = input.inspect(inspection.get(), nullptr);
    if (status != AAMSG_OK && status != AAMSG_CORRUPTED) return false;
    json = aamsg::web::inspectionJson(*inspection, (inspection->findings & keep) | add);
    return true;
}

constexpr std::uint32_t kEveryFinding = ~0u;
constexpr int kDescribe = 8;

// The sounds of a job: what was given, and for e and q the message as the phone plays it. After
// q, the findings its options dealt with (a level set, silences trimmed) are no longer said of the
// recording; a large gain it applied is.
void describeJob(int mode, const Input& input, int options) {
    std::string given, phone;
    std::uint32_t keep = kEveryFinding, add = 0;
    if (mode == 'q') {
        if ((options & 2) != 0) keep &= ~(AAMSG_FINDING_TOO_QUIET | AAMSG_FINDING_TOO_LOUD);
        if ((options & 4) != 0) keep &= ~(AAMSG_FINDING_SILENCE_START | AAMSG_FINDING_SILENCE_END);
        add = job.report.findings & AAMSG_FINDING_LARGE_GAIN;
    }
    if (!inspectInto(input, given, keep, add)) return;
    job.sounds = "{\"sound\":" + given;
    const Input message{static_cast<const std::uint8_t*>(job.output), job.outputSize, nullptr};
    if (mode != 'd' && inspectInto(message, phone, kEveryFinding, 0)) job.sounds += ",\"phone\":" + phone;
    job.sounds += "}";
}

// A file of the module's file system, whole, into a buffer of the library's (aamsg_free frees
// it); false when there is none.
bool readWhole(const char* path, void*& data, std::size_t& size) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    const long length = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
    data = length >= 0 && std::fseek(file, 0, SEEK_SET) == 0 ? std::malloc(static_cast<std::size_t>(length) + 1) : nullptr;
    size = data != nullptr ? std::fread(data, 1, static_cast<std::size_t>(length), file) : 0;
    std::fclose(file);
    return data != nullptr && size == static_cast<std::size_t>(length);
}

// One conversion of `input`: into memory, or through the file `outputPath` (read back, then
// removed) when the input is a file.
int convertJob(int mode, const Input& input, const char* outputPath, const char* inputName, const char* outputName, int options,
               double levelDb) {
    clearJob();
    Options chosen;
    aamsg_status status = setOptions(chosen.handle, mode, options, levelDb);
    if (status == AAMSG_OK && input.path == nullptr) {
        status = aamsg_convert_memory(input.bytes, input.size, &job.output, &job.outputSize, chosen.handle, onProgress, nullptr,
                                      &job.report);
    } else if (status == AAMSG_OK) {
        status = aamsg_convert_file(input.path, outputPath, chosen.handle, onProgress, nullptr, &job.report);
        if (!readWhole(outputPath, job.output, job.outputSize) && status == AAMSG_OK) status = AAMSG_OUT_OF_MEMORY;
        std::remove(outputPath);
    }
    job.status = status;
    job.message = messageOf(mode, status, inputName, outputName);
    if (status == AAMSG_OK && mode != 'd') makePreview();
    if (status == AAMSG_OK && (options & kDescribe) != 0) describeJob(mode, input, options);
    return aamsg_exit_code(status);
}

int inspectOnly(const Input& input, const char* inputName) {
    clearJob();
    const auto inspection = std::make_unique<aamsg_inspection>();
    inspection->size = sizeof *inspection;
    const aamsg_status status = input.inspect(inspection.get(), onProgress);
    job.message = messageOf('q', status, inputName, "");
    job.status = status;
    if (status == AAMSG_OK || status == AAMSG_CORRUPTED) {
        job.sounds = "{\"sound\":" + aamsg::web::inspectionJson(*inspection, inspection->findings) + "}";
    }
    return aamsg_exit_code(status);
}

}  // namespace

extern "C" {

// Runs one conversion: mode 'e', 'd' or 'q' on `size` bytes at `input`. The names go into the
// message exactly as the command line prints them. `options` are q's, as bits: 1 flat noise
// (no shaping), 2 bring the active speech level to `levelDb`, 4 trim the silence around the
// speech; and 8 (any mode): inspect the input and the message after a success, for aamsg_sounds.
// Returns the exit code the command line would.
EMSCRIPTEN_KEEPALIVE int aamsg_convert(int mode, const std::uint8_t* input, std::size_t size, const char* inputName,
                                       const char* outputName, int options, double levelDb) {
    return convertJob(mode, Input{input, size, nullptr}, nullptr, inputName, outputName, options, levelDb);
}

// The same for the file `inputPath` of the module's file system, through the file `outputPath`.
EMSCRIPTEN_KEEPALIVE int aamsg_convert_path(int mode, const char* inputPath, const char* outputPath, const char* inputName,
                                            const char* outputName, int options, double levelDb) {
    return convertJob(mode, Input{nullptr, 0, inputPath}, outputPath, inputName, outputName, options, levelDb);
}

// Inspects `size` bytes at `input`, or the file `path`, without converting them: the picture and
// the findings of an audio file, or of a message as the phone plays it. Returns the command
// line's exit code.
EMSCRIPTEN_KEEPALIVE int aamsg_inspect(const std::uint8_t* input, std::size_t size, const char* inputName) {
    return inspectOnly(Input{input, size, nullptr}, inputName);
}
EMSCRIPTEN_KEEPALIVE int aamsg_inspect_path(const char* path, const char* inputName) {
    return inspectOnly(Input{nullptr, 0, path}, inputName);
}

EMSCRIPTEN_KEEPALIVE const char* aamsg_sounds() { return job.sounds.c_str(); }

// The search threads of the conversions that follow: 1 unless the module was built with threads
// (the codes do not depend on it).
EMSCRIPTEN_KEEPALIVE void aamsg_set_threads(unsigned threads) { searchThreads = threads > 0 ? threads : 1; }

// The last job's status (aamsg_status), its report as JSON, and a status's words.
EMSCRIPTEN_KEEPALIVE int aamsg_job_status() { return job.status; }
EMSCRIPTEN_KEEPALIVE const char* aamsg_report_json() {
    job.reportWords = aamsg::web::reportJson(job.report);
    return job.reportWords.c_str();
}
EMSCRIPTEN_KEEPALIVE const char* aamsg_words_of(int status) { return aamsg_status_text(static_cast<aamsg_status>(status)); }

EMSCRIPTEN_KEEPALIVE const void* aamsg_output() { return job.output; }
EMSCRIPTEN_KEEPALIVE std::size_t aamsg_output_size() { return job.outputSize; }
EMSCRIPTEN_KEEPALIVE const void* aamsg_preview() { return job.preview; }
EMSCRIPTEN_KEEPALIVE std::size_t aamsg_preview_size() { return job.previewSize; }
EMSCRIPTEN_KEEPALIVE const char* aamsg_message() { return job.message.c_str(); }
EMSCRIPTEN_KEEPALIVE double aamsg_clipped() { return static_cast<double>(job.report.clipped); }
EMSCRIPTEN_KEEPALIVE double aamsg_samples() { return static_cast<double>(job.report.samples); }

// The prompt's level before and after (dB of full scale, NaN when it was not measured or holds
// no speech), the gain, and the seconds trimmed at each end.
EMSCRIPTEN_KEEPALIVE double aamsg_level_before() { return levelOr(job.report.level_before_db); }
EMSCRIPTEN_KEEPALIVE double aamsg_level_after() { return levelOr(job.report.level_after_db); }
EMSCRIPTEN_KEEPALIVE double aamsg_gain() { return job.report.gain_db; }
EMSCRIPTEN_KEEPALIVE double aamsg_trimmed_start() { return job.report.trimmed_start_seconds; }
EMSCRIPTEN_KEEPALIVE double aamsg_trimmed_end() { return job.report.trimmed_end_seconds; }

}
