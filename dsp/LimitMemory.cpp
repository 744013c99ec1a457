#include "dsp/LimitMemory.h"

#include <algorithm>
#include <cmath>

namespace quillon
{
namespace
{
constexpr std::uint64_t frameInterval = 24;
constexpr std::uint64_t medianInterval = 20;
constexpr double memoryDecay = 0.9993136353165099;
constexpr double memoryWeight = -0.16004542955098108;
constexpr double powerFloor = 1e-30;
} // namespace

void LimitMemory::reset() noexcept { *this = LimitMemory {}; }

bool LimitMemory::processFrame(std::uint64_t p, double g, double& offset, bool& offsetValid) noexcept
{
    offset = 0.0;
    offsetValid = false;

    if (!std::isfinite(g))
    {
        enabled = false;
        return false;
    }
    if (!enabled)
        return false;
    if (hasLastFrame && p != lastFrameIndex + frameInterval)
    {
        enabled = false;
        return false;
    }
    hasLastFrame = true;
    lastFrameIndex = p;

    const double w = std::pow(10.0, g / 10.0);
    if (w == HUGE_VAL)
    {
        enabled = false;
        return false;
    }

    const std::uint64_t n = frameCount;
    const auto slot = static_cast<std::size_t>(n % window);
    const double base = n > window - 1 ? powerSum - powerRing[slot] : powerSum;
    powerRing[slot] = w;
    powerSum = w + base;

    memory = memory * memoryDecay;

    if (n >= window - 1 && (n - (window - 1)) % medianInterval == 0)
    {
        const double mean = 10.0 * std::log10(std::max(powerFloor, powerSum / 40.0));
        if (!std::isfinite(mean))
        {
            enabled = false;
            return false;
        }
        medianRing[static_cast<std::size_t>(medianCount % medianWindow)] = mean;
        medianCount += 1;
        const auto c = static_cast<std::size_t>(std::min(medianCount, medianWindow));

        std::array<double, medianWindow> sorted = medianRing;
        std::sort(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(c));
        const double median = (c % 2 == 1) ? sorted[c / 2] : (sorted[c / 2 - 1] + sorted[c / 2]) * 0.5;

        if (hasPreviousMedian)
            memory += std::max(previousMedianDb - median, 0.0);
        previousMedianDb = median;
        hasPreviousMedian = true;
        ready = true;
        offset = memory * memoryWeight;
        offsetValid = true;
    }
    else if (ready)
    {
        offset = memory * memoryWeight;
        offsetValid = true;
    }

    frameCount = n + 1;

    if (!std::isfinite(offset) || !std::isfinite(memory))
    {
        enabled = false;
        offset = 0.0;
        offsetValid = false;
        return false;
    }
    return true;
}

} // namespace quillon
