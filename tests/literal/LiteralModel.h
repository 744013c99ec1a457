#pragma once

// The literal engine's gain model, written step by step in the plainest form: every curve
// re-derives its slopes when read, every surface row is interpolated on every call, windows
// and twiddles are computed where they are used. It exists to check the real engine's output
// bit for bit and to time it; it shares no code with dsp/.

#include <cstdint>
#include <vector>

namespace quillon::literal
{

// Monotone cubic interpolation over n nodes, clamped at both ends; slopes derived per call.
// An x on an interior node belongs to the interval on its left.
double pchip(const double* nodes, const double* values, int n, double x);

// The same curve with the interval chosen as the last node not above x (the surface's rule).
double pchipFromLastNodeBelow(const double* nodes, const double* values, int n, double x);

struct Biquad
{
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0, z1 = 0.0, z2 = 0.0;
};

Biquad sidechainBiquad(double emphasis);
double magnitudeSquared(const Biquad& q, double frequency);

double baseStaticGain(double peak, double levelDb);
double extendedStaticGain(double peak, double levelDb);
double staticReduction(double peak, double levelDb);

double calibratedLevel(double levelDb, double peakNorm, double emphasisNorm, bool extended);

struct FeatureFrame
{
    std::uint64_t position = 0;
    double fastLevelDb = 0.0;
    double emphasisRatioDb = 0.0;
    double spectralSpread = 0.0;
    double crestDb = 0.0;
    double shapeDb = 0.0;
    double emphasisCorrectionDb = 0.0;
    double lowBandBalance = 0.0;
    double lowBandOffsetDb = 0.0;
    bool spectrumValid = false;
};

struct LevelFrame
{
    double levelDb = 0.0;
    double lowBandLevelDb = 0.0;
    double emphasisLevelDb = 0.0;
    double crestDb = 0.0;
    double shapeDb = 0.0;
};

class Detector
{
public:
    void prepare(double rate, double emphasis);
    void redesign(double emphasis);
    void clear();
    // One input sample; true when a spectral analysis ran and wrote `record`.
    bool analyseSample(double x, FeatureFrame& record);
    bool composeLevelFrame(double baseLevelDb, double peakNorm, const FeatureFrame& features,
                           LevelFrame& out, bool extended) const;
    bool composeHistoricalFeatureFrame(std::uint64_t position, const FeatureFrame& current,
                                       FeatureFrame& out) const;

    bool valid = false;
    double emphasisNorm = 1.0;
    double lowBandBalance = 0.0;

private:
    FeatureFrame spectralAnalysis();
    double emphasisCorrection(double ratioDb, double spread, double shapeDb) const;
    void tabulateMagnitude();

    double sampleRate = 48000.0;
    double fastCoefficient = 0.0, slowCoefficient = 0.0;
    double spectrumCoefficient = 0.0, lowPassCoefficient = 0.0;
    Biquad filter;
    double sampleRing[256] {};
    double fastPowerRing[256] {};
    double fastFilteredPowerRing[256] {};
    double slowPowerRing[256] {};
    double slowFilteredPowerRing[256] {};
    double slowMagnitudeRing[256] {};
    double slowFilteredMagnitudeRing[256] {};
    double lowBandBalanceRing[256] {};
    double spectrum[106] {};
    double weightedSpectrum[106] {};
    double emphasisMagnitude[106] {};
    double transformRe[256] {};
    double transformIm[256] {};
    std::uint64_t sampleCount = 0;
    double fastPower = 0.0, fastFilteredPower = 0.0;
    double slowPower = 0.0, slowFilteredPower = 0.0;
    double slowMagnitude = 0.0, slowFilteredMagnitude = 0.0;
    double lowPassState = 0.0, lowBandPower = 0.0, lowPassPower = 0.0;
};

class Timeline
{
public:
    enum class Outcome { Frame, NoFrameYet, Failure };

