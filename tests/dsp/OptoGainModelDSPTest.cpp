// The gain model per sample: preparation and its errors, frame cadence and seeding,
// failures, control updates, the calibration-variant correction, and where steady tones
// settle against levels and gains worked out here from the model's rules.

#include "dsp/OptoGainModelDSP.h"
#include "dsp/StaticGainCurve.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <array>
#include <cmath>
#include <complex>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

// Counts every allocation in this test program, so a test can show that the model's audio
// path allocates nothing.
static std::atomic<long> allocations {0};

void* operator new(std::size_t size)
{
    ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace quillon {
namespace {

constexpr double sampleRate = 48000.0;
constexpr double twoPi = 6.283185307179586;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

double sine(double amplitudeDb, double frequencyHz, long n)
{
    return std::pow(10.0, amplitudeDb / 20.0) * std::sin(twoPi * frequencyHz * static_cast<double>(n) / sampleRate);
}

struct Produced {
    long sample;
    GainModelFrame frame;
};

// Feeds samples [from, to) of a signal; returns the frames with the sample that yielded them.
template <typename Signal>
std::vector<Produced> run(OptoGainModelDSP& model, long from, long to, Signal signal)
{
    std::vector<Produced> frames;
    for (long n = from; n < to; ++n) {
        GainModelFrame frame {};
        if (model.processSample(signal(n), frame))
            frames.push_back({n, frame});
    }
    return frames;
}

double resetGainOf(const DetectorLevelFrame& levels, double peak)
{
    return extendedStaticGain(peak, levels.lowBandLevelDb) + extendedStaticGain(peak, levels.emphasisLevelDb)
           - extendedStaticGain(peak, levels.levelDb);
}

void expectSameFrame(const GainModelFrame& a, const GainModelFrame& b)
{
    EXPECT_EQ(a.position, b.position);
    EXPECT_EQ(a.baseLevelDb, b.baseLevelDb);
    EXPECT_EQ(a.gainDb, b.gainDb);
    EXPECT_EQ(a.envelopeGainDb, b.envelopeGainDb);
    EXPECT_EQ(a.variantCorrectionDb, b.variantCorrectionDb);
    EXPECT_EQ(a.calibrationVariant, b.calibrationVariant);
    EXPECT_EQ(a.levelFrame.levelDb, b.levelFrame.levelDb);
    EXPECT_EQ(a.levelFrame.lowBandLevelDb, b.levelFrame.lowBandLevelDb);
    EXPECT_EQ(a.levelFrame.emphasisLevelDb, b.levelFrame.emphasisLevelDb);
    EXPECT_EQ(a.levelFrame.crestDb, b.levelFrame.crestDb);
    EXPECT_EQ(a.levelFrame.shapeDb, b.levelFrame.shapeDb);
}

// --- preparation --------------------------------------------------------------------------

TEST(GainModelLifecycle, BeforePrepareNothingIsWritten)
{
    OptoGainModelDSP model;
    EXPECT_FALSE(model.isPrepared());
    EXPECT_FALSE(model.isValid());
    GainModelFrame frame {};
    frame.position = 777;
    frame.gainDb = 1.5;
    for (long n = 0; n < 1000; ++n)
        ASSERT_FALSE(model.processSample(sine(-10.0, 1000.0, n), frame));
    EXPECT_EQ(frame.position, 777u);
    EXPECT_EQ(frame.gainDb, 1.5);
    EXPECT_FALSE(model.updateControls(0.5, 1.0, false, true));
    model.reset();
    EXPECT_FALSE(model.isValid());
}

struct PrepareCase {
    const char* name;
    double sampleRate;
    double peak;
    double emphasisNorm;
    int mode;
    const char* error; // nullptr: accepted
};

class GainModelPrepare : public ::testing::TestWithParam<PrepareCase> {};

// Checks run in a fixed order, so with several bad values the first one names the error.
TEST_P(GainModelPrepare, ChecksInOrderWithFixedTexts)
{
    const PrepareCase c = GetParam();
    OptoGainModelDSP model;
    if (c.error == nullptr) {
        EXPECT_NO_THROW(model.prepare(c.sampleRate, c.peak, c.emphasisNorm, false, c.mode));
        EXPECT_TRUE(model.isValid());
        return;
    }
    try {
        model.prepare(c.sampleRate, c.peak, c.emphasisNorm, false, c.mode);
        ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(std::string(e.what()), c.error);
    }
    EXPECT_FALSE(model.isValid());
    EXPECT_FALSE(model.isPrepared());
}

constexpr const char* rateError = "OptoBaseLevelDSP supports only the frozen 48 kHz domain";
constexpr const char* peakError = "OptoDetectorTimelineDSP Peak Reduct is outside the supported domain";
constexpr const char* emphasisError = "OptoDetectorDSP Emphasis is outside [0, 1]";
constexpr const char* modeError = "OptoDetectorTimelineDSP timeline mode is invalid";

INSTANTIATE_TEST_SUITE_P(
    Cases, GainModelPrepare,
    ::testing::Values(PrepareCase {"Accepted", 48000.0, 0.5, 0.5, 2, nullptr},
                      PrepareCase {"RateWithinTolerance", 48000.0 + 1e-10, 0.0, 1.0, 0, nullptr},
                      PrepareCase {"NegativeZeroes", 48000.0, -0.0, -0.0, 1, nullptr},
                      PrepareCase {"RateFirst", 44100.0, 7.0, -1.0, 9, rateError},
                      PrepareCase {"RateJustOutside", 48000.0 + 1e-8, 0.5, 0.5, 2, rateError},
                      PrepareCase {"RateNaN", nan, 0.5, 0.5, 2, rateError},
                      PrepareCase {"PeakBeforeEmphasis", 48000.0, 1.2, 2.0, 9, peakError},
                      PrepareCase {"PeakNaN", 48000.0, nan, 0.5, 2, peakError},
                      PrepareCase {"PeakNegativeSubnormal", 48000.0, -std::numeric_limits<double>::denorm_min(),
                                   0.5, 2, peakError},
                      PrepareCase {"EmphasisBeforeMode", 48000.0, 0.5, -0.1, 9, emphasisError},
                      PrepareCase {"EmphasisInfinite", 48000.0, 0.5, std::numeric_limits<double>::infinity(), 2,
                                   emphasisError},
                      PrepareCase {"ModeFour", 48000.0, 0.5, 0.5, 4, modeError},
                      PrepareCase {"ModeNegative", 48000.0, 0.5, 0.5, -1, modeError},
                      PrepareCase {"ModeThree", 48000.0, 0.5, 0.5, 3, modeError}),
    [](const ::testing::TestParamInfo<PrepareCase>& info) { return std::string(info.param.name); });

TEST(GainModelLifecycle, AFailedPreparationLeavesAWorkingModelUnusable)
{
    OptoGainModelDSP model;
    model.prepare(sampleRate, 0.5, 1.0, false, 2);
    EXPECT_THROW(model.prepare(44100.0, 0.5, 1.0, false, 2), std::invalid_argument);
    EXPECT_FALSE(model.isValid());
    EXPECT_TRUE(run(model, 0, 2000, [](long n) { return sine(-10.0, 1000.0, n); }).empty());
    model.reset();
    EXPECT_FALSE(model.isValid());
    model.prepare(sampleRate, 0.5, 1.0, false, 2);
    EXPECT_TRUE(model.isValid());
}

TEST(GainModelLifecycle, NothingAllocatesAfterPrepare)
{
    OptoGainModelDSP model;
    model.prepare(sampleRate, 0.5, 0.7, true, 2);
    const long before = allocations.load();
    GainModelFrame frame {};
    int frames = 0;
    for (long n = 0; n < 20000; ++n) {
        frames += model.processSample(sine(n < 10000 ? -30.0 : -6.0, 1000.0, n), frame) ? 1 : 0;
        if (n == 5000)
            model.updateControls(0.8, 0.2, false, true);
    }
    model.reset();
    frames += model.processSample(0.1, frame) ? 1 : 0;
    const long during = allocations.load() - before;
    EXPECT_EQ(during, 0);
    EXPECT_GT(frames, 800);
}

// --- frame cadence ------------------------------------------------------------------------

struct CadenceCase {
    int mode;
    long firstSample;
    std::uint64_t firstPosition;
};

class GainModelCadence : public ::testing::TestWithParam<CadenceCase> {};

// Frames come every 24 samples once the timeline holds a record for the frame position;
// the first one seeds the followers, the second is their first tick.
TEST_P(GainModelCadence, FirstFrameSeedsTheEnvelopeAndTheNextOneTicksIt)
{
    const CadenceCase c = GetParam();
    const double peak = 0.7;
    OptoGainModelDSP model;
    model.prepare(sampleRate, peak, 1.0, false, c.mode);
    std::vector<Produced> frames;
    for (long n = 0; n < c.firstSample + 30; ++n) {
        GainModelFrame frame {};
        if (model.processSample(sine(-12.0, 1000.0, n), frame)) {
            frames.push_back({n, frame});
            if (frames.size() == 1) {
                EXPECT_EQ(frame.gainDb, resetGainOf(frame.levelFrame, peak)) << "reset value, no tick";
                EXPECT_TRUE(std::isnan(model.envelope().programFollower().tablePeak));
            }
        }
        ASSERT_TRUE(model.isValid()) << n;
    }
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].sample, c.firstSample);
    EXPECT_EQ(frames[0].frame.position, c.firstPosition);
    EXPECT_EQ(frames[1].sample, c.firstSample + 24);
    EXPECT_EQ(frames[1].frame.position, c.firstPosition + 24);
    EXPECT_EQ(model.envelope().programFollower().tablePeak, peak) << "the second frame ticked";
    EXPECT_EQ(frames[1].frame.gainDb, model.envelope().outputDb());
}

INSTANTIATE_TEST_SUITE_P(Modes, GainModelCadence,
                         ::testing::Values(CadenceCase {2, 271, 144}, CadenceCase {1, 271, 144},
                                           CadenceCase {0, 256, 0}));

TEST(GainModelLifecycle, ResetStartsOverLikeAFreshModel)
{
    const auto signal = [](long n) { return sine(n % 3000 < 1500 ? -30.0 : -6.0, 700.0, n) + 0.01 * std::sin(n * 0.37); };
    OptoGainModelDSP fresh;
    fresh.prepare(sampleRate, 0.6, 0.4, true, 2);
    OptoGainModelDSP used;
    used.prepare(sampleRate, 0.6, 0.4, true, 2);
    run(used, 0, 5000, [](long n) { return sine(-3.0, 3000.0, n); });
    used.reset();
    const std::vector<Produced> a = run(fresh, 0, 8000, signal);
    const std::vector<Produced> b = run(used, 0, 8000, signal);
    ASSERT_EQ(a.size(), b.size());
    ASSERT_GT(a.size(), 300u);
    for (std::size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a[i].sample, b[i].sample);
        expectSameFrame(a[i].frame, b[i].frame);
    }
}

