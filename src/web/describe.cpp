// The library's records as JSON: field names as aamsg.h has them, in JavaScript's camel case;
// a number that is none (NaN) is null.
#include "describe.hpp"

#include <cmath>
#include <cstdio>

namespace aamsg::web {

namespace {

void addRaw(std::string& json, const char* name, const std::string& value) {
    if (json.size() > 1) json += ',';
    json += '"';
    json += name;
    json += "\":";
    json += value;
}

std::string number(double value, const char* format = "%.17g") {
    if (!std::isfinite(value)) return "null";
    char text[40];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string text(const char* value) {
    std::string json = "\"";
    for (const char* c = value; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte == '"' || byte == '\\') {
            json += '\\';
            json += *c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            json += escaped;
        } else {
            json += *c;
        }
    }
    return json + '"';
}

std::string truth(int value) { return value != 0 ? "true" : "false"; }

// Each finding of `flags`: its name, flag, threshold and words (with `numbers`, or none).
std::string findingsJson(std::uint32_t flags, const aamsg_inspection* numbers) {
    std::string json = "[";
    for (std::uint32_t bit = 1; bit != 0; bit <<= 1) {
        const char* name = aamsg_finding_name(bit);
        if ((flags & bit) == 0 || name == nullptr) continue;
        std::string words(aamsg_finding_text(bit, numbers, nullptr, 0), '\0');
        aamsg_finding_text(bit, numbers, words.data(), words.size() + 1);
        std::string finding = "{";
        addRaw(finding, "name", text(name));
        addRaw(finding, "flag", std::to_string(bit));
        addRaw(finding, "threshold", number(aamsg_finding_threshold(bit)));
        addRaw(finding, "text", text(words.c_str()));
        json += (json.size() > 1 ? "," : "") + finding + "}";
    }
    return json + "]";
}

std::string columns(const float* values, std::uint32_t count) {
    std::string json = "[";
    for (std::uint32_t c = 0; c < count; ++c) json += (c > 0 ? "," : "") + number(values[c], "%.5g");
    return json + "]";
}

}  // namespace

std::string inspectionJson(const aamsg_inspection& i, std::uint32_t findings) {
    std::string json = "{";
    addRaw(json, "isMessage", truth(i.is_message));
    addRaw(json, "format", text(i.format));
    addRaw(json, "rate", std::to_string(i.rate));
    addRaw(json, "channels", std::to_string(i.channels));
    addRaw(json, "seconds", number(i.seconds));
    addRaw(json, "speechFound", truth(i.speech_found));
    addRaw(json, "levelDb", number(i.level_db));
    addRaw(json, "activity", number(i.activity));
    addRaw(json, "peakDb", number(i.peak_db));
    addRaw(json, "clippedSamples", std::to_string(i.clipped_samples));
    addRaw(json, "clippedPlaces", std::to_string(i.clipped_places));
    addRaw(json, "silenceStartSeconds", number(i.silence_start_seconds));
    addRaw(json, "silenceEndSeconds", number(i.silence_end_seconds));
    addRaw(json, "noiseFloorDb", number(i.noise_floor_db));
    addRaw(json, "speechToNoiseDb", number(i.speech_to_noise_db));
    addRaw(json, "dcOffset", number(i.dc_offset));
    addRaw(json, "gainDb", number(i.gain_db));
    addRaw(json, "findings", findingsJson(findings, &i));
    std::string picture = "{";
    addRaw(picture, "run", std::to_string(i.picture_run));
    addRaw(picture, "low", columns(i.picture_low, i.picture_columns));
    addRaw(picture, "high", columns(i.picture_high, i.picture_columns));
    std::string clipped = "[";
    for (std::uint32_t c = 0; c < i.picture_columns; ++c) {
        if (i.picture_clipped[c] != 0) clipped += (clipped.size() > 1 ? "," : "") + std::to_string(c);
    }
    addRaw(picture, "clipped", clipped + "]");
    addRaw(json, "picture", picture + "}");
    return json + "}";
}

std::string reportJson(const aamsg_report& r) {
    std::string json = "{";
    addRaw(json, "finished", truth(r.finished));
    addRaw(json, "seconds", std::to_string(r.seconds));
    addRaw(json, "samples", std::to_string(r.samples));
    addRaw(json, "clipped", std::to_string(r.clipped));
    addRaw(json, "notNumbers", std::to_string(r.not_numbers));
    addRaw(json, "levelMeasured", truth(r.level_measured));
    addRaw(json, "speechFound", truth(r.speech_found));
    addRaw(json, "levelBeforeDb", number(r.level_before_db));
    addRaw(json, "levelAfterDb", number(r.level_after_db));
    addRaw(json, "gainDb", number(r.gain_db));
    addRaw(json, "trimmedStartSeconds", number(r.trimmed_start_seconds));
    addRaw(json, "trimmedEndSeconds", number(r.trimmed_end_seconds));
    addRaw(json, "greedyCodes", truth(r.greedy_codes));
    addRaw(json, "detail", text(r.detail));
    addRaw(json, "findings", findingsJson(r.findings, nullptr));
    return json + "}";
}

}  // namespace aamsg::web
