// quillon-bench: how fast Quillon runs, measured as realtime factors (seconds of audio per
// CPU second) of the literal engine, the engine alone, the processor's processBlock, the built
// bundle through a VST3 host and a familiar compressor as the yardstick, all in one run, so
// that their ratios hold on a noisy machine. Also the worst block while Peak Reduction moves
// every block, and a long soak run over varied audio with random parameter changes.
#include "Measurements.h"
#include "Soak.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace
{
using namespace quillonbench;

constexpr double targetProcessBlockOverLiteral = 5.0;
constexpr double targetWorstBlockShare = 0.02;

struct Options
{
    double seconds = 10.0;
    int rounds = 5;
    int blockSize = 512;
    std::uint64_t seed = 1;
    bool host = true;
    bool lsp = true;
    bool sweep = true;
    std::optional<double> soakSeconds;
};

void printUsage()
{
    std::cout <<
R"(Usage: quillon-bench [options]

Times Quillon on a generated music-like stereo signal at 48 kHz and prints realtime factors
(seconds of audio per CPU second of the processing thread) of:
  - the literal engine (the plain realisation kept for the bit-identity test),
  - the engine alone (quillon::OptoRealtimeDSP),
  - the processor's processBlock (QuillonAudioProcessor),
  - the built VST3 bundle loaded through JUCE's VST3 hosting (quillon-bench-host),
  - LSP Compressor Stereo through lv2bench, as a yardstick (packages lsp-plugins-lv2 and
    lilv-utils; reported as not available when they are missing; lv2bench times by the
    wall clock, so on a busy machine its figure comes out low),
their ratios, and the worst block time while Peak Reduction changes every block (each
change rebuilds the envelope followers' tables). Each realtime factor is the best of
several rounds; within a round the literal engine, the engine and processBlock take turns
every 0.2 s of audio, so the machine's noise falls on all three alike, and the target is
judged on the median of the rounds' own ratios. Every round of the sweep runs the same
blocks, and each block counts with its fastest round, which filters out the machine's
interruptions (the single worst measurement is printed beside it).

Options:
  --seconds S       seconds of audio per measurement (default 10)
  --rounds N        rounds of every measurement (default 5)
  --block N         block size in samples (default 512)
  --seed N          seed of the test signal (default 1)
  --no-host         skip the bundle through the VST3 host
  --no-lsp          skip the LSP yardstick
  --no-sweep        skip the Peak Reduction sweep
  --soak [S]        instead of the above, the soak run: S seconds (default 3600) of varied
                    audio through processBlock with random parameter changes, reporting
                    non-finite output, model-path fallbacks and the peak block time (the
                    run is rendered twice and each block timed by its faster pass)
  --help            this text
)";
}

[[noreturn]] void fail(const std::string& message)
{
    std::cerr << "quillon-bench: " << message << "\n";
    std::exit(1);
}

double parseNumber(const std::string& option, const char* text, double low, double high)
{
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v >= low && v <= high))
    {
        char range[64];
        std::snprintf(range, sizeof range, "%g to %g", low, high);
        fail(option + " takes a number from " + range + ", not \"" + text + "\"");
    }
    return v;
}

Options parseOptions(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg(argv[i]);
        auto value = [&](double low, double high) {
            if (i + 1 >= argc)
                fail(arg + " needs a value (see --help)");
            return parseNumber(arg, argv[++i], low, high);
        };
        if (arg == "--help" || arg == "-h")
        {
            printUsage();
            std::exit(0);
        }
        else if (arg == "--seconds")
            o.seconds = value(0.5, 36000.0);
        else if (arg == "--rounds")
            o.rounds = static_cast<int>(value(1, 100));
        else if (arg == "--block")
            o.blockSize = static_cast<int>(value(16, 8192));
        else if (arg == "--seed")
            o.seed = static_cast<std::uint64_t>(value(0, 1e15));
        else if (arg == "--no-host")
            o.host = false;
        else if (arg == "--no-lsp")
            o.lsp = false;
        else if (arg == "--no-sweep")
            o.sweep = false;
        else if (arg == "--soak")
            o.soakSeconds = (i + 1 < argc && argv[i + 1][0] != '-') ? value(1.0, 1e6) : 3600.0;
        else
            fail("unknown option \"" + arg + "\" (see --help)");
    }
    return o;
}

