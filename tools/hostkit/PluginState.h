#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

namespace quillon::host
{

// Settings files for a hosted plug-in, in one of two forms chosen by extension:
// - ".vstpreset": a VST3 preset, which DAWs import and export for any VST3 plug-in;
// - any other name: the block a JUCE-based host stores in its project for the plug-in
//   (AudioPluginInstance::getStateInformation: the component's and the controller's state).
bool isPresetFile(const juce::File& file);

// Saves the plug-in's current settings; the file is replaced only when it was written whole.
bool saveStateFile(juce::AudioPluginInstance& plugin, const juce::File& file, juce::String& error);

// Restores settings from a file saved by saveStateFile or a DAW. Refuses files that are not
// such settings, or that belong to another plug-in, without changing anything.
bool loadStateFile(juce::AudioPluginInstance& plugin, const juce::File& file, juce::String& error);

} // namespace quillon::host
