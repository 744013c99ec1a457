#include "dsp/HighPeakCorrection.h"

#include "dsp/Pchip.h"

#include <array>
#include <cmath>

namespace quillon
{
namespace
{
constexpr std::array<double, 5> highPeakNodes { 0.85, 0.8875, 0.9375, 0.975, 1.0 };
constexpr std::array<double, 5> highPeakErrorAtReferenceOffsetDb { -0.9335029213501768, -0.72292711033791,
                                                                   -0.6178415053144612, -0.855566138495615,
                                                                   -0.9314681060419471 };
constexpr double equalityTolerance = 1e-12;
constexpr double gainAtThirty = 0.321868896484375;
constexpr double levelOffsetDb = 12.000000253286988;
constexpr double levelGradient = -0.1522454111839181;

const PchipCurve<5>& highPeakError()
{
    static const PchipCurve<5> curve(highPeakNodes, highPeakErrorAtReferenceOffsetDb);
    return curve;
}

// First use comes when the library loads, so the audio thread never meets the first-use guard.
[[maybe_unused]] const bool errorCurveBuiltAtLoad = (highPeakError(), true);
} // namespace

bool highPeakFundamentalTargetDb(const RealtimeControls& controls, const RealtimeDiagnostics& d, double levelDb,
                                 double& targetDb) noexcept
{
    targetDb = 0.0;
    if (controls.limitMode || !controls.highPeakCorrection)
        return false;
    if (!(std::fabs(d.emphasisNorm - 1.0) <= equalityTolerance)
        || !(std::fabs(d.gainNorm - gainAtThirty) <= equalityTolerance)
        || !(std::fabs(d.mixFraction - 1.0) <= equalityTolerance))
        return false;
    if (d.peakReductionNorm < 0.85 || d.peakReductionNorm > 1.0)
        return false;

    const double x = levelDb + levelOffsetDb;
    if (!std::isfinite(x) || x > -12.5 || x < -14.5)
        return false;

    const double e = highPeakError()(d.peakReductionNorm);
    const double r = (x + 13.5) * levelGradient + e;
    if (!std::isfinite(r))
        return false;
    targetDb = -r;
    return true;
}

} // namespace quillon
