#include "plugin/PanelMath.h"

#include <cmath>

namespace panel
{
float pointerAngle(float proportion, float startAngle, float endAngle, bool mirrored) noexcept
{
    const float position = mirrored ? 1.0f - proportion : proportion;
    return startAngle + position * (endAngle - startAngle);
}

juce::Point<float> pointOnDial(juce::Point<float> centre, float r, float sine, float cosine) noexcept
{
    return { centre.x + r * sine, centre.y - r * cosine };
}

juce::Line<float> needleLine(float width, float height, float level) noexcept
{
    constexpr float pi = juce::MathConstants<float>::pi;
    const juce::Point<float> pivot { 0.5f * width, height + 7.0f };
    const float length = 0.43f * width - 5.0f;
    const float angle = level * pi + pi;
    return { pivot, { pivot.x + length * std::cos(angle), pivot.y + length * std::sin(angle) } };
}

float nextDisplayedLevel(float displayed, float published) noexcept
{
    const float decayed = displayed * 0.92f;
    return decayed > published ? decayed : published;
}

float needleLevel(float displayed) noexcept
{
    return displayed < 0.0f ? 0.0f : std::min(1.0f, displayed);
}

juce::String readoutText(const std::atomic<float>* rawValue)
{
    return juce::String(rawValue != nullptr ? static_cast<double>(rawValue->load()) : 0.0);
}

juce::String meterModeLabel(const std::atomic<float>* rawValue)
{
    // Rounds half to even (the default rounding mode); anything below 1, NaN included,
    // reads as the first position.
    const float rounded = rawValue != nullptr ? std::nearbyint(rawValue->load()) : 0.0f;
    const int index = rounded >= 2.0f ? 2 : (rounded >= 1.0f ? 1 : 0);
    static const char* const labels[] = { "+10 dB", "GR", "+4 dB" };
    return labels[index];
}

juce::Rectangle<float> compLimitDot(bool limit) noexcept
{
    return { 68.0f, limit ? 231.0f : 282.0f, 4.0f, 4.0f };
}
} // namespace panel
