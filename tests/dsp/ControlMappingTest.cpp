#include "dsp/ControlMapping.h"
#include "dsp/OptoRealtimeDSP.h"

#include "LiteralPchip.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
const std::array<double, 18> gainCurveNodes { 0.0925, 0.095, 0.0975, 0.099, 0.1,  0.14, 0.21, 0.25, 0.3219,
                                              0.38,   0.46,  0.5,    0.62,  0.72, 0.75, 0.84, 0.96, 1.0 };
const std::array<double, 18> gainCurveDb {
    -81.66025920317391, -59.58857550325115, -34.90197690072161, -22.227427957519254, -21.949628687953606,
    -10.552744582310261, -2.118172469061598, 1.0003405260812528, 5.6169951122391595,  9.716827387642844,
    12.885920044761065,  14.501210932852565, 19.576921920208186, 28.351765914946867,  30.24373903134629,
    35.38332193179595,   37.70711910575897,  37.70711910575897};

quillon::RealtimeDiagnostics diagnosticsFor(double peakReduction, double emphasis, double gain = 30.0)
{
    quillon::OptoRealtimeDSP engine;
    engine.prepare(48000.0, 2);
    quillon::RealtimeControls c;
    c.peakReduction = peakReduction;
    c.emphasis = emphasis;
    c.gain = gain;
    engine.setControls(c);
    return engine.diagnostics();
}
} // namespace

TEST(ControlMapping, DisplayTablesMeetTheirNodesExactly)
{
    const std::pair<double, double> peak[] = { { 0, 0 },     { 22, 0.25 }, { 25, 0.2774658203125 },
                                               { 50, 0.5 },  { 78, 0.75 }, { 100, 1.0 },
                                               { 40, 0.410986328125 } };
    for (auto [display, norm] : peak)
        EXPECT_EQ(quillon::normalisedPeakReduction(display), norm) << display;

    const std::pair<double, double> gain[] = { { 0, 0 }, { 22, 0.25 }, { 30, 0.321868896484375 }, { 50, 0.5 },
                                               { 78, 0.75 }, { 100, 1.0 } };
    for (auto [display, norm] : gain)
        EXPECT_EQ(quillon::normalisedGain(display), norm) << display;

    EXPECT_NEAR(quillon::normalisedPeakReduction(10), 0.1136, 1e-4);
    EXPECT_NEAR(quillon::normalisedPeakReduction(60), 0.5893, 1e-4);
}

TEST(ControlMapping, MakeupGainFollowsTheMeasuredCurveRelativeToItsUnityNode)
{
    // At curve nodes the expectation is the difference of two table values.
    const std::pair<double, double> atNodes[] = { { 22, 1.0003405260812528 - 5.6169951122391595 },
                                                  { 50, 14.501210932852565 - 5.6169951122391595 },
                                                  { 100, 37.70711910575897 - 5.6169951122391595 } };
    for (auto [display, db] : atNodes)
        EXPECT_NEAR(20.0 * std::log10(quillon::makeupGainFor(quillon::normalisedGain(display))), db, 1e-12) << display;
    EXPECT_NEAR(20.0 * std::log10(quillon::makeupGainFor(0.25)), -4.6167, 1e-4);
    EXPECT_NEAR(20.0 * std::log10(quillon::makeupGainFor(1.0)), 32.0901, 1e-4);

    // Between nodes: the plain interpolation, written out independently.
    for (double m : { 0.321868896484375, 0.0925, 0.11, 0.3, 0.55, 0.99 })
    {
        const double expected = std::pow(10.0, (literal::pchip(gainCurveNodes, gainCurveDb, m) - 5.6169951122391595) / 20.0);
        EXPECT_EQ(quillon::makeupGainFor(m), expected) << m;
    }
    EXPECT_NEAR(quillon::makeupGainFor(0.321868896484375), 0.99976, 1e-5);

    // Below the curve's floor the wet path is muted.
    EXPECT_EQ(quillon::makeupGainFor(quillon::normalisedGain(8.0)), 0.0);
    EXPECT_EQ(quillon::makeupGainFor(0.09249999999), 0.0);
}

TEST(ControlMapping, EngineClassifiesTheSettingAgainstTheCalibration)
{
    struct Case
    {
        double peakReduction, emphasis;
        bool atReference, outside, variant;
    };
    const Case cases[] = {
        { 25, 0, true, false, false },    { 25, 10, false, false, false }, { 40, 0, false, false, false },
        { 10, 0, false, true, false },    { 60, 0, false, true, false },   { 52.1, 46.5, false, false, true },
        { 52.1, 0, false, false, true },  { 52.1, 20, false, false, false }, { 55, 0, false, false, false },
    };
    for (const auto& c : cases)
    {
        const auto d = diagnosticsFor(c.peakReduction, c.emphasis);
        EXPECT_EQ(d.atReference, c.atReference) << c.peakReduction << "/" << c.emphasis;
        EXPECT_EQ(d.outsideCalibration, c.outside) << c.peakReduction << "/" << c.emphasis;
        EXPECT_EQ(d.calibrationVariant != 0, c.variant) << c.peakReduction << "/" << c.emphasis;
    }

    const auto defaults = diagnosticsFor(25, 0);
    EXPECT_EQ(defaults.peakReductionNorm, 0.2774658203125);
    EXPECT_EQ(defaults.gainNorm, 0.321868896484375);
    EXPECT_EQ(defaults.emphasisNorm, 1.0);
    EXPECT_EQ(defaults.mixFraction, 1.0);
    EXPECT_TRUE(defaults.modelled);
}
