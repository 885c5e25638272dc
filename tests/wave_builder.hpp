// Builds WAVE files byte by byte for the tests: canonical ones, and awkward ones from a list
// of chunks whose declared sizes may lie.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace aamsg::test {

using Bytes = std::vector<std::uint8_t>;

inline void appendU16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void appendU32(Bytes& b, std::uint32_t v) {
    appendU16(b, v & 0xFFFF);
    appendU16(b, v >> 16);
}

inline void appendText(Bytes& b, const char* text) {
    for (; *text != '\0'; ++text) b.push_back(static_cast<std::uint8_t>(*text));
}

struct Chunk {
    std::string id;
    Bytes body;
    std::optional<std::uint32_t> declaredSize{};  // when set, written instead of body.size()
    bool pad = true;                              // add RIFF's pad byte after an odd body
};

inline Bytes fmtBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t blockAlign,
                     std::uint16_t bits, std::size_t extensionBytes = 0) {
    Bytes b;
    appendU16(b, tag);
    appendU16(b, channels);
    appendU32(b, rate);
    appendU32(b, rate * blockAlign);
    appendU16(b, blockAlign);
    appendU16(b, bits);
    b.resize(b.size() + extensionBytes, 0);
    return b;
}

inline Bytes riff(const std::vector<Chunk>& chunks, const char* form = "WAVE") {
    Bytes b;
    appendText(b, "RIFF");
    appendU32(b, 0);
    appendText(b, form);
    for (const Chunk& c : chunks) {
        appendText(b, c.id.c_str());
        appendU32(b, c.declaredSize.value_or(static_cast<std::uint32_t>(c.body.size())));
        b.insert(b.end(), c.body.begin(), c.body.end());
        if (c.pad && (c.body.size() & 1)) b.push_back(0);
    }
    const auto riffSize = static_cast<std::uint32_t>(b.size() - 8);
    std::memcpy(b.data() + 4, &riffSize, 4);  // little-endian hosts only, as the tests run
    return b;
}

inline Bytes pcm16(const std::vector<int>& samples) {
    Bytes b;
    for (int s : samples) appendU16(b, static_cast<std::uint16_t>(s));
    return b;
}

inline Bytes pcm8(const std::vector<int>& samples) {
    Bytes b;
    for (int s : samples) b.push_back(static_cast<std::uint8_t>(s));
    return b;
}

// A canonical 44-byte-header file; `samples` are interleaved channel values, 16-bit signed or
// 8-bit unsigned by `bits`.
inline Bytes wave(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, const std::vector<int>& samples) {
    const auto blockAlign = static_cast<std::uint16_t>(channels * (bits <= 8 ? 1 : 2));
    return riff({{"fmt ", fmtBody(1, channels, rate, blockAlign, bits)},
                 {"data", bits <= 8 ? pcm8(samples) : pcm16(samples)}});
}

}  // namespace aamsg::test
