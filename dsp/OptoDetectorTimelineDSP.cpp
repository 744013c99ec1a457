#include "dsp/OptoDetectorTimelineDSP.h"

// Levels arrive 127 samples late (the centre of the base-level window) and spectral records
// every 128 samples for the sample 127 before the newest, so frames are read a fixed delay
// back, where both are known.

#include <array>
#include <stdexcept>

namespace quillon {

namespace {

constexpr std::size_t ringLength = 512;
constexpr std::uint64_t noPosition = ~std::uint64_t {0};

// Frame delay per mode. A 64-sample mode is not offered: base levels arrive 127 samples
// late, so every level would be rejected and the model would fail on its first one.
constexpr std::array<int, 3> delayForMode {256, 127, 127};

DetectorFeatureFrame emptyRecord() noexcept
{
    return {0, -300.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, true};
}

DetectorFeatureFrame interpolated(const DetectorFeatureFrame& a, const DetectorFeatureFrame& b,
                                  std::uint64_t position) noexcept
{
    const double t = static_cast<double>(position - a.position) / static_cast<double>(b.position - a.position);
    const auto mix = [t](double x, double y) { return x + t * (y - x); };
    DetectorFeatureFrame out = a;
    out.position = position;
    out.fastLevelDb = mix(a.fastLevelDb, b.fastLevelDb);
    out.emphasisRatioDb = mix(a.emphasisRatioDb, b.emphasisRatioDb);
    out.spectralSpread = mix(a.spectralSpread, b.spectralSpread);
    out.crestDb = mix(a.crestDb, b.crestDb);
    out.shapeDb = mix(a.shapeDb, b.shapeDb);
    out.emphasisCorrectionDb = mix(a.emphasisCorrectionDb, b.emphasisCorrectionDb);
    out.spectrumValid = a.spectrumValid && b.spectrumValid;
    return out;
}

} // namespace

struct OptoDetectorTimelineDSP::Impl {
    OptoDetectorDSP detector;
    std::array<double, ringLength> levelValue {};
    std::array<std::uint64_t, ringLength> levelPosition {};
    std::array<double, ringLength> lowBandRing {};
    std::array<DetectorFeatureFrame, recordCapacity> records {emptyRecord(), emptyRecord(), emptyRecord(),
                                                              emptyRecord()};
    std::uint64_t recordCount = 0;
    std::uint64_t sampleCount = 0;
    double peak = 0.4;
    std::int32_t mode = 0;
    std::int32_t delay = 256;
    bool extendedCalibration = false;
    bool prepared = false;
    bool ready = false;

