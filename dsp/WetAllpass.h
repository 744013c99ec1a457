#pragma once

// The fixed eighth-order allpass on the wet path: about 8.2 samples of delay with a flat
// magnitude, so the gained signal lines up with the 8-sample dry history without the
// comb filtering a plain 8-sample delay would leave against the gain interpolation.

#include <array>

namespace quillon
{

class WetAllpass
{
public:
    static constexpr int order = 8;

    void clear() noexcept { state = {}; }

    // One sample; false when the result is not finite (the caller then gives up on the filter).
    bool process(double input, double& output) noexcept;

private:
    std::array<double, order> state {};
};

} // namespace quillon
