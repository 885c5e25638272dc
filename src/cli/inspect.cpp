// `i`: each file inspected by the library, and what it found, for people or for scripts.
#include "cli/inspect.hpp"

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace aamsg {

namespace {

struct Inspected {
    aamsg_status status = AAMSG_INTERNAL;
    aamsg_inspection result{};
    bool measured() const { return status == AAMSG_OK || status == AAMSG_CORRUPTED; }
};

Inspected inspect(const InspectedFile& file) {
    Inspected inspected;
    inspected.result.size = sizeof inspected.result;
    inspected.status = aamsg_inspect_file(file.path.c_str(), &inspected.result, nullptr, nullptr);
    return inspected;
}

// A line of numbers in the library's formats; the names never pass through a format.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string formatted(const char* format, ...) {
    char line[160];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    return line;
}

// Shown to a tenth, and never as "-0.0".
std::string decibels(double db) {
    if (db <= AAMSG_SILENCE_DB) return "digital silence";
    return formatted("%.1f dB", std::fabs(db) < 0.05 ? 0.0 : db);
}

std::string channels(std::uint32_t count) { return count == 1 ? "1 channel" : formatted("%u channels", count); }

// The block of one file: its kind, its measures and its findings, each on a line.
std::string textOf(const InspectedFile& file, const Inspected& inspected) {
    std::string text = "\r\n" + std::string(file.name) + "\r\n";
    if (inspected.measured()) {
        const aamsg_inspection& r = inspected.result;
        if (r.is_message != 0) {
            text += "  File:        not an audio file: read as a message, as a phone would play it (any bytes make one)\r\n";
        } else {
            text += "  File:        " + std::string(r.format) + formatted(", %u Hz, ", r.rate) + channels(r.channels) + "\r\n";
        }
        text += formatted("  Duration:    %.2f s\r\n", r.seconds);
        if (r.speech_found != 0) {
            text += formatted("  Speech:      %.1f dB (ITU-T P.56), active %.0f%% of the time\r\n", r.level_db, 100.0 * r.activity);
            text += formatted("  Silence:     %.2f s at the start, %.2f s at the end\r\n", r.silence_start_seconds, r.silence_end_seconds);
        } else {
            text += "  Speech:      none found\r\n";
        }
        text += "  Peak:        " + decibels(r.peak_db) + "\r\n";
        text += r.clipped_places == 0 ? std::string("  Clipped:     none\r\n")
                                       : formatted("  Clipped:     %llu samples in %llu places\r\n",
                                                   static_cast<unsigned long long>(r.clipped_samples),
                                                   static_cast<unsigned long long>(r.clipped_places));
        text += "  Noise floor: " + decibels(r.noise_floor_db);
        if (r.speech_found != 0 && r.noise_floor_db > AAMSG_SILENCE_DB) text += formatted(", %.1f dB under the speech", r.speech_to_noise_db);
        const double percent = 100.0 * r.dc_offset;
        text += "\r\n" + formatted("  DC offset:   %+.2f%% of full scale\r\n", std::fabs(percent) < 0.005 ? 0.0 : percent);
        if (r.findings == 0) text += "  Findings:    none\r\n";
        if (r.findings != 0) text += "  Findings:\r\n";
        for (std::uint32_t bit = 1; bit != 0; bit <<= 1) {
            if ((r.findings & bit) != 0) text += "  - " + findingText(bit, &r) + "\r\n";
        }
    }
    if (inspected.status != AAMSG_OK) text += "  " + statusMessage(AAMSG_MODE_BEST, inspected.status, file.name, "");
    return text;
}

void addField(std::string& json, const char* name, const std::string& value) {
    json += ", \"";
    json += name;
    json += "\": " + value;
}

std::string number(double value, const char* format) { return std::isfinite(value) ? formatted(format, value) : "null"; }

// The message of a failure on one line, as the batch's lines have it.
std::string oneLine(std::string message) {
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    return message;
}

std::string jsonOf(const InspectedFile& file, const Inspected& inspected) {
    std::string json = "{\"name\": " + jsonString(file.path);
    addField(json, "code", std::to_string(static_cast<int>(exitCodeOf(inspected.status))));
    if (inspected.status != AAMSG_OK) addField(json, "error", jsonString(oneLine(statusMessage(AAMSG_MODE_BEST, inspected.status, file.path.c_str(), ""))));
    if (inspected.measured()) {
        const aamsg_inspection& r = inspected.result;
        addField(json, "type", r.is_message != 0 ? "\"message\"" : "\"audio\"");
        addField(json, "format", jsonString(r.format));
        addField(json, "rate", std::to_string(r.rate));
        addField(json, "channels", std::to_string(r.channels));
        addField(json, "seconds", number(r.seconds, "%.3f"));
        addField(json, "speech_found", r.speech_found != 0 ? "true" : "false");
        addField(json, "level_db", number(r.level_db, "%.2f"));
        addField(json, "activity", number(r.activity, "%.4f"));
        addField(json, "peak_db", number(r.peak_db, "%.2f"));
        addField(json, "clipped_samples", std::to_string(r.clipped_samples));
        addField(json, "clipped_places", std::to_string(r.clipped_places));
        addField(json, "silence_start_seconds", number(r.silence_start_seconds, "%.3f"));
        addField(json, "silence_end_seconds", number(r.silence_end_seconds, "%.3f"));
        addField(json, "noise_floor_db", number(r.noise_floor_db, "%.2f"));
        addField(json, "speech_to_noise_db", number(r.speech_to_noise_db, "%.2f"));
        addField(json, "dc_offset", number(r.dc_offset, "%.6f"));
        addField(json, "gain_db", number(r.gain_db, "%.2f"));
        std::string findings = "[";
        for (std::uint32_t bit = 1; bit != 0; bit <<= 1) {
            if ((r.findings & bit) == 0) continue;
            const char* name = aamsg_finding_name(bit);
            if (findings.size() > 1) findings += ", ";
            findings += "{\"name\": " + jsonString(name != nullptr ? name : "") + ", \"text\": " + jsonString(findingText(bit, &r)) + "}";
        }
        addField(json, "findings", findings + "]");
    }
    return json + "}";
}

// How many bytes the UTF-8 sequence at `at` takes, or 0 if it is not one.
std::size_t sequenceLength(const std::string& text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3 : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
    if (length == 0 || at + length > text.size()) return 0;
    unsigned code = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0u) != 0x80u) return 0;
        code = code << 6 | (next & 0x3Fu);
    }
    // Overlong forms, surrogates and code points past Unicode's are not UTF-8.
    static constexpr unsigned kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || (code >= 0xD800 && code < 0xE000) || code > 0x10FFFF) return 0;
    return length;
}

}  // namespace

std::string jsonString(const std::string& text) {
    std::string json = "\"";
    for (std::size_t at = 0; at < text.size();) {
        const char c = text[at];
        const std::size_t length = sequenceLength(text, at);
        if (length == 0) {
            json += "\\ufffd";
            ++at;
        } else if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
            ++at;
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            json += formatted("\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            ++at;
        } else {
            json.append(text, at, length);
            at += length;
        }
    }
    return json + "\"";
}

ExitCode runInspect(const std::vector<InspectedFile>& files, bool json) {
    ExitCode first = kExitOk;
    if (json) std::fputs("{\"files\": [", stdout);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const Inspected inspected = inspect(files[i]);
        const std::string text = json ? (i > 0 ? ",\n  " : "\n  ") + jsonOf(files[i], inspected) : textOf(files[i], inspected);
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        if (first == kExitOk) first = exitCodeOf(inspected.status);
    }
    if (json) std::fputs("\n]}\n", stdout);
    return first;
}

}  // namespace aamsg
