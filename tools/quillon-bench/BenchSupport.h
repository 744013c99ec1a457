#pragma once

// Small pieces the bench's measurements share: the test signal in memory, blocks copied
// into the host's buffer, parameters set as a host sets them, progress and statistics.

#include "MusicSignal.h"

#include "plugin/PluginProcessor.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace quillonbench
{

constexpr double rate = MusicSignal::sampleRate;

struct Signal
{
    std::vector<float> left, right;
    int frames() const { return static_cast<int>(left.size()); }
    double seconds() const { return static_cast<double>(left.size()) / rate; }
};

inline Signal makeSignal(double seconds, std::uint64_t seed)
{
    Signal s;
    const auto n = static_cast<std::size_t>(seconds * rate);
    s.left.resize(n);
    s.right.resize(n);
    MusicSignal(seed).render(s.left.data(), s.right.data(), static_cast<int>(n));
    return s;
}

inline void copyBlock(const Signal& s, int at, juce::AudioBuffer<float>& block, int blockSize)
{
    const int n = std::min(blockSize, s.frames() - at);
    block.setSize(2, n, false, false, true);
    block.copyFrom(0, 0, s.left.data() + at, n);
    block.copyFrom(1, 0, s.right.data() + at, n);
}

// Through the parameter object, as a host's automation does.
inline void setPlain(QuillonAudioProcessor& p, const char* id, float value)
{
    auto* parameter = p.parameters.getParameter(id);
    parameter->setValueNotifyingHost(parameter->convertTo0to1(value));
}

// Progress on stderr, rewritten in place when it is a terminal.
inline void progress(const std::string& text)
{
    if (isatty(STDERR_FILENO))
        std::fprintf(stderr, "\r\033[K%s", text.c_str());
}

inline void progressDone()
{
    if (isatty(STDERR_FILENO))
        std::fprintf(stderr, "\r\033[K");
}

inline double largest(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()); }

inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

inline std::string figure(double v, int decimals = 1)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

} // namespace quillonbench
