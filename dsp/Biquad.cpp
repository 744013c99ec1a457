// Design of the side-chain peaking cut from measured Emphasis curves, and its power
// response, evaluated with the C99 Annex G complex rules so that overflow reads as
// infinity rather than NaN.

#include "dsp/Biquad.h"

#include "dsp/Pchip.h"

#include <array>
#include <cmath>
#include <complex>

namespace quillon {
namespace {

constexpr double twoPi = 6.283185307179586;
constexpr double modelRate = 48000.0;
constexpr double identityThreshold = 0.999999999999;

constexpr std::array<double, 5> emphasisNodes{0.0, 0.25, 0.5, 0.75, 1.0};
// Depth of the cut in dB.
constexpr std::array<double, 5> depthNodes{14.627011177528248, 14.03006918300934, 12.850516919145079,
                                           11.245157026273272, 0.0};
// Natural log of the centre frequency in Hz and of Q, over emphasisNodes.
constexpr std::array<double, 5> logCentreHzNodes{5.8391361401766275, 5.937265700839241, 6.154404006711882,
                                                 6.525638828836202, 6.525638828836202};
constexpr std::array<double, 5> logQNodes{-1.764611056343205, -1.7217407402599645, -1.6516296344984032,
                                          -1.481291552041823, -1.481291552041823};

} // namespace

Biquad sidechainBiquad(double emphasis) noexcept
{
    if (emphasis >= identityThreshold)
        return {1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    const double interpolatedDepth = pchip(emphasisNodes, depthNodes, emphasis);
    // A NaN emphasis stays NaN here rather than turning into a flat filter.
    const double depth = interpolatedDepth < 0.0 ? 0.0 : interpolatedDepth;
    const double centreHz = std::exp(pchip(emphasisNodes, logCentreHzNodes, emphasis));
    const double quality = std::exp(pchip(emphasisNodes, logQNodes, emphasis));
    const double a = std::pow(10.0, depth / -40.0);
    const double w = (centreHz * twoPi) / modelRate;
    const double s = std::sin(w);
    const double c = std::cos(w);
    const double alpha = s / (quality + quality);
    const double a0 = alpha / a + 1.0;
    const double feedback = (c * -2.0) / a0;
    return {(alpha * a + 1.0) / a0, feedback, (1.0 - alpha * a) / a0, feedback, (1.0 - alpha / a) / a0, 0.0, 0.0};
}

double magnitudeSquared(const Biquad& q, double frequencyHz) noexcept
{
    const double theta = (frequencyHz * twoPi) / -modelRate;
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    std::complex<double> u2(c * c - s * s, s * c + s * c);
    if (std::isnan(u2.real()) && std::isnan(u2.imag()))
        u2 = std::complex<double>(c, s) * std::complex<double>(c, s);
    const std::complex<double> numerator(q.b2 * u2.real() + (c * q.b1 + q.b0), q.b2 * u2.imag() + q.b1 * s);
    const std::complex<double> denominator(u2.real() * q.a2 + (c * q.a1 + 1.0), u2.imag() * q.a2 + s * q.a1);
    const std::complex<double> h = numerator / denominator;
    if (std::isinf(h.real()) || std::isinf(h.imag()))
        return HUGE_VAL;
    return h.real() * h.real() + h.imag() * h.imag();
}

} // namespace quillon
