// quillon-render: runs audio files (or a built-in demo) through the Quillon VST3 bundle, loaded
// the way a DAW loads it, and prints what the plug-in did to the levels.
#include "FactoryInfo.h"
#include "PluginHost.h"
#include "Render.h"
#include "RenderJob.h"

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <iostream>

namespace
{
struct Options
{
    quillon::host::RenderJob job;
    bool infoOnly = false;
    bool progress = true;
    bool rateOrChannelsGiven = false;
};

void printUsage()
{
    std::cout <<
R"(Usage: quillon-render [options] [INPUT [OUTPUT]]

Runs an audio file through the Quillon VST3 plug-in, loaded through JUCE's VST3 hosting the
way a DAW loads it, writes the result and prints a summary. Without INPUT it renders a
built-in demo signal (a 1 kHz tone: 1 s at -30 dBFS, 1.5 s at -6 dBFS, 1.5 s at -30 dBFS)
and shows what the compressor did to each part.

Files
  INPUT               a WAV (.wav), AIFF (.aif, .aiff) or FLAC (.flac) file with as many
                      channels as the plug-in takes (Quillon: 1 or 2)
  OUTPUT, -o, --output PATH
                      the result, written as WAV, AIFF or FLAC by its extension; default:
                      INPUT's name with "-quillon" added (song.wav -> song-quillon.wav).
                      The demo writes a file only when one is named.
  The output has the input's sample rate, channels and length (plus --tail), and its
  sample i lines up with input sample i: the plug-in's latency (Quillon: 159 samples at
  48 kHz) is taken off the front and the end of the input is run out of the plug-in.
  It has the input's bit depth (32-bit float stays float in WAV) or 24 bits where the
  format lacks that depth. The input file is never written over. The output is written
  under a hidden temporary name beside it and renamed when complete: a failed or
  interrupted render leaves no file behind, and an older output file stays as it was.

Plug-in settings
  --plugin PATH       the .vst3 bundle (default: the one this build produced, else
                      ~/.vst3/Quillon.vst3)
  --set ID=VALUE      sets a parameter before rendering (repeatable). ID is the
                      parameter's identifier (peakReduction, gain, compLimit, emphasis,
                      meter, mix, power, bypass), its VST3 id or its name as --info shows
                      it ("Peak Reduct"; letter case does not matter). VALUE is a number in
                      the parameter's units (peakReduction=40, gain=45.5, mix=70) or one of
                      its values by name or index (compLimit=Limit, meter="+4 dB",
                      power=Off, bypass=On, compLimit=1).
  --state-in FILE     restores the plug-in's settings from FILE before --set applies
  --state-out FILE    saves the settings after --state-in and --set, also with --info
  A settings file is the plug-in's state as a host gets it from the plug-in: the block
  that a JUCE-based host stores in its project (the VST3 component's and controller's
  state, in JUCE's binary XML envelope). A FILE ending in .vstpreset is a standard VST3
  preset instead, which DAWs load and save in their plug-in preset menus: use that to
  carry settings between quillon-render and a DAW.

Rendering
  --bits N            output bit depth: 16 or 24 (WAV, AIFF, FLAC), 8 (WAV, AIFF),
                      32 (WAV, floating point)
  --tail SECONDS      output to add after the end of the input (default: the tail the
                      plug-in reports; Quillon reports none)
  --block N           block size in samples (default 512)
  --rate HZ           the demo's sample rate (default 48000); a file keeps its own
  --channels N        the demo's channel count, 1 or 2 (default 2); a file keeps its own
  Quillon models at 48000 Hz only. At other sample rates it passes the audio through
  unchanged, and quillon-render warns.

Output on the terminal
  The plug-in, the input, the settings and the latency; a progress bar on long files;
  then a summary: peak and RMS level of the input and of the output (over all channels);
  the gain reduction, read from the levels: in each 10 ms window whose input is above
  -50 dBFS, the plug-in's gain at rest (its gain for a quiet 1 kHz tone with the same
  settings) minus its gain in that window (output level minus input level), as the
  maximum and the mean over those windows; the time taken and the realtime factor.

