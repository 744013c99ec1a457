// The editor window over a real processor: size, controls bound to the parameters,
// the needle driven by the published level, the Comp/Limit dot, and opening and
// closing the window while audio runs.
#include "plugin/PluginEditor.h"
#include "plugin/PluginProcessor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace
{
template <typename Child>
Child* findChild(juce::Component& parent, const juce::String& name)
{
    for (auto* child : parent.getChildren())
        if (auto* typed = dynamic_cast<Child*>(child); typed != nullptr && (name.isEmpty() || child->getName() == name))
            return typed;
    return nullptr;
}

void setParameter(QuillonAudioProcessor& processor, const char* id, float plainValue)
{
    auto* parameter = processor.parameters.getParameter(id);
    parameter->setValueNotifyingHost(parameter->convertTo0to1(plainValue));
}

float raw(QuillonAudioProcessor& processor, const char* id)
{
    return processor.parameters.getRawParameterValue(id)->load();
}

// Publishes a meter level by running one block whose output peak is `peak`: outside
// 48 kHz the processor passes audio straight through.
void publishPeak(QuillonAudioProcessor& processor, float peak)
{
    juce::AudioBuffer<float> buffer(2, 64);
    buffer.clear();
    buffer.setSample(0, 10, peak);
    juce::MidiBuffer midi;
    processor.processBlock(buffer, midi);
}

class EditorTest : public ::testing::Test
{
protected:
    QuillonAudioProcessor processor;
};

TEST_F(EditorTest, WindowIsFixedAtItsSize)
{
    QuillonAudioProcessorEditor editor(processor);
    EXPECT_EQ(editor.getWidth(), 1000);
    EXPECT_EQ(editor.getHeight(), 360);
    EXPECT_FALSE(editor.isResizable());
}

struct KnobCase
{
    const char* name;
    const char* componentId;
    const char* parameterId;
    float elsewhere;     // a value away from the default
    double defaultValue; // the double-click value
};

class EditorKnob : public EditorTest, public ::testing::WithParamInterface<KnobCase>
{
};

// A double-click sets the knob to its return value; through the attachment that must
// land on the parameter's default.
TEST_P(EditorKnob, DoubleClickReturnsTheParameterToItsDefault)
{
    const auto& c = GetParam();
    QuillonAudioProcessorEditor editor(processor);
    auto* knob = findChild<juce::Slider>(editor, c.name);
    ASSERT_NE(knob, nullptr);
    EXPECT_EQ(knob->getComponentID(), juce::String(c.componentId));
    EXPECT_TRUE(knob->isDoubleClickReturnEnabled());
    EXPECT_EQ(knob->getDoubleClickReturnValue(), c.defaultValue);

    setParameter(processor, c.parameterId, c.elsewhere);
    EXPECT_EQ(knob->getValue(), c.elsewhere) << "the knob follows the parameter";
    knob->setValue(knob->getDoubleClickReturnValue(), juce::sendNotificationSync);
    EXPECT_EQ(raw(processor, c.parameterId), static_cast<float>(c.defaultValue));
    EXPECT_EQ(knob->getTextBoxWidth(), 0);
    EXPECT_EQ(knob->getRotaryParameters().startAngleRadians, 3.7699115f);
    EXPECT_EQ(knob->getRotaryParameters().endAngleRadians, 8.7964592f);
}

INSTANTIATE_TEST_SUITE_P(Knobs, EditorKnob,
                         ::testing::Values(KnobCase { "Gain", "", "gain", 70.0f, 30.0 },
                                           KnobCase { "Peak Reduction", "", "peakReduction", 60.5f, 25.0 },
                                           KnobCase { "Emphasis", "emphasis", "emphasis", 40.0f, 0.0 },
                                           KnobCase { "Mix", "", "mix", 35.0f, 100.0 },
                                           KnobCase { "Meter Selector", "meterSelector", "meter", 2.0f, 1.0 }));

TEST_F(EditorTest, SwitchesAndParametersFollowEachOther)
{
    QuillonAudioProcessorEditor editor(processor);
    auto* compLimit = findChild<juce::ToggleButton>(editor, "Comp/Limit");
    auto* power = findChild<juce::ToggleButton>(editor, "Power");
    auto* bypass = findChild<juce::ToggleButton>(editor, "Master Bypass");
    ASSERT_TRUE(compLimit != nullptr && power != nullptr && bypass != nullptr);
    EXPECT_EQ(compLimit->getComponentID(), "hardwareSwitch");
    EXPECT_EQ(power->getComponentID(), "hardwareSwitch");
    EXPECT_EQ(bypass->getComponentID(), "bypassSwitch");
    EXPECT_TRUE(compLimit->getClickingTogglesState());

    EXPECT_FALSE(compLimit->getToggleState());
    EXPECT_TRUE(power->getToggleState());
    EXPECT_FALSE(bypass->getToggleState());

    setParameter(processor, "compLimit", 1.0f);  // automation: "Limit"
    EXPECT_TRUE(compLimit->getToggleState());
    compLimit->setToggleState(false, juce::sendNotificationSync);
    EXPECT_EQ(raw(processor, "compLimit"), 0.0f);
    bypass->setToggleState(true, juce::sendNotificationSync);
    EXPECT_EQ(raw(processor, "bypass"), 1.0f);
}

TEST_F(EditorTest, NeedleHoldsThePeakAndFallsBackTickByTick)
{
    processor.prepareToPlay(44100.0, 64);
    QuillonAudioProcessorEditor editor(processor);
    auto* overlay = findChild<PrecisionMeterOverlay>(editor, {});
    ASSERT_NE(overlay, nullptr);
    EXPECT_EQ(editor.getChildren().getLast(), overlay) << "the needle is the topmost child";
    EXPECT_EQ(overlay->level, 0.0f);

    publishPeak(processor, 1.0f);
    editor.timerCallback();
    EXPECT_EQ(overlay->level, 1.0f);

    publishPeak(processor, 0.0f);
    for (float expected : { 0.92f, 0.8464f, 0.778688f })
    {
        editor.timerCallback();
        EXPECT_FLOAT_EQ(overlay->level, expected);
    }
    // A peak of 0.1 (-20 dBFS) reads 2/3: the needle keeps falling while it is above
    // that reading, then settles on it.
    publishPeak(processor, 0.1f);
    editor.timerCallback();
    EXPECT_FLOAT_EQ(overlay->level, 0.71639296f);
    editor.timerCallback();
    EXPECT_NEAR(overlay->level, 2.0f / 3.0f, 1e-6f);
}

TEST_F(EditorTest, ReopenedWindowStartsTheNeedleFromTheLeftStop)
{
    processor.prepareToPlay(44100.0, 64);
    publishPeak(processor, 0.5f);
    QuillonAudioProcessorEditor editor(processor);
    auto* overlay = findChild<PrecisionMeterOverlay>(editor, {});
    EXPECT_EQ(overlay->level, 0.0f);
    editor.timerCallback();
    EXPECT_NEAR(overlay->level, (20.0 * std::log10(0.5) + 60.0) / 60.0, 1e-6);
}

int brightnessAt(const juce::Image& image, int x, int y)
{
    const auto c = image.getPixelAt(x, y);
    return (c.getRed() + c.getGreen() + c.getBlue()) / 3;
}

// The dot is painted by the editor itself (under the controls), so the editor's own
// painting is rendered here, without its children.
TEST_F(EditorTest, CompLimitDotMovesWithTheSwitch)
{
    QuillonAudioProcessorEditor editor(processor);
    auto paintedFace = [&editor] {
        juce::Image image(juce::Image::RGB, 1000, 360, true);
        juce::Graphics g(image);
        editor.paint(g);
        return image;
    };

    const auto comp = paintedFace();
    EXPECT_LT(brightnessAt(comp, 70, 284), 80);
    EXPECT_GT(brightnessAt(comp, 70, 233), 180);

    setParameter(processor, "compLimit", 1.0f);
    const auto limit = paintedFace();
    EXPECT_LT(brightnessAt(limit, 70, 233), 80);
    EXPECT_GT(brightnessAt(limit, 70, 284), 180);
}

TEST_F(EditorTest, FaceplatePictureIsDecodedAndCoversTheWindow)
{
    QuillonAudioProcessorEditor editor(processor);
    juce::Image image(juce::Image::RGB, 1000, 360, true);
    juce::Graphics g(image);
    editor.paint(g);
    // The panel colour reaches every edge and the meter card shows in the middle.
    for (auto [x, y] : { std::pair { 1, 180 }, { 998, 180 }, { 500, 1 }, { 500, 358 } })
        EXPECT_GT(brightnessAt(image, x, y), 170) << x << ", " << y;
    const auto card = image.getPixelAt(430, 110);
    EXPECT_GT(card.getRed(), card.getBlue() + 10) << "warm meter card";
}

// Hosts open and close the window at any time while the audio thread runs, and may
// automate parameters from it.
TEST_F(EditorTest, OpeningAndClosingWhileAudioRunsIsSafe)
{
    processor.prepareToPlay(48000.0, 128);
    std::atomic<bool> stop { false };
    std::atomic<int> blocks { 0 };
    std::thread audio([&] {
        juce::AudioBuffer<float> buffer(2, 128);
        juce::MidiBuffer midi;
        auto* gain = processor.parameters.getParameter("gain");
        auto* compLimit = processor.parameters.getParameter("compLimit");
        for (int n = 0; !stop.load(); ++n)
        {
            for (int i = 0; i < 128; ++i)
            {
                const float s = 0.5f * std::sin(0.05f * static_cast<float>(n * 128 + i));
                buffer.setSample(0, i, s);
                buffer.setSample(1, i, s);
            }
            processor.processBlock(buffer, midi);
            if (n % 8 == 0)
            {
                gain->setValueNotifyingHost(static_cast<float>(n % 100) / 100.0f);
                compLimit->setValueNotifyingHost(static_cast<float>((n / 8) % 2));
            }
            blocks.fetch_add(1);
        }
    });

    for (int round = 0; round < 20; ++round)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor(processor.createEditor());
        auto& quillon = dynamic_cast<QuillonAudioProcessorEditor&>(*editor);
        for (int tick = 0; tick < 3; ++tick)
            quillon.timerCallback();
        const auto snapshot = editor->createComponentSnapshot(editor->getLocalBounds());
        EXPECT_EQ(snapshot.getWidth(), 1000);
        auto* overlay = findChild<PrecisionMeterOverlay>(*editor, {});
        EXPECT_GE(overlay->level, 0.0f);
        EXPECT_LE(overlay->level, 1.0f);
    }

    stop.store(true);
    audio.join();
    EXPECT_GT(blocks.load(), 0);
}
} // namespace
