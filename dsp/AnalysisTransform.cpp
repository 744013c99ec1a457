// The detector's transform. Twiddles and the bit-reversed order are worked out once. A
// transform whose input is all finite and far from overflow takes the butterflies' products
// as ac - bd and ad + bc, which is exactly what the complex type computes when neither part
// comes out NaN; any other input takes the complex type's own product.

#include "dsp/AnalysisTransform.h"

#include <cmath>
#include <complex>
#include <cstdint>

namespace quillon {
namespace {

constexpr double twoPi = 6.283185307179586;
constexpr std::size_t halfLength = transformLength / 2;
// Eight stages grow a part by at most a factor 2.5 each, so inputs up to this size keep every
// sum and product finite.
constexpr double tameMagnitude = 1e300;

using Complex = std::complex<double>;

struct Twiddles {
    std::array<double, transformLength - 1> re{};
    std::array<double, transformLength - 1> im{};
};

// Each stage's twiddles (span 2, 4, ..., 256) one after another, advanced from 1 by repeated
// complex multiplication with e^(-2 pi i / span).
Twiddles makeTwiddles() noexcept
{
    Twiddles table;
    std::size_t offset = 0;
    for (std::size_t span = 2; span <= transformLength; span *= 2) {
        const double angle = -twoPi / static_cast<double>(span);
        const Complex step(std::cos(angle), std::sin(angle));
        Complex w(1.0, 0.0);
        for (std::size_t j = 0; j < span / 2; ++j) {
            table.re[offset + j] = w.real();
            table.im[offset + j] = w.imag();
            w *= step;
        }
        offset += span / 2;
    }
    return table;
}

constexpr std::array<std::uint8_t, transformLength> makeBitReversal() noexcept
{
    std::array<std::uint8_t, transformLength> order{};
    for (std::size_t i = 0; i < transformLength; ++i) {
        std::size_t r = 0;
        for (std::size_t bit = 0; bit < 8; ++bit)
            r |= ((i >> bit) & 1u) << (7 - bit);
        order[i] = static_cast<std::uint8_t>(r);
    }
    return order;
}

// Built when the library loads: nothing on the audio thread ever waits for them.
const Twiddles twiddles = makeTwiddles();
constexpr std::array<std::uint8_t, transformLength> bitReversal = makeBitReversal();

struct ComplexProduct {
    static void of(double a, double b, double c, double d, double& re, double& im) noexcept
    {
        const Complex t = Complex(a, b) * Complex(c, d);
        re = t.real();
        im = t.imag();
    }
};

struct FiniteProduct {
    static void of(double a, double b, double c, double d, double& re, double& im) noexcept
    {
        re = a * c - b * d;
        im = a * d + b * c;
    }
};

// One stage of butterflies `half` apart; a fixed span lets the compiler unroll the short
// stages and run the long ones two butterflies at a time.
template <typename Product, std::size_t half>
void stage(double* __restrict re, double* __restrict im) noexcept
{
    const double* wr = twiddles.re.data() + (half - 1);
    const double* wi = twiddles.im.data() + (half - 1);
    for (std::size_t start = 0; start < transformLength; start += 2 * half) {
        for (std::size_t j = 0; j < half; ++j) {
            double tr = 0.0;
            double ti = 0.0;
            Product::of(re[start + half + j], im[start + half + j], wr[j], wi[j], tr, ti);
            const double a = re[start + j];
            const double b = im[start + j];
            re[start + j] = a + tr;
            im[start + j] = b + ti;
            re[start + half + j] = a - tr;
            im[start + half + j] = b - ti;
        }
    }
}

template <typename Product>
void butterflies(double* __restrict re, double* __restrict im, std::size_t lastBin) noexcept
{
    for (std::size_t i = 0; i < transformLength; ++i) {
        const std::size_t j = bitReversal[i];
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    stage<Product, 1>(re, im);
    stage<Product, 2>(re, im);
    stage<Product, 4>(re, im);
    stage<Product, 8>(re, im);
    stage<Product, 16>(re, im);
    stage<Product, 32>(re, im);
    stage<Product, 64>(re, im);
    // The last stage, for the bins asked for only.
    const double* wr = twiddles.re.data() + (halfLength - 1);
    const double* wi = twiddles.im.data() + (halfLength - 1);
    for (std::size_t j = 0; j <= lastBin; ++j) {
        double tr = 0.0;
        double ti = 0.0;
        Product::of(re[j + halfLength], im[j + halfLength], wr[j], wi[j], tr, ti);
        re[j] = re[j] + tr;
        im[j] = im[j] + ti;
    }
}

} // namespace

void forwardTransform(std::array<double, transformLength>& re, std::array<double, transformLength>& im,
                      std::size_t lastBin) noexcept
{
    // A NaN fails the comparison and so counts as untamed.
    int tame = 1;
    for (std::size_t i = 0; i < transformLength; ++i)
        tame &= static_cast<int>(std::fabs(re[i]) <= tameMagnitude) & static_cast<int>(std::fabs(im[i]) <= tameMagnitude);
    const std::size_t last = lastBin < halfLength ? lastBin : halfLength - 1;
    if (tame != 0)
        butterflies<FiniteProduct>(re.data(), im.data(), last);
    else
        butterflies<ComplexProduct>(re.data(), im.data(), last);
}

} // namespace quillon