Other
  --info              prints the plug-in's identity, parameters and latency (at INPUT's
                      sample rate, or --rate) and the settings; renders nothing
  --no-progress       no progress bar
  -h, --help          this text

Exit status: 0 when done, 1 when something could not be done (the message says what),
2 for a mistake on the command line, 130 when interrupted.
)";
}

[[noreturn]] void usageError(const juce::String& message)
{
    std::cerr << "quillon-render: " << message << " (see --help)\n";
    std::exit(2);
}

juce::String defaultBundle()
{
    const juce::File built(QUILLON_BUILT_BUNDLE);
    if (built.exists())
        return built.getFullPathName();
    return juce::File::getSpecialLocation(juce::File::userHomeDirectory).getChildFile(".vst3/Quillon.vst3").getFullPathName();
}

juce::File fileArgument(const juce::String& path)
{
    return juce::File::getCurrentWorkingDirectory().getChildFile(path);
}

Options parseOptions(int argc, char** argv)
{
    Options o;
    o.job.bundle = defaultBundle();
    juce::StringArray positional;
    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg(argv[i]);
        auto next = [&]() -> juce::String {
            if (i + 1 >= argc)
                usageError(arg + " needs a value");
            return juce::String(argv[++i]);
        };
        auto nextNumber = [&](double low, double high) {
            const auto text = next();
            const double v = text.getDoubleValue();
            if (text.isEmpty() || !text.containsOnly("0123456789.") || !(v >= low && v <= high))
                usageError(arg + " takes a number from " + juce::String(low) + " to " + juce::String(high) + ", not \""
                           + text + "\"");
            return v;
        };
        auto nextWhole = [&](double low, double high) {
            const double v = nextNumber(low, high);
            if (v - std::floor(v) > 0.0)
                usageError(arg + " takes a whole number");
            return static_cast<int>(v);
        };

        if (arg == "--help" || arg == "-h") { printUsage(); std::exit(0); }
        else if (arg == "--plugin") o.job.bundle = next();
        else if (arg == "-o" || arg == "--output") o.job.output = fileArgument(next());
        else if (arg == "--set") o.job.settings.add(next());
        else if (arg == "--state-in") o.job.stateIn = fileArgument(next());
        else if (arg == "--state-out") o.job.stateOut = fileArgument(next());
        else if (arg == "--bits") o.job.bits = nextWhole(8.0, 32.0);
        else if (arg == "--tail") o.job.tailSeconds = nextNumber(0.0, 3600.0);
        else if (arg == "--block") o.job.blockSize = nextWhole(1.0, 65536.0);
        else if (arg == "--rate") o.job.demoSampleRate = nextNumber(8000.0, 384000.0), o.rateOrChannelsGiven = true;
        else if (arg == "--channels") o.job.demoChannels = nextWhole(1.0, 2.0), o.rateOrChannelsGiven = true;
        else if (arg == "--info") o.infoOnly = true;
        else if (arg == "--no-progress") o.progress = false;
        else if (arg.startsWith("-") && arg.length() > 1) usageError("unknown option \"" + arg + "\"");
        else positional.add(arg);
    }

    if (positional.size() > 2)
        usageError("too many files: \"" + positional[2] + "\"");
    if (positional.size() == 2 && o.job.output != juce::File())
        usageError("two outputs named: \"" + positional[1] + "\" and -o");
    if (!positional.isEmpty())
    {
        o.job.input = fileArgument(positional[0]);
        if (positional.size() == 2)
            o.job.output = fileArgument(positional[1]);
        else if (o.job.output == juce::File())
            o.job.output = o.job.input.getSiblingFile(o.job.input.getFileNameWithoutExtension() + "-quillon"
                                                      + o.job.input.getFileExtension());
        if (o.rateOrChannelsGiven)
            usageError("--rate and --channels set up the demo; a file keeps its own sample rate and channels");
    }
    o.job.render = !o.infoOnly;
    return o;
}

juce::String db(double linear, int decimals = 2)
{
    return linear > 0.0 ? juce::String(quillon::host::toDb(linear), decimals) : juce::String("-inf");
}

// "3.14 dB", or "n/a" where nothing could be read.
juce::String dbValue(double value)
{
    if (std::isnan(value))
        return "n/a";
    return juce::String(std::abs(value) < 0.005 ? 0.0 : value, 2) + " dB";
}

