#include "dsp/OptoRealtimeDSP.h"

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
constexpr std::uint64_t frameInterval = 24;

// Eighth-order Thiran allpass, about 8.2 samples of delay, in transposed direct form:
// input taps b[0..8] and output feedback taps c[1..8] (c[0] is unused).
constexpr std::array<double, 9> allpassInputTaps {
    2.795593144235027e-06, -5.031813040043813e-05, 0.0004317349828349389,
    -0.002357748754385584, 0.009261598399894011,   -0.02824360520329949,
    0.07187559663159805,   -0.17447089133203703,   1.0};
constexpr std::array<double, 9> allpassFeedbackTaps {
    0.0,                    0.17447089133203703,    -0.07187559663159805,
    0.02824360520329949,    -0.009261598399894011,  0.002357748754385584,
    -0.0004317349828349389, 5.031813040043813e-05,  -2.795593144235027e-06};

constexpr double smallestNormal = 2.2250738585072014e-308;

double flushSubnormal(double v) noexcept
{
    return (v != 0.0 && std::fabs(v) < smallestNormal) ? 0.0 : v;
}

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
    olderFrame = {};
    newerFrame = {};
    sampleCounter = 0;
    frameBase = 0;
    modelPrepared = false;
    modelActive = false;
    olderFrameValid = false;
    newerFrameValid = false;

    if (inModel)
    {
        wetAllpassActive = true;
        wetAllpassChannels = channels;
        wetAllpassState = {};
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

    setControls(RealtimeControls {});
}

void OptoRealtimeDSP::reset() noexcept
{
    inputRing = {};
    dryHistory = {};
    wetHistory = {};
    sampleCounter = 0;
    frameBase = 0;
    wetAllpassState = {};

    // An allpass that failed stays off until the next prepare.
    wetAllpassEnabled = wetAllpassActive;

    diagnosticsRecord.highPeakActive = false;
    diagnosticsRecord.correctionDb = 0.0;

    olderFrame = {};
    newerFrame = {};
    olderFrameValid = false;
    newerFrameValid = false;
    diagnosticsRecord.fractionalDelayUsed = wetAllpassActive;
    diagnosticsRecord.limitMemoryActive = false;
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
    d.mixFraction = controls.mix / 100.0;
    d.limitMode = controls.limitMode;
    d.limitMemoryActive = false;

    if (!modelDomain)
    {
        switchModelPathOff();
        return;
    }

    d.modelled = modelPrepared && modelActive;
    d.fractionalDelayUsed = wetAllpassEnabled;
    d.fallback = !d.modelled;
}

bool OptoRealtimeDSP::frameGain(std::uint64_t d, double& gain) const noexcept
{
    if (!modelPrepared || !modelActive || !olderFrameValid || !newerFrameValid)
        return false;
    if (d < olderFrame.index || d > newerFrame.index || newerFrame.index - olderFrame.index != frameInterval)
        return false;

    const double t = static_cast<double>(d - olderFrame.index) / 24.0;
    const double gDb = (newerFrame.gainDb - olderFrame.gainDb) * t + olderFrame.gainDb;
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
    {
        auto& s = wetAllpassState[static_cast<std::size_t>(c)];
        const double x = flushSubnormal(wet[c]);
        const double y = allpassInputTaps[0] * x + s[0];
        // Each register takes the next one's value from before this sample.
        for (std::size_t k = 0; k + 1 < allpassOrder; ++k)
            s[k] = flushSubnormal((allpassInputTaps[k + 1] * x + allpassFeedbackTaps[k + 1] * y) + s[k + 1]);
        s[allpassOrder - 1] = flushSubnormal(x + allpassFeedbackTaps[allpassOrder] * y);
        filtered[c] = flushSubnormal(y);
        if (!std::isfinite(filtered[c]))
            return false;
    }
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
            wetAllpassActive = false;
            wetAllpassState = {};
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
