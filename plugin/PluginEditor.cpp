#include "plugin/PluginEditor.h"

QuillonAudioProcessorEditor::QuillonAudioProcessorEditor(QuillonAudioProcessor& owner)
    : juce::AudioProcessorEditor(owner)
{
    setResizable(false, false);
    setSize(1000, 360);
}

void QuillonAudioProcessorEditor::paint(juce::Graphics& g) { g.fillAll(juce::Colour(0xffefeeea)); }