void printIdentity(const juce::String& bundle)
{
    quillon::host::FactoryInfo info;
    std::string error;
    if (!quillon::host::readFactoryInfo(bundle.toStdString(), info, error))
    {
        std::cerr << "quillon-render: " << error << "\n";
        std::exit(1);
    }
    std::cout << "Bundle   " << bundle << "\n"
              << "Vendor   " << info.vendor << " (" << info.url << ")\n";
    for (const auto& c : info.classes)
        std::cout << "Class    " << c.name << "  [" << c.category << "]  " << c.subCategories << "  version " << c.version
                  << "  " << c.sdkVersion << "  cid " << quillon::host::formatClassId(c.cid) << "\n";
}

void printParameters(const juce::String& bundle, double sampleRate)
{
    juce::String error;
    auto plugin = quillon::host::loadVst3(bundle, sampleRate, 512, error);
    if (plugin == nullptr)
        return;
    std::cout << "\nParameters (name, VST3 id, range, default)\n";
    int index = 1;
    for (auto* p : plugin->getParameters())
    {
        juce::String id = "?";
        if (auto* hosted = dynamic_cast<juce::HostedAudioProcessorParameter*>(p))
            id = hosted->getParameterID();
        std::printf("  %d. %-14s VST3 id %-11s range %s .. %s  default %s\n", index++, p->getName(64).toRawUTF8(),
                    id.toRawUTF8(), p->getText(0.0f, 64).toRawUTF8(), p->getText(1.0f, 64).toRawUTF8(),
                    p->getText(p->getDefaultValue(), 64).toRawUTF8());
    }
    std::cout << "\n";
}

// Prints the warnings not printed yet: some arise before the render, some after.
void printWarnings(const quillon::host::RenderReport& r)
{
    static int printed = 0;
    for (; printed < r.warnings.size(); ++printed)
        std::cout << "Warning   " << r.warnings[printed] << "\n";
}

void printHeader(const Options& o, const quillon::host::RenderReport& r)
{
    std::cout << "Plug-in   " << r.pluginMaker << ", " << o.job.bundle << "\n"
              << "Input     " << r.inputDescription << "\n";
    if (o.job.render)
        std::cout << "Output    "
                  << (r.outputDescription.isNotEmpty() ? r.outputDescription : juce::String("none (-o FILE writes one)"))
                  << "\n";
    std::cout << "Settings  " << r.settings << "\n"
              << "Latency   " << r.latencySamples << " samples at " << r.sampleRate << " Hz"
              << (r.latencySamples > 0 && o.job.render ? ", compensated" : "") << "\n";
    printWarnings(r);
    std::cout << std::flush;
}

// Levels and gain reduction of each demo segment; the last 0.1 s shows where attack and
// release have got to.
void printDemoSegments(const quillon::host::RenderReport& r)
{
    std::cout << "\nDemo (output lined up with the input)\n"
              << "  segment              input RMS     output RMS    gain reduction\n"
              << "                                                    mean   last 0.1 s\n";
    size_t first = 0;
    for (const auto& s : quillon::host::demoSegments())
    {
        const size_t end = std::min(first + static_cast<size_t>(std::llround(s.seconds * 100.0)), r.inputWindows.size());
        double in = 0.0, out = 0.0, reduction = 0.0, lastReduction = 0.0;
        int n = 0, lastN = 0;
        for (size_t w = first; w < end; ++w)
        {
            in += r.inputWindows[w];
            out += r.outputWindows[w];
            if (std::isnan(r.windowReductionDb[w]))
                continue;
            reduction += r.windowReductionDb[w], ++n;
            if (w + 10 >= end)
                lastReduction += r.windowReductionDb[w], ++lastN;
        }
        const double windows = static_cast<double>(std::max<size_t>(1, end - first));
        std::printf("  %-12s %4.1f s   %7s dBFS  %7s dBFS  %9s  %9s\n", s.name.toRawUTF8(), s.seconds,
                    db(std::sqrt(in / windows)).toRawUTF8(), db(std::sqrt(out / windows)).toRawUTF8(),
                    dbValue(n > 0 ? reduction / n : NAN).toRawUTF8(),
                    dbValue(lastN > 0 ? lastReduction / lastN : NAN).toRawUTF8());
        first = end;
    }
}

