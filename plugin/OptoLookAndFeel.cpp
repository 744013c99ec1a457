#include "plugin/OptoLookAndFeel.h"

#include "plugin/PanelMath.h"

#include <cmath>
#include <cstddef>

namespace
{
using juce::Colour;
using juce::Point;

void strokeLine(juce::Graphics& g, Colour colour, Point<float> from, Point<float> to,
                Point<float> offset, float thickness)
{
    g.setColour(colour);
    g.drawLine(juce::Line<float>(from + offset, to + offset), thickness);
}

// One stroke of a knob pointer: from radius from·R to to·R along the pointer's angle,
// moved by (dx, dy).
struct PointerStroke
{
    juce::uint32 argb;
    float from, to;
    float dx, dy;
    float thickness;
};

// A thin line pointer with a soft shadow and a hairline highlight.
constexpr PointerStroke linePointer[] = {
    { 0x2e000000, 0.14f, 0.7f, 1.2f, 1.5f, 4.4f },
    { 0xff202121, 0.14f, 0.7f, 0.0f, 0.0f, 3.2f },
    { 0x7580817e, 0.14f, 0.7f, -0.8f, -0.6f, 0.8f },
};

// The meter selector's wide pale bar with a dark centre line.
constexpr PointerStroke barPointer[] = {
    { 0x29000000, 0.08f, 0.72f, 2.0f, 3.0f, 9.0f },
    { 0xffd5d5d0, 0.08f, 0.72f, 0.0f, 0.0f, 7.0f },
    { 0xbff6f5f1, 0.08f, 0.72f, -1.2f, -0.6f, 1.5f },
    { 0xff242525, 0.2f, 0.62f, 0.0f, 0.0f, 2.0f },
};

template <std::size_t n>
void strokePointer(juce::Graphics& g, const PointerStroke (&strokes)[n], Point<float> centre, float radius,
                 float sine, float cosine)
{
    for (const auto& s : strokes)
        strokeLine(g, Colour(s.argb), panel::pointOnDial(centre, s.from * radius, sine, cosine),
                   panel::pointOnDial(centre, s.to * radius, sine, cosine), { s.dx, s.dy }, s.thickness);
}

// A bat-handle toggle lever rising out of the bushing in the picture: up when on.
void drawLever(juce::Graphics& g, float w, float h, bool on, bool down)
{
    const Point<float> centre { w * 0.5f, h * 0.5f };
    const float direction = on ? -1.0f : 1.0f;
    const Point<float> tip { centre.x + 3.0f * direction, centre.y + 21.0f * direction };
    strokeLine(g, Colour(0x3d000000), centre, tip, { 2.0f, 3.0f }, 8.0f);
    strokeLine(g, Colour(0xffbfc0bc), centre, tip, {}, down ? 7.0f : 6.0f);
    strokeLine(g, Colour(0xb8f5f4ef), centre, tip, { -1.4f, -0.4f }, 1.7f);
    g.setColour(Colour(0xffa7a8a4));
    g.fillEllipse(tip.x - 4.3f, tip.y - 4.3f, 8.6f, 8.6f);
}

// A small pill with a dot that slides to the right end when on.
void drawSlideSwitch(juce::Graphics& g, float w, float h, bool on, bool highlighted)
{
    const float bw = std::max(w - 2.0f, 0.0f);
    const float bh = std::max(h - 4.0f, 0.0f);
    const float corner = bh * 0.5f;
    g.setColour(Colour(0x14000000));
    g.fillRoundedRectangle(1.0f, 3.0f, bw, bh, corner);
    g.setColour(Colour(0xffe5e4df));
    g.fillRoundedRectangle(1.0f, 2.0f, bw, bh, corner);
    g.setColour(Colour(0xff9a9b98));
    g.drawRoundedRectangle(1.0f, 2.0f, bw, bh, corner, 0.8f);
    g.setColour(highlighted ? Colour(0xff000000) : Colour(0xff2b2c2c));
    g.fillEllipse(on ? bw - 13.0f : 7.0f, bh * 0.5f - 2.0f, 8.0f, 8.0f);
}
} // namespace

OptoLookAndFeel::OptoLookAndFeel()
{
    setColour(juce::Slider::textBoxTextColourId, Colour(0xff161717));
    setColour(juce::Slider::textBoxBackgroundColourId, juce::Colours::transparentBlack);
    setColour(juce::Slider::textBoxOutlineColourId, juce::Colours::transparentBlack);
}

OptoLookAndFeel::~OptoLookAndFeel() = default;

void OptoLookAndFeel::drawToggleButton(juce::Graphics& g, juce::ToggleButton& button,
                                       bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    const auto w = static_cast<float>(button.getWidth());
    const auto h = static_cast<float>(button.getHeight());
    if (button.getComponentID() == "hardwareSwitch")
        drawLever(g, w, h, button.getToggleState(), shouldDrawButtonAsDown);
    else
        drawSlideSwitch(g, w, h, button.getToggleState(), shouldDrawButtonAsHighlighted);
}

void OptoLookAndFeel::drawRotarySlider(juce::Graphics& g, int x, int y, int width, int height,
                                       float sliderPosProportional, float rotaryStartAngle,
                                       float rotaryEndAngle, juce::Slider& slider)
{
    const Point<float> centre { static_cast<float>(x) + static_cast<float>(width) * 0.5f,
                                static_cast<float>(y) + static_cast<float>(height) * 0.5f };
    const float radius = 0.46f * static_cast<float>(std::min(width, height));
    const auto& id = slider.getComponentID();
    const float angle = panel::pointerAngle(sliderPosProportional, rotaryStartAngle, rotaryEndAngle,
                                            id == "emphasis");
    const float sine = std::sin(angle);
    const float cosine = std::cos(angle);
    if (id == "meterSelector")
        strokePointer(g, barPointer, centre, radius, sine, cosine);
    else
        strokePointer(g, linePointer, centre, radius, sine, cosine);
}
