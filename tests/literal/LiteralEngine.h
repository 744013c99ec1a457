#pragma once

// A second, deliberately plain realisation of the realtime engine: the same public face as
// quillon::OptoRealtimeDSP, every step computed the long way round, and no code shared with
// dsp/. The match test renders the same signals through both and compares every output bit.

#include "dsp/RealtimeControls.h"

#include <cstdint>
#include <memory>

namespace quillon::literal
{

class GainModel;

class LiteralEngine
{
public:
    LiteralEngine();
    ~LiteralEngine();
    LiteralEngine(const LiteralEngine&) = delete;
    LiteralEngine& operator=(const LiteralEngine&) = delete;

    void prepare(double sampleRate, int channels);
    void reset();
    int latencySamples() const;
    void setControls(const quillon::RealtimeControls& controls);
    void processSample(const double* in, double* out, int channels);
    const quillon::RealtimeDiagnostics& diagnostics() const { return diag; }

private:
    void frameStep(double mono);
    bool processLimitMemoryFrame(std::uint64_t p, double g, double& offset, bool& offsetValid);
    bool frameGain(std::uint64_t d, double& gain) const;
    void clearRingsAndHistories();
    void clearAllpassState();
    void clearFrames();
    void clearLimitMemory();

    std::unique_ptr<GainModel> gainModel;
    double wetAllpassState[2][8] {};
    int wetAllpassChannels = 0;
    bool wetAllpassActive = false;
    double inputRing[2][281] {};
    double dryHistory[2][8] {};
    double wetHistory[2][8] {};
    double powerRing[40] {};
    double medianRing[5] {};
    std::uint64_t olderIndex = 0, newerIndex = 0;
    double olderDb = 0.0, newerDb = 0.0;
    quillon::RealtimeControls controls;
    quillon::RealtimeDiagnostics diag;
    std::uint64_t sampleCounter = 0;
    std::uint64_t frameBase = 0;
    std::uint64_t lastFrameIndex = 0, frameCount = 0, medianCount = 0;
    double sampleRate = 0.0;
    double makeupGain = 1.0;
    double powerSum = 0.0, previousMedianDb = 0.0, memoryDb = 0.0;
    double correctionDb = 0.0;
    int timelineMode = 0;
    int alignmentDelay = 280;
    unsigned reportedLatency = 288;
    int channelCount = 0;
    bool domainValid = false;
    bool modelDomain = false;
    bool modelPrepared = false;
    bool modelActive = false;
    bool olderFrameValid = false;
    bool newerFrameValid = false;
    bool hasLastFrame = false, hasPreviousMedian = false, outputReady = false, memoryEnabled = true;
    bool wetAllpassEnabled = false;
};

} // namespace quillon::literal
