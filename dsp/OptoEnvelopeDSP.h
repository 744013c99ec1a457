#pragma once

// The envelope stage: three followers turn each tick's calibrated detector levels into
// the cell gain. The Emphasis follower adds only what emphasis changes on top of the
// Program follower, so the output is emphasis + program - plain.

#include "dsp/DetectorFrames.h"
#include "dsp/Follower.h"

#include <memory>

namespace quillon {

// A tick's input: the five values of the detector's level frame.
using EnvelopeFrame = DetectorLevelFrame;

// Normalised Peak Reduction (all a reset reads) and Emphasis (1 means none).
struct EnvelopeControls {
    double peak;
    double emphasisNorm;
};

class OptoEnvelopeDSP {
public:
    OptoEnvelopeDSP();
    ~OptoEnvelopeDSP();
    OptoEnvelopeDSP(const OptoEnvelopeDSP&) = delete;
    OptoEnvelopeDSP& operator=(const OptoEnvelopeDSP&) = delete;

    // Back to 2000 ticks per second, waiting for a reset.
    void prepare() noexcept;
    // Seeds every follower with the steady state of this frame.
    void reset(const EnvelopeFrame& frame, const EnvelopeControls& controls) noexcept;
    // One tick of all three followers; returns the new output in dB. Needs a reset first.
    double tick(const EnvelopeFrame& frame, const EnvelopeControls& controls) noexcept;

    double outputDb() const noexcept;
    double staticReductionDb() const noexcept;
    bool resultValid() const noexcept;
    // The Program follower's last tick was an attack tick.
    bool programAboveStatic() const noexcept;
    // The Emphasis follower's fast reduction memory after its last tick or reset.
    double emphasisMemoryFast() const noexcept;
    bool isInitialised() const noexcept;

    const Follower& programFollower() const noexcept;
    const Follower& plainFollower() const noexcept;
    const Follower& emphasisFollower() const noexcept;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace quillon
