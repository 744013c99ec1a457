// The detector timeline: modes and their delays, the level store and its checks, the
// four-record store, and the feature frame each mode yields for a position.

#include "dsp/OptoDetectorTimelineDSP.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>
#include <stdexcept>
#include <string>

namespace quillon {
namespace {

DetectorFeatureFrame recordAt(std::uint64_t position, double base, bool spectrumValid = true)
{
    return {position, base, base + 1.0, base + 2.0, base + 3.0, base + 4.0, -base, -0.5, -2.5, spectrumValid};
}

void advance(OptoDetectorTimelineDSP& timeline, std::uint64_t samples)
{
    for (std::uint64_t i = 0; i < samples; ++i)
        timeline.storeLowBand(-0.25);
}

void expectSameFeatures(const DetectorFeatureFrame& a, const DetectorFeatureFrame& b)
{
    EXPECT_EQ(a.position, b.position);
    EXPECT_EQ(a.fastLevelDb, b.fastLevelDb);
    EXPECT_EQ(a.emphasisRatioDb, b.emphasisRatioDb);
    EXPECT_EQ(a.spectralSpread, b.spectralSpread);
    EXPECT_EQ(a.crestDb, b.crestDb);
    EXPECT_EQ(a.shapeDb, b.shapeDb);
    EXPECT_EQ(a.emphasisCorrectionDb, b.emphasisCorrectionDb);
    EXPECT_EQ(a.lowBandBalance, b.lowBandBalance);
    EXPECT_EQ(a.lowBandOffsetDb, b.lowBandOffsetDb);
    EXPECT_EQ(a.spectrumValid, b.spectrumValid);
}

DetectorFeatureFrame withPosition(DetectorFeatureFrame frame, std::uint64_t position)
{
    frame.position = position;
    return frame;
}

// --- preparation and reset ----------------------------------------------------------------

struct ModeCase {
    int mode;
    int delay;
};

class TimelineModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(TimelineModes, PrepareTakesTheModeDelayAndIsReady)
{
    OptoDetectorTimelineDSP timeline;
    EXPECT_EQ(timeline.delay(), 256);
    EXPECT_FALSE(timeline.isReady());
    timeline.prepare(0.66, GetParam().mode);
    EXPECT_EQ(timeline.mode(), GetParam().mode);
    EXPECT_EQ(timeline.delay(), GetParam().delay);
    EXPECT_EQ(timeline.peak(), 0.66);
    EXPECT_TRUE(timeline.extendedCalibration());
    EXPECT_TRUE(timeline.isPrepared());
    EXPECT_TRUE(timeline.isReady());
}

INSTANTIATE_TEST_SUITE_P(Supported, TimelineModes,
                         ::testing::Values(ModeCase {0, 256}, ModeCase {1, 127}, ModeCase {2, 127}));

// A 64-sample mode could never receive a base level in time (they arrive 127 samples late),
// so it is refused like any unknown mode instead of failing at the first level.
TEST(TimelinePrepare, RejectsUnknownModesWithoutPreparing)
{
    for (int mode : {-1, 3, 4, INT_MIN, INT_MAX}) {
        OptoDetectorTimelineDSP timeline;
        try {
            timeline.prepare(0.5, mode);
            ADD_FAILURE() << "mode " << mode << " accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(std::string(e.what()), "OptoDetectorTimelineDSP timeline mode is invalid");
        }
        EXPECT_FALSE(timeline.isPrepared());
        EXPECT_FALSE(timeline.isReady());
        EXPECT_EQ(timeline.delay(), 256);
    }
}

TEST(TimelineReset, ClearsEveryStoreAndRestoresReadiness)
{
    OptoDetectorTimelineDSP timeline;
    timeline.prepare(0.5, 1);
    advance(timeline, 300);
    ASSERT_TRUE(timeline.storeLevel(200, -12.0));
    timeline.storeFeatureRecord(recordAt(128, -20.0));
    timeline.markNotReady();

    timeline.reset();
    EXPECT_TRUE(timeline.isReady());
    EXPECT_EQ(timeline.sampleCount(), 0u);
    EXPECT_EQ(timeline.recordCount(), 0u);
    double level = 0.0;
    EXPECT_FALSE(timeline.levelAt(200, level));
    EXPECT_EQ(timeline.lowBandAt(200), 0.0);
    const DetectorFeatureFrame& cleared = timeline.record(0);
    EXPECT_EQ(cleared.position, 0u);
    EXPECT_EQ(cleared.fastLevelDb, -300.0);
    EXPECT_EQ(cleared.crestDb, 0.0);
    EXPECT_TRUE(cleared.spectrumValid);
}

TEST(TimelineReset, AnUnpreparedTimelineStaysUnusable)
{
    OptoDetectorTimelineDSP timeline;
    timeline.reset();
    EXPECT_FALSE(timeline.isReady());
    EXPECT_FALSE(timeline.storeLevel(0, -20.0));
}

// --- stores -------------------------------------------------------------------------------

TEST(TimelineLevels, StoreAcceptsOnlyPositionsWithinTheDelayAndOnlyOnce)
{
    OptoDetectorTimelineDSP timeline;
    timeline.prepare(0.5, 2);
    advance(timeline, 200);
    EXPECT_FALSE(timeline.storeLevel(201, -10.0)) << "not yet received";
    EXPECT_FALSE(timeline.storeLevel(72, -10.0)) << "more than 127 samples back";
    EXPECT_TRUE(timeline.storeLevel(73, -10.0));
    EXPECT_FALSE(timeline.storeLevel(73, -11.0)) << "stored twice";
    EXPECT_TRUE(timeline.storeLevel(200, -9.0));

    double level = 0.0;
    ASSERT_TRUE(timeline.levelAt(73, level));
    EXPECT_EQ(level, -10.0);
    EXPECT_FALSE(timeline.levelAt(74, level));
    EXPECT_FALSE(timeline.levelAt(73 + 512, level)) << "same slot, other position";

    timeline.markNotReady();
    EXPECT_FALSE(timeline.storeLevel(199, -10.0));
}

TEST(TimelineLevels, SlotsHoldTheLast512Positions)
{
    OptoDetectorTimelineDSP timeline;
    timeline.prepare(0.5, 0);
    for (std::uint64_t p = 0; p < 700; ++p) {
        ASSERT_TRUE(timeline.storeLevel(p, -40.0 + 0.01 * static_cast<double>(p)));
        timeline.storeLowBand(-0.001 * static_cast<double>(p));
    }
    double level = 0.0;
    EXPECT_FALSE(timeline.levelAt(187, level));
    ASSERT_TRUE(timeline.levelAt(188, level));
    EXPECT_EQ(level, -40.0 + 0.01 * 188.0);
    EXPECT_EQ(timeline.lowBandAt(650), -0.001 * 650.0);
}

TEST(TimelineRecords, AFifthRecordPushesOutTheOldest)
{
    OptoDetectorTimelineDSP timeline;
    timeline.prepare(0.5, 1);
    for (std::uint64_t k = 1; k <= 5; ++k) {
        timeline.storeFeatureRecord(recordAt(128 * k, static_cast<double>(k)));
        EXPECT_EQ(timeline.recordCount(), std::min<std::uint64_t>(k, 4));
    }
    for (std::size_t i = 0; i < 4; ++i)
        expectSameFeatures(timeline.record(i), recordAt(128 * (i + 2), static_cast<double>(i + 2)));
}

// --- feature frames -----------------------------------------------------------------------

TEST(TimelineInterpolatedMode, ReadsRecordZeroBeforeItAndInterpolatesBetweenRecords)
{
    OptoDetectorTimelineDSP timeline;
    timeline.prepare(0.5, 0);
    DetectorFeatureFrame frame {};
    EXPECT_EQ(timeline.featureFrameAt(10, frame), FeatureOutcome::Failure) << "no records";

    const DetectorFeatureFrame a = recordAt(128, -20.0);
    const DetectorFeatureFrame b = recordAt(256, -8.0, false);
    timeline.storeFeatureRecord(a);
    EXPECT_EQ(timeline.featureFrameAt(129, frame), FeatureOutcome::Failure) << "one record, later position";
    timeline.storeFeatureRecord(b);

    ASSERT_EQ(timeline.featureFrameAt(100, frame), FeatureOutcome::Frame);
    expectSameFeatures(frame, withPosition(a, 100));

    ASSERT_EQ(timeline.featureFrameAt(200, frame), FeatureOutcome::Frame);
    const double t = 72.0 / 128.0;
    EXPECT_EQ(frame.position, 200u);
    EXPECT_EQ(frame.fastLevelDb, a.fastLevelDb + t * (b.fastLevelDb - a.fastLevelDb));
    EXPECT_EQ(frame.spectralSpread, a.spectralSpread + t * (b.spectralSpread - a.spectralSpread));
    EXPECT_EQ(frame.emphasisCorrectionDb,
              a.emphasisCorrectionDb + t * (b.emphasisCorrectionDb - a.emphasisCorrectionDb));
    EXPECT_FALSE(frame.spectrumValid);

    EXPECT_EQ(timeline.featureFrameAt(257, frame), FeatureOutcome::Failure) << "after the newest record";
}

TEST(TimelineLatestMode, WaitsForARecordThenTakesTheLatestAtOrBeforeThePosition)
{
    OptoDetectorTimelineDSP timeline;
    timeline.prepare(0.5, 1);
    DetectorFeatureFrame frame = recordAt(1, 99.0);
    EXPECT_EQ(timeline.featureFrameAt(500, frame), FeatureOutcome::NotYet);
    for (std::uint64_t k = 1; k <= 3; ++k)
        timeline.storeFeatureRecord(recordAt(128 * k, -10.0 * static_cast<double>(k)));
    EXPECT_EQ(timeline.featureFrameAt(127, frame), FeatureOutcome::NotYet);
    expectSameFeatures(frame, recordAt(1, 99.0));

    for (std::uint64_t position : {128u, 300u, 384u, 1000u}) {
        ASSERT_EQ(timeline.featureFrameAt(position, frame), FeatureOutcome::Frame);
        const std::uint64_t k = std::min<std::uint64_t>(position / 128, 3);
        expectSameFeatures(frame, recordAt(position, -10.0 * static_cast<double>(k)));
    }
}

// Mode 2 keeps the record's spectral measures and rebuilds the rest for the exact position
// from the detector's rings, which reach 256 samples back.
TEST(TimelineRebuiltMode, RecomputesTheFrameForTheExactPosition)
{
    OptoDetectorTimelineDSP timeline;
    timeline.detector().prepare(48000.0, 0.6);
    timeline.prepare(0.5, 2);
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0.0, 0.1);
    DetectorFeatureFrame record {};
    for (int n = 0; n < 700; ++n)
        if (timeline.detector().analyseSample(noise(random), record))
            timeline.storeFeatureRecord(record);
    ASSERT_EQ(timeline.recordCount(), 4u);
    const std::uint64_t count = timeline.detector().sampleCount();

    const std::uint64_t position = count - 127;
    DetectorFeatureFrame frame {};
    ASSERT_EQ(timeline.featureFrameAt(position, frame), FeatureOutcome::Frame);
    DetectorFeatureFrame expected {};
    ASSERT_TRUE(timeline.detector().composeHistoricalFeatureFrame(
        position, withPosition(timeline.record(3), position), expected));
    expectSameFeatures(frame, expected);
    EXPECT_NE(frame.fastLevelDb, timeline.record(3).fastLevelDb);

    EXPECT_EQ(timeline.featureFrameAt(count - 257, frame), FeatureOutcome::Failure) << "beyond the rings";
    EXPECT_EQ(timeline.featureFrameAt(count, frame), FeatureOutcome::Failure) << "not yet analysed";
}

} // namespace
} // namespace quillon
