#pragma once

// Level calibration of the detector: a shift that depends on Peak Reduction, Emphasis
// and the level itself, and the emphasis correction shared by the frame compositions.

namespace quillon {

// Calibrated detector level in dB for a level in dB, normalised Peak Reduction and
// normalised Emphasis. NaN outside the calibrated Peak Reduction region unless
// `extendedCalibration`; never above -2.6999708456034766.
double calibratedLevel(double levelDb, double peakNorm, double emphasisNorm, bool extendedCalibration) noexcept;

// The full shift in dB that calibratedLevel applies from -21 dB up (NaN outside the
// calibrated region unless `extendedCalibration`).
double calibrationShift(double peakNorm, double emphasisNorm, bool extendedCalibration) noexcept;

// Level correction from the detector's emphasis features, never above 0 (NaN stays NaN).
double emphasisCorrection(double emphasisRatioDb, double spectralSpread, double shapeDb, double emphasisNorm) noexcept;

} // namespace quillon
