#pragma once

// The optical cell's steady-state gain (dB) over detector level (dB) and normalised
// Peak Reduction: a measured grid, continued linearly above its top level.

#include "dsp/Pchip.h"

#include <array>

namespace quillon {

// Gain read from the measured grid; level and peak are clamped to the grid's range.
double baseStaticGain(double peak, double levelDb) noexcept;

// The grid continued linearly up to -2.6999708456034766 dB. Callers use this one.
double extendedStaticGain(double peak, double levelDb) noexcept;

// Slope of the continuation above the top grid level, dB of gain per dB of level.
double upperGradient(double peak) noexcept;

// How far `peak` lowers the steady-state gain at this level, measured against peak 0.
double staticReduction(double peak, double levelDb) noexcept;

// The curve at one level, ready to be read at any Peak Reduction: the grid rows read at the
// level and their slopes along Peak Reduction. For reading many fixed levels at one peak
// (the followers' tables), keep the columns and locate the peak once.
struct StaticGainColumn {
    double levelDb = 0.0;           // the level, clamped to the continued curve's range
    std::array<double, 8> gains{};  // the rows read at the level, or at the top grid level above it
    std::array<double, 8> slopes{}; // node slopes of `gains` along Peak Reduction
};
StaticGainColumn staticGainColumn(double levelDb) noexcept;

// A Peak Reduction setting located among the grid's peak nodes, with its continuation gradient.
struct StaticGainPeak {
    pchipdetail::Point point;
    double gradient = 0.0;
};
StaticGainPeak staticGainPeak(double peak) noexcept;

// extendedStaticGain(peak, levelDb), bit for bit, from the level's column and the located peak.
double extendedStaticGain(const StaticGainColumn& column, const StaticGainPeak& peak) noexcept;

} // namespace quillon
