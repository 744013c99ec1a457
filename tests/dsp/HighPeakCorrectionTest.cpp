#include "dsp/HighPeakCorrection.h"

#include <gtest/gtest.h>

#include <limits>

namespace
{
struct Setting
{
    quillon::RealtimeControls controls;
    quillon::RealtimeDiagnostics diagnostics;
};

// Default Gain, Emphasis and Mix, Comp mode, Peak Reduction at 1.
Setting correctedSetting()
{
    Setting s;
    s.diagnostics.peakReductionNorm = 1.0;
    s.diagnostics.emphasisNorm = 1.0;
    s.diagnostics.gainNorm = 0.321868896484375;
    s.diagnostics.mixFraction = 1.0;
    return s;
}

constexpr double centreLevel = -25.500000253286988; // -13.5 after the 12.000000253286988 offset
} // namespace

TEST(HighPeakCorrection, CancelsTheMeasuredErrorAtTheWindowCentre)
{
    auto s = correctedSetting();
    double target = -1.0;
    ASSERT_TRUE(quillon::highPeakFundamentalTargetDb(s.controls, s.diagnostics, centreLevel, target));
    EXPECT_EQ(target, 0.9314681060419471);

    // Measured nodes between: 0.9375 holds -0.6178415053144612.
    s.diagnostics.peakReductionNorm = 0.9375;
    ASSERT_TRUE(quillon::highPeakFundamentalTargetDb(s.controls, s.diagnostics, centreLevel, target));
    EXPECT_EQ(target, 0.6178415053144612);

    // One dB above the centre the target rises by the level gradient.
    s.diagnostics.peakReductionNorm = 1.0;
    ASSERT_TRUE(quillon::highPeakFundamentalTargetDb(s.controls, s.diagnostics, centreLevel + 1.0, target));
    EXPECT_NEAR(target, 0.9314681060419471 + 0.1522454111839181, 1e-12);
}

TEST(HighPeakCorrection, GivesNoTargetOutsideWhereTheErrorWasMeasured)
{
    using Change = void (*)(Setting&, double&);
    const std::pair<const char*, Change> excluded[] = {
        { "limit mode", [](Setting& s, double&) { s.controls.limitMode = true; } },
        { "correction off", [](Setting& s, double&) { s.controls.highPeakCorrection = false; } },
        { "emphasis", [](Setting& s, double&) { s.diagnostics.emphasisNorm = 0.99; } },
        { "gain", [](Setting& s, double&) { s.diagnostics.gainNorm = 0.3219; } },
        { "mix", [](Setting& s, double&) { s.diagnostics.mixFraction = 0.99; } },
        { "low peak", [](Setting& s, double&) { s.diagnostics.peakReductionNorm = 0.8499; } },
        { "level above", [](Setting&, double& level) { level = -24.4; } },
        { "level below", [](Setting&, double& level) { level = -26.6; } },
        { "level nan", [](Setting&, double& level) { level = std::numeric_limits<double>::quiet_NaN(); } },
    };
    for (const auto& [name, change] : excluded)
    {
        auto s = correctedSetting();
        double level = centreLevel;
        change(s, level);
        double target = 5.0;
        EXPECT_FALSE(quillon::highPeakFundamentalTargetDb(s.controls, s.diagnostics, level, target)) << name;
        EXPECT_EQ(target, 0.0) << name;
    }
}
