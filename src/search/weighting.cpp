// The frame analysis behind the weighting: window, autocorrelation, lag window, Levinson-Durbin.
#include "search/weighting.hpp"

#include "base/series.hpp"

namespace aamsg {
inline namespace AAMSG_SEARCH_BUILD {

namespace {

constexpr double kPi = 3.14159265358979323846;

// A Hann window over the analysis: sin^2(pi (i + 1/2) / N), symmetric, never quite zero.
constexpr std::array<double, kAnalysisLength> makeWindow() {
    std::array<double, kAnalysisLength> window{};
    for (std::size_t i = 0; i < kAnalysisLength; ++i) {
        const std::size_t mirrored = i < kAnalysisLength / 2 ? i : kAnalysisLength - 1 - i;
        const double s = sineSeries(kPi * (static_cast<double>(mirrored) + 0.5) / kAnalysisLength);
        window[i] = s * s;
    }
    return window;
}

// The lag window's width: a Gaussian of this many Hz widens each formant peak by about as much,
// so that a sharp resonance does not make the weighting swing from frame to frame.
constexpr double kLagWindowHz = 60.0;
// Lag 0 times this: white noise 40 dB under the frame's power (1e-4 of it) joins the analysis,
// which keeps the recursion well conditioned on near-pure signals (a tone, a lone edge).
constexpr double kNoiseFloorLag0 = 1.0001;

constexpr std::array<double, kPredictionOrder + 1> makeLagWindow() {
    std::array<double, kPredictionOrder + 1> lag{};
    for (std::size_t k = 0; k <= kPredictionOrder; ++k) {
        const double x = 2.0 * kPi * kLagWindowHz * static_cast<double>(k) / static_cast<double>(kMessageRate);
        lag[k] = expSeries(-0.5 * x * x);
    }
    lag[0] = kNoiseFloorLag0;
    return lag;
}

constexpr std::array<double, kAnalysisLength> kWindow = makeWindow();
constexpr std::array<double, kPredictionOrder + 1> kLagWindow = makeLagWindow();

static_assert(kWindow[0] > 0.0 && kWindow[0] < 0.001 && kWindow[kAnalysisLength / 2] > 0.9999);
static_assert(kLagWindow[1] < 1.0 && kLagWindow[kPredictionOrder] > 0.85);
// The search's codes depend on these bits: the series must give them on every build.
static_assert(kLagWindow[0] == 0x1.00068db8bac71p+0 && kLagWindow[1] == 0x1.ff6e8c2ab16fp-1 &&
              kLagWindow[kPredictionOrder] == 0x1.ca3188f65da6ap-1);
static_assert(kWindow[0] == 0x1.67561123c76c6p-15 && kWindow[kAnalysisLength / 4] == 0x1.0359d6f8e5942p-1);

std::int32_t toFixed(double value) {
    constexpr double kLimit = 1 << 20;
    const double scaled = value * (1 << kWeightShift);
    const double held = scaled < -kLimit ? -kLimit : scaled > kLimit ? kLimit : scaled;
    return static_cast<std::int32_t>(held < 0 ? held - 0.5 : held + 0.5);
}

struct LpcCoefficients {
    std::array<double, kPredictionOrder + 1> a{};  // A(z) = 1 + sum(a[k] z^-k); a[0] is unused
    bool tonal = false;  // the frame is predicted far better than speech is: tones, not a voice
};

// The linear prediction coefficients of A(z), the filter that whitens the frame.
LpcCoefficients lpcOfFrame(const AnalysisWindow& samples, const WeightShape& shape) {
    std::array<double, kAnalysisLength> x{};
    for (std::size_t i = 0; i < kAnalysisLength; ++i) x[i] = samples[i] * kWindow[i];
    std::array<double, kPredictionOrder + 1> r{};
    for (std::size_t k = 0; k <= kPredictionOrder; ++k) {
        double sum = 0;
        for (std::size_t i = k; i < kAnalysisLength; ++i) sum += x[i] * x[i - k];
        r[k] = sum * kLagWindow[k];
    }
    std::array<double, kPredictionOrder + 1> a{};
    constexpr double kWindowPower = [] {
        double sum = 0;
        for (const double w : kWindow) sum += w * w;
        return sum;
    }();
    const double quietRms = shape.quietRms;
    double error = r[0] > quietRms * quietRms * kWindowPower ? r[0] : 0.0;
    for (std::size_t i = 1; i <= kPredictionOrder && error > 0; ++i) {
        double acc = r[i];
        for (std::size_t j = 1; j < i; ++j) acc += a[j] * r[i - j];
        const double reflection = -acc / error;
        std::array<double, kPredictionOrder + 1> next = a;
        for (std::size_t j = 1; j < i; ++j) next[j] = a[j] + reflection * a[i - j];
        next[i] = reflection;
        a = next;
        error *= 1.0 - reflection * reflection;
    }
    return {a, shape.tonalGain > 0 && error > 0 && error * shape.tonalGain < r[0]};
}

// The x87 unit (i386 builds, which may not assume SSE2) rounds each operation to a 64-bit
// mantissa where a double has 53, and so may round the analysis differently from every other
// processor. With its precision control set to a double's, + - * / round as IEEE doubles do
// (only the exponent's range stays wider, which no value here comes near). Elsewhere: nothing.
struct DoubleRounding {
#if defined(__i386__) && defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ == 2
    unsigned short saved = 0;
    DoubleRounding() {
        asm volatile("fnstcw %0" : "=m"(saved));
        const auto doubles = static_cast<unsigned short>((saved & ~0x300u) | 0x200u);
        asm volatile("fldcw %0" : : "m"(doubles));
    }
    ~DoubleRounding() { asm volatile("fldcw %0" : : "m"(saved)); }
    DoubleRounding(const DoubleRounding&) = delete;
    DoubleRounding& operator=(const DoubleRounding&) = delete;
#endif
};

WeightingFilter weightingOf(const AnalysisWindow& window, const WeightShape& shape);

}  // namespace

WeightingFilter analyseFrame(const AnalysisWindow& window, const WeightShape& shape) {
    [[maybe_unused]] const DoubleRounding rounding;
    return weightingOf(window, shape);
}

namespace {

// Not inlined into analyseFrame: its arithmetic stays between the precision's two settings.
__attribute__((noinline)) WeightingFilter weightingOf(const AnalysisWindow& window, const WeightShape& shape) {
    const LpcCoefficients lpc = lpcOfFrame(window, shape);
    if (lpc.tonal) return {};
    const std::array<double, kPredictionOrder + 1>& a = lpc.a;
    const double g1 = shape.zeros / 1000.0;
    const double g2 = shape.poles / 1000.0;
    const double tilt = shape.tilt / 1000.0;
    WeightingFilter filter;
    double p1 = 1.0;
    double p2 = 1.0;
    double previous = 1.0;  // the last coefficient of A(z/g2), a[0] = 1 first
    for (std::size_t k = 1; k <= kPredictionOrder; ++k) {
        p1 *= g1;
        p2 *= g2;
        filter.zeros[k - 1] = toFixed(a[k] * p1);
        filter.poles[k - 1] = toFixed(a[k] * p2 - tilt * previous);
        previous = a[k] * p2;
    }
    filter.poles[kPredictionOrder] = toFixed(-tilt * previous);
    return filter;
}

}  // namespace

}  // namespace AAMSG_SEARCH_BUILD
}  // namespace aamsg
