#pragma once

// At high Peak Reduction settings the model reads a steady tone at the reference level a
// little differently from the measured unit; this gives the gain that cancels that error.

#include "dsp/RealtimeControls.h"

namespace quillon
{

// The correction target in dB for a frame at base level `levelDb`; false (target 0) when the
// setting lies outside where the error was measured: Limit mode, Emphasis not 0, Gain not 30,
// Mix not 100, Peak Reduction below 0.85 or the level outside its 2 dB window.
bool highPeakFundamentalTargetDb(const RealtimeControls& controls, const RealtimeDiagnostics& diagnostics,
                                 double levelDb, double& targetDb) noexcept;

} // namespace quillon
