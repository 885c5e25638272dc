// The active speech levels (ITU-T P.56) a prompt can be brought to, in dB of full scale.
#pragma once

namespace aamsg {

// About -19 dBm0: the level telephone networks expect (RFC 7874).
inline constexpr double kDefaultTargetDb = -22.0;
// From faint to a sine wave at full scale. The library refuses a target outside them (and NaN),
// so that nothing below has to decide what such a target would mean.
inline constexpr double kMinTargetDb = -60.0;
inline constexpr double kMaxTargetDb = -3.0;

}  // namespace aamsg
