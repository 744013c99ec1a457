#include "plugin/PluginEditor.h"

#include "plugin/PanelMath.h"

#include "BinaryData.h"

namespace
{
using juce::Colour;
using juce::Justification;

const Colour darkInk { 0xff151616 };
const Colour greyInk { 0xff5b5d5c };

juce::Font uiFont(float size, bool bold)
{
    return juce::Font(juce::FontOptions(size, bold ? juce::Font::bold : juce::Font::plain));
}

// One printed line of the faceplate.
struct Legend
{
    juce::String text;
    Colour ink;
    float size;
    bool bold;
    juce::Rectangle<float> area;
    Justification justification;
};

void print(juce::Graphics& g, const Legend& legend)
{
    g.setColour(legend.ink);
    g.setFont(uiFont(legend.size, legend.bold));
    g.drawText(legend.text, legend.area, legend.justification, false);
}

void setUpKnob(juce::Component& editor, juce::Slider& knob, const juce::String& name)
{
    constexpr float pi = juce::MathConstants<float>::pi;
    knob.setName(name);
    knob.setSliderStyle(juce::Slider::RotaryHorizontalVerticalDrag);
    knob.setRotaryParameters(pi * 1.2f, pi * 2.8f, true);
    knob.setTextBoxStyle(juce::Slider::NoTextBox, false, 0, 0);
    knob.setScrollWheelEnabled(true);
    editor.addAndMakeVisible(knob);
}

void setUpSwitch(juce::Component& editor, juce::ToggleButton& button, const juce::String& name,
                 const juce::String& componentId)
{
    button.setName(name);
    button.setButtonText(name);
    button.setComponentID(componentId);
    button.setClickingTogglesState(true);
    editor.addAndMakeVisible(button);
}
} // namespace

PrecisionMeterOverlay::~PrecisionMeterOverlay() = default;

void PrecisionMeterOverlay::paint(juce::Graphics& g)
{
    const auto w = static_cast<float>(getWidth());
    const auto h = static_cast<float>(getHeight());
    const auto needle = panel::needleLine(w, h, level);
    const juce::Point<float> shadowOffset { 1.2f, 1.2f };

    g.setColour(Colour(0x2e000000));
    g.drawLine({ needle.getStart() + shadowOffset, needle.getEnd() + shadowOffset }, 2.6f);
    g.setColour(Colour(0xff171818));
    g.drawLine(needle, 1.5f);

    g.setColour(Colour(0xff383a3a));
    g.setFont(uiFont(8.5f, true));
    g.drawText("LEVEL / dB", juce::Rectangle<float>(0.0f, h - 25.0f, w, 12.0f), Justification::centred, false);
}

QuillonAudioProcessorEditor::QuillonAudioProcessorEditor(QuillonAudioProcessor& owner)
    : juce::AudioProcessorEditor(owner),
      audioProcessor(owner),
      faceplateImage(juce::ImageCache::getFromMemory(BinaryData::faceplate_png, BinaryData::faceplate_pngSize))
{
    setLookAndFeel(&optoLookAndFeel);
    setOpaque(true);
    setResizable(false, false);
    setSize(1000, 360);

    setUpKnob(*this, gainKnob, "Gain");
    setUpKnob(*this, peakReductionKnob, "Peak Reduction");
    setUpKnob(*this, emphasisKnob, "Emphasis");
    setUpKnob(*this, mixKnob, "Mix");
    setUpKnob(*this, meterSelectorKnob, "Meter Selector");
    emphasisKnob.setComponentID("emphasis");
    meterSelectorKnob.setComponentID("meterSelector");
    meterSelectorKnob.setRange(0.0, 2.0, 1.0);

    setUpSwitch(*this, compLimitSwitch, "Comp/Limit", "hardwareSwitch");
    setUpSwitch(*this, powerSwitch, "Power", "hardwareSwitch");
    setUpSwitch(*this, masterBypassSwitch, "Master Bypass", "bypassSwitch");

    addAndMakeVisible(meterOverlay);

    auto& tree = audioProcessor.parameters;
    gainAttachment = std::make_unique<SliderAttachment>(tree, "gain", gainKnob);
    peakReductionAttachment = std::make_unique<SliderAttachment>(tree, "peakReduction", peakReductionKnob);
    emphasisAttachment = std::make_unique<SliderAttachment>(tree, "emphasis", emphasisKnob);
    mixAttachment = std::make_unique<SliderAttachment>(tree, "mix", mixKnob);
    meterAttachment = std::make_unique<SliderAttachment>(tree, "meter", meterSelectorKnob);
    compLimitAttachment = std::make_unique<ButtonAttachment>(tree, "compLimit", compLimitSwitch);
    powerAttachment = std::make_unique<ButtonAttachment>(tree, "power", powerSwitch);
    bypassAttachment = std::make_unique<ButtonAttachment>(tree, "bypass", masterBypassSwitch);

    // Double-click (or alt-click) returns a knob to its parameter's default.
    gainKnob.setDoubleClickReturnValue(true, 30.0);
    peakReductionKnob.setDoubleClickReturnValue(true, 25.0);
    emphasisKnob.setDoubleClickReturnValue(true, 0.0);
    mixKnob.setDoubleClickReturnValue(true, 100.0);
    meterSelectorKnob.setDoubleClickReturnValue(true, 1.0);

    startTimer(33);
}

