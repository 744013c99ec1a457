#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

namespace quillon::host
{

// Loads a VST3 bundle through JUCE's VST3 hosting, as a DAW does.
std::unique_ptr<juce::AudioPluginInstance> loadVst3(const juce::String& bundlePath, double sampleRate,
                                                    int blockSize, juce::String& error);

// Sets the plug-in's buses to `channels` in and out (1 or 2) and prepares it to play.
bool preparePlugin(juce::AudioPluginInstance& plugin, double sampleRate, int blockSize, int channels,
                   juce::String& error);

// Finds a parameter by the plug-in's own identifier (e.g. "peakReduction") or by its name
// ("Peak Reduct"), ignoring case; nullptr when there is none.
juce::AudioProcessorParameter* findParameter(juce::AudioPluginInstance& plugin, const juce::String& key);

// Sets a parameter from user text: a number in the parameter's own units, or one of its
// value texts ("Limit", "On"). Returns false with a reason when the text does not fit.
bool setParameterFromText(juce::AudioProcessorParameter& parameter, const juce::String& text, juce::String& error);

} // namespace quillon::host
