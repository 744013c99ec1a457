// Monotone cubic interpolation: exact node slopes and values over the model's tables,
// clamping, NaN, shape preservation, and the worked-out curve against the per-call form.

#include "dsp/Pchip.h"

#include "LiteralPchip.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

namespace {

using quillon::pchip;
using quillon::pchipSlope;

constexpr std::array<double, 5> emphasisNodes{0.0, 0.25, 0.5, 0.75, 1.0};
constexpr std::array<double, 5> depthNodes{14.627011177528248, 14.03006918300934, 12.850516919145079,
                                           11.245157026273272, 0.0};

constexpr std::array<double, 18> gainCurveNodes{0.0925, 0.095, 0.0975, 0.099, 0.1,  0.14, 0.21, 0.25, 0.3219,
                                                0.38,   0.46,  0.5,    0.62,  0.72, 0.75, 0.84, 0.96, 1.0};
constexpr std::array<double, 18> gainCurveDb{
    -81.66025920317391, -59.58857550325115, -34.90197690072161, -22.227427957519254, -21.949628687953606,
    -10.552744582310261, -2.118172469061598, 1.0003405260812528, 5.6169951122391595, 9.716827387642844,
    12.885920044761065,  14.501210932852565, 19.576921920208186, 28.351765914946867, 30.24373903134629,
    35.38332193179595,   37.70711910575897,  37.70711910575897};

constexpr std::array<double, 5> highPeakNodes{0.85, 0.8875, 0.9375, 0.975, 1.0};
constexpr std::array<double, 5> highPeakErrorAtReferenceOffsetDb{-0.9335029213501768, -0.72292711033791,
                                                                 -0.6178415053144612, -0.855566138495615,
                                                                 -0.9314681060419471};

constexpr std::array<double, 4> calibrationEmphasisNodes{0.27, 0.58, 0.83, 1.0};
constexpr std::array<double, 4> shiftRowA{1.556179813043683, 2.585655842245457, 3.696363153720864,
                                          3.2082809432230395};
constexpr std::array<double, 4> shiftRowB{0.438791451932487, 0.4068938463876649, 0.4481893629044145,
                                          1.9964339308969175};

template <std::size_t N>
std::array<double, N> allSlopes(const std::array<double, N>& x, const std::array<double, N>& y)
{
    std::array<double, N> d{};
    for (std::size_t j = 0; j < N; ++j)
        d[j] = pchipSlope(x, y, j);
    return d;
}

TEST(Pchip, EmphasisDepthSlopesAndValuesAreExact)
{
    const std::array<double, 5> expected{-1.2225474393849218, -3.1708485527952814, -5.43961400397819,
                                         -11.238473404679635, -64.26022237189602};
    EXPECT_EQ(allSlopes(emphasisNodes, depthNodes), expected);
    EXPECT_EQ(pchip(emphasisNodes, depthNodes, 0.3), 13.849445505909832);
    EXPECT_EQ(pchip(emphasisNodes, depthNodes, 0.9), 6.001939916924137);
}

TEST(Pchip, GainCurveStartSlopeNeedsTheSingleRounding)
{
    const std::array<double, 18> d = allSlopes(gainCurveNodes, gainCurveDb);
    EXPECT_EQ(d[0], 8305.690499447737);
    EXPECT_EQ(d[16], 0.0);
    EXPECT_EQ(d[17], 0.0);

    // With two roundings the same formula lands one step away, so the test tells them apart.
    const double h0 = gainCurveNodes[1] - gainCurveNodes[0];
    const double h1 = gainCurveNodes[2] - gainCurveNodes[1];
    const double m0 = (gainCurveDb[1] - gainCurveDb[0]) / h0;
    const double m1 = (gainCurveDb[2] - gainCurveDb[1]) / h1;
    const volatile double product = (2 * h0 + h1) * m0;
    EXPECT_EQ((product - h0 * m1) / (h0 + h1), 8305.690499447739);
}

TEST(Pchip, MeasuredTablesHaveTheirListedSlopes)
{
    EXPECT_EQ(allSlopes(highPeakNodes, highPeakErrorAtReferenceOffsetDb),
              (std::array<double, 5>{7.12120190026632, 3.1264236089771544, 0.0, -4.011556954894492,
                                     -1.7147807619956148}));
    EXPECT_EQ(allSlopes(calibrationEmphasisNodes, shiftRowA),
              (std::array<double, 4>{2.699817136373255, 3.8205118735621073, 0.0, -5.831460355746126}));
    EXPECT_EQ(allSlopes(calibrationEmphasisNodes, shiftRowB),
              (std::array<double, 4>{-0.251295583946047, 0.0, 0.3456426451965094, 12.726758170955748}));
}

// Every node returns its value exactly, from whichever side the interval is chosen,
// so the left-node and right-node interval rules give identical curves.
template <std::size_t N>
void expectNodesExact(const std::array<double, N>& x, const std::array<double, N>& y)
{
    for (std::size_t i = 0; i < N; ++i) {
        EXPECT_EQ(pchip(x, y, x[i]), y[i]) << "node " << i;
        EXPECT_EQ(literal::pchip(x, y, x[i], literal::NodeSide::Right), y[i]) << "node " << i;
    }
}

TEST(Pchip, NodesReturnTheirValuesExactlyWithEitherIntervalRule)
{
    expectNodesExact(emphasisNodes, depthNodes);
    expectNodesExact(gainCurveNodes, gainCurveDb);
    expectNodesExact(highPeakNodes, highPeakErrorAtReferenceOffsetDb);
    expectNodesExact(calibrationEmphasisNodes, shiftRowA);
    expectNodesExact(calibrationEmphasisNodes, shiftRowB);
}

TEST(Pchip, ClampsBeyondBothEndsAndPassesNaN)
{
    EXPECT_EQ(pchip(gainCurveNodes, gainCurveDb, 0.0), gainCurveDb[0]);
    EXPECT_EQ(pchip(gainCurveNodes, gainCurveDb, -1e300), gainCurveDb[0]);
    EXPECT_EQ(pchip(gainCurveNodes, gainCurveDb, 1.5), gainCurveDb[17]);
    EXPECT_EQ(pchip(gainCurveNodes, gainCurveDb, std::numeric_limits<double>::infinity()), gainCurveDb[17]);
    EXPECT_EQ(pchip(gainCurveNodes, gainCurveDb, -std::numeric_limits<double>::infinity()), gainCurveDb[0]);
    EXPECT_TRUE(std::isnan(pchip(gainCurveNodes, gainCurveDb, std::nan(""))));
    const quillon::PchipCurve<18> curve(gainCurveNodes, gainCurveDb);
    EXPECT_TRUE(std::isnan(curve(std::nan(""))));
}

// Flat up to the rounding of the basis weights, which only sum to 1 exactly in theory.
TEST(Pchip, FlatSegmentStaysFlat)
{
    for (double x = 0.96; x <= 1.0; x += 0.001)
        EXPECT_DOUBLE_EQ(pchip(gainCurveNodes, gainCurveDb, x), 37.70711910575897) << x;
}

TEST(Pchip, NeverOvershootsALocalExtremum)
{
    const std::array<double, 5> x{0.0, 1.0, 2.0, 3.0, 4.0};
    const std::array<double, 5> y{0.0, 1.0, 5.0, 1.0, 0.0};
    EXPECT_EQ(pchipSlope(x, y, 2), 0.0);
    for (double t = 0.0; t <= 4.0; t += 0.01) {
        const double v = pchip(x, y, t);
        EXPECT_LE(v, 5.0) << t;
        EXPECT_GE(v, 0.0) << t;
    }
}

// The worked-out curve, the per-call form and a plain implementation agree to the bit
// everywhere, nodes and both interval rules included.
template <std::size_t N>
void expectFormsAgree(const std::array<double, N>& x, const std::array<double, N>& y)
{
    const quillon::PchipCurve<N> curve(x, y);
    std::vector<double> points;
    const double span = x[N - 1] - x[0];
    for (int i = -20; i <= 1020; ++i)
        points.push_back(x[0] + span * (i / 1000.0));
    points.insert(points.end(), x.begin(), x.end());
    for (const double t : points) {
        const double expected = literal::pchip(x, y, t);
        EXPECT_EQ(pchip(x, y, t), expected) << t;
        EXPECT_EQ(curve(t), expected) << t;
        EXPECT_EQ(literal::pchip(x, y, t, literal::NodeSide::Right), expected) << t;
    }
}

TEST(Pchip, PrecomputedSlopesMatchTheLiteralForm)
{
    expectFormsAgree(emphasisNodes, depthNodes);
    expectFormsAgree(gainCurveNodes, gainCurveDb);
    expectFormsAgree(highPeakNodes, highPeakErrorAtReferenceOffsetDb);
    expectFormsAgree(calibrationEmphasisNodes, shiftRowA);
    expectFormsAgree(calibrationEmphasisNodes, shiftRowB);
}

} // namespace
