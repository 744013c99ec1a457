#pragma once

// The last two gain frames the model delivered, and the gain of any sample between them,
// interpolated in dB.

#include <cstdint>

namespace quillon
{

class GainFrameStore
{
public:
    static constexpr std::uint64_t frameInterval = 24;

    void clear() noexcept { *this = GainFrameStore {}; }

    // Takes the frame at `index`; false when it does not come after the newest one stored.
    bool store(std::uint64_t index, double gainDb) noexcept
    {
        if (!olderValid)
        {
            older = { index, gainDb };
            olderValid = true;
            return true;
        }
        const Frame& newest = newerValid ? newer : older;
        if (index <= newest.index)
            return false;
        if (newerValid)
            older = newer;
        newer = { index, gainDb };
        newerValid = true;
        return true;
    }

    // The gain in dB of sample d; false unless d lies within a stored pair 24 samples apart.
    bool gainDbAt(std::uint64_t d, double& gainDb) const noexcept
    {
        if (!olderValid || !newerValid || d < older.index || d > newer.index
            || newer.index - older.index != frameInterval)
            return false;
        const double t = static_cast<double>(d - older.index) / 24.0;
        gainDb = (newer.gainDb - older.gainDb) * t + older.gainDb;
        return true;
    }

private:
    struct Frame
    {
        std::uint64_t index = 0;
        double gainDb = 0.0;
    };

    Frame older;
    Frame newer;
    bool olderValid = false;
    bool newerValid = false;
};

} // namespace quillon
