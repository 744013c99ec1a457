// Renders a fixed set of signals and control changes through the real engine and through the
// plain literal engine, and requires every output double and every diagnostics field to agree
// bit for bit: the real engine's tables and shortcuts may change the work, never a result.

#include "dsp/OptoRealtimeDSP.h"
#include "tests/literal/LiteralEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace
{

using quillon::RealtimeControls;
using quillon::RealtimeDiagnostics;

constexpr double rate = 48000.0;
constexpr double twoPi = 6.283185307179586;

std::uint64_t bits(double v)
{
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

double dbToAmplitude(double db) { return std::pow(10.0, db / 20.0); }

// Deterministic white noise in [-1, 1), one stream per channel.
struct Noise
{
    std::uint64_t state;
    double next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<double>(state >> 11) * (2.0 / 9007199254740992.0) - 1.0;
    }
};

using Signal = std::function<void(long n, double* frame, int channels)>;

struct Event
{
    double atSeconds;
    bool reset;
    RealtimeControls controls;
};

struct Scenario
{
    std::string name;
    double seconds;
    Signal signal;
    std::vector<Event> events;
    double sampleRate = rate;
};

RealtimeControls panel(double peak, double gain = 30.0, double emphasis = 0.0, double mix = 100.0,
                       bool limit = false)
{
    RealtimeControls c;
    c.peakReduction = peak;
    c.gain = gain;
    c.emphasis = emphasis;
    c.mix = mix;
    c.limitMode = limit;
    return c;
}

Event at(double seconds, RealtimeControls c) { return {seconds, false, c}; }
Event resetAt(double seconds) { return {seconds, true, {}}; }

// 1 kHz bursts of 150 ms every 400 ms, stepping through the given levels; the right channel
// carries 1.5 kHz, or the same tone where the level of the mono sum matters.
Signal toneBursts(std::vector<double> levelsDb, bool sameOnBoth = false)
{
    return [levelsDb, sameOnBoth](long n, double* frame, int channels) {
        const long period = 19200;
        const long burst = n / period;
        const bool on = n % period < 7200;
        const double a = on ? dbToAmplitude(levelsDb[static_cast<std::size_t>(burst) % levelsDb.size()]) : 0.0;
        const double t = static_cast<double>(n) / rate;
        frame[0] = a * std::sin(twoPi * 1000.0 * t);
        if (channels == 2)
            frame[1] = sameOnBoth ? frame[0] : a * std::sin(twoPi * 1500.0 * t + 0.3);
    };
}

Signal steppedNoise()
{
    auto left = std::make_shared<Noise>(Noise {0x9E3779B97F4A7C15ull});
    auto right = std::make_shared<Noise>(Noise {0xD1B54A32D192ED03ull});
    return [left, right](long n, double* frame, int channels) {
        const double levels[] = {-30.0, -12.0, -3.0, -20.0, -45.0, -8.0};
        const double a = dbToAmplitude(levels[(n / 14400) % 6]);
        frame[0] = a * left->next();
        if (channels == 2)
            frame[1] = a * right->next();
    };
}

Signal logSweep(double seconds)
{
    return [seconds](long n, double* frame, int channels) {
        const double t = static_cast<double>(n) / rate;
        const double k = std::log(20000.0 / 20.0);
        const double phase = twoPi * 20.0 * seconds / k * (std::exp(t / seconds * k) - 1.0);
        const double a = dbToAmplitude(-10.0);
        frame[0] = a * std::sin(phase);
        if (channels == 2)
            frame[1] = a * std::cos(phase);
    };
}

// Noise decaying from -60 dBFS through the subnormal range to exact zeros.
Signal fadeToSilence()
{
    auto noise = std::make_shared<Noise>(Noise {0x2545F4914F6CDD1Dull});
    return [noise](long n, double* frame, int channels) {
        const double t = static_cast<double>(n) / rate;
        const double a = t < 2.0 ? 1e-3 * std::pow(10.0, -160.0 * t) : 0.0;
        frame[0] = a * noise->next();
        if (channels == 2)
            frame[1] = a * noise->next() * 0.5;
    };
}

Signal tonesWithBadSamples()
{
    auto base = toneBursts({-10.0, -20.0, -3.0});
    return [base](long n, double* frame, int channels) {
        base(n, frame, channels);
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        const long k = n % 24000;
        if (k >= 3000 && k < 3010)
            frame[0] = nan;
        if (k >= 9000 && k < 9400)
            frame[channels - 1] = inf;
        if (k >= 15000 && k < 15003)
            for (int c = 0; c < channels; ++c)
                frame[c] = -inf;
        if (k == 21000)
            frame[0] = -nan;
    };
}

// A short run of samples near the largest double, opposite in sign on the two channels: in mono
// it overflows the model's level and stops it; in stereo the mono sum is zero, the model runs
// on and the gained wet sample overflows the wet allpass instead.
Signal hugeSamples()
{
    auto tones = toneBursts({-6.0, -18.0, -3.0});
    return [tones](long n, double* frame, int channels) {
        tones(n, frame, channels);
        if (n >= 24000 && n < 24064)
        {
            frame[0] = 1.5e308;
            if (channels == 2)
                frame[1] = -1.5e308;
        }
    };
}

Signal program()
{
    auto tones = toneBursts({-6.0, -18.0, -30.0, 0.0});
    auto noise = steppedNoise();
    return [tones, noise](long n, double* frame, int channels) {
        double t[2] = {0.0, 0.0};
        double u[2] = {0.0, 0.0};
        tones(n, t, channels);
        noise(n, u, channels);
        for (int c = 0; c < channels; ++c)
            frame[c] = t[c] + 0.25 * u[c];
    };
}

std::vector<Event> controlJourney()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    RealtimeControls c = panel(25.0);
    std::vector<Event> e;
    e.push_back(at(0.0, c));
    c.peakReduction = 80.0;
    e.push_back(at(0.3, c));
    c.emphasis = 50.0;
    e.push_back(at(0.6, c));
    c.emphasis = 50.0 + 1e-11; // below the model's tolerance: the filter stays
    e.push_back(at(0.7, c));
    c.gain = 60.0;
    e.push_back(at(0.9, c));
    c.mix = 40.0;
    e.push_back(at(1.2, c));
    c.limitMode = true;
    e.push_back(at(1.5, c));
    c.power = false;
    e.push_back(at(1.8, c));
    c.power = true;
    e.push_back(at(2.0, c));
    c.bypass = true;
    e.push_back(at(2.2, c));
    c.bypass = false;
    e.push_back(at(2.4, c));
    RealtimeControls bad = c;
    bad.mix = nan;
    e.push_back(at(2.6, bad));
    c.peakReduction = 60.0;
    c.emphasis = 20.0;
    e.push_back(at(2.7, c));
    e.push_back(resetAt(3.0));
    c.gain = 8.0; // below the make-up curve: the wet share is muted
    e.push_back(at(3.3, c));
    c.gain = 100.0;
    c.emphasis = 100.0;
    c.peakReduction = 100.0;
    e.push_back(at(3.5, c));
    c.peakReduction = 0.0;
    c.limitMode = false;
    e.push_back(at(3.8, c));
    bad = c;
    bad.peakReduction = 100.0000001;
    e.push_back(at(4.1, bad));
    c.peakReduction = -0.0;
    e.push_back(at(4.15, c));
    c.fractionalDelayWet = false;
    c.peakReduction = 45.0;
    e.push_back(at(4.4, c));
    c.fractionalDelayWet = true;
    c.highPeakCorrection = false;
    c.mix = 0.0;
    e.push_back(at(4.6, c));
    e.push_back(resetAt(4.8));
    return e;
}

