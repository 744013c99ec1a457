// The followers' tables are read from static-curve columns worked out once per process, and a
// follower borrows another's gains when only the feedback differs. Both must give exactly
// what evaluating the curve point by point gives.

#include "dsp/Follower.h"
#include "dsp/StaticGainCurve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

namespace {

using quillon::extendedStaticGain;
using quillon::Follower;
using quillon::staticGainColumn;
using quillon::staticGainPeak;

std::uint64_t bits(double v)
{
    std::uint64_t b = 0;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

const double nan = std::numeric_limits<double>::quiet_NaN();

// Grid nodes, points between them, both clamps, the continuation and its ceiling, and NaN.
const double levels[] = {-80.0, -47.999973716469796, -47.5, -41.999973716469796, -33.3, -23.999973716469796,
                         -12.5, -11.999973716469796, -11.99997, -7.0, -2.6999708456034766, 0.0, 12.0, nan};
const double peaks[] = {-0.3, -0.0, 0.0, 0.07, 0.15, 0.2774658203125, 0.2775, 0.3, 0.4, 0.41, 0.55,
                        0.63, 0.7, 0.85, 0.99, 1.0, 1.7, nan};

TEST(StaticGainColumn, ReadsLikeTheCurveAtEveryLevelAndPeak)
{
    for (const double level : levels) {
        const quillon::StaticGainColumn column = staticGainColumn(level);
        for (const double peak : peaks) {
            const double expected = extendedStaticGain(peak, level);
            const double read = extendedStaticGain(column, staticGainPeak(peak));
            if (std::isnan(expected))
                EXPECT_TRUE(std::isnan(read)) << "level " << level << ", peak " << peak;
            else
                EXPECT_EQ(bits(read), bits(expected)) << "level " << level << ", peak " << peak;
        }
    }
}

double tableLevel(std::size_t i) { return static_cast<double>(i) * 0.000244140625 * 45.30000287086632 + -47.999973716469796; }

void expectTablesOf(const Follower& f, double peak, double feedback)
{
    for (std::size_t i = 0; i < Follower::tableSize; ++i) {
        const double g = extendedStaticGain(peak, tableLevel(i));
        ASSERT_EQ(bits(f.gainTable[i]), bits(g)) << "peak " << peak << ", point " << i;
        ASSERT_EQ(bits(f.levelTable[i]), bits(g * feedback + tableLevel(i))) << "peak " << peak << ", point " << i;
    }
}

TEST(FollowerTables, RebuiltTablesMatchTheCurvePointByPoint)
{
    auto f = std::make_unique<Follower>();
    for (const double peak : {0.0, 0.2774658203125, 0.4, 0.5187, 0.77, 1.0}) {
        f->ensureTables(peak, 0.175);
        expectTablesOf(*f, peak, 0.175);
    }
}

TEST(FollowerTables, BorrowedGainsWithAnotherFeedbackMatchTheCurvePointByPoint)
{
    auto source = std::make_unique<Follower>();
    auto borrower = std::make_unique<Follower>();
    source->ensureTables(0.61, 0.175);
    const double emphasisFeedback = 0.175 + -0.05 * (1.0 - 0.37);
    borrower->ensureTables(0.61, emphasisFeedback, source.get());
    expectTablesOf(*borrower, 0.61, emphasisFeedback);
    EXPECT_EQ(borrower->tableFeedback, emphasisFeedback);
}

} // namespace
