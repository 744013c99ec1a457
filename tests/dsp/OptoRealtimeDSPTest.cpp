#include "dsp/OptoRealtimeDSP.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

using quillon::OptoRealtimeDSP;
using quillon::RealtimeControls;

namespace
{
constexpr int latency = 159;

// A control record the engine must refuse, so the model path stays off whatever the model does.
RealtimeControls refusedControls()
{
    RealtimeControls c;
    c.mix = 100.0000001;
    return c;
}

double testSignal(int n) { return std::sin(0.05 * n) * 0.5 + 0.001 * n; }

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::vector<double> runMono(OptoRealtimeDSP& engine, const std::vector<double>& input)
{
    std::vector<double> output(input.size(), -123.0);
    for (size_t i = 0; i < input.size(); ++i)
        engine.processSample(&input[i], &output[i], 1);
    return output;
}
} // namespace

TEST(OptoRealtimeDSP, UnpreparedEngineCopiesInputWithoutDelay)
{
    OptoRealtimeDSP engine;
    EXPECT_EQ(engine.latencySamples(), 0);
    for (int n = 0; n < 400; ++n)
    {
        const double in[2] = { testSignal(n), -testSignal(n) };
        double out[2] = { 0.0, 0.0 };
        engine.processSample(in, out, 2);
        ASSERT_EQ(out[0], in[0]);
        ASSERT_EQ(out[1], in[1]);
    }
}

struct DomainCase
{
    double sampleRate;
    int channels;
    int latency;
};

class ModelDomain : public testing::TestWithParam<DomainCase>
{
};

TEST_P(ModelDomain, LatencyAndDelayFollowTheDomain)
{
    const auto c = GetParam();
    OptoRealtimeDSP engine;
    engine.prepare(c.sampleRate, c.channels);
    engine.setControls(refusedControls());
    EXPECT_EQ(engine.latencySamples(), c.latency);

    std::vector<double> input(600);
    for (int n = 0; n < 600; ++n)
        input[static_cast<size_t>(n)] = testSignal(n);

    for (int n = 0; n < 600; ++n)
    {
        double in[2] = { input[static_cast<size_t>(n)], 2.0 * input[static_cast<size_t>(n)] };
        double out[2] = { -1.0, -1.0 };
        engine.processSample(in, out, c.channels);
        for (int ch = 0; ch < c.channels; ++ch)
        {
            const double scale = ch == 0 ? 1.0 : 2.0;
            const double expected = n >= c.latency ? scale * input[static_cast<size_t>(n - c.latency)] : 0.0;
            ASSERT_TRUE(sameBits(out[ch], expected)) << "sample " << n << " channel " << ch;
        }
    }
    EXPECT_TRUE(engine.diagnostics().fallback);
}

INSTANTIATE_TEST_SUITE_P(Engine, ModelDomain,
                         testing::Values(DomainCase { 48000.0, 2, 159 }, DomainCase { 48000.0, 1, 159 },
                                         DomainCase { 48000.0000000005, 2, 159 },
                                         DomainCase { 48000.00001, 2, 0 }, DomainCase { 44100.0, 2, 0 },
                                         DomainCase { 96000.0, 1, 0 }));

TEST(OptoRealtimeDSP, UnusableDomainPassesAudioThrough)
{
    for (double rate : { std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity() })
    {
        OptoRealtimeDSP engine;
        engine.prepare(rate, 2);
        EXPECT_EQ(engine.latencySamples(), 0);
        const double in[2] = { 0.25, -0.5 };
        double out[2] = { 0.0, 0.0 };
        engine.processSample(in, out, 2);
        EXPECT_EQ(out[0], 0.25);
        EXPECT_EQ(out[1], -0.5);
    }
}

TEST(OptoRealtimeDSP, NonFiniteInputComesOutAsPositiveZero)
{
    OptoRealtimeDSP engine;
    engine.prepare(48000.0, 1);
    engine.setControls(refusedControls());
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> input(500, 0.3);
    input[10] = std::numeric_limits<double>::quiet_NaN();
    input[11] = inf;
    input[12] = -inf;
    const auto output = runMono(engine, input);
    for (int n : { 10, 11, 12 })
        EXPECT_TRUE(sameBits(output[static_cast<size_t>(n + latency)], 0.0)) << n;
    EXPECT_EQ(output[13 + latency], 0.3);
}

