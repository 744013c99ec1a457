// quillon-curves: measures Quillon's curves by running test tones through the VST3 bundle as a
// host does, and writes them as CSV files for plot_curves.py:
//   transfer.csv  steady 1 kHz tone, input level against output level, per mode and Peak Reduction
//   burst.csv     gain reduction over time for a loud 1 kHz burst between quiet passages
//   makeup.csv    gain for a quiet tone over the Gain knob
#include "PluginHost.h"
#include "Render.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>

namespace
{
namespace host = quillon::host;

constexpr double sampleRate = 48000.0; // the model's only rate
constexpr int blockSize = 512;
// A sine's RMS lies 3.01 dB below its peak; levels here are peak levels, as dBFS is for a tone.
const double rmsToPeakDb = 10.0 * std::log10(2.0);

struct Settings
{
    const char* mode;
    double peakReduction;
};

[[noreturn]] void fail(const juce::String& message)
{
    std::cerr << "quillon-curves: " << message << "\n";
    std::exit(1);
}

std::unique_ptr<juce::AudioPluginInstance> load(const juce::String& bundle, const juce::StringArray& settings)
{
    juce::String error;
    auto plugin = host::loadVst3(bundle, sampleRate, blockSize, error);
    if (plugin == nullptr || !host::preparePlugin(*plugin, sampleRate, blockSize, 1, error))
        fail(error);
    plugin->setNonRealtime(true);
    for (const auto& s : settings)
        if (!host::applySetting(*plugin, s, error))
            fail(error);
    return plugin;
}

double rmsDb(const juce::AudioBuffer<float>& audio, int start, int end)
{
    double sum = 0.0;
    for (int i = start; i < end; ++i)
        sum += static_cast<double>(audio.getSample(0, i)) * audio.getSample(0, i);
    return 10.0 * std::log10(sum / (end - start));
}

// Output level of a steady tone once the plug-in has settled on it, from a fresh start. The
// last two half seconds must agree, or the tone was too short to settle.
double steadyOutputDb(juce::AudioPluginInstance& plugin, double levelDb, double seconds)
{
    juce::String error;
    host::preparePlugin(plugin, sampleRate, blockSize, 1, error);
    const auto tone = host::makeTone({ { "", seconds, levelDb } }, sampleRate, 1);
    const auto output = host::renderBuffer(plugin, tone, blockSize);
    const int n = output.getNumSamples();
    const int half = static_cast<int>(sampleRate / 2);
    const double last = rmsDb(output, n - half, n);
    const double before = rmsDb(output, n - 2 * half, n - half);
    if (std::abs(last - before) > 0.02)
        std::cerr << "quillon-curves: warning: at " << levelDb << " dBFS the output still moves by "
                  << last - before << " dB after " << seconds << " s\n";
    return last + rmsToPeakDb;
}

void writeTransfer(const juce::String& bundle, const juce::File& folder)
{
    std::ofstream csv(folder.getChildFile("transfer.csv").getFullPathName().toStdString());
    csv << "mode,peakReduction,inputDb,outputDb\n";
    for (const char* mode : { "Comp", "Limit" })
        for (double peak : { 0.0, 25.0, 50.0, 75.0, 100.0 })
        {
            std::cerr << "transfer: " << mode << ", Peak Reduction " << peak << "\n";
            auto plugin = load(bundle, { juce::String("compLimit=") + mode, "peakReduction=" + juce::String(peak) });
            for (int level = -60; level <= 0; ++level)
                csv << mode << "," << peak << "," << level << ","
                    << juce::String(steadyOutputDb(*plugin, level, 4.0), 4) << "\n";
        }
}

void writeBurst(const juce::String& bundle, const juce::File& folder)
{
    const std::vector<host::ToneSegment> burst = { { "before", 1.0, -40.0 }, { "burst", 1.0, -6.0 },
                                                   { "after", 6.0, -40.0 } };
    const auto input = host::makeTone(burst, sampleRate, 1);
    const Settings settings[] = { { "Comp", 25.0 }, { "Comp", 50.0 }, { "Comp", 75.0 }, { "Comp", 100.0 },
                                  { "Limit", 50.0 }, { "Limit", 100.0 } };
    const int window = 48; // one period of the tone: 1 ms

    std::ofstream csv(folder.getChildFile("burst.csv").getFullPathName().toStdString());
    csv << "mode,peakReduction,timeSeconds,reductionDb\n";
    for (const auto& s : settings)
    {
        std::cerr << "burst: " << s.mode << ", Peak Reduction " << s.peakReduction << "\n";
        auto plugin = load(bundle, { juce::String("compLimit=") + s.mode, "peakReduction=" + juce::String(s.peakReduction) });
        const double restDb = host::measureRestGainDb(*plugin, sampleRate, blockSize, 1);
        const auto output = host::renderBuffer(*plugin, input, blockSize);
        for (int start = 0; start + window <= input.getNumSamples(); start += window)
        {
            const double gain = rmsDb(output, start, start + window) - rmsDb(input, start, start + window);
            csv << s.mode << "," << s.peakReduction << "," << juce::String((start + window / 2) / sampleRate, 5) << ","
                << juce::String(restDb - gain, 4) << "\n";
        }
    }
}

void writeMakeup(const juce::String& bundle, const juce::File& folder)
{
    std::cerr << "make-up gain\n";
    auto plugin = load(bundle, {});
    const auto tone = host::makeTone({ { "", 0.5, -60.0 } }, sampleRate, 1);
    std::ofstream csv(folder.getChildFile("makeup.csv").getFullPathName().toStdString());
    csv << "gain,quietToneGainDb\n";
    // Half steps, and tenths where the curve dives towards silence.
    for (int tenths = 0; tenths <= 1000; tenths += (tenths >= 80 && tenths < 120) ? 1 : 5)
    {
        const double gain = tenths / 10.0;
        juce::String error;
        if (!host::applySetting(*plugin, "gain=" + juce::String(gain, 1), error))
            fail(error);
        host::preparePlugin(*plugin, sampleRate, blockSize, 1, error);
        const auto output = host::renderBuffer(*plugin, tone, blockSize);
        const int n = output.getNumSamples();
        const double outDb = rmsDb(output, n / 2, n);
        csv << juce::String(gain, 1) << ","
            << (std::isfinite(outDb) ? juce::String(outDb - rmsDb(tone, n / 2, n), 4) : juce::String("nan")) << "\n";
    }
}
} // namespace

