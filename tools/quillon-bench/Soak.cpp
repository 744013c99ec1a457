#include "Soak.h"

#include "BenchSupport.h"
#include "CpuClock.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
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

// One pass over the whole run; both passes render the same audio with the same changes.
struct Pass
{
    std::vector<double> cpu;     // each block's CPU time
    std::vector<bool> changed;   // the block came after parameter changes
    double peakWall = 0.0;
    long changes = 0;
    long nonFinite = 0;
    long firstNonFinite = -1;
    long fallbackBlocks = 0;
    long firstFallback = -1;
    bool runningAtEnd = false;
};

Pass runPass(long blocks, int blockSize, std::uint64_t seed, const std::string& label)
{
    MusicSignal signal(seed, true);
    auto processor = std::make_unique<QuillonAudioProcessor>();
    processor->prepareToPlay(rate, blockSize);
    juce::AudioBuffer<float> block(2, blockSize);
    juce::MidiBuffer midi;
    std::uint64_t rng = 0x2545F4914F6CDD1Dull ^ seed;
    Pass pass;
    pass.cpu.reserve(static_cast<std::size_t>(blocks));
    pass.changed.reserve(static_cast<std::size_t>(blocks));
    // Until the first gain frames line up with the delayed audio, fallback is expected.
    const long warmUpBlocks = static_cast<long>(std::ceil(rate / blockSize));
    const double started = wallSeconds();

    for (long b = 0; b < blocks; ++b)
    {
        signal.render(block.getWritePointer(0), block.getWritePointer(1), blockSize);
        const int changed = randomChanges(*processor, rng);
        pass.changes += changed;
        const double cpu0 = threadCpuSeconds();
        const double wall0 = wallSeconds();
        processor->processBlock(block, midi);
        const double wall = wallSeconds() - wall0;
        pass.cpu.push_back(threadCpuSeconds() - cpu0);
        pass.changed.push_back(changed > 0);
        pass.peakWall = std::max(pass.peakWall, wall);

        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < blockSize; ++i)
                if (!std::isfinite(block.getSample(ch, i)) && pass.nonFinite++ == 0)
                    pass.firstNonFinite = b;
        if (b >= warmUpBlocks && processor->getEngineDiagnostics().fallback && pass.fallbackBlocks++ == 0)
            pass.firstFallback = b;

        if (b % 2000 == 0 || b + 1 == blocks)
        {
            const double done = static_cast<double>(b + 1) / static_cast<double>(blocks);
            const double elapsed = wallSeconds() - started;
            progress("soak, " + label + ": " + figure(100.0 * done, 1) + "%, " + figure(elapsed, 0)
                     + " s elapsed, about " + figure(elapsed / done - elapsed, 0) + " s left");
        }
    }
    pass.runningAtEnd = processor->getEngineDiagnostics().modelled;
    return pass;
}

void printFinding(const char* what, long count, long firstBlock, double blockSeconds)
{
    std::printf("  %-40s %ld", what, count);
    if (firstBlock >= 0)
        std::printf(" (first in block %ld, at %.2f s)", firstBlock, static_cast<double>(firstBlock) * blockSeconds);
    std::printf("\n");
}

} // namespace

// The run is rendered twice, identically: the first pass is checked for non-finite output
// and fallbacks, and each block's time is its faster pass, which filters out the machine's
// interruptions; the single slowest measurement is printed as well.
void runSoak(double seconds, int blockSize, std::uint64_t seed)
{
    const long blocks = static_cast<long>(std::ceil(seconds * rate / blockSize));
    const double blockSeconds = static_cast<double>(blockSize) / rate;
    const double started = wallSeconds();
    const Pass first = runPass(blocks, blockSize, seed, "pass 1 of 2");
    const Pass second = runPass(blocks, blockSize, seed, "pass 2 of 2");
    progressDone();

    std::vector<double> fastest(first.cpu.size());
    double peak = 0.0, peakChanged = 0.0, peakQuiet = 0.0;
    long peakBlock = 0;
    for (std::size_t b = 0; b < fastest.size(); ++b)
    {
        fastest[b] = std::min(first.cpu[b], second.cpu[b]);
        if (fastest[b] > peak)
        {
            peak = fastest[b];
            peakBlock = static_cast<long>(b);
        }
        double& peakOfKind = first.changed[b] ? peakChanged : peakQuiet;
        peakOfKind = std::max(peakOfKind, fastest[b]);
    }
    const double rawPeak = std::max(largest(first.cpu), largest(second.cpu));
    const auto share = [blockSeconds](double t) { return 100.0 * t / blockSeconds; };

    std::printf("quillon-bench soak: %.0f s of varied stereo audio at 48 kHz through processBlock, %ld blocks of %d,\n"
                "  %ld random parameter changes, rendered twice (%.0f s wall clock)\n",
                static_cast<double>(blocks) * blockSeconds, blocks, blockSize, first.changes, wallSeconds() - started);
    printFinding("non-finite output samples:", first.nonFinite, first.firstNonFinite, blockSeconds);
    printFinding("blocks ending in fallback (after 1 s):", first.fallbackBlocks, first.firstFallback, blockSeconds);
    std::printf("  %-40s %s\n", "model path at the end:", first.runningAtEnd ? "running" : "off");
    std::printf("  %-40s %.3f%% of the block's duration (block %ld, at %.2f s, %s parameter changes)\n",
                "peak block time, faster pass:", share(peak), peakBlock, static_cast<double>(peakBlock) * blockSeconds,
                first.changed[static_cast<std::size_t>(peakBlock)] ? "after" : "without");
    std::printf("  %-40s %.3f%% after parameter changes, %.3f%% without\n", "", share(peakChanged), share(peakQuiet));
    std::printf("  %-40s median %.3f%%, 99.99th percentile %.3f%%\n", "block time, faster pass:",
                share(percentile(fastest, 0.5)), share(percentile(fastest, 0.9999)));
    std::printf("  %-40s %.3f%% CPU time, %.3f%% wall clock\n", "slowest single measurement:", share(rawPeak),
                share(std::max(first.peakWall, second.peakWall)));
}
} // namespace quillonbench
