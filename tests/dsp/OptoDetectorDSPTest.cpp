// Detector: analysis cadence, the silence frame, sine and flat-emphasis readings,
// every frame field against a plain step-by-step model, faint signals that fade far
// below audibility, redesign, clearing, and both frame compositions.

#include "dsp/OptoDetectorDSP.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

using quillon::Biquad;
using quillon::DetectorFeatureFrame;
using quillon::DetectorLevelFrame;
using quillon::OptoDetectorDSP;

constexpr double twoPi = 6.283185307179586;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

std::vector<DetectorFeatureFrame> analyse(OptoDetectorDSP& detector, const std::vector<double>& input)
{
    std::vector<DetectorFeatureFrame> frames;
    for (const double x : input) {
        DetectorFeatureFrame frame{};
        if (detector.analyseSample(x, frame))
            frames.push_back(frame);
    }
    return frames;
}

std::vector<double> sine(double hz, std::size_t length, double amplitude = 1.0)
{
    std::vector<double> x(length);
    for (std::size_t n = 0; n < length; ++n)
        x[n] = amplitude * std::sin(twoPi * hz * static_cast<double>(n) / 48000.0);
    return x;
}

std::vector<double> noise(std::size_t length, double amplitude, unsigned seed = 3)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss(0.0, amplitude);
    std::vector<double> x(length);
    for (double& v : x)
        v = gauss(random);
    return x;
}

// The detector written out step by step, with its window and twiddles computed where
// they are used, for frame-by-frame comparison.
class PlainDetector {
public:
    explicit PlainDetector(double emphasis)
        : e(emphasis), filter(quillon::sidechainBiquad(emphasis)), c(std::exp(-1.0 / (0.02 * 48000.0))),
          s(std::exp(-1.0 / (0.25 * 48000.0))), p(std::exp(-128.0 / (0.02 * 48000.0))),
          l(std::exp(-21991.14857512855 / 48000.0))
    {
        for (int k = 1; k <= 106; ++k)
            magnitude[k - 1] = quillon::magnitudeSquared(filter, k * 48000.0 * 0.00390625);
    }

    // Returns true with `out` filled when an analysis is due.
    bool step(double x, DetectorFeatureFrame& out)
    {
        const double y = quillon::filterStep(filter, x);
        fP = c * fP + (1 - c) * (x * x);
        fFP = c * fFP + (1 - c) * (y * y);
        sP = s * sP + (1 - s) * (x * x);
        sFP = s * sFP + (1 - s) * (y * y);
        sM = s * sM + (1 - s) * std::fabs(x);
        sFM = s * sFM + (1 - s) * std::fabs(y);
        lp = l * lp + (1 - l) * x;
        lowBand = c * lowBand + (1 - c) * (x * x);
        lpPower = c * lpPower + (1 - c) * (lp * lp);
        balance = 0.0;
        if (lowBand > 1e-12) {
            const double r = lpPower / lowBand;
            balance = r < 0 ? -1.0 : std::fmin(r, 1.0) - 1.0;
        }
        samples.push_back(x);
        history.push_back({fP, fFP, sP, sFP, sM, sFM, balance});
        const std::size_t n = samples.size();
        if (n < 256 || (n - 256) % 128 != 0)
            return false;
        bool valid = false;
        const double spread = spectralSpread(valid);
        const std::array<double, 7>& h = history[n - 128];
        auto fl = [](double v) { return std::fmax(1e-30, v); };
        out.position = n - 128;
        out.fastLevelDb = 10 * std::log10(fl(h[0]));
        out.emphasisRatioDb = 10 * std::log10(fl(h[1]) / fl(h[0]));
        out.spectralSpread = spread;
        out.crestDb = 20 * std::log10(std::fmax(1e-30, h[4] / std::sqrt(fl(h[2])))) + 0.9120975839632404;
        out.shapeDb = 20 * std::log10(fl(h[5]) / fl(h[4])) - 10 * std::log10(fl(h[3]) / fl(h[2]));
        out.emphasisCorrectionDb =
            std::fmin(0.0, -0.12199999999999998 * out.shapeDb +
                               ((1 - e) * -0.16749999999999998 + (2.1050992452633364 * spread + out.emphasisRatioDb)));
        out.lowBandBalance = h[6];
        out.lowBandOffsetDb = 5 * h[6];
        out.spectrumValid = valid;
        return true;
    }

