// Side-chain emphasis filter: identity at no emphasis, the deepest design worked out
// by hand, its response at the centre, DC and Nyquist, the filter step against the
// direct form, and infinities under the complex division rules.

#include "dsp/Biquad.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <vector>

namespace {

using quillon::Biquad;
using quillon::filterStep;
using quillon::magnitudeSquared;
using quillon::sidechainBiquad;

constexpr double twoPi = 6.283185307179586;

// |H|^2 from the transfer function in long double, as a reference.
long double referencePower(const Biquad& q, double hz)
{
    const long double w = 2.0L * 3.14159265358979323846264338327950288L * hz / 48000.0L;
    const std::complex<long double> z1 = std::polar(1.0L, -w);
    const std::complex<long double> z2 = z1 * z1;
    const std::complex<long double> h = (static_cast<long double>(q.b0) + static_cast<long double>(q.b1) * z1 +
                                         static_cast<long double>(q.b2) * z2) /
                                        (1.0L + static_cast<long double>(q.a1) * z1 + static_cast<long double>(q.a2) * z2);
    return std::norm(h);
}

TEST(Biquad, NoEmphasisIsTheIdentity)
{
    for (const double e : {1.0, 0.999999999999, 0.9999999999995, 3.0}) {
        Biquad q = sidechainBiquad(e);
        EXPECT_EQ(q.b0, 1.0);
        EXPECT_EQ(q.b1, 0.0);
        EXPECT_EQ(q.b2, 0.0);
        EXPECT_EQ(q.a1, 0.0);
        EXPECT_EQ(q.a2, 0.0);
        EXPECT_EQ(q.z1, 0.0);
        EXPECT_EQ(q.z2, 0.0);
        for (const double x : {0.25, -1.0, 1e-300, 7.5})
            EXPECT_EQ(filterStep(q, x), x);
        for (const double hz : {0.0, 187.5, 1000.0, 19875.0, 24000.0})
            EXPECT_EQ(magnitudeSquared(q, hz), 1.0);
    }
    EXPECT_NE(sidechainBiquad(0.99999999999).b1, 0.0);
}

TEST(Biquad, DeepestEmphasisDesign)
{
    // e = 0 sits on the first node of every design table, so the design reads them directly.
    const double depth = 14.627011177528248;
    const double f = std::exp(5.8391361401766275);
    const double quality = std::exp(-1.764611056343205);
    const double a = std::pow(10.0, depth / -40.0);
    const double w = (f * twoPi) / 48000.0;
    const double alpha = std::sin(w) / (quality + quality);
    const double a0 = alpha / a + 1.0;

    const Biquad q = sidechainBiquad(0.0);
    EXPECT_EQ(q.b0, (alpha * a + 1.0) / a0);
    EXPECT_EQ(q.b1, (std::cos(w) * -2.0) / a0);
    EXPECT_EQ(q.b2, (1.0 - alpha * a) / a0);
    EXPECT_EQ(q.a1, q.b1);
    EXPECT_EQ(q.a2, (1.0 - alpha / a) / a0);
    EXPECT_EQ(q.z1, 0.0);
    EXPECT_EQ(q.z2, 0.0);
    EXPECT_NEAR(q.b0, 0.809869, 5e-7);
    EXPECT_NEAR(q.b1, -1.531510, 5e-7);
    EXPECT_NEAR(q.b2, 0.723190, 5e-7);
    EXPECT_NEAR(q.a2, 0.533059, 5e-7);

    const double atCentre = magnitudeSquared(q, f);
    EXPECT_NEAR(atCentre, std::pow(10.0, -depth / 10.0), 1e-14);
    EXPECT_NEAR(atCentre, 0.034459, 5e-7);
    EXPECT_NEAR(atCentre, static_cast<double>(referencePower(q, f)), 1e-14);
}

TEST(Biquad, HalfEmphasisCutsItsDepthAtItsCentre)
{
    const Biquad q = sidechainBiquad(0.5);
    EXPECT_NEAR(magnitudeSquared(q, std::exp(6.154404006711882)), std::pow(10.0, -12.850516919145079 / 10.0), 1e-14);
}

TEST(Biquad, UnityAtDcAndNyquistAndMatchesTheTransferFunction)
{
    for (const double e : {0.0, 0.1, 0.25, 0.4, 0.5, 0.75, 0.9, 0.99}) {
        const Biquad q = sidechainBiquad(e);
        EXPECT_NEAR(magnitudeSquared(q, 0.0), 1.0, 1e-11) << e; // 1 + a1 + a2 is small: cancellation
        EXPECT_NEAR(magnitudeSquared(q, 24000.0), 1.0, 1e-11) << e;
        for (int k = 1; k <= 106; k += 7) {
            const double hz = k * 48000.0 / 256.0;
            EXPECT_NEAR(magnitudeSquared(q, hz), static_cast<double>(referencePower(q, hz)), 1e-14) << e << ' ' << hz;
        }
    }
}

TEST(Biquad, StepMatchesTheDirectFormAndItsPowerGain)
{
    Biquad q = sidechainBiquad(0.2);
    const Biquad c = q;
    std::vector<double> x(4800);
    for (std::size_t n = 0; n < x.size(); ++n)
        x[n] = std::sin(twoPi * 400.0 * static_cast<double>(n) / 48000.0);
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0, inPower = 0.0, outPower = 0.0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double y = filterStep(q, x[n]);
        const double direct = c.b0 * x[n] + c.b1 * x1 + c.b2 * x2 - c.a1 * y1 - c.a2 * y2;
        ASSERT_NEAR(y, direct, 1e-12) << n;
        x2 = x1;
        x1 = x[n];
        y2 = y1;
        y1 = direct;
        if (n >= 2400) {
            inPower += x[n] * x[n];
            outPower += y * y;
        }
    }
    EXPECT_NEAR(outPower / inPower, magnitudeSquared(c, 400.0), 1e-3);
}

TEST(Biquad, OverflowReadsInfinityAndBadFrequenciesNaN)
{
    // A double pole at DC: the denominator vanishes there and H is infinite, not NaN.
    const Biquad pole{1.0, 0.0, 0.0, -2.0, 1.0, 0.0, 0.0};
    EXPECT_EQ(magnitudeSquared(pole, 0.0), std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isfinite(magnitudeSquared(pole, 1000.0)));
    const Biquad q = sidechainBiquad(0.3);
    EXPECT_TRUE(std::isnan(magnitudeSquared(q, std::nan(""))));
    EXPECT_TRUE(std::isnan(magnitudeSquared(q, std::numeric_limits<double>::infinity())));
    EXPECT_TRUE(std::isnan(sidechainBiquad(std::nan("")).b0));
}

} // namespace
