#pragma once

// Keeps the detector's results in step by sample position: base levels and low-band
// balance per sample, the last four spectral records, and on each envelope tick the
// feature frame for a position a fixed delay behind the newest sample. Owns the detector.

#include "dsp/DetectorFrames.h"
#include "dsp/OptoDetectorDSP.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quillon {

enum class FeatureOutcome { Frame, NotYet, Failure };

class OptoDetectorTimelineDSP {
public:
    static constexpr std::size_t recordCapacity = 4;

    OptoDetectorTimelineDSP();
    ~OptoDetectorTimelineDSP();
    OptoDetectorTimelineDSP(const OptoDetectorTimelineDSP&) = delete;
    OptoDetectorTimelineDSP& operator=(const OptoDetectorTimelineDSP&) = delete;

    // Takes the Peak Reduction and the mode (0: interpolated records, 256 samples back;
    // 1: latest record, 127 back; 2: latest record rebuilt for the exact position, 127 back),
    // then resets. Throws std::invalid_argument("OptoDetectorTimelineDSP timeline mode is
    // invalid") for any other mode.
    void prepare(double peak, int mode);
    // Clears the detector's dynamic state and every store; ready again if prepared.
    void reset() noexcept;

    // A base level for a position at most `delay()` samples back; false if the timeline is not
    // ready, the position is in the future or too late, or its level is already stored.
    bool storeLevel(std::uint64_t position, double levelDb) noexcept;
    // The low-band balance of the current sample; advances the sample count.
    void storeLowBand(double value) noexcept;
    // Appends a spectral record, dropping the oldest of four.
    void storeFeatureRecord(const DetectorFeatureFrame& record) noexcept;

    // The feature frame for a position; `frame` is written only with FeatureOutcome::Frame.
    // The low-band fields are left for the caller to fill.
    FeatureOutcome featureFrameAt(std::uint64_t position, DetectorFeatureFrame& frame) const noexcept;
    // False when no level is stored for exactly this position.
    bool levelAt(std::uint64_t position, double& levelDb) const noexcept;
    // Low-band balance stored for a position within the last 512 samples.
    double lowBandAt(std::uint64_t position) const noexcept;

    // New Peak Reduction for the level composition, which uses the extended calibration.
    void setPeak(double peak) noexcept;
    void markNotReady() noexcept;

    OptoDetectorDSP& detector() noexcept;
    const OptoDetectorDSP& detector() const noexcept;
    double peak() const noexcept;
    int mode() const noexcept;
    int delay() const noexcept;
    bool extendedCalibration() const noexcept;
    bool isPrepared() const noexcept;
    bool isReady() const noexcept;
    std::uint64_t sampleCount() const noexcept;
    std::size_t recordCount() const noexcept;
    // Record i of recordCount(), oldest first.
    const DetectorFeatureFrame& record(std::size_t i) const noexcept;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace quillon