    // fP, fFP, sP, sFP, sM, sFM and the low-band balance after each sample.
    std::vector<std::array<double, 7>> history;

private:
    double spectralSpread(bool& valid)
    {
        std::array<std::complex<double>, 256> a;
        const std::size_t first = samples.size() - 256;
        for (int i = 0; i < 256; ++i)
            a[i] = samples[first + i] * (0.5 - 0.5 * std::cos(twoPi * i / 255));
        fft(a);
        double s1 = 0, s2 = 0, w1 = 0, w2 = 0;
        for (int k = 1; k <= 106; ++k) {
            const double power = a[k].real() * a[k].real() + a[k].imag() * a[k].imag();
            spectrum[k - 1] = p * spectrum[k - 1] + (1 - p) * power;
            weighted[k - 1] = p * weighted[k - 1] + (1 - p) * power * magnitude[k - 1];
            s1 += spectrum[k - 1];
            s2 += spectrum[k - 1] * spectrum[k - 1];
            w1 += weighted[k - 1];
            w2 += weighted[k - 1] * weighted[k - 1];
        }
        valid = s2 > 1e-30 && s1 > 1e-15 && w2 > 1e-30 && w1 > 1e-15;
        return valid ? std::log2((w1 * w1 / w2) / (s1 * s1 / s2)) : 0.0;
    }

public:
    static void fft(std::array<std::complex<double>, 256>& a)
    {
        for (std::size_t i = 1, j = 0; i < 256; ++i) {
            std::size_t bit = 128;
            for (; j & bit; bit >>= 1)
                j ^= bit;
            j ^= bit;
            if (i < j)
                std::swap(a[i], a[j]);
        }
        for (std::size_t len = 2; len <= 256; len <<= 1) {
            const std::complex<double> wl(std::cos(-twoPi / len), std::sin(-twoPi / len));
            for (std::size_t i = 0; i < 256; i += len) {
                std::complex<double> w(1.0, 0.0);
                for (std::size_t j = 0; j < len / 2; ++j) {
                    const std::complex<double> u = a[i + j];
                    const std::complex<double> v = a[i + j + len / 2] * w;
                    a[i + j] = u + v;
                    a[i + j + len / 2] = u - v;
                    w *= wl;
                }
            }
        }
    }

private:
    double e;
    Biquad filter;
    double c, s, p, l;
    double fP = 0, fFP = 0, sP = 0, sFP = 0, sM = 0, sFM = 0, lp = 0, lowBand = 0, lpPower = 0, balance = 0;
    std::vector<double> samples;
    std::array<double, 106> spectrum{}, weighted{}, magnitude{};
};

void expectSameFrame(const DetectorFeatureFrame& a, const DetectorFeatureFrame& b)
{
    EXPECT_EQ(a.position, b.position);
    EXPECT_EQ(a.fastLevelDb, b.fastLevelDb) << a.position;
    EXPECT_EQ(a.emphasisRatioDb, b.emphasisRatioDb) << a.position;
    EXPECT_EQ(a.spectralSpread, b.spectralSpread) << a.position;
    EXPECT_EQ(a.crestDb, b.crestDb) << a.position;
    EXPECT_EQ(a.shapeDb, b.shapeDb) << a.position;
    EXPECT_EQ(a.emphasisCorrectionDb, b.emphasisCorrectionDb) << a.position;
    EXPECT_EQ(a.lowBandBalance, b.lowBandBalance) << a.position;
    EXPECT_EQ(a.lowBandOffsetDb, b.lowBandOffsetDb) << a.position;
    EXPECT_EQ(a.spectrumValid, b.spectrumValid) << a.position;
}

class Detector : public ::testing::Test {
protected:
    OptoDetectorDSP detector;
};

TEST(DetectorTransform, PlainTransformIsADiscreteFourierTransform)
{
    const std::vector<double> x = noise(256, 0.5);
    std::array<std::complex<double>, 256> a;
    for (int i = 0; i < 256; ++i)
        a[i] = x[i];
    PlainDetector::fft(a);
    for (int k = 0; k < 256; k += 5) {
        std::complex<long double> sum = 0;
        for (int i = 0; i < 256; ++i)
            sum += static_cast<long double>(x[i]) * std::polar(1.0L, -2.0L * 3.14159265358979323846264338327950288L * k * i / 256.0L);
        EXPECT_NEAR(a[k].real(), static_cast<double>(sum.real()), 1e-12) << k;
        EXPECT_NEAR(a[k].imag(), static_cast<double>(sum.imag()), 1e-12) << k;
    }
}

