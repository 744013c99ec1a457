#pragma once

#include "plugin/PluginProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

// Placeholder window until the faceplate editor lands.
class QuillonAudioProcessorEditor final : public juce::AudioProcessorEditor
{
public:
    explicit QuillonAudioProcessorEditor(QuillonAudioProcessor& owner);
    void paint(juce::Graphics& g) override;
};
