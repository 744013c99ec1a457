#pragma once

// The detector's 256-point forward transform (radix 2, decimation in time, unnormalised),
// on real and imaginary parts held apart so that the butterflies run two at a time. Every
// product is the one the complex type forms, including its rules for infinities and NaN.

#include <array>
#include <cstddef>

namespace quillon {

constexpr std::size_t transformLength = 256;

// Transforms re + i im in place. Afterwards bins 0 to lastBin (at most 127) hold the
// transform; the entries above are left as scratch, since the last stage computes only the
// bins asked for.
void forwardTransform(std::array<double, transformLength>& re, std::array<double, transformLength>& im,
                      std::size_t lastBin) noexcept;

} // namespace quillon
