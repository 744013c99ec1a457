#include "RenderJob.h"

#include "AudioFiles.h"
#include "PluginHost.h"
#include "PluginState.h"
#include "Render.h"

#include <cmath>
#include <limits>

namespace quillon::host
{
namespace
{
// Quillon runs its model at this rate only and passes audio through unchanged at any other.
constexpr double modelSampleRate = 48000.0;

juce::String formatDuration(juce::int64 samples, double sampleRate)
{
    const double seconds = static_cast<double>(samples) / sampleRate;
    const int minutes = static_cast<int>(seconds / 60.0);
    return juce::String(minutes) + ":" + juce::String(seconds - 60.0 * minutes, 2).paddedLeft('0', 5);
}

juce::String channelWord(int channels)
{
    return channels == 1 ? "mono" : channels == 2 ? "stereo" : juce::String(channels) + " channels";
}

juce::String describeDemo(double sampleRate, int channels)
{
    juce::StringArray parts;
    for (const auto& s : demoSegments())
        parts.add(juce::String(s.seconds, 1) + " s at " + juce::String(s.levelDb, 0) + " dBFS");
    return "built-in demo: 1 kHz tone, " + parts.joinIntoString(", then ") + "; " + channelWord(channels) + ", "
           + juce::String(sampleRate, 0) + " Hz";
}

// Everything about the paths that can be refused before any file is opened.
bool checkPaths(const RenderJob& job, const AudioFiles& files, juce::String& error)
{
    const bool demo = job.input == juce::File();
    if (!demo && files.formatFor(job.input) == nullptr)
    {
        error = "cannot read " + quoted(job.input) + ": not a file type this tool reads (" + AudioFiles::supportedTypes()
                + ")";
        return false;
    }
    if (!job.render)
        return true;
    if (!demo && job.output == juce::File())
    {
        error = "no output file named for " + quoted(job.input);
        return false;
    }
    if (job.output != juce::File())
    {
        if (job.output.isDirectory())
        {
            error = "cannot write " + quoted(job.output) + ": it is a folder";
            return false;
        }
        if (files.formatFor(job.output) == nullptr)
        {
            error = "cannot write " + quoted(job.output) + ": not a file type this tool writes ("
                    + AudioFiles::supportedTypes() + ")";
            return false;
        }
        if (!demo && isSameFile(job.input, job.output))
        {
            error = "will not write over the input file " + quoted(job.input) + ": name another output file";
            return false;
        }
    }
    if (job.stateOut != juce::File()
        && ((!demo && isSameFile(job.stateOut, job.input)) || isSameFile(job.stateOut, job.output)))
    {
        error = "will not write settings over the audio file " + quoted(job.stateOut);
        return false;
    }
    return true;
}

bool checkBits(const RenderJob& job, const AudioFiles& files, juce::String& error)
{
    if (job.bits == 0 || job.output == juce::File())
        return true;
    auto* format = files.formatFor(job.output);
    if (format->getPossibleBitDepths().contains(job.bits))
        return true;
    juce::StringArray depths;
    for (int b : format->getPossibleBitDepths())
        depths.add(juce::String(b));
    error = format->getFormatName().upToFirstOccurrenceOf(" ", false, false) + " files take "
            + depths.joinIntoString(", ", 0, depths.size() - 1) + " or " + depths[depths.size() - 1] + " bits, not "
            + juce::String(job.bits);
    return false;
}

void summariseReduction(RenderReport& report)
{
    double sum = 0.0;
    int count = 0;
    report.maxReductionDb = std::numeric_limits<double>::quiet_NaN();
    for (double r : report.windowReductionDb)
        if (!std::isnan(r))
        {
            report.maxReductionDb = count == 0 ? r : std::max(report.maxReductionDb, r);
            sum += r;
            ++count;
        }
    report.meanReductionDb = count > 0 ? sum / count : std::numeric_limits<double>::quiet_NaN();
}
} // namespace

bool runRenderJob(const RenderJob& job, RenderReport& report, juce::String& error, const RenderCallbacks& callbacks)
{
    report = {};
    const AudioFiles files;
    const bool demo = job.input == juce::File();
    if (!checkPaths(job, files, error) || !checkBits(job, files, error))
        return false;

    // The input: the demo tone in memory, or a file read block by block.
    std::unique_ptr<juce::AudioFormatReader> reader;
    juce::AudioBuffer<float> demoSignal;
    int inputBits = 32;
    bool inputIsFloat = true;
    if (demo)
    {
        report.sampleRate = job.demoSampleRate;
        report.channels = job.demoChannels;
        demoSignal = makeTone(demoSegments(), report.sampleRate, report.channels);
        report.inputSamples = demoSignal.getNumSamples();
        report.inputDescription = describeDemo(report.sampleRate, report.channels);
    }
    else
    {
        reader = files.openReader(job.input, error);
        if (reader == nullptr)
            return false;
        report.sampleRate = reader->sampleRate;
        report.channels = static_cast<int>(reader->numChannels);
        report.inputSamples = reader->lengthInSamples;
        inputBits = static_cast<int>(reader->bitsPerSample);
        inputIsFloat = reader->usesFloatingPointData;
        report.inputDescription = job.input.getFileName() + ": " + juce::String(inputBits) + "-bit "
                                  + (inputIsFloat ? "float " : "") + reader->getFormatName() + ", "
                                  + channelWord(report.channels) + ", " + juce::String(report.sampleRate, 0) + " Hz, "
                                  + formatDuration(report.inputSamples, report.sampleRate);
    }

    auto plugin = loadVst3(job.bundle, report.sampleRate, job.blockSize, error);
    if (plugin == nullptr)
        return false;
    plugin->setNonRealtime(true);
    report.pluginName = plugin->getName();
    const auto description = plugin->getPluginDescription();
    report.pluginMaker = description.name + " " + description.version + " by " + description.manufacturerName;
    if (!preparePlugin(*plugin, report.sampleRate, job.blockSize, report.channels, error))
    {
        error = "cannot render " + (demo ? juce::String("the demo") : quoted(job.input)) + ": " + error;
        return false;
    }

    if (job.stateIn != juce::File() && !loadStateFile(*plugin, job.stateIn, error))
        return false;
    for (const auto& setting : job.settings)
        if (!applySetting(*plugin, setting, error))
            return false;
    if (job.stateOut != juce::File() && !saveStateFile(*plugin, job.stateOut, error))
        return false;
    report.settings = describeSettings(*plugin);
    report.latencySamples = plugin->getLatencySamples();
    if (std::abs(report.sampleRate - modelSampleRate) > 1e-9)
        report.warnings.add(report.pluginName + " models at 48000 Hz only: at " + juce::String(report.sampleRate, 0)
                            + " Hz it passes the audio through unchanged");
    if (!job.render)
    {
        if (callbacks.ready)
            callbacks.ready(report);
        return true;
    }

    const double tailSeconds = job.tailSeconds >= 0.0 ? job.tailSeconds : plugin->getTailLengthSeconds();
    report.tailSamples = static_cast<juce::int64>(std::llround(std::max(0.0, tailSeconds) * report.sampleRate));
    const juce::int64 totalOut = report.inputSamples + report.tailSamples;

    SafeAudioFileWriter writer;
    if (job.output != juce::File())
    {
        const int bits = job.bits != 0 ? job.bits : inputBits;
        if (!writer.open(files, job.output, report.sampleRate, report.channels, bits, error))
            return false;
        report.outputDescription = job.output.getFileName() + ": " + writer.description();
    }
    if (callbacks.ready)
        callbacks.ready(report);

    report.windowSamples = std::max(1, static_cast<int>(std::lround(report.sampleRate / 100.0)));
    LevelMeter inputMeter(report.windowSamples);
    LevelMeter outputMeter(report.windowSamples);
    juce::int64 readPosition = 0;
    bool readFailed = false;
    bool writeFailed = false;

    const BlockSource source = [&](juce::AudioBuffer<float>& block, int maxSamples) {
        const int n = static_cast<int>(std::min<juce::int64>(maxSamples, report.inputSamples - readPosition));
        if (n <= 0)
            return 0;
        if (demo)
        {
            for (int ch = 0; ch < report.channels; ++ch)
                block.copyFrom(ch, 0, demoSignal, ch, static_cast<int>(readPosition), n);
        }
        else if (!reader->read(block.getArrayOfWritePointers(), report.channels, readPosition, n))
        {
            readFailed = true;
            return 0;
        }
        inputMeter.add(block, 0, n);
        readPosition += n;
        return n;
    };
    const BlockSink sink = [&](const juce::AudioBuffer<float>& block, int start, int n) {
        outputMeter.add(block, start, n);
        if (job.output != juce::File() && !writer.write(block, start, n))
        {
            writeFailed = true;
            return false;
        }
        if (callbacks.progress && totalOut > 0)
            callbacks.progress(static_cast<double>(outputMeter.samples()) / static_cast<double>(totalOut));
        return true;
    };

    const double started = juce::Time::getMillisecondCounterHiRes();
    const bool finished = renderAligned(*plugin, job.blockSize, report.tailSamples, source, sink, callbacks.cancel);
    report.renderSeconds = (juce::Time::getMillisecondCounterHiRes() - started) / 1000.0;

    if (!finished || readFailed || writeFailed)
    {
        if (writeFailed)
            writer.commit(error); // explains the failure and removes what was written
        writer.abandon();
        if (readFailed)
            error = "cannot read " + quoted(job.input) + " past sample " + juce::String(readPosition);
        else if (!writeFailed)
            error = "interrupted; no output file was written";
        return false;
    }
    if (job.output != juce::File() && !writer.commit(error))
        return false;

    report.outputSamples = outputMeter.samples();
    report.inputPeak = inputMeter.peak();
    report.inputRms = inputMeter.rms();
    report.outputPeak = outputMeter.peak();
    report.outputRms = outputMeter.rms();
    report.restGainDb = measureRestGainDb(*plugin, report.sampleRate, job.blockSize, report.channels);
    report.inputWindows = inputMeter.windowMeanSquares();
    report.outputWindows = outputMeter.windowMeanSquares();
    report.windowReductionDb = gainReductionPerWindow(inputMeter, outputMeter, report.restGainDb, reductionGateDb);
    summariseReduction(report);

    const bool integerOutput = job.output != juce::File() && !writer.description().contains("float");
    if (integerOutput && report.outputPeak > 1.0)
        report.warnings.add("the output peaks at " + juce::String(toDb(report.outputPeak), 2)
                            + " dBFS and is clipped in the " + writer.description()
                            + ": lower the Gain, or write a WAV file with --bits 32 (floating point)");
    plugin->releaseResources();
    return true;
}

} // namespace quillon::host
