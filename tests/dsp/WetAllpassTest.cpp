#include "dsp/WetAllpass.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace
{
// The allpass written as a plain difference equation from its transfer function
// H(z) = (a8 + a7 z^-1 + ... + a1 z^-7 + z^-8) / (1 + a1 z^-1 + ... + a8 z^-8).
std::vector<long double> directFormImpulseResponse(int length)
{
    const std::array<long double, 9> a { 1.0L,
                                         -0.17447089133203703L,   0.07187559663159805L,
                                         -0.02824360520329949L,   0.009261598399894011L,
                                         -0.002357748754385584L,  0.0004317349828349389L,
                                         -5.031813040043813e-05L, 2.795593144235027e-06L };
    std::vector<long double> y(static_cast<size_t>(length), 0.0L);
    for (int n = 0; n < length; ++n)
    {
        long double acc = 0.0L;
        for (int k = 0; k <= 8; ++k)
            if (n - k == 0)
                acc += a[static_cast<size_t>(8 - k)]; // numerator tap k multiplies x[n-k]
        for (int k = 1; k <= 8 && n - k >= 0; ++k)
            acc -= a[static_cast<size_t>(k)] * y[static_cast<size_t>(n - k)];
        y[static_cast<size_t>(n)] = acc;
    }
    return y;
}
} // namespace

TEST(WetAllpass, ImpulseResponseMatchesTheTransferFunction)
{
    constexpr int length = 200;
    const auto expected = directFormImpulseResponse(length);
    quillon::WetAllpass filter;
    long double energy = 0.0L, centroid = 0.0L, sum = 0.0L;
    for (int n = 0; n < length; ++n)
    {
        double y = 0.0;
        ASSERT_TRUE(filter.process(n == 0 ? 1.0 : 0.0, y));
        EXPECT_NEAR(y, static_cast<double>(expected[static_cast<size_t>(n)]), 1e-12) << n;
        energy += static_cast<long double>(y) * y;
        centroid += n * static_cast<long double>(y);
        sum += y;
    }
    // Unit energy (an allpass) and a low-frequency delay of (64 + c1) / (8 - c1) samples.
    EXPECT_NEAR(static_cast<double>(energy), 1.0, 1e-9);
    const double c1 = 0.17447089133203703;
    EXPECT_NEAR(static_cast<double>(centroid / sum), (64.0 + c1) / (8.0 - c1), 1e-6);
}

TEST(WetAllpass, FlushesSubnormalsAndReportsNonFiniteOutput)
{
    quillon::WetAllpass filter;
    double y = 1.0;
    ASSERT_TRUE(filter.process(1e-310, y));
    EXPECT_EQ(y, 0.0);
    for (int n = 0; n < 10; ++n)
    {
        ASSERT_TRUE(filter.process(0.0, y));
        ASSERT_EQ(y, 0.0) << "a subnormal input leaves no state behind";
    }

    // A tiny normal input decays through the subnormal range to exactly zero.
    ASSERT_TRUE(filter.process(1e-300, y));
    int n = 0;
    for (; n < 5000 && y != 0.0; ++n)
        filter.process(0.0, y);
    for (int i = 0; i < 20; ++i)
    {
        filter.process(0.0, y);
        ASSERT_FALSE(y != 0.0 && std::fabs(y) < 2.2250738585072014e-308);
    }

    EXPECT_FALSE(filter.process(std::numeric_limits<double>::infinity(), y));
}
