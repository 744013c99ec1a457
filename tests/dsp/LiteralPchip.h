#pragma once

// A plain, table-at-a-time monotone cubic interpolation written straight from the
// method's steps, for tests to compare the library's interpolation against.

#include <array>
#include <cmath>
#include <cstddef>

namespace literal {

// Which interval a t lying exactly on an interior node falls into.
enum class NodeSide { Left, Right };

template <std::size_t N>
std::array<double, N> slopes(const std::array<double, N>& x, const std::array<double, N>& y)
{
    std::array<double, N - 1> h{};
    std::array<double, N - 1> delta{};
    for (std::size_t k = 0; k + 1 < N; ++k) {
        h[k] = x[k + 1] - x[k];
        delta[k] = (y[k + 1] - y[k]) / h[k];
    }
    std::array<double, N> d{};
    for (std::size_t j = 1; j + 1 < N; ++j) {
        const double a = delta[j - 1];
        const double b = delta[j];
        if (a == 0 || b == 0 || std::signbit(a) != std::signbit(b)) {
            d[j] = 0;
        } else {
            const double w1 = 2 * h[j] + h[j - 1];
            const double w2 = h[j] + 2 * h[j - 1];
            d[j] = (w1 + w2) / (w1 / a + w2 / b);
        }
    }
    auto end = [](double h0, double h1, double m0, double m1) {
        const double p = h0 * m1;
        const double e = std::fma(2 * h0 + h1, m0, -p) / (h0 + h1);
        if (e == 0 || std::signbit(e) != std::signbit(m0))
            return 0.0;
        if (std::signbit(m0) != std::signbit(m1) && std::fabs(e) > 3 * std::fabs(m0))
            return 3 * m0;
        return e;
    };
    d[0] = end(h[0], h[1], delta[0], delta[1]);
    d[N - 1] = end(h[N - 2], h[N - 3], delta[N - 2], delta[N - 3]);
    return d;
}

template <std::size_t N>
double pchip(const std::array<double, N>& x, const std::array<double, N>& y, double at,
             NodeSide side = NodeSide::Left)
{
    const std::array<double, N> d = slopes(x, y);
    double t = at;
    if (at < x[0])
        t = x[0];
    else if (!(at <= x[N - 1]) && !std::isnan(at))
        t = x[N - 1];
    std::size_t k = N - 2;
    for (std::size_t i = 0; i + 2 < N; ++i) {
        const bool inside = side == NodeSide::Left ? t <= x[i + 1] : t < x[i + 1];
        if (inside) {
            k = i;
            break;
        }
    }
    const double h = x[k + 1] - x[k];
    const double s = (t - x[k]) / h;
    const double s2 = s * s;
    const double s3 = s * s2;
    const double h00 = ((s3 + s3) - 3 * s2) + 1;
    const double h10 = (s3 - (s2 + s2)) + s;
    const double h01 = 3 * s2 - (s3 + s3);
    const double h11 = s3 - s2;
    return ((h00 * y[k] + (h10 * h) * d[k]) + h01 * y[k + 1]) + (h11 * h) * d[k + 1];
}

} // namespace literal
