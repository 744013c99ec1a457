#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

namespace quillon::host
{

// Loads a VST3 bundle through JUCE's VST3 hosting, as a DAW does.
std::unique_ptr<juce::AudioPluginInstance> loadVst3(const juce::String& bundlePath, double sampleRate,
                                                    int blockSize, juce::String& error);

// Sets the plug-in's main buses to `channels` in and out and prepares it to play. A plug-in
// that was already prepared is released first, so this also clears its signal history.
bool preparePlugin(juce::AudioPluginInstance& plugin, double sampleRate, int blockSize, int channels,
                   juce::String& error);

// The channel counts (1 to 8, same in and out) that the plug-in accepts, e.g. "1 or 2".
juce::String acceptedChannelCounts(juce::AudioPluginInstance& plugin);

// Finds a parameter by the plug-in's own identifier (e.g. "peakReduction"), by the VST3 id a
// host stores, or by its name ("Peak Reduct"), ignoring case; nullptr when there is none.
juce::AudioProcessorParameter* findParameter(juce::AudioPluginInstance& plugin, const juce::String& key);

// Sets a parameter from user text: a number in the parameter's own units, or one of its
// value texts ("Limit", "On"). Returns false with a reason when the text does not fit.
bool setParameterFromText(juce::AudioProcessorParameter& parameter, const juce::String& text, juce::String& error);

// Applies one "ID=VALUE" setting (identifier or name, as findParameter takes them).
bool applySetting(juce::AudioPluginInstance& plugin, const juce::String& setting, juce::String& error);

// "Peak Reduct 25.0, Gain 30.0, Comp/Limit Comp, ..." for every parameter, in the host's order.
juce::String describeSettings(juce::AudioPluginInstance& plugin);

} // namespace quillon::host