TEST_F(Detector, AnalysesEvery128SamplesFromThe256th)
{
    detector.prepare(48000.0, 0.5);
    std::vector<std::uint64_t> analysedAfter;
    std::vector<std::uint64_t> positions;
    for (std::uint64_t n = 1; n <= 1000; ++n) {
        DetectorFeatureFrame frame{};
        if (detector.analyseSample(0.01, frame)) {
            analysedAfter.push_back(n);
            positions.push_back(frame.position);
        }
    }
    EXPECT_EQ(analysedAfter, (std::vector<std::uint64_t>{256, 384, 512, 640, 768, 896}));
    EXPECT_EQ(positions, (std::vector<std::uint64_t>{128, 256, 384, 512, 640, 768}));
    EXPECT_EQ(detector.sampleCount(), 1000u);
}

TEST_F(Detector, SilenceReadsTheFloors)
{
    detector.prepare(48000.0, 0.3);
    const std::vector<DetectorFeatureFrame> frames = analyse(detector, std::vector<double>(256, 0.0));
    ASSERT_EQ(frames.size(), 1u);
    const DetectorFeatureFrame& f = frames[0];
    EXPECT_EQ(f.position, 128u);
    EXPECT_EQ(f.fastLevelDb, -300.0);
    EXPECT_EQ(f.emphasisRatioDb, 0.0);
    EXPECT_EQ(f.spectralSpread, 0.0);
    EXPECT_EQ(f.crestDb, -600.0 + 0.9120975839632404);
    EXPECT_EQ(f.shapeDb, 0.0);
    EXPECT_EQ(f.emphasisCorrectionDb, (1.0 - 0.3) * -0.16749999999999998);
    EXPECT_EQ(f.lowBandBalance, 0.0);
    EXPECT_EQ(f.lowBandOffsetDb, 0.0);
    EXPECT_FALSE(f.spectrumValid);
    EXPECT_EQ(detector.lowBandBalance(), 0.0);
}

// Power share that the 3500 Hz one-pole low-pass passes at a frequency, minus 1.
double expectedBalance(double hz)
{
    const double l = std::exp(-21991.14857512855 / 48000.0);
    const double w = twoPi * hz / 48000.0;
    return (1 - l) * (1 - l) / (1 - 2 * l * std::cos(w) + l * l) - 1.0;
}

TEST_F(Detector, SteadySinesReadTheirLowBandShareAndZeroCrest)
{
    for (const double hz : {1000.0, 10000.0}) {
        detector.prepare(48000.0, 1.0);
        // Three seconds, so the 250 ms averages have settled.
        const std::vector<DetectorFeatureFrame> frames = analyse(detector, sine(hz, 144000));
        EXPECT_NEAR(detector.lowBandBalance(), expectedBalance(hz), 2e-3) << hz;
        EXPECT_NEAR(frames.back().lowBandBalance, expectedBalance(hz), 2e-3) << hz;
        EXPECT_NEAR(frames.back().lowBandOffsetDb, 5 * expectedBalance(hz), 1e-2) << hz;
        // Sampled, a sine's mean-to-RMS ratio departs a little from the continuous one.
        const std::vector<double> cycle = sine(hz, 48);
        double meanAbs = 0.0, meanSquare = 0.0;
        for (const double x : cycle) {
            meanAbs += std::fabs(x) / 48.0;
            meanSquare += x * x / 48.0;
        }
        const double sampledCrest = 20 * std::log10(meanAbs / std::sqrt(meanSquare)) + 0.9120975839632404;
        EXPECT_NEAR(frames.back().crestDb, sampledCrest, 2e-3) << hz;
        EXPECT_NEAR(frames.back().crestDb, 0.0, 0.06) << hz;
        // The 20 ms mean square still ripples at twice the tone's frequency.
        EXPECT_NEAR(frames.back().fastLevelDb, 10 * std::log10(0.5), 0.03) << hz;
    }
    EXPECT_NEAR(expectedBalance(1000.0), -0.07, 0.01);
    EXPECT_NEAR(expectedBalance(10000.0), -0.87, 0.01);
}