QuillonAudioProcessorEditor::~QuillonAudioProcessorEditor()
{
    // No tick may reach half-destroyed members, and no child may outlive its look-and-feel.
    stopTimer();
    setLookAndFeel(nullptr);
}

void QuillonAudioProcessorEditor::resized()
{
    gainKnob.setBounds(194, 119, 92, 92);
    peakReductionKnob.setBounds(710, 119, 92, 92);
    emphasisKnob.setBounds(103, 234, 52, 52);
    mixKnob.setBounds(474, 259, 52, 52);
    meterSelectorKnob.setBounds(880, 135, 60, 60);
    compLimitSwitch.setBounds(45, 230, 50, 60);
    powerSwitch.setBounds(885, 230, 50, 60);
    masterBypassSwitch.setBounds(919, 44, 56, 22);
    meterOverlay.setBounds(384, 82, 232, 126);
}

void QuillonAudioProcessorEditor::timerCallback()
{
    displayedMeterLevel = panel::nextDisplayedLevel(displayedMeterLevel, audioProcessor.getOutputMeterLevel());
    meterOverlay.level = panel::needleLevel(displayedMeterLevel);
    meterOverlay.repaint();
    // The readouts follow host automation too, so the whole face is refreshed every tick.
    repaint();
}

void QuillonAudioProcessorEditor::paint(juce::Graphics& g)
{
    g.fillAll(Colour(0xffefeeea));

    if (faceplateImage.isValid())
    {
        // Scale the picture to cover the window, centred.
        const auto w = static_cast<float>(getWidth());
        const auto h = static_cast<float>(getHeight());
        const auto iw = static_cast<float>(faceplateImage.getWidth());
        const auto ih = static_cast<float>(faceplateImage.getHeight());
        const float scale = std::max(w / iw, h / ih);
        const float tx = (w - iw * scale) * 0.5f;
        const float ty = (h - ih * scale) * 0.5f;
        if (! g.isClipEmpty())
            g.drawImageTransformed(faceplateImage, juce::AffineTransform::scale(scale).translated(tx, ty));
    }

    auto& tree = audioProcessor.parameters;
    const auto value = [&tree](const char* id) { return panel::readoutText(tree.getRawParameterValue(id)); };
    const auto left = Justification::centredLeft;
    const auto centre = Justification::centred;
    const auto right = Justification::centredRight;

    const Legend aboveDot[] = {
        { "ORVANE SOUND", greyInk, 9.5f, true, { 55, 28, 170, 16 }, left },
        { "OPTICAL", darkInk, 22.0f, true, { 55, 44, 190, 27 }, left },
        { "DYNAMICS", darkInk, 22.0f, true, { 55, 67, 190, 27 }, left },
        { "Quillon", greyInk, 7.5f, false, { 55, 95, 190, 13 }, left },
        { "GAIN", darkInk, 8.5f, true, { 194, 218, 92, 14 }, centre },
        { value("gain"), darkInk, 10.5f, false, { 214, 233, 52, 15 }, centre },
        { "PEAK REDUCTION", darkInk, 8.5f, true, { 697, 218, 118, 14 }, centre },
        { value("peakReduction"), darkInk, 10.5f, false, { 730, 233, 52, 15 }, centre },
        { "EMPHASIS", darkInk, 7.5f, true, { 92, 286, 73, 13 }, centre },
        { value("emphasis"), greyInk, 9.0f, false, { 109, 300, 39, 14 }, centre },
        { "MIX", darkInk, 7.5f, true, { 474, 307, 52, 13 }, centre },
        { value("mix") + "%", greyInk, 9.0f, false, { 474, 321, 52, 14 }, centre },
        { "LIMIT", greyInk, 7.0f, false, { 41, 219, 58, 12 }, centre },
        { "COMP", greyInk, 7.0f, false, { 41, 291, 58, 12 }, centre },
    };
    for (const auto& legend : aboveDot)
        print(g, legend);

    g.setColour(darkInk);
    g.fillEllipse(panel::compLimitDot(compLimitSwitch.getToggleState()));

    const Legend belowDot[] = {
        { "METER", darkInk, 7.5f, true, { 859, 82, 102, 13 }, centre },
        { "+10", greyInk, 6.5f, false, { 864, 99, 30, 12 }, centre },
        { "GR", greyInk, 6.5f, false, { 899, 94, 28, 12 }, centre },
        { "+4", greyInk, 6.5f, false, { 939, 99, 28, 12 }, centre },
        { panel::meterModeLabel(tree.getRawParameterValue("meter")), darkInk, 8.0f, true, { 875, 199, 70, 14 }, centre },
        { "ON", greyInk, 7.0f, false, { 884, 219, 52, 12 }, centre },
        { "OFF", greyInk, 7.0f, false, { 884, 291, 52, 12 }, centre },
        { "POWER", darkInk, 7.5f, true, { 884, 307, 52, 12 }, centre },
        { "BYPASS", greyInk, 7.0f, false, { 854, 49, 58, 12 }, right },
        { "48 kHz / LOW-LATENCY MODEL", greyInk, 6.7f, false, { 704, 330, 220, 12 }, right },
    };
    for (const auto& legend : belowDot)
        print(g, legend);
}
