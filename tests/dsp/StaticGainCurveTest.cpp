// Static gain surface: grid nodes exact, clamping of level and peak, the continuation
// above the grid and its gradient, and off-node values against a plain interpolation.

#include "dsp/StaticGainCurve.h"

#include "LiteralPchip.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <tuple>

namespace {

using quillon::baseStaticGain;
using quillon::extendedStaticGain;
using quillon::staticReduction;
using quillon::upperGradient;

constexpr std::array<double, 7> inputNodes{-47.999973716469796, -41.999973716469796, -35.999973716469796,
                                           -29.999973716469796, -23.999973716469796, -17.999973716469796,
                                           -11.999973716469796};
constexpr std::array<double, 8> peakNodes{0.0, 0.15, 0.2775, 0.4, 0.55, 0.7, 0.85, 1.0};
constexpr std::array<std::array<double, 7>, 8> grid{{
    {5.6169951122391595, 5.617070001364553, 5.617197492202781, 5.617668625047035, 5.619185113073993, 5.621928651410434, 5.6251524344780695},
    {5.6169951122391595, 5.617070001364553, 5.617197492202781, 5.617668625047035, 5.618448184334802, 5.618564946044499, 5.620221637200219},
    {5.6169951122391595, 5.617070001364553, 5.617197492202781, 5.617668625047035, 5.6160825289312335, 5.605520792733493, 4.184244017485589},
    {5.6169951122391595, 5.617070001364553, 5.617197492202781, 5.617668625047035, 5.573514015732325, 3.309099984782687, -1.0435861782911378},
    {5.617549817896133, 5.617621124660282, 5.617748706420372, 5.4524439735620405, 2.5394648143252887, -1.9584084065534242, -6.78676641217929},
    {5.618660212088145, 5.612583503302567, 3.9751108899117966, -0.2105198426707524, -4.959904438860711, -9.835372961739075, -14.631009442228372},
    {5.322621627037776, 2.0872919801972785, -2.470836301109159, -7.313866240649823, -12.164732815419974, -16.885843032287013, -21.360794531996405},
    {4.229311564812193, 0.12988304489602598, -4.600032498887018, -9.469411155187792, -14.281296538572377, -18.991102248366836, -23.384483947606128},
}};
constexpr double topLevel = -11.999973716469796;
constexpr double highestLevel = -2.6999708456034766;

// The surface read the plain way: every row interpolated at the level, then the column at the peak.
double plainSurface(double peak, double level)
{
    const double x = std::fmin(std::fmax(level, inputNodes[0]), topLevel);
    std::array<double, 8> column{};
    for (std::size_t r = 0; r < 8; ++r)
        column[r] = literal::pchip(inputNodes, grid[r], x);
    return literal::pchip(peakNodes, column, std::fmin(std::fmax(peak, 0.0), 1.0));
}

class GridNode : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t>> {};

TEST_P(GridNode, ReturnsItsValueExactly)
{
    const auto [r, i] = GetParam();
    EXPECT_EQ(baseStaticGain(peakNodes[r], inputNodes[i]), grid[r][i]);
    EXPECT_EQ(extendedStaticGain(peakNodes[r], inputNodes[i]), grid[r][i]);
}

INSTANTIATE_TEST_SUITE_P(AllFiftySix, GridNode,
                         ::testing::Combine(::testing::Range<std::size_t>(0, 8), ::testing::Range<std::size_t>(0, 7)));

TEST(StaticGainCurve, OffNodeValuesMatchAPlainSeparableInterpolation)
{
    for (double peak = -0.05; peak <= 1.05; peak += 0.0137)
        for (double level = -50.0; level <= -10.0; level += 0.731)
            EXPECT_EQ(baseStaticGain(peak, level), plainSurface(peak, level)) << peak << ' ' << level;
}

TEST(StaticGainCurve, LevelAndPeakAreClamped)
{
    for (const double peak : {0.0, 0.3, 0.62, 1.0}) {
        EXPECT_EQ(baseStaticGain(peak, -60.0), baseStaticGain(peak, inputNodes[0]));
        EXPECT_EQ(baseStaticGain(peak, -5.0), baseStaticGain(peak, topLevel));
    }
    for (const double level : {-45.0, -30.5, -12.5}) {
        EXPECT_EQ(baseStaticGain(-0.3, level), baseStaticGain(0.0, level));
        EXPECT_EQ(baseStaticGain(1.7, level), baseStaticGain(1.0, level));
    }
    EXPECT_EQ(upperGradient(-0.3), upperGradient(0.0));
    EXPECT_EQ(upperGradient(1.7), upperGradient(1.0));
}

TEST(StaticGainCurve, GradientRunsFromBaseToSteepestAtTheKnee)
{
    EXPECT_EQ(upperGradient(0.0), -0.1);
    EXPECT_EQ(upperGradient(0.2), 0.5 * -0.6255933497265806 + -0.1);
    EXPECT_NEAR(upperGradient(0.2), -0.41280, 5e-6);
    EXPECT_EQ(upperGradient(0.4), -0.7255933497265806);
    EXPECT_EQ(upperGradient(0.9), -0.7255933497265806);
    EXPECT_TRUE(std::isnan(upperGradient(std::nan(""))));
}

TEST(StaticGainCurve, ContinuationAboveTheGridIsLinearAndClamped)
{
    EXPECT_EQ(extendedStaticGain(1.0, 0.0), extendedStaticGain(1.0, highestLevel));
    EXPECT_NEAR(extendedStaticGain(1.0, 0.0), -30.1325, 5e-5);
    EXPECT_NEAR(extendedStaticGain(0.0, 0.0), 4.6952, 5e-5);
    // At peak 0 the continuation is the top grid value plus -0.1 dB per dB.
    EXPECT_EQ(extendedStaticGain(0.0, -7.0), grid[0][6] + -0.1 * (11.999973716469796 + -7.0));
    EXPECT_EQ(extendedStaticGain(0.7, -60.0), baseStaticGain(0.7, -47.999973716469796));
}

TEST(StaticGainCurve, ContinuationJoinsTheGridAtTheTopLevel)
{
    for (double peak = 0.0; peak <= 1.0; peak += 0.05) {
        const double atTop = baseStaticGain(peak, topLevel);
        EXPECT_EQ(extendedStaticGain(peak, topLevel), atTop) << peak;
        const double justAbove = std::nextafter(topLevel, 0.0);
        EXPECT_NEAR(extendedStaticGain(peak, justAbove), atTop, 1e-12) << peak;
        EXPECT_NEAR(extendedStaticGain(peak, std::nextafter(topLevel, -100.0)), atTop, 1e-12) << peak;
    }
}

TEST(StaticGainCurve, ShapeAcrossTheGrid)
{
    // Nearly flat at Peak Reduction 0, a fall of about 27.6 dB at 1.
    for (double level = -48.0; level <= -12.0; level += 1.0)
        EXPECT_NEAR(baseStaticGain(0.0, level), 5.621, 0.0045) << level;
    EXPECT_NEAR(baseStaticGain(1.0, -47.999973716469796) - baseStaticGain(1.0, topLevel), 27.6, 0.05);
}

TEST(StaticGainCurve, ReductionIsMeasuredAgainstPeakZero)
{
    EXPECT_EQ(staticReduction(1.0, -5.0), extendedStaticGain(0.0, -5.0) - extendedStaticGain(1.0, -5.0));
    EXPECT_EQ(staticReduction(0.0, -30.0), 0.0);
    // Rows 0.55 and 0.7 lie slightly above row 0 at the lowest level.
    EXPECT_NEAR(staticReduction(0.7, -47.999973716469796), -0.0017, 0.0001);
    EXPECT_GT(staticReduction(1.0, -20.0), 20.0);
}

} // namespace
