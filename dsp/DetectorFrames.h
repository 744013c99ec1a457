#pragma once

// The detector's records: the features it measures for one sample position, and the
// calibrated levels composed from them that drive the envelope followers.

#include <cstdint>

namespace quillon {

struct DetectorFeatureFrame {
    std::uint64_t position;      // detector sample index the measures describe
    double fastLevelDb;          // 20 ms mean square of the input, dB
    double emphasisRatioDb;      // 20 ms mean square, filtered over plain, dB
    double spectralSpread;       // log2 change of the occupied bin count under the emphasis weighting
    double crestDb;              // 250 ms mean abs over RMS, dB; 0 for a sine
    double shapeDb;              // filtered-over-plain mean abs against mean square, dB
    double emphasisCorrectionDb; // never above 0
    double lowBandBalance;       // in [-1, 0]
    double lowBandOffsetDb;      // 5 x lowBandBalance
    bool spectrumValid;          // the spectral measure had enough energy
};

struct DetectorLevelFrame {
    double levelDb;         // calibrated base level
    double lowBandLevelDb;  // calibrated, with the low-band offset
    double emphasisLevelDb; // calibrated, with the emphasis correction
    double crestDb;
    double shapeDb;
};

} // namespace quillon
