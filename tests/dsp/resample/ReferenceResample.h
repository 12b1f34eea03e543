// A plain, literal evaluation of the resampler's formulas: shifting windows,
// left-to-right sums, no tables shared with the library. The tests hold the
// library to it; the benchmark times it as the scalar baseline.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace cz::test::reference {

constexpr double kPi = 3.1415926;

inline int16_t Saturate(double y) {
    if (y > 32767.0) return 32767;
    if (y < -32767.0) return -32767;
    return static_cast<int16_t>(y);
}

// 1 + sum of ((x/2)^k / k!)^2, each term computed afresh, stopping after the
// first term below 2e-9 of the sum that includes it.
inline double I0(double x) {
    double sum = 1.0;
    for (int k = 1; k < 500; ++k) {
        const double u = std::pow(x / 2.0, k) / std::tgamma(k + 1.0);
        sum += u * u;
        if (u * u / sum < 2e-9) break;
    }
    return sum;
}

inline std::vector<double> PreFilter(double ratio) {
    const double r = ratio > 0.97 ? 0.97 : ratio;
    const double a = r * kPi;
    const double b = (r + 0.1) * kPi;
    const int n = 1 - 2 * static_cast<int>(std::trunc(std::trunc(-22.757111 / (b - a)) / 2));
    const double c = n / 2.0;
    std::vector<double> h(n + 1);
    for (int k = 0; k <= n; ++k) {
        const double t = k - c;
        const double w = I0(5.65326 * std::sqrt(std::max(0.0, 1.0 - t * t / (c * c))));
        h[k] = std::sin(t * (a + b) / 2) / t * w / (I0(5.65326) * kPi);
    }
    return h;
}

// Sinc interpolation (modes 1 and 2) of `x` by `ratio` into `count` samples.
inline std::vector<int16_t> Sinc(double ratio, const std::vector<int16_t>& x, size_t count) {
    std::vector<std::vector<double>> table(50, std::vector<double>(101));
    for (int p = 0; p < 50; ++p) {
        for (int i = 0; i < 101; ++i) {
            const double v = (50 - i + p * 0.02) * kPi;
            table[p][i] = v == 0.0 ? 1.0 : std::sin(v) / v;
        }
    }
    // Output sample j sits at source position j * x.size() / count.
    std::vector<int16_t> input = x;
    double offset = 0.0;
    if (ratio < 1.0) {
        // The whole convolution (x.size() + n samples), read from the
        // filter's delay n / 2 on.
        const std::vector<double> h = PreFilter(ratio);
        const long n = static_cast<long>(h.size()) - 1;
        input.assign(x.size() + n, 0);
        for (size_t m = 0; m < input.size(); ++m) {
            double y = 0.0;
            for (long k = 0; k <= n; ++k) {
                const long at = static_cast<long>(m) - k;
                y += h[k] * (at >= 0 && at < static_cast<long>(x.size()) ? x[at] : 0.0);
            }
            input[m] = Saturate(y);
        }
        offset = n / 2.0;
    }
    const long available = static_cast<long>(input.size());
    auto sample = [&](long k) { return k < available ? static_cast<double>(input[k]) : 0.0; };
    const double step = static_cast<double>(x.size()) / static_cast<double>(count);
    std::vector<double> window(101, 0.0);
    for (int i = 0; i <= 50; ++i) window[50 + i] = sample(i);
    long next = 51;
    double cursor = 0.0;
    std::vector<int16_t> out(count);
    for (size_t j = 0; j < count; ++j) {
        const double pos = offset + j * step;
        while (pos - cursor >= 1) {
            std::rotate(window.begin(), window.begin() + 1, window.end());
            window[100] = sample(next++);
            cursor += 1;
        }
        const int phase = static_cast<int>((pos - cursor) * 50.0);
        double y = 0.0;
        for (int i = 0; i < 101; ++i) y += table[phase][i] * window[i];
        out[j] = Saturate(y);
    }
    return out;
}

// Linear interpolation (other modes); the sample after the last repeats it.
inline std::vector<int16_t> Linear(double ratio, const std::vector<int16_t>& x, size_t count) {
    std::vector<int16_t> out(count, 0);
    const double s = 1.0 / ratio * 128.0;
    long long q = 0;
    double acc = s;
    size_t written = 0;
    while (written < count) {
        const long long i = q >> 7;
        if (i >= static_cast<long long>(x.size())) break;
        const int f = static_cast<int>(q & 127);
        const int next = i + 1 < static_cast<long long>(x.size()) ? x[i + 1] : x[i];
        out[written++] = static_cast<int16_t>((next * f + x[i] * (128 - f)) / 128);
        q = static_cast<long long>(acc);
        acc += s;
    }
    for (size_t k = written; k < count; ++k) out[k] = x.back();
    out[count - 1] = x.back();
    return out;
}

}  // namespace cz::test::reference
