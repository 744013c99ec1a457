#pragma once

// The long run: varied audio through processBlock with random parameter changes, reporting
// non-finite output, model-path fallbacks and the block times.

#include <cstdint>

namespace quillonbench
{

void runSoak(double seconds, int blockSize, std::uint64_t seed);

} // namespace quillonbench
