#include "Render.h"

#include "PluginHost.h"

#include <cmath>
#include <limits>

namespace quillon::host
{
namespace
{
// Quiet enough to sit below the level at which the cell starts to work, loud enough to be far
// above single-precision noise.
constexpr double restProbeLevelDb = -60.0;
constexpr double restProbeSeconds = 0.5;
} // namespace

bool renderAligned(juce::AudioPluginInstance& plugin, int blockSize, juce::int64 tailSamples,
                   const BlockSource& source, const BlockSink& sink, const std::atomic<bool>* cancel)
{
    const int channels = std::max(plugin.getTotalNumInputChannels(), plugin.getTotalNumOutputChannels());
    const juce::int64 latency = std::max(0, plugin.getLatencySamples());
    juce::AudioBuffer<float> block(channels, blockSize);
    juce::MidiBuffer midi;
    juce::int64 toSkip = latency;
    juce::int64 silenceLeft = -1; // counts down once the input has ended

    for (;;)
    {
        if (cancel != nullptr && cancel->load())
            return false;
        block.clear();
        int n = 0;
        if (silenceLeft < 0)
        {
            n = source(block, blockSize);
            if (n <= 0)
            {
                silenceLeft = latency + std::max<juce::int64>(0, tailSamples);
                continue;
            }
        }
        else
        {
            if (silenceLeft == 0)
                return true;
            n = static_cast<int>(std::min<juce::int64>(blockSize, silenceLeft));
            silenceLeft -= n;
        }

        juce::AudioBuffer<float> view(block.getArrayOfWritePointers(), channels, n);
        plugin.processBlock(view, midi);
        midi.clear();
        const int skip = static_cast<int>(std::min<juce::int64>(toSkip, n));
        toSkip -= skip;
        if (n > skip && !sink(view, skip, n - skip))
            return false;
    }
}

juce::AudioBuffer<float> renderBuffer(juce::AudioPluginInstance& plugin, const juce::AudioBuffer<float>& input,
                                      int blockSize, juce::int64 tailSamples)
{
    const int channels = input.getNumChannels();
    juce::AudioBuffer<float> output(channels, input.getNumSamples() + static_cast<int>(std::max<juce::int64>(0, tailSamples)));
    output.clear();
    int read = 0;
    int written = 0;
    renderAligned(
        plugin, blockSize, tailSamples,
        [&](juce::AudioBuffer<float>& block, int maxSamples) {
            const int n = std::min(maxSamples, input.getNumSamples() - read);
            for (int ch = 0; ch < std::min(channels, block.getNumChannels()); ++ch)
                block.copyFrom(ch, 0, input, ch, read, n);
            read += n;
            return n;
        },
        [&](const juce::AudioBuffer<float>& block, int start, int n) {
            for (int ch = 0; ch < std::min(channels, block.getNumChannels()); ++ch)
                output.copyFrom(ch, written, block, ch, start, n);
            written += n;
            return true;
        });
    return output;
}

juce::AudioBuffer<float> makeTone(const std::vector<ToneSegment>& segments, double sampleRate, int channels,
                                  double frequency)
{
    juce::int64 total = 0;
    for (const auto& s : segments)
        total += static_cast<juce::int64>(std::llround(s.seconds * sampleRate));
    juce::AudioBuffer<float> tone(channels, static_cast<int>(total));
    int i = 0;
    for (const auto& s : segments)
    {
        const double amplitude = std::pow(10.0, s.levelDb / 20.0);
        const int end = i + static_cast<int>(std::llround(s.seconds * sampleRate));
        for (; i < end; ++i)
        {
            const double phase = 2.0 * juce::MathConstants<double>::pi * frequency * static_cast<double>(i) / sampleRate;
            const auto x = static_cast<float>(amplitude * std::sin(phase));
            for (int ch = 0; ch < channels; ++ch)
                tone.setSample(ch, i, x);
        }
    }
    return tone;
}

std::vector<ToneSegment> demoSegments()
{
    return { { "quiet", 1.0, -30.0 }, { "loud", 1.5, -6.0 }, { "quiet again", 1.5, -30.0 } };
}

double toDb(double linear)
{
    return linear > 0.0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

LevelMeter::LevelMeter(int windowSamples) : window(std::max(1, windowSamples)) {}

void LevelMeter::add(const juce::AudioBuffer<float>& block, int start, int numSamples)
{
    channelCount = block.getNumChannels();
    for (int i = start; i < start + numSamples; ++i)
    {
        double frame = 0.0;
        for (int ch = 0; ch < channelCount; ++ch)
        {
            const double x = block.getSample(ch, i);
            peakValue = std::max(peakValue, std::abs(x));
            frame += x * x;
        }
        sumOfSquares += frame;
        windowSum += frame;
        if (++windowFill == window)
        {
            windows.push_back(static_cast<double>(windowSum / (static_cast<long double>(window) * channelCount)));
            windowSum = 0.0;
            windowFill = 0;
        }
    }
    count += numSamples;
}

double LevelMeter::rms() const
{
    if (count == 0 || channelCount == 0)
        return 0.0;
    return std::sqrt(sumOfSquares / (static_cast<double>(count) * channelCount));
}

std::vector<double> gainReductionPerWindow(const LevelMeter& input, const LevelMeter& output, double restGainDb,
                                           double gateDb)
{
    const auto& in = input.windowMeanSquares();
    const auto& out = output.windowMeanSquares();
    std::vector<double> reduction(std::min(in.size(), out.size()), std::numeric_limits<double>::quiet_NaN());
    for (size_t w = 0; w < reduction.size(); ++w)
        if (in[w] > 0.0 && out[w] > 0.0 && 10.0 * std::log10(in[w]) >= gateDb && std::isfinite(restGainDb))
            reduction[w] = restGainDb - 10.0 * std::log10(out[w] / in[w]);
    return reduction;
}

double measureRestGainDb(juce::AudioPluginInstance& plugin, double sampleRate, int blockSize, int channels)
{
    juce::String error;
    preparePlugin(plugin, sampleRate, blockSize, channels, error);
    const auto input = makeTone({ { "rest", restProbeSeconds, restProbeLevelDb } }, sampleRate, channels);
    const auto output = renderBuffer(plugin, input, blockSize);
    preparePlugin(plugin, sampleRate, blockSize, channels, error);

    // The second half, once the plug-in has settled on the tone.
    const int half = input.getNumSamples() / 2;
    double in = 0.0;
    double out = 0.0;
    for (int ch = 0; ch < channels; ++ch)
        for (int i = half; i < input.getNumSamples(); ++i)
        {
            in += static_cast<double>(input.getSample(ch, i)) * input.getSample(ch, i);
            out += static_cast<double>(output.getSample(ch, i)) * output.getSample(ch, i);
        }
    return out > 0.0 ? 10.0 * std::log10(out / in) : -std::numeric_limits<double>::infinity();
}

} // namespace quillon::host
