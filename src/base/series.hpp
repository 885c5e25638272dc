// Power series for e^x, sin x and atanh z in + - * / only: the compiler can evaluate them, and
// every build, with or without a C library, gets the same bits from them.
#pragma once

namespace aamsg {

// Terms of e^x after the 1: over |x| <= 2 the first term left out, x^25/25!, is below 2e-17 of
// the sum, so the sum is final to the last bit. The arguments used are far smaller (|x| <= 0.35
// for decibels, after scaling by powers of two; |x| < 0.12 in the constant tables), where terms
// past x^13 no longer change the sum: the spare terms change no bit.
inline constexpr int kExpSeriesTerms = 24;

// Odd terms of sin x, x to x^23: at pi/2, x^23/23! (about 1e-18) is already under half an ulp of
// the sum and x^21/21! (2.5e-16) is not; the sum is final over |x| <= pi/2.
inline constexpr int kSineSeriesTerms = 12;

// Odd terms of atanh z, z to z^29: for |z| <= 3 - 2 sqrt(2) (0.172, what a logarithm's mantissa
// in [sqrt(1/2), sqrt(2)) gives) the last is 1.3e-23 of the sum, and terms from z^21 on already
// fall below half an ulp: the sum is final.
inline constexpr int kAtanhSeriesTerms = 15;

constexpr double expSeries(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k <= kExpSeriesTerms; ++k) {
        term = term * x / k;
        sum += term;
    }
    return sum;
}

constexpr double sineSeries(double x) {
    double term = x;
    double sum = x;
    for (int n = 1; n < kSineSeriesTerms; ++n) {
        term = -term * x * x / ((2.0 * n) * (2.0 * n + 1.0));
        sum += term;
    }
    return sum;
}

constexpr double atanhSeries(double z) {
    const double z2 = z * z;
    double term = z;
    double sum = 0.0;
    for (int k = 1; k < 2 * kAtanhSeriesTerms; k += 2) {
        sum += term / k;
        term *= z2;
    }
    return sum;
}

}  // namespace aamsg
