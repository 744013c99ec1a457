#include "dsp/GainFrameStore.h"

#include <gtest/gtest.h>

TEST(GainFrameStore, InterpolatesInDbBetweenTwoFramesTwentyFourApart)
{
    quillon::GainFrameStore frames;
    double g = 0.0;
    ASSERT_TRUE(frames.store(144, -2.0));
    EXPECT_FALSE(frames.gainDbAt(144, g)) << "one frame is not a pair";
    ASSERT_TRUE(frames.store(168, -8.0));

    ASSERT_TRUE(frames.gainDbAt(144, g));
    EXPECT_EQ(g, -2.0);
    ASSERT_TRUE(frames.gainDbAt(168, g));
    EXPECT_EQ(g, -8.0);
    ASSERT_TRUE(frames.gainDbAt(150, g));
    EXPECT_EQ(g, (-8.0 - -2.0) * (6.0 / 24.0) + -2.0);
    EXPECT_FALSE(frames.gainDbAt(143, g));
    EXPECT_FALSE(frames.gainDbAt(169, g));

    ASSERT_TRUE(frames.store(192, 1.0));
    ASSERT_TRUE(frames.gainDbAt(168, g));
    EXPECT_EQ(g, -8.0);
    EXPECT_FALSE(frames.gainDbAt(150, g)) << "the oldest frame has been pushed out";
}

TEST(GainFrameStore, RefusesFramesThatDoNotAdvanceAndPairsFurtherApart)
{
    quillon::GainFrameStore frames;
    ASSERT_TRUE(frames.store(144, 0.0));
    EXPECT_FALSE(frames.store(144, 0.0));
    EXPECT_FALSE(frames.store(120, 0.0));
    ASSERT_TRUE(frames.store(168, 0.0));
    EXPECT_FALSE(frames.store(168, 0.0));

    ASSERT_TRUE(frames.store(216, 0.0));
    double g = 0.0;
    EXPECT_FALSE(frames.gainDbAt(192, g)) << "frames 48 apart give no gain";
}
