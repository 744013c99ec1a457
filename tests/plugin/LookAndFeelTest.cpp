// What the look-and-feel puts on screen, checked on rendered pixels: where the knob
// pointers stand, which control gets which style, and that nothing but the moving
// parts is drawn.
#include "plugin/OptoLookAndFeel.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
constexpr double pi = 3.14159265358979323846;
const float startAngle = static_cast<float>(pi) * 1.2f;
const float endAngle = static_cast<float>(pi) * 2.8f;

struct Pixel
{
    int alpha;
    int brightness;
};

Pixel pixelAt(const juce::Image& image, double x, double y)
{
    const auto c = image.getPixelAt(static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y)));
    return { c.getAlpha(), (c.getRed() + c.getGreen() + c.getBlue()) / 3 };
}

// The point at radius r from the centre of a size x size knob, at a rotary angle
// (0 at twelve o'clock, clockwise).
juce::Point<double> onDial(int size, double r, double angle)
{
    const double c = size * 0.5;
    return { c + r * std::sin(angle), c - r * std::cos(angle) };
}

juce::Image drawKnob(const juce::String& componentId, int size, float proportion)
{
    OptoLookAndFeel lookAndFeel;
    juce::Slider slider;
    slider.setComponentID(componentId);
    juce::Image image(juce::Image::ARGB, size, size, true);
    juce::Graphics g(image);
    lookAndFeel.drawRotarySlider(g, 0, 0, size, size, proportion, startAngle, endAngle, slider);
    return image;
}

struct PointerCase
{
    const char* componentId;
    int size;
    float proportion;
    double shownAt;  // angle where the pointer must be
    double emptyAt;  // angle where nothing may be drawn
};

class KnobPointer : public ::testing::TestWithParam<PointerCase>
{
};

TEST_P(KnobPointer, StandsAtTheAngleOfItsValue)
{
    const auto& c = GetParam();
    const auto image = drawKnob(c.componentId, c.size, c.proportion);
    const double r = 0.46 * c.size;
    for (double along : { 0.3, 0.5, 0.65 })
    {
        const auto on = onDial(c.size, along * r, c.shownAt);
        const auto off = onDial(c.size, along * r, c.emptyAt);
        EXPECT_GT(pixelAt(image, on.x, on.y).alpha, 200) << "at " << along << " R";
        EXPECT_EQ(pixelAt(image, off.x, off.y).alpha, 0) << "at " << along << " R";
    }
}

// Emphasis reads its arc backwards; IDs are compared exactly, so a case variant gets the
// default direction.
INSTANTIATE_TEST_SUITE_P(
    Angles, KnobPointer,
    ::testing::Values(PointerCase { "", 92, 0.0f, 1.2 * pi, 2.8 * pi },
                      PointerCase { "", 92, 1.0f, 2.8 * pi, 1.2 * pi },
                      PointerCase { "", 52, 0.5f, 2.0 * pi, 1.2 * pi },
                      PointerCase { "emphasis", 52, 0.0f, 2.8 * pi, 1.2 * pi },
                      PointerCase { "emphasis", 52, 1.0f, 1.2 * pi, 2.8 * pi },
                      PointerCase { "Emphasis", 52, 0.0f, 1.2 * pi, 2.8 * pi },
                      PointerCase { "meterSelector", 60, 0.0f, 1.2 * pi, 2.0 * pi },
                      PointerCase { "meterSelector", 60, 0.5f, 2.0 * pi, 1.2 * pi },
                      PointerCase { "meterSelector", 60, 1.0f, 2.8 * pi, 2.0 * pi }));

// Straight up, 3 px to the left of the pointer's axis: inside the 7 px pale bar of the
// meter selector, clear of a line pointer (which casts its shadow to the right).
TEST(KnobPointer, MeterSelectorGetsAWidePaleBarOthersAThinLine)
{
    const int size = 60;
    const double y = size * 0.5 - 0.4 * 0.46 * size;
    const auto bar = drawKnob("meterSelector", size, 0.5f);
    const auto line = drawKnob("meterselector", size, 0.5f);

    EXPECT_GT(pixelAt(bar, 27.5, y).alpha, 200);
    EXPECT_GT(pixelAt(bar, 27.5, y).brightness, 180);
    EXPECT_LT(pixelAt(bar, 30.0, y).brightness, 80) << "dark centre line";
    EXPECT_EQ(pixelAt(line, 27.5, y).alpha, 0);
    EXPECT_LT(pixelAt(line, 30.0, y).brightness, 80);
}

