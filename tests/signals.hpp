// Signals a quantiser finds hard, shared by the search's tests and the program that prints its
// codes for other builds (WebAssembly under node) to compare.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace aamsg::test {

using Signal = std::vector<std::int16_t>;

struct NamedSignal {
    std::string name;
    Signal samples;
};

// Signals a quantiser finds hard in different ways: tones low and high, loud and faint, noise
// white and smooth, edges, clicks, silence, and a rail-to-rail square that drives the step to
// its ends.
inline std::vector<NamedSignal> signals() {
    std::vector<NamedSignal> all;
    const auto make = [&](const std::string& name, auto value) {
        Signal s(12000);
        for (std::size_t i = 0; i < s.size(); ++i) {
            s[i] = static_cast<std::int16_t>(std::clamp<long>(std::lround(value(static_cast<double>(i))), -32768, 32767));
        }
        all.push_back({name, s});
    };
    const double pi = std::numbers::pi;
    make("tone_300", [&](double i) { return 12000 * std::sin(2 * pi * 300 * i / 8000); });
    make("tone_3400_faint", [&](double i) { return 300 * std::sin(2 * pi * 3400 * i / 8000); });
    make("chirp", [&](double i) { return 16000 * std::sin(2 * pi * (100 + 0.15 * i) * i / 8000); });
    make("square_full_scale", [&](double i) { return std::fmod(i, 40) < 20 ? 32767 : -32768; });
    make("clicks", [&](double i) { return std::fmod(i, 997) == 0 ? 30000 : 0; });
    make("silence", [&](double) { return 0; });
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0, 6000);
    make("white_noise", [&](double) { return gauss(random); });
    double smooth = 0;
    make("smooth_noise", [&](double) { return smooth = 0.95 * smooth + 0.3 * gauss(random); });
    return all;
}

// A vowel with formants at 500 and 2500 Hz, a 100 Hz voice.
inline Signal vowel(std::size_t length) {
    Signal out(length);
    double y1[2] = {0, 0};
    double y2[2] = {0, 0};
    const auto resonator = [](double frequency) { return 2 * 0.97 * std::cos(2 * std::numbers::pi * frequency / 8000); };
    const double c1 = resonator(500);
    const double c2 = resonator(2500);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double pulse = i % 80 == 0 ? 3000.0 : 0.0;
        const double a = pulse + c1 * y1[0] - 0.9409 * y1[1];
        const double b = pulse + c2 * y2[0] - 0.9409 * y2[1];
        y1[1] = y1[0];
        y1[0] = a;
        y2[1] = y2[0];
        y2[0] = b;
        out[i] = static_cast<std::int16_t>(std::lround(a + 0.5 * b));
    }
    return out;
}

}  // namespace aamsg::test
