// The arithmetic behind the editor's drawing: readouts, meter label, Comp/Limit dot,
// knob pointer angles, needle geometry and ballistics.
#include "plugin/PanelMath.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>

namespace
{
constexpr float pi = 3.14159265358979f;

struct ReadoutCase
{
    float value;
    const char* text;
};

class ReadoutText : public ::testing::TestWithParam<ReadoutCase>
{
};

TEST_P(ReadoutText, PrintsTheValueWithoutTrailingZeros)
{
    const std::atomic<float> raw { GetParam().value };
    EXPECT_EQ(panel::readoutText(&raw), juce::String(GetParam().text));
}

// The 0.1-step parameters show a decimal only when the value has one.
INSTANTIATE_TEST_SUITE_P(Values, ReadoutText,
                         ::testing::Values(ReadoutCase { 30.0f, "30" }, ReadoutCase { 25.3f, "25.3" },
                                           ReadoutCase { 25.0f, "25" }, ReadoutCase { 7.0f, "7" },
                                           ReadoutCase { 100.0f, "100" }, ReadoutCase { 0.0f, "0" },
                                           ReadoutCase { 33.3f, "33.3" }, ReadoutCase { 0.1f, "0.1" },
                                           ReadoutCase { 99.9f, "99.9" }));

TEST(ReadoutText, MissingParameterReadsZero)
{
    EXPECT_EQ(panel::readoutText(nullptr), "0");
}

struct LabelCase
{
    float value;
    const char* label;
};

class MeterModeLabel : public ::testing::TestWithParam<LabelCase>
{
};

TEST_P(MeterModeLabel, NamesTheRoundedAndClampedPosition)
{
    const std::atomic<float> raw { GetParam().value };
    EXPECT_EQ(panel::meterModeLabel(&raw), juce::String(GetParam().label));
}

// Halves round to the even neighbour; out-of-range positions stop at the ends.
INSTANTIATE_TEST_SUITE_P(Positions, MeterModeLabel,
                         ::testing::Values(LabelCase { 0.0f, "+10 dB" }, LabelCase { 1.0f, "GR" },
                                           LabelCase { 2.0f, "+4 dB" }, LabelCase { 0.49f, "+10 dB" },
                                           LabelCase { 0.5f, "+10 dB" }, LabelCase { 0.51f, "GR" },
                                           LabelCase { 1.5f, "+4 dB" }, LabelCase { 2.5f, "+4 dB" },
                                           LabelCase { 7.0f, "+4 dB" }, LabelCase { -1.0f, "+10 dB" },
                                           LabelCase { std::numeric_limits<float>::quiet_NaN(), "+10 dB" }));

TEST(MeterModeLabel, MissingParameterReadsTheFirstPosition)
{
    EXPECT_EQ(panel::meterModeLabel(nullptr), "+10 dB");
}

TEST(CompLimitDot, SitsByLimitWhenOnAndByCompWhenOff)
{
    EXPECT_EQ(panel::compLimitDot(true), juce::Rectangle<float>(68.0f, 231.0f, 4.0f, 4.0f));
    EXPECT_EQ(panel::compLimitDot(false), juce::Rectangle<float>(68.0f, 282.0f, 4.0f, 4.0f));
}

TEST(PointerAngle, RunsFromStartToEndAndBackwardsWhenMirrored)
{
    const float start = pi * 1.2f;
    const float end = pi * 2.8f;
    EXPECT_FLOAT_EQ(panel::pointerAngle(0.0f, start, end, false), start);
    EXPECT_FLOAT_EQ(panel::pointerAngle(1.0f, start, end, false), end);
    EXPECT_FLOAT_EQ(panel::pointerAngle(0.0f, start, end, true), end);
    EXPECT_FLOAT_EQ(panel::pointerAngle(1.0f, start, end, true), start);
    EXPECT_FLOAT_EQ(panel::pointerAngle(0.5f, start, end, false), 2.0f * pi);
    EXPECT_FLOAT_EQ(panel::pointerAngle(0.25f, start, end, true), pi * 2.4f);
}

struct NeedleCase
{
    float level;
    double tipX, tipY;
};

class NeedleGeometry : public ::testing::TestWithParam<NeedleCase>
{
};

// On the 232 x 126 overlay the pivot is at (116, 133) and the needle is 94.76 long.
TEST_P(NeedleGeometry, PivotsBelowTheOverlayAndSweepsHalfATurn)
{
    const auto needle = panel::needleLine(232.0f, 126.0f, GetParam().level);
    EXPECT_FLOAT_EQ(needle.getStartX(), 116.0f);
    EXPECT_FLOAT_EQ(needle.getStartY(), 133.0f);
    EXPECT_NEAR(needle.getEndX(), GetParam().tipX, 1e-3);
    EXPECT_NEAR(needle.getEndY(), GetParam().tipY, 1e-3);
}

INSTANTIATE_TEST_SUITE_P(Levels, NeedleGeometry,
                         ::testing::Values(NeedleCase { 0.0f, 116.0 - 94.76, 133.0 },
                                           NeedleCase { 0.5f, 116.0, 133.0 - 94.76 },
                                           NeedleCase { 1.0f, 116.0 + 94.76, 133.0 },
                                           NeedleCase { 0.25f, 116.0 - 94.76 * std::sqrt(0.5), 133.0 - 94.76 * std::sqrt(0.5) }));

TEST(NeedleGeometry, ShowsAboveTheLowerEdgeOnlyAwayFromTheStops)
{
    EXPECT_GT(panel::needleLine(232.0f, 126.0f, 0.02f).getEndY(), 126.0f);
    EXPECT_LT(panel::needleLine(232.0f, 126.0f, 0.03f).getEndY(), 126.0f);
    EXPECT_LT(panel::needleLine(232.0f, 126.0f, 0.97f).getEndY(), 126.0f);
    EXPECT_GT(panel::needleLine(232.0f, 126.0f, 0.98f).getEndY(), 126.0f);
}

TEST(NeedleBallistics, FallsByNinetyTwoPercentPerTickAfterAReadingDrops)
{
    float displayed = panel::nextDisplayedLevel(0.0f, 1.0f);
    EXPECT_EQ(displayed, 1.0f);
    const float expected[] = { 0.92f, 0.8464f, 0.778688f, 0.71639296f };
    for (float e : expected)
    {
        displayed = panel::nextDisplayedLevel(displayed, 0.0f);
        EXPECT_FLOAT_EQ(displayed, e);
    }
}

TEST(NeedleBallistics, JumpsUpAtOnceAndStopsFallingAtTheReading)
{
    EXPECT_EQ(panel::nextDisplayedLevel(0.3f, 0.8f), 0.8f);
    EXPECT_FLOAT_EQ(panel::nextDisplayedLevel(0.5f, 0.45f), 0.46f);
    EXPECT_EQ(panel::nextDisplayedLevel(0.5f, 0.47f), 0.47f);
}

TEST(NeedleBallistics, NeedleNeverPassesItsEndStops)
{
    EXPECT_EQ(panel::needleLevel(panel::nextDisplayedLevel(0.0f, 1.7f)), 1.0f);
    EXPECT_EQ(panel::needleLevel(panel::nextDisplayedLevel(0.0f, -0.4f)), 0.0f);
    EXPECT_EQ(panel::needleLevel(-0.4f), 0.0f);
    EXPECT_EQ(panel::needleLevel(0.4f), 0.4f);
    EXPECT_EQ(panel::needleLevel(1.0f), 1.0f);
}
} // namespace
