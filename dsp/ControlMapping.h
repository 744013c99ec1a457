#pragma once

// How the front panel's 0..100 scales meet the scales the model was measured on, and the
// make-up gain the Gain knob gives.

namespace quillon
{

// Peak Reduction as displayed -> normalised 0..1 (25 maps to the calibration reference).
double normalisedPeakReduction(double display) noexcept;

// Gain as displayed -> normalised 0..1 (30 maps to the model's unity point).
double normalisedGain(double display) noexcept;

// Linear make-up gain for a normalised Gain: the measured gain curve relative to its value
// at 0.3219; 0 below the curve's floor 0.0925, where the wet path is muted.
double makeupGainFor(double normalisedGainValue) noexcept;

} // namespace quillon