void printSummary(const quillon::host::RenderReport& r)
{
    const double seconds = static_cast<double>(r.inputSamples) / r.sampleRate;
    std::cout << "\nSummary\n"
              << "  input           peak " << db(r.inputPeak) << " dBFS, RMS " << db(r.inputRms) << " dBFS\n"
              << "  output          peak " << db(r.outputPeak) << " dBFS, RMS " << db(r.outputRms) << " dBFS"
              << (r.tailSamples > 0 ? " (with " + juce::String(r.tailSamples) + " samples of tail)" : juce::String())
              << "\n"
              << "  gain reduction  max " << dbValue(r.maxReductionDb) << ", mean " << dbValue(r.meanReductionDb)
              << "  (10 ms windows above " << quillon::host::reductionGateDb << " dBFS, against the gain at rest, "
              << (std::isfinite(r.restGainDb) ? (r.restGainDb >= 0 ? "+" : "") + juce::String(r.restGainDb, 2) + " dB"
                                              : juce::String("silent"))
              << ")\n"
              << "  time            " << juce::String(r.renderSeconds, 2) << " s for " << juce::String(seconds, 2)
              << " s of audio (" << (r.renderSeconds > 0.0 ? juce::String(seconds / r.renderSeconds, 1) : "-")
              << "x realtime)\n";
}

// Draws on stderr, only on a terminal and only once a render has run for half a second.
class ProgressBar
{
public:
    explicit ProgressBar(bool wanted) : enabled(wanted && isatty(STDERR_FILENO) != 0) {}

    void update(double fraction)
    {
        const double now = juce::Time::getMillisecondCounterHiRes();
        if (!enabled || now - started < 500.0 || now - lastDrawn < 100.0)
            return;
        lastDrawn = now;
        const int width = 40;
        const int filled = static_cast<int>(fraction * width);
        std::fprintf(stderr, "\r  [%s%s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
                     std::string(static_cast<size_t>(width - filled), '-').c_str(), static_cast<int>(fraction * 100.0));
        std::fflush(stderr);
        drawn = true;
    }

    void clear()
    {
        if (drawn)
            std::fprintf(stderr, "\r\033[K");
        drawn = false;
    }

private:
    bool enabled;
    bool drawn = false;
    double started = juce::Time::getMillisecondCounterHiRes();
    double lastDrawn = 0.0;
};

std::atomic<bool> interrupted { false };

extern "C" void onInterrupt(int signal)
{
    interrupted.store(true);
    std::signal(signal, SIG_DFL); // a second Ctrl-C ends the program at once
}
} // namespace

int main(int argc, char** argv)
{
    const Options options = parseOptions(argc, argv);
    const juce::ScopedJuceInitialiser_GUI juce;
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);

    if (options.infoOnly)
    {
        printIdentity(options.job.bundle);
        printParameters(options.job.bundle, options.job.demoSampleRate);
    }

    ProgressBar bar(options.progress);
    quillon::host::RenderCallbacks callbacks;
    callbacks.ready = [&](const quillon::host::RenderReport& r) { printHeader(options, r); };
    callbacks.progress = [&](double f) { bar.update(f); };
    callbacks.cancel = &interrupted;

    quillon::host::RenderReport report;
    juce::String error;
    const bool ok = quillon::host::runRenderJob(options.job, report, error, callbacks);
    bar.clear();
    if (!ok)
    {
        std::cerr << "quillon-render: " << error << "\n";
        return interrupted.load() ? 130 : 1;
    }
    if (options.job.stateOut != juce::File())
        std::cout << "Saved     settings to " << options.job.stateOut.getFullPathName() << "\n";
    if (!options.job.render)
        return 0;

    if (options.job.input == juce::File())
        printDemoSegments(report);
    printSummary(report);
    printWarnings(report);
    if (options.job.output != juce::File())
        std::cout << "\nWrote " << options.job.output.getFullPathName() << "\n";
    return 0;
}