struct Row
{
    std::string name;
    std::vector<double> rounds;
    std::string unavailable;
};

void printRow(const Row& row)
{
    std::printf("  %-40s", row.name.c_str());
    if (row.rounds.empty())
    {
        std::printf("    %s\n", row.unavailable.c_str());
        return;
    }
    std::printf("%9.1f   ", largest(row.rounds));
    for (double v : row.rounds)
        std::printf(" %8.1f", v);
    std::printf("\n");
}

// The ratio of the best figures, then each round's own ratio and their median; the rounds'
// ratios compare measurements taken side by side.
std::optional<double> printRatio(const char* name, const Row& a, const Row& b)
{
    std::printf("  %-40s", name);
    if (a.rounds.empty() || b.rounds.empty())
    {
        std::printf("    not available\n");
        return std::nullopt;
    }
    std::printf("%7.2f   ", largest(a.rounds) / largest(b.rounds));
    std::vector<double> perRound;
    for (std::size_t r = 0; r < a.rounds.size() && r < b.rounds.size(); ++r)
    {
        perRound.push_back(a.rounds[r] / b.rounds[r]);
        std::printf(" %8.2f", perRound.back());
    }
    const double median = percentile(perRound, 0.5);
    std::printf("   median %.2f\n", median);
    return median;
}

