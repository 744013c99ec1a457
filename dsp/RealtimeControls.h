#pragma once

#include <cstdint>

namespace quillon
{

// What the processor hands the engine once per block: the front panel as displayed.
struct RealtimeControls
{
    double peakReduction = 25.0; // 0..100
    double gain = 30.0;          // 0..100
    double emphasis = 0.0;       // 0..100
    double mix = 100.0;          // wet share in percent
    bool limitMode = false;
    bool power = true;
    bool bypass = false;
    bool highPeakCorrection = true;
    bool fractionalDelayWet = true;
};

// The engine's status, for its owner, tests and tools; the signal path never reads the flags.
struct RealtimeDiagnostics
{
    bool modelled = false;
    bool atReference = false;
    std::uint8_t calibrationVariant = 0;
    bool limitMemoryActive = false;
    bool fallback = false;
    bool outsideCalibration = false;
    bool limitMode = false;
    bool highPeakActive = false;
    bool fractionalDelayUsed = false;
    double peakReductionNorm = 0.0;
    double emphasisNorm = 0.0;
    double gainNorm = 0.0;
    double mixFraction = 0.0;
    double correctionDb = 0.0;
};

} // namespace quillon
