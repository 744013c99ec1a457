#pragma once

// The optical cell's steady-state gain (dB) over detector level (dB) and normalised
// Peak Reduction: a measured grid, continued linearly above its top level.

namespace quillon {

// Gain read from the measured grid; level and peak are clamped to the grid's range.
double baseStaticGain(double peak, double levelDb) noexcept;

// The grid continued linearly up to -2.6999708456034766 dB. Callers use this one.
double extendedStaticGain(double peak, double levelDb) noexcept;

// Slope of the continuation above the top grid level, dB of gain per dB of level.
double upperGradient(double peak) noexcept;

// How far `peak` lowers the steady-state gain at this level, measured against peak 0.
double staticReduction(double peak, double levelDb) noexcept;

} // namespace quillon