TEST_F(Detector, FlatEmphasisLeavesFilteredAndPlainEqual)
{
    detector.prepare(48000.0, 1.0);
    const std::vector<DetectorFeatureFrame> frames = analyse(detector, noise(6000, 0.2));
    for (const DetectorFeatureFrame& f : frames) {
        EXPECT_EQ(f.emphasisRatioDb, 0.0);
        EXPECT_EQ(f.shapeDb, 0.0);
        EXPECT_TRUE(f.spectrumValid);
        EXPECT_EQ(f.spectralSpread, 0.0);
    }
}

TEST_F(Detector, EveryFrameMatchesThePlainModel)
{
    for (const double e : {0.0, 0.35, 0.8}) {
        detector.prepare(48000.0, e);
        PlainDetector plain(e);
        std::vector<double> input = noise(9000, 0.25, 11);
        const std::vector<double> tone = sine(700.0, input.size(), 0.5);
        for (std::size_t n = 0; n < input.size(); ++n)
            input[n] = n < 4000 ? input[n] : tone[n] + 0.1 * input[n];
        int compared = 0;
        for (const double x : input) {
            DetectorFeatureFrame actual{};
            DetectorFeatureFrame expected{};
            const bool due = plain.step(x, expected);
            ASSERT_EQ(detector.analyseSample(x, actual), due);
            if (due) {
                expectSameFrame(actual, expected);
                ++compared;
            }
            ASSERT_EQ(detector.lowBandBalance(), plain.history.back()[6]);
        }
        EXPECT_EQ(compared, 69);
    }
}

// A side chain far below audibility (a reverb tail fading out in floating point) leaves
// bins that are tiny but not zero. Its frames stay finite and compose, so the gain
// model keeps running instead of switching itself off.
TEST_F(Detector, FaintSignalsKeepFramesUsable)
{
    std::vector<double> fade = noise(96000, 1e-6, 5);
    for (std::size_t n = 0; n < fade.size(); ++n)
        fade[n] *= std::pow(10.0, -14.0 * static_cast<double>(n) / static_cast<double>(fade.size()));
    const std::vector<double> steady = noise(24000, 1e-9, 9);
    const std::array<const std::vector<double>*, 2> inputs{&fade, &steady};

    for (const std::vector<double>* input : inputs) {
        detector.prepare(48000.0, 0.4);
        int faintButInvalid = 0;
        for (const double x : *input) {
            DetectorFeatureFrame frame{};
            if (!detector.analyseSample(x, frame))
                continue;
            ASSERT_TRUE(std::isfinite(frame.spectralSpread)) << frame.position;
            ASSERT_TRUE(std::isfinite(frame.emphasisCorrectionDb)) << frame.position;
            if (!frame.spectrumValid) {
                EXPECT_EQ(frame.spectralSpread, 0.0);
                ++faintButInvalid;
            }
            DetectorFeatureFrame historical{};
            ASSERT_TRUE(detector.composeHistoricalFeatureFrame(detector.sampleCount() - 127, frame, historical))
                << frame.position;
            DetectorLevelFrame levels{};
            ASSERT_TRUE(detector.composeLevelFrame(-47.999973716469796, 0.45, historical, levels, true))
                << frame.position;
        }
        EXPECT_GT(faintButInvalid, 10);
    }
}

TEST_F(Detector, HistoricalFrameReachesBack256Samples)
{
    detector.prepare(48000.0, 0.25);
    const std::vector<DetectorFeatureFrame> frames = analyse(detector, noise(1000, 0.3));
    const DetectorFeatureFrame current = frames.back();
    const std::uint64_t n = detector.sampleCount();
    DetectorFeatureFrame out{};
    out.position = 12345;
    EXPECT_TRUE(detector.composeHistoricalFeatureFrame(n - 256, current, out));
    EXPECT_EQ(out.position, n - 256);
    for (const std::uint64_t tooFar : {n - 257, n, n + 1, std::uint64_t{0}}) {
        DetectorFeatureFrame untouched{};
        untouched.position = 777;
        EXPECT_FALSE(detector.composeHistoricalFeatureFrame(tooFar, current, untouched)) << tooFar;
        EXPECT_EQ(untouched.position, 777u);
    }
    DetectorFeatureFrame badSpread = current;
    badSpread.spectralSpread = nan;
    EXPECT_FALSE(detector.composeHistoricalFeatureFrame(n - 10, badSpread, out));
    badSpread.spectralSpread = inf;
    EXPECT_FALSE(detector.composeHistoricalFeatureFrame(n - 10, badSpread, out));
}

