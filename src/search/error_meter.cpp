// The error meter: each frame's weighting, as the search has it, over the codes decoded.
#include "search/error_meter.hpp"

namespace aamsg::inline AAMSG_SEARCH_BUILD {

namespace {

void meterFrame(ErrorMeter& meter) {
    const std::size_t count = meter.frame.filled;
    const std::int16_t* samples = frameStart(meter.frame);
    const WeightingFilter filter = meter.shaped ? analyseFrame(meter.frame.samples, meter.shape) : WeightingFilter{};
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t error = samples[i] - decodeNibble(meter.codes[i], meter.decoder);
        const std::int32_t feedback = weightFeedback(filter, meter.history);
        meter.last = square(pushWeighted(meter.history, error, feedback));
        meter.total = meter.total > UINT64_MAX - meter.last ? UINT64_MAX : meter.total + meter.last;
    }
    nextFrame(meter.frame);
}

}  // namespace

ErrorMeter makeErrorMeter(const SearchSettings& settings) {
    ErrorMeter meter;
    meter.shaped = settings.shaped;
    meter.shape = settings.shape;
    return meter;
}

void meterCodes(ErrorMeter& meter, std::span<const std::int16_t> samples, const std::uint8_t* codes) {
    for (std::size_t i = 0; i < samples.size(); ++i) {
        meter.codes[meter.frame.filled] = codes[i];
        if (addToFrame(meter.frame, samples[i])) meterFrame(meter);
    }
}

void finishErrorMeter(ErrorMeter& meter) {
    if (meter.frame.filled > 0) meterFrame(meter);
}

}  // namespace aamsg::inline AAMSG_SEARCH_BUILD
