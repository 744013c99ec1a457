#include "dsp/OptoGainModelDSP.h"

// Per sample: base level, detector and timeline advance by one. Every 24 samples, once the
// timeline holds enough history: feature frame, calibrated levels, one envelope tick and,
// at the calibration variant, a small correction that grows during a sustained attack.

#include <cmath>
#include <stdexcept>

namespace quillon {

namespace {

constexpr std::uint64_t baseLevelLatency = 127;
constexpr std::uint64_t frameLength = 24;
constexpr double lowBandOffsetPerBalanceDb = 5.0;
constexpr double correctionRate = 0.03076676552365587; // 1 - e^(-1/32): 32 frames
constexpr double correctionGrowthDb = 1.5285572854454985;
constexpr double correctionStartDb = -0.6244591907650531;

// -0.0 passes; NaN, infinities and negative subnormals do not.
bool inUnitRange(double v) noexcept { return v >= 0.0 && v <= 1.0; }

} // namespace

struct OptoGainModelDSP::State {
    OptoBaseLevelDSP baseLevel;
    OptoDetectorTimelineDSP timeline;
    OptoEnvelopeDSP envelope;
    double peak = 0.4;
    double emphasisNorm = 1.0;
    bool prepared = false;
    bool envelopeStarted = false;
    bool calibrationVariant = false;
    bool previousAbove = false;
    bool valid = false;
    double correctionAccumulator = 0.0;
    double correctionCoefficient = 0.0;

    bool timelineFailure() noexcept
    {
        timeline.markNotReady();
        valid = false;
        return false;
    }

    bool baseLevelFailure() noexcept
    {
        baseLevel.markNotReady();
        valid = false;
        return false;
    }