TEST_F(Detector, HistoricalFrameRebuildsTimeMeasuresAndKeepsSpectralOnes)
{
    const double e = 0.6;
    detector.prepare(48000.0, e);
    PlainDetector plain(e);
    DetectorFeatureFrame current{};
    for (const double x : noise(2000, 0.2, 21)) {
        DetectorFeatureFrame frame{};
        plain.step(x, frame);
        if (detector.analyseSample(x, frame))
            current = frame;
    }
    const std::uint64_t n = detector.sampleCount();
    // At the current frame's own position both compositions agree.
    DetectorFeatureFrame same{};
    ASSERT_TRUE(detector.composeHistoricalFeatureFrame(current.position, current, same));
    expectSameFrame(same, current);

    for (const std::uint64_t back : {1u, 100u, 256u}) {
        const std::uint64_t position = n - back;
        const std::array<double, 7>& h = plain.history[position];
        DetectorFeatureFrame out{};
        ASSERT_TRUE(detector.composeHistoricalFeatureFrame(position, current, out));
        EXPECT_EQ(out.position, position);
        EXPECT_EQ(out.fastLevelDb, 10 * std::log10(h[0]));
        EXPECT_EQ(out.emphasisRatioDb, 10 * std::log10(h[1] / h[0]));
        EXPECT_EQ(out.crestDb, 20 * std::log10(h[4] / std::sqrt(h[2])) + 0.9120975839632404);
        EXPECT_EQ(out.shapeDb, 20 * std::log10(h[5] / h[4]) - 10 * std::log10(h[3] / h[2]));
        EXPECT_EQ(out.emphasisCorrectionDb,
                  std::fmin(0.0, -0.12199999999999998 * out.shapeDb +
                                     ((1 - e) * -0.16749999999999998 +
                                      (2.1050992452633364 * current.spectralSpread + out.emphasisRatioDb))));
        EXPECT_EQ(out.lowBandBalance, h[6]);
        EXPECT_EQ(out.lowBandOffsetDb, 5 * h[6]);
        EXPECT_EQ(out.spectralSpread, current.spectralSpread);
        EXPECT_EQ(out.spectrumValid, current.spectrumValid);
    }
}

TEST_F(Detector, HistoricalSilenceUsesTheRootFloor)
{
    detector.prepare(48000.0, 0.5);
    const std::vector<DetectorFeatureFrame> frames = analyse(detector, std::vector<double>(256, 0.0));
    DetectorFeatureFrame out{};
    ASSERT_TRUE(detector.composeHistoricalFeatureFrame(10, frames[0], out));
    EXPECT_EQ(out.crestDb, -600.0 + 0.9120975839632404);
    EXPECT_EQ(out.fastLevelDb, -300.0);
    EXPECT_EQ(out.emphasisRatioDb, 0.0);
    EXPECT_EQ(out.shapeDb, 0.0);
}

DetectorFeatureFrame typicalFeatures()
{
    DetectorFeatureFrame f{};
    f.position = 480;
    f.fastLevelDb = -18.0;
    f.emphasisRatioDb = -1.5;
    f.spectralSpread = 0.3;
    f.crestDb = 2.5;
    f.shapeDb = 0.4;
    f.emphasisCorrectionDb = -0.7;
    f.lowBandBalance = -0.2;
    f.lowBandOffsetDb = -1.0;
    f.spectrumValid = true;
    return f;
}

