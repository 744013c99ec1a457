#pragma once

// One envelope follower of the optical cell: it chases the static gain curve with a
// program-dependent two-stage attack and a three-stage release whose mix is set by a
// memory of recent reduction. Ticked once per envelope frame; returns the cell gain in dB.

#include <array>
#include <cstddef>
#include <limits>

namespace quillon {

enum class FollowerMode { Program, Plain, Emphasis };

// What one tick saw, for the envelope stage's bookkeeping.
struct FollowerDiagnostic {
    double staticGainDb = 0.0;
    double previousOutputDb = 0.0;
    double memoryFast = 0.0;
    bool aboveStatic = false;
};

// A plain record: the envelope stage keeps three of them in its own heap record.
// The two transfer tables make up most of it and are rebuilt only when the curve changes.
struct Follower {
    static constexpr std::size_t tableSize = 4097;

    Follower() = default;
    Follower(const Follower&) = delete;
    Follower& operator=(const Follower&) = delete;

    // Steady state for a constant level at this Peak Reduction; the tables are kept.
    void reset(double levelDb, double peak) noexcept;

    // One tick; returns the new outputDb.
    double process(double levelDb, double detectorShapeDb, double previousReductionDb, double peak,
                   double emphasisNorm, FollowerMode mode, double attackScale,
                   FollowerDiagnostic* diagnostic) noexcept;

    // Makes the tables those of (peak, feedback). A source follower whose tables already
    // hold that curve lends them, which spares the 4097 curve evaluations of a rebuild.
    void ensureTables(double peak, double feedback, const Follower* source = nullptr) noexcept;

    // Share of the gain fed back into the release transfer.
    static double feedbackFraction(FollowerMode mode, double emphasisNorm) noexcept;

    double tickRate = 2000.0;
    double reductionDb = 0.0;
    double reductionFastDb = 0.0;
    double reductionSlowDb = 0.0;
    double memoryFast = 0.0;
    double memorySlow = 0.0;
    double tablePeak = std::numeric_limits<double>::quiet_NaN();
    double tableFeedback = std::numeric_limits<double>::quiet_NaN();
    std::array<double, tableSize> levelTable {};
    std::array<double, tableSize> gainTable {};
    double outputDb = 0.0;
    std::array<double, 2> attackOut {};
    std::array<double, 2> attackRef {};
    double releaseFast = 0.0;
    double releaseMedium = 0.0;
    double releaseSlow = 0.0;
    std::array<double, 2> releaseMemory {};
    double memoryExponent = 0.0;
    double attackSeconds = 0.0;
    bool attacking = false;

private:
    // The attack's table parameters and one-pole steps, kept from one attack tick to the next
    // while the peak, the attack scale, the ramp factor and the tick rate stay the same.
    struct AttackMemo {
        bool valid = false;
        double peak = 0.0;
        double scale = 0.0;
        double ramp = 0.0;
        double rate = 0.0;
        double fastWeight = 0.0;
        std::array<double, 4> steps {}; // output fast and slow, reference fast and slow
    };

    double releaseTarget(double key) const noexcept;
    const AttackMemo& attackFor(double peak, double scale, double ramp) noexcept;

    AttackMemo attackMemo;
};

} // namespace quillon
