#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <functional>
#include <vector>

namespace quillon::host
{

// Fills `block` from its first sample with up to maxSamples frames; returns how many (0 at the end).
using BlockSource = std::function<int(juce::AudioBuffer<float>& block, int maxSamples)>;
// Takes samples [start, start + numSamples) of `block`; returns false to stop the render.
using BlockSink = std::function<bool(const juce::AudioBuffer<float>& block, int start, int numSamples)>;

// Streams audio through a prepared plug-in so that output sample i lines up with input sample i.
// The reported latency is cut from the front of the output; after the input the plug-in gets
// silence for its latency plus `tailSamples`, so the output holds everything the input put in
// and then the tail. Returns false when the sink refused a block or `cancel` was raised.
bool renderAligned(juce::AudioPluginInstance& plugin, int blockSize, juce::int64 tailSamples,
                   const BlockSource& source, const BlockSink& sink, const std::atomic<bool>* cancel = nullptr);

// The same for audio held in memory: the result is the input's length plus the tail.
juce::AudioBuffer<float> renderBuffer(juce::AudioPluginInstance& plugin, const juce::AudioBuffer<float>& input,
                                      int blockSize, juce::int64 tailSamples = 0);

// A stretch of steady sine tone; the level is the tone's peak in dBFS.
struct ToneSegment
{
    juce::String name;
    double seconds = 0.0;
    double levelDb = 0.0;
};

// Consecutive tone segments at one frequency, the same on every channel, with the phase running on.
juce::AudioBuffer<float> makeTone(const std::vector<ToneSegment>& segments, double sampleRate, int channels,
                                  double frequency = 1000.0);

// The renderer's demo: 1 kHz, quiet, then loud, then quiet again, so both attack and release show.
std::vector<ToneSegment> demoSegments();

double toDb(double linear); // -inf for 0

// Peak and RMS of a stream over all its channels, and its mean square per window, so that two
// streams that line up sample for sample can be compared window by window.
class LevelMeter
{
public:
    explicit LevelMeter(int windowSamples);

    void add(const juce::AudioBuffer<float>& block, int start, int numSamples);

    double peak() const { return peakValue; }
    double rms() const;
    juce::int64 samples() const { return count; }
    int windowSamples() const { return window; }
    // Complete windows only.
    const std::vector<double>& windowMeanSquares() const { return windows; }

private:
    int window;
    double peakValue = 0.0;
    double sumOfSquares = 0.0;
    juce::int64 count = 0;
    long double windowSum = 0.0;
    int windowFill = 0;
    int channelCount = 0;
    std::vector<double> windows;
};

// Gain reduction read from levels, per window: the plug-in's gain at rest minus its gain in that
// window (output level minus input level). NaN where the input is below gateDb or the output is
// silent, since no gain can be read there.
std::vector<double> gainReductionPerWindow(const LevelMeter& input, const LevelMeter& output, double restGainDb,
                                           double gateDb);

// The plug-in's gain at rest with its current settings: the level change of a quiet, steady
// 1 kHz tone through the freshly prepared plug-in (-inf when its output is silent). The plug-in
// is prepared again afterwards, so its signal history is clear.
double measureRestGainDb(juce::AudioPluginInstance& plugin, double sampleRate, int blockSize, int channels);

} // namespace quillon::host
