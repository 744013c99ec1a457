// quillon-render: loads the Quillon VST3 bundle the way a DAW does, shows what the host
// sees of it, and runs audio through it.
#include "FactoryInfo.h"
#include "PluginHost.h"

#include <cmath>
#include <cstdio>
#include <iostream>

namespace
{
struct Options
{
    juce::String bundle;
    double sampleRate = 48000.0;
    int channels = 2;
    int blockSize = 512;
    bool infoOnly = false;
    juce::StringArray settings;
};

void printUsage()
{
    std::cout <<
R"(Usage: quillon-render [options]

Loads a Quillon VST3 bundle through JUCE's VST3 hosting, prints its identity, parameters
and latency, and renders a built-in demo signal (1 kHz tone bursts) through it.

Options:
  --plugin PATH      the .vst3 bundle (default: the one this build produced,
                     else ~/.vst3/Quillon.vst3)
  --rate HZ          sample rate (default 48000; the model runs at 48000 only and
                     passes audio through unchanged at other rates)
  --channels N       1 or 2 (default 2)
  --block N          block size in samples (default 512)
  --set ID=VALUE     set a parameter by identifier or name before rendering, e.g.
                     --set peakReduction=40 --set compLimit=Limit (repeatable)
  --info             print identity, parameters and latency only
  --help             this text
)";
}

[[noreturn]] void fail(const juce::String& message)
{
    std::cerr << "quillon-render: " << message << "\n";
    std::exit(1);
}

juce::String defaultBundle()
{
    const juce::File built(QUILLON_BUILT_BUNDLE);
    if (built.exists())
        return built.getFullPathName();
    return juce::File::getSpecialLocation(juce::File::userHomeDirectory).getChildFile(".vst3/Quillon.vst3").getFullPathName();
}

Options parseOptions(int argc, char** argv)
{
    Options o;
    o.bundle = defaultBundle();
    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg(argv[i]);
        auto next = [&]() -> juce::String {
            if (i + 1 >= argc)
                fail(arg + " needs a value (see --help)");
            return juce::String(argv[++i]);
        };
        auto nextNumber = [&](double low, double high) {
            const auto text = next();
            const double v = text.getDoubleValue();
            if (!text.containsOnly("0123456789.") || !(v >= low && v <= high))
                fail(arg + " takes a number from " + juce::String(low) + " to " + juce::String(high) + ", not \"" + text + "\"");
            return v;
        };

        if (arg == "--help" || arg == "-h") { printUsage(); std::exit(0); }
        else if (arg == "--plugin") o.bundle = next();
        else if (arg == "--rate") o.sampleRate = nextNumber(8000.0, 384000.0);
        else if (arg == "--channels") o.channels = static_cast<int>(nextNumber(1.0, 2.0));
        else if (arg == "--block") o.blockSize = static_cast<int>(nextNumber(1.0, 65536.0));
        else if (arg == "--set") o.settings.add(next());
        else if (arg == "--info") o.infoOnly = true;
        else fail("unknown option \"" + arg + "\" (see --help)");
    }
    return o;
}

void printIdentity(const juce::String& bundle)
{
    quillon::host::FactoryInfo info;
    std::string error;
    if (!quillon::host::readFactoryInfo(bundle.toStdString(), info, error))
        fail(error);

    std::cout << "Bundle   " << bundle << "\n"
              << "Vendor   " << info.vendor << " (" << info.url << ")\n";
    for (const auto& c : info.classes)
        std::cout << "Class    " << c.name << "  [" << c.category << "]  " << c.subCategories
                  << "  version " << c.version << "  " << c.sdkVersion
                  << "  cid " << quillon::host::formatClassId(c.cid) << "\n";
}

void printParameters(juce::AudioPluginInstance& plugin)
{
    std::cout << "\nParameters\n";
    int index = 1;
    for (auto* p : plugin.getParameters())
    {
        juce::String id = "?";
        if (auto* hosted = dynamic_cast<juce::HostedAudioProcessorParameter*>(p))
            id = hosted->getParameterID();
        std::printf("  %d. %-14s id %-11s range %s .. %s  default %s\n", index++, p->getName(64).toRawUTF8(),
                    id.toRawUTF8(), p->getText(0.0f, 64).toRawUTF8(), p->getText(1.0f, 64).toRawUTF8(),
                    p->getText(p->getDefaultValue(), 64).toRawUTF8());
    }
}

