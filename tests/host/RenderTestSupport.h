// Helpers for the renderer's tests: a scratch folder, test signals, and audio files written
// and read with JUCE's formats directly (not through the code under test).
#pragma once

#include "PluginHost.h"
#include "RenderJob.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace render_test
{
inline const juce::String bundle = juce::File(QUILLON_BUILT_BUNDLE).getFullPathName();

// A folder of its own for each test, removed afterwards.
class ScratchFolder
{
public:
    ScratchFolder()
        : folder(juce::File::getSpecialLocation(juce::File::tempDirectory)
                     .getNonexistentChildFile("quillon-render-test", "", false))
    {
        folder.createDirectory();
    }
    ~ScratchFolder() { folder.deleteRecursively(); }

    juce::File operator/(const juce::String& name) const { return folder.getChildFile(name); }
    const juce::File& path() const { return folder; }

    // Every entry, hidden ones included, by name.
    juce::StringArray names() const
    {
        juce::StringArray result;
        for (const auto& entry : juce::RangedDirectoryIterator(folder, false, "*", juce::File::findFilesAndDirectories))
            result.add(entry.getFile().getFileName());
        result.sort(false);
        return result;
    }

private:
    juce::File folder;
};

// Noise on the grid of a `bits`-deep integer format, so every format holds it exactly.
inline juce::AudioBuffer<float> gridNoise(int channels, int samples, int bits, float scale = 0.5f, int seed = 7)
{
    juce::Random random(seed);
    const double step = std::ldexp(1.0, -(std::min(bits, 24) - 1));
    juce::AudioBuffer<float> noise(channels, samples);
    for (int ch = 0; ch < channels; ++ch)
        for (int i = 0; i < samples; ++i)
            noise.setSample(ch, i, static_cast<float>(std::round((random.nextFloat() * 2.0f - 1.0f) * scale / step) * step));
    return noise;
}

inline juce::AudioFormatManager& formats()
{
    static juce::AudioFormatManager manager;
    if (manager.getNumKnownFormats() == 0)
        manager.registerBasicFormats();
    return manager;
}

inline void writeAudio(const juce::File& file, const juce::AudioBuffer<float>& audio, double sampleRate, int bits)
{
    auto* format = formats().findFormatForFileExtension(file.getFileExtension());
    ASSERT_NE(format, nullptr) << file.getFullPathName();
    file.deleteFile();
    auto stream = std::make_unique<juce::FileOutputStream>(file);
    std::unique_ptr<juce::AudioFormatWriter> writer(format->createWriterFor(
        stream.get(), sampleRate, static_cast<unsigned int>(audio.getNumChannels()), bits, {}, 0));
    ASSERT_NE(writer, nullptr) << file.getFullPathName();
    stream.release();
    ASSERT_TRUE(writer->writeFromAudioSampleBuffer(audio, 0, audio.getNumSamples()));
}

struct ReadBack
{
    juce::AudioBuffer<float> audio;
    double sampleRate = 0.0;
    int bits = 0;
    bool floatingPoint = false;
};

inline ReadBack readAudio(const juce::File& file)
{
    ReadBack result;
    std::unique_ptr<juce::AudioFormatReader> reader(formats().createReaderFor(file));
    EXPECT_NE(reader, nullptr) << file.getFullPathName();
    if (reader == nullptr)
        return result;
    result.audio.setSize(static_cast<int>(reader->numChannels), static_cast<int>(reader->lengthInSamples));
    reader->read(&result.audio, 0, static_cast<int>(reader->lengthInSamples), 0, true, true);
    result.sampleRate = reader->sampleRate;
    result.bits = static_cast<int>(reader->bitsPerSample);
    result.floatingPoint = reader->usesFloatingPointData;
    return result;
}

// Index of the first sample that differs, or -1 when both hold the same samples.
inline int firstDifference(const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    if (a.getNumChannels() != b.getNumChannels() || a.getNumSamples() != b.getNumSamples())
        return 0;
    for (int i = 0; i < a.getNumSamples(); ++i)
        for (int ch = 0; ch < a.getNumChannels(); ++ch)
            if (a.getSample(ch, i) != b.getSample(ch, i))
                return i;
    return -1;
}

inline std::unique_ptr<juce::AudioPluginInstance> preparedPlugin(int channels, int blockSize = 512,
                                                                 double sampleRate = 48000.0)
{
    juce::String error;
    auto plugin = quillon::host::loadVst3(bundle, sampleRate, blockSize, error);
    EXPECT_NE(plugin, nullptr) << error;
    if (plugin != nullptr)
        EXPECT_TRUE(quillon::host::preparePlugin(*plugin, sampleRate, blockSize, channels, error)) << error;
    return plugin;
}

inline quillon::host::RenderJob jobFor(const juce::File& input, const juce::File& output)
{
    quillon::host::RenderJob job;
    job.bundle = bundle;
    job.input = input;
    job.output = output;
    return job;
}

// A test name for a table row: the row's number and its text, letters and digits only.
template <typename Info>
std::string rowName(const Info& info, const juce::String& text)
{
    juce::String name;
    for (auto c : text)
        name << (juce::CharacterFunctions::isLetterOrDigit(c) ? juce::String::charToString(c) : juce::String("_"));
    return (juce::String(info.index) + "_" + name).toStdString();
}

inline double rmsDb(const juce::AudioBuffer<float>& audio, int start, int end)
{
    double sum = 0.0;
    for (int ch = 0; ch < audio.getNumChannels(); ++ch)
        for (int i = start; i < end; ++i)
            sum += static_cast<double>(audio.getSample(ch, i)) * audio.getSample(ch, i);
    return 10.0 * std::log10(sum / (static_cast<double>(end - start) * audio.getNumChannels()));
}
} // namespace render_test
