#include "dsp/WetAllpass.h"

#include <cmath>

namespace quillon
{
namespace
{
// Transposed direct form: input taps b[0..8] and output feedback taps c[1..8] (c[0] unused).
// H(z) is the Thiran allpass for a delay of (64 + c[1]) / (8 - c[1]) samples.
constexpr std::array<double, 9> inputTaps {
    2.795593144235027e-06, -5.031813040043813e-05, 0.0004317349828349389,
    -0.002357748754385584, 0.009261598399894011,   -0.02824360520329949,
    0.07187559663159805,   -0.17447089133203703,   1.0};
constexpr std::array<double, 9> feedbackTaps {
    0.0,                    0.17447089133203703,    -0.07187559663159805,
    0.02824360520329949,    -0.009261598399894011,  0.002357748754385584,
    -0.0004317349828349389, 5.031813040043813e-05,  -2.795593144235027e-06};

constexpr double smallestNormal = 2.2250738585072014e-308;

// Subnormal state would cost time on every later sample; the filter never needs it.
double flushSubnormal(double v) noexcept
{
    return (v != 0.0 && std::fabs(v) < smallestNormal) ? 0.0 : v;
}
} // namespace

bool WetAllpass::process(double input, double& output) noexcept
{
    const double x = flushSubnormal(input);
    const double y = inputTaps[0] * x + state[0];
    // Each register takes the next one's value from before this sample.
    for (std::size_t k = 0; k + 1 < order; ++k)
        state[k] = flushSubnormal((inputTaps[k + 1] * x + feedbackTaps[k + 1] * y) + state[k + 1]);
    state[order - 1] = flushSubnormal(x + feedbackTaps[order] * y);
    output = flushSubnormal(y);
    return std::isfinite(output);
}

} // namespace quillon
