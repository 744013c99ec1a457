// The gain model computes base levels only at frame positions and wherever a level might
// not be finite. These tests hold that shortcut against the meter read at every sample: the
// guard never misses a non-finite level, and the model fails at the very sample where the
// level first stops being finite.

#include "dsp/OptoBaseLevelDSP.h"
#include "dsp/OptoGainModelDSP.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <vector>

namespace {

using quillon::GainModelFrame;
using quillon::OptoBaseLevelDSP;
using quillon::OptoGainModelDSP;

// Quiet noise with a burst of `length` samples of `amplitude` (alternating sign) at `start`.
std::vector<double> burst(std::size_t start, std::size_t length, double amplitude)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<double> noise(-0.1, 0.1);
    std::vector<double> input(start + length + 600);
    for (std::size_t n = 0; n < input.size(); ++n)
        input[n] = n >= start && n < start + length ? (n % 2 == 0 ? amplitude : -amplitude) : noise(random);
    return input;
}

// The first sample whose level, computed at every sample, is not finite.
std::optional<std::size_t> firstNonFiniteLevel(const std::vector<double>& input)
{
    OptoBaseLevelDSP meter;
    meter.prepare();
    for (std::size_t n = 0; n < input.size(); ++n) {
        meter.push(input[n]);
        if (n >= 127 && !std::isfinite(meter.centredLevel(n)))
            return n;
    }
    return std::nullopt;
}

struct Burst {
    const char* name;
    std::size_t length;
    double amplitude;
};

// 1e160 squares to infinity; 1.3e154 squares to about 1.69e308, finite, but a window full of
// them sums past DBL_MAX / 2, so twice the sum overflows; 2e153 stays finite throughout.
const Burst bursts[] = {
    {"InfiniteSquare", 1, 1e160},
    {"InfiniteSquares", 40, 1e160},
    {"SumOverflowsWhenDoubled", 400, 1.3e154},
    {"LargeButFinite", 400, 2e153},
    {"JustUnderTheGuard", 400, 6.7e153},
};

class BaseLevelGuard : public ::testing::TestWithParam<std::tuple<Burst, std::size_t>> {
};

TEST_P(BaseLevelGuard, FlagsEveryLevelThatIsNotFinite)
{
    const auto [b, phase] = GetParam();
    const std::vector<double> input = burst(1000 + phase, b.length, b.amplitude);
    OptoBaseLevelDSP meter;
    meter.prepare();
    for (std::size_t n = 0; n < input.size(); ++n) {
        meter.push(input[n]);
        if (n >= 127 && !std::isfinite(meter.centredLevel(n)))
            ASSERT_TRUE(meter.mayBeNonFinite(n)) << n;
    }
}

INSTANTIATE_TEST_SUITE_P(
    BurstsAtEveryPhaseOfTheFrameGrid, BaseLevelGuard,
    ::testing::Combine(::testing::ValuesIn(bursts), ::testing::Range<std::size_t>(0, 24, 5)),
    [](const ::testing::TestParamInfo<std::tuple<Burst, std::size_t>>& info) {
        return std::string(std::get<0>(info.param).name) + "AtPhase" + std::to_string(std::get<1>(info.param));
    });

// An infinite square makes the level fail at once, before any other stage hears the sample,
// so the model must fail right there, whatever the sample's place in the frame grid. (A sum
// that overflows only when doubled needs half a window of huge samples, and by then the
// detector's spectrum has already given up; the guard test above covers that case.)
class InfiniteSquare : public ::testing::TestWithParam<std::size_t> {
};

TEST_P(InfiniteSquare, FailsTheModelAtTheSampleWhereTheLevelFirstStopsBeingFinite)
{
    const std::vector<double> input = burst(1000 + GetParam(), 3, 1e160);
    const std::optional<std::size_t> expected = firstNonFiniteLevel(input);
    ASSERT_TRUE(expected.has_value());

    OptoGainModelDSP model;
    model.prepare(48000.0, 0.5, 1.0, false, 2);
    std::optional<std::size_t> failedAt;
    for (std::size_t n = 0; n < input.size() && !failedAt; ++n) {
        GainModelFrame frame{};
        model.processSample(input[n], frame);
        if (!model.isValid())
            failedAt = n;
    }
    EXPECT_EQ(failedAt, expected);
    EXPECT_FALSE(model.baseLevel().isReady()) << "the meter, not another stage, failed";
}

INSTANTIATE_TEST_SUITE_P(EveryPhaseOfTheFrameGrid, InfiniteSquare, ::testing::Range<std::size_t>(0, 24));

TEST(BaseLevelGuard, ForgetsLargeSquaresOnReset)
{
    OptoBaseLevelDSP meter;
    meter.prepare();
    meter.push(1e200);
    EXPECT_TRUE(meter.mayBeNonFinite(0));
    meter.reset();
    for (int n = 0; n < 200; ++n)
        meter.push(0.5);
    EXPECT_FALSE(meter.mayBeNonFinite(199));
}

TEST(BaseLevelGuard, ALargeSquareLeavesTheWindowAfter255Samples)
{
    OptoBaseLevelDSP meter;
    meter.prepare();
    meter.push(std::numeric_limits<double>::max());
    for (std::uint64_t n = 1; n < 300; ++n) {
        meter.push(0.5);
        EXPECT_EQ(meter.mayBeNonFinite(n), n <= 254) << n;
    }
}

} // namespace
