// The processor compressing a steady tone at 48 kHz settles where the model puts it.
#include "plugin/PluginProcessor.h"

#include "dsp/ControlMapping.h"
#include "dsp/OptoGainModelDSP.h"

#include "../dsp/LiteralPchip.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
void setPlain(QuillonAudioProcessor& p, const char* id, float value)
{
    auto* parameter = p.parameters.getParameter(id);
    parameter->setValueNotifyingHost(parameter->convertTo0to1(value));
}

double sine(double amplitude, int n) { return amplitude * std::sin(2.0 * M_PI * 1000.0 * n / 48000.0); }

// Output over input level of a steady 1 kHz tone after `seconds`, measured over the last 0.1 s.
double settledChangeDb(QuillonAudioProcessor& p, double amplitude, double seconds)
{
    p.prepareToPlay(48000.0, 480);
    juce::AudioBuffer<float> buffer(2, 480);
    juce::MidiBuffer midi;
    const int blocks = static_cast<int>(seconds * 100.0);
    double in = 0.0, out = 0.0;
    int n = 0;
    for (int b = 0; b < blocks; ++b)
    {
        for (int i = 0; i < 480; ++i)
        {
            const auto v = static_cast<float>(sine(amplitude, n + i));
            buffer.setSample(0, i, v);
            buffer.setSample(1, i, v);
        }
        p.processBlock(buffer, midi);
        if (b >= blocks - 10)
            for (int i = 0; i < 480; ++i)
            {
                in += sine(amplitude, n + i) * sine(amplitude, n + i);
                out += static_cast<double>(buffer.getSample(0, i)) * buffer.getSample(0, i);
            }
        n += 480;
    }
    return 10.0 * std::log10(out / in);
}

// The gain model's own settled frame gain for the same tone.
double settledFrameGainDb(double peakNorm, double amplitude, double seconds, double& baseLevelDb)
{
    quillon::OptoGainModelDSP model;
    model.prepare(48000.0, peakNorm, 1.0, false, 2);
    double gain = 0.0;
    for (int n = 0; n < static_cast<int>(seconds * 48000.0); ++n)
    {
        quillon::GainModelFrame f {};
        if (model.processSample(static_cast<double>(static_cast<float>(sine(amplitude, n))), f))
            gain = f.gainDb, baseLevelDb = f.baseLevelDb;
    }
    return gain;
}
} // namespace

TEST(EndToEnd, SteadyToneSettlesAtTheModelGainWithMakeupAndHighPeakCorrection)
{
    struct Case
    {
        float peakReduction;
        double levelDb;
        bool corrected;
    };
    const Case cases[] = { { 95.0f, -25.5, true }, { 50.0f, -25.5, false }, { 95.0f, -12.0, false } };
    for (const auto& c : cases)
    {
        QuillonAudioProcessor p;
        setPlain(p, "peakReduction", c.peakReduction);
        const double amplitude = std::pow(10.0, c.levelDb / 20.0);
        const double k = quillon::normalisedPeakReduction(static_cast<double>(p.parameters.getRawParameterValue("peakReduction")->load()));

        double baseLevel = 0.0;
        double expectedDb = settledFrameGainDb(k, amplitude, 3.0, baseLevel)
                            + 20.0 * std::log10(quillon::makeupGainFor(0.321868896484375));
        if (c.corrected)
        {
            // The correction's target, worked out from its measured table.
            const std::array<double, 5> nodes { 0.85, 0.8875, 0.9375, 0.975, 1.0 };
            const std::array<double, 5> errorDb { -0.9335029213501768, -0.72292711033791, -0.6178415053144612,
                                                  -0.855566138495615, -0.9314681060419471 };
            const double x = baseLevel + 12.000000253286988;
            ASSERT_TRUE(x <= -12.5 && x >= -14.5);
            expectedDb += -((x + 13.5) * -0.1522454111839181 + literal::pchip(nodes, errorDb, k));
        }
        EXPECT_NEAR(settledChangeDb(p, amplitude, 3.0), expectedDb, 0.01) << c.peakReduction << " at " << c.levelDb;
    }
}
