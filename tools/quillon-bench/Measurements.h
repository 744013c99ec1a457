#pragma once

// The bench's timings: realtime factors in this process (literal engine, engine, processBlock),
// of the built bundle through quillon-bench-host and of LSP Compressor Stereo through
// lv2bench, and the block times of a Peak Reduction sweep.

#include "BenchSupport.h"

#include <optional>
#include <string>
#include <vector>

namespace quillonbench
{

struct InProcessFactors
{
    double literal = 0.0;
    double engine = 0.0;
    double processBlock = 0.0;
};

// The three take turns every 0.2 s of audio, so the machine's slower and faster moments fall
// on all three alike and their ratios hold.
InProcessFactors inProcessRealtimeFactors(const Signal& s, int blockSize);

// A realtime factor from another program, or why there is none.
struct Measurement
{
    std::optional<double> value;
    std::string unavailable;
};

Measurement hostRealtimeFactor(double seconds, int blockSize, std::uint64_t seed);

// The URI of LSP Compressor Stereo as lv2ls lists it; empty when it is not installed.
std::string lspUri();
Measurement lspRealtimeFactor(double seconds, int blockSize, const std::string& uri);

struct BlockTimes
{
    std::vector<double> cpu;
    std::vector<double> wall;
};

// processBlock with Peak Reduction one 0.1 step further every block, up and down, so that
// every block rebuilds the followers' tables; the first second runs untimed at the defaults.
BlockTimes peakReductionSweep(const Signal& s, int blockSize, float emphasis);

} // namespace quillonbench
