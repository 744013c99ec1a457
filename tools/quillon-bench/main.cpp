// quillon-bench: how fast Quillon runs, measured as realtime factors (seconds of audio per
// CPU second) of the literal engine, the engine alone, the processor's processBlock, the built
// bundle through a VST3 host and a familiar compressor as the yardstick, all in one run, so
// that their ratios hold on a noisy machine. Also the worst block while Peak Reduction moves
// every block, and a long soak run over varied audio with random parameter changes.
#include "CpuClock.h"
#include "MusicSignal.h"

#include "dsp/OptoRealtimeDSP.h"
#include "plugin/PluginProcessor.h"
#include "tests/literal/LiteralEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{
using quillonbench::MusicSignal;
using quillonbench::threadCpuSeconds;
using quillonbench::wallSeconds;

constexpr double rate = MusicSignal::sampleRate;
constexpr double targetProcessBlockOverLiteral = 5.0;
constexpr double targetWorstBlockShare = 0.02;

struct Options
{
    double seconds = 10.0;
    int rounds = 3;
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
    lilv-utils; reported as not available when they are missing),
their ratios, and the worst block time while Peak Reduction changes every block (each
change rebuilds the envelope followers' tables). Each realtime factor is the best of
several rounds; within a round the literal engine, the engine and processBlock take turns
every 0.2 s of audio, so the machine's noise falls on all three alike. Every round of the
sweep runs the same blocks, and each block counts with
its fastest round, which filters out the machine's interruptions (the single worst
measurement is printed beside it).

Options:
  --seconds S       seconds of audio per measurement (default 10)
  --rounds N        rounds of every measurement (default 3)
  --block N         block size in samples (default 512)
  --seed N          seed of the test signal (default 1)
  --no-host         skip the bundle through the VST3 host
  --no-lsp          skip the LSP yardstick
  --no-sweep        skip the Peak Reduction sweep
  --soak [S]        instead of the above, the soak run: S seconds (default 3600) of varied
                    audio through processBlock with random parameter changes, reporting
                    non-finite output, model-path fallbacks and the peak block time
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
        fail(option + " takes a number from " + std::to_string(low) + " to " + std::to_string(high) + ", not \""
             + text + "\"");
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

// Progress on stderr, rewritten in place when it is a terminal.
void progress(const std::string& text)
{
    if (isatty(STDERR_FILENO))
        std::fprintf(stderr, "\r\033[K%s", text.c_str());
}

void progressDone()
{
    if (isatty(STDERR_FILENO))
        std::fprintf(stderr, "\r\033[K");
}

struct Signal
{
    std::vector<float> left, right;
    int frames() const { return static_cast<int>(left.size()); }
    double seconds() const { return static_cast<double>(left.size()) / rate; }
};

Signal makeSignal(double seconds, std::uint64_t seed)
{
    Signal s;
    const auto n = static_cast<std::size_t>(seconds * rate);
    s.left.resize(n);
    s.right.resize(n);
    MusicSignal(seed).render(s.left.data(), s.right.data(), static_cast<int>(n));
    return s;
}

// Drives an engine as the processor does: controls once per block, then one frame at a time
// in double precision, narrowed back to float.
template <typename Engine>
struct EngineRun
{
    std::unique_ptr<Engine> engine = std::make_unique<Engine>();
    std::vector<float> outL, outR;

    explicit EngineRun(const Signal& s) : outL(s.left.size()), outR(s.right.size()) { engine->prepare(rate, 2); }

    void blocks(const Signal& s, int from, int to, int blockSize)
    {
        const quillon::RealtimeControls controls;
        for (int at = from; at < to; at += blockSize)
        {
            engine->setControls(controls);
            const int end = std::min(to, at + blockSize);
            for (int i = at; i < end; ++i)
            {
                const auto k = static_cast<std::size_t>(i);
                const double in[2] = {s.left[k], s.right[k]};
                double out[2] = {0.0, 0.0};
                engine->processSample(in, out, 2);
                outL[k] = static_cast<float>(out[0]);
                outR[k] = static_cast<float>(out[1]);
            }
        }
    }
};

void copyBlock(const Signal& s, int at, juce::AudioBuffer<float>& block, int blockSize)
{
    const int n = std::min(blockSize, s.frames() - at);
    block.setSize(2, n, false, false, true);
    block.copyFrom(0, 0, s.left.data() + at, n);
    block.copyFrom(1, 0, s.right.data() + at, n);
}

