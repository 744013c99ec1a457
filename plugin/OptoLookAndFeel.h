#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// Draws only what moves on the faceplate: knob pointers, toggle levers and the bypass
// slide switch. Knob bodies, scales and bushings are part of the faceplate picture.
// The component ID picks the style: "emphasis" mirrors the pointer, "meterSelector"
// gets a bar pointer, "hardwareSwitch" a bat-handle lever; anything else the defaults.
class OptoLookAndFeel final : public juce::LookAndFeel_V4
{
public:
    OptoLookAndFeel();
    ~OptoLookAndFeel() override;

    void drawToggleButton(juce::Graphics& g, juce::ToggleButton& button,
                          bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    void drawRotarySlider(juce::Graphics& g, int x, int y, int width, int height,
                          float sliderPosProportional, float rotaryStartAngle, float rotaryEndAngle,
                          juce::Slider& slider) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(OptoLookAndFeel)
};