void runBenchmark(const Options& o)
{
    progress("generating the test signal");
    const Signal signal = makeSignal(o.seconds, o.seed);
    const double blockSeconds = static_cast<double>(o.blockSize) / rate;
    const std::string uri = o.lsp ? lspUri() : std::string();

    Row literal {"literal engine", {}, {}};
    Row engine {"engine alone (OptoRealtimeDSP)", {}, {}};
    Row processBlock {"processBlock (QuillonAudioProcessor)", {}, {}};
    Row bundle {"bundle through the VST3 host", {}, o.host ? "" : "skipped"};
    Row lsp {"LSP Compressor Stereo (lv2bench*)", {}, o.lsp ? "" : "skipped"};
    std::vector<BlockTimes> sweeps;
    std::vector<BlockTimes> emphasisSweeps;

    for (int r = 1; r <= o.rounds; ++r)
    {
        const std::string round = "round " + std::to_string(r) + "/" + std::to_string(o.rounds) + ": ";
        progress(round + "literal engine, engine alone and processBlock, taking turns");
        const InProcessFactors factors = inProcessRealtimeFactors(signal, o.blockSize);
        literal.rounds.push_back(factors.literal);
        engine.rounds.push_back(factors.engine);
        processBlock.rounds.push_back(factors.processBlock);
        if (o.host)
        {
            progress(round + "bundle through the VST3 host");
            const Measurement m = hostRealtimeFactor(o.seconds, o.blockSize, o.seed);
            if (m.value)
                bundle.rounds.push_back(*m.value);
            else
                bundle.unavailable = m.unavailable;
        }
        if (o.lsp)
        {
            progress(round + "LSP Compressor Stereo");
            const Measurement m = lspRealtimeFactor(o.seconds, o.blockSize, uri);
            if (m.value)
                lsp.rounds.push_back(*m.value);
            else
                lsp.unavailable = m.unavailable;
        }
        if (o.sweep)
        {
            progress(round + "Peak Reduction sweep");
            sweeps.push_back(peakReductionSweep(signal, o.blockSize, 0.0f));
            progress(round + "Peak Reduction sweep with Emphasis 50");
            emphasisSweeps.push_back(peakReductionSweep(signal, o.blockSize, 50.0f));
        }
    }
    progressDone();

    std::printf("quillon-bench: %.1f s of music-like stereo audio at 48 kHz, %d-sample blocks, %d round(s)\n\n",
                signal.seconds(), o.blockSize, o.rounds);
    std::printf("Realtime factor (seconds of audio per CPU second; best, then each round)\n");
    for (const Row* row : {&literal, &engine, &processBlock, &bundle, &lsp})
        printRow(*row);
    std::printf("  (* lv2bench times by the wall clock, which other processes on the machine slow down)\n");

    std::printf("\nRatios (best against best, then each round's own)\n");
    const std::optional<double> overLiteral = printRatio("processBlock / literal engine", processBlock, literal);
    printRatio("engine alone / literal engine", engine, literal);
    printRatio("processBlock / LSP Compressor Stereo", processBlock, lsp);
    printRatio("bundle through the host / processBlock", bundle, processBlock);
    if (overLiteral)
        std::printf("  processBlock at %.2f times the literal engine (median of the rounds; target >= %.0f: %s)\n",
                    *overLiteral, targetProcessBlockOverLiteral,
                    *overLiteral >= targetProcessBlockOverLiteral ? "met" : "NOT met");

    if (o.sweep)
    {
        // Every round runs the same blocks with the same parameter moves, so a block's fastest
        // run is its own work with the machine's interruptions filtered out.
        auto report = [&](const char* title, const std::vector<BlockTimes>& runs, bool withTarget) {
            std::printf("\n%s\n", title);
            double worstCpu = 0.0;
            double worstWall = 0.0;
            for (std::size_t r = 0; r < runs.size(); ++r)
            {
                worstCpu = std::max(worstCpu, largest(runs[r].cpu));
                worstWall = std::max(worstWall, largest(runs[r].wall));
                std::printf("  round %zu: worst %6.3f%% CPU, %7.3f%% wall; 99th percentile %6.3f%% CPU; median %6.3f%% CPU\n",
                            r + 1, 100.0 * largest(runs[r].cpu) / blockSeconds, 100.0 * largest(runs[r].wall) / blockSeconds,
                            100.0 * percentile(runs[r].cpu, 0.99) / blockSeconds,
                            100.0 * percentile(runs[r].cpu, 0.5) / blockSeconds);
            }
            std::vector<double> fastest = runs.front().cpu;
            for (const BlockTimes& run : runs)
                for (std::size_t b = 0; b < fastest.size() && b < run.cpu.size(); ++b)
                    fastest[b] = std::min(fastest[b], run.cpu[b]);
            const double filtered = largest(fastest);
            std::printf("  worst block, each block timed by its fastest of %zu identical rounds: %.3f%% of the block's "
                        "%.3f ms",
                        runs.size(), 100.0 * filtered / blockSeconds, 1000.0 * blockSeconds);
            if (withTarget)
                std::printf("  (target < %.0f%%: %s)", 100.0 * targetWorstBlockShare,
                            filtered / blockSeconds < targetWorstBlockShare ? "met" : "NOT met");
            std::printf("\n  worst single measurement of %zu blocks x %zu rounds: %.3f%% CPU time, %.3f%% wall clock\n",
                        fastest.size(), runs.size(), 100.0 * worstCpu / blockSeconds, 100.0 * worstWall / blockSeconds);
        };
        report("Worst block while Peak Reduction changes every block (share of the block's duration)", sweeps, true);
        report("The same with Emphasis at 50 (two table builds per change)", emphasisSweeps, false);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = parseOptions(argc, argv);
    const juce::ScopedJuceInitialiser_GUI juce;
    if (options.soakSeconds)
        runSoak(*options.soakSeconds, options.blockSize, options.seed);
    else
        runBenchmark(options);
    return 0;
}