    bool storeBaseLevel(double input) noexcept;
    void applyCorrection(GainModelFrame& frame) noexcept;
};

OptoGainModelDSP::OptoGainModelDSP() : state(std::make_unique<State>()) {}

OptoGainModelDSP::~OptoGainModelDSP() = default;

void OptoGainModelDSP::prepare(double sampleRate, double peak, double emphasisNorm, bool calibrationVariant,
                               int timelineMode)
{
    State& s = *state;
    // Whatever an earlier preparation left, a model whose preparation throws must not run.
    s.prepared = false;
    s.valid = false;
    if (!std::isfinite(sampleRate) || std::fabs(sampleRate - 48000.0) > 1e-9)
        throw std::invalid_argument("OptoBaseLevelDSP supports only the frozen 48 kHz domain");
    s.baseLevel.prepare();
    if (!inUnitRange(peak))
        throw std::invalid_argument("OptoDetectorTimelineDSP Peak Reduct is outside the supported domain");
    if (!inUnitRange(emphasisNorm))
        throw std::invalid_argument("OptoDetectorDSP Emphasis is outside [0, 1]");
    s.timeline.detector().prepare(sampleRate, emphasisNorm);
    s.timeline.prepare(peak, timelineMode);
    s.envelope.prepare();
    s.peak = peak;
    s.emphasisNorm = emphasisNorm;
    s.calibrationVariant = calibrationVariant;
    s.correctionCoefficient = correctionRate;
    s.prepared = true;
    reset();
}

void OptoGainModelDSP::reset() noexcept
{
    State& s = *state;
    s.baseLevel.reset();
    s.timeline.reset();
    s.envelopeStarted = false;
    s.correctionAccumulator = 0.0;
    s.previousAbove = false;
    s.valid = s.prepared;
}

bool OptoGainModelDSP::updateControls(double peak, double emphasisNorm, bool calibrationVariant, bool) noexcept
{
    State& s = *state;
    if (!s.valid)
        return false;
    OptoDetectorDSP& detector = s.timeline.detector();
    if (!s.timeline.isReady() || !inUnitRange(peak) || !detector.isValid() || !inUnitRange(emphasisNorm))
        return s.timelineFailure();
    // The filter keeps its registers and the statistics run on, so a change is seamless.
    if (std::fabs(emphasisNorm - detector.emphasisNorm()) > 1e-12)
        detector.redesign(emphasisNorm);
    s.timeline.setPeak(peak);
    s.peak = peak;
    s.emphasisNorm = emphasisNorm;
    if (calibrationVariant != s.calibrationVariant) {
        s.correctionAccumulator = 0.0;
        s.previousAbove = false;
    }
    s.calibrationVariant = calibrationVariant;
    return true;
}

// The level of the sample 127 back (the centre of the meter's window) goes to the timeline.
// Frames read levels only at multiples of 24, so the 255-term sum runs only there, and
// wherever the level might not be finite: such a level fails the model at this very sample.
bool OptoGainModelDSP::State::storeBaseLevel(double input) noexcept
{
    const std::uint64_t n = baseLevel.count();
    baseLevel.push(input);
    if (n < baseLevelLatency)
        return timeline.isReady() || timelineFailure();
    const std::uint64_t position = n - baseLevelLatency;
    const bool read = position % frameLength == 0;
    if (!read && !baseLevel.mayBeNonFinite(n))
        return timeline.isReady() || timelineFailure();
    const double level = baseLevel.centredLevel(n);
    if (!std::isfinite(level))
        return baseLevelFailure();
    if (!read)
        return timeline.isReady() || timelineFailure();
    return timeline.storeLevel(position, level) || timelineFailure();
}

// Grows from m x -0.62 dB at the start of an attack toward m x 0.90 dB as it persists.
void OptoGainModelDSP::State::applyCorrection(GainModelFrame& frame) noexcept
{
    const double m = envelope.emphasisMemoryFast();
    const bool above = envelope.programAboveStatic();
    if (above)
        correctionAccumulator =
            previousAbove ? (1.0 - correctionAccumulator) * correctionCoefficient + correctionAccumulator : 0.0;
    const double correction = correctionAccumulator * correctionGrowthDb * m + m * correctionStartDb;
    frame.variantCorrectionDb = correction;
    frame.gainDb = frame.envelopeGainDb - correction;
    previousAbove = above;
}

bool OptoGainModelDSP::processSample(double input, GainModelFrame& frame) noexcept
{
    State& s = *state;
    if (!s.valid)
        return false;
    if (!std::isfinite(input) || !s.baseLevel.isReady())
        return s.baseLevelFailure();
    if (!s.storeBaseLevel(input))
        return false;

    OptoDetectorDSP& detector = s.timeline.detector();
    DetectorFeatureFrame record;
    if (detector.analyseSample(input, record))
        s.timeline.storeFeatureRecord(record);
    const std::uint64_t m = s.timeline.sampleCount();
    s.timeline.storeLowBand(detector.lowBandBalance());

    const auto delay = static_cast<std::uint64_t>(s.timeline.delay());
    if (m < delay || (m - delay) % frameLength != 0)
        return false;
    const std::uint64_t position = m - delay;

    DetectorFeatureFrame features;
    const FeatureOutcome outcome = s.timeline.featureFrameAt(position, features);
    if (outcome == FeatureOutcome::NotYet)
        return false;
    double levelDb = 0.0;
    if (outcome == FeatureOutcome::Failure || !s.timeline.levelAt(position, levelDb))
        return s.timelineFailure();
    features.lowBandBalance = s.timeline.lowBandAt(position);
    features.lowBandOffsetDb = lowBandOffsetPerBalanceDb * features.lowBandBalance;

    DetectorLevelFrame levels;
    if (!detector.composeLevelFrame(levelDb, s.timeline.peak(), features, levels, s.timeline.extendedCalibration()))
        return s.timelineFailure();

    const EnvelopeControls controls {s.peak, s.emphasisNorm};
    double gainDb = 0.0;
    if (!s.envelopeStarted) {
        // The first frame after a reset seeds the followers; they tick from the next one on.
        s.envelope.reset(levels, controls);
        s.envelopeStarted = true;
        gainDb = s.envelope.outputDb();
    } else {
        if (!s.envelope.isInitialised())
            s.envelope.reset(levels, controls);
        gainDb = s.envelope.tick(levels, controls);
    }

    GainModelFrame result {position, levelDb, gainDb, gainDb, 0.0, s.calibrationVariant, levels};
    if (s.calibrationVariant) {
        if (!s.envelope.resultValid() || !inUnitRange(s.envelope.emphasisMemoryFast())) {
            s.valid = false;
            return false;
        }
        s.applyCorrection(result);
    }
    if (!std::isfinite(result.gainDb) || !std::isfinite(result.variantCorrectionDb)) {
        s.valid = false;
        return false;
    }
    frame = result;
    return true;
}

bool OptoGainModelDSP::isValid() const noexcept { return state->valid; }
bool OptoGainModelDSP::isPrepared() const noexcept { return state->prepared; }
double OptoGainModelDSP::peak() const noexcept { return state->peak; }
double OptoGainModelDSP::emphasisNorm() const noexcept { return state->emphasisNorm; }
bool OptoGainModelDSP::calibrationVariant() const noexcept { return state->calibrationVariant; }
double OptoGainModelDSP::correctionAccumulator() const noexcept { return state->correctionAccumulator; }
const OptoBaseLevelDSP& OptoGainModelDSP::baseLevel() const noexcept { return state->baseLevel; }
const OptoDetectorTimelineDSP& OptoGainModelDSP::timeline() const noexcept { return state->timeline; }
const OptoEnvelopeDSP& OptoGainModelDSP::envelope() const noexcept { return state->envelope; }

} // namespace quillon