std::vector<Scenario> scenarios()
{
    return {
        {"TonesAtDefaults", 2.4, toneBursts({-40.0, -26.0, -20.0, -12.0, -6.0, 0.0}), {}},
        {"TonesAtHighPeakReduction", 2.4, toneBursts({-25.5, -25.0, -26.2, -10.0, -25.5, -40.0}, true),
         {at(0.0, panel(95.0)), at(1.2, panel(88.0))}},
        {"TonesInLimitMode", 2.4, toneBursts({-6.0, -20.0, 0.0, -12.0}),
         {at(0.0, panel(70.0, 40.0, 0.0, 100.0, true)), at(1.0, panel(70.0, 40.0, 0.0, 70.0, true))}},
        {"TonesAtTheVariantPoint", 2.0, toneBursts({-6.0, -15.0, 0.0}),
         {at(0.0, panel(52.1, 30.0, 46.5)), at(1.0, panel(52.1, 30.0, 0.0)), at(1.6, panel(40.0))}},
        {"NoiseWithEmphasis", 2.0, steppedNoise(),
         {at(0.0, panel(45.0, 30.0, 60.0)), at(1.0, panel(55.0, 50.0, 100.0))}},
        {"LogSweep", 2.0, logSweep(2.0), {at(0.0, panel(50.0, 30.0, 30.0))}},
        {"FadeToSilence", 3.0, fadeToSilence(), {at(0.0, panel(80.0, 30.0, 70.0))}},
        {"NanAndInfinityBursts", 1.5, tonesWithBadSamples(), {at(0.0, panel(60.0))}},
        {"ControlsChangingMidStream", 5.0, program(), controlJourney()},
        {"HugeSamples", 2.5, hugeSamples(),
         {at(0.0, panel(60.0, 100.0)), at(1.0, panel(70.0, 100.0)), resetAt(1.4), at(2.0, panel(40.0, 100.0))}},
        {"OutsideTheModelDomain", 0.2, program(), {}, 44100.0},
    };
}

