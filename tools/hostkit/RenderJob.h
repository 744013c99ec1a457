#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <functional>
#include <vector>

namespace quillon::host
{

// One run of the renderer: a file (or the built-in demo) through a VST3 bundle into a file.
struct RenderJob
{
    juce::String bundle;
    juce::File input;  // juce::File(): the built-in demo signal
    juce::File output; // juce::File(): nothing is written (only the demo may go without)
    juce::StringArray settings; // "ID=VALUE", applied after stateIn
    juce::File stateIn;
    juce::File stateOut;
    int blockSize = 512;
    double tailSeconds = -1.0; // below 0: the tail length the plug-in reports
    int bits = 0;              // 0: the input's bit depth (the demo counts as 32-bit float)
    double demoSampleRate = 48000.0;
    int demoChannels = 2;
    bool render = true; // false: load, restore, set and save the settings only
};

struct RenderReport
{
    juce::String pluginName;
    juce::String pluginMaker; // e.g. "Quillon 0.1.2 by Orvane Sound"
    juce::String settings;          // every parameter with its value, after restoring and setting
    juce::String inputDescription;  // e.g. "song.flac: 24-bit FLAC, 2 channels, 44100 Hz, 3:12.50"
    juce::String outputDescription; // e.g. "song-quillon.flac: 24-bit FLAC"
    double sampleRate = 0.0;
    int channels = 0;
    int latencySamples = 0;
    juce::int64 inputSamples = 0;
    juce::int64 outputSamples = 0;
    juce::int64 tailSamples = 0;
    double inputPeak = 0.0, inputRms = 0.0, outputPeak = 0.0, outputRms = 0.0; // linear
    double restGainDb = 0.0; // the plug-in's gain for a quiet tone with these settings
    int windowSamples = 0;   // 10 ms
    std::vector<double> inputWindows, outputWindows; // mean square per window, over all channels
    std::vector<double> windowReductionDb;           // per window; NaN where it cannot be read
    double maxReductionDb = 0.0, meanReductionDb = 0.0; // NaN when no window could be read
    double renderSeconds = 0.0; // wall-clock time of the render itself
    juce::StringArray warnings;
};

struct RenderCallbacks
{
    // Called once the plug-in is loaded, restored, set and prepared, before any audio runs.
    std::function<void(const RenderReport&)> ready;
    std::function<void(double fraction)> progress;
    const std::atomic<bool>* cancel = nullptr;
};

// Input levels below this are too quiet to read a gain from.
constexpr double reductionGateDb = -50.0;

// Checks everything that can be checked before any audio runs, then renders. On failure
// returns false with a message, and leaves no output file (nor a changed one) behind.
bool runRenderJob(const RenderJob& job, RenderReport& report, juce::String& error,
                  const RenderCallbacks& callbacks = {});

} // namespace quillon::host
