// Base level meter: floor on silence, a full-scale sine near 0 dB, the centred
// window's reach, the ring against a plain weighted sum, and its lifecycle.

#include "dsp/OptoBaseLevelDSP.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using quillon::OptoBaseLevelDSP;

constexpr double floorDb = -47.999973716469796;

// Pushes every sample and collects the level after each push once one is due.
std::vector<double> levelsOf(OptoBaseLevelDSP& meter, const std::vector<double>& input)
{
    std::vector<double> levels;
    for (const double x : input) {
        const std::uint64_t n = meter.count();
        meter.push(x);
        if (n >= 127)
            levels.push_back(meter.centredLevel(n));
    }
    return levels;
}

// Normalised Hann weights and the level for the 255 samples ending at `last`, summed plainly.
double plainLevel(const std::vector<double>& x, std::size_t last)
{
    std::array<double, 255> w{};
    double total = 0.0;
    for (std::size_t i = 0; i < 255; ++i) {
        w[i] = std::cos((6.283185307179586 * static_cast<double>(i)) / 254.0) * -0.5 + 0.5;
        total += w[i];
    }
    double sum = 0.0;
    for (std::size_t i = 0; i < 255; ++i)
        if (last + i >= 254)
            sum += (w[i] / total) * (x[last + i - 254] * x[last + i - 254]);
    return 20.0 * std::log10(std::fmax(0.0039810837522890885, std::sqrt(2.0 * std::fmax(sum, 0.0))));
}

class BaseLevel : public ::testing::Test {
protected:
    void SetUp() override { meter.prepare(); }
    OptoBaseLevelDSP meter;
};

TEST_F(BaseLevel, SilenceReadsTheFloor)
{
    for (const double level : levelsOf(meter, std::vector<double>(600, 0.0)))
        EXPECT_EQ(level, floorDb);
}

TEST_F(BaseLevel, NoLevelBeforeSample127)
{
    for (int i = 0; i < 127; ++i) {
        meter.push(0.5);
        EXPECT_TRUE(std::isnan(meter.centredLevel(meter.count() - 1)));
    }
    meter.push(0.5);
    EXPECT_TRUE(std::isfinite(meter.centredLevel(127)));
    EXPECT_TRUE(std::isnan(meter.centredLevel(126)));
}

TEST_F(BaseLevel, FullScaleSineReadsZeroDecibels)
{
    std::vector<double> sine(2000);
    for (std::size_t n = 0; n < sine.size(); ++n)
        sine[n] = std::sin(6.283185307179586 * 1000.0 * static_cast<double>(n) / 48000.0);
    const std::vector<double> levels = levelsOf(meter, sine);
    for (std::size_t i = 254 - 127; i < levels.size(); ++i)
        EXPECT_NEAR(levels[i], 0.0, 2e-3) << i;
}

TEST_F(BaseLevel, LevelIsCentredOnItsPosition)
{
    // A loud click at sample 400 lifts the levels of positions 274 to 526 above the
    // floor and no others (the window's end weights are zero). levels[p] is position p.
    std::vector<double> click(900, 0.0);
    click[400] = 1000.0;
    const std::vector<double> levels = levelsOf(meter, click);
    for (std::size_t position = 0; position < levels.size(); ++position) {
        const bool reached = position + 127 > 400 && position < 400 + 127;
        EXPECT_EQ(levels[position] > floorDb, reached) << position;
    }
    // At its own position the click meets the window's peak weight of 1 over the weight sum.
    long double total = 0.0L;
    for (int i = 0; i < 255; ++i)
        total += 0.5L - 0.5L * std::cos(2.0L * 3.14159265358979323846264338327950288L * i / 254.0L);
    EXPECT_NEAR(levels[400], static_cast<double>(20.0L * std::log10(1000.0L * std::sqrt(2.0L / total))), 1e-12);
}

TEST_F(BaseLevel, RingReadsLikeAPlainWeightedSum)
{
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 0.3);
    std::vector<double> input(1500);
    for (double& x : input)
        x = noise(random) * (1.0 + std::sin(static_cast<double>(&x - input.data()) * 0.01));
    const std::vector<double> levels = levelsOf(meter, input);
    for (std::size_t i = 0; i < levels.size(); ++i)
        ASSERT_EQ(levels[i], plainLevel(input, i + 127)) << i;
}

TEST_F(BaseLevel, OverflowingSquareGivesANonFiniteLevel)
{
    std::vector<double> input(300, 0.1);
    input[200] = 1e200;
    const std::vector<double> levels = levelsOf(meter, input);
    EXPECT_TRUE(std::isfinite(levels[200 - 128]));
    EXPECT_FALSE(std::isfinite(levels[200 - 127]));
    EXPECT_FALSE(std::isfinite(levels.back()));
}

TEST_F(BaseLevel, ResetClearsHistoryAndRestoresReadiness)
{
    levelsOf(meter, std::vector<double>(300, 0.7));
    meter.markNotReady();
    EXPECT_FALSE(meter.isReady());
    meter.reset();
    EXPECT_TRUE(meter.isReady());
    EXPECT_EQ(meter.count(), 0u);
    for (const double level : levelsOf(meter, std::vector<double>(300, 0.0)))
        EXPECT_EQ(level, floorDb);
    // Only the latest sample has its window in the ring.
    EXPECT_TRUE(std::isnan(meter.centredLevel(meter.count() - 2)));
    EXPECT_TRUE(std::isnan(meter.centredLevel(meter.count())));
}

TEST(BaseLevelLifecycle, NotReadyUntilPrepared)
{
    OptoBaseLevelDSP meter;
    EXPECT_FALSE(meter.isPrepared());
    EXPECT_FALSE(meter.isReady());
    meter.reset();
    EXPECT_FALSE(meter.isReady());
    meter.prepare();
    EXPECT_TRUE(meter.isPrepared());
    EXPECT_TRUE(meter.isReady());
}

} // namespace
