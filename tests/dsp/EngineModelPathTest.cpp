// The engine with the gain model running: when the wet path starts, how gain frames are
// applied to the delayed audio, the dry settings, the mix, and restarts.
#include "dsp/ControlMapping.h"
#include "dsp/OptoRealtimeDSP.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <vector>

using quillon::OptoRealtimeDSP;
using quillon::RealtimeControls;

namespace
{
constexpr int latency = 159;
constexpr int delay = 151;
// The model's first frame (position 144) arrives with sample 271, its second (168) with
// sample 295; only then is there a pair around the delayed sample 295 - 151 = 144.
constexpr int firstGainedSample = 295;

// A quiet 1 kHz tone with a loud burst in the middle, so the gain moves.
std::vector<double> burst(int length)
{
    std::vector<double> x(static_cast<size_t>(length));
    for (int n = 0; n < length; ++n)
    {
        const double level = (n >= 2000 && n < 6000) ? 0.5 : 0.03;
        x[static_cast<size_t>(n)] = level * std::sin(2.0 * M_PI * 1000.0 * n / 48000.0);
    }
    return x;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Run
{
    std::vector<double> out;
    std::vector<bool> fallback;
    std::vector<bool> modelled;
};

using ControlsAt = std::map<int, RealtimeControls>;

Run runMono(const std::vector<double>& x, const ControlsAt& changes = {}, int resetAt = -1)
{
    OptoRealtimeDSP engine;
    engine.prepare(48000.0, 1);
    Run r;
    for (size_t n = 0; n < x.size(); ++n)
    {
        if (auto it = changes.find(static_cast<int>(n)); it != changes.end())
            engine.setControls(it->second);
        if (static_cast<int>(n) == resetAt)
            engine.reset();
        double y = 0.0;
        engine.processSample(&x[n], &y, 1);
        r.out.push_back(y);
        r.fallback.push_back(engine.diagnostics().fallback);
        r.modelled.push_back(engine.diagnostics().modelled);
    }
    return r;
}

double dry(const std::vector<double>& x, int n) { return n >= latency ? x[static_cast<size_t>(n - latency)] : 0.0; }

RealtimeControls with(void (*change)(RealtimeControls&))
{
    RealtimeControls c;
    change(c);
    return c;
}
} // namespace

TEST(EngineModelPath, WetPathStartsOnceTwoFramesSurroundTheDelayedSample)
{
    const auto x = burst(1000);
    const auto r = runMono(x);
    for (int n = 0; n < firstGainedSample; ++n)
    {
        ASSERT_TRUE(sameBits(r.out[static_cast<size_t>(n)], dry(x, n))) << n;
        ASSERT_TRUE(r.fallback[static_cast<size_t>(n)]) << n;
    }
    for (int n = firstGainedSample; n < 1000; ++n)
    {
        ASSERT_FALSE(r.fallback[static_cast<size_t>(n)]) << n;
        ASSERT_TRUE(r.modelled[static_cast<size_t>(n)]) << n;
    }
    EXPECT_NE(r.out[firstGainedSample], dry(x, firstGainedSample));
}

TEST(EngineModelPath, AppliesFrameGainsInterpolatedInDbToTheDelayedSample)
{
    const auto x = burst(9000);
    RealtimeControls c;
    c.fractionalDelayWet = false; // the output is then the gained wet sample of 8 frames ago
    const auto r = runMono(x, { { 0, c } });

    // The model's frames, from a model of its own fed the same samples.
    quillon::OptoGainModelDSP model;
    model.prepare(48000.0, quillon::normalisedPeakReduction(25.0), 1.0, false, 2);
    std::map<std::uint64_t, double> frameDb;
    for (double v : x)
    {
        quillon::GainModelFrame f {};
        if (model.processSample(v, f))
            frameDb[f.position] = f.gainDb;
    }

    const double makeup = quillon::makeupGainFor(quillon::normalisedGain(30.0));
    for (int n = firstGainedSample + 8; n < 9000; ++n)
    {
        const auto d = static_cast<std::uint64_t>(n - 8 - delay);
        const std::uint64_t older = d - d % 24;
        const double gOld = frameDb.at(older);
        const double gNew = frameDb.at(older + 24);
        const double gDb = (gNew - gOld) * (static_cast<double>(d - older) / 24.0) + gOld;
        const double expected = (std::pow(10.0, gDb / 20.0) * makeup) * x[d];
        ASSERT_TRUE(sameBits(r.out[static_cast<size_t>(n)], expected)) << n;
    }
}

TEST(EngineModelPath, DrySettingsGiveTheDelayedInputWhileTheModelKeepsRunning)
{
    const auto x = burst(8000);
    const auto normal = runMono(x);
    using Change = void (*)(RealtimeControls&);
    const Change drySettings[] = { [](RealtimeControls& c) { c.mix = 0.0; },
                                   [](RealtimeControls& c) { c.power = false; },
                                   [](RealtimeControls& c) { c.bypass = true; } };
    for (auto change : drySettings)
    {
        const auto r = runMono(x, { { 0, with(change) }, { 5000, RealtimeControls {} } });
        for (int n = 0; n < 5000; ++n)
            ASSERT_TRUE(sameBits(r.out[static_cast<size_t>(n)], dry(x, n))) << n;
        // The model and the wet path ran on, so the output picks up exactly where it would be.
        for (int n = 5000; n < 8000; ++n)
            ASSERT_TRUE(sameBits(r.out[static_cast<size_t>(n)], normal.out[static_cast<size_t>(n)])) << n;
    }
}

TEST(EngineModelPath, HalfMixAddsTheTwoProducts)
{
    const auto x = burst(4000);
    const auto full = runMono(x);
    const auto half = runMono(x, { { 0, with([](RealtimeControls& c) { c.mix = 50.0; }) } });
    for (int n = firstGainedSample; n < 4000; ++n)
    {
        const double expected = (1.0 - 0.5) * dry(x, n) + 0.5 * full.out[static_cast<size_t>(n)];
        ASSERT_TRUE(sameBits(half.out[static_cast<size_t>(n)], expected)) << n;
    }
}

TEST(EngineModelPath, AnInvalidRecordStopsTheModelAndTheNextValidOneRestartsIt)
{
    const auto x = burst(3000);
    const auto r = runMono(x, { { 1000, with([](RealtimeControls& c) { c.gain = -1.0; }) }, { 1010, RealtimeControls {} } });
    for (int n = 1000; n < 1010 + firstGainedSample; ++n)
    {
        ASSERT_TRUE(sameBits(r.out[static_cast<size_t>(n)], dry(x, n))) << n;
        ASSERT_TRUE(r.fallback[static_cast<size_t>(n)]) << n;
    }
    // A new time base at sample 1010, off the old 24-sample grid, and frames on the new one.
    for (int n = 1010 + firstGainedSample; n < 3000; ++n)
        ASSERT_FALSE(r.fallback[static_cast<size_t>(n)]) << n;
}

TEST(EngineModelPath, ResetWhileRunningGivesSilenceThenStartsTheModelAfresh)
{
    const auto x = burst(3000);
    const auto r = runMono(x, {}, 1200);
    for (int n = 1200; n < 1200 + latency; ++n)
        ASSERT_EQ(r.out[static_cast<size_t>(n)], 0.0) << n;
    for (int n = 1200 + latency; n < 1200 + firstGainedSample; ++n)
        ASSERT_TRUE(sameBits(r.out[static_cast<size_t>(n)], x[static_cast<size_t>(n - latency)])) << n;
    for (int n = 1200 + firstGainedSample; n < 3000; ++n)
        ASSERT_FALSE(r.fallback[static_cast<size_t>(n)]) << n;
}

TEST(EngineModelPath, LimitModeDeepensTheReductionAndCompModeNeverDoes)
{
    const auto x = burst(9000);
    OptoRealtimeDSP comp, limit;
    comp.prepare(48000.0, 1);
    limit.prepare(48000.0, 1);
    RealtimeControls cc;
    cc.peakReduction = 60.0;
    comp.setControls(cc);
    RealtimeControls lc = cc;
    lc.limitMode = true;
    limit.setControls(lc);
    double compEnergy = 0.0, limitEnergy = 0.0;
    bool limitMemoryShown = false;
    for (int n = 0; n < 9000; ++n)
    {
        double yc = 0.0, yl = 0.0;
        comp.processSample(&x[static_cast<size_t>(n)], &yc, 1);
        limit.processSample(&x[static_cast<size_t>(n)], &yl, 1);
        ASSERT_FALSE(comp.diagnostics().limitMemoryActive) << n;
        limitMemoryShown = limitMemoryShown || limit.diagnostics().limitMemoryActive;
        if (n >= 3000 && n < 6000 + latency)
            compEnergy += yc * yc, limitEnergy += yl * yl;
    }
    EXPECT_TRUE(limitMemoryShown);
    EXPECT_LT(limitEnergy, compEnergy * std::pow(10.0, -0.1 / 10.0)) << "at least 0.1 dB further down during the burst";
}
