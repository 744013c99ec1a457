#include "dsp/ControlMapping.h"

#include "dsp/Pchip.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace quillon
{
namespace
{
constexpr std::array<double, 6> peakDisplayNodes { 0.0, 22.0, 25.0, 50.0, 78.0, 100.0 };
constexpr std::array<double, 6> peakNormalisedNodes { 0.0, 0.25, 0.2774658203125, 0.5, 0.75, 1.0 };
constexpr std::array<double, 6> gainDisplayNodes { 0.0, 22.0, 30.0, 50.0, 78.0, 100.0 };
constexpr std::array<double, 6> gainNormalisedNodes { 0.0, 0.25, 0.321868896484375, 0.5, 0.75, 1.0 };

constexpr std::array<double, 18> gainCurveNodes { 0.0925, 0.095, 0.0975, 0.099, 0.1,  0.14, 0.21, 0.25, 0.3219,
                                                  0.38,   0.46,  0.5,    0.62,  0.72, 0.75, 0.84, 0.96, 1.0 };
constexpr std::array<double, 18> gainCurveDb {
    -81.66025920317391, -59.58857550325115, -34.90197690072161, -22.227427957519254, -21.949628687953606,
    -10.552744582310261, -2.118172469061598, 1.0003405260812528, 5.6169951122391595,  9.716827387642844,
    12.885920044761065,  14.501210932852565, 19.576921920208186, 28.351765914946867,  30.24373903134629,
    35.38332193179595,   37.70711910575897,  37.70711910575897};

constexpr double gainCurveFloor = 0.0925;
constexpr double gainCurveReferenceNode = 0.3219;

double piecewiseLinear(const std::array<double, 6>& display, const std::array<double, 6>& normalised,
                       double value) noexcept
{
    const double v = std::min(100.0, value);
    std::size_t k = 5;
    for (std::size_t i = 1; i < 5; ++i)
        if (v <= display[i])
        {
            k = i;
            break;
        }
    const double t = (v - display[k - 1]) / (display[k] - display[k - 1]);
    return (normalised[k] - normalised[k - 1]) * t + normalised[k - 1];
}

const PchipCurve<18>& gainCurve()
{
    static const PchipCurve<18> curve(gainCurveNodes, gainCurveDb);
    return curve;
}
} // namespace

double normalisedPeakReduction(double display) noexcept
{
    return piecewiseLinear(peakDisplayNodes, peakNormalisedNodes, display);
}

double normalisedGain(double display) noexcept { return piecewiseLinear(gainDisplayNodes, gainNormalisedNodes, display); }

double makeupGainFor(double m) noexcept
{
    if (m < gainCurveFloor)
        return 0.0;
    const auto& curve = gainCurve();
    return std::pow(10.0, (curve(m) - curve(gainCurveReferenceNode)) / 20.0);
}

} // namespace quillon
