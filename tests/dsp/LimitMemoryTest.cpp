#include "dsp/LimitMemory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace
{
constexpr double weight = -0.16004542955098108;
constexpr double decay = 0.9993136353165099;

struct Step
{
    bool ok;
    double offset;
    bool valid;
};

Step feed(quillon::LimitMemory& memory, std::uint64_t frame, double gainDb)
{
    Step s {};
    s.ok = memory.processFrame(frame * 24, gainDb, s.offset, s.valid);
    return s;
}
} // namespace

TEST(LimitMemory, FirstOffsetComesAtTheFortiethFrameAndASteadyGainLeavesNoMemory)
{
    quillon::LimitMemory memory;
    for (std::uint64_t n = 0; n < 39; ++n)
    {
        const auto s = feed(memory, n, -3.0);
        ASSERT_TRUE(s.ok);
        ASSERT_FALSE(s.valid) << n;
    }
    for (std::uint64_t n = 39; n < 400; ++n)
    {
        const auto s = feed(memory, n, -3.0);
        ASSERT_TRUE(s.ok && s.valid) << n;
        ASSERT_EQ(s.offset, 0.0) << n;
    }
}

TEST(LimitMemory, AGainStepIsRememberedWithinFortyMillisecondsAndThenDecays)
{
    quillon::LimitMemory memory;
    std::uint64_t n = 0;
    for (; n < 200; ++n)
        feed(memory, n, 0.0);
    // 80 frames of 24 samples are 40 ms at 48 kHz.
    for (const std::uint64_t stepStart = n; n < stepStart + 80; ++n)
        feed(memory, n, -6.0);
    EXPECT_GT(memory.memoryDb(), 5.5);
    EXPECT_LE(memory.memoryDb(), 6.0);
    const auto s = feed(memory, n++, -6.0);
    EXPECT_NEAR(s.offset, -0.95, 0.03);

    // Once the median has settled, the memory only decays, by the same factor every frame.
    for (int i = 0; i < 60; ++i)
        feed(memory, n++, -6.0);
    const double before = memory.memoryDb();
    feed(memory, n++, -6.0);
    EXPECT_EQ(memory.memoryDb(), before * decay);
    const double offset = feed(memory, n++, -6.0).offset;
    EXPECT_EQ(offset, memory.memoryDb() * weight);
}

TEST(LimitMemory, FailsForGoodOnAFrameOffTheGridOrANonFiniteGainUntilReset)
{
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<std::uint64_t, double> bad[] = { { 5 * 24 + 1, -1.0 }, { 4 * 24, -1.0 }, { 7 * 24, -1.0 },
                                                     { 5 * 24, std::numeric_limits<double>::quiet_NaN() },
                                                     { 5 * 24, inf }, { 5 * 24, 3100.0 } };
    for (auto [index, gain] : bad)
    {
        quillon::LimitMemory memory;
        for (std::uint64_t n = 0; n < 5; ++n)
            ASSERT_TRUE(feed(memory, n, -1.0).ok);
        double offset = 1.0;
        bool valid = true;
        EXPECT_FALSE(memory.processFrame(index, gain, offset, valid)) << index << " " << gain;
        EXPECT_EQ(offset, 0.0);
        EXPECT_FALSE(valid);
        EXPECT_FALSE(feed(memory, 6, -1.0).ok) << "a failed memory refuses every later frame";

        memory.reset();
        EXPECT_TRUE(feed(memory, 100, -1.0).ok);
    }
}
