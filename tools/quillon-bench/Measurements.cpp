#include "Measurements.h"

#include "CpuClock.h"

#include "dsp/OptoRealtimeDSP.h"
#include "tests/literal/LiteralEngine.h"

#include <cstdio>
#include <memory>

namespace quillonbench
{
namespace
{
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

} // namespace

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

Measurement hostRealtimeFactor(double seconds, int blockSize, std::uint64_t seed)
{
    const std::string tool = directoryOfThisProgram() + "/quillon-bench-host";
    if (access(tool.c_str(), X_OK) != 0)
        return {std::nullopt, "not available (" + tool + " is missing)"};
    const auto out = runCommand("'" + tool + "' --seconds " + std::to_string(seconds) + " --block "
                                + std::to_string(blockSize) + " --seed " + std::to_string(seed));
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

Measurement lspRealtimeFactor(double seconds, int blockSize, const std::string& uri)
{
    if (uri.empty())
        return {std::nullopt, "not available (lv2ls finds no compressor_stereo: install lsp-plugins-lv2 lilv-utils)"};
    const long frames = static_cast<long>(seconds * rate);
    const auto out = runCommand("lv2bench -b " + std::to_string(blockSize) + " -n " + std::to_string(frames) + " '"
                                + uri + "'");
    // lv2bench prints the seconds it took, by the wall clock.
    double taken = 0.0;
    if (!out || std::sscanf(out->c_str(), "%lf", &taken) != 1 || !(taken > 0.0))
        return {std::nullopt, "not available (lv2bench failed)"};
    return {static_cast<double>(frames) / rate / taken, {}};
}

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

} // namespace quillonbench
