// The envelope stage: seeding, the steady tick, and its three followers driven with the
// right levels, shape values, controls and the previous tick's reduction.

#include "dsp/OptoEnvelopeDSP.h"
#include "dsp/StaticGainCurve.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

namespace quillon {
namespace {

TEST(EnvelopeReset, SeedsEachFollowerFromItsOwnLevel)
{
    OptoEnvelopeDSP envelope;
    EXPECT_FALSE(envelope.isInitialised());
    const EnvelopeFrame frame {-20.0, -22.0, -18.0, 1.0, 0.5};
    for (double peak : {0.6, 1.3}) {
        const double p = std::min(peak, 1.0);
        envelope.reset(frame, {peak, 0.5});
        EXPECT_EQ(envelope.programFollower().outputDb, extendedStaticGain(p, -22.0));
        EXPECT_EQ(envelope.plainFollower().outputDb, extendedStaticGain(p, -20.0));
        EXPECT_EQ(envelope.emphasisFollower().outputDb, extendedStaticGain(p, -18.0));
        EXPECT_EQ(envelope.outputDb(),
                  extendedStaticGain(p, -22.0) + extendedStaticGain(p, -18.0) - extendedStaticGain(p, -20.0));
        EXPECT_EQ(envelope.staticReductionDb(), staticReduction(p, -20.0));
        EXPECT_EQ(envelope.emphasisMemoryFast(),
                  std::clamp(staticReduction(p, -18.0) / 8.174814198512061, 0.0, 1.0));
        EXPECT_TRUE(envelope.resultValid());
        EXPECT_FALSE(envelope.programAboveStatic());
        EXPECT_TRUE(envelope.isInitialised());
    }
    envelope.prepare();
    EXPECT_FALSE(envelope.isInitialised());
}

struct SteadyCase {
    EnvelopeFrame frame;
    EnvelopeControls controls;
};

class EnvelopeSteadyTick : public ::testing::TestWithParam<SteadyCase> {};

// Every follower releases toward its own reset gain, up to the interpolation of its tables.
TEST_P(EnvelopeSteadyTick, TickOnTheResetFrameReturnsTheResetOutput)
{
    OptoEnvelopeDSP envelope;
    envelope.reset(GetParam().frame, GetParam().controls);
    const double seeded = envelope.outputDb();
    EXPECT_NEAR(envelope.tick(GetParam().frame, GetParam().controls), seeded, 5e-6);
    EXPECT_FALSE(envelope.programAboveStatic());
}

INSTANTIATE_TEST_SUITE_P(Frames, EnvelopeSteadyTick,
                         ::testing::Values(SteadyCase {{-20.0, -20.4, -21.0, 0.0, 0.0}, {0.5, 1.0}},
                                           SteadyCase {{-9.0, -9.3, -10.5, -0.4, 1.2}, {0.9, 0.3}},
                                           SteadyCase {{-33.0, -33.5, -34.0, 0.2, -0.8}, {0.25, 0.0}}));

// Three plain followers driven here with the inputs each one is meant to get must match the
// stage's own followers bit for bit, tick after tick.
class EnvelopeWiring : public ::testing::TestWithParam<EnvelopeControls> {};

TEST_P(EnvelopeWiring, FollowersGetTheirLevelsShapesControlsAndThePreviousReduction)
{
    const EnvelopeControls controls = GetParam();
    const double p = std::clamp(controls.peak, 0.0, 1.0);
    const double e = std::clamp(controls.emphasisNorm, 0.0, 1.0);
    const double attackScale = p < 0.4 ? 4.0 : 1.0;
    OptoEnvelopeDSP envelope;
    auto program = std::make_unique<Follower>();
    auto plain = std::make_unique<Follower>();
    auto emphasis = std::make_unique<Follower>();

    std::mt19937 random(11);
    std::uniform_real_distribution<double> jitter(-1.0, 1.0);
    EnvelopeFrame frame {-30.0, -30.5, -31.0, 0.0, 0.0};
    envelope.reset(frame, controls);
    program->reset(frame.lowBandLevelDb, p);
    plain->reset(frame.levelDb, p);
    emphasis->reset(frame.emphasisLevelDb, p);
    double previousReduction = staticReduction(p, frame.levelDb);

    for (int tick = 0; tick < 400; ++tick) {
        const double level = (tick / 60) % 2 == 0 ? -8.0 : -36.0;
        frame = {level + jitter(random), level - 1.0 + jitter(random), level - 2.0 + jitter(random),
                 2.0 * jitter(random), 2.0 * jitter(random)};
        const double out = envelope.tick(frame, controls);

        FollowerDiagnostic programSeen;
        FollowerDiagnostic emphasisSeen;
        const double r0 = program->process(frame.lowBandLevelDb, frame.crestDb, previousReduction, p, 1.0,
                                           FollowerMode::Program, attackScale, &programSeen);
        const double r1 =
            plain->process(frame.levelDb, frame.crestDb, previousReduction, p, 1.0, FollowerMode::Plain, 1.0, nullptr);
        const double r2 = emphasis->process(frame.emphasisLevelDb, frame.shapeDb, previousReduction, p, e,
                                            FollowerMode::Emphasis, 1.0, &emphasisSeen);
        previousReduction = staticReduction(p, frame.levelDb);

        ASSERT_EQ(out, r2 + r0 - r1) << tick;
        ASSERT_EQ(envelope.programAboveStatic(), programSeen.aboveStatic) << tick;
        ASSERT_EQ(envelope.emphasisMemoryFast(), emphasisSeen.memoryFast) << tick;
        ASSERT_EQ(envelope.staticReductionDb(), previousReduction) << tick;
    }
    EXPECT_EQ(envelope.emphasisFollower().levelTable, emphasis->levelTable);
}

INSTANTIATE_TEST_SUITE_P(Controls, EnvelopeWiring,
                         ::testing::Values(EnvelopeControls {0.8, 1.0}, EnvelopeControls {0.8, 0.35},
                                           EnvelopeControls {0.3, 0.6}, EnvelopeControls {1.4, -0.2}));

TEST(EnvelopeTick, LowPeakSlowsOnlyTheProgramFollowersAttack)
{
    OptoEnvelopeDSP envelope;
    envelope.reset({-40.0, -40.0, -40.0, 0.0, 0.0}, {0.3, 1.0});
    envelope.tick({-6.0, -6.0, -6.0, 0.0, 0.0}, {0.3, 1.0});
    const Follower& program = envelope.programFollower();
    const Follower& plain = envelope.plainFollower();
    ASSERT_TRUE(program.attacking);
    EXPECT_EQ(program.attackRef, plain.attackOut) << "same level, unscaled";
    EXPECT_GT(program.attackOut[0], program.attackRef[0]) << "four times slower toward a lower gain";
}

// The Program follower's release memory shaping hinges on the reduction of the tick before.
TEST(EnvelopeTick, FollowersHearThePreviousTicksReduction)
{
    OptoEnvelopeDSP envelope;
    const EnvelopeControls controls {1.0, 1.0};
    envelope.reset({-40.0, -40.0, -40.0, 0.0, 0.0}, controls);
    envelope.tick({-10.0, -10.0, -10.0, 0.0, 0.0}, controls);
    ASSERT_GE(staticReduction(1.0, -10.0), 12.182372559418393);
    ASSERT_LT(staticReduction(1.0, -40.0), 12.182372559418393);
    envelope.tick({-40.0, -40.0, -40.0, 0.0, 0.0}, controls);
    EXPECT_EQ(envelope.programFollower().memoryExponent, 0.5);
}

} // namespace
} // namespace quillon
