// What exactly was wrong when an operation fails, in one short English sentence ("the rate is
// 50 Hz; aamsg reads 100 Hz to 1536 kHz"), for the library's report. It is noted where the
// failure is found, as the status is returned, and read by the library when the call ends.
//
// A note belongs to the thread that found the failure. A conversion finds failures of its input
// on the input's own thread too: the block that carries such a status hands its note on with it
// (SignalBlock), and the thread that takes it notes it again.
#pragma once

#include <cstddef>

#include "base/base.hpp"

#if defined(__MINGW32__)
// MinGW's C++ runtime formats as C99 does (%zu, %lld), not as the Windows C library does.
#define AAMSG_PRINTF(formatAt, argumentsAt) __attribute__((format(gnu_printf, formatAt, argumentsAt)))
#elif defined(__GNUC__)
#define AAMSG_PRINTF(formatAt, argumentsAt) __attribute__((format(printf, formatAt, argumentsAt)))
#else
#define AAMSG_PRINTF(formatAt, argumentsAt)
#endif

namespace aamsg {

inline constexpr std::size_t kFailureTextSize = 256;

struct FailureNote {
    Status status = kOk;
    char text[kFailureTextSize] = {};
};

// Notes the sentence (a printf format and its arguments; cut to fit) as what is wrong, and
// returns `status`, so that a failure is returned and explained in one statement:
//     return fail(kCorrupted, "the rate is %d Hz; aamsg reads 100 Hz to 1536 kHz", rate);
// Never a user's string as the format: pass it as an argument.
Status fail(Status status, const char* format, ...) AAMSG_PRINTF(2, 3);

// Notes a failure found on another thread, as it was noted there; returns its status.
Status fail(const FailureNote& note);

// This thread's last note. The library clears it when a call starts, and takes its text when
// the call ends with the status it was noted for.
const FailureNote& lastFailure();
void clearFailure();

}  // namespace aamsg