juce::Image drawSwitch(const juce::String& componentId, int w, int h, bool on, bool highlighted, bool down)
{
    OptoLookAndFeel lookAndFeel;
    juce::ToggleButton button("Comp/Limit");
    button.setComponentID(componentId);
    button.setSize(w, h);
    button.setToggleState(on, juce::dontSendNotification);
    juce::Image image(juce::Image::ARGB, w, h, true);
    juce::Graphics g(image);
    lookAndFeel.drawToggleButton(g, button, highlighted, down);
    return image;
}

int lightPixels(const juce::Image& image)
{
    int count = 0;
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (const auto p = pixelAt(image, x, y); p.alpha > 128 && p.brightness > 170)
                ++count;
    return count;
}

bool columnsEmpty(const juce::Image& image, int from, int to)
{
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = from; x < to; ++x)
            if (image.getPixelAt(x, y).getAlpha() != 0)
                return false;
    return true;
}

// On a 50 x 60 switch the lever's ball sits at (22, 9) when on and (28, 51) when off.
TEST(HardwareSwitch, LeverPointsUpWhenOnAndDownWhenOff)
{
    const auto on = drawSwitch("hardwareSwitch", 50, 60, true, false, false);
    const auto off = drawSwitch("hardwareSwitch", 50, 60, false, false, false);
    EXPECT_GT(pixelAt(on, 22, 9).alpha, 250);
    EXPECT_EQ(pixelAt(on, 28, 51).alpha, 0);
    EXPECT_GT(pixelAt(off, 28, 51).alpha, 250);
    EXPECT_EQ(pixelAt(off, 22, 9).alpha, 0);
    // Nothing but the lever: no tick box on the left, no text on the right.
    for (const auto* image : { &on, &off })
    {
        EXPECT_TRUE(columnsEmpty(*image, 0, 15));
        EXPECT_TRUE(columnsEmpty(*image, 37, 50));
    }
}

TEST(HardwareSwitch, PressingThickensTheLeverAndHoveringChangesNothing)
{
    const auto plain = drawSwitch("hardwareSwitch", 50, 60, true, false, false);
    const auto hovered = drawSwitch("hardwareSwitch", 50, 60, true, true, false);
    const auto pressed = drawSwitch("hardwareSwitch", 50, 60, true, false, true);
    EXPECT_GT(lightPixels(pressed), lightPixels(plain));
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 50; ++x)
            ASSERT_EQ(hovered.getPixelAt(x, y), plain.getPixelAt(x, y)) << x << ", " << y;
}

// On the 56 x 22 bypass switch the thumb is centred at (45, 11) when on, (11, 11) when off.
TEST(SlideSwitch, ThumbSlidesRightWhenOnAndDarkensUnderTheMouse)
{
    const auto on = drawSwitch("bypassSwitch", 56, 22, true, false, false);
    const auto off = drawSwitch("bypassSwitch", 56, 22, false, false, false);
    const auto hovered = drawSwitch("bypassSwitch", 56, 22, true, true, false);
    EXPECT_LT(pixelAt(on, 45, 11).brightness, 60);
    EXPECT_GT(pixelAt(on, 11, 11).brightness, 200);
    EXPECT_LT(pixelAt(off, 11, 11).brightness, 60);
    EXPECT_GT(pixelAt(off, 45, 11).brightness, 200);
    EXPECT_LT(pixelAt(hovered, 45, 11).brightness, pixelAt(on, 45, 11).brightness);
    EXPECT_EQ(pixelAt(hovered, 45, 11).alpha, 255);
}

TEST(SlideSwitch, AnyOtherIdGetsTheSlideSwitchToo)
{
    const auto none = drawSwitch("", 56, 22, true, false, false);
    const auto cased = drawSwitch("HardwareSwitch", 56, 22, true, false, false);
    EXPECT_LT(pixelAt(none, 45, 11).brightness, 60);
    EXPECT_LT(pixelAt(cased, 45, 11).brightness, 60);
    EXPECT_GT(pixelAt(cased, 11, 11).brightness, 200);
}

TEST(SlideSwitch, TooSmallForAPillStillDrawsTheThumb)
{
    const auto tiny = drawSwitch("bypassSwitch", 12, 3, false, false, false);
    EXPECT_GT(pixelAt(tiny, 10, 1).alpha, 0);
}
} // namespace