TEST_F(Detector, LevelFrameCalibratesThreeLevels)
{
    const double e = 0.45;
    detector.prepare(48000.0, e);
    const DetectorFeatureFrame f = typicalFeatures();
    DetectorLevelFrame out{};
    ASSERT_TRUE(detector.composeLevelFrame(-15.0, 0.5, f, out, false));
    const double a = 2.5 * -0.12199999999999998 + -15.0;
    const double corr = quillon::emphasisCorrection(-1.5, 0.3, 0.4, e);
    EXPECT_EQ(out.levelDb, quillon::calibratedLevel(a, 0.5, 1.0, false));
    EXPECT_EQ(out.lowBandLevelDb, quillon::calibratedLevel(-1.0 + a, 0.5, 1.0, false));
    EXPECT_EQ(out.emphasisLevelDb, quillon::calibratedLevel(corr + a, 0.5, e, false));
    EXPECT_EQ(out.crestDb, 2.5);
    EXPECT_EQ(out.shapeDb, 0.4);
    // The stored correction is only checked for finiteness; the level uses a fresh one.
    DetectorFeatureFrame otherCorrection = f;
    otherCorrection.emphasisCorrectionDb = -9.0;
    DetectorLevelFrame again{};
    ASSERT_TRUE(detector.composeLevelFrame(-15.0, 0.5, otherCorrection, again, false));
    EXPECT_EQ(again.emphasisLevelDb, out.emphasisLevelDb);
    EXPECT_TRUE(detector.composeLevelFrame(-15.0, -0.0, f, again, true));
}

struct RejectedLevelInput {
    const char* name;
    double baseLevelDb;
    double peak;
    double DetectorFeatureFrame::*field;
    double fieldValue;
    bool extended;
};

class RejectedLevelFrame : public ::testing::TestWithParam<RejectedLevelInput> {};

TEST_P(RejectedLevelFrame, LeavesTheOutputUntouched)
{
    const RejectedLevelInput& in = GetParam();
    OptoDetectorDSP detector;
    detector.prepare(48000.0, 0.7);
    DetectorFeatureFrame f = typicalFeatures();
    if (in.field != nullptr)
        f.*in.field = in.fieldValue;
    DetectorLevelFrame out{1.0, 2.0, 3.0, 4.0, 5.0};
    EXPECT_FALSE(detector.composeLevelFrame(in.baseLevelDb, in.peak, f, out, in.extended));
    EXPECT_EQ(out.levelDb, 1.0);
    EXPECT_EQ(out.emphasisLevelDb, 3.0);
    EXPECT_EQ(out.shapeDb, 5.0);
}

INSTANTIATE_TEST_SUITE_P(
    BadInputs, RejectedLevelFrame,
    ::testing::Values(RejectedLevelInput{"NaNLevel", nan, 0.5, nullptr, 0.0, true},
                      RejectedLevelInput{"InfiniteLevel", -inf, 0.5, nullptr, 0.0, true},
                      RejectedLevelInput{"NegativePeak", -20.0, -0.001, nullptr, 0.0, true},
                      RejectedLevelInput{"PeakAboveOne", -20.0, 1.001, nullptr, 0.0, true},
                      RejectedLevelInput{"NaNPeak", -20.0, nan, nullptr, 0.0, true},
                      RejectedLevelInput{"InfinitePeak", -20.0, inf, nullptr, 0.0, true},
                      RejectedLevelInput{"NaNCrest", -20.0, 0.5, &DetectorFeatureFrame::crestDb, nan, true},
                      RejectedLevelInput{"NaNShape", -20.0, 0.5, &DetectorFeatureFrame::shapeDb, nan, true},
                      RejectedLevelInput{"InfiniteCorrection", -20.0, 0.5, &DetectorFeatureFrame::emphasisCorrectionDb,
                                         -inf, true},
                      RejectedLevelInput{"NaNLowBandOffset", -20.0, 0.5, &DetectorFeatureFrame::lowBandOffsetDb, nan,
                                         true},
                      RejectedLevelInput{"InfiniteFastLevel", -20.0, 0.5, &DetectorFeatureFrame::fastLevelDb, inf,
                                         true}),
    [](const ::testing::TestParamInfo<RejectedLevelInput>& info) { return std::string(info.param.name); });

TEST_F(Detector, LevelFrameFailsOutsideTheCalibratedRegion)
{
    detector.prepare(48000.0, 0.7);
    DetectorLevelFrame out{};
    EXPECT_FALSE(detector.composeLevelFrame(-20.0, 0.3, typicalFeatures(), out, false));
    EXPECT_TRUE(detector.composeLevelFrame(-20.0, 0.3, typicalFeatures(), out, true));
    // A NaN spread is caught by the calibrated levels, not by the input checks.
    DetectorFeatureFrame f = typicalFeatures();
    f.spectralSpread = nan;
    EXPECT_FALSE(detector.composeLevelFrame(-20.0, 0.5, f, out, true));
}