    Timeline();
    void reset();
    bool storeLevel(std::uint64_t position, double levelDb);
    void storeLowBand(double value);
    void storeFeatureRecord(const FeatureFrame& record);
    Outcome featureFrameAt(std::uint64_t position, FeatureFrame& out) const;
    bool levelAt(std::uint64_t position, double& levelDb) const;

    Detector detector;
    double levelValue[512] {};
    std::uint64_t levelPosition[512] {};
    double lowBandRing[512] {};
    FeatureFrame records[4];
    std::uint64_t recordCount = 0;
    std::uint64_t sampleCount = 0;
    double peak = 0.4;
    int mode = 0;
    int delay = 256;
    bool extendedCalibration = false;
    bool prepared = false;
    bool ready = false;
};

enum class FollowerMode { Program, Plain, Emphasis };

struct FollowerDiagnostic
{
    double staticGainDb = 0.0;
    double previousOutputDb = 0.0;
    double memoryFast = 0.0;
    bool aboveStatic = false;
};

struct Follower
{
    void reset(double levelDb, double peak);
    double process(double levelDb, double detectorShapeDb, double previousReductionDb, double peak,
                   double emphasisNorm, FollowerMode mode, double attackScale,
                   FollowerDiagnostic* diagnostic);

    double tickRate = 2000.0;
    double reductionDb = 0.0, reductionFastDb = 0.0, reductionSlowDb = 0.0;
    double memoryFast = 0.0, memorySlow = 0.0;
    double tablePeak, tableFeedback;
    std::vector<double> levelTable;
    std::vector<double> gainTable;
    double outputDb = 0.0;
    double attackOut[2] {};
    double attackRef[2] {};
    double releaseFast = 0.0, releaseMedium = 0.0, releaseSlow = 0.0;
    double releaseMemory[2] {};
    double memoryExponent = 0.0;
    double attackSeconds = 0.0;
    bool attacking = false;

    Follower();
};

struct Envelope
{
    void reset(const LevelFrame& frame, double peak);
    double tick(const LevelFrame& frame, double peak, double emphasisNorm);

    Follower programFollower, plainFollower, emphasisFollower;
    double staticReductionDb = 0.0;
    double outputDb = 0.0;
    bool resultValid = false;
    bool programAboveStatic = false;
    double emphasisMemoryFast = 0.0;
    bool initialised = false;
};

class BaseLevel
{
public:
    void prepare();
    void reset();
    void push(double square);
    double centredLevel(std::uint64_t n) const;

    double squareRing[255] {};
    double window[255] {};
    std::uint64_t count = 0;
    double floorAmplitude = 0.0;
    bool prepared = false;
    bool ready = false;
};

struct GainModelFrame
{
    std::uint64_t position = 0;
    double baseLevelDb = -48.0;
    double gainDb = 0.0;
    double envelopeGainDb = 0.0;
    double variantCorrectionDb = 0.0;
    bool calibrationVariant = false;
    LevelFrame levelFrame;
};

class GainModel
{
public:
    void prepare(double sampleRate, double peak, double emphasisNorm, bool variant, int mode);
    void reset();
    bool updateControls(double peak, double emphasisNorm, bool variant, bool);
    bool processSample(double input, GainModelFrame& frame);

    bool valid = false;

private:
    bool timelineFailure();

    BaseLevel baseLevel;
    Timeline timeline;
    Envelope envelope;
    double peak = 0.4;
    double emphasisNorm = 1.0;
    bool prepared = false;
    bool envelopeStarted = false;
    bool calibrationVariant = false;
    bool previousAbove = false;
    double correctionAccumulator = 0.0;
    double correctionCoefficient = 0.0;
};

// Plain comparisons that let a NaN through, the way the model's clamps are written.
inline double atLeast(double lo, double v) { return v < lo ? lo : v; }
inline double atMost(double hi, double v) { return v > hi ? hi : v; }
inline double clampTo(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

} // namespace quillon::literal