std::string describe(const RealtimeDiagnostics& d)
{
    std::ostringstream s;
    s.precision(17);
    s << "{modelled " << d.modelled << ", atReference " << d.atReference << ", variant "
      << int(d.calibrationVariant) << ", limitMemoryActive " << d.limitMemoryActive << ", fallback "
      << d.fallback << ", outsideCalibration " << d.outsideCalibration << ", limitMode " << d.limitMode
      << ", highPeakActive " << d.highPeakActive << ", fractionalDelayUsed " << d.fractionalDelayUsed
      << ", K " << d.peakReductionNorm << ", M " << d.emphasisNorm << ", m " << d.gainNorm << ", mix "
      << d.mixFraction << ", correctionDb " << d.correctionDb << "}";
    return s.str();
}

bool sameDiagnostics(const RealtimeDiagnostics& a, const RealtimeDiagnostics& b)
{
    return a.modelled == b.modelled && a.atReference == b.atReference
           && a.calibrationVariant == b.calibrationVariant && a.limitMemoryActive == b.limitMemoryActive
           && a.fallback == b.fallback && a.outsideCalibration == b.outsideCalibration
           && a.limitMode == b.limitMode && a.highPeakActive == b.highPeakActive
           && a.fractionalDelayUsed == b.fractionalDelayUsed
           && bits(a.peakReductionNorm) == bits(b.peakReductionNorm)
           && bits(a.emphasisNorm) == bits(b.emphasisNorm) && bits(a.gainNorm) == bits(b.gainNorm)
           && bits(a.mixFraction) == bits(b.mixFraction) && bits(a.correctionDb) == bits(b.correctionDb);
}

struct Case
{
    Scenario scenario;
    int channels;
};

std::vector<Case> cases()
{
    std::vector<Case> all;
    for (int channels : {1, 2})
        for (const Scenario& s : scenarios())
            all.push_back({s, channels});
    return all;
}

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.scenario.name << ", " << c.channels << " channel(s)";
}

class LiteralEngineMatch : public ::testing::TestWithParam<Case>
{
};

TEST_P(LiteralEngineMatch, EveryOutputAndDiagnosticAgreesBitForBit)
{
    const Scenario& s = GetParam().scenario;
    const int channels = GetParam().channels;
    auto real = std::make_unique<quillon::OptoRealtimeDSP>();
    auto plain = std::make_unique<quillon::literal::LiteralEngine>();
    real->prepare(s.sampleRate, channels);
    plain->prepare(s.sampleRate, channels);
    ASSERT_EQ(real->latencySamples(), plain->latencySamples());
    ASSERT_TRUE(sameDiagnostics(real->diagnostics(), plain->diagnostics()))
        << "after prepare\n real  " << describe(real->diagnostics()) << "\n plain " << describe(plain->diagnostics());

    // Irregular blocks, so control changes land at varied phases of the 24-sample frames.
    const int blockSizes[] = {256, 100, 512, 37, 480};
    const long total = static_cast<long>(s.seconds * rate);
    std::size_t nextEvent = 0;
    long n = 0;
    long modelledSamples = 0;
    for (int block = 0; n < total; ++block)
    {
        while (nextEvent < s.events.size() && static_cast<long>(s.events[nextEvent].atSeconds * rate) <= n)
        {
            const Event& e = s.events[nextEvent++];
            if (e.reset)
            {
                real->reset();
                plain->reset();
            }
            else
            {
                real->setControls(e.controls);
                plain->setControls(e.controls);
            }
            ASSERT_TRUE(sameDiagnostics(real->diagnostics(), plain->diagnostics()))
                << s.name << " after the event at sample " << n << "\n real  " << describe(real->diagnostics())
                << "\n plain " << describe(plain->diagnostics());
        }
        const long end = std::min(total, n + blockSizes[block % 5]);
        for (; n < end; ++n)
        {
            double in[2] = {0.0, 0.0};
            s.signal(n, in, channels);
            double outReal[2] = {0.0, 0.0};
            double outPlain[2] = {0.0, 0.0};
            real->processSample(in, outReal, channels);
            plain->processSample(in, outPlain, channels);
            for (int c = 0; c < channels; ++c)
                ASSERT_EQ(bits(outReal[c]), bits(outPlain[c]))
                    << s.name << ", " << channels << " channel(s), sample " << n << ", channel " << c
                    << ": real " << outReal[c] << ", plain " << outPlain[c] << "\n real  "
                    << describe(real->diagnostics()) << "\n plain " << describe(plain->diagnostics());
            ASSERT_TRUE(sameDiagnostics(real->diagnostics(), plain->diagnostics()))
                << s.name << ", " << channels << " channel(s), sample " << n << "\n real  "
                << describe(real->diagnostics()) << "\n plain " << describe(plain->diagnostics());
            if (!plain->diagnostics().fallback)
                ++modelledSamples;
        }
    }
    // Inside the model domain the comparison must have exercised the gain model itself (for a
    // good share of the run: some scenarios stop the model or the allpass on purpose).
    if (s.sampleRate == rate)
        EXPECT_GT(modelledSamples, total / 8) << s.name;
}

INSTANTIATE_TEST_SUITE_P(SignalSet, LiteralEngineMatch, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return info.param.scenario.name + (info.param.channels == 1 ? "Mono" : "Stereo");
                         });

} // namespace
