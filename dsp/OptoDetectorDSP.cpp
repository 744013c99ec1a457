// The detector: side-chain filter and running statistics per sample, a windowed
// 256-point transform every 128 samples, and the frames composed from both.

#include "dsp/OptoDetectorDSP.h"

#include "dsp/AnalysisTransform.h"

#include <array>
#include <cmath>
#include <cstddef>

namespace quillon {
namespace {

constexpr std::size_t ringLength = 256;
constexpr std::uint64_t analysisHop = 128;
constexpr std::size_t binCount = 106;
constexpr double twoPi = 6.283185307179586;
// -20 log10 of a sine's mean-to-RMS ratio, so that a sine's crest reads 0 dB.
constexpr double sineCrestOffsetDb = 0.9120975839632404;

using Ring = std::array<double, ringLength>;
using BinArray = std::array<double, binCount>;

// Hann window of period 255 over 256 points: zero at both ends.
std::array<double, ringLength> makeAnalysisWindow() noexcept
{
    std::array<double, ringLength> window{};
    for (std::size_t i = 0; i < ringLength; ++i)
        window[i] = 0.5 - 0.5 * std::cos((twoPi * static_cast<double>(i)) / 255.0);
    return window;
}

// Worked out once, on first use.
const std::array<double, ringLength>& analysisWindow() noexcept
{
    static const std::array<double, ringLength> window = makeAnalysisWindow();
    return window;
}

// One step of a one-pole average in the detector's form: c x v + (1 - c) x input.
double smooth(double c, double v, double input) noexcept { return c * v + (1.0 - c) * input; }

// max(floor, v) that lets a NaN through.
double atLeast(double floor, double v) noexcept { return v < floor ? floor : v; }

double powerDb(double meanSquare) noexcept { return 10.0 * std::log10(meanSquare); }

double amplitudeDb(double amplitude) noexcept { return 20.0 * std::log10(amplitude); }

} // namespace

struct OptoDetectorDSP::State {
    double sampleRate = 48000.0;
    double emphasisNorm = 1.0;
    double fastCoefficient = 0.0;
    double slowCoefficient = 0.0;
    double spectrumCoefficient = 0.0;
    double lowPassCoefficient = 0.0;
    Biquad filter{1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    Ring sampleRing{};
    Ring fastPowerRing{};
    Ring fastFilteredPowerRing{};
    Ring slowPowerRing{};
    Ring slowFilteredPowerRing{};
    Ring slowMagnitudeRing{};
    Ring slowFilteredMagnitudeRing{};
    Ring lowBandBalanceRing{};
    BinArray spectrum{};
    BinArray weightedSpectrum{};
    BinArray emphasisMagnitude{};
    Ring transformRe{};
    Ring transformIm{};
    std::uint64_t sampleCount = 0;
    double fastPower = 0.0;
    double fastFilteredPower = 0.0;
    double slowPower = 0.0;
    double slowFilteredPower = 0.0;
    double slowMagnitude = 0.0;
    double slowFilteredMagnitude = 0.0;
    double lowPassState = 0.0;
    double lowBandPower = 0.0;
    double lowPassPower = 0.0;
    double lowBandBalance = 0.0;
    bool valid = false;

    void setCoefficients(double rate) noexcept
    {
        sampleRate = rate;
        fastCoefficient = std::exp(-1.0 / (0.02 * rate));
        slowCoefficient = std::exp(-1.0 / (0.25 * rate));
        spectrumCoefficient = std::exp(-128.0 / (0.02 * rate));
        lowPassCoefficient = std::exp(-21991.14857512855 / rate);
    }

    void design(double emphasis) noexcept
    {
        const Biquad designed = sidechainBiquad(emphasis);
        filter = {designed.b0, designed.b1, designed.b2, designed.a1, designed.a2, filter.z1, filter.z2};
        emphasisNorm = emphasis;
        for (std::size_t k = 1; k <= binCount; ++k)
            emphasisMagnitude[k - 1] = magnitudeSquared(filter, static_cast<double>(k) * sampleRate * 0.00390625);
    }

    void updateStatistics(double x) noexcept;
    void analyse(DetectorFeatureFrame& record) noexcept;
    double smoothSpectrumAndSpread(bool& spectrumValid) noexcept;
};

void OptoDetectorDSP::State::updateStatistics(double x) noexcept
{
    const double y = filterStep(filter, x);
    const double c = fastCoefficient;
    const double s = slowCoefficient;
    const double l = lowPassCoefficient;
    fastPower = smooth(c, fastPower, x * x);
    fastFilteredPower = smooth(c, fastFilteredPower, y * y);
    slowPower = smooth(s, slowPower, x * x);
    slowFilteredPower = smooth(s, slowFilteredPower, y * y);
    slowMagnitude = smooth(s, slowMagnitude, std::fabs(x));
    slowFilteredMagnitude = smooth(s, slowFilteredMagnitude, std::fabs(y));
    lowPassState = smooth(l, lowPassState, x);
    lowBandPower = smooth(c, lowBandPower, x * x);
    lowPassPower = smooth(c, lowPassPower, lowPassState * lowPassState);
    if (lowBandPower > 1e-12) {
        const double r = lowPassPower / lowBandPower;
        lowBandBalance = r < 0.0 ? -1.0 : (1.0 < r ? 1.0 : r) - 1.0;
    } else {
        lowBandBalance = 0.0;
    }
    const std::size_t j = static_cast<std::size_t>(sampleCount % ringLength);
    sampleRing[j] = x;
    fastPowerRing[j] = fastPower;
    fastFilteredPowerRing[j] = fastFilteredPower;
    slowPowerRing[j] = slowPower;
    slowFilteredPowerRing[j] = slowFilteredPower;
    slowMagnitudeRing[j] = slowMagnitude;
    slowFilteredMagnitudeRing[j] = slowFilteredMagnitude;
    lowBandBalanceRing[j] = lowBandBalance;
    sampleCount += 1;
}

// Smooths the bin powers of the latest transform and returns the spread. Too little
// energy gives spread 0 and an invalid spectrum, so that a signal fading far below
// audibility still yields usable frames.
double OptoDetectorDSP::State::smoothSpectrumAndSpread(bool& spectrumValid) noexcept
{
    const double p = spectrumCoefficient;
    double s1 = 0.0;
    double s2 = 0.0;
    double w1 = 0.0;
    double w2 = 0.0;
    for (std::size_t k = 1; k <= binCount; ++k) {
        const double re = transformRe[k];
        const double im = transformIm[k];
        const double power = std::isinf(re) || std::isinf(im) ? HUGE_VAL : re * re + im * im;
        spectrum[k - 1] = smooth(p, spectrum[k - 1], power);
        // Weighted after the smoothing factor: ((1 - p) x power) x magnitude.
        weightedSpectrum[k - 1] = p * weightedSpectrum[k - 1] + ((1.0 - p) * power) * emphasisMagnitude[k - 1];
        s1 += spectrum[k - 1];
        s2 += spectrum[k - 1] * spectrum[k - 1];
        w1 += weightedSpectrum[k - 1];
        w2 += weightedSpectrum[k - 1] * weightedSpectrum[k - 1];
    }
    spectrumValid = s2 > 1e-30 && s1 > 1e-15 && w2 > 1e-30 && w1 > 1e-15;
    if (!spectrumValid)
        return 0.0;
    return std::log2(((w1 * w1) / w2) / ((s1 * s1) / s2));
}

void OptoDetectorDSP::State::analyse(DetectorFeatureFrame& record) noexcept
{
    const std::uint64_t first = sampleCount - ringLength;
    const std::array<double, ringLength>& window = analysisWindow();
    for (std::size_t i = 0; i < ringLength; ++i) {
        transformRe[i] = sampleRing[(first + i) % ringLength] * window[i];
        transformIm[i] = 0.0;
    }
    forwardTransform(transformRe, transformIm, binCount);
    bool spectrumValid = false;
    const double spread = smoothSpectrumAndSpread(spectrumValid);

    const std::uint64_t q = sampleCount - analysisHop;
    const std::size_t i = static_cast<std::size_t>(q % ringLength);
    const double fP = atLeast(1e-30, fastPowerRing[i]);
    const double sP = atLeast(1e-30, slowPowerRing[i]);
    const double sM = slowMagnitudeRing[i];
    const double ratioDb = powerDb(atLeast(1e-30, fastFilteredPowerRing[i]) / fP);
    const double shapeDb = amplitudeDb(atLeast(1e-30, slowFilteredMagnitudeRing[i]) / atLeast(1e-30, sM)) -
                           powerDb(atLeast(1e-30, slowFilteredPowerRing[i]) / sP);
    record.position = q;
    record.fastLevelDb = powerDb(fP);
    record.emphasisRatioDb = ratioDb;
    record.spectralSpread = spread;
    record.crestDb = amplitudeDb(atLeast(1e-30, sM / std::sqrt(sP))) + sineCrestOffsetDb;
    record.shapeDb = shapeDb;
    record.emphasisCorrectionDb = emphasisCorrection(ratioDb, spread, shapeDb, emphasisNorm);
    record.lowBandBalance = lowBandBalanceRing[i];
    record.lowBandOffsetDb = 5.0 * lowBandBalanceRing[i];
    record.spectrumValid = spectrumValid;
}

OptoDetectorDSP::OptoDetectorDSP() : state(std::make_unique<State>())
{
    state->setCoefficients(state->sampleRate);
    // Build the window here rather than on the first analysis.
    analysisWindow();
}

OptoDetectorDSP::~OptoDetectorDSP() = default;

void OptoDetectorDSP::prepare(double sampleRate, double emphasisNorm)
{
    State& m = *state;
    m.setCoefficients(sampleRate);
    m.design(emphasisNorm);
    m.valid = true;
    clearDynamicState();
}

void OptoDetectorDSP::redesign(double emphasisNorm) noexcept
{
    State& m = *state;
    if (!(emphasisNorm >= 0.0 && emphasisNorm <= 1.0)) {
        m.valid = false;
        return;
    }
    if (std::fabs(emphasisNorm - m.emphasisNorm) <= 1e-12)
        return;
    m.design(emphasisNorm);
}

void OptoDetectorDSP::clearDynamicState() noexcept
{
    State& m = *state;
    m.filter.z1 = 0.0;
    m.filter.z2 = 0.0;
    for (Ring* ring : {&m.sampleRing, &m.fastPowerRing, &m.fastFilteredPowerRing, &m.slowPowerRing,
                       &m.slowFilteredPowerRing, &m.slowMagnitudeRing, &m.slowFilteredMagnitudeRing,
                       &m.lowBandBalanceRing})
        ring->fill(0.0);
    m.spectrum.fill(0.0);
    m.weightedSpectrum.fill(0.0);
    m.transformRe.fill(0.0);
    m.transformIm.fill(0.0);
    m.sampleCount = 0;
    m.fastPower = m.fastFilteredPower = m.slowPower = m.slowFilteredPower = 0.0;
    m.slowMagnitude = m.slowFilteredMagnitude = 0.0;
    m.lowPassState = m.lowBandPower = m.lowPassPower = 0.0;
    m.lowBandBalance = 0.0;
}

bool OptoDetectorDSP::analyseSample(double x, DetectorFeatureFrame& record) noexcept
{
    State& m = *state;
    if (!m.valid)
        return false;
    m.updateStatistics(x);
    if (m.sampleCount < ringLength || (m.sampleCount - ringLength) % analysisHop != 0)
        return false;
    m.analyse(record);
    return true;
}

double OptoDetectorDSP::lowBandBalance() const noexcept { return state->lowBandBalance; }

bool OptoDetectorDSP::isValid() const noexcept { return state->valid; }

double OptoDetectorDSP::emphasisNorm() const noexcept { return state->emphasisNorm; }

std::uint64_t OptoDetectorDSP::sampleCount() const noexcept { return state->sampleCount; }

const Biquad& OptoDetectorDSP::filter() const noexcept { return state->filter; }

bool OptoDetectorDSP::composeLevelFrame(double baseLevelDb, double peakNorm, const DetectorFeatureFrame& features,
                                        DetectorLevelFrame& out, bool extendedCalibration) const noexcept
{
    const State& m = *state;
    if (!std::isfinite(baseLevelDb) || !m.valid || !(peakNorm >= 0.0 && peakNorm <= 1.0))
        return false;
    if (!std::isfinite(features.crestDb) || !std::isfinite(features.shapeDb) ||
        !std::isfinite(features.emphasisCorrectionDb) || !std::isfinite(features.lowBandOffsetDb) ||
        !std::isfinite(features.fastLevelDb))
        return false;
    const double a = features.crestDb * -0.12199999999999998 + baseLevelDb;
    const double correction =
        emphasisCorrection(features.emphasisRatioDb, features.spectralSpread, features.shapeDb, m.emphasisNorm);
    out.levelDb = calibratedLevel(a, peakNorm, 1.0, extendedCalibration);
    out.lowBandLevelDb = calibratedLevel(features.lowBandOffsetDb + a, peakNorm, 1.0, extendedCalibration);
    out.emphasisLevelDb = calibratedLevel(correction + a, peakNorm, m.emphasisNorm, extendedCalibration);
    out.crestDb = features.crestDb;
    out.shapeDb = features.shapeDb;
    return std::isfinite(out.levelDb) && std::isfinite(out.lowBandLevelDb) && std::isfinite(out.emphasisLevelDb);
}

bool OptoDetectorDSP::composeHistoricalFeatureFrame(std::uint64_t position, const DetectorFeatureFrame& current,
                                                    DetectorFeatureFrame& out) const noexcept
{
    const State& m = *state;
    const std::uint64_t n = m.sampleCount;
    if (!m.valid || position >= n || n - position > ringLength || !std::isfinite(current.spectralSpread))
        return false;
    const std::size_t i = static_cast<std::size_t>(position % ringLength);
    const double ratioFast =
        std::log10(atLeast(1e-30, m.fastFilteredPowerRing[i]) / atLeast(1e-30, m.fastPowerRing[i]));
    const double ratioSlow = powerDb(atLeast(1e-30, m.slowFilteredPowerRing[i]) / atLeast(1e-30, m.slowPowerRing[i]));
    const double ratioMag =
        amplitudeDb(atLeast(1e-30, m.slowFilteredMagnitudeRing[i]) / atLeast(1e-30, m.slowMagnitudeRing[i]));
    const double root = m.slowPowerRing[i] < 1e-30 ? 1e-15 : std::sqrt(m.slowPowerRing[i]);

    out = current;
    out.position = position;
    out.crestDb = amplitudeDb(atLeast(1e-30, m.slowMagnitudeRing[i] / root)) + sineCrestOffsetDb;
    out.fastLevelDb = powerDb(atLeast(1e-30, m.fastPowerRing[i]));
    out.emphasisRatioDb = 10.0 * ratioFast;
    out.shapeDb = ratioMag - ratioSlow;
    out.emphasisCorrectionDb = emphasisCorrection(out.emphasisRatioDb, current.spectralSpread, out.shapeDb, m.emphasisNorm);
    out.lowBandBalance = m.lowBandBalanceRing[i];
    out.lowBandOffsetDb = 5.0 * out.lowBandBalance;
    return std::isfinite(out.fastLevelDb) && std::isfinite(out.emphasisRatioDb) && std::isfinite(out.crestDb) &&
           std::isfinite(out.shapeDb) && std::isfinite(out.emphasisCorrectionDb) && std::isfinite(out.lowBandOffsetDb);
}

} // namespace quillon
