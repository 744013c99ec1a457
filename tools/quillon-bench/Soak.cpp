#include "Soak.h"

#include "BenchSupport.h"
#include "CpuClock.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace quillonbench
{
namespace
{
// Random parameter changes as a host's automation would send them: mostly the knobs, now and
// then the switches, with power and bypass spending most of their time in the running state.
int randomChanges(QuillonAudioProcessor& p, std::uint64_t& rng)
{
    auto next = [&rng] {
        rng ^= rng << 13;
        rng ^= rng >> 7;
        rng ^= rng << 17;
        return rng;
    };
    auto uniform = [&] { return static_cast<float>(next() >> 40) / 16777216.0f; };
    if (next() % 8 != 0)
        return 0;
    const int count = 1 + static_cast<int>(next() % 3);
    for (int k = 0; k < count; ++k)
    {
        const char* ids[] = {"peakReduction", "gain", "emphasis", "mix", "compLimit", "meter", "power", "bypass"};
        const int which = static_cast<int>(next() % 8);
        float v = uniform();
        if (which == 6)
            v = v < 0.95f ? 1.0f : 0.0f;
        if (which == 7)
            v = v < 0.95f ? 0.0f : 1.0f;
        p.parameters.getParameter(ids[which])->setValueNotifyingHost(v);
    }
    return count;
}

} // namespace

void runSoak(double seconds, int blockSize, std::uint64_t seed)
{
    const long blocks = static_cast<long>(std::ceil(seconds * rate / blockSize));
    const double blockSeconds = static_cast<double>(blockSize) / rate;
    MusicSignal signal(seed, true);
    auto processor = std::make_unique<QuillonAudioProcessor>();
    processor->prepareToPlay(rate, blockSize);

    juce::AudioBuffer<float> block(2, blockSize);
    juce::MidiBuffer midi;
    std::uint64_t rng = 0x2545F4914F6CDD1Dull ^ seed;
    long changes = 0;
    long nonFinite = 0;
    long fallbackBlocks = 0;
    long firstFallback = -1;
    long firstNonFinite = -1;
    double peakCpu = 0.0;
    double peakWall = 0.0;
    long peakCpuBlock = 0;
    // Blocks after parameter changes do more work (table rebuilds, filter redesigns); blocks
    // without show what the machine's interruptions alone add.
    double peakCpuChanged = 0.0;
    double peakCpuQuiet = 0.0;
    std::vector<double> cpuTimes;
    cpuTimes.reserve(static_cast<std::size_t>(blocks));
    const long warmUpBlocks = static_cast<long>(std::ceil(rate / blockSize));
    const double started = wallSeconds();

    for (long b = 0; b < blocks; ++b)
    {
        signal.render(block.getWritePointer(0), block.getWritePointer(1), blockSize);
        const int changed = randomChanges(*processor, rng);
        changes += changed;
        const double cpu0 = threadCpuSeconds();
        const double wall0 = wallSeconds();
        processor->processBlock(block, midi);
        const double wall = wallSeconds() - wall0;
        const double cpu = threadCpuSeconds() - cpu0;
        cpuTimes.push_back(cpu);
        if (cpu > peakCpu)
        {
            peakCpu = cpu;
            peakCpuBlock = b;
        }
        peakWall = std::max(peakWall, wall);
        double& peakOfKind = changed > 0 ? peakCpuChanged : peakCpuQuiet;
        peakOfKind = std::max(peakOfKind, cpu);

        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < blockSize; ++i)
                if (!std::isfinite(block.getSample(ch, i)) && nonFinite++ == 0)
                    firstNonFinite = b;
        // Until the first gain frames line up with the delayed audio, fallback is expected.
        if (b >= warmUpBlocks && processor->getEngineDiagnostics().fallback && fallbackBlocks++ == 0)
            firstFallback = b;

        if (b % 2000 == 0 || b + 1 == blocks)
        {
            const double done = static_cast<double>(b + 1) / static_cast<double>(blocks);
            const double elapsed = wallSeconds() - started;
            progress("soak: " + figure(100.0 * done, 1) + "% of " + figure(seconds, 0) + " s of audio, "
                     + figure(elapsed, 0) + " s elapsed, about " + figure(elapsed / done - elapsed, 0) + " s left");
        }
    }
    progressDone();

    std::printf("quillon-bench soak: %.0f s of varied stereo audio at 48 kHz through processBlock, %ld blocks of %d, "
                "%ld random parameter changes, %.0f s wall clock\n",
                static_cast<double>(blocks) * blockSeconds, blocks, blockSize, changes, wallSeconds() - started);
    std::printf("  non-finite output samples:     %ld", nonFinite);
    if (firstNonFinite >= 0)
        std::printf(" (first in block %ld, at %.2f s)", firstNonFinite, static_cast<double>(firstNonFinite) * blockSeconds);
    std::printf("\n  blocks ending in fallback:     %ld (after the first second)", fallbackBlocks);
    if (firstFallback >= 0)
        std::printf(" (first in block %ld, at %.2f s)", firstFallback, static_cast<double>(firstFallback) * blockSeconds);
    std::printf("\n  model path at the end:         %s\n",
                processor->getEngineDiagnostics().modelled ? "running" : "off");
    std::printf("  peak block time:               %.3f%% of the block's duration in CPU time (block %ld, at %.2f s), "
                "%.3f%% wall clock\n",
                100.0 * peakCpu / blockSeconds, peakCpuBlock, static_cast<double>(peakCpuBlock) * blockSeconds,
                100.0 * peakWall / blockSeconds);
    std::printf("  peak, blocks after changes:    %.3f%% CPU; blocks without: %.3f%% CPU\n",
                100.0 * peakCpuChanged / blockSeconds, 100.0 * peakCpuQuiet / blockSeconds);
    std::printf("  block time, CPU:               median %.3f%%, 99.99th percentile %.3f%%\n",
                100.0 * percentile(cpuTimes, 0.5) / blockSeconds, 100.0 * percentile(cpuTimes, 0.9999) / blockSeconds);
}
} // namespace quillonbench