struct ProcessorRun
{
    std::unique_ptr<QuillonAudioProcessor> processor = std::make_unique<QuillonAudioProcessor>();
    juce::AudioBuffer<float> block;
    juce::MidiBuffer midi;

    explicit ProcessorRun(int blockSize) : block(2, blockSize) { processor->prepareToPlay(rate, blockSize); }

    // The copy into the host's buffer is left out of the time, as it is the host's work.
    double blocks(const Signal& s, int from, int to, int blockSize)
    {
        double cpu = 0.0;
        for (int at = from; at < to; at += blockSize)
        {
            copyBlock(s, at, block, blockSize);
            const double start = threadCpuSeconds();
            processor->processBlock(block, midi);
            cpu += threadCpuSeconds() - start;
        }
        return cpu;
    }
};

struct InProcessFactors
{
    double literal = 0.0;
    double engine = 0.0;
    double processBlock = 0.0;
};

// The three in-process measurements take turns every stretch of about 0.2 s of audio, so
// that the machine's slower and faster moments fall on all three alike and their ratios hold.
InProcessFactors inProcessRealtimeFactors(const Signal& s, int blockSize)
{
    EngineRun<quillon::literal::LiteralEngine> literal(s);
    EngineRun<quillon::OptoRealtimeDSP> engine(s);
    ProcessorRun processor(blockSize);
    const int stretch = 20 * blockSize;
    double literalCpu = 0.0;
    double engineCpu = 0.0;
    double processBlockCpu = 0.0;
    for (int from = 0; from < s.frames(); from += stretch)
    {
        const int to = std::min(s.frames(), from + stretch);
        double start = threadCpuSeconds();
        literal.blocks(s, from, to, blockSize);
        literalCpu += threadCpuSeconds() - start;
        start = threadCpuSeconds();
        engine.blocks(s, from, to, blockSize);
        engineCpu += threadCpuSeconds() - start;
        processBlockCpu += processor.blocks(s, from, to, blockSize);
    }
    return {s.seconds() / literalCpu, s.seconds() / engineCpu, s.seconds() / processBlockCpu};
}

// Runs a command and returns its standard output, or nothing when it cannot run or fails.
std::optional<std::string> runCommand(const std::string& command)
{
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr)
        return std::nullopt;
    std::string out;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        out += buffer;
    const int status = pclose(pipe);
    if (status != 0)
        return std::nullopt;
    return out;
}

std::string directoryOfThisProgram()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    path[n] = '\0';
    std::string p(path);
    return p.substr(0, p.find_last_of('/'));
}

struct Measurement
{
    std::optional<double> value;
    std::string unavailable;
};

Measurement hostRealtimeFactor(const Options& o)
{
    const std::string tool = directoryOfThisProgram() + "/quillon-bench-host";
    if (access(tool.c_str(), X_OK) != 0)
        return {std::nullopt, "not available (" + tool + " is missing)"};
    const auto out = runCommand("'" + tool + "' --seconds " + std::to_string(o.seconds) + " --block "
                                + std::to_string(o.blockSize) + " --seed " + std::to_string(o.seed));
    double v = 0.0;
    if (!out || std::sscanf(out->c_str(), "realtime-factor %lf", &v) != 1)
        return {std::nullopt, "not available (quillon-bench-host failed; run it alone to see why)"};
    return {v, {}};
}

std::string lspUri()
{
    const auto list = runCommand("lv2ls");
    if (!list)
        return {};
    std::size_t from = 0;
    while (from < list->size())
    {
        const std::size_t to = list->find('\n', from);
        const std::string line = list->substr(from, to == std::string::npos ? std::string::npos : to - from);
        // The plain stereo compressor, not its side-chain or multi-band siblings.
        if (line.find("compressor_stereo") != std::string::npos && line.rfind("/compressor_stereo")
            == line.size() - std::string("/compressor_stereo").size())
            return line;
        if (to == std::string::npos)
            break;
        from = to + 1;
    }
    return {};
}

Measurement lspRealtimeFactor(const Options& o, const std::string& uri)
{
    if (uri.empty())
        return {std::nullopt, "not available (lv2ls finds no compressor_stereo: install lsp-plugins-lv2 lilv-utils)"};
    const long frames = static_cast<long>(o.seconds * rate);
    const auto out = runCommand("lv2bench -b " + std::to_string(o.blockSize) + " -n " + std::to_string(frames) + " '"
                                + uri + "'");
    double seconds = 0.0;
    if (!out || std::sscanf(out->c_str(), "%lf", &seconds) != 1 || !(seconds > 0.0))
        return {std::nullopt, "not available (lv2bench failed)"};
    return {static_cast<double>(frames) / rate / seconds, {}};
}

