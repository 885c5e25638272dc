// libFuzzer target: arbitrary bytes through the library's memory conversion, as a program
// calls it. The first byte chooses the mode and q's options, the rest is the file. Besides the
// sanitizers' verdict it checks that the status is one the mode may give, that a refused file
// writes nothing, that every message decodes to its exact size, that q's codes do not depend
// on its threads, and that an inspection of the file reads any bytes and finds what q found.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "aamsg.h"

namespace {

struct Run {
    aamsg_status status = AAMSG_INTERNAL;
    void* output = nullptr;
    std::size_t size = 0;
    aamsg_report report{};
};

// Bits 0-1 the mode (e, d, q, q), 2 a level (bits 5-7 choose it from the lowest to the
// highest), 3 trim, 4 flat.
aamsg_mode modeOf(std::uint8_t choice) {
    const unsigned mode = choice & 3u;
    return mode == 0 ? AAMSG_MODE_ENCODE : mode == 1 ? AAMSG_MODE_DECODE : AAMSG_MODE_BEST;
}

aamsg_options* optionsOf(std::uint8_t choice, unsigned threads) {
    aamsg_options* options = aamsg_options_new();
    if (options == nullptr) std::abort();
    const double level = AAMSG_MIN_LEVEL_DB + (AAMSG_MAX_LEVEL_DB - AAMSG_MIN_LEVEL_DB) * (choice >> 5) / 7.0;
    if (aamsg_options_set_mode(options, modeOf(choice)) != AAMSG_OK ||
        aamsg_options_set_level(options, (choice & 4u) != 0 ? 1 : 0, level) != AAMSG_OK ||
        aamsg_options_set_trim(options, (choice & 8u) != 0 ? 1 : 0) != AAMSG_OK ||
        aamsg_options_set_flat(options, (choice & 16u) != 0 ? 1 : 0) != AAMSG_OK ||
        aamsg_options_set_threads(options, threads) != AAMSG_OK) {
        std::abort();
    }
    return options;
}

Run convert(std::uint8_t choice, const std::uint8_t* file, std::size_t size, unsigned threads) {
    aamsg_options* options = optionsOf(choice, threads);
    Run run;
    run.report.size = sizeof run.report;
    run.status = aamsg_convert_memory(file, size, &run.output, &run.size, options, nullptr, nullptr, &run.report);
    aamsg_options_free(options);
    if ((run.output == nullptr) != (run.size == 0) || run.report.size != sizeof run.report) std::abort();
    return run;
}

bool refusal(aamsg_status status) {
    return status == AAMSG_NOT_AUDIO || status == AAMSG_NOT_PCM_WAVE || status == AAMSG_NO_AUDIO_STREAM;
}

// Any bytes are a message if no audio: the inspection refuses only a container without an
// audio track, as q does; its findings have words, and they are q's (q adds only the gain it
// applied, and its flat search takes no steady sound for noise).
void inspect(std::uint8_t choice, const std::uint8_t* file, std::size_t size, const Run& best) {
    aamsg_inspection result{};
    result.size = sizeof result;
    const aamsg_status status = aamsg_inspect_memory(file, size, &result, nullptr, nullptr);
    if ((status == AAMSG_NO_AUDIO_STREAM) != (best.status == AAMSG_NO_AUDIO_STREAM)) std::abort();
    if (status == AAMSG_NO_AUDIO_STREAM) return;
    if (status != AAMSG_OK && status != AAMSG_CORRUPTED) std::abort();
    if ((best.status == AAMSG_NOT_AUDIO) != (result.is_message != 0)) std::abort();
    if ((result.findings & AAMSG_FINDING_LARGE_GAIN) != 0 || result.format[sizeof result.format - 1] != '\0') std::abort();
    for (std::uint32_t bit = 1; bit != 0; bit <<= 1) {
        if ((result.findings & bit) != 0 && aamsg_finding_text(bit, &result, nullptr, 0) == 0) std::abort();
    }
    std::uint32_t expected = result.findings;
    if ((choice & 16u) != 0) expected &= ~AAMSG_FINDING_NOISE_ONLY;
    if (best.status == AAMSG_OK && (best.report.findings & ~AAMSG_FINDING_LARGE_GAIN) != expected) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t choice = data[0];
    const std::uint8_t* file = data + 1;
    const std::size_t fileSize = size - 1;
    const aamsg_mode mode = modeOf(choice);
    Run first = convert(choice, file, fileSize, 1);
    switch (mode) {
        case AAMSG_MODE_DECODE:
            // Every byte string is a message.
            if (first.status != AAMSG_OK || first.size != 44 + 4 * fileSize) std::abort();
            if (std::memcmp(first.output, "RIFF", 4) != 0) std::abort();
            break;
        case AAMSG_MODE_ENCODE:
        case AAMSG_MODE_BEST:
            if (first.status != AAMSG_OK && first.status != AAMSG_CORRUPTED && !refusal(first.status)) std::abort();
            if (refusal(first.status) && first.output != nullptr) std::abort();
            if (first.status == AAMSG_OK && first.report.finished == 0) std::abort();
            break;
    }
    if (mode == AAMSG_MODE_BEST) {
        // With two threads the input is read on a thread of its own and the search is split.
        Run second = convert(choice, file, fileSize, 2);
        if (second.status != first.status || second.size != first.size ||
            (first.size > 0 && std::memcmp(second.output, first.output, first.size) != 0) ||
            second.report.samples != first.report.samples || second.report.not_numbers != first.report.not_numbers) {
            std::abort();
        }
        aamsg_free(second.output);
        inspect(choice, file, fileSize, first);
    }
    aamsg_free(first.output);
    return 0;
}
