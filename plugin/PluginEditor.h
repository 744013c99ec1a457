#pragma once

#include "plugin/OptoLookAndFeel.h"
#include "plugin/PluginProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

// The meter needle, drawn over the meter window of the faceplate. The editor's timer
// sets `level` (0 = left stop, 1 = right stop) and repaints it.
class PrecisionMeterOverlay final : public juce::Component
{
public:
    ~PrecisionMeterOverlay() override;
    void paint(juce::Graphics& g) override;

    float level = 0.0f;
};

// The plug-in window: the faceplate picture with its printed legends and live readouts,
// five knobs and three switches bound to the parameters, and the meter needle.
class QuillonAudioProcessorEditor final : public juce::AudioProcessorEditor, public juce::Timer
{
public:
    explicit QuillonAudioProcessorEditor(QuillonAudioProcessor& owner);
    ~QuillonAudioProcessorEditor() override;

    void paint(juce::Graphics& g) override;
    void resized() override;
    void timerCallback() override;

private:
    using SliderAttachment = juce::AudioProcessorValueTreeState::SliderAttachment;
    using ButtonAttachment = juce::AudioProcessorValueTreeState::ButtonAttachment;

    QuillonAudioProcessor& audioProcessor;
    OptoLookAndFeel optoLookAndFeel;
    juce::Image faceplateImage;
    PrecisionMeterOverlay meterOverlay;

    juce::Slider gainKnob, peakReductionKnob, emphasisKnob, mixKnob, meterSelectorKnob;
    juce::ToggleButton compLimitSwitch, powerSwitch, masterBypassSwitch;

    // Declared after the controls so that they are destroyed first.
    std::unique_ptr<SliderAttachment> gainAttachment, peakReductionAttachment, emphasisAttachment,
        mixAttachment, meterAttachment;
    std::unique_ptr<ButtonAttachment> compLimitAttachment, powerAttachment, bypassAttachment;

    float displayedMeterLevel = 0.0f;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(QuillonAudioProcessorEditor)
};
