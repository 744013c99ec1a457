// The literal engine's gain cell: envelope followers, envelope stage, base level meter and the
// per-sample gain model, with every coefficient and table computed as it is needed.

#include "tests/literal/LiteralModel.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace quillon::literal
{
namespace
{

double onePole(double x, double v, double tau, double rate)
{
    return x + (1.0 - std::exp(-1.0 / (tau * rate))) * (v - x);
}

const double attackPeakNodes[3] = {0.4, 0.7, 1.0};
const double attackQ[9] = {-5.685047943013399, -1.3365481849542473, 1.764988252427946,
                           -6.505191315759072, -3.148498973759219, 1.7648778158788279,
                           -7.344037551326302, -4.294644572076982, 0.8470938247408103};

} // namespace

// ---------------------------------------------------------------- follower

Follower::Follower()
    : tablePeak(std::numeric_limits<double>::quiet_NaN()),
      tableFeedback(std::numeric_limits<double>::quiet_NaN()),
      levelTable(4097, 0.0),
      gainTable(4097, 0.0)
{
}

void Follower::reset(double levelDb, double peak)
{
    const double r = staticReduction(peak, levelDb);
    reductionDb = r;
    reductionFastDb = r;
    reductionSlowDb = r;
    memoryFast = clampTo(r / 8.174814198512061, 0.0, 1.0);
    memorySlow = clampTo(r / 8.174814198512061, 0.0, 1.0);
    const double t = extendedStaticGain(peak, levelDb);
    outputDb = t;
    attackOut[0] = attackOut[1] = t;
    attackRef[0] = attackRef[1] = t;
    releaseFast = releaseMedium = releaseSlow = t;
    releaseMemory[0] = releaseMemory[1] = 0.0;
    memoryExponent = 0.0;
    attackSeconds = 0.0;
    attacking = false;
}

double Follower::process(double levelDb, double detectorShapeDb, double previousReductionDb, double peak,
                         double emphasisNorm, FollowerMode mode, double attackScale,
                         FollowerDiagnostic* diagnostic)
{
    const double p = outputDb;
    const double r = staticReduction(peak, levelDb);
    const double n = clampTo(r / 8.174814198512061, 0.0, 1.0);

    reductionDb = r;
    reductionFastDb = onePole(reductionFastDb, r, 0.06, tickRate);
    reductionSlowDb = onePole(reductionSlowDb, r, 2.0, tickRate);

    const double oldMemoryFast = memoryFast;
    const double oldMemorySlow = memorySlow;
    memoryFast = onePole(memoryFast, n, n > oldMemoryFast ? 0.040228235759800446 : 1.9520661234209047, tickRate);
    memorySlow = onePole(memorySlow, n, n > oldMemorySlow ? 0.22904703370348406 : 1.9520661234209047, tickRate);

    const double t = extendedStaticGain(peak, levelDb);
    if (diagnostic != nullptr)
    {
        diagnostic->staticGainDb = t;
        diagnostic->previousOutputDb = p;
        diagnostic->memoryFast = memoryFast;
        diagnostic->aboveStatic = p > t;
    }

    const double pa = clampTo(peak, 0.4, 1.0);
    double q[3];
    for (int j = 0; j < 3; ++j)
    {
        const double column[3] = {attackQ[0 * 3 + j], attackQ[1 * 3 + j], attackQ[2 * 3 + j]};
        q[j] = pchip(attackPeakNodes, column, 3, pa);
    }
    const double tauA = std::exp(q[0]);
    const double tauB = std::exp(q[1]);
    const double w = 1.0 / (1.0 + std::exp(-q[2]));

    const double f = mode == FollowerMode::Emphasis ? 0.175 + -0.05 * (1.0 - emphasisNorm) : 0.175;

    if (peak != tablePeak || f != tableFeedback)
    {
        for (int i = 0; i <= 4096; ++i)
        {
            const double x = static_cast<double>(i) * 0.000244140625 * 45.30000287086632 + -47.999973716469796;
            const double g = extendedStaticGain(peak, x);
            gainTable[i] = g;
            levelTable[i] = g * f + x;
        }
        tablePeak = peak;
        tableFeedback = f;
    }

    if (p > t)
    {
        if (attacking)
        {
            attackSeconds += 1.0 / tickRate;
        }
        else
        {
            attackSeconds = 0.0;
            attackOut[0] = attackOut[1] = p;
            attackRef[0] = attackRef[1] = p;
        }
        const double k = std::exp2((std::exp(attackSeconds / -0.004) * 0.1 + 0.4) * (1.0 - emphasisNorm));
        attackOut[0] = onePole(attackOut[0], t, attackScale * tauA * k, tickRate);
        attackOut[1] = onePole(attackOut[1], t, attackScale * (tauA + tauB) * k, tickRate);
        attackRef[0] = onePole(attackRef[0], t, tauA * k, tickRate);
        attackRef[1] = onePole(attackRef[1], t, (tauA + tauB) * k, tickRate);
        const double wPrime = peak < 0.4 ? 0.05 : w;
        outputDb = attackOut[1] * (1.0 - wPrime) + wPrime * attackOut[0];
        attacking = true;
        return outputDb;
    }

    bool firstReleaseTick = false;
    if (attacking)
    {
        firstReleaseTick = true;
        releaseFast = p;
        const double rr = w * attackRef[0] + (1.0 - w) * attackRef[1];
        releaseMedium = rr;
        releaseSlow = rr;
        releaseMemory[0] = oldMemoryFast;
        releaseMemory[1] = oldMemorySlow;
        memoryExponent = (mode == FollowerMode::Program && previousReductionDb >= 12.182372559418393) ? 0.5 : 0.0;
    }
    double m0 = releaseMemory[0];
    double m1 = releaseMemory[1];
    if (mode == FollowerMode::Program)
    {
        if (memoryExponent > 0.0 && m1 > 1e-15)
        {
            const double slow = firstReleaseTick ? oldMemorySlow : memorySlow;
            const double ratio = clampTo(slow / m1, 0.0, 1.0);
            m1 = std::pow(ratio, memoryExponent) * m1;
        }
    }
    else if (mode == FollowerMode::Emphasis)
    {
        double s = 0.0;
        if (!(m0 <= 1e-15))
        {
            const double c = clampTo(m1 / m0, 0.0, 1.0);
            s = c * c;
        }
        const double d = 1.0 - emphasisNorm;
        const double m = (1.0 - s) * d + std::pow(d, 0.75) * s;
        m0 = m0 + m * (std::pow(m0, 0.15) - m0);
        m1 = m1 + m * (std::pow(m1, 0.15) - m1);
    }

    const double dd = reductionSlowDb - reductionFastDb;
    const double gate = detectorShapeDb * dd < 0.0 ? detectorShapeDb : 0.0;
    const double adj = (reductionFastDb - r) * 0.1 + -0.0125 * dd + dd * 0.03 * gate;
    double key = f * p + (levelDb + (1.0 - emphasisNorm) * adj);

    double g;
    if (std::isnan(key))
    {
        g = key;
    }
    else
    {
        key = clampTo(key, levelTable[0], levelTable[4096]);
        int i = 0;
        while (i < 4096 && !(levelTable[i] >= key))
            ++i;
        if (i == 0)
            g = gainTable[0];
        else
            g = gainTable[i - 1]
                + (key - levelTable[i - 1]) / (levelTable[i] - levelTable[i - 1]) * (gainTable[i] - gainTable[i - 1]);
    }

    const double a = 0.7437179690677084 * m0;
    const double b = 0.31542571903753885 * m1;
    const double wMedium = (1.0 - b) * a;
    const double wSlow = b;
    const double wFast = atLeast(0.0, 1.0 - wMedium - b);

    releaseFast = onePole(releaseFast, g, 0.012092266430015618, tickRate);
    releaseMedium = onePole(releaseMedium, g, 0.10482958816257384, tickRate);
    releaseSlow = onePole(releaseSlow, g, 1.0061180450076195, tickRate);

    outputDb = wFast * releaseFast + wMedium * releaseMedium + wSlow * releaseSlow;
    attackSeconds = 0.0;
    attacking = false;
    return outputDb;
}

// ---------------------------------------------------------------- envelope stage

void Envelope::reset(const LevelFrame& frame, double peak)
{
    const double p = clampTo(peak, 0.0, 1.0);
    programFollower.reset(frame.lowBandLevelDb, p);
    plainFollower.reset(frame.levelDb, p);
    emphasisFollower.reset(frame.emphasisLevelDb, p);
    staticReductionDb = staticReduction(p, frame.levelDb);
    outputDb = programFollower.outputDb + emphasisFollower.outputDb - plainFollower.outputDb;
    resultValid = true;
    programAboveStatic = false;
    emphasisMemoryFast = emphasisFollower.memoryFast;
    initialised = true;
}

double Envelope::tick(const LevelFrame& frame, double peak, double emphasisNorm)
{
    const double p = clampTo(peak, 0.0, 1.0);
    const double e = clampTo(emphasisNorm, 0.0, 1.0);
    const double previous = staticReductionDb;
    staticReductionDb = staticReduction(p, frame.levelDb);
    const double attackScale = p < 0.4 ? 4.0 : 1.0;
    FollowerDiagnostic programDiagnostic;
    FollowerDiagnostic emphasisDiagnostic;
    const double r0 = programFollower.process(frame.lowBandLevelDb, frame.crestDb, previous, p, 1.0,
                                              FollowerMode::Program, attackScale, &programDiagnostic);
    const double r1 = plainFollower.process(frame.levelDb, frame.crestDb, previous, p, 1.0,
                                            FollowerMode::Plain, 1.0, nullptr);
    const double r2 = emphasisFollower.process(frame.emphasisLevelDb, frame.shapeDb, previous, p, e,
                                               FollowerMode::Emphasis, 1.0, &emphasisDiagnostic);
    outputDb = r2 + r0 - r1;
    resultValid = true;
    programAboveStatic = programDiagnostic.aboveStatic;
    emphasisMemoryFast = emphasisDiagnostic.memoryFast;
    return outputDb;
}

// ---------------------------------------------------------------- base level meter

namespace
{
// The normalised Hann weights; returns their raw sum.
double hannWindow(double (&window)[255])
{
    for (int i = 0; i < 255; ++i)
        window[i] = std::cos(6.283185307179586 * static_cast<double>(i) / 254.0) * -0.5 + 0.5;
    double sum = 0.0;
    for (int i = 0; i < 255; ++i)
        sum += window[i];
    if (std::isfinite(sum) && !(sum < 0.0))
        for (int i = 0; i < 255; ++i)
            window[i] = window[i] / sum;
    return sum;
}
} // namespace

void BaseLevel::prepare()
{
    const double sum = hannWindow(window);
    if (!std::isfinite(sum) || sum < 0.0)
        throw std::runtime_error("OptoBaseLevelDSP Hann normalisation failed");
    floorAmplitude = 0.0039810837522890885;
    prepared = true;
    for (double& v : squareRing)
        v = 0.0;
    count = 0;
    ready = true;
}

void BaseLevel::reset()
{
    for (double& v : squareRing)
        v = 0.0;
    count = 0;
    ready = prepared;
}

void BaseLevel::push(double square)
{
    squareRing[count % 255] = square;
    count += 1;
}

double BaseLevel::centredLevel(std::uint64_t n) const
{
    double sum = 0.0;
    for (int i = 0; i <= 254; ++i)
    {
        if (n + static_cast<std::uint64_t>(i) < 254)
            continue;
        const std::uint64_t k = n - 254 + static_cast<std::uint64_t>(i);
        sum += window[i] * squareRing[k % 255];
    }
    double a = std::sqrt(2.0 * atLeast(0.0, sum));
    a = atLeast(floorAmplitude, a);
    return 20.0 * std::log10(a);
}

// ---------------------------------------------------------------- gain model

void GainModel::prepare(double sampleRate, double peakNorm, double emphasis, bool variant, int mode)
{
    prepared = false;
    valid = false;
    if (!std::isfinite(sampleRate) || std::fabs(sampleRate - 48000.0) > 1e-9)
        throw std::invalid_argument("OptoBaseLevelDSP supports only the frozen 48 kHz domain");
    baseLevel.prepare();
    if (!std::isfinite(peakNorm) || peakNorm < 0.0 || peakNorm > 1.0)
        throw std::invalid_argument("OptoDetectorTimelineDSP Peak Reduct is outside the supported domain");
    if (!std::isfinite(emphasis) || emphasis < 0.0 || emphasis > 1.0)
        throw std::invalid_argument("OptoDetectorDSP Emphasis is outside [0, 1]");
    timeline.detector.prepare(sampleRate, emphasis);
    timeline.peak = peakNorm;
    timeline.mode = mode;
    if (mode < 0 || mode >= 3)
        throw std::invalid_argument("OptoDetectorTimelineDSP timeline mode is invalid");
    const int delays[3] = {256, 127, 127};
    timeline.delay = delays[mode];
    timeline.extendedCalibration = true;
    timeline.prepared = true;
    timeline.reset();
    envelope.programFollower.tickRate = 2000.0;
    envelope.plainFollower.tickRate = 2000.0;
    envelope.emphasisFollower.tickRate = 2000.0;
    envelope.initialised = false;
    peak = peakNorm;
    emphasisNorm = emphasis;
    calibrationVariant = variant;
    correctionCoefficient = 0.03076676552365587;
    prepared = true;
    reset();
}

void GainModel::reset()
{
    baseLevel.reset();
    timeline.reset();
    envelopeStarted = false;
    correctionAccumulator = 0.0;
    previousAbove = false;
    valid = prepared;
}

bool GainModel::updateControls(double peakNorm, double emphasis, bool variant, bool)
{
    if (!valid)
        return false;
    const auto fail = [this] {
        timeline.ready = false;
        valid = false;
        return false;
    };
    if (!timeline.ready)
        return fail();
    if (!std::isfinite(peakNorm) || peakNorm < 0.0 || peakNorm > 1.0)
        return fail();
    if (!timeline.detector.valid)
        return fail();
    if (!std::isfinite(emphasis) || emphasis < 0.0 || emphasis > 1.0)
        return fail();
    if (std::fabs(emphasis - timeline.detector.emphasisNorm) > 1e-12)
        timeline.detector.redesign(emphasis);
    timeline.peak = peakNorm;
    timeline.extendedCalibration = true;
    peak = peakNorm;
    emphasisNorm = emphasis;
    if (variant != calibrationVariant)
    {
        correctionAccumulator = 0.0;
        previousAbove = false;
    }
    calibrationVariant = variant;
    return true;
}

bool GainModel::timelineFailure()
{
    timeline.ready = false;
    valid = false;
    return false;
}

bool GainModel::processSample(double input, GainModelFrame& frame)
{
    if (!valid)
        return false;
    if (!std::isfinite(input) || !baseLevel.ready)
    {
        baseLevel.ready = false;
        valid = false;
        return false;
    }

    const std::uint64_t n = baseLevel.count;
    baseLevel.push(input * input);
    if (n >= 127)
    {
        const double level = baseLevel.centredLevel(n);
        if (!std::isfinite(level))
        {
            baseLevel.ready = false;
            valid = false;
            return false;
        }
        if (!timeline.storeLevel(n - 127, level))
            return timelineFailure();
    }
    else if (!timeline.ready)
    {
        return timelineFailure();
    }

    if (timeline.detector.valid)
    {
        FeatureFrame record;
        if (timeline.detector.analyseSample(input, record))
            timeline.storeFeatureRecord(record);
    }

    const std::uint64_t m = timeline.sampleCount;
    timeline.storeLowBand(timeline.detector.lowBandBalance);

    if (m < static_cast<std::uint64_t>(timeline.delay))
        return false;
    const std::uint64_t p = m - static_cast<std::uint64_t>(timeline.delay);
    if (p % 24 != 0)
        return false;

    FeatureFrame features;
    const Timeline::Outcome outcome = timeline.featureFrameAt(p, features);
    if (outcome == Timeline::Outcome::NoFrameYet)
        return false;
    if (outcome == Timeline::Outcome::Failure)
        return timelineFailure();

    double level = 0.0;
    if (!timeline.levelAt(p, level))
        return timelineFailure();
    features.lowBandBalance = timeline.lowBandRing[p % 512];
    features.lowBandOffsetDb = 5.0 * features.lowBandBalance;

    LevelFrame l;
    if (!timeline.detector.composeLevelFrame(level, timeline.peak, features, l, timeline.extendedCalibration))
        return timelineFailure();
    frame.baseLevelDb = level;

    double u;
    if (!envelopeStarted)
    {
        envelope.reset(l, peak);
        envelopeStarted = true;
        u = envelope.outputDb;
    }
    else
    {
        if (!envelope.initialised)
            envelope.reset(l, peak);
        u = envelope.tick(l, peak, emphasisNorm);
    }

    frame.gainDb = u;
    frame.envelopeGainDb = u;
    frame.variantCorrectionDb = 0.0;
    frame.calibrationVariant = calibrationVariant;

    if (calibrationVariant)
    {
        const double m1 = envelope.emphasisMemoryFast;
        if (!envelope.resultValid || !std::isfinite(m1) || m1 < 0.0 || m1 > 1.0)
        {
            valid = false;
            return false;
        }
        if (envelope.programAboveStatic)
        {
            if (previousAbove)
                correctionAccumulator = (1.0 - correctionAccumulator) * correctionCoefficient + correctionAccumulator;
            else
                correctionAccumulator = 0.0;
        }
        const double a = correctionAccumulator * 1.5285572854454985 * m1 + m1 * -0.6244591907650531;
        frame.variantCorrectionDb = a;
        frame.gainDb = u - a;
        previousAbove = envelope.programAboveStatic;
    }

    if (!std::isfinite(frame.gainDb) || !std::isfinite(frame.variantCorrectionDb))
    {
        valid = false;
        return false;
    }
    frame.position = p;
    frame.levelFrame = l;
    return true;
}

} // namespace quillon::literal
