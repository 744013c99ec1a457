// The literal engine frame: model domain, sanitising, delay ring, control mapping, frame
// coupling with the gain model (high-peak correction, limit memory, frame store), wet allpass
// and the dry/wet mix, each written out step by step.

#include "tests/literal/LiteralEngine.h"

#include "tests/literal/LiteralModel.h"

#include <algorithm>
#include <cmath>

namespace quillon::literal
{
namespace
{

const double gainCurveNodes[18] = {0.0925, 0.095, 0.0975, 0.099, 0.1, 0.14, 0.21, 0.25, 0.3219,
                                   0.38, 0.46, 0.5, 0.62, 0.72, 0.75, 0.84, 0.96, 1.0};
const double gainCurveDb[18] = {-81.66025920317391, -59.58857550325115, -34.90197690072161,
                                -22.227427957519254, -21.949628687953606, -10.552744582310261,
                                -2.118172469061598, 1.0003405260812528, 5.6169951122391595,
                                9.716827387642844, 12.885920044761065, 14.501210932852565,
                                19.576921920208186, 28.351765914946867, 30.24373903134629,
                                35.38332193179595, 37.70711910575897, 37.70711910575897};

const double highPeakNodes[5] = {0.85, 0.8875, 0.9375, 0.975, 1.0};
const double highPeakErrorAtReferenceOffsetDb[5] = {-0.9335029213501768, -0.72292711033791,
                                                    -0.6178415053144612, -0.855566138495615,
                                                    -0.9314681060419471};

const double allpassB[9] = {2.795593144235027e-06, -5.031813040043813e-05, 0.0004317349828349389,
                            -0.002357748754385584, 0.009261598399894011, -0.02824360520329949,
                            0.07187559663159805, -0.17447089133203703, 1.0};
const double allpassC[9] = {0.0, 0.17447089133203703, -0.07187559663159805, 0.02824360520329949,
                            -0.009261598399894011, 0.002357748754385584, -0.0004317349828349389,
                            5.031813040043813e-05, -2.795593144235027e-06};

double mapDisplay(double value, const double* display, const double* normalised)
{
    const double v = atMost(100.0, value);
    int k;
    if (v <= 22.0)
        k = 1;
    else if (v <= display[2])
        k = 2;
    else if (v <= 50.0)
        k = 3;
    else if (v <= 78.0)
        k = 4;
    else
        k = 5;
    const double t = (v - display[k - 1]) / (display[k] - display[k - 1]);
    return (normalised[k] - normalised[k - 1]) * t + normalised[k - 1];
}

bool acceptable(double v)
{
    return std::isfinite(v) && !(v < 0.0) && !(v > 100.0);
}

double flush(double v)
{
    return (v != 0.0 && std::fabs(v) < 2.2250738585072014e-308) ? 0.0 : v;
}

double allpassStep(double* s, double w)
{
    const double x = flush(w);
    const double y = allpassB[0] * x + s[0];
    for (int k = 0; k <= 6; ++k)
        s[k] = flush((allpassB[k + 1] * x + allpassC[k + 1] * y) + s[k + 1]);
    s[7] = flush(x + allpassC[8] * y);
    return flush(y);
}

bool highPeakFundamentalTargetDb(const RealtimeControls& controls, const RealtimeDiagnostics& diagnostics,
                                 double levelDb, double& target)
{
    target = 0.0;
    if (controls.limitMode || !controls.highPeakCorrection)
        return false;
    if (!(std::fabs(diagnostics.emphasisNorm - 1.0) <= 1e-12)
        || !(std::fabs(diagnostics.gainNorm - 0.321868896484375) <= 1e-12)
        || !(std::fabs(diagnostics.mixFraction - 1.0) <= 1e-12))
        return false;
    if (diagnostics.peakReductionNorm < 0.85 || diagnostics.peakReductionNorm > 1.0)
        return false;
    const double x = levelDb + 12.000000253286988;
    if (!std::isfinite(x) || x > -12.5 || x < -14.5)
        return false;
    const double e = pchip(highPeakNodes, highPeakErrorAtReferenceOffsetDb, 5, diagnostics.peakReductionNorm);
    const double r = (x + 13.5) * -0.1522454111839181 + e;
    target = -r;
    return std::isfinite(r);
}

RealtimeDiagnostics constructedDiagnostics()
{
    RealtimeDiagnostics d;
    d.peakReductionNorm = 0.2774658203125;
    d.emphasisNorm = 1.0;
    d.gainNorm = 0.321868896484375;
    d.mixFraction = 1.0;
    return d;
}

} // namespace

LiteralEngine::LiteralEngine() : gainModel(std::make_unique<GainModel>()), diag(constructedDiagnostics()) {}

LiteralEngine::~LiteralEngine() = default;

void LiteralEngine::clearRingsAndHistories()
{
    for (int c = 0; c < 2; ++c)
    {
        for (double& v : inputRing[c])
            v = 0.0;
        for (int i = 0; i < 8; ++i)
            dryHistory[c][i] = wetHistory[c][i] = 0.0;
    }
}

void LiteralEngine::clearAllpassState()
{
    for (int c = 0; c < 2; ++c)
        for (double& v : wetAllpassState[c])
            v = 0.0;
}

void LiteralEngine::clearFrames()
{
    olderIndex = newerIndex = 0;
    olderDb = newerDb = 0.0;
    olderFrameValid = newerFrameValid = false;
}

void LiteralEngine::clearLimitMemory()
{
    for (double& v : powerRing)
        v = 0.0;
    for (double& v : medianRing)
        v = 0.0;
    lastFrameIndex = frameCount = medianCount = 0;
    powerSum = previousMedianDb = memoryDb = 0.0;
    hasLastFrame = hasPreviousMedian = outputReady = false;
    memoryEnabled = true;
}

void LiteralEngine::prepare(double rate, int channels)
{
    sampleRate = rate;
    timelineMode = 2;
    alignmentDelay = 151;
    reportedLatency = 159;
    channelCount = channels;

    domainValid = std::isfinite(rate) && channels >= 1 && channels <= 2;
    const bool inModel = domainValid && std::fabs(rate - 48000.0) <= 1e-9;

    clearRingsAndHistories();
    clearFrames();
    sampleCounter = 0;
    frameBase = 0;
    modelPrepared = modelActive = false;

    if (inModel)
    {
        wetAllpassActive = true;
        wetAllpassChannels = channels;
        clearAllpassState();
    }
    wetAllpassEnabled = inModel;
    modelDomain = inModel;

    diag.modelled = false;
    diag.atReference = false;
    diag.calibrationVariant = 0;
    diag.limitMemoryActive = false;
    diag.outsideCalibration = false;
    diag.limitMode = false;
    diag.highPeakActive = false;
    diag.peakReductionNorm = 0.2774658203125;
    diag.emphasisNorm = 1.0;
    diag.gainNorm = 0.321868896484375;
    diag.mixFraction = 1.0;
    diag.correctionDb = 0.0;
    diag.fractionalDelayUsed = inModel;
    diag.fallback = !inModel;

    clearLimitMemory();
    correctionDb = 0.0;

    setControls(RealtimeControls {});
}

void LiteralEngine::reset()
{
    clearRingsAndHistories();
    sampleCounter = 0;
    frameBase = 0;
    clearAllpassState();
    wetAllpassEnabled = wetAllpassActive;
    correctionDb = 0.0;
    diag.highPeakActive = false;
    diag.correctionDb = 0.0;
    clearFrames();
    diag.fractionalDelayUsed = wetAllpassActive;
    clearLimitMemory();
    diag.limitMemoryActive = false;
    if (modelPrepared)
    {
        gainModel->reset();
        modelActive = gainModel->valid;
    }
}

int LiteralEngine::latencySamples() const
{
    return modelDomain ? static_cast<int>(reportedLatency) : 0;
}

void LiteralEngine::setControls(const RealtimeControls& c)
{
    controls = c;

    if (!acceptable(c.peakReduction) || !acceptable(c.gain) || !acceptable(c.emphasis) || !acceptable(c.mix))
    {
        modelPrepared = false;
        modelActive = false;
        diag.modelled = false;
        diag.limitMemoryActive = false;
        diag.highPeakActive = false;
        diag.fractionalDelayUsed = false;
        diag.correctionDb = 0.0;
        diag.fallback = true;
        return;
    }

    // Mapping and classification.
    const double peakDisplayNodes[6] = {0.0, 22.0, 25.0, 50.0, 78.0, 100.0};
    const double peakNormalisedNodes[6] = {0.0, 0.25, 0.2774658203125, 0.5, 0.75, 1.0};
    const double gainDisplayNodes[6] = {0.0, 22.0, 30.0, 50.0, 78.0, 100.0};
    const double gainNormalisedNodes[6] = {0.0, 0.25, 0.321868896484375, 0.5, 0.75, 1.0};
    const double k = mapDisplay(c.peakReduction, peakDisplayNodes, peakNormalisedNodes);
    const double m = mapDisplay(c.gain, gainDisplayNodes, gainNormalisedNodes);
    const double e = 1.0 - c.emphasis / 100.0;
    const bool atReference = std::fabs(k - 0.2774658203125) <= 1e-12 && std::fabs(e - 1.0) <= 1e-12;
    const bool outsideCalibration = std::fabs(k - 0.2774658203125) > 1e-12 && (k < 0.4 || k > 0.55);
    const bool variant = std::fabs(k - 0.51875) <= 0.0005
                         && (std::fabs(e - 0.535) <= 0.0051 || std::fabs(e - 1.0) <= 1e-12);
    const bool changed = !modelPrepared || std::fabs(diag.peakReductionNorm - k) > 1e-12
                         || std::fabs(diag.emphasisNorm - e) > 1e-12
                         || (diag.calibrationVariant != 0) != variant;
    diag.peakReductionNorm = k;
    diag.emphasisNorm = e;
    diag.gainNorm = m;
    diag.atReference = atReference;
    diag.calibrationVariant = variant ? 1 : 0;
    diag.outsideCalibration = outsideCalibration;

    diag.mixFraction = c.mix / 100.0;
    diag.limitMode = c.limitMode;
    diag.limitMemoryActive = c.limitMode && outputReady;

    // Make-up gain: the measured curve relative to its value at the Gain reference.
    if (m < 0.0925)
        makeupGain = 0.0;
    else
        makeupGain = std::pow(10.0, (pchip(gainCurveNodes, gainCurveDb, 18, m)
                                     - pchip(gainCurveNodes, gainCurveDb, 18, 0.3219)) / 20.0);

    if (!modelDomain)
    {
        modelPrepared = false;
        modelActive = false;
        diag.modelled = false;
        diag.highPeakActive = false;
        diag.fractionalDelayUsed = false;
        diag.correctionDb = 0.0;
        diag.fallback = true;
        return;
    }

    if (modelPrepared)
    {
        if (changed)
            modelActive = gainModel->updateControls(k, e, variant, true);
    }
    else
    {
        try
        {
            gainModel->prepare(sampleRate, k, e, variant, timelineMode);
            modelPrepared = true;
            modelActive = gainModel->valid;
            frameBase = sampleCounter;
            diag.highPeakActive = false;
            diag.correctionDb = 0.0;
            diag.limitMemoryActive = false;
            clearLimitMemory();
            correctionDb = 0.0;
            clearFrames();
        }
        catch (...)
        {
            modelPrepared = false;
            modelActive = false;
        }
    }

    diag.modelled = modelPrepared && modelActive;
    diag.fractionalDelayUsed = wetAllpassEnabled;
    diag.fallback = !diag.modelled;
}

bool LiteralEngine::processLimitMemoryFrame(std::uint64_t p, double g, double& offset, bool& offsetValid)
{
    offset = 0.0;
    offsetValid = false;
    if (!std::isfinite(g))
    {
        memoryEnabled = false;
        return false;
    }
    if (!memoryEnabled)
        return false;
    if (hasLastFrame && p != lastFrameIndex + 24)
    {
        memoryEnabled = false;
        return false;
    }
    hasLastFrame = true;
    lastFrameIndex = p;

    const double w = std::pow(10.0, g / 10.0);
    if (std::isinf(w) && w > 0.0)
    {
        memoryEnabled = false;
        return false;
    }

    const std::uint64_t n = frameCount;
    const std::uint64_t slot = n % 40;
    const double base = n > 39 ? powerSum - powerRing[slot] : powerSum;
    powerRing[slot] = w;
    powerSum = w + base;

    memoryDb = memoryDb * 0.9993136353165099;

    if (n >= 39 && (n - 39) % 20 == 0)
    {
        const double mean = 10.0 * std::log10(atLeast(1e-30, powerSum / 40.0));
        if (!std::isfinite(mean))
        {
            memoryEnabled = false;
            return false;
        }
        medianRing[medianCount % 5] = mean;
        medianCount += 1;
        const std::uint64_t count = medianCount < 5 ? medianCount : 5;
        double sorted[5] = {};
        for (std::uint64_t i = 0; i < count; ++i)
            sorted[i] = medianRing[i];
        std::sort(sorted, sorted + count);
        const double median = count % 2 == 1 ? sorted[count / 2]
                                              : (sorted[count / 2 - 1] + sorted[count / 2]) * 0.5;
        if (hasPreviousMedian)
            memoryDb += atLeast(0.0, previousMedianDb - median);
        previousMedianDb = median;
        hasPreviousMedian = true;
        outputReady = true;
        offset = memoryDb * -0.16004542955098108;
        offsetValid = true;
    }
    else if (outputReady)
    {
        offset = memoryDb * -0.16004542955098108;
        offsetValid = true;
    }

    frameCount = n + 1;

    if (!std::isfinite(offset) || !std::isfinite(memoryDb))
    {
        memoryEnabled = false;
        offset = 0.0;
        offsetValid = false;
        return false;
    }
    return true;
}

void LiteralEngine::frameStep(double mono)
{
    GainModelFrame frame;
    frame.position = 0;
    frame.baseLevelDb = -48.0;
    frame.gainDb = 0.0;
    frame.envelopeGainDb = 0.0;
    frame.variantCorrectionDb = 0.0;
    frame.calibrationVariant = false;

    if (!gainModel->processSample(mono, frame))
    {
        if (!gainModel->valid)
            modelActive = false;
        return;
    }

    double target = 0.0;
    const bool ok = highPeakFundamentalTargetDb(controls, diag, frame.baseLevelDb, target);
    const double used = ok ? target : 0.0;
    correctionDb = (used - correctionDb) * 0.024690087971667385 + correctionDb;
    diag.correctionDb = correctionDb;
    diag.highPeakActive = ok;

    const double g = frame.gainDb + correctionDb;
    if (!std::isfinite(g) || !std::isfinite(correctionDb))
    {
        modelActive = false;
        return;
    }

    const std::uint64_t p = frameBase + frame.position;
    if (p % 24 != frameBase % 24)
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
    diag.limitMemoryActive = controls.limitMode && offsetValid;

    const double v = controls.limitMode ? g + offset : g;

    if (!olderFrameValid)
    {
        olderIndex = p;
        olderDb = v;
        olderFrameValid = true;
    }
    else if (!newerFrameValid)
    {
        if (p > olderIndex)
        {
            newerIndex = p;
            newerDb = v;
            newerFrameValid = true;
        }
        else
        {
            modelActive = false;
        }
    }
    else
    {
        if (p > newerIndex)
        {
            olderIndex = newerIndex;
            olderDb = newerDb;
            newerIndex = p;
            newerDb = v;
        }
        else
        {
            modelActive = false;
        }
    }
}

bool LiteralEngine::frameGain(std::uint64_t d, double& gain) const
{
    if (!modelPrepared || !modelActive || !olderFrameValid || !newerFrameValid)
        return false;
    if (!(olderIndex <= d && d <= newerIndex) || newerIndex - olderIndex != 24)
        return false;
    const double t = static_cast<double>(d - olderIndex) / 24.0;
    const double gDb = (newerDb - olderDb) * t + olderDb;
    if (!std::isfinite(gDb) || !std::isfinite(makeupGain))
        return false;
    gain = std::pow(10.0, gDb / 20.0) * makeupGain;
    return std::isfinite(gain);
}

void LiteralEngine::processSample(const double* in, double* out, int channels)
{
    if (channels != 1 && channels != 2)
        return;
    if (!domainValid || channels != channelCount || !modelDomain)
    {
        for (int c = 0; c < channels; ++c)
            out[c] = in[c];
        diag.fallback = true;
        return;
    }

    double x[2] = {0.0, 0.0};
    for (int c = 0; c < channels; ++c)
    {
        x[c] = std::isfinite(in[c]) ? in[c] : 0.0;
        inputRing[c][sampleCounter % 281] = x[c];
    }
    double mono = 0.0 + x[0];
    if (channels == 2)
        mono = mono + x[1];
    mono = mono / channels;

    if (modelPrepared && modelActive)
        frameStep(mono);

    double delayed[2] = {0.0, 0.0};
    bool gainApplied = false;
    double g = 1.0;
    if (sampleCounter >= static_cast<std::uint64_t>(alignmentDelay))
    {
        const std::uint64_t d = sampleCounter - 151;
        for (int c = 0; c < channels; ++c)
            delayed[c] = inputRing[c][d % 281];
        gainApplied = frameGain(d, g);
    }

    const double gainToApply = gainApplied ? g : 1.0;
    double wet[2];
    for (int c = 0; c < channels; ++c)
        wet[c] = gainToApply * delayed[c];

    const std::uint64_t slot = sampleCounter % 8;
    double dry8[2];
    double wet8[2];
    for (int c = 0; c < channels; ++c)
    {
        dry8[c] = dryHistory[c][slot];
        wet8[c] = wetHistory[c][slot];
        dryHistory[c][slot] = delayed[c];
        wetHistory[c][slot] = wet[c];
    }

    double filtered[2] = {0.0, 0.0};
    bool filterRan = false;
    if (wetAllpassEnabled && wetAllpassActive && channels == wetAllpassChannels)
    {
        bool failed = false;
        for (int c = 0; c < channels; ++c)
            if (!std::isfinite(wet[c]))
                failed = true;
        if (!failed)
        {
            for (int c = 0; c < channels; ++c)
            {
                filtered[c] = allpassStep(wetAllpassState[c], wet[c]);
                if (!std::isfinite(filtered[c]))
                    failed = true;
            }
        }
        if (failed)
        {
            wetAllpassActive = false;
            clearAllpassState();
            wetAllpassEnabled = false;
            filterRan = false;
        }
        else
        {
            filterRan = true;
        }
    }
    else
    {
        wetAllpassEnabled = false;
        filterRan = false;
    }

    const double mix = diag.mixFraction;
    for (int c = 0; c < channels; ++c)
    {
        if (!controls.power || controls.bypass)
        {
            out[c] = dry8[c];
        }
        else if (mix > 0.0 && gainApplied)
        {
            const double w = (filterRan && controls.fractionalDelayWet) ? filtered[c] : wet8[c];
            out[c] = (1.0 - mix) * dry8[c] + mix * w;
        }
        else
        {
            out[c] = dry8[c];
        }
    }

    sampleCounter += 1;

    const bool modelOn = modelPrepared && modelActive;
    diag.modelled = modelOn && filterRan;
    diag.fractionalDelayUsed = filterRan && controls.fractionalDelayWet;
    if (!(modelOn && filterRan))
        diag.highPeakActive = false;
    if (!controls.limitMode)
        diag.limitMemoryActive = false;
    diag.fallback = !(modelOn && filterRan)
                    || (controls.power && !controls.bypass && mix > 0.0 && !gainApplied);
}

} // namespace quillon::literal
