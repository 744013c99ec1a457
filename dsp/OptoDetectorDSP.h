#pragma once

// The detector: per-sample side-chain statistics in 256-sample rings and, every 128
// samples, a 256-point spectral analysis that yields a feature frame; and the
// composition of calibrated level frames from those features.

#include "dsp/Biquad.h"
#include "dsp/DetectorCalibration.h"
#include "dsp/DetectorFrames.h"

#include <cstdint>
#include <memory>

namespace quillon {

class OptoDetectorDSP {
public:
    OptoDetectorDSP();
    ~OptoDetectorDSP();
    OptoDetectorDSP(const OptoDetectorDSP&) = delete;
    OptoDetectorDSP& operator=(const OptoDetectorDSP&) = delete;

    // Coefficients, side-chain filter and its bin magnitudes; valid; clears the dynamic state.
    void prepare(double sampleRate, double emphasisNorm);
    // New filter for another Emphasis value, keeping its registers and all statistics.
    // A change of 1e-12 or less keeps the current design; a value that is not finite
    // or lies outside [0, 1] makes the detector invalid.
    void redesign(double emphasisNorm) noexcept;
    // Zeroes filter registers, rings, spectra and statistics; keeps the design.
    void clearDynamicState() noexcept;

    // One input sample. Returns true when a spectral analysis ran and `record` holds
    // its feature frame (for the sample 127 before this one). Does nothing when not valid.
    bool analyseSample(double x, DetectorFeatureFrame& record) noexcept;

    // Low-band balance after the latest sample, in [-1, 0].
    double lowBandBalance() const noexcept;
    bool isValid() const noexcept;
    double emphasisNorm() const noexcept;
    std::uint64_t sampleCount() const noexcept;
    const Biquad& filter() const noexcept;

    // Calibrated levels for a base level and a feature frame of the same position.
    // False, with `out` untouched, on a bad input; false also when a level is not finite.
    bool composeLevelFrame(double baseLevelDb, double peakNorm, const DetectorFeatureFrame& features,
                           DetectorLevelFrame& out, bool extendedCalibration) const noexcept;
    // The time-domain measures of an earlier position (at most 256 samples back) rebuilt
    // from the rings, with the spectral measures of `current`. False when out of reach
    // (`out` untouched) or when a rebuilt measure is not finite (`out` written).
    bool composeHistoricalFeatureFrame(std::uint64_t position, const DetectorFeatureFrame& current,
                                       DetectorFeatureFrame& out) const noexcept;

private:
    struct State;
    std::unique_ptr<State> state;
};

} // namespace quillon
