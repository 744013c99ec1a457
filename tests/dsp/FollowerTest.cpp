// The envelope follower: steady state, lazily built transfer tables, the attack table, the
// release target read from the tables and the release mix set by the reduction memory.
// Expected values are worked out here from the follower's own rules; only the static gain
// curve (tested on its own) is taken from the library.

#include "dsp/Follower.h"
#include "dsp/Pchip.h"
#include "dsp/StaticGainCurve.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <random>

namespace quillon {
namespace {

constexpr double tickRate = 2000.0;
constexpr double tableStartDb = -47.999973716469796;

double tableLevel(std::size_t i)
{
    return static_cast<double>(i) * 0.000244140625 * 45.30000287086632 + tableStartDb;
}

double stepToward(double x, double target, double seconds)
{
    return x + (1.0 - std::exp(-1.0 / (seconds * tickRate))) * (target - x);
}

std::unique_ptr<Follower> makeFollower() { return std::make_unique<Follower>(); }

double emphasisNormFor(FollowerMode mode, double emphasisNorm)
{
    return mode == FollowerMode::Emphasis ? emphasisNorm : 1.0;
}

// The release goal from a follower's state after a release tick: the key from the release
// rules, inverted through its tables by a plain scan.
double releaseGoal(const Follower& f, double previousDb, double levelDb, double emphasisNorm, double shapeDb)
{
    const double drift = f.reductionSlowDb - f.reductionFastDb;
    const double gate = shapeDb * drift < 0.0 ? shapeDb : 0.0;
    const double adjustment = (f.reductionFastDb - f.reductionDb) * 0.1 + (-0.0125) * drift + drift * 0.03 * gate;
    const double key = std::clamp(f.tableFeedback * previousDb + (levelDb + (1.0 - emphasisNorm) * adjustment),
                                  f.levelTable.front(), f.levelTable.back());
    std::size_t i = 0;
    while (f.levelTable[i] < key)
        ++i;
    if (i == 0)
        return f.gainTable[0];
    return f.gainTable[i - 1]
           + (key - f.levelTable[i - 1]) / (f.levelTable[i] - f.levelTable[i - 1]) * (f.gainTable[i] - f.gainTable[i - 1]);
}

// --- steady state -------------------------------------------------------------------------

struct SteadyCase {
    FollowerMode mode;
    double levelDb;
    double peak;
};

class FollowerSteadyState : public ::testing::TestWithParam<SteadyCase> {};

// P equals the target, so the tick releases toward the gain where the transfer balances:
// the reset gain again, up to the linear interpolation of the 4097-point tables.
TEST_P(FollowerSteadyState, ResetThenSameLevelGivesBackTheResetGain)
{
    const SteadyCase c = GetParam();
    auto f = makeFollower();
    f->reset(c.levelDb, c.peak);
    const double resetGain = f->outputDb;
    EXPECT_EQ(resetGain, extendedStaticGain(c.peak, c.levelDb));

    FollowerDiagnostic diagnostic;
    const double out =
        f->process(c.levelDb, 2.0, 0.0, c.peak, emphasisNormFor(c.mode, 0.4), c.mode, 1.0, &diagnostic);
    EXPECT_NEAR(out, resetGain, 2e-6);
    EXPECT_FALSE(diagnostic.aboveStatic);
    EXPECT_FALSE(f->attacking);
    EXPECT_EQ(diagnostic.previousOutputDb, resetGain);
    EXPECT_EQ(diagnostic.staticGainDb, resetGain);
}

INSTANTIATE_TEST_SUITE_P(LevelsPeaksAndModes, FollowerSteadyState,
                         ::testing::Values(SteadyCase {FollowerMode::Plain, -40.0, 0.3},
                                           SteadyCase {FollowerMode::Plain, -20.0, 0.5},
                                           SteadyCase {FollowerMode::Program, -14.5, 1.0},
                                           SteadyCase {FollowerMode::Program, -8.0, 0.7},
                                           SteadyCase {FollowerMode::Emphasis, -26.3, 0.85},
                                           SteadyCase {FollowerMode::Emphasis, -4.0, 0.55}));

// --- transfer tables ----------------------------------------------------------------------

TEST(FollowerTables, FirstProcessBuildsTheTablesEvenAtPeakZero)
{
    auto f = makeFollower();
    EXPECT_TRUE(std::isnan(f->tablePeak));
    f->process(-30.0, 0.0, 0.0, 0.0, 1.0, FollowerMode::Plain, 1.0, nullptr);
    EXPECT_EQ(f->tablePeak, 0.0);
    EXPECT_EQ(f->tableFeedback, 0.175);
    for (std::size_t i : {std::size_t {0}, std::size_t {1}, std::size_t {2048}, std::size_t {4096}}) {
        const double g = extendedStaticGain(0.0, tableLevel(i));
        EXPECT_EQ(f->gainTable[i], g) << i;
        EXPECT_EQ(f->levelTable[i], g * 0.175 + tableLevel(i)) << i;
    }
    // The table reaches exactly to the top of the continued curve.
    EXPECT_NEAR(tableLevel(4096), -2.6999708456034766, 1e-12);
}

TEST(FollowerTables, AreRebuiltOnlyWhenPeakOrFeedbackChanges)
{
    auto f = makeFollower();
    f->process(-30.0, 0.0, 0.0, 0.5, 1.0, FollowerMode::Emphasis, 1.0, nullptr);
    f->gainTable[100] = 1234.0;
    f->process(-30.0, 0.0, 0.0, 0.5, 1.0, FollowerMode::Emphasis, 1.0, nullptr);
    EXPECT_EQ(f->gainTable[100], 1234.0) << "same curve: the tables are kept";

    f->process(-30.0, 0.0, 0.0, 0.5, 0.6, FollowerMode::Emphasis, 1.0, nullptr);
    EXPECT_EQ(f->tableFeedback, 0.175 + -0.05 * (1.0 - 0.6));
    EXPECT_EQ(f->gainTable[100], extendedStaticGain(0.5, tableLevel(100)));

    f->gainTable[100] = 1234.0;
    f->process(-30.0, 0.0, 0.0, 0.6, 0.6, FollowerMode::Emphasis, 1.0, nullptr);
    EXPECT_EQ(f->tablePeak, 0.6);
    EXPECT_EQ(f->gainTable[100], extendedStaticGain(0.6, tableLevel(100)));
}

TEST(FollowerTables, BorrowedTablesEqualSelfBuiltOnes)
{
    auto built = makeFollower();
    built->ensureTables(0.63, 0.175);
    auto borrower = makeFollower();
    borrower->ensureTables(0.63, 0.175, built.get());
    auto reference = makeFollower();
    reference->process(-20.0, 0.0, 0.0, 0.63, 1.0, FollowerMode::Plain, 1.0, nullptr);
    EXPECT_EQ(borrower->levelTable, reference->levelTable);
    EXPECT_EQ(borrower->gainTable, reference->gainTable);
    EXPECT_EQ(borrower->tablePeak, 0.63);

    // A source built for another curve is not used.
    borrower->ensureTables(0.7, 0.175, built.get());
    EXPECT_EQ(borrower->gainTable[3000], extendedStaticGain(0.7, tableLevel(3000)));
}

// The release target is found by a search that relies on the transfer rising strictly.
TEST(FollowerTables, LevelTableRisesStrictlyOverEveryPeakAndFeedback)
{
    auto f = makeFollower();
    for (int p = 0; p <= 20; ++p) {
        for (double feedbackShare : {0.125, 0.15, 0.175}) {
            f->ensureTables(p / 20.0, feedbackShare);
            for (std::size_t i = 1; i < Follower::tableSize; ++i)
                ASSERT_LT(f->levelTable[i - 1], f->levelTable[i]) << "peak " << p / 20.0 << " at " << i;
        }
    }
}

// A key beyond either end of the transfer reads the gain at that end.
TEST(FollowerTables, KeysOutsideTheTableReadItsEnds)
{
    struct Case {
        double previousDb;
        double levelDb;
        std::size_t end;
    };
    for (const Case c : {Case {-100.0, 20.0, 4096}, Case {0.0, -200.0, 0}}) {
        auto f = makeFollower();
        f->ensureTables(0.5, 0.175);
        f->reset(-20.0, 0.5);
        f->outputDb = f->releaseFast = f->releaseMedium = f->releaseSlow = c.previousDb;
        const double out = f->process(c.levelDb, 0.0, 0.0, 0.5, 1.0, FollowerMode::Plain, 1.0, nullptr);
        EXPECT_EQ(out, stepToward(c.previousDb, f->gainTable[c.end], 0.012092266430015618)) << c.levelDb;
    }
}

// --- attack -------------------------------------------------------------------------------

struct AttackCase {
    double peak;
    FollowerMode mode;
    double emphasisNorm;
    double attackScale;
    double logFastSeconds;
    double logAddedSlowSeconds;
    double fastWeight;
};

double logistic(double q) { return 1.0 / (1.0 + std::exp(-q)); }

// Between the table's rows the attack parameters are read with the per-call interpolation.
AttackCase between(double peak, FollowerMode mode)
{
    constexpr std::array<double, 3> nodes {0.4, 0.7, 1.0};
    const double q0 = pchip(nodes, {-5.685047943013399, -6.505191315759072, -7.344037551326302}, peak);
    const double q1 = pchip(nodes, {-1.3365481849542473, -3.148498973759219, -4.294644572076982}, peak);
    const double q2 = pchip(nodes, {1.764988252427946, 1.7648778158788279, 0.8470938247408103}, peak);
    return {peak, mode, 1.0, 1.0, q0, q1, logistic(q2)};
}

class FollowerAttack : public ::testing::TestWithParam<AttackCase> {};

// Two attack ticks from a low level to a high one, against one-poles worked out here from
// the attack table's rows (the peaks sit on its nodes or below them).
TEST_P(FollowerAttack, FollowsTheAttackTableAndItsEmphasisRamp)
{
    const AttackCase c = GetParam();
    auto f = makeFollower();
    f->reset(-45.0, c.peak);
    double out = f->outputDb;
    double fast = out;
    double slow = out;
    const double target = extendedStaticGain(c.peak, -8.0);
    const double tauA = std::exp(c.logFastSeconds);
    const double tauB = std::exp(c.logAddedSlowSeconds);
    const double depth = 1.0 - c.emphasisNorm;
    for (int tick = 0; tick < 2; ++tick) {
        const double seconds = tick / tickRate;
        const double k = std::pow(2.0, (std::exp(seconds / -0.004) * 0.1 + 0.4) * depth);
        fast = stepToward(fast, target, c.attackScale * tauA * k);
        slow = stepToward(slow, target, c.attackScale * (tauA + tauB) * k);
        FollowerDiagnostic diagnostic;
        out = f->process(-8.0, 0.0, 0.0, c.peak, c.emphasisNorm, c.mode, c.attackScale, &diagnostic);
        EXPECT_TRUE(diagnostic.aboveStatic);
        EXPECT_EQ(f->attackSeconds, seconds);
        EXPECT_DOUBLE_EQ(f->attackOut[0], fast);
        EXPECT_DOUBLE_EQ(f->attackOut[1], slow);
        EXPECT_DOUBLE_EQ(out, slow * (1.0 - c.fastWeight) + c.fastWeight * fast);
    }
    // The reference stages run without the attack scale.
    if (c.attackScale != 1.0)
        EXPECT_GT(f->attackOut[0], f->attackRef[0]);
    else
        EXPECT_EQ(f->attackOut[0], f->attackRef[0]);
}

INSTANTIATE_TEST_SUITE_P(
    AttackRows, FollowerAttack,
    ::testing::Values(
        AttackCase {0.35, FollowerMode::Program, 1.0, 4.0, -5.685047943013399, -1.3365481849542473, 0.05},
        AttackCase {0.4, FollowerMode::Plain, 1.0, 1.0, -5.685047943013399, -1.3365481849542473,
                    logistic(1.764988252427946)},
        AttackCase {0.7, FollowerMode::Program, 1.0, 1.0, -6.505191315759072, -3.148498973759219,
                    logistic(1.7648778158788279)},
        AttackCase {1.0, FollowerMode::Plain, 1.0, 1.0, -7.344037551326302, -4.294644572076982,
                    logistic(0.8470938247408103)},
        AttackCase {0.7, FollowerMode::Emphasis, 0.5, 1.0, -6.505191315759072, -3.148498973759219,
                    logistic(1.7648778158788279)},
        AttackCase {1.0, FollowerMode::Emphasis, 0.0, 1.0, -7.344037551326302, -4.294644572076982,
                    logistic(0.8470938247408103)},
        between(0.55, FollowerMode::Plain), between(0.93, FollowerMode::Program)));

// --- release ------------------------------------------------------------------------------

TEST(FollowerRelease, BeforeAnyAttackUsesTheFastStageAlone)
{
    auto f = makeFollower();
    f->reset(-10.0, 1.0);
    EXPECT_GT(f->memoryFast, 0.5);
    const double out = f->process(-20.0, 0.0, 0.0, 1.0, 1.0, FollowerMode::Program, 1.0, nullptr);
    EXPECT_FALSE(f->attacking);
    EXPECT_EQ(f->releaseMemory[0], 0.0);
    EXPECT_EQ(f->releaseMemory[1], 0.0);
    EXPECT_EQ(out, f->releaseFast);
    EXPECT_NE(f->releaseMedium, f->releaseFast);
}

struct ReleaseCase {
    const char* name;
    FollowerMode mode;
    double emphasisNorm;
    double previousReductionAtFirstRelease;
    double previousReductionLater;
    double memoryExponent;
};

class FollowerReleaseMix : public ::testing::TestWithParam<ReleaseCase> {};

// After an attack the memory is captured at the first release tick and, shaped by mode,
// sets the mix of the fast, medium and slow stages; the first tick seeds the stages.
TEST_P(FollowerReleaseMix, StagesAndMixFollowTheCapturedAndShapedMemory)
{
    const ReleaseCase c = GetParam();
    const double peak = 1.0;
    const double w = logistic(0.8470938247408103);
    auto f = makeFollower();
    f->reset(-45.0, peak);
    for (int tick = 0; tick < 40; ++tick)
        f->process(-6.0, 0.0, 0.0, peak, c.emphasisNorm, c.mode, 1.0, nullptr);
    ASSERT_TRUE(f->attacking);
    std::array<double, 2> captured {f->memoryFast, f->memorySlow};

    for (int tick = 0; tick < 2; ++tick) {
        const double previous = f->outputDb;
        const double memorySlowBefore = f->memorySlow;
        const double seed = w * f->attackRef[0] + (1.0 - w) * f->attackRef[1];
        const double fastBefore = tick == 0 ? previous : f->releaseFast;
        const double mediumBefore = tick == 0 ? seed : f->releaseMedium;
        const double slowBefore = tick == 0 ? seed : f->releaseSlow;
        const double reduction = tick == 0 ? c.previousReductionAtFirstRelease : c.previousReductionLater;
        const double out = f->process(-45.0, 0.0, reduction, peak, c.emphasisNorm, c.mode, 1.0, nullptr);

        EXPECT_FALSE(f->attacking);
        EXPECT_EQ(f->releaseMemory, captured);
        EXPECT_EQ(f->memoryExponent, c.memoryExponent) << "chosen once per release";
        const double goal = releaseGoal(*f, previous, -45.0, c.emphasisNorm, 0.0);
        EXPECT_DOUBLE_EQ(f->releaseFast, stepToward(fastBefore, goal, 0.012092266430015618));
        EXPECT_DOUBLE_EQ(f->releaseMedium, stepToward(mediumBefore, goal, 0.10482958816257384));
        EXPECT_DOUBLE_EQ(f->releaseSlow, stepToward(slowBefore, goal, 1.0061180450076195));

        double m0 = captured[0];
        double m1 = captured[1];
        if (c.memoryExponent > 0.0) {
            const double slowNow = tick == 0 ? memorySlowBefore : f->memorySlow;
            m1 = std::pow(std::clamp(slowNow / m1, 0.0, 1.0), c.memoryExponent) * m1;
        }
        if (c.mode == FollowerMode::Emphasis) {
            const double d = 1.0 - c.emphasisNorm;
            const double s = std::pow(std::clamp(m1 / m0, 0.0, 1.0), 2.0);
            const double m = (1.0 - s) * d + std::pow(d, 0.75) * s;
            m0 += m * (std::pow(m0, 0.15) - m0);
            m1 += m * (std::pow(m1, 0.15) - m1);
        }
        const double b = 0.31542571903753885 * m1;
        const double medium = (1.0 - b) * (0.7437179690677084 * m0);
        const double fast = std::max(1.0 - medium - b, 0.0);
        EXPECT_DOUBLE_EQ(out, fast * f->releaseFast + medium * f->releaseMedium + b * f->releaseSlow) << tick;
        EXPECT_GT(b, 0.01);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FollowerReleaseMix,
    ::testing::Values(ReleaseCase {"Plain", FollowerMode::Plain, 1.0, 30.0, 30.0, 0.0},
                      ReleaseCase {"ProgramAfterDeepReduction", FollowerMode::Program, 1.0, 12.182372559418393,
                                   0.0, 0.5},
                      ReleaseCase {"ProgramAfterShallowReduction", FollowerMode::Program, 1.0, 12.18, 30.0, 0.0},
                      ReleaseCase {"EmphasisHalf", FollowerMode::Emphasis, 0.5, 30.0, 30.0, 0.0},
                      ReleaseCase {"EmphasisFull", FollowerMode::Emphasis, 0.0, 30.0, 30.0, 0.0}),
    [](const ::testing::TestParamInfo<ReleaseCase>& info) { return std::string(info.param.name); });

// With emphasis the release key is shifted by the reduction averages and, when the shape
// value opposes their drift, by the shape value too.
TEST(FollowerRelease, KeyCarriesTheEmphasisAdjustmentAndTheShapeGate)
{
    for (double shapeDb : {3.0, -3.0, 0.0}) {
        const double peak = 0.9;
        const double emphasisNorm = 0.2;
        auto f = makeFollower();
        f->reset(-45.0, peak);
        for (int tick = 0; tick < 40; ++tick)
            f->process(-6.0, shapeDb, 0.0, peak, emphasisNorm, FollowerMode::Emphasis, 1.0, nullptr);
        f->process(-25.0, shapeDb, 0.0, peak, emphasisNorm, FollowerMode::Emphasis, 1.0, nullptr);
        const double previous = f->outputDb;
        const double slowBefore = f->releaseSlow;
        f->process(-25.0, shapeDb, 0.0, peak, emphasisNorm, FollowerMode::Emphasis, 1.0, nullptr);
        ASSERT_NE(f->reductionSlowDb, f->reductionFastDb);
        const double goal = releaseGoal(*f, previous, -25.0, emphasisNorm, shapeDb);
        EXPECT_DOUBLE_EQ(f->releaseSlow, stepToward(slowBefore, goal, 1.0061180450076195)) << shapeDb;
    }
}

// A level the curve cannot place leaves no gain to return rather than a plausible one.
TEST(FollowerRelease, ANaNLevelGivesANaNGain)
{
    auto f = makeFollower();
    f->reset(-20.0, 0.6);
    EXPECT_TRUE(std::isnan(f->process(nan(""), 0.0, 0.0, 0.6, 1.0, FollowerMode::Plain, 1.0, nullptr)));
}

// Program without deep reduction and Emphasis without emphasis add nothing to Plain.
TEST(FollowerModes, CoincideWhenTheirExtrasAreOff)
{
    auto plain = makeFollower();
    auto program = makeFollower();
    auto emphasis = makeFollower();
    for (Follower* f : {plain.get(), program.get(), emphasis.get()})
        f->reset(-30.0, 0.75);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> level(-45.0, -3.0);
    std::uniform_real_distribution<double> shape(-4.0, 4.0);
    for (int tick = 0; tick < 600; ++tick) {
        const double x = tick % 50 < 25 ? level(random) : -40.0;
        const double s = shape(random);
        const double a = plain->process(x, s, 30.0, 0.75, 1.0, FollowerMode::Plain, 1.0, nullptr);
        const double b = program->process(x, s, 3.0, 0.75, 1.0, FollowerMode::Program, 1.0, nullptr);
        const double c = emphasis->process(x, s, 30.0, 0.75, 1.0, FollowerMode::Emphasis, 1.0, nullptr);
        ASSERT_EQ(a, b) << tick;
        ASSERT_EQ(a, c) << tick;
    }
}

} // namespace
} // namespace quillon
