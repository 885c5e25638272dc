// Multi-byte numbers in files, read and written from bytes: the layout never depends on the
// compiler's padding or the machine's byte order.
#pragma once

#include <cstdint>

namespace aamsg {

inline std::uint16_t loadU16le(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

inline std::uint32_t loadU32le(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

// AIFF's order.
inline std::uint32_t loadU32be(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | std::uint32_t{p[3]};
}

inline void storeU16le(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void storeU32le(std::uint8_t* p, std::uint32_t value) {
    storeU16le(p, value);
    storeU16le(p + 2, value >> 16);
}

}  // namespace aamsg
