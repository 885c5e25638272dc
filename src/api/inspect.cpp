// The C API's inspection: a file or memory measured, and the result filled as far as the
// caller's struct reaches.
#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>

#include "aamsg.h"
#include "api/call.hpp"
#include "api/status.hpp"
#include "convert/inspect.hpp"
#include "io/files.hpp"

namespace aamsg {

static_assert(AAMSG_PICTURE_COLUMNS == kPictureColumns, "the header's picture holds the meter's columns");

namespace {

bool usable(const aamsg_inspection* result) { return result != nullptr && result->size >= sizeof result->size; }

// At most size - 1 bytes and a terminator, never ending inside a UTF-8 sequence.
void copyText(char* to, std::size_t size, const std::string& text) {
    std::size_t length = std::min(text.size(), size - 1);
    if (length < text.size()) {
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0u) == 0x80u) --length;
    }
    std::memcpy(to, text.data(), length);
    to[length] = '\0';
}

void fill(aamsg_inspection* result, const Inspection& inspection, bool measured) {
    aamsg_inspection full{};
    full.size = sizeof full;
    if (measured) {
        const SoundMeasures& m = inspection.measures;
        full.is_message = inspection.message ? 1 : 0;
        copyText(full.format, sizeof full.format, inspection.description);
        full.rate = inspection.rate;
        full.channels = inspection.channels;
        full.seconds = m.seconds;
        full.speech_found = m.level.active ? 1 : 0;
        full.level_db = m.level.active ? m.level.activeDb : AAMSG_SILENCE_DB;
        full.activity = m.level.activityFactor;
        full.peak_db = m.peakDb;
        full.clipped_samples = m.clippedSamples;
        full.clipped_places = m.clippedPlaces;
        full.silence_start_seconds = m.silenceStartSeconds;
        full.silence_end_seconds = m.silenceEndSeconds;
        full.noise_floor_db = m.noiseFloorDb;
        full.speech_to_noise_db = m.speechToNoiseDb;
        full.dc_offset = m.dcOffset;
        full.gain_db = m.gainDb;
        full.findings = inspection.findings;
        const WavePicture& picture = m.picture;
        full.picture_columns = static_cast<uint32_t>(picture.columns);
        full.picture_run = picture.columns > 0 ? picture.run : 0;
        const auto share = [](float v) { return std::clamp(v / static_cast<float>(kFullScale), -1.0f, 1.0f); };
        for (std::size_t c = 0; c < picture.columns; ++c) {
            full.picture_low[c] = share(picture.low[c]);
            full.picture_high[c] = share(picture.high[c]);
            full.picture_clipped[c] = picture.clipped[c];
        }
    }
    // The caller's `size` stays as it set it; what its struct has beyond ours is zeroed.
    constexpr std::size_t kFrom = sizeof full.size;
    const std::size_t reach = std::min(result->size, sizeof full);
    std::memcpy(reinterpret_cast<unsigned char*>(result) + kFrom, reinterpret_cast<const unsigned char*>(&full) + kFrom, reach - kFrom);
    if (result->size > sizeof full) std::memset(reinterpret_cast<unsigned char*>(result) + sizeof full, 0, result->size - sizeof full);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

Status inspectFile(const char* name, ProgressReport& progress, Inspection& inspection) {
    std::FILE* opened = nullptr;
    if (openInputFile(name, opened) != OpenResult::kOpened) return kCannotOpenInput;
    const std::unique_ptr<std::FILE, FileCloser> file(opened);
    InStream input = fileInput(file.get());
    return inspectSound(input, progress, inspection);
}

aamsg_status finish(aamsg_inspection* result, Status status, const Inspection& inspection) {
    fill(result, inspection, status == kOk || status == kCorrupted);
    return publicStatus(status);
}

}  // namespace

}  // namespace aamsg

extern "C" {

aamsg_status aamsg_inspect_file(const char* input, aamsg_inspection* result, aamsg_progress progress, void* context) {
    using namespace aamsg;
    if (input == nullptr || !usable(result)) return AAMSG_INVALID_ARGUMENT;
    Call call(progress, context, nullptr);
    Inspection inspection;
    Status status = kOk;
    try {
        status = inspectFile(input, call.progress, inspection);
    } catch (...) {
        status = statusOf(std::current_exception());
    }
    return finish(result, status, inspection);
}

aamsg_status aamsg_inspect_memory(const void* input, size_t size, aamsg_inspection* result, aamsg_progress progress,
                                  void* context) {
    using namespace aamsg;
    if ((input == nullptr && size > 0) || !usable(result)) return AAMSG_INVALID_ARGUMENT;
    Call call(progress, context, nullptr);
    Inspection inspection;
    Status status = kOk;
    try {
        InStream stream = memoryInput({static_cast<const std::uint8_t*>(input), size});
        status = inspectSound(stream, call.progress, inspection);
    } catch (...) {
        status = statusOf(std::current_exception());
    }
    return finish(result, status, inspection);
}

}  // extern "C"
