// What `q` does when a library under it fails. The linker wraps libsoxr's soxr_process for this
// test program only (--wrap), so a test can make the real library fail on a chosen call.
#include <gtest/gtest.h>

#include <soxr.h>

#include <cmath>

#include "support.hpp"

extern "C" {
soxr_error_t __real_soxr_process(soxr_t, soxr_in_t, size_t, size_t*, soxr_out_t, size_t, size_t*);

namespace {
int callsUntilFailure = -1;  // negative: never fail
}

// Visible: FFmpeg's libswresample, which Debian's libavcodec brings in, calls libsoxr too.
__attribute__((visibility("default"))) soxr_error_t __wrap_soxr_process(soxr_t resampler, soxr_in_t in, size_t inLength, size_t* used, soxr_out_t out,
                                 size_t outLength, size_t* made) {
    if (callsUntilFailure >= 0 && callsUntilFailure-- == 0) return "injected failure";
    return __real_soxr_process(resampler, in, inLength, used, out, outLength, made);
}
}

namespace aamsg {
namespace {

// A resampler failing in the middle of a file is an internal failure, never a short message
// reported as OK; what was encoded before it stays written.
TEST(LibraryFailure, ResamplerFailureIsNeverSuccess) {
    std::vector<int> stereo;
    for (int i = 0; i < 2 * 44100 * 3; ++i) stereo.push_back(static_cast<int>(9000 * std::sin(i * 0.01)));
    const test::Bytes wave = test::wave(2, 44100, 16, stereo);
    for (const bool background : {false, true}) {
        Request request;
        request.mode = Mode::Best;
        request.best.background = background;
        callsUntilFailure = 2;
        const test::Converted run = test::convert(request, wave);
        callsUntilFailure = -1;
        EXPECT_EQ(run.result, kInternalError);
        EXPECT_EQ(run.console.find("Total time"), std::string::npos);
        EXPECT_GT(run.output.size(), 0u);
        EXPECT_LT(run.output.size(), 3u * 4000);
        EXPECT_EQ(test::convert(request, wave).result, kOk);
    }
}

}  // namespace
}  // namespace aamsg
