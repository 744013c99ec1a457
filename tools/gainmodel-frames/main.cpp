// gainmodel-frames: runs the gain model over a generated sine burst (low level, then a
// burst at a high level, then the low level again) and prints every frame it yields,
// followed by a summary of the settled gains and the attack and release times.

#include "dsp/OptoGainModelDSP.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace {

constexpr double sampleRate = 48000.0;
constexpr double twoPi = 6.283185307179586;

struct Options {
    double peak = 0.5;
    double emphasisNorm = 1.0;
    bool variant = false;
    double frequencyHz = 1000.0;
    double lowDb = -30.0;
    double highDb = -6.0;
    double beforeSeconds = 0.5;
    double burstSeconds = 0.5;
    double afterSeconds = 1.5;
    int every = 1;
};

struct Row {
    double timeMs;
    quillon::GainModelFrame frame;
};

void printHelp()
{
    std::puts("usage: gainmodel-frames [options]\n"
              "Feeds a 48 kHz sine burst to the gain model and prints its frames:\n"
              "position (samples), time (ms), base level, envelope gain and gain (dB).\n\n"
              "  --peak P        normalised Peak Reduction, 0..1 (default 0.5)\n"
              "  --emphasis E    normalised Emphasis, 0..1, 1 = none (default 1)\n"
              "  --variant       switch the calibration variant on\n"
              "  --frequency F   tone frequency in Hz (default 1000)\n"
              "  --low DB        level before and after the burst, dBFS peak (default -30)\n"
              "  --high DB       level of the burst, dBFS peak (default -6)\n"
              "  --before S      seconds before the burst (default 0.5)\n"
              "  --burst S       seconds of burst (default 0.5)\n"
              "  --after S       seconds after the burst (default 1.5)\n"
              "  --every N       print every Nth frame (default 1)\n"
              "  --help          this text");
}

bool parseNumber(const char* text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--variant") {
            options.variant = true;
            continue;
        }
        struct Numeric {
            const char* name;
            double* target;
        };
        double every = options.every;
        const Numeric numerics[] = {{"--peak", &options.peak},           {"--emphasis", &options.emphasisNorm},
                                    {"--frequency", &options.frequencyHz}, {"--low", &options.lowDb},
                                    {"--high", &options.highDb},         {"--before", &options.beforeSeconds},
                                    {"--burst", &options.burstSeconds},  {"--after", &options.afterSeconds},
                                    {"--every", &every}};
        bool known = false;
        for (const Numeric& n : numerics) {
            if (name != n.name)
                continue;
            known = true;
            if (i + 1 >= argc || !parseNumber(argv[i + 1], *n.target)) {
                std::fprintf(stderr, "gainmodel-frames: %s needs a finite number\n", n.name);
                return false;
            }
            ++i;
        }
        if (!known) {
            std::fprintf(stderr, "gainmodel-frames: unknown option '%s' (try --help)\n", name.c_str());
            return false;
        }
        if (every < 1.0) {
            std::fprintf(stderr, "gainmodel-frames: --every needs a count of at least 1\n");
            return false;
        }
        options.every = static_cast<int>(every);
    }
    if (options.beforeSeconds < 0.0 || options.burstSeconds < 0.0 || options.afterSeconds < 0.0) {
        std::fprintf(stderr, "gainmodel-frames: durations cannot be negative\n");
        return false;
    }
    return true;
}

// Milliseconds after `startMs` until the gain first covers `share` of its way from `from`
// to `to`; negative when it never does.
double timeToShare(const std::vector<Row>& rows, double startMs, double from, double to, double share)
{
    for (const Row& row : rows)
        if (row.timeMs >= startMs && std::fabs(row.frame.gainDb - from) >= share * std::fabs(to - from))
            return row.timeMs - startMs;
    return -1.0;
}

