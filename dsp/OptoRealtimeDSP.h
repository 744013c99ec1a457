#pragma once

#include "dsp/RealtimeControls.h"

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
    static constexpr int allpassOrder = 8;

    OptoRealtimeDSP() noexcept;

    void prepare(double sampleRate, int channels) noexcept;
    void reset() noexcept;
    int latencySamples() const noexcept;
    void setControls(const RealtimeControls& controls) noexcept;
    void processSample(const double* input, double* output, int channels) noexcept;

    const RealtimeDiagnostics& diagnostics() const noexcept { return diagnosticsRecord; }
    const RealtimeControls& currentControls() const noexcept { return controls; }

private:
    struct GainFrame
    {
        std::uint64_t index = 0;
        double gainDb = 0.0;
    };

    bool frameGain(std::uint64_t d, double& gain) const noexcept;
    bool runWetAllpass(const double* wet, double* filtered, int channels) noexcept;
    void switchModelPathOff() noexcept;

    std::array<std::array<double, allpassOrder>, 2> wetAllpassState {};
    std::int32_t wetAllpassChannels = 0;
    bool wetAllpassActive = false;
    std::array<std::array<double, ringLength>, 2> inputRing {};
    std::array<std::array<double, historyLength>, 2> dryHistory {};
    std::array<std::array<double, historyLength>, 2> wetHistory {};
    GainFrame olderFrame;
    GainFrame newerFrame;
    RealtimeControls controls;
    RealtimeDiagnostics diagnosticsRecord;
    std::uint64_t sampleCounter = 0;
    std::uint64_t frameBase = 0;
    double sampleRate = 0.0;
    double makeupGain = 1.0;
    std::int32_t timelineMode = 0;
    std::int32_t alignmentDelay = 280;
    std::uint32_t reportedLatency = 288;
    std::int32_t channelCount = 0;
    bool domainValid = false;
    bool modelDomain = false;
    bool modelPrepared = false;
    bool modelActive = false;
    bool olderFrameValid = false;
    bool newerFrameValid = false;
    bool wetAllpassEnabled = false;
};

} // namespace quillon