// --- failures and control updates ---------------------------------------------------------

TEST(GainModelFailures, ANaNInputInvalidatesTheModelUntilReset)
{
    OptoGainModelDSP model;
    model.prepare(sampleRate, 0.5, 1.0, false, 2);
    ASSERT_FALSE(run(model, 0, 1000, [](long n) { return sine(-10.0, 1000.0, n); }).empty());
    GainModelFrame frame {};
    EXPECT_FALSE(model.processSample(nan, frame));
    EXPECT_FALSE(model.isValid());
    EXPECT_TRUE(run(model, 1001, 3000, [](long n) { return sine(-10.0, 1000.0, n); }).empty());
    EXPECT_FALSE(model.updateControls(0.5, 1.0, false, true));

    model.reset();
    EXPECT_TRUE(model.isValid());
    const std::vector<Produced> frames = run(model, 0, 300, [](long n) { return sine(-10.0, 1000.0, n); });
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].sample, 271);
}

struct ControlCase {
    const char* name;
    double peak;
    double emphasisNorm;
    bool accepted;
};

class GainModelControls : public ::testing::TestWithParam<ControlCase> {};

TEST_P(GainModelControls, BadValuesInvalidateTheModel)
{
    const ControlCase c = GetParam();
    OptoGainModelDSP model;
    model.prepare(sampleRate, 0.5, 0.5, false, 2);
    run(model, 0, 400, [](long n) { return sine(-10.0, 1000.0, n); });
    EXPECT_EQ(model.updateControls(c.peak, c.emphasisNorm, false, false), c.accepted);
    EXPECT_EQ(model.isValid(), c.accepted);
    EXPECT_EQ(model.timeline().isReady(), c.accepted);
    const std::vector<Produced> later = run(model, 400, 600, [](long n) { return sine(-10.0, 1000.0, n); });
    EXPECT_EQ(later.empty(), !c.accepted);
    if (c.accepted) {
        EXPECT_EQ(model.peak(), c.peak);
        EXPECT_EQ(model.timeline().peak(), c.peak);
        EXPECT_EQ(model.emphasisNorm(), c.emphasisNorm);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, GainModelControls,
    ::testing::Values(ControlCase {"PeakAboveOne", 1.2, 0.5, false}, ControlCase {"PeakNaN", nan, 0.5, false},
                      ControlCase {"EmphasisNegative", 0.5, -0.1, false},
                      ControlCase {"EmphasisNegativeSubnormal", 0.5, -std::numeric_limits<double>::denorm_min(), false},
                      ControlCase {"EmphasisAboveOne", 0.5, 1.0000001, false},
                      ControlCase {"EmphasisNegativeZero", 0.5, -0.0, true},
                      ControlCase {"PeakNegativeZero", -0.0, 0.3, true}, ControlCase {"Ordinary", 0.9, 1.0, true}),
    [](const ::testing::TestParamInfo<ControlCase>& info) { return std::string(info.param.name); });

TEST(GainModelControlsUpdate, EmphasisChangesBelowTheToleranceKeepTheFilter)
{
    OptoGainModelDSP model;
    model.prepare(sampleRate, 0.5, 0.5, false, 2);
    const OptoDetectorDSP& detector = model.timeline().detector();
    const double b0 = detector.filter().b0;

    ASSERT_TRUE(model.updateControls(0.5, 0.5 + 1e-13, false, false));
    EXPECT_EQ(detector.emphasisNorm(), 0.5);
    EXPECT_EQ(detector.filter().b0, b0);
    EXPECT_EQ(model.emphasisNorm(), 0.5 + 1e-13) << "the followers take the value as given";

    ASSERT_TRUE(model.updateControls(0.5, 0.5 + 1e-11, false, false));
    EXPECT_EQ(detector.emphasisNorm(), 0.5 + 1e-11);
    EXPECT_EQ(detector.filter().b0, sidechainBiquad(0.5 + 1e-11).b0);
    EXPECT_NE(detector.filter().b0, b0);
}

// --- calibration-variant correction -------------------------------------------------------

// During a sustained attack the accumulator climbs by 1 - e^(-1/32) of its remaining way
// each frame, from 0 on the attack's first frame.
TEST(GainModelCorrection, StartsAtTheAttackAndGrowsWhileItLasts)
{
    OptoGainModelDSP model;
    model.prepare(sampleRate, 0.55, 0.6, true, 2);
    const auto burst = [](long n) { return sine(n < 24000 ? -15.0 : -3.0, 1000.0, n); };
    double accumulator = 0.0;
    bool wasAbove = false;
    int attackFrames = 0;
    for (long n = 0; n < 30000; ++n) {
        GainModelFrame frame {};
        if (!model.processSample(burst(n), frame))
            continue;
        ASSERT_TRUE(frame.calibrationVariant);
        const bool above = model.envelope().programAboveStatic();
        const double m = model.envelope().emphasisMemoryFast();
        if (above)
            accumulator = wasAbove ? (1.0 - accumulator) * 0.03076676552365587 + accumulator : 0.0;
        if (above && !wasAbove && n > 24000) {
            EXPECT_EQ(frame.variantCorrectionDb, m * -0.6244591907650531) << "first attack frame";
            EXPECT_GT(m, 0.1);
            EXPECT_LT(m, 0.9);
        }
        attackFrames += above && n > 24000 ? 1 : 0;
        ASSERT_EQ(model.correctionAccumulator(), accumulator) << n;
        ASSERT_DOUBLE_EQ(frame.variantCorrectionDb, accumulator * 1.5285572854454985 * m + m * -0.6244591907650531);
        ASSERT_EQ(frame.gainDb, frame.envelopeGainDb - frame.variantCorrectionDb);
        ASSERT_LE(frame.variantCorrectionDb, m * (1.5285572854454985 + -0.6244591907650531));
        wasAbove = above;
    }
    EXPECT_GT(attackFrames, 32);
    EXPECT_GT(accumulator, 0.5) << "the correction approaches its end value";

    ASSERT_TRUE(model.updateControls(0.55, 0.6, false, false));
    const std::vector<Produced> off = run(model, 30000, 30500, burst);
    ASSERT_FALSE(off.empty());
    EXPECT_EQ(off.back().frame.variantCorrectionDb, 0.0);
    EXPECT_EQ(off.back().frame.gainDb, off.back().frame.envelopeGainDb);
    ASSERT_TRUE(model.updateControls(0.55, 0.6, true, false));
    EXPECT_EQ(model.correctionAccumulator(), 0.0) << "switching the variant restarts the correction";
}

// --- steady tones -------------------------------------------------------------------------

// Calibration rows at 0.27, 0.58, 0.83, 1.0 with their interpolation slopes.
constexpr std::array<double, 4> calibrationNodes {0.27, 0.58, 0.83, 1.0};
constexpr std::array<double, 4> rowA {1.556179813043683, 2.585655842245457, 3.696363153720864, 3.2082809432230395};
constexpr std::array<double, 4> slopesA {2.699817136373255, 3.8205118735621073, 0.0, -5.831460355746126};
constexpr std::array<double, 4> rowB {0.438791451932487, 0.4068938463876649, 0.4481893629044145, 1.9964339308969175};
constexpr std::array<double, 4> slopesB {-0.251295583946047, 0.0, 0.3456426451965094, 12.726758170955748};

double hermite(const std::array<double, 4>& values, const std::array<double, 4>& slopes, double x)
{
    std::size_t k = 0;
    while (k < 2 && x > calibrationNodes[k + 1])
        ++k;
    const double h = calibrationNodes[k + 1] - calibrationNodes[k];
    const double s = (x - calibrationNodes[k]) / h;
    return (2 * s * s * s - 3 * s * s + 1) * values[k] + (s * s * s - 2 * s * s + s) * h * slopes[k]
           + (3 * s * s - 2 * s * s * s) * values[k + 1] + (s * s * s - s * s) * h * slopes[k + 1];
}

double calibrationShiftFor(double peak, double emphasisNorm)
{
    constexpr double reference = 0.2774658203125;
    if (std::fabs(peak - reference) <= 1e-12)
        return 6.425;
    const double c = std::clamp(emphasisNorm, 0.27, 1.0);
    const double u = hermite(rowA, slopesA, c);
    if (peak < 0.4)
        return peak <= reference ? 6.425 : (u - 6.425) * ((peak - reference) / 0.12253417968750002) + 6.425;
    const double v = hermite(rowB, slopesB, c);
    return (v - u) * ((std::min(peak, 0.55) - 0.4) / 0.15000000000000002) + u;
}

// Shifted by the calibration, blended in over -35..-21 dB, capped.
double expectedCalibrated(double levelDb, double peak, double emphasisNorm)
{
    const double f = std::clamp((35.0 + levelDb) / 14.0, 0.0, 1.0);
    return std::min((3.0 - 2.0 * f) * f * f * calibrationShiftFor(peak, emphasisNorm) + levelDb, -2.6999708456034766);
}

// The side-chain cut at a node of its design table (depth dB, log centre Hz, log Q), as
// coefficients of a transposed direct form II; the identity at emphasis 1.
struct PlainFilter {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0, z1 = 0.0, z2 = 0.0;

    explicit PlainFilter(double emphasisNorm)
    {
        struct Design {
            double node, depthDb, logCentreHz, logQ;
        };
        constexpr std::array<Design, 4> designs {
            Design {0.0, 14.627011177528248, 5.8391361401766275, -1.764611056343205},
            Design {0.25, 14.03006918300934, 5.937265700839241, -1.7217407402599645},
            Design {0.5, 12.850516919145079, 6.154404006711882, -1.6516296344984032},
            Design {0.75, 11.245157026273272, 6.525638828836202, -1.481291552041823}};
        for (const Design& d : designs) {
            if (d.node != emphasisNorm)
                continue;
            const double a = std::pow(10.0, d.depthDb / -40.0);
            const double w = std::exp(d.logCentreHz) * twoPi / sampleRate;
            const double alpha = std::sin(w) / (2.0 * std::exp(d.logQ));
            const double a0 = alpha / a + 1.0;
            b0 = (alpha * a + 1.0) / a0;
            b1 = a1 = -2.0 * std::cos(w) / a0;
            b2 = (1.0 - alpha * a) / a0;
            a2 = (1.0 - alpha / a) / a0;
        }
    }

    double powerGain(double frequencyHz) const
    {
        const std::complex<double> z = std::polar(1.0, -twoPi * frequencyHz / sampleRate);
        return std::norm((b0 + b1 * z + b2 * z * z) / (1.0 + a1 * z + a2 * z * z));
    }

    double step(double x)
    {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

// The detector's running statistics for a signal, read after sample `position`, and the
// base level centred there: what the level frame of that position is made of.
struct PlainLevels {
    double baseLevelDb;
    double crestDb;
    double shapeDb;
    double emphasisRatioDb;
    double lowBandBalance;
};

template <typename Signal>
PlainLevels plainLevelsAt(std::uint64_t position, double emphasisNorm, Signal signal)
{
    const double c = std::exp(-1.0 / (0.02 * sampleRate));
    const double s = std::exp(-1.0 / (0.25 * sampleRate));
    const double l = std::exp(-twoPi * 3500.0 / sampleRate);
    PlainFilter filter(emphasisNorm);
    double fastPower = 0, fastFiltered = 0, slowPower = 0, slowFiltered = 0, slowMagnitude = 0, slowFilteredMagnitude = 0;
    double lowPass = 0, lowBandPower = 0, lowPassPower = 0;
    for (std::uint64_t n = 0; n <= position; ++n) {
        const double x = signal(static_cast<long>(n));
        const double y = filter.step(x);
        fastPower = c * fastPower + (1 - c) * x * x;
        fastFiltered = c * fastFiltered + (1 - c) * y * y;
        slowPower = s * slowPower + (1 - s) * x * x;
        slowFiltered = s * slowFiltered + (1 - s) * y * y;
        slowMagnitude = s * slowMagnitude + (1 - s) * std::fabs(x);
        slowFilteredMagnitude = s * slowFilteredMagnitude + (1 - s) * std::fabs(y);
        lowPass = l * lowPass + (1 - l) * x;
        lowBandPower = c * lowBandPower + (1 - c) * x * x;
        lowPassPower = c * lowPassPower + (1 - c) * lowPass * lowPass;
    }
    double windowSum = 0.0;
    double weighted = 0.0;
    for (int i = 0; i < 255; ++i) {
        const double w = 0.5 - 0.5 * std::cos(twoPi * i / 254.0);
        const double x = signal(static_cast<long>(position) - 127 + i);
        windowSum += w;
        weighted += w * x * x;
    }
    return {20.0 * std::log10(std::sqrt(2.0 * weighted / windowSum)),
            20.0 * std::log10(slowMagnitude / std::sqrt(slowPower)) + 0.9120975839632404,
            20.0 * std::log10(slowFilteredMagnitude / slowMagnitude) - 10.0 * std::log10(slowFiltered / slowPower),
            10.0 * std::log10(fastFiltered / fastPower), std::min(lowPassPower / lowBandPower, 1.0) - 1.0};
}

// The spectral spread of the record for `position`: 106 bins of a Hann-windowed 256-point
// transform every 128 samples, smoothed over 20 ms, plain and weighted by the filter's power
// gain. Two hundred analyses before the record are enough for the smoothing to forget its start.
template <typename Signal>
double plainSpreadAt(std::uint64_t position, double emphasisNorm, Signal signal)
{
    const PlainFilter filter(emphasisNorm);
    const double p = std::exp(-128.0 / (0.02 * sampleRate));
    const long record = static_cast<long>(position / 128 * 128);
    std::array<std::complex<double>, 256> turn {};
    for (int i = 0; i < 256; ++i)
        turn[i] = std::polar(1.0, -twoPi * i / 256.0);
    std::array<double, 106> spectrum {};
    std::array<double, 106> weighted {};
    std::array<double, 256> windowed {};
    for (long q = record - 128 * 199; q <= record; q += 128) {
        for (int i = 0; i < 256; ++i)
            windowed[i] = signal(q - 128 + i) * (0.5 - 0.5 * std::cos(twoPi * i / 255.0));
        for (int k = 1; k <= 106; ++k) {
            std::complex<double> bin = 0.0;
            for (int i = 0; i < 256; ++i)
                bin += windowed[i] * turn[(k * i) % 256];
            const double power = std::norm(bin);
            spectrum[k - 1] = p * spectrum[k - 1] + (1 - p) * power;
            weighted[k - 1] = p * weighted[k - 1] + (1 - p) * power * filter.powerGain(k * 187.5);
        }
    }
    double s1 = 0, s2 = 0, w1 = 0, w2 = 0;
    for (int k = 0; k < 106; ++k) {
        s1 += spectrum[k];
        s2 += spectrum[k] * spectrum[k];
        w1 += weighted[k];
        w2 += weighted[k] * weighted[k];
    }
    return std::log2((w1 * w1 / w2) / (s1 * s1 / s2));
}

// Tones at whole kilohertz repeat their squares every 24 samples, so every frame sees the same
// levels and the followers come to rest.
struct ToneCase {
    double amplitudeDb;
    double frequencyHz;
    double peak;
    double emphasisNorm; // 1 or a node of the emphasis design table
};

class GainModelSteadyTone : public ::testing::TestWithParam<ToneCase> {};

// Each follower settles on the static curve at its own calibrated level: the Program one at
// the level with the low-band offset, the Plain one at the level, the Emphasis one at the
// level with the emphasis correction; the gain is emphasis + program - plain.
TEST_P(GainModelSteadyTone, SettlesOnTheStaticCurveAtEachCalibratedLevel)
{
    const ToneCase c = GetParam();
    const auto tone = [&](long n) { return sine(c.amplitudeDb, c.frequencyHz, n); };
    OptoGainModelDSP model;
    model.prepare(sampleRate, c.peak, c.emphasisNorm, false, 2);
    const std::vector<Produced> frames = run(model, 0, 6 * 48000, tone);
    ASSERT_TRUE(model.isValid());
    const GainModelFrame& last = frames.back().frame;

    const PlainLevels plain = plainLevelsAt(last.position, c.emphasisNorm, tone);
    const double spread = plainSpreadAt(last.position, c.emphasisNorm, tone);
    const double a = plain.crestDb * -0.12199999999999998 + plain.baseLevelDb;
    const double correction =
        std::min(0.0, -0.12199999999999998 * plain.shapeDb
                          + ((1.0 - c.emphasisNorm) * -0.16749999999999998 + (2.1050992452633364 * spread + plain.emphasisRatioDb)));
    const double levelDb = expectedCalibrated(a, c.peak, 1.0);
    const double lowBandDb = expectedCalibrated(5.0 * plain.lowBandBalance + a, c.peak, 1.0);
    const double emphasisDb = expectedCalibrated(correction + a, c.peak, c.emphasisNorm);
    const double expectedGain = extendedStaticGain(c.peak, emphasisDb) + extendedStaticGain(c.peak, lowBandDb)
                                - extendedStaticGain(c.peak, levelDb);

    EXPECT_NEAR(last.baseLevelDb, plain.baseLevelDb, 1e-9);
    EXPECT_NEAR(last.levelFrame.crestDb, plain.crestDb, 1e-9);
    EXPECT_NEAR(last.levelFrame.shapeDb, plain.shapeDb, 1e-9);
    EXPECT_NEAR(last.levelFrame.levelDb, levelDb, 1e-9);
    EXPECT_NEAR(last.levelFrame.lowBandLevelDb, lowBandDb, 1e-9);
    EXPECT_NEAR(last.levelFrame.emphasisLevelDb, emphasisDb, 1e-9);
    EXPECT_NEAR(last.gainDb, expectedGain, 1e-4);
    EXPECT_EQ(last.gainDb, last.envelopeGainDb);
}

INSTANTIATE_TEST_SUITE_P(
    Tones, GainModelSteadyTone,
    ::testing::Values(ToneCase {-30.0, 1000.0, 0.5, 1.0}, ToneCase {-10.0, 1000.0, 0.5, 1.0},
                      ToneCase {-20.0, 1000.0, 0.8, 1.0}, ToneCase {-3.0, 1000.0, 1.0, 1.0},
                      ToneCase {-20.0, 1000.0, 0.2774658203125, 1.0}, ToneCase {-30.0, 1000.0, 0.33, 1.0},
                      ToneCase {-40.0, 1000.0, 0.7, 1.0}, ToneCase {-25.0, 10000.0, 0.6, 0.5},
                      ToneCase {-15.0, 10000.0, 0.9, 0.25}, ToneCase {-12.0, 5000.0, 0.45, 0.75},
                      ToneCase {-18.0, 2000.0, 0.7, 0.0}));

} // namespace
} // namespace quillon