// The gain of the last frame before `timeMs`.
double gainBefore(const std::vector<Row>& rows, double timeMs)
{
    double gain = NAN;
    for (const Row& row : rows)
        if (row.timeMs < timeMs)
            gain = row.frame.gainDb;
    return gain;
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
            printHelp();
            return 0;
        }
    }
    Options options;
    if (!parse(argc, argv, options))
        return 2;

    quillon::OptoGainModelDSP model;
    try {
        model.prepare(sampleRate, options.peak, options.emphasisNorm, options.variant, 2);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gainmodel-frames: the gain model cannot be prepared: %s\n", e.what());
        return 1;
    }

    const auto samplesFor = [](double seconds) { return static_cast<long>(std::lround(seconds * sampleRate)); };
    const auto milliseconds = [](long samples) { return 1000.0 * static_cast<double>(samples) / sampleRate; };
    const long burstStart = samplesFor(options.beforeSeconds);
    const long burstEnd = burstStart + samplesFor(options.burstSeconds);
    const long total = burstEnd + samplesFor(options.afterSeconds);
    const double lowAmplitude = std::pow(10.0, options.lowDb / 20.0);
    const double highAmplitude = std::pow(10.0, options.highDb / 20.0);

    std::printf("# peak %.6g, emphasis %.6g, variant %s; %.6g Hz at %.6g dBFS, burst %.6g dBFS from %.1f to %.1f ms\n",
                options.peak, options.emphasisNorm, options.variant ? "on" : "off", options.frequencyHz,
                options.lowDb, options.highDb, milliseconds(burstStart), milliseconds(burstEnd));
    std::printf("%10s %10s %12s %14s %10s\n", "position", "time_ms", "base_dB", "envelope_dB", "gain_dB");

    std::vector<Row> rows;
    rows.reserve(static_cast<std::size_t>(total / 24 + 1));
    for (long n = 0; n < total; ++n) {
        const double amplitude = n >= burstStart && n < burstEnd ? highAmplitude : lowAmplitude;
        const double x = amplitude * std::sin(twoPi * options.frequencyHz * static_cast<double>(n) / sampleRate);
        quillon::GainModelFrame frame {};
        if (!model.processSample(x, frame)) {
            if (!model.isValid()) {
                std::fprintf(stderr, "gainmodel-frames: the model failed at sample %ld\n", n);
                return 1;
            }
            continue;
        }
        const Row row {milliseconds(static_cast<long>(frame.position)), frame};
        if (rows.size() % static_cast<std::size_t>(options.every) == 0)
            std::printf("%10llu %10.3f %12.4f %14.4f %10.4f\n", static_cast<unsigned long long>(frame.position),
                        row.timeMs, frame.baseLevelDb, frame.envelopeGainDb, frame.gainDb);
        rows.push_back(row);
    }

    // A frame's base level looks 127 samples ahead, so the last frame untouched by a level
    // change lies that far before it.
    const double lookAheadMs = 1000.0 * 127.0 / sampleRate;
    const double startMs = milliseconds(burstStart);
    const double endMs = milliseconds(burstEnd);
    const double restGain = gainBefore(rows, startMs - lookAheadMs);
    const double burstGain = gainBefore(rows, endMs - lookAheadMs);
    std::printf("# gain %.4f dB before the burst, %.4f dB at its end (reduction %.4f dB), %.4f dB at the end\n",
                restGain, burstGain, restGain - burstGain, rows.empty() ? NAN : rows.back().frame.gainDb);
    std::printf("# attack to 63%% / 90%% of that reduction: %.1f / %.1f ms after the first frame that hears the burst\n",
                timeToShare(rows, startMs - lookAheadMs, restGain, burstGain, 0.63),
                timeToShare(rows, startMs - lookAheadMs, restGain, burstGain, 0.9));
    std::printf("# release to 63%% / 90%% of the way back: %.1f / %.1f ms after the first frame that hears its end (negative: not reached)\n",
                timeToShare(rows, endMs - lookAheadMs, burstGain, restGain, 0.63),
                timeToShare(rows, endMs - lookAheadMs, burstGain, restGain, 0.9));
    return 0;
}
