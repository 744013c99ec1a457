#pragma once

// Monotone piecewise-cubic interpolation through a short table of measured points,
// constant beyond both ends. Every calibrated curve of the model is read through it.
// The arithmetic is fixed to the last bit: node slopes use the weighted harmonic mean
// inside and a three-point formula with one fused multiply-add at the ends.

#include <array>
#include <cmath>
#include <cstddef>

namespace quillon {

namespace pchipdetail {

inline bool signsDiffer(double a, double b) noexcept { return std::signbit(a) != std::signbit(b); }

template <std::size_t N>
double width(const std::array<double, N>& nodes, std::size_t k) noexcept
{
    return nodes[k + 1] - nodes[k];
}

template <std::size_t N>
double secant(const std::array<double, N>& nodes, const std::array<double, N>& values, std::size_t k) noexcept
{
    return (values[k + 1] - values[k]) / width(nodes, k);
}

// Three-point end slope, limited so that the curve keeps the shape of the data.
inline double endSlope(double h0, double h1, double m0, double m1) noexcept
{
    const double p = h0 * m1;
    const double q = std::fma(2.0 * h0 + h1, m0, -p);
    const double e = q / (h0 + h1);
    if (e == 0.0 || signsDiffer(e, m0))
        return 0.0;
    if (signsDiffer(m0, m1) && std::fabs(e) > 3.0 * std::fabs(m0))
        return 3.0 * m0;
    return e;
}

// Where x falls: the interval and the Hermite basis, with the width folded into the
// two slope weights. Curves over the same abscissae share one point.
struct Point {
    std::size_t k;
    double h00;
    double h10h;
    double h01;
    double h11h;
};

template <std::size_t N>
Point locate(const std::array<double, N>& nodes, double x) noexcept
{
    static_assert(N >= 3, "an interpolated curve needs at least three nodes");
    // Written so that a NaN x falls through both tests and stays NaN.
    const double t = x < nodes[0] ? nodes[0] : (nodes[N - 1] < x ? nodes[N - 1] : x);
    std::size_t k = 0;
    while (k < N - 2 && !(t <= nodes[k + 1]))
        ++k;
    const double h = width(nodes, k);
    const double s = (t - nodes[k]) / h;
    const double s2 = s * s;
    const double s3 = s * s2;
    return {k, ((s3 + s3) - 3.0 * s2) + 1.0, ((s3 - (s2 + s2)) + s) * h, 3.0 * s2 - (s3 + s3), (s3 - s2) * h};
}

template <std::size_t N>
double combine(const Point& at, const std::array<double, N>& values, double dk, double dk1) noexcept
{
    return ((at.h00 * values[at.k] + at.h10h * dk) + at.h01 * values[at.k + 1]) + at.h11h * dk1;
}

} // namespace pchipdetail

// Slope of the interpolant at node j.
template <std::size_t N>
double pchipSlope(const std::array<double, N>& nodes, const std::array<double, N>& values, std::size_t j) noexcept
{
    using namespace pchipdetail;
    if (j == 0)
        return endSlope(width(nodes, 0), width(nodes, 1), secant(nodes, values, 0), secant(nodes, values, 1));
    if (j == N - 1)
        return endSlope(width(nodes, N - 2), width(nodes, N - 3), secant(nodes, values, N - 2),
                        secant(nodes, values, N - 3));
    const double a = secant(nodes, values, j - 1);
    const double b = secant(nodes, values, j);
    if (a == 0.0 || b == 0.0 || signsDiffer(a, b))
        return 0.0;
    const double hLeft = width(nodes, j - 1);
    const double hRight = width(nodes, j);
    const double w1 = 2.0 * hRight + hLeft;
    const double w2 = hRight + 2.0 * hLeft;
    return (w1 + w2) / (w1 / a + w2 / b);
}

template <std::size_t N>
double pchip(const std::array<double, N>& nodes, const std::array<double, N>& values, double x) noexcept
{
    const pchipdetail::Point at = pchipdetail::locate(nodes, x);
    return pchipdetail::combine(at, values, pchipSlope(nodes, values, at.k), pchipSlope(nodes, values, at.k + 1));
}

// A constant table with its node slopes worked out once; reads give exactly what
// pchip gives over the same table.
template <std::size_t N>
struct PchipCurve {
    std::array<double, N> nodes;
    std::array<double, N> values;
    std::array<double, N> slopes;

    PchipCurve(const std::array<double, N>& nodeTable, const std::array<double, N>& valueTable) noexcept
        : nodes(nodeTable), values(valueTable), slopes()
    {
        for (std::size_t j = 0; j < N; ++j)
            slopes[j] = pchipSlope(nodes, values, j);
    }

    double operator()(double x) const noexcept { return at(pchipdetail::locate(nodes, x)); }

    // For several curves over the same nodes read at the same x.
    double at(const pchipdetail::Point& point) const noexcept
    {
        return pchipdetail::combine(point, values, slopes[point.k], slopes[point.k + 1]);
    }
};

} // namespace quillon