struct BlockTimes
{
    std::vector<double> cpu;
    std::vector<double> wall;
};

double worst(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()); }

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

void setPlain(QuillonAudioProcessor& p, const char* id, float value)
{
    auto* parameter = p.parameters.getParameter(id);
    parameter->setValueNotifyingHost(parameter->convertTo0to1(value));
}

// Peak Reduction moves by one step of its 0.1 interval every block, up and down, so every
// block hears a new value; the first second runs untimed at the default setting.
BlockTimes peakReductionSweep(const Signal& s, int blockSize, float emphasis)
{
    auto processor = std::make_unique<QuillonAudioProcessor>();
    setPlain(*processor, "emphasis", emphasis);
    processor->prepareToPlay(rate, blockSize);
    juce::AudioBuffer<float> block(2, blockSize);
    juce::MidiBuffer midi;
    BlockTimes times;
    const int warmUp = static_cast<int>(rate);
    int index = 0;
    for (int at = 0; at < s.frames(); at += blockSize, ++index)
    {
        copyBlock(s, at, block, blockSize);
        if (at >= warmUp)
        {
            const int step = index % 2000;
            setPlain(*processor, "peakReduction", 0.1f * static_cast<float>(step < 1000 ? step : 2000 - step));
        }
        const double cpu0 = threadCpuSeconds();
        const double wall0 = wallSeconds();
        processor->processBlock(block, midi);
        const double wall = wallSeconds() - wall0;
        const double cpu = threadCpuSeconds() - cpu0;
        if (at >= warmUp && block.getNumSamples() == blockSize)
        {
            times.cpu.push_back(cpu);
            times.wall.push_back(wall);
        }
    }
    return times;
}

double best(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()); }

std::string figure(double v, int decimals = 1)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
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
        std::printf("%s\n", row.unavailable.c_str());
        return;
    }
    std::printf("%9.1f   ", best(row.rounds));
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
        std::printf("not available\n");
        return std::nullopt;
    }
    std::printf("%7.2f   ", best(a.rounds) / best(b.rounds));
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
    Row lsp {"LSP Compressor Stereo (lv2bench)", {}, o.lsp ? "" : "skipped"};
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
            const Measurement m = hostRealtimeFactor(o);
            if (m.value)
                bundle.rounds.push_back(*m.value);
            else
                bundle.unavailable = m.unavailable;
        }
        if (o.lsp)
        {
            progress(round + "LSP Compressor Stereo");
            const Measurement m = lspRealtimeFactor(o, uri);
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
                worstCpu = std::max(worstCpu, worst(runs[r].cpu));
                worstWall = std::max(worstWall, worst(runs[r].wall));
                std::printf("  round %zu: worst %6.3f%% CPU, %7.3f%% wall; 99th percentile %6.3f%% CPU; median %6.3f%% CPU\n",
                            r + 1, 100.0 * worst(runs[r].cpu) / blockSeconds, 100.0 * worst(runs[r].wall) / blockSeconds,
                            100.0 * percentile(runs[r].cpu, 0.99) / blockSeconds,
                            100.0 * percentile(runs[r].cpu, 0.5) / blockSeconds);
            }
            std::vector<double> fastest = runs.front().cpu;
            for (const BlockTimes& run : runs)
                for (std::size_t b = 0; b < fastest.size() && b < run.cpu.size(); ++b)
                    fastest[b] = std::min(fastest[b], run.cpu[b]);
            const double filtered = worst(fastest);
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

// Random parameter changes as a host's automation would send them: mostly the knobs, now and
// then the switches, with power and bypass spending most of their time in the running state.
void randomChanges(QuillonAudioProcessor& p, std::uint64_t& rng, long& changes)
{
    auto next = [&rng] {
        rng ^= rng << 13;
        rng ^= rng >> 7;
        rng ^= rng << 17;
        return rng;
    };
    auto uniform = [&] { return static_cast<float>(next() >> 40) / 16777216.0f; };
    if (next() % 8 != 0)
        return;
    const int count = 1 + static_cast<int>(next() % 3);
    for (int k = 0; k < count; ++k)
    {
        const char* ids[] = {"peakReduction", "gain", "emphasis", "mix", "compLimit", "meter", "power", "bypass"};
        const int which = static_cast<int>(next() % 8);
        float v = uniform();
        if (which == 6)
            v = v < 0.95f ? 1.0f : 0.0f;
        if (which == 7)
            v = v < 0.95f ? 0.0f : 1.0f;
        p.parameters.getParameter(ids[which])->setValueNotifyingHost(v);
        ++changes;
    }
}

