// Calibration of detector levels against measured shifts: a fixed shift at the
// reference Peak Reduction, measured rows at 0.4 and 0.55 read over Emphasis, blended
// in smoothly between -35 and -21 dB.

#include "dsp/DetectorCalibration.h"

#include "dsp/Pchip.h"

#include <array>
#include <cmath>

namespace quillon {
namespace {

constexpr std::array<double, 4> calibrationEmphasisNodes{0.27, 0.58, 0.83, 1.0};
// Shift in dB at Peak Reduction 0.4 (row A) and 0.55 (row B).
constexpr std::array<double, 4> calibrationShiftAtLowPeak{1.556179813043683, 2.585655842245457, 3.696363153720864,
                                                          3.2082809432230395};
constexpr std::array<double, 4> calibrationShiftAtHighPeak{0.438791451932487, 0.4068938463876649, 0.4481893629044145,
                                                           1.9964339308969175};

constexpr double referencePeak = 0.2774658203125;
constexpr double referenceShiftDb = 6.425;
constexpr double lowPeak = 0.4;
constexpr double highPeak = 0.55;
constexpr double outputCeilingDb = -2.6999708456034766;

// Row slopes worked out once, on first use.
const PchipCurve<4>& shiftAtLowPeak() noexcept
{
    static const PchipCurve<4> curve(calibrationEmphasisNodes, calibrationShiftAtLowPeak);
    return curve;
}

const PchipCurve<4>& shiftAtHighPeak() noexcept
{
    static const PchipCurve<4> curve(calibrationEmphasisNodes, calibrationShiftAtHighPeak);
    return curve;
}

// First use comes when the library loads, so the audio thread never meets the first-use guard.
[[maybe_unused]] const bool rowsBuiltAtLoad = (shiftAtLowPeak(), shiftAtHighPeak(), true);

// Clamps that let a NaN through, so a bad input ends in a NaN level.
double clampKeepingNaN(double x, double low, double high) noexcept
{
    return x < low ? low : (high < x ? high : x);
}

} // namespace

double calibrationShift(double peak, double emphasis, bool extendedCalibration) noexcept
{
    if (std::fabs(peak - referencePeak) <= 1e-12)
        return referenceShiftDb;
    if (!extendedCalibration && (peak < lowPeak || peak > highPeak))
        return std::nan("");
    const double c = clampKeepingNaN(emphasis, 0.27, 1.0);
    const double u = shiftAtLowPeak()(c);
    if (peak < lowPeak) {
        if (peak <= referencePeak)
            return referenceShiftDb;
        return (u - referenceShiftDb) * ((peak - referencePeak) / 0.12253417968750002) + referenceShiftDb;
    }
    const double v = shiftAtHighPeak()(c);
    const double limitedPeak = highPeak < peak ? highPeak : peak;
    return (v - u) * ((limitedPeak - lowPeak) / 0.15000000000000002) + u;
}

double calibratedLevel(double levelDb, double peakNorm, double emphasisNorm, bool extendedCalibration) noexcept
{
    const double shift = calibrationShift(peakNorm, emphasisNorm, extendedCalibration);
    const double f = clampKeepingNaN((35.0 + levelDb) / 14.0, 0.0, 1.0);
    const double y = (3.0 - 2.0 * f) * (f * f) * shift + levelDb;
    return outputCeilingDb < y ? outputCeilingDb : y;
}

double emphasisCorrection(double emphasisRatioDb, double spectralSpread, double shapeDb, double emphasisNorm) noexcept
{
    const double c = -0.12199999999999998 * shapeDb +
                     ((1.0 - emphasisNorm) * -0.16749999999999998 + (spectralSpread * 2.1050992452633364 + emphasisRatioDb));
    return c > 0.0 ? 0.0 : c;
}

} // namespace quillon
