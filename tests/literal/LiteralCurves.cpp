// The literal engine's measured curves: interpolation, side-chain filter, static gain surface
// and level calibration, each evaluated from its tables on every call.

#include "tests/literal/LiteralModel.h"

#include <cmath>
#include <complex>
#include <limits>

namespace quillon::literal
{
namespace
{

constexpr int maxNodes = 18;

double endSlope(double h0, double h1, double m0, double m1)
{
    const double p = h0 * m1;
    const double q = std::fma(2.0 * h0 + h1, m0, -p);
    const double e = q / (h0 + h1);
    if (e == 0.0)
        return 0.0;
    if (std::signbit(e) != std::signbit(m0))
        return 0.0;
    if (std::signbit(m0) != std::signbit(m1) && std::fabs(e) > 3.0 * std::fabs(m0))
        return 3.0 * m0;
    return e;
}

void slopes(const double* nodes, const double* values, int n, double* h, double* d)
{
    double delta[maxNodes];
    for (int k = 0; k <= n - 2; ++k)
    {
        h[k] = nodes[k + 1] - nodes[k];
        delta[k] = (values[k + 1] - values[k]) / h[k];
    }
    for (int j = 1; j <= n - 2; ++j)
    {
        const double a = delta[j - 1];
        const double b = delta[j];
        if (a == 0.0 || b == 0.0 || std::signbit(a) != std::signbit(b))
        {
            d[j] = 0.0;
        }
        else
        {
            const double w1 = 2.0 * h[j] + h[j - 1];
            const double w2 = h[j] + 2.0 * h[j - 1];
            d[j] = (w1 + w2) / (w1 / a + w2 / b);
        }
    }
    d[0] = endSlope(h[0], h[1], delta[0], delta[1]);
    d[n - 1] = endSlope(h[n - 2], h[n - 3], delta[n - 2], delta[n - 3]);
}

double hermite(const double* nodes, const double* values, const double* h, const double* d, int k,
               double t)
{
    const double s = (t - nodes[k]) / h[k];
    const double s2 = s * s;
    const double s3 = s * s2;
    const double h00 = ((s3 + s3) - 3.0 * s2) + 1.0;
    const double h10 = (s3 - (s2 + s2)) + s;
    const double h01 = 3.0 * s2 - (s3 + s3);
    const double h11 = s3 - s2;
    return ((h00 * values[k] + (h10 * h[k]) * d[k]) + h01 * values[k + 1]) + (h11 * h[k]) * d[k + 1];
}

} // namespace

double pchip(const double* nodes, const double* values, int n, double x)
{
    double h[maxNodes];
    double d[maxNodes];
    slopes(nodes, values, n, h, d);
    const double t = x < nodes[0] ? nodes[0] : (nodes[n - 1] < x ? nodes[n - 1] : x);
    int k = n - 2;
    for (int i = 0; i <= n - 3; ++i)
    {
        if (t <= nodes[i + 1])
        {
            k = i;
            break;
        }
    }
    return hermite(nodes, values, h, d, k, t);
}

double pchipFromLastNodeBelow(const double* nodes, const double* values, int n, double x)
{
    double h[maxNodes];
    double d[maxNodes];
    slopes(nodes, values, n, h, d);
    int k = 0;
    for (int i = 0; i <= n - 2; ++i)
        if (nodes[i] <= x)
            k = i;
    return hermite(nodes, values, h, d, k, x);
}

// ---------------------------------------------------------------- side-chain filter

namespace
{
const double emphasisNodes[5] = {0.0, 0.25, 0.5, 0.75, 1.0};
const double depthNodes[5] = {14.627011177528248, 14.03006918300934, 12.850516919145079,
                              11.245157026273272, 0.0};
} // namespace

Biquad sidechainBiquad(double e)
{
    const double logCentreHzNodes[5] = {5.8391361401766275, 5.937265700839241, 6.154404006711882,
                                        6.525638828836202, 6.525638828836202};
    const double logQNodes[5] = {-1.764611056343205, -1.7217407402599645, -1.6516296344984032,
                                 -1.481291552041823, -1.481291552041823};
    Biquad q;
    if (e >= 0.999999999999)
        return q;
    const double depth = atLeast(0.0, pchip(emphasisNodes, depthNodes, 5, e));
    const double f = std::exp(pchip(emphasisNodes, logCentreHzNodes, 5, e));
    const double qFactor = std::exp(pchip(emphasisNodes, logQNodes, 5, e));
    const double a = std::pow(10.0, depth / -40.0);
    const double w = (f * 6.283185307179586) / 48000.0;
    const double s = std::sin(w);
    const double c = std::cos(w);
    const double alpha = s / (qFactor + qFactor);
    const double a0 = alpha / a + 1.0;
    q.b0 = (alpha * a + 1.0) / a0;
    q.b1 = (c * -2.0) / a0;
    q.b2 = (1.0 - alpha * a) / a0;
    q.a1 = (c * -2.0) / a0;
    q.a2 = (1.0 - alpha / a) / a0;
    q.z1 = 0.0;
    q.z2 = 0.0;
    return q;
}

double magnitudeSquared(const Biquad& q, double frequency)
{
    const double theta = (frequency * 6.283185307179586) / -48000.0;
    double c, s;
    if (std::isnan(theta))
    {
        c = theta;
        s = theta;
    }
    else if (std::isinf(theta))
    {
        c = std::numeric_limits<double>::quiet_NaN();
        s = c;
    }
    else
    {
        c = std::cos(theta);
        s = std::sin(theta);
    }
    double u2re = c * c - s * s;
    double u2im = (s * c) + (s * c);
    if (std::isnan(u2re) && std::isnan(u2im))
    {
        const std::complex<double> u(c, s);
        const std::complex<double> u2 = u * u;
        u2re = u2.real();
        u2im = u2.imag();
    }
    const std::complex<double> num(q.b2 * u2re + (c * q.b1 + q.b0), q.b2 * u2im + q.b1 * s);
    const std::complex<double> den(u2re * q.a2 + (c * q.a1 + 1.0), u2im * q.a2 + s * q.a1);
    const std::complex<double> hz = num / den;
    if (std::isinf(hz.real()) || std::isinf(hz.imag()))
        return std::numeric_limits<double>::infinity();
    return hz.real() * hz.real() + hz.imag() * hz.imag();
}

// ---------------------------------------------------------------- static gain surface

namespace
{
const double inputNodes[7] = {-47.999973716469796, -41.999973716469796, -35.999973716469796,
                              -29.999973716469796, -23.999973716469796, -17.999973716469796,
                              -11.999973716469796};
const double peakNodes[8] = {0.0, 0.15, 0.2775, 0.4, 0.55, 0.7, 0.85, 1.0};
const double staticGainGrid[56] = {
    5.6169951122391595, 5.617070001364553, 5.617197492202781, 5.617668625047035,
    5.619185113073993, 5.621928651410434, 5.6251524344780695,
    5.6169951122391595, 5.617070001364553, 5.617197492202781, 5.617668625047035,
    5.618448184334802, 5.618564946044499, 5.620221637200219,
    5.6169951122391595, 5.617070001364553, 5.617197492202781, 5.617668625047035,
    5.6160825289312335, 5.605520792733493, 4.184244017485589,
    5.6169951122391595, 5.617070001364553, 5.617197492202781, 5.617668625047035,
    5.573514015732325, 3.309099984782687, -1.0435861782911378,
    5.617549817896133, 5.617621124660282, 5.617748706420372, 5.4524439735620405,
    2.5394648143252887, -1.9584084065534242, -6.78676641217929,
    5.618660212088145, 5.612583503302567, 3.9751108899117966, -0.2105198426707524,
    -4.959904438860711, -9.835372961739075, -14.631009442228372,
    5.322621627037776, 2.0872919801972785, -2.470836301109159, -7.313866240649823,
    -12.164732815419974, -16.885843032287013, -21.360794531996405,
    4.229311564812193, 0.12988304489602598, -4.600032498887018, -9.469411155187792,
    -14.281296538572377, -18.991102248366836, -23.384483947606128};

double upperGradient(double peak)
{
    if (peak <= 0.4)
    {
        const double c = peak / 0.4;
        if (c < 0.0)
            return -0.1;
        return atMost(1.0, c) * -0.6255933497265806 + -0.1;
    }
    return -0.7255933497265806;
}
} // namespace

double baseStaticGain(double peak, double levelDb)
{
    const double x = clampTo(levelDb, -47.999973716469796, -11.999973716469796);
    double v[8];
    for (int r = 0; r < 8; ++r)
        v[r] = pchipFromLastNodeBelow(inputNodes, staticGainGrid + r * 7, 7, x);
    const double p = clampTo(peak, 0.0, 1.0);
    return pchipFromLastNodeBelow(peakNodes, v, 8, p);
}

double extendedStaticGain(double peak, double levelDb)
{
    const double l = clampTo(levelDb, -47.999973716469796, -2.6999708456034766);
    if (l <= -11.999973716469796)
        return baseStaticGain(peak, l);
    return baseStaticGain(peak, -11.999973716469796) + upperGradient(peak) * (11.999973716469796 + l);
}

double staticReduction(double peak, double levelDb)
{
    return extendedStaticGain(0.0, levelDb) - extendedStaticGain(peak, levelDb);
}

// ---------------------------------------------------------------- level calibration

double calibratedLevel(double x, double k, double c, bool ext)
{
    const double calibrationEmphasisNodes[4] = {0.27, 0.58, 0.83, 1.0};
    const double rowA[4] = {1.556179813043683, 2.585655842245457, 3.696363153720864,
                            3.2082809432230395};
    const double rowB[4] = {0.438791451932487, 0.4068938463876649, 0.4481893629044145,
                            1.9964339308969175};
    double shift;
    if (std::fabs(k - 0.2774658203125) <= 1e-12)
    {
        shift = 6.425;
    }
    else if (!ext && (k < 0.4 || k > 0.55))
    {
        shift = std::numeric_limits<double>::quiet_NaN();
    }
    else
    {
        const double cc = clampTo(c, 0.27, 1.0);
        const double u = pchip(calibrationEmphasisNodes, rowA, 4, cc);
        if (k < 0.4)
        {
            if (k <= 0.2774658203125)
                shift = 6.425;
            else
                shift = (u - 6.425) * ((k - 0.2774658203125) / 0.12253417968750002) + 6.425;
        }
        else
        {
            const double v = pchip(calibrationEmphasisNodes, rowB, 4, cc);
            shift = (v - u) * ((atMost(0.55, k) - 0.4) / 0.15000000000000002) + u;
        }
    }
    const double f = clampTo((35.0 + x) / 14.0, 0.0, 1.0);
    const double y = (3.0 - 2.0 * f) * (f * f) * shift + x;
    return atMost(-2.6999708456034766, y);
}

} // namespace quillon::literal
