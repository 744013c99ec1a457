#include "dsp/OptoRealtimeDSP.h"

#include "dsp/ControlMapping.h"
#include "dsp/HighPeakCorrection.h"

#include <cmath>

namespace quillon
{
namespace
{
constexpr double modelSampleRate = 48000.0;
constexpr double sampleRateTolerance = 1e-9;
constexpr std::int32_t modelTimelineMode = 2;
constexpr std::int32_t modelAlignmentDelay = 151;
constexpr std::uint32_t modelLatency = 159;

constexpr double referencePeakReduction = 0.2774658203125;
constexpr double equalityTolerance = 1e-12;
constexpr double variantPeakReduction = 0.51875;
constexpr double variantPeakTolerance = 0.0005;
constexpr double variantEmphasis = 0.535;
constexpr double variantEmphasisTolerance = 0.0051;
// 1 - e^(-1/40): the correction follows its target with a 40-frame (20 ms) time constant.
constexpr double correctionSmoothing = 0.024690087971667385;

bool isControlValueValid(double v) noexcept
{
    // -0.0 passes (it compares equal to 0); a negative subnormal does not.
    return std::isfinite(v) && !(v < 0.0) && v <= 100.0;
}

RealtimeDiagnostics defaultDiagnostics() noexcept
{
    RealtimeDiagnostics d;
    d.peakReductionNorm = 0.2774658203125;
    d.emphasisNorm = 1.0;
    d.gainNorm = 0.321868896484375;
    d.mixFraction = 1.0;
    return d;
}
} // namespace

OptoRealtimeDSP::OptoRealtimeDSP() noexcept
    : diagnosticsRecord(defaultDiagnostics())
{
}

void OptoRealtimeDSP::prepare(double newSampleRate, int channels) noexcept
{
    sampleRate = newSampleRate;
    timelineMode = modelTimelineMode;
    alignmentDelay = modelAlignmentDelay;
    reportedLatency = modelLatency;
    channelCount = channels;

    domainValid = std::isfinite(newSampleRate) && channels >= 1 && channels <= 2;
    const bool inModel = domainValid && std::fabs(newSampleRate - modelSampleRate) <= sampleRateTolerance;

    inputRing = {};
    dryHistory = {};
    wetHistory = {};
    frames.clear();
    sampleCounter = 0;
    frameBase = 0;
    modelPrepared = false;
    modelActive = false;

    if (inModel)
    {
        wetAllpassActive = true;
        wetAllpassChannels = channels;
        for (auto& filter : wetAllpass)
            filter.clear();
    }
    wetAllpassEnabled = inModel;
    modelDomain = inModel;

    auto& d = diagnosticsRecord;
    d.modelled = d.atReference = d.limitMemoryActive = d.fallback = false;
    d.outsideCalibration = d.limitMode = d.highPeakActive = false;
    d.calibrationVariant = 0;
    d.peakReductionNorm = 0.2774658203125;
    d.emphasisNorm = 1.0;
    d.gainNorm = 0.321868896484375;
    d.mixFraction = 1.0;
    d.correctionDb = 0.0;
    d.fractionalDelayUsed = inModel;
    d.fallback = !inModel;

    limitMemory.reset();
    correctionDb = 0.0;

    setControls(RealtimeControls {});
}

void OptoRealtimeDSP::reset() noexcept
{
    inputRing = {};
    dryHistory = {};
    wetHistory = {};
    sampleCounter = 0;
    frameBase = 0;
    for (auto& filter : wetAllpass)
        filter.clear();

    // An allpass that failed stays off until the next prepare.
    wetAllpassEnabled = wetAllpassActive;

    correctionDb = 0.0;
    diagnosticsRecord.highPeakActive = false;
    diagnosticsRecord.correctionDb = 0.0;

    frames.clear();
    diagnosticsRecord.fractionalDelayUsed = wetAllpassActive;

    limitMemory.reset();
    diagnosticsRecord.limitMemoryActive = false;

    if (modelPrepared)
    {
        gainModel.reset();
        modelActive = gainModel.isValid();
    }
}

int OptoRealtimeDSP::latencySamples() const noexcept
{
    return modelDomain ? static_cast<int>(reportedLatency) : 0;
}

void OptoRealtimeDSP::switchModelPathOff() noexcept
{
    modelPrepared = false;
    modelActive = false;
    auto& d = diagnosticsRecord;
    d.modelled = false;
    d.highPeakActive = false;
    d.fractionalDelayUsed = false;
    d.correctionDb = 0.0;
    d.fallback = true;
}

void OptoRealtimeDSP::setControls(const RealtimeControls& newControls) noexcept
{
    controls = newControls;

    if (!isControlValueValid(controls.peakReduction) || !isControlValueValid(controls.gain)
        || !isControlValueValid(controls.emphasis) || !isControlValueValid(controls.mix))
    {
        switchModelPathOff();
        diagnosticsRecord.limitMemoryActive = false;
        return;
    }

    auto& d = diagnosticsRecord;
    const double k = normalisedPeakReduction(controls.peakReduction);
    const double m = normalisedGain(controls.gain);
    const double e = 1.0 - controls.emphasis / 100.0;
    const bool atReference = std::fabs(k - referencePeakReduction) <= equalityTolerance
                             && std::fabs(e - 1.0) <= equalityTolerance;
    const bool outsideCalibration = std::fabs(k - referencePeakReduction) > equalityTolerance && (k < 0.4 || k > 0.55);
    const bool variant = std::fabs(k - variantPeakReduction) <= variantPeakTolerance
                         && (std::fabs(e - variantEmphasis) <= variantEmphasisTolerance
                             || std::fabs(e - 1.0) <= equalityTolerance);
    // Gain, mix and the switches never reach the model: only these three restart its controls.
    const bool changed = !modelPrepared || std::fabs(d.peakReductionNorm - k) > equalityTolerance
                         || std::fabs(d.emphasisNorm - e) > equalityTolerance
                         || d.calibrationVariant != static_cast<std::uint8_t>(variant);
    d.peakReductionNorm = k;
    d.emphasisNorm = e;
    d.gainNorm = m;
    d.atReference = atReference;
    d.calibrationVariant = static_cast<std::uint8_t>(variant);
    d.outsideCalibration = outsideCalibration;

    d.mixFraction = controls.mix / 100.0;
    d.limitMode = controls.limitMode;
    d.limitMemoryActive = controls.limitMode && limitMemory.outputReady();

    makeupGain = makeupGainFor(m);

    if (!modelDomain)
    {
        switchModelPathOff();
        return;
    }

    driveGainModel(k, e, variant, changed);

    d.modelled = modelPrepared && modelActive;
    d.fractionalDelayUsed = wetAllpassEnabled;
    d.fallback = !d.modelled;
}

void OptoRealtimeDSP::driveGainModel(double k, double e, bool variant, bool changed) noexcept
{
    if (modelPrepared)
    {
        if (changed)
            modelActive = gainModel.updateControls(k, e, variant, true);
        return;
    }

    try
    {
        gainModel.prepare(sampleRate, k, e, variant, timelineMode);
    }
    catch (...)
    {
        modelPrepared = false;
        modelActive = false;
        return;
    }
    modelPrepared = true;
    modelActive = gainModel.isValid();
    frameBase = sampleCounter;
    startFrames();
}

// A fresh time base for the model's frames: no stored frames, an empty limit memory and no
// correction carried over.
void OptoRealtimeDSP::startFrames() noexcept
{
    diagnosticsRecord.highPeakActive = false;
    diagnosticsRecord.correctionDb = 0.0;
    diagnosticsRecord.limitMemoryActive = false;
    limitMemory.reset();
    correctionDb = 0.0;
    frames.clear();
}

bool OptoRealtimeDSP::processLimitMemoryFrame(std::uint64_t frameIndex, double gainDb, double& offsetDb,
                                              bool& offsetValid) noexcept
{
    return limitMemory.processFrame(frameIndex, gainDb, offsetDb, offsetValid);
}

void OptoRealtimeDSP::frameStep(double mono) noexcept
{
    GainModelFrame frame {};
    frame.position = 0;
    frame.baseLevelDb = -48.0;
    if (!gainModel.processSample(mono, frame))
    {
        if (!gainModel.isValid())
            modelActive = false;
        return;
    }

    double target = 0.0;
    const bool ok = highPeakFundamentalTargetDb(controls, diagnosticsRecord, frame.baseLevelDb, target);
    correctionDb = ((ok ? target : 0.0) - correctionDb) * correctionSmoothing + correctionDb;
    diagnosticsRecord.correctionDb = correctionDb;
    diagnosticsRecord.highPeakActive = ok;

    const double g = frame.gainDb + correctionDb;
    if (!std::isfinite(g) || !std::isfinite(correctionDb))
    {
        modelActive = false;
        return;
    }

    const std::uint64_t p = frameBase + frame.position;
    if (p % GainFrameStore::frameInterval != frameBase % GainFrameStore::frameInterval)
    {
        modelActive = false;
        return;
    }

    double offset = 0.0;
    bool offsetValid = false;
    if (!processLimitMemoryFrame(p, g, offset, offsetValid))
    {
        modelActive = false;
        return;
    }
    diagnosticsRecord.limitMemoryActive = controls.limitMode && offsetValid;

    const double v = controls.limitMode ? g + offset : g;
    if (!frames.store(p, v))
        modelActive = false;
}

bool OptoRealtimeDSP::frameGain(std::uint64_t d, double& gain) const noexcept
{
    double gDb = 0.0;
    if (!modelPrepared || !modelActive || !frames.gainDbAt(d, gDb))
        return false;
    if (!std::isfinite(gDb) || !std::isfinite(makeupGain))
        return false;
    gain = std::pow(10.0, gDb / 20.0) * makeupGain;
    return std::isfinite(gain);
}

bool OptoRealtimeDSP::runWetAllpass(const double* wet, double* filtered, int channels) noexcept
{
    for (int c = 0; c < channels; ++c)
        if (!std::isfinite(wet[c]))
            return false;
    for (int c = 0; c < channels; ++c)
        if (!wetAllpass[static_cast<std::size_t>(c)].process(wet[c], filtered[c]))
            return false;
    return true;
}

void OptoRealtimeDSP::processSample(const double* input, double* output, int channels) noexcept
{
    if (channels != 1 && channels != 2)
        return;

    if (!domainValid || channels != channelCount || !modelDomain)
    {
        for (int c = 0; c < channels; ++c)
            output[c] = input[c];
        diagnosticsRecord.fallback = true;
        return;
    }

    std::array<double, 2> x {};
    const auto ringSlot = static_cast<std::size_t>(sampleCounter % ringLength);
    for (int c = 0; c < channels; ++c)
    {
        x[static_cast<std::size_t>(c)] = std::isfinite(input[c]) ? input[c] : 0.0;
        inputRing[static_cast<std::size_t>(c)][ringSlot] = x[static_cast<std::size_t>(c)];
    }
    const double mono = channels == 1 ? (0.0 + x[0]) / 1.0 : ((0.0 + x[0]) + x[1]) / 2.0;

    // The model runs whatever power, bypass and mix say, so switching them never restarts it.
    if (modelPrepared && modelActive)
        frameStep(mono);

    std::array<double, 2> delayed {};
    double gain = 1.0;
    bool gainApplied = false;
    if (sampleCounter >= static_cast<std::uint64_t>(alignmentDelay))
    {
        const std::uint64_t d = sampleCounter - static_cast<std::uint64_t>(modelAlignmentDelay);
        for (int c = 0; c < channels; ++c)
            delayed[static_cast<std::size_t>(c)] = inputRing[static_cast<std::size_t>(c)][d % ringLength];
        gainApplied = frameGain(d, gain);
    }

    std::array<double, 2> wet {};
    std::array<double, 2> dry8 {};
    std::array<double, 2> wet8 {};
    const auto historySlot = static_cast<std::size_t>(sampleCounter % historyLength);
    for (int c = 0; c < channels; ++c)
    {
        const auto ch = static_cast<std::size_t>(c);
        wet[ch] = (gainApplied ? gain : 1.0) * delayed[ch];
        dry8[ch] = dryHistory[ch][historySlot];
        wet8[ch] = wetHistory[ch][historySlot];
        dryHistory[ch][historySlot] = delayed[ch];
        wetHistory[ch][historySlot] = wet[ch];
    }

    std::array<double, 2> filtered {};
    bool filterRan = false;
    if (wetAllpassEnabled && wetAllpassActive && channels == wetAllpassChannels)
    {
        filterRan = runWetAllpass(wet.data(), filtered.data(), channels);
        if (!filterRan)
        {
            // A filter that has once produced a non-finite value stays off until prepare.
            wetAllpassActive = false;
            for (auto& filter : wetAllpass)
                filter.clear();
            wetAllpassEnabled = false;
        }
    }
    else
    {
        wetAllpassEnabled = false;
    }

    const double mixFraction = diagnosticsRecord.mixFraction;
    const bool dryOnly = !controls.power || controls.bypass;
    for (int c = 0; c < channels; ++c)
    {
        const auto ch = static_cast<std::size_t>(c);
        if (!dryOnly && mixFraction > 0.0 && gainApplied)
        {
            const double w = (filterRan && controls.fractionalDelayWet) ? filtered[ch] : wet8[ch];
            output[c] = (1.0 - mixFraction) * dry8[ch] + mixFraction * w;
        }
        else
        {
            output[c] = dry8[ch];
        }
    }

    ++sampleCounter;

    auto& d = diagnosticsRecord;
    const bool modelOn = modelPrepared && modelActive;
    d.modelled = modelOn && filterRan;
    d.fractionalDelayUsed = filterRan && controls.fractionalDelayWet;
    if (!(modelOn && filterRan))
        d.highPeakActive = false;
    if (!controls.limitMode)
        d.limitMemoryActive = false;
    d.fallback = !(modelOn && filterRan) || (!dryOnly && mixFraction > 0.0 && !gainApplied);
}

} // namespace quillon
