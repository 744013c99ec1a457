#pragma once

#include "dsp/GainFrameStore.h"
#include "dsp/LimitMemory.h"
#include "dsp/OptoGainModelDSP.h"
#include "dsp/RealtimeControls.h"
#include "dsp/WetAllpass.h"

#include <array>
#include <cstdint>

namespace quillon
{

// The per-sample engine the processor owns: model domain, input sanitising, the delay that
// lines the audio up with the model's gain frames, the wet allpass and the dry/wet mix.
// Outside the 48 kHz one-or-two-channel domain it passes audio through untouched.
class OptoRealtimeDSP
{
public:
    static constexpr int ringLength = 281;
    static constexpr int historyLength = 8;

    OptoRealtimeDSP() noexcept;

    void prepare(double sampleRate, int channels) noexcept;
    void reset() noexcept;
    int latencySamples() const noexcept;
    void setControls(const RealtimeControls& controls) noexcept;
    void processSample(const double* input, double* output, int channels) noexcept;

    const RealtimeDiagnostics& diagnostics() const noexcept { return diagnosticsRecord; }
    const OptoGainModelDSP& model() const noexcept { return gainModel; }
    bool isModelActive() const noexcept { return modelPrepared && modelActive; }
    double currentMakeupGain() const noexcept { return makeupGain; }
    std::uint64_t currentFrameBase() const noexcept { return frameBase; }

private:
    void switchModelPathOff() noexcept;
    void driveGainModel(double peakNorm, double emphasisNorm, bool variant, bool changed) noexcept;
    void startFrames() noexcept;
    void frameStep(double mono) noexcept;
    bool processLimitMemoryFrame(std::uint64_t frameIndex, double gainDb, double& offsetDb, bool& offsetValid) noexcept;
    bool frameGain(std::uint64_t d, double& gain) const noexcept;
    bool runWetAllpass(const double* wet, double* filtered, int channels) noexcept;

    OptoGainModelDSP gainModel;
    std::array<WetAllpass, 2> wetAllpass;
    std::int32_t wetAllpassChannels = 0;
    bool wetAllpassActive = false;
    std::array<std::array<double, ringLength>, 2> inputRing {};
    std::array<std::array<double, historyLength>, 2> dryHistory {};
    std::array<std::array<double, historyLength>, 2> wetHistory {};
    LimitMemory limitMemory;
    GainFrameStore frames;
    RealtimeControls controls;
    RealtimeDiagnostics diagnosticsRecord;
    std::uint64_t sampleCounter = 0;
    std::uint64_t frameBase = 0;
    double sampleRate = 0.0;
    double makeupGain = 1.0;
    double correctionDb = 0.0;
    std::int32_t timelineMode = 0;
    std::int32_t alignmentDelay = 280;
    std::uint32_t reportedLatency = 288;
    std::int32_t channelCount = 0;
    bool domainValid = false;
    bool modelDomain = false;
    bool modelPrepared = false;
    bool modelActive = false;
    bool wetAllpassEnabled = false;
};

} // namespace quillon
