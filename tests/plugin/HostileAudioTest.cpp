// Audio no musician means to send, at 48 kHz: non-finite samples, denormals, full-scale
// squares, DC, fades into nothing and long silence.
#include "plugin/PluginProcessor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace
{
constexpr int latency = 159;

void setPlain(QuillonAudioProcessor& p, const char* id, float value)
{
    auto* parameter = p.parameters.getParameter(id);
    parameter->setValueNotifyingHost(parameter->convertTo0to1(value));
}

using Signal = std::function<float(int)>;

// Runs `seconds` of `signal` on both channels in 512-sample blocks; returns the left output.
std::vector<float> run(QuillonAudioProcessor& p, const Signal& signal, double seconds, int start = 0)
{
    const int total = static_cast<int>(seconds * 48000.0);
    std::vector<float> out;
    out.reserve(static_cast<size_t>(total));
    juce::AudioBuffer<float> buffer(2, 512);
    juce::MidiBuffer midi;
    for (int n = 0; n < total; n += 512)
    {
        const int count = std::min(512, total - n);
        buffer.setSize(2, count, false, false, true);
        for (int i = 0; i < count; ++i)
        {
            buffer.setSample(0, i, signal(start + n + i));
            buffer.setSample(1, i, signal(start + n + i));
        }
        p.processBlock(buffer, midi);
        for (int i = 0; i < count; ++i)
            out.push_back(buffer.getSample(0, i));
    }
    return out;
}

float tone(int n) { return 0.3f * std::sin(0.13f * static_cast<float>(n)); }

// After whatever came before, a tone must again be compressed by the model.
void expectModelStillWorks(QuillonAudioProcessor& p, int start)
{
    run(p, tone, 0.5, start);
    EXPECT_TRUE(p.getEngineDiagnostics().modelled);
    EXPECT_FALSE(p.getEngineDiagnostics().fallback);
}
} // namespace

TEST(HostileAudio, NonFiniteSamplesComeOutAsExactZerosOnTheDryPath)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    QuillonAudioProcessor p;
    p.prepareToPlay(48000.0, 512);
    setPlain(p, "mix", 0.0f);
    const auto signal = [&](int n) {
        switch (n % 7)
        {
            case 0: return nan;
            case 1: return inf;
            case 2: return -inf;
            default: return tone(n);
        }
    };
    const auto out = run(p, signal, 1.0);
    for (size_t n = latency; n < out.size(); ++n)
    {
        const float expected = (n - latency) % 7 < 3 ? 0.0f : tone(static_cast<int>(n - latency));
        ASSERT_EQ(out[n], expected) << n;
        ASSERT_FALSE(std::signbit(out[n]) && out[n] == 0.0f) << n;
    }
    setPlain(p, "mix", 100.0f);
    expectModelStillWorks(p, 48000);
}

TEST(HostileAudio, FiniteInputNeverProducesNonFiniteOutput)
{
    const float smallestNormal = std::numeric_limits<float>::min();
    const std::pair<const char*, Signal> signals[] = {
        { "non-finite bursts", [](int n) { return n % 100 < 3 ? std::numeric_limits<float>::quiet_NaN() : tone(n); } },
        { "denormals", [=](int n) { return (n % 2 ? 1.0f : -1.0f) * smallestNormal * 0.25f; } },
        { "full-scale square", [](int n) { return (n / 24) % 2 ? 1.0f : -1.0f; } },
        { "square beyond full scale", [](int n) { return (n / 240) % 2 ? 8.0f : -8.0f; } },
        { "DC", [](int) { return 0.7f; } },
        { "fade to nothing", [](int n) { return tone(n) * std::pow(10.0f, -static_cast<float>(n) / 2400.0f); } },
    };
    for (const auto& [name, signal] : signals)
    {
        QuillonAudioProcessor p;
        p.prepareToPlay(48000.0, 512);
        setPlain(p, "peakReduction", 70.0f);
        for (float y : run(p, signal, 2.0))
            ASSERT_TRUE(std::isfinite(y)) << name;
        expectModelStillWorks(p, 96000);
        EXPECT_EQ(p.getLatencySamples(), latency) << name;
    }
}

TEST(HostileAudio, LongSilenceStaysSilentAndTheModelResumes)
{
    QuillonAudioProcessor p;
    p.prepareToPlay(48000.0, 512);
    run(p, tone, 0.5);
    const auto out = run(p, [](int) { return 0.0f; }, 60.0);
    for (size_t n = 48000; n < out.size(); ++n)
        ASSERT_EQ(out[n], 0.0f) << n;
    expectModelStillWorks(p, 0);
}

TEST(HostileAudio, OutsideTheModelDomainEverySamplePassesUntouched)
{
    QuillonAudioProcessor p;
    p.prepareToPlay(44100.0, 512);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const auto signal = [&](int n) { return n % 5 == 0 ? nan : n % 5 == 1 ? std::numeric_limits<float>::denorm_min() : tone(n); };
    const auto out = run(p, signal, 0.2);
    for (size_t n = 0; n < out.size(); ++n)
    {
        if (n % 5 == 0)
            ASSERT_TRUE(std::isnan(out[n])) << n;
        else if (n % 5 == 1)
            ASSERT_EQ(out[n], 0.0f) << "blocks run with denormals read as zero, in every domain";
        else
            ASSERT_EQ(out[n], signal(static_cast<int>(n))) << n;
    }
}