void runSoak(const Options& o)
{
    const double total = *o.soakSeconds;
    const long blocks = static_cast<long>(std::ceil(total * rate / o.blockSize));
    const double blockSeconds = static_cast<double>(o.blockSize) / rate;
    MusicSignal signal(o.seed, true);
    auto processor = std::make_unique<QuillonAudioProcessor>();
    processor->prepareToPlay(rate, o.blockSize);

    juce::AudioBuffer<float> block(2, o.blockSize);
    juce::MidiBuffer midi;
    std::uint64_t rng = 0x2545F4914F6CDD1Dull ^ o.seed;
    long changes = 0;
    long nonFinite = 0;
    long fallbackBlocks = 0;
    long firstFallback = -1;
    long firstNonFinite = -1;
    double peakCpu = 0.0;
    double peakWall = 0.0;
    long peakCpuBlock = 0;
    std::vector<double> cpuTimes;
    cpuTimes.reserve(static_cast<std::size_t>(blocks));
    const long warmUpBlocks = static_cast<long>(std::ceil(rate / o.blockSize));
    const double started = wallSeconds();

    for (long b = 0; b < blocks; ++b)
    {
        signal.render(block.getWritePointer(0), block.getWritePointer(1), o.blockSize);
        randomChanges(*processor, rng, changes);
        const double cpu0 = threadCpuSeconds();
        const double wall0 = wallSeconds();
        processor->processBlock(block, midi);
        const double wall = wallSeconds() - wall0;
        const double cpu = threadCpuSeconds() - cpu0;
        cpuTimes.push_back(cpu);
        if (cpu > peakCpu)
        {
            peakCpu = cpu;
            peakCpuBlock = b;
        }
        peakWall = std::max(peakWall, wall);

        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < o.blockSize; ++i)
                if (!std::isfinite(block.getSample(ch, i)) && nonFinite++ == 0)
                    firstNonFinite = b;
        // Until the first gain frames line up with the delayed audio, fallback is expected.
        if (b >= warmUpBlocks && processor->getEngineDiagnostics().fallback && fallbackBlocks++ == 0)
            firstFallback = b;

        if (b % 2000 == 0 || b + 1 == blocks)
        {
            const double done = static_cast<double>(b + 1) / static_cast<double>(blocks);
            const double elapsed = wallSeconds() - started;
            progress("soak: " + figure(100.0 * done, 1) + "% of " + figure(total, 0) + " s of audio, "
                     + figure(elapsed, 0) + " s elapsed, about " + figure(elapsed / done - elapsed, 0) + " s left");
        }
    }
    progressDone();

    std::printf("quillon-bench soak: %.0f s of varied stereo audio at 48 kHz through processBlock, %ld blocks of %d, "
                "%ld random parameter changes, %.0f s wall clock\n",
                static_cast<double>(blocks) * blockSeconds, blocks, o.blockSize, changes, wallSeconds() - started);
    std::printf("  non-finite output samples:     %ld", nonFinite);
    if (firstNonFinite >= 0)
        std::printf(" (first in block %ld, at %.2f s)", firstNonFinite, static_cast<double>(firstNonFinite) * blockSeconds);
    std::printf("\n  blocks ending in fallback:     %ld (after the first second)", fallbackBlocks);
    if (firstFallback >= 0)
        std::printf(" (first in block %ld, at %.2f s)", firstFallback, static_cast<double>(firstFallback) * blockSeconds);
    std::printf("\n  model path at the end:         %s\n",
                processor->getEngineDiagnostics().modelled ? "running" : "off");
    std::printf("  peak block time:               %.3f%% of the block's duration in CPU time (block %ld, at %.2f s), "
                "%.3f%% wall clock\n",
                100.0 * peakCpu / blockSeconds, peakCpuBlock, static_cast<double>(peakCpuBlock) * blockSeconds,
                100.0 * peakWall / blockSeconds);
    std::printf("  block time, CPU:               median %.3f%%, 99.99th percentile %.3f%%\n",
                100.0 * percentile(cpuTimes, 0.5) / blockSeconds, 100.0 * percentile(cpuTimes, 0.9999) / blockSeconds);
}
} // namespace

int main(int argc, char** argv)
{
    const Options options = parseOptions(argc, argv);
    const juce::ScopedJuceInitialiser_GUI juce;
    if (options.soakSeconds)
        runSoak(options);
    else
        runBenchmark(options);
    return 0;
}
