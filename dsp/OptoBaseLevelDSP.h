#pragma once

// The level the static gain curve is read at: a centred, Hann-weighted RMS over 255
// samples, scaled so that a sine reads its peak amplitude, in dB, 127 samples late.

#include <cstdint>
#include <memory>

namespace quillon {

class OptoBaseLevelDSP {
public:
    OptoBaseLevelDSP();
    ~OptoBaseLevelDSP();
    OptoBaseLevelDSP(const OptoBaseLevelDSP&) = delete;
    OptoBaseLevelDSP& operator=(const OptoBaseLevelDSP&) = delete;

    // Builds the normalised window and clears the history.
    // Throws std::runtime_error("OptoBaseLevelDSP Hann normalisation failed").
    void prepare();
    // Clears the history; ready again if prepared.
    void reset() noexcept;
    // Takes the next input sample.
    void push(double input) noexcept;
    // Level in dB centred on sample n - 127, where n = count() - 1 (the latest sample)
    // and n >= 127; never below -47.999973716469796. NaN for any other n, and
    // not finite when an input's square overflowed.
    double centredLevel(std::uint64_t n) const noexcept;
    // False when centredLevel(n) is certainly finite: no square in its window is infinite or
    // large enough (DBL_MAX / 4 or more) for the doubled weighted sum to overflow. Lets the
    // caller skip levels it never reads without missing one that would fail.
    bool mayBeNonFinite(std::uint64_t n) const noexcept;

    std::uint64_t count() const noexcept;
    bool isPrepared() const noexcept;
    bool isReady() const noexcept;
    void markNotReady() noexcept;

private:
    struct State;
    std::unique_ptr<State> state;
};

} // namespace quillon