int main(int argc, char** argv)
{
    juce::String bundle = juce::File(QUILLON_BUILT_BUNDLE).getFullPathName();
    juce::File folder = juce::File::getCurrentWorkingDirectory();
    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg(argv[i]);
        if (arg == "--help" || arg == "-h")
        {
            std::cout << "Usage: quillon-curves [--plugin BUNDLE] [--out FOLDER]\n\n"
                         "Measures Quillon's curves through the VST3 bundle (default: the one this build\n"
                         "produced) at 48 kHz, mono, and writes transfer.csv, burst.csv and makeup.csv\n"
                         "into FOLDER (default: the current folder). tools/plots/plot_curves.py draws them.\n";
            return 0;
        }
        if ((arg == "--plugin" || arg == "--out") && i + 1 < argc)
        {
            const juce::String value(argv[++i]);
            if (arg == "--plugin")
                bundle = value;
            else
                folder = juce::File::getCurrentWorkingDirectory().getChildFile(value);
        }
        else
        {
            fail("unknown argument \"" + arg + "\" (see --help)");
        }
    }
    const juce::ScopedJuceInitialiser_GUI juce;
    if (!folder.createDirectory())
        fail("cannot create " + folder.getFullPathName());

    writeMakeup(bundle, folder);
    writeBurst(bundle, folder);
    writeTransfer(bundle, folder);
    std::cerr << "wrote transfer.csv, burst.csv and makeup.csv into " << folder.getFullPathName() << "\n";
    return 0;
}
