#pragma once

// The Limit mode's slow memory: each time the median of the recent frame power gain falls
// (the gain reduction deepening), the fall is remembered and decays over about 0.7 s; in
// Limit mode a sixth of what is remembered comes off the gain.

#include <array>
#include <cstdint>

namespace quillon
{

class LimitMemory
{
public:
    // Back to empty, and enabled again after a failure.
    void reset() noexcept;

    // Takes the gain of the frame at `frameIndex` (which must follow the previous frame by
    // exactly 24 samples). Writes the offset in dB and whether it is valid yet; returns false
    // when the memory has failed, after which it refuses every frame until reset.
    bool processFrame(std::uint64_t frameIndex, double gainDb, double& offsetDb, bool& offsetValid) noexcept;

    bool outputReady() const noexcept { return ready; }
    double memoryDb() const noexcept { return memory; }

private:
    static constexpr std::uint64_t window = 40;
    static constexpr std::uint64_t medianWindow = 5;

    std::array<double, window> powerRing {};
    std::array<double, medianWindow> medianRing {};
    std::uint64_t lastFrameIndex = 0;
    std::uint64_t frameCount = 0;
    std::uint64_t medianCount = 0;
    double powerSum = 0.0;
    double previousMedianDb = 0.0;
    double memory = 0.0;
    bool hasLastFrame = false;
    bool hasPreviousMedian = false;
    bool ready = false;
    bool enabled = true;
};

} // namespace quillon
