#include "dsp/Follower.h"

// Attack: two parallel one-poles toward the static gain, their times and mix read from a
// table over Peak Reduction. Release: three one-poles toward the gain at which the cell's
// feedback transfer balances, mixed by how much and how long the cell has been reducing.

#include "dsp/Pchip.h"
#include "dsp/StaticGainCurve.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

// The step of a one-pole with this time constant: 1 - e^(-1 / (seconds x rate)).
double poleStep(double seconds, double rate) noexcept { return 1.0 - std::exp(-1.0 / (seconds * rate)); }

double onePole(double x, double target, double step) noexcept { return x + step * (target - x); }

bool sameBits(double a, double b) noexcept { return std::memcmp(&a, &b, sizeof a) == 0; }

// The steps of the fixed time constants, worked out once for the envelope's tick rate.
struct PoleSteps {
    double reductionFast;
    double reductionSlow;
    double memoryAttackFast;
    double memoryAttackSlow;
    double memoryRelease;
    double releaseFast;
    double releaseMedium;
    double releaseSlow;
};

PoleSteps poleSteps(double rate) noexcept
{
    return {poleStep(reductionFastSeconds, rate),    poleStep(reductionSlowSeconds, rate),
            poleStep(memoryAttackFastSeconds, rate), poleStep(memoryAttackSlowSeconds, rate),
            poleStep(memoryReleaseSeconds, rate),    poleStep(releaseFastSeconds, rate),
            poleStep(releaseMediumSeconds, rate),    poleStep(releaseSlowSeconds, rate)};
}

constexpr double standardTickRate = 2000.0;
const PoleSteps standardPoleSteps = poleSteps(standardTickRate);

// The static curve at each table level, so that a table rebuild only reads the columns at
// the new peak. Built in place when the library loads (it is over half a megabyte).
double tableLevel(std::size_t i) noexcept
{
    return static_cast<double>(i) * tableStep * tableSpanDb + tableStartDb;
}

struct TableColumns {
    std::array<StaticGainColumn, Follower::tableSize> at;
    TableColumns() noexcept
    {
        for (std::size_t i = 0; i < Follower::tableSize; ++i)
            at[i] = staticGainColumn(tableLevel(i));
    }
};

const TableColumns tableColumns;

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
    if (source != nullptr && source != this && peak == source->tablePeak) {
        // The gains depend on the peak alone; only the transfer depends on the feedback.
        gainTable = source->gainTable;
        if (feedbackShare == source->tableFeedback) {
            levelTable = source->levelTable;
        } else {
            for (std::size_t i = 0; i < tableSize; ++i)
                levelTable[i] = gainTable[i] * feedbackShare + tableLevel(i);
        }
    } else {
        const StaticGainPeak at = staticGainPeak(peak);
        for (std::size_t i = 0; i < tableSize; ++i) {
            const double g = extendedStaticGain(tableColumns.at[i], at);
            gainTable[i] = g;
            levelTable[i] = g * feedbackShare + tableLevel(i);
        }
    }
    tablePeak = peak;
    tableFeedback = feedbackShare;
}

const Follower::AttackMemo& Follower::attackFor(double peak, double scale, double ramp) noexcept
{
    AttackMemo& m = attackMemo;
    if (m.valid && sameBits(peak, m.peak) && sameBits(scale, m.scale) && sameBits(ramp, m.ramp)
        && sameBits(tickRate, m.rate))
        return m;
    const AttackParameters attack = attackParameters(peak);
    const double slowSeconds = attack.fastSeconds + attack.addedSlowSeconds;
    m = {true, peak, scale, ramp, tickRate, attack.fastWeight,
         {poleStep(scale * attack.fastSeconds * ramp, tickRate), poleStep(scale * slowSeconds * ramp, tickRate),
          poleStep(attack.fastSeconds * ramp, tickRate), poleStep(slowSeconds * ramp, tickRate)}};
    return m;
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
    const PoleSteps steps = tickRate == standardTickRate ? standardPoleSteps : poleSteps(tickRate);
    const double previous = outputDb;
    // staticReduction(peak, levelDb), with the gain at the peak kept as this tick's target.
    const double target = extendedStaticGain(peak, levelDb);
    const double reduction = extendedStaticGain(0.0, levelDb) - target;
    const double normalised = clampUnit(reduction / reductionNormaliserDb);

    reductionDb = reduction;
    reductionFastDb = onePole(reductionFastDb, reduction, steps.reductionFast);
    reductionSlowDb = onePole(reductionSlowDb, reduction, steps.reductionSlow);

    const double memoryFastBefore = memoryFast;
    const double memorySlowBefore = memorySlow;
    memoryFast = onePole(memoryFast, normalised,
                         normalised > memoryFastBefore ? steps.memoryAttackFast : steps.memoryRelease);
    memorySlow = onePole(memorySlow, normalised,
                         normalised > memorySlowBefore ? steps.memoryAttackSlow : steps.memoryRelease);

    if (diagnostic != nullptr)
        *diagnostic = {target, previous, memoryFast, previous > target};

    const double feedbackShare = feedbackFraction(mode, emphasisNorm);
    ensureTables(peak, feedbackShare);
    const double depth = 1.0 - emphasisNorm;

    if (previous > target) {
        if (attacking) {
            attackSeconds += 1.0 / tickRate;
        } else {
            attackSeconds = 0.0;
            attackOut = {previous, previous};
            attackRef = {previous, previous};
        }
        // Emphasis slows the attack, most of all in its first few milliseconds. Without it the
        // exponent is exactly zero (the ramp is finite for any elapsed time), so k is 1.
        const double k = depth == 0.0 && attackSeconds >= 0.0
                             ? 1.0
                             : std::exp2((std::exp(attackSeconds / -0.004) * 0.1 + 0.4) * depth);
        const AttackMemo& attack = attackFor(peak, attackScale, k);
        attackOut[0] = onePole(attackOut[0], target, attack.steps[0]);
        attackOut[1] = onePole(attackOut[1], target, attack.steps[1]);
        attackRef[0] = onePole(attackRef[0], target, attack.steps[2]);
        attackRef[1] = onePole(attackRef[1], target, attack.steps[3]);
        const double weight = peak < 0.4 ? lowPeakFastWeight : attack.fastWeight;
        outputDb = attackOut[1] * (1.0 - weight) + weight * attackOut[0];
        attacking = true;
        return outputDb;
    }

    const bool firstReleaseTick = attacking;
    if (firstReleaseTick) {
        const double w =
            attackMemo.valid && sameBits(peak, attackMemo.peak) ? attackMemo.fastWeight : attackParameters(peak).fastWeight;
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

    releaseFast = onePole(releaseFast, releaseGoal, steps.releaseFast);
    releaseMedium = onePole(releaseMedium, releaseGoal, steps.releaseMedium);
    releaseSlow = onePole(releaseSlow, releaseGoal, steps.releaseSlow);

    outputDb = fastWeight * releaseFast + mediumWeight * releaseMedium + b * releaseSlow;
    attackSeconds = 0.0;
    attacking = false;
    return outputDb;
}

} // namespace quillon
