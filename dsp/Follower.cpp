#include "dsp/Follower.h"

// Attack: two parallel one-poles toward the static gain, their times and mix read from a
// table over Peak Reduction. Release: three one-poles toward the gain at which the cell's
// feedback transfer balances, mixed by how much and how long the cell has been reducing.

#include "dsp/Pchip.h"
#include "dsp/StaticGainCurve.h"

#include <algorithm>
#include <cmath>

namespace quillon {

namespace {

constexpr std::array<double, 3> attackPeakNodes {0.4, 0.7, 1.0};

// Row per peak node: log fast time, log added slow time, logit of the fast-stage weight.
constexpr std::array<double, 9> attackQ {
    -5.685047943013399, -1.3365481849542473, 1.764988252427946,
    -6.505191315759072, -3.148498973759219,  1.7648778158788279,
    -7.344037551326302, -4.294644572076982,  0.8470938247408103,
};

PchipCurve<3> attackColumn(std::size_t j)
{
    return PchipCurve<3>(attackPeakNodes, {attackQ[j], attackQ[3 + j], attackQ[6 + j]});
}

const std::array<PchipCurve<3>, 3> attackCurves {attackColumn(0), attackColumn(1), attackColumn(2)};

constexpr double reductionNormaliserDb = 8.174814198512061;
constexpr double reductionFastSeconds = 0.06;
constexpr double reductionSlowSeconds = 2.0;
constexpr double memoryAttackFastSeconds = 0.040228235759800446;
constexpr double memoryAttackSlowSeconds = 0.22904703370348406;
constexpr double memoryReleaseSeconds = 1.9520661234209047;
constexpr double lowPeakFastWeight = 0.05;
constexpr double feedback = 0.175;
constexpr double emphasisFeedbackSlope = -0.05;
constexpr double tableStartDb = -47.999973716469796;
constexpr double tableStep = 0.000244140625;
constexpr double tableSpanDb = 45.30000287086632;
constexpr double programReleaseThresholdDb = 12.182372559418393;
constexpr double releaseMixOnFastMemory = 0.7437179690677084;
constexpr double releaseMixOnSlowMemory = 0.31542571903753885;
constexpr double releaseFastSeconds = 0.012092266430015618;
constexpr double releaseMediumSeconds = 0.10482958816257384;
constexpr double releaseSlowSeconds = 1.0061180450076195;
constexpr double memoryFloor = 1e-15;

struct AttackParameters {
    double fastSeconds;
    double addedSlowSeconds;
    double fastWeight;
};

AttackParameters attackParameters(double peak) noexcept
{
    const double pa = std::clamp(peak, 0.4, 1.0);
    const pchipdetail::Point at = pchipdetail::locate(attackPeakNodes, pa);
    return {std::exp(attackCurves[0].at(at)), std::exp(attackCurves[1].at(at)),
            1.0 / (1.0 + std::exp(-attackCurves[2].at(at)))};
}

double onePole(double x, double target, double seconds, double rate) noexcept
{
    return x + (1.0 - std::exp(-1.0 / (seconds * rate))) * (target - x);
}

double clampUnit(double v) noexcept { return std::clamp(v, 0.0, 1.0); }

} // namespace

void Follower::reset(double levelDb, double peak) noexcept
{
    const double reduction = staticReduction(peak, levelDb);
    reductionDb = reduction;
    reductionFastDb = reduction;
    reductionSlowDb = reduction;
    memoryFast = clampUnit(reduction / reductionNormaliserDb);
    memorySlow = memoryFast;
    const double target = extendedStaticGain(peak, levelDb);
    outputDb = target;
    attackOut = {target, target};
    attackRef = {target, target};
    releaseFast = target;
    releaseMedium = target;
    releaseSlow = target;
    releaseMemory = {0.0, 0.0};
    memoryExponent = 0.0;
    attackSeconds = 0.0;
    attacking = false;
}

double Follower::feedbackFraction(FollowerMode mode, double emphasisNorm) noexcept
{
    return mode == FollowerMode::Emphasis ? feedback + emphasisFeedbackSlope * (1.0 - emphasisNorm) : feedback;
}

void Follower::ensureTables(double peak, double feedbackShare, const Follower* source) noexcept
{
    if (peak == tablePeak && feedbackShare == tableFeedback)
        return;
    if (source != nullptr && source != this && peak == source->tablePeak && feedbackShare == source->tableFeedback) {
        levelTable = source->levelTable;
        gainTable = source->gainTable;
    } else {
        for (std::size_t i = 0; i < tableSize; ++i) {
            const double x = static_cast<double>(i) * tableStep * tableSpanDb + tableStartDb;
            const double g = extendedStaticGain(peak, x);
            gainTable[i] = g;
            levelTable[i] = g * feedbackShare + x;
        }
    }
    tablePeak = peak;
    tableFeedback = feedbackShare;
}

// The static gain at the level where the transfer reaches `key`. The level table rises
// strictly (the gain falls far slower than the level rises), so a binary search finds the
// first entry at or above the key.
double Follower::releaseTarget(double key) const noexcept
{
    if (std::isnan(key))
        return key;
    const double lowest = levelTable.front();
    const double highest = levelTable.back();
    const double clamped = key < lowest ? lowest : (highest < key ? highest : key);
    const auto i = static_cast<std::size_t>(std::lower_bound(levelTable.begin(), levelTable.end(), clamped)
                                            - levelTable.begin());
    if (i == 0)
        return gainTable[0];
    return gainTable[i - 1]
           + (clamped - levelTable[i - 1]) / (levelTable[i] - levelTable[i - 1]) * (gainTable[i] - gainTable[i - 1]);
}

double Follower::process(double levelDb, double detectorShapeDb, double previousReductionDb, double peak,
                         double emphasisNorm, FollowerMode mode, double attackScale,
                         FollowerDiagnostic* diagnostic) noexcept
{
    const double previous = outputDb;
    const double reduction = staticReduction(peak, levelDb);
    const double normalised = clampUnit(reduction / reductionNormaliserDb);

    reductionDb = reduction;
    reductionFastDb = onePole(reductionFastDb, reduction, reductionFastSeconds, tickRate);
    reductionSlowDb = onePole(reductionSlowDb, reduction, reductionSlowSeconds, tickRate);

    const double memoryFastBefore = memoryFast;
    const double memorySlowBefore = memorySlow;
    memoryFast = onePole(memoryFast, normalised,
                         normalised > memoryFastBefore ? memoryAttackFastSeconds : memoryReleaseSeconds, tickRate);
    memorySlow = onePole(memorySlow, normalised,
                         normalised > memorySlowBefore ? memoryAttackSlowSeconds : memoryReleaseSeconds, tickRate);

    const double target = extendedStaticGain(peak, levelDb);
    if (diagnostic != nullptr)
        *diagnostic = {target, previous, memoryFast, previous > target};

    const double feedbackShare = feedbackFraction(mode, emphasisNorm);
    ensureTables(peak, feedbackShare);
    const double depth = 1.0 - emphasisNorm;

    if (previous > target) {
        const AttackParameters attack = attackParameters(peak);
        if (attacking) {
            attackSeconds += 1.0 / tickRate;
        } else {
            attackSeconds = 0.0;
            attackOut = {previous, previous};
            attackRef = {previous, previous};
        }
        // Emphasis slows the attack, most of all in its first few milliseconds.
        const double k = std::exp2((std::exp(attackSeconds / -0.004) * 0.1 + 0.4) * depth);
        const double slowSeconds = attack.fastSeconds + attack.addedSlowSeconds;
        attackOut[0] = onePole(attackOut[0], target, attackScale * attack.fastSeconds * k, tickRate);
        attackOut[1] = onePole(attackOut[1], target, attackScale * slowSeconds * k, tickRate);
        attackRef[0] = onePole(attackRef[0], target, attack.fastSeconds * k, tickRate);
        attackRef[1] = onePole(attackRef[1], target, slowSeconds * k, tickRate);
        const double weight = peak < 0.4 ? lowPeakFastWeight : attack.fastWeight;
        outputDb = attackOut[1] * (1.0 - weight) + weight * attackOut[0];
        attacking = true;
        return outputDb;
    }

    const bool firstReleaseTick = attacking;
    if (firstReleaseTick) {
        const double w = attackParameters(peak).fastWeight;
        releaseFast = previous;
        releaseMedium = w * attackRef[0] + (1.0 - w) * attackRef[1];
        releaseSlow = releaseMedium;
        releaseMemory = {memoryFastBefore, memorySlowBefore};
        memoryExponent =
            mode == FollowerMode::Program && previousReductionDb >= programReleaseThresholdDb ? 0.5 : 0.0;
    }

    // The memory captured when the attack ended, shaped for this tick only.
    double m0 = releaseMemory[0];
    double m1 = releaseMemory[1];
    if (mode == FollowerMode::Program) {
        if (memoryExponent > 0.0 && m1 > memoryFloor) {
            const double slowNow = firstReleaseTick ? memorySlowBefore : memorySlow;
            m1 = std::pow(clampUnit(slowNow / m1), memoryExponent) * m1;
        }
    } else if (mode == FollowerMode::Emphasis) {
        const double ratio = m0 <= memoryFloor ? 0.0 : clampUnit(m1 / m0);
        const double s = ratio * ratio;
        const double m = (1.0 - s) * depth + std::pow(depth, 0.75) * s;
        m0 = m0 + m * (std::pow(m0, 0.15) - m0);
        m1 = m1 + m * (std::pow(m1, 0.15) - m1);
    }

    const double drift = reductionSlowDb - reductionFastDb;
    const double gate = detectorShapeDb * drift < 0.0 ? detectorShapeDb : 0.0;
    const double adjustment = (reductionFastDb - reduction) * 0.1 + (-0.0125) * drift + drift * 0.03 * gate;
    const double key = feedbackShare * previous + (levelDb + depth * adjustment);
    const double releaseGoal = releaseTarget(key);

    const double a = releaseMixOnFastMemory * m0;
    const double b = releaseMixOnSlowMemory * m1;
    const double mediumWeight = (1.0 - b) * a;
    const double fastWeight = std::max(1.0 - mediumWeight - b, 0.0);

    releaseFast = onePole(releaseFast, releaseGoal, releaseFastSeconds, tickRate);
    releaseMedium = onePole(releaseMedium, releaseGoal, releaseMediumSeconds, tickRate);
    releaseSlow = onePole(releaseSlow, releaseGoal, releaseSlowSeconds, tickRate);

    outputDb = fastWeight * releaseFast + mediumWeight * releaseMedium + b * releaseSlow;
    attackSeconds = 0.0;
    attacking = false;
    return outputDb;
}

} // namespace quillon
