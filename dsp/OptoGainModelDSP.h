#pragma once

// The optical gain cell as the realtime engine sees it: fed one input sample at a time,
// every 24 samples it yields the cell gain in dB for a position a fixed delay behind the
// input (127 samples in the engine's mode), with the levels it was derived from.

#include "dsp/DetectorFrames.h"
#include "dsp/OptoBaseLevelDSP.h"
#include "dsp/OptoDetectorTimelineDSP.h"
#include "dsp/OptoEnvelopeDSP.h"

#include <cstdint>
#include <memory>

namespace quillon {

struct GainModelFrame {
    std::uint64_t position;      // sample position of the frame, a multiple of 24
    double baseLevelDb;          // base level at that position
    double gainDb;               // envelopeGainDb - variantCorrectionDb
    double envelopeGainDb;       // envelope output
    double variantCorrectionDb;  // 0 unless calibrationVariant
    bool calibrationVariant;
    DetectorLevelFrame levelFrame;
};

class OptoGainModelDSP {
public:
    OptoGainModelDSP();
    ~OptoGainModelDSP();
    OptoGainModelDSP(const OptoGainModelDSP&) = delete;
    OptoGainModelDSP& operator=(const OptoGainModelDSP&) = delete;

    // One-time setup, ending in reset(). Throws std::invalid_argument for a sample rate other
    // than 48 kHz, a Peak Reduction or Emphasis outside [0, 1] or an unknown timeline mode, and
    // std::runtime_error when the base-level window cannot be normalised. A model whose
    // preparation threw is not valid.
    void prepare(double sampleRate, double peak, double emphasisNorm, bool calibrationVariant, int timelineMode);
    // Back to the starting state of a prepared model.
    void reset() noexcept;
    // Later control changes; false (and the model invalid) on a bad value or a failed model.
    // The fourth argument is not used.
    bool updateControls(double peak, double emphasisNorm, bool calibrationVariant, bool) noexcept;
    // One input sample; true exactly when a new frame was written.
    bool processSample(double input, GainModelFrame& frame) noexcept;

    bool isValid() const noexcept;
    bool isPrepared() const noexcept;
    double peak() const noexcept;
    double emphasisNorm() const noexcept;
    bool calibrationVariant() const noexcept;
    double correctionAccumulator() const noexcept;
    const OptoBaseLevelDSP& baseLevel() const noexcept;
    const OptoDetectorTimelineDSP& timeline() const noexcept;
    const OptoEnvelopeDSP& envelope() const noexcept;

private:
    struct State;
    std::unique_ptr<State> state;
};

} // namespace quillon
