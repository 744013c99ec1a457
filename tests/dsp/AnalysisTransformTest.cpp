// The detector's transform against a plain complex transform written out here: bit for bit on
// every bin the detector reads, for ordinary audio and for inputs whose products overflow or
// meet infinities and NaN, where the complex type's own rules decide.

#include "dsp/AnalysisTransform.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>

namespace {

using quillon::forwardTransform;
using quillon::transformLength;
using Complex = std::complex<double>;
using Points = std::array<double, transformLength>;

constexpr std::size_t lastBin = 106;

std::uint64_t bits(double v)
{
    std::uint64_t b = 0;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// Equal bits, or both NaN: which NaN a sum of two NaNs keeps depends on the order in which the
// compiler puts the operands, and no result of the model depends on it.
bool same(double a, double b) { return std::isnan(a) ? std::isnan(b) : bits(a) == bits(b); }

// Radix 2, decimation in time: bit-reversed order, then stages of span 2 to 256 whose
// twiddles start at 1 and advance by repeated multiplication with e^(-2 pi i / span).
std::array<Complex, transformLength> plainTransform(const Points& re, const Points& im)
{
    std::array<Complex, transformLength> x{};
    for (std::size_t i = 0; i < transformLength; ++i) {
        std::size_t r = 0;
        for (int bit = 0; bit < 8; ++bit)
            r |= ((i >> bit) & 1u) << (7 - bit);
        x[r] = Complex(re[i], im[i]);
    }
    for (std::size_t span = 2; span <= transformLength; span *= 2) {
        const double angle = -6.283185307179586 / static_cast<double>(span);
        const Complex step(std::cos(angle), std::sin(angle));
        for (std::size_t start = 0; start < transformLength; start += span) {
            Complex w(1.0, 0.0);
            for (std::size_t j = 0; j < span / 2; ++j) {
                const Complex t = x[start + j + span / 2] * w;
                const Complex u = x[start + j];
                x[start + j] = u + t;
                x[start + j + span / 2] = u - t;
                w *= step;
            }
        }
    }
    return x;
}

struct Input {
    const char* name;
    std::function<void(Points& re, Points& im)> fill;
};

Points noise(unsigned seed, double scale)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Points p{};
    for (double& v : p)
        v = scale * u(random);
    return p;
}

const double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

const Input inputs[] = {
    {"Silence", [](Points&, Points&) {}},
    {"Noise", [](Points& re, Points&) { re = noise(1, 0.5); }},
    {"ComplexNoise", [](Points& re, Points& im) { re = noise(2, 0.5); im = noise(3, 0.5); }},
    {"Subnormals", [](Points& re, Points&) { re = noise(4, 1e-310); }},
    {"SignedZeros", [](Points& re, Points& im) { for (std::size_t i = 0; i < transformLength; ++i) { re[i] = i % 3 ? -0.0 : 0.0; im[i] = i % 2 ? -0.0 : 0.0; } }},
    {"JustTame", [](Points& re, Points&) { re = noise(5, 1e300); }},
    {"Huge", [](Points& re, Points&) { re = noise(6, 1e307); }},
    {"OneHugeAmongNoise", [](Points& re, Points&) { re = noise(7, 0.5); re[77] = 1.7e308; }},
    {"Infinity", [](Points& re, Points&) { re = noise(8, 0.5); re[10] = inf; }},
    {"InfinitiesOfBothSigns", [](Points& re, Points& im) { re = noise(9, 0.5); re[3] = inf; re[200] = -inf; im[5] = inf; }},
    {"NaN", [](Points& re, Points&) { re = noise(10, 0.5); re[128] = nan; }},
    {"NaNAndInfinity", [](Points& re, Points&) { re = noise(11, 0.5); re[1] = nan; re[2] = inf; }},
};

class AnalysisTransform : public ::testing::TestWithParam<Input> {
};

TEST_P(AnalysisTransform, BinsMatchThePlainComplexTransformBitForBit)
{
    Points re{};
    Points im{};
    GetParam().fill(re, im);
    const std::array<Complex, transformLength> expected = plainTransform(re, im);
    forwardTransform(re, im, lastBin);
    for (std::size_t k = 0; k <= lastBin; ++k) {
        EXPECT_TRUE(same(re[k], expected[k].real())) << "bin " << k << ": " << re[k] << " vs " << expected[k].real();
        EXPECT_TRUE(same(im[k], expected[k].imag())) << "bin " << k << ": " << im[k] << " vs " << expected[k].imag();
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, AnalysisTransform, ::testing::ValuesIn(inputs),
                         [](const ::testing::TestParamInfo<Input>& info) { return std::string(info.param.name); });

TEST(AnalysisTransformBins, AllLowerBinsWhenAskedForThemAll)
{
    Points re = noise(12, 0.3);
    Points im{};
    const std::array<Complex, transformLength> expected = plainTransform(re, im);
    forwardTransform(re, im, 127);
    for (std::size_t k = 0; k < 128; ++k)
        ASSERT_EQ(bits(re[k]), bits(expected[k].real())) << k;
}

} // namespace
