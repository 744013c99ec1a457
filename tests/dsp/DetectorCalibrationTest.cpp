// Detector level calibration: the reference shift, the blend and the ceiling, the
// measured rows at 0.4 and 0.55 and between them, and the emphasis correction.

#include "dsp/DetectorCalibration.h"

#include "LiteralPchip.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

namespace {

using quillon::calibratedLevel;
using quillon::calibrationShift;
using quillon::emphasisCorrection;

constexpr double reference = 0.2774658203125;
constexpr double ceiling = -2.6999708456034766;
constexpr std::array<double, 4> emphasisNodes{0.27, 0.58, 0.83, 1.0};
constexpr std::array<double, 4> rowA{1.556179813043683, 2.585655842245457, 3.696363153720864, 3.2082809432230395};
constexpr std::array<double, 4> rowB{0.438791451932487, 0.4068938463876649, 0.4481893629044145, 1.9964339308969175};


TEST(DetectorCalibration, ReferencePeakShiftsBlendsAndCaps)
{
    for (const double e : {0.0, 0.5, 1.0}) {
        EXPECT_EQ(calibratedLevel(-20.0, reference, e, false), -13.575);
        EXPECT_EQ(calibratedLevel(-20.0, reference, e, true), -13.575);
    }
    EXPECT_EQ(calibratedLevel(-20.0, reference + 1e-12, 0.3, false), -13.575);
    EXPECT_EQ(calibratedLevel(-28.0, reference, 1.0, true), -24.7875);
    EXPECT_EQ(calibratedLevel(-5.0, reference, 1.0, true), ceiling);
    EXPECT_EQ(calibratedLevel(40.0, 0.45, 0.6, true), ceiling);
}

TEST(DetectorCalibration, NoShiftAtAndBelowTheBlendStart)
{
    for (const double peak : {0.0, reference, 0.35, 0.4, 0.47, 0.55, 1.0})
        for (const double e : {0.0, 0.27, 0.6, 1.0}) {
            EXPECT_EQ(calibratedLevel(-35.0, peak, e, true), -35.0) << peak << ' ' << e;
            EXPECT_EQ(calibratedLevel(-60.0, peak, e, true), -60.0) << peak << ' ' << e;
        }
}

TEST(DetectorCalibration, BlendIsASmoothstepOverFourteenDecibels)
{
    const double shift = calibrationShift(0.5, 0.7, false);
    EXPECT_EQ(calibratedLevel(-21.0, 0.5, 0.7, false), shift + -21.0);
    for (const double x : {-34.0, -30.0, -27.5, -23.0, -21.5}) {
        const double f = (35.0 + x) / 14.0;
        EXPECT_NEAR(calibratedLevel(x, 0.5, 0.7, false), (3.0 - 2.0 * f) * (f * f) * shift + x, 1e-13) << x;
    }
}

TEST(DetectorCalibration, OutsideTheCalibratedRegionNeedsExtendedCalibration)
{
    EXPECT_TRUE(std::isnan(calibratedLevel(-20.0, 0.3, 1.0, false)));
    EXPECT_TRUE(std::isnan(calibratedLevel(-40.0, 0.3, 1.0, false)));
    EXPECT_TRUE(std::isnan(calibratedLevel(-20.0, 0.6, 1.0, false)));
    EXPECT_NEAR(calibrationShift(0.3, 1.0, true), 5.8334, 5e-5);
    EXPECT_EQ(calibrationShift(0.2, 0.5, true), 6.425);
}

TEST(DetectorCalibration, MeasuredRowsAtTheirPeakNodes)
{
    // K = 0.4 reads row A alone: at c = 1 that is its last value.
    EXPECT_EQ(calibratedLevel(-20.0, 0.4, 1.0, false), 3.2082809432230395 + -20.0);
    EXPECT_EQ(calibrationShift(0.4, 1.0, false), 3.2082809432230395);
    // Row B's first value, up to the last bit.
    EXPECT_NEAR(calibrationShift(0.55, 0.27, false), 0.438791451932487, 6e-17);
    for (const double e : {0.27, 0.5, 0.77, 1.0}) {
        EXPECT_EQ(calibrationShift(0.7, e, true), calibrationShift(0.55, e, true)) << e;
        EXPECT_EQ(calibrationShift(1.0, e, true), calibrationShift(0.55, e, true)) << e;
    }
    for (const double peak : {0.35, 0.4, 0.48, 0.55}) {
        EXPECT_EQ(calibratedLevel(-25.0, peak, 0.1, true), calibratedLevel(-25.0, peak, 0.27, true)) << peak;
        EXPECT_EQ(calibratedLevel(-25.0, peak, -3.0, true), calibratedLevel(-25.0, peak, 0.27, true)) << peak;
    }
}

TEST(DetectorCalibration, ShiftInterpolatesBetweenTheRows)
{
    for (const double e : {0.3, 0.6, 0.9})
        for (const double peak : {0.3, 0.35, 0.45, 0.5}) {
            const double u = literal::pchip(emphasisNodes, rowA, e);
            const double v = literal::pchip(emphasisNodes, rowB, e);
            const double expected = peak < 0.4 ? (u - 6.425) * ((peak - reference) / 0.12253417968750002) + 6.425
                                               : (v - u) * ((peak - 0.4) / 0.15000000000000002) + u;
            EXPECT_EQ(calibrationShift(peak, e, true), expected) << peak << ' ' << e;
        }
}

TEST(DetectorCalibration, NaNInputsGiveNaN)
{
    EXPECT_TRUE(std::isnan(calibratedLevel(std::nan(""), 0.45, 0.5, true)));
    EXPECT_TRUE(std::isnan(calibratedLevel(-20.0, std::nan(""), 0.5, true)));
    EXPECT_TRUE(std::isnan(calibratedLevel(-20.0, 0.45, std::nan(""), true)));
}

TEST(DetectorCalibration, EmphasisCorrectionIsNeverPositive)
{
    EXPECT_EQ(emphasisCorrection(0.0, 0.0, 0.0, 0.4), 0.6 * -0.16749999999999998);
    EXPECT_EQ(emphasisCorrection(-2.0, 0.5, 1.0, 0.3),
              -0.12199999999999998 * 1.0 + (0.7 * -0.16749999999999998 + (0.5 * 2.1050992452633364 + -2.0)));
    EXPECT_EQ(emphasisCorrection(3.0, 0.0, 0.0, 1.0), 0.0);
    EXPECT_TRUE(std::isnan(emphasisCorrection(0.0, std::nan(""), 0.0, 1.0)));
}

} // namespace
