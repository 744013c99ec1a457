#pragma once

#include <juce_graphics/juce_graphics.h>

#include <atomic>

// The arithmetic behind the editor's drawing, kept apart from the painting so that it can
// be checked without looking at pixels: knob pointer angles, the meter needle and its
// ballistics, and the texts printed on the faceplate.
namespace panel
{
// Angle (radians, clockwise from twelve o'clock) of a knob pointer at the slider's
// proportion; a mirrored knob reads its arc from the end angle backwards.
float pointerAngle(float proportion, float startAngle, float endAngle, bool mirrored) noexcept;

// The point at radius r from centre along the angle whose sine and cosine are given.
juce::Point<float> pointOnDial(juce::Point<float> centre, float r, float sine, float cosine) noexcept;

// The needle from its pivot (7 px below a width x height overlay) to its tip, for a level in 0..1.
juce::Line<float> needleLine(float width, float height, float level) noexcept;

// One 33 ms tick of the needle: a higher reading shows at once, a lower one is approached
// by letting the held level fall by a factor 0.92 per tick.
float nextDisplayedLevel(float displayed, float published) noexcept;

// The held level limited to the needle's end stops.
float needleLevel(float displayed) noexcept;

// A parameter's plain value as printed under its knob ("30", "25.3"); "0" without a value.
juce::String readoutText(const std::atomic<float>* rawValue);

// The meter selector's position as printed under it: "+10 dB", "GR" or "+4 dB".
juce::String meterModeLabel(const std::atomic<float>* rawValue);

// The dot beside the Comp/Limit switch: next to LIMIT when on, next to COMP when off.
juce::Rectangle<float> compLimitDot(bool limit) noexcept;
} // namespace panel
