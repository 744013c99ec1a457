// quillon-bench-host: times the built Quillon bundle loaded through JUCE's VST3 hosting, as a
// DAW runs it. A separate program from quillon-bench because hosting needs JUCE built with
// VST3 hosting on, which the plug-in's own code is not. quillon-bench runs it and reads the
// one result line it prints.
#include "CpuClock.h"
#include "MusicSignal.h"
#include "PluginHost.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <vector>

namespace
{
void printUsage()
{
    std::cout <<
R"(Usage: quillon-bench-host [options]

Loads a Quillon VST3 bundle through JUCE's VST3 hosting, renders the bench's music-like
stereo signal through it at 48 kHz with default settings and prints
  realtime-factor <seconds of audio per CPU second>
Normally run by quillon-bench, which prints the figure beside its other measurements.

Options:
  --plugin PATH   the .vst3 bundle (default: the one this build produced)
  --seconds S     seconds of audio (default 10)
  --block N       block size in samples (default 512)
  --seed N        seed of the test signal (default 1)
  --help          this text
)";
}

[[noreturn]] void fail(const juce::String& message)
{
    std::cerr << "quillon-bench-host: " << message << "\n";
    std::exit(1);
}
} // namespace

int main(int argc, char** argv)
{
    juce::String bundle(QUILLON_BUILT_BUNDLE);
    double seconds = 10.0;
    int blockSize = 512;
    std::uint64_t seed = 1;
    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg(argv[i]);
        if (arg == "--help" || arg == "-h")
        {
            printUsage();
            return 0;
        }
        if (i + 1 >= argc)
            fail("unknown option or missing value: \"" + arg + "\" (see --help)");
        const juce::String value(argv[++i]);
        const bool numeric = value.containsOnly("0123456789.") && value.isNotEmpty();
        if (arg == "--plugin")
            bundle = value;
        else if (arg == "--seconds" && numeric && value.getDoubleValue() > 0.0)
            seconds = value.getDoubleValue();
        else if (arg == "--block" && numeric && value.getIntValue() >= 1 && value.getIntValue() <= 65536)
            blockSize = value.getIntValue();
        else if (arg == "--seed" && numeric)
            seed = static_cast<std::uint64_t>(value.getLargeIntValue());
        else
            fail("bad option \"" + arg + " " + value + "\" (see --help)");
    }

    const juce::ScopedJuceInitialiser_GUI juce;
    juce::String error;
    auto plugin = quillon::host::loadVst3(bundle, quillonbench::MusicSignal::sampleRate, blockSize, error);
    if (plugin == nullptr)
        fail(error);
    if (!quillon::host::preparePlugin(*plugin, quillonbench::MusicSignal::sampleRate, blockSize, 2, error))
        fail(error);

    const auto frames = static_cast<int>(seconds * quillonbench::MusicSignal::sampleRate);
    std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size());
    quillonbench::MusicSignal(seed).render(left.data(), right.data(), frames);

    juce::AudioBuffer<float> block(2, blockSize);
    juce::MidiBuffer midi;
    const double start = quillonbench::threadCpuSeconds();
    for (int at = 0; at < frames; at += blockSize)
    {
        const int n = std::min(blockSize, frames - at);
        block.setSize(2, n, false, false, true);
        block.copyFrom(0, 0, left.data() + at, n);
        block.copyFrom(1, 0, right.data() + at, n);
        plugin->processBlock(block, midi);
    }
    const double cpu = quillonbench::threadCpuSeconds() - start;
    std::printf("realtime-factor %.6g\n", seconds / cpu);
    return 0;
}
