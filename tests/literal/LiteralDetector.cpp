// The literal engine's detector: per-sample statistics, the 256-point spectral analysis with its
// window and twiddles computed as it runs, the calibrated frame compositions and the timeline.

#include "tests/literal/LiteralModel.h"

#include <cmath>
#include <complex>
#include <limits>

namespace quillon::literal
{

void Detector::prepare(double rate, double emphasis)
{
    sampleRate = rate;
    emphasisNorm = emphasis;
    fastCoefficient = std::exp(-1.0 / (0.02 * sampleRate));
    slowCoefficient = std::exp(-1.0 / (0.25 * sampleRate));
    spectrumCoefficient = std::exp(-128.0 / (0.02 * sampleRate));
    lowPassCoefficient = std::exp(-21991.14857512855 / sampleRate);
    filter = sidechainBiquad(emphasis);
    tabulateMagnitude();
    valid = true;
    clear();
}

void Detector::redesign(double emphasis)
{
    const double z1 = filter.z1;
    const double z2 = filter.z2;
    filter = sidechainBiquad(emphasis);
    filter.z1 = z1;
    filter.z2 = z2;
    emphasisNorm = emphasis;
    tabulateMagnitude();
}

void Detector::tabulateMagnitude()
{
    for (int k = 1; k <= 106; ++k)
        emphasisMagnitude[k - 1] = magnitudeSquared(filter, static_cast<double>(k) * sampleRate * 0.00390625);
}

void Detector::clear()
{
    filter.z1 = 0.0;
    filter.z2 = 0.0;
    for (int i = 0; i < 256; ++i)
    {
        sampleRing[i] = 0.0;
        fastPowerRing[i] = 0.0;
        fastFilteredPowerRing[i] = 0.0;
        slowPowerRing[i] = 0.0;
        slowFilteredPowerRing[i] = 0.0;
        slowMagnitudeRing[i] = 0.0;
        slowFilteredMagnitudeRing[i] = 0.0;
        lowBandBalanceRing[i] = 0.0;
        transformRe[i] = 0.0;
        transformIm[i] = 0.0;
    }
    for (int k = 0; k < 106; ++k)
    {
        spectrum[k] = 0.0;
        weightedSpectrum[k] = 0.0;
    }
    sampleCount = 0;
    fastPower = fastFilteredPower = 0.0;
    slowPower = slowFilteredPower = 0.0;
    slowMagnitude = slowFilteredMagnitude = 0.0;
    lowPassState = lowBandPower = lowPassPower = 0.0;
    lowBandBalance = 0.0;
}

bool Detector::analyseSample(double x, FeatureFrame& record)
{
    const double c = fastCoefficient;
    const double s = slowCoefficient;
    const double l = lowPassCoefficient;

    const double y = filter.b0 * x + filter.z1;
    filter.z1 = (filter.b1 * x - filter.a1 * y) + filter.z2;
    filter.z2 = filter.b2 * x - filter.a2 * y;

    fastPower = c * fastPower + (1.0 - c) * (x * x);
    fastFilteredPower = c * fastFilteredPower + (1.0 - c) * (y * y);
    slowPower = s * slowPower + (1.0 - s) * (x * x);
    slowFilteredPower = s * slowFilteredPower + (1.0 - s) * (y * y);
    slowMagnitude = s * slowMagnitude + (1.0 - s) * std::fabs(x);
    slowFilteredMagnitude = s * slowFilteredMagnitude + (1.0 - s) * std::fabs(y);
    lowPassState = l * lowPassState + (1.0 - l) * x;
    lowBandPower = c * lowBandPower + (1.0 - c) * (x * x);
    lowPassPower = c * lowPassPower + (1.0 - c) * (lowPassState * lowPassState);

    if (lowBandPower > 1e-12)
    {
        const double r = lowPassPower / lowBandPower;
        lowBandBalance = r < 0.0 ? -1.0 : atMost(1.0, r) - 1.0;
    }
    else
    {
        lowBandBalance = 0.0;
    }

    const std::uint64_t j = sampleCount % 256;
    sampleRing[j] = x;
    fastPowerRing[j] = fastPower;
    fastFilteredPowerRing[j] = fastFilteredPower;
    slowPowerRing[j] = slowPower;
    slowFilteredPowerRing[j] = slowFilteredPower;
    slowMagnitudeRing[j] = slowMagnitude;
    slowFilteredMagnitudeRing[j] = slowFilteredMagnitude;
    lowBandBalanceRing[j] = lowBandBalance;
    sampleCount += 1;

    if (sampleCount >= 256 && (sampleCount - 256) % 128 == 0)
    {
        record = spectralAnalysis();
        return true;
    }
    return false;
}

double Detector::emphasisCorrection(double r, double p, double shape) const
{
    const double c = -0.12199999999999998 * shape
                     + ((1.0 - emphasisNorm) * -0.16749999999999998 + (p * 2.1050992452633364 + r));
    return c > 0.0 ? 0.0 : c;
}

FeatureFrame Detector::spectralAnalysis()
{
    // Window over the last 256 samples, period 255.
    for (int i = 0; i < 256; ++i)
    {
        const double x = sampleRing[(sampleCount - 256 + static_cast<std::uint64_t>(i)) % 256];
        transformRe[i] = x * (0.5 - 0.5 * std::cos(6.283185307179586 * static_cast<double>(i) / 255.0));
        transformIm[i] = 0.0;
    }

    // Radix-2 decimation in time: bit reversal, then butterflies of span 2 .. 256.
    std::complex<double> a[256];
    for (int i = 0; i < 256; ++i)
    {
        int r = 0;
        for (int b = 0; b < 8; ++b)
            if (i & (1 << b))
                r |= 1 << (7 - b);
        a[r] = std::complex<double>(transformRe[i], transformIm[i]);
    }
    for (int span = 2; span <= 256; span *= 2)
    {
        const double angle = -6.283185307179586 / static_cast<double>(span);
        const std::complex<double> step(std::cos(angle), std::sin(angle));
        const int half = span / 2;
        for (int start = 0; start < 256; start += span)
        {
            std::complex<double> w(1.0, 0.0);
            for (int j = 0; j < half; ++j)
            {
                const std::complex<double> t = w * a[start + j + half];
                const std::complex<double> u = a[start + j];
                a[start + j] = u + t;
                a[start + j + half] = u - t;
                w = w * step;
            }
        }
    }
    for (int i = 0; i < 256; ++i)
    {
        transformRe[i] = a[i].real();
        transformIm[i] = a[i].imag();
    }

    const double p = spectrumCoefficient;
    for (int k = 1; k <= 106; ++k)
    {
        const double re = transformRe[k];
        const double im = transformIm[k];
        const double pk = (std::isinf(re) || std::isinf(im)) ? std::numeric_limits<double>::infinity()
                                                              : re * re + im * im;
        spectrum[k - 1] = p * spectrum[k - 1] + (1.0 - p) * pk;
        weightedSpectrum[k - 1] = p * weightedSpectrum[k - 1] + (1.0 - p) * pk * emphasisMagnitude[k - 1];
    }

    double s1 = 0.0, s2 = 0.0, w1 = 0.0, w2 = 0.0;
    for (int k = 0; k < 106; ++k)
    {
        s1 += spectrum[k];
        s2 += spectrum[k] * spectrum[k];
        w1 += weightedSpectrum[k];
        w2 += weightedSpectrum[k] * weightedSpectrum[k];
    }
    double spread = 0.0;
    bool spectrumValid = false;
    if (s2 > 1e-30 && s1 > 1e-15 && w2 > 1e-30 && w1 > 1e-15)
    {
        spread = std::log2((w1 * w1 / w2) / (s1 * s1 / s2));
        spectrumValid = true;
    }

    const std::uint64_t q = sampleCount - 128;
    const std::uint64_t i = q % 256;
    const double fP = fastPowerRing[i];
    const double fFP = fastFilteredPowerRing[i];
    const double sP = slowPowerRing[i];
    const double sFP = slowFilteredPowerRing[i];
    const double sM = slowMagnitudeRing[i];
    const double sFM = slowFilteredMagnitudeRing[i];

    FeatureFrame f;
    f.position = q;
    f.fastLevelDb = 10.0 * std::log10(atLeast(1e-30, fP));
    f.emphasisRatioDb = 10.0 * std::log10(atLeast(1e-30, fFP) / atLeast(1e-30, fP));
    f.spectralSpread = spread;
    f.crestDb = 20.0 * std::log10(atLeast(1e-30, sM / std::sqrt(atLeast(1e-30, sP)))) + 0.9120975839632404;
    f.shapeDb = 20.0 * std::log10(atLeast(1e-30, sFM) / atLeast(1e-30, sM))
                - 10.0 * std::log10(atLeast(1e-30, sFP) / atLeast(1e-30, sP));
    const double c = -0.12199999999999998 * f.shapeDb
                     + ((1.0 - emphasisNorm) * -0.16749999999999998 + (2.1050992452633364 * spread + f.emphasisRatioDb));
    f.emphasisCorrectionDb = c > 0.0 ? 0.0 : c;
    f.lowBandBalance = lowBandBalanceRing[i];
    f.lowBandOffsetDb = 5.0 * f.lowBandBalance;
    f.spectrumValid = spectrumValid;
    return f;
}

bool Detector::composeLevelFrame(double l, double k, const FeatureFrame& f, LevelFrame& out,
                                 bool ext) const
{
    if (!std::isfinite(l) || !valid || std::isnan(k) || std::isinf(k) || k < 0.0 || k > 1.0)
        return false;
    if (!std::isfinite(f.crestDb) || !std::isfinite(f.shapeDb) || !std::isfinite(f.emphasisCorrectionDb)
        || !std::isfinite(f.lowBandOffsetDb) || !std::isfinite(f.fastLevelDb))
        return false;
    const double a = f.crestDb * -0.12199999999999998 + l;
    const double corr = emphasisCorrection(f.emphasisRatioDb, f.spectralSpread, f.shapeDb);
    out.levelDb = calibratedLevel(a, k, 1.0, ext);
    out.lowBandLevelDb = calibratedLevel(f.lowBandOffsetDb + a, k, 1.0, ext);
    out.emphasisLevelDb = calibratedLevel(corr + a, k, emphasisNorm, ext);
    out.crestDb = f.crestDb;
    out.shapeDb = f.shapeDb;
    return std::isfinite(out.levelDb) && std::isfinite(out.lowBandLevelDb) && std::isfinite(out.emphasisLevelDb);
}

bool Detector::composeHistoricalFeatureFrame(std::uint64_t position, const FeatureFrame& current,
                                             FeatureFrame& out) const
{
    const std::uint64_t n = sampleCount;
    if (!valid || position >= n || n - position > 256 || !std::isfinite(current.spectralSpread))
        return false;
    const std::uint64_t i = position % 256;
    const double ratioFast = std::log10(atLeast(1e-30, fastFilteredPowerRing[i]) / atLeast(1e-30, fastPowerRing[i]));
    const double ratioSlow = 10.0 * std::log10(atLeast(1e-30, slowFilteredPowerRing[i]) / atLeast(1e-30, slowPowerRing[i]));
    const double ratioMag = 20.0 * std::log10(atLeast(1e-30, slowFilteredMagnitudeRing[i]) / atLeast(1e-30, slowMagnitudeRing[i]));
    out = current;
    out.position = position;
    const double root = slowPowerRing[i] < 1e-30 ? 1e-15 : std::sqrt(slowPowerRing[i]);
    out.crestDb = 20.0 * std::log10(atLeast(1e-30, slowMagnitudeRing[i] / root)) + 0.9120975839632404;
    out.fastLevelDb = 10.0 * std::log10(atLeast(1e-30, fastPowerRing[i]));
    out.emphasisRatioDb = 10.0 * ratioFast;
    out.shapeDb = ratioMag - ratioSlow;
    out.emphasisCorrectionDb = emphasisCorrection(out.emphasisRatioDb, current.spectralSpread, out.shapeDb);
    out.lowBandBalance = lowBandBalanceRing[i];
    out.lowBandOffsetDb = 5.0 * out.lowBandBalance;
    return std::isfinite(out.fastLevelDb) && std::isfinite(out.emphasisRatioDb) && std::isfinite(out.crestDb)
           && std::isfinite(out.shapeDb) && std::isfinite(out.emphasisCorrectionDb)
           && std::isfinite(out.lowBandOffsetDb);
}

// ---------------------------------------------------------------- timeline

namespace
{
FeatureFrame emptyRecord()
{
    FeatureFrame f;
    f.position = 0;
    f.fastLevelDb = -300.0;
    f.spectrumValid = true;
    return f;
}
} // namespace

Timeline::Timeline()
{
    for (auto& r : records)
        r = emptyRecord();
}

void Timeline::reset()
{
    detector.clear();
    for (int i = 0; i < 512; ++i)
    {
        levelValue[i] = -48.0;
        levelPosition[i] = ~std::uint64_t {0};
        lowBandRing[i] = 0.0;
    }
    for (auto& r : records)
        r = emptyRecord();
    recordCount = 0;
    sampleCount = 0;
    ready = prepared;
}

bool Timeline::storeLevel(std::uint64_t position, double levelDb)
{
    if (!ready || position > sampleCount || sampleCount > position + static_cast<std::uint64_t>(delay)
        || levelPosition[position % 512] == position)
        return false;
    levelValue[position % 512] = levelDb;
    levelPosition[position % 512] = position;
    return true;
}

void Timeline::storeLowBand(double value)
{
    lowBandRing[sampleCount % 512] = value;
    sampleCount += 1;
}

void Timeline::storeFeatureRecord(const FeatureFrame& record)
{
    if (recordCount < 4)
    {
        records[recordCount] = record;
        recordCount += 1;
    }
    else
    {
        records[0] = records[1];
        records[1] = records[2];
        records[2] = records[3];
        records[3] = record;
    }
}

Timeline::Outcome Timeline::featureFrameAt(std::uint64_t p, FeatureFrame& out) const
{
    if (mode == 0)
    {
        if (recordCount == 0)
            return Outcome::Failure;
        if (p <= records[0].position)
        {
            out = records[0];
            out.position = p;
            return Outcome::Frame;
        }
        std::uint64_t k = 1;
        while (k < recordCount && records[k].position < p)
            ++k;
        if (k >= recordCount)
            return Outcome::Failure;
        const FeatureFrame& a = records[k - 1];
        const FeatureFrame& b = records[k];
        const double t = static_cast<double>(p - a.position) / static_cast<double>(b.position - a.position);
        out = a;
        out.fastLevelDb = a.fastLevelDb + t * (b.fastLevelDb - a.fastLevelDb);
        out.emphasisRatioDb = a.emphasisRatioDb + t * (b.emphasisRatioDb - a.emphasisRatioDb);
        out.spectralSpread = a.spectralSpread + t * (b.spectralSpread - a.spectralSpread);
        out.crestDb = a.crestDb + t * (b.crestDb - a.crestDb);
        out.shapeDb = a.shapeDb + t * (b.shapeDb - a.shapeDb);
        out.emphasisCorrectionDb = a.emphasisCorrectionDb + t * (b.emphasisCorrectionDb - a.emphasisCorrectionDb);
        out.spectrumValid = a.spectrumValid && b.spectrumValid;
        out.position = p;
        return Outcome::Frame;
    }

    if (recordCount == 0 || records[0].position > p)
        return Outcome::NoFrameYet;
    std::uint64_t index = 0;
    for (std::uint64_t k = 1; k < recordCount; ++k)
    {
        if (records[k].position > p)
            break;
        index = k;
    }
    FeatureFrame latest = records[index];
    latest.position = p;
    if (mode == 1)
    {
        out = latest;
        return Outcome::Frame;
    }
    FeatureFrame recomputed = emptyRecord();
    if (!detector.composeHistoricalFeatureFrame(p, latest, recomputed))
        return Outcome::Failure;
    out = recomputed;
    return Outcome::Frame;
}

bool Timeline::levelAt(std::uint64_t position, double& levelDb) const
{
    if (levelPosition[position % 512] != position)
        return false;
    levelDb = levelValue[position % 512];
    return true;
}

} // namespace quillon::literal