    FeatureOutcome interpolatedFrame(std::uint64_t position, DetectorFeatureFrame& frame) const noexcept;
    FeatureOutcome latestFrame(std::uint64_t position, DetectorFeatureFrame& frame) const noexcept;
};

OptoDetectorTimelineDSP::OptoDetectorTimelineDSP() : impl(std::make_unique<Impl>()) {}

OptoDetectorTimelineDSP::~OptoDetectorTimelineDSP() = default;

void OptoDetectorTimelineDSP::prepare(double peak, int mode)
{
    impl->peak = peak;
    if (mode < 0 || mode >= static_cast<int>(delayForMode.size()))
        throw std::invalid_argument("OptoDetectorTimelineDSP timeline mode is invalid");
    impl->mode = mode;
    impl->delay = delayForMode[static_cast<std::size_t>(mode)];
    impl->extendedCalibration = true;
    impl->prepared = true;
    reset();
}

void OptoDetectorTimelineDSP::reset() noexcept
{
    impl->detector.clearDynamicState();
    impl->levelValue.fill(-48.0);
    impl->levelPosition.fill(noPosition);
    impl->lowBandRing.fill(0.0);
    impl->records.fill(emptyRecord());
    impl->recordCount = 0;
    impl->sampleCount = 0;
    impl->ready = impl->prepared;
}

bool OptoDetectorTimelineDSP::storeLevel(std::uint64_t position, double levelDb) noexcept
{
    Impl& s = *impl;
    if (!s.ready || position > s.sampleCount || s.sampleCount > position + static_cast<std::uint64_t>(s.delay))
        return false;
    const std::size_t slot = position % ringLength;
    if (s.levelPosition[slot] == position)
        return false;
    s.levelValue[slot] = levelDb;
    s.levelPosition[slot] = position;
    return true;
}

void OptoDetectorTimelineDSP::storeLowBand(double value) noexcept
{
    impl->lowBandRing[impl->sampleCount % ringLength] = value;
    ++impl->sampleCount;
}

void OptoDetectorTimelineDSP::storeFeatureRecord(const DetectorFeatureFrame& record) noexcept
{
    Impl& s = *impl;
    if (s.recordCount < recordCapacity) {
        s.records[s.recordCount++] = record;
        return;
    }
    for (std::size_t i = 1; i < recordCapacity; ++i)
        s.records[i - 1] = s.records[i];
    s.records[recordCapacity - 1] = record;
}

FeatureOutcome OptoDetectorTimelineDSP::Impl::interpolatedFrame(std::uint64_t position,
                                                                DetectorFeatureFrame& frame) const noexcept
{
    if (recordCount == 0)
        return FeatureOutcome::Failure;
    if (position <= records[0].position) {
        frame = records[0];
        frame.position = position;
        return FeatureOutcome::Frame;
    }
    for (std::size_t k = 1; k < recordCount; ++k) {
        if (records[k].position >= position) {
            frame = interpolated(records[k - 1], records[k], position);
            return FeatureOutcome::Frame;
        }
    }
    return FeatureOutcome::Failure;
}

FeatureOutcome OptoDetectorTimelineDSP::Impl::latestFrame(std::uint64_t position,
                                                          DetectorFeatureFrame& frame) const noexcept
{
    if (recordCount == 0 || records[0].position > position)
        return FeatureOutcome::NotYet;
    std::size_t chosen = recordCount - 1;
    for (std::size_t k = 1; k < recordCount; ++k) {
        if (records[k].position > position) {
            chosen = k - 1;
            break;
        }
    }
    DetectorFeatureFrame latest = records[chosen];
    latest.position = position;
    if (mode == 1) {
        frame = latest;
        return FeatureOutcome::Frame;
    }
    // The spectral measures stay those of the record; the time-domain ones are rebuilt
    // from the detector's rings for the exact position.
    DetectorFeatureFrame rebuilt = emptyRecord();
    if (!detector.composeHistoricalFeatureFrame(position, latest, rebuilt))
        return FeatureOutcome::Failure;
    frame = rebuilt;
    return FeatureOutcome::Frame;
}

FeatureOutcome OptoDetectorTimelineDSP::featureFrameAt(std::uint64_t position,
                                                       DetectorFeatureFrame& frame) const noexcept
{
    return impl->mode == 0 ? impl->interpolatedFrame(position, frame) : impl->latestFrame(position, frame);
}

bool OptoDetectorTimelineDSP::levelAt(std::uint64_t position, double& levelDb) const noexcept
{
    const std::size_t slot = position % ringLength;
    if (impl->levelPosition[slot] != position)
        return false;
    levelDb = impl->levelValue[slot];
    return true;
}

double OptoDetectorTimelineDSP::lowBandAt(std::uint64_t position) const noexcept
{
    return impl->lowBandRing[position % ringLength];
}

void OptoDetectorTimelineDSP::setPeak(double peak) noexcept
{
    impl->peak = peak;
    impl->extendedCalibration = true;
}

void OptoDetectorTimelineDSP::markNotReady() noexcept { impl->ready = false; }
OptoDetectorDSP& OptoDetectorTimelineDSP::detector() noexcept { return impl->detector; }
const OptoDetectorDSP& OptoDetectorTimelineDSP::detector() const noexcept { return impl->detector; }
double OptoDetectorTimelineDSP::peak() const noexcept { return impl->peak; }
int OptoDetectorTimelineDSP::mode() const noexcept { return impl->mode; }
int OptoDetectorTimelineDSP::delay() const noexcept { return impl->delay; }
bool OptoDetectorTimelineDSP::extendedCalibration() const noexcept { return impl->extendedCalibration; }
bool OptoDetectorTimelineDSP::isPrepared() const noexcept { return impl->prepared; }
bool OptoDetectorTimelineDSP::isReady() const noexcept { return impl->ready; }
std::uint64_t OptoDetectorTimelineDSP::sampleCount() const noexcept { return impl->sampleCount; }
std::size_t OptoDetectorTimelineDSP::recordCount() const noexcept { return static_cast<std::size_t>(impl->recordCount); }

const DetectorFeatureFrame& OptoDetectorTimelineDSP::record(std::size_t i) const noexcept
{
    return impl->records[i];
}

} // namespace quillon