TEST(OptoRealtimeDSP, RefusesOutOfRangeControlsAndFallsBack)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double negativeSubnormal = -std::numeric_limits<double>::denorm_min();

    struct Case
    {
        double peakReduction, gain, emphasis, mix;
    };
    const Case refused[] = { { 25, 30, 0, 100.0000001 }, { 25, 30, 0, -1 },    { nan, 30, 0, 100 },
                             { 25, inf, 0, 100 },        { 25, 30, -inf, 100 }, { 25, 30, negativeSubnormal, 100 },
                             { 100.5, 30, 0, 100 } };
    for (const auto& c : refused)
    {
        OptoRealtimeDSP engine;
        engine.prepare(48000.0, 2);
        RealtimeControls accepted;
        accepted.mix = 50.0;
        engine.setControls(accepted);

        RealtimeControls controls;
        controls.peakReduction = c.peakReduction;
        controls.gain = c.gain;
        controls.emphasis = c.emphasis;
        controls.mix = c.mix;
        engine.setControls(controls);
        const auto& d = engine.diagnostics();
        EXPECT_TRUE(d.fallback);
        EXPECT_FALSE(d.modelled);
        EXPECT_FALSE(d.fractionalDelayUsed);
        // A refused record changes nothing further: the mix of the last accepted one stands.
        EXPECT_EQ(d.mixFraction, 0.5) << c.peakReduction << " " << c.gain << " " << c.emphasis << " " << c.mix;
    }
}

TEST(OptoRealtimeDSP, AcceptsNegativeZeroControls)
{
    OptoRealtimeDSP engine;
    engine.prepare(48000.0, 2);
    RealtimeControls controls;
    controls.peakReduction = -0.0;
    controls.emphasis = -0.0;
    controls.mix = 30.0;
    engine.setControls(controls);
    EXPECT_EQ(engine.diagnostics().mixFraction, 0.3);
}

TEST(OptoRealtimeDSP, IgnoresOddChannelCountsAndPassesMismatchedOnesThrough)
{
    OptoRealtimeDSP engine;
    engine.prepare(48000.0, 2);
    engine.setControls(refusedControls());

    const double in[3] = { 0.5, 0.25, 0.125 };
    double out[3] = { 7.0, 7.0, 7.0 };
    engine.processSample(in, out, 3);
    engine.processSample(in, out, 0);
    EXPECT_EQ(out[0], 7.0);
    EXPECT_EQ(out[2], 7.0);

    engine.processSample(in, out, 1);
    EXPECT_EQ(out[0], 0.5);
    EXPECT_EQ(out[1], 7.0);
    EXPECT_TRUE(engine.diagnostics().fallback);

    // Neither call advanced the engine's clock: its first real sample still comes out 159 later.
    std::vector<double> first;
    for (int n = 0; n < latency + 1; ++n)
    {
        const double frame[2] = { n == 0 ? 1.0 : 0.0, 0.0 };
        double o[2] = { 0.0, 0.0 };
        engine.processSample(frame, o, 2);
        first.push_back(o[0]);
    }
    EXPECT_EQ(first[latency], 1.0);
    EXPECT_EQ(first[latency - 1], 0.0);
}

TEST(OptoRealtimeDSP, ResetClearsHistoryButKeepsTheDomain)
{
    OptoRealtimeDSP engine;
    engine.prepare(48000.0, 1);
    engine.setControls(refusedControls());
    runMono(engine, std::vector<double>(1000, 0.7));

    engine.reset();
    EXPECT_EQ(engine.latencySamples(), latency);
    std::vector<double> input(400);
    for (int n = 0; n < 400; ++n)
        input[static_cast<size_t>(n)] = testSignal(n);
    const auto output = runMono(engine, input);
    for (int n = 0; n < latency; ++n)
        ASSERT_EQ(output[static_cast<size_t>(n)], 0.0) << n;
    for (int n = latency; n < 400; ++n)
        ASSERT_EQ(output[static_cast<size_t>(n)], input[static_cast<size_t>(n - latency)]) << n;
}