TEST_F(Detector, UnpreparedDetectorDoesNothing)
{
    EXPECT_FALSE(detector.isValid());
    EXPECT_EQ(detector.emphasisNorm(), 1.0);
    EXPECT_EQ(detector.filter().b0, 1.0);
    EXPECT_EQ(detector.filter().a2, 0.0);
    DetectorFeatureFrame frame{};
    for (int i = 0; i < 300; ++i)
        EXPECT_FALSE(detector.analyseSample(0.5, frame));
    EXPECT_EQ(detector.sampleCount(), 0u);
    DetectorLevelFrame out{};
    EXPECT_FALSE(detector.composeLevelFrame(-20.0, 0.5, typicalFeatures(), out, true));
    EXPECT_FALSE(detector.composeHistoricalFeatureFrame(0, typicalFeatures(), frame));
}

TEST_F(Detector, RedesignKeepsRegistersAndIgnoresTinyChanges)
{
    detector.prepare(48000.0, 0.5);
    analyse(detector, noise(300, 0.3));
    const Biquad before = detector.filter();
    ASSERT_NE(before.z1, 0.0);

    detector.redesign(0.5 + 1e-12);
    EXPECT_EQ(detector.emphasisNorm(), 0.5);
    EXPECT_EQ(detector.filter().b1, before.b1);

    detector.redesign(0.5 + 1e-11);
    EXPECT_EQ(detector.emphasisNorm(), 0.5 + 1e-11);
    EXPECT_NE(detector.filter().b1, before.b1);
    EXPECT_EQ(detector.filter().b1, quillon::sidechainBiquad(0.5 + 1e-11).b1);
    EXPECT_EQ(detector.filter().z1, before.z1);
    EXPECT_EQ(detector.filter().z2, before.z2);
    EXPECT_EQ(detector.sampleCount(), 300u);
    EXPECT_TRUE(detector.isValid());

    detector.redesign(-0.0);
    EXPECT_TRUE(detector.isValid());
    EXPECT_EQ(detector.filter().b0, quillon::sidechainBiquad(0.0).b0);
    for (const double bad : {nan, -0.1, 1.1, inf}) {
        OptoDetectorDSP other;
        other.prepare(48000.0, 0.5);
        other.redesign(bad);
        EXPECT_FALSE(other.isValid()) << bad;
    }
}

TEST_F(Detector, RedesignedFramesMatchAFreshDesignOfTheSameState)
{
    // After a redesign the bin weights follow the new filter: a flat design reads like
    // a detector prepared flat, apart from the filter's own history.
    detector.prepare(48000.0, 0.2);
    detector.redesign(1.0);
    OptoDetectorDSP flat;
    flat.prepare(48000.0, 1.0);
    const std::vector<double> input = noise(1500, 0.2);
    const std::vector<DetectorFeatureFrame> a = analyse(detector, input);
    const std::vector<DetectorFeatureFrame> b = analyse(flat, input);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        expectSameFrame(a[i], b[i]);
}

TEST_F(Detector, ClearingRestartsTheAnalysisAndKeepsTheDesign)
{
    detector.prepare(48000.0, 0.3);
    analyse(detector, noise(1000, 0.4));
    const Biquad design = detector.filter();
    detector.clearDynamicState();
    EXPECT_EQ(detector.sampleCount(), 0u);
    EXPECT_EQ(detector.filter().z1, 0.0);
    EXPECT_EQ(detector.filter().z2, 0.0);
    EXPECT_EQ(detector.filter().b0, design.b0);
    EXPECT_EQ(detector.lowBandBalance(), 0.0);
    EXPECT_TRUE(detector.isValid());
    const std::vector<DetectorFeatureFrame> frames = analyse(detector, std::vector<double>(256, 0.0));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].fastLevelDb, -300.0);
    EXPECT_FALSE(frames[0].spectrumValid);
    EXPECT_EQ(frames[0].spectralSpread, 0.0);
}

} // namespace