void applySettings(juce::AudioPluginInstance& plugin, const juce::StringArray& settings)
{
    for (const auto& s : settings)
    {
        const auto key = s.upToFirstOccurrenceOf("=", false, false).trim();
        const auto value = s.fromFirstOccurrenceOf("=", false, false).trim();
        if (!s.contains("=") || key.isEmpty())
            fail("--set takes ID=VALUE, not \"" + s + "\"");
        auto* parameter = quillon::host::findParameter(plugin, key);
        if (parameter == nullptr)
            fail("the plug-in has no parameter \"" + key + "\"");
        juce::String error;
        if (!quillon::host::setParameterFromText(*parameter, value, error))
            fail(error);
    }
}

double toDb(double x) { return x > 0.0 ? 20.0 * std::log10(x) : -INFINITY; }

// 1 kHz bursts: a quiet passage, a loud one, and quiet again, so the compressor's attack
// and release both show.
void renderDemo(juce::AudioPluginInstance& plugin, const Options& o)
{
    struct Segment { const char* name; double seconds; double levelDb; };
    const Segment segments[] = { { "quiet", 1.0, -30.0 }, { "loud", 1.5, -6.0 }, { "quiet again", 1.5, -30.0 } };

    const int latency = plugin.getLatencySamples();
    std::cout << "\nLatency  " << latency << " samples at " << o.sampleRate << " Hz, " << o.channels << " channel(s)\n\n"
              << "Demo: 1 kHz tone bursts (output aligned by the latency)\n"
              << "  segment        input RMS   output RMS   change\n";

    std::vector<float> input;
    for (const auto& s : segments)
    {
        const auto n = static_cast<size_t>(s.seconds * o.sampleRate);
        const double amplitude = std::pow(10.0, s.levelDb / 20.0);
        for (size_t i = 0; i < n; ++i)
            input.push_back(static_cast<float>(amplitude * std::sin(2.0 * juce::MathConstants<double>::pi * 1000.0
                                                                    * static_cast<double>(input.size()) / o.sampleRate)));
    }

    const size_t total = input.size() + static_cast<size_t>(latency);
    std::vector<float> output(total);
    juce::AudioBuffer<float> block(o.channels, o.blockSize);
    juce::MidiBuffer midi;
    for (size_t start = 0; start < total; start += static_cast<size_t>(o.blockSize))
    {
        const int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(o.blockSize), total - start));
        block.setSize(o.channels, n, false, false, true);
        for (int ch = 0; ch < o.channels; ++ch)
            for (int i = 0; i < n; ++i)
                block.setSample(ch, i, start + static_cast<size_t>(i) < input.size() ? input[start + static_cast<size_t>(i)] : 0.0f);
        plugin.processBlock(block, midi);
        for (int i = 0; i < n; ++i)
            output[start + static_cast<size_t>(i)] = block.getSample(0, i);
    }

    size_t begin = 0;
    for (const auto& s : segments)
    {
        const auto n = static_cast<size_t>(s.seconds * o.sampleRate);
        double inSum = 0.0, outSum = 0.0;
        for (size_t i = begin; i < begin + n; ++i)
        {
            inSum += static_cast<double>(input[i]) * input[i];
            const double y = output[i + static_cast<size_t>(latency)];
            outSum += y * y;
        }
        const double inDb = toDb(std::sqrt(inSum / static_cast<double>(n)));
        const double outDb = toDb(std::sqrt(outSum / static_cast<double>(n)));
        std::printf("  %-13s %7.2f dB  %8.2f dB  %+7.2f dB\n", s.name, inDb, outDb, outDb - inDb);
        begin += n;
    }
}
} // namespace

int main(int argc, char** argv)
{
    const Options options = parseOptions(argc, argv);
    const juce::ScopedJuceInitialiser_GUI juce;

    printIdentity(options.bundle);

    juce::String error;
    auto plugin = quillon::host::loadVst3(options.bundle, options.sampleRate, options.blockSize, error);
    if (plugin == nullptr)
        fail(error);
    if (!quillon::host::preparePlugin(*plugin, options.sampleRate, options.blockSize, options.channels, error))
        fail(error);

    printParameters(*plugin);
    applySettings(*plugin, options.settings);

    if (options.infoOnly)
        std::cout << "\nLatency  " << plugin->getLatencySamples() << " samples at " << options.sampleRate << " Hz, "
                  << options.channels << " channel(s)\n";
    else
        renderDemo(*plugin, options);

    plugin->releaseResources();
    return 0;
}
