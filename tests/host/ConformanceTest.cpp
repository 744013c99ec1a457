// What hosts do to a plug-in, through JUCE's VST3 hosting: scanning, many instances, every
// layout, activation in odd orders, rates and block sizes, host bypass, repeated state
// round trips and automation from another thread while audio runs.
#include "PluginHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>

namespace
{
const juce::String bundle = juce::File(QUILLON_BUILT_BUNDLE).getFullPathName();

std::unique_ptr<juce::AudioPluginInstance> load(double rate = 48000.0, int block = 512)
{
    juce::String error;
    auto plugin = quillon::host::loadVst3(bundle, rate, block, error);
    EXPECT_NE(plugin, nullptr) << error;
    return plugin;
}

void prepare(juce::AudioPluginInstance& plugin, double rate, int block, int channels = 2)
{
    juce::String error;
    ASSERT_TRUE(quillon::host::preparePlugin(plugin, rate, block, channels, error)) << error;
}

void setValue(juce::AudioPluginInstance& plugin, const char* id, const char* text)
{
    juce::String error;
    auto* parameter = quillon::host::findParameter(plugin, id);
    ASSERT_NE(parameter, nullptr) << id;
    ASSERT_TRUE(quillon::host::setParameterFromText(*parameter, text, error)) << error;
}

// Music-like test material: two tones, a little noise and a loud passage.
std::vector<float> material(int length, unsigned seed = 1)
{
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    std::vector<float> x(static_cast<size_t>(length));
    for (int n = 0; n < length; ++n)
    {
        const float loud = (n / 24000) % 2 == 1 ? 0.6f : 0.1f;
        x[static_cast<size_t>(n)] = loud * std::sin(0.057f * static_cast<float>(n))
                                    + 0.05f * std::sin(0.31f * static_cast<float>(n)) + noise(random);
    }
    return x;
}

// Runs `input` (both channels) through the plug-in in blocks of the given sizes, cycled.
std::vector<float> render(juce::AudioPluginInstance& plugin, const std::vector<float>& input,
                          const std::vector<int>& blockSizes)
{
    std::vector<float> out;
    juce::AudioBuffer<float> buffer(2, 4096);
    juce::MidiBuffer midi;
    size_t start = 0;
    for (size_t b = 0; start < input.size(); ++b)
    {
        const int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(blockSizes[b % blockSizes.size()]),
                                                        input.size() - start));
        buffer.setSize(2, n, false, false, true);
        for (int i = 0; i < n; ++i)
        {
            buffer.setSample(0, i, input[start + static_cast<size_t>(i)]);
            buffer.setSample(1, i, -input[start + static_cast<size_t>(i)]);
        }
        plugin.processBlock(buffer, midi);
        for (int i = 0; i < n; ++i)
            out.push_back(buffer.getSample(0, i));
        start += static_cast<size_t>(n);
    }
    return out;
}
} // namespace

TEST(Conformance, ScanningFindsOneEffectWithItsIdentity)
{
    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> found;
    format.findAllTypesForFile(found, bundle);
    ASSERT_EQ(found.size(), 1);
    const auto& d = *found[0];
    EXPECT_EQ(d.name, "Quillon");
    EXPECT_EQ(d.manufacturerName, "Orvane Sound");
    EXPECT_EQ(d.version, "0.1.2");
    EXPECT_EQ(d.pluginFormatName, "VST3");
    EXPECT_TRUE(d.category.contains("Dynamics")) << d.category;
    EXPECT_FALSE(d.isInstrument);
}

TEST(Conformance, ManyInstancesLiveAndProcessSideBySide)
{
    std::vector<std::unique_ptr<juce::AudioPluginInstance>> instances;
    for (int i = 0; i < 16; ++i)
    {
        instances.push_back(load());
        ASSERT_NE(instances.back(), nullptr);
        prepare(*instances.back(), 48000.0, 256, i % 2 + 1);
    }
    const auto input = material(2048);
    for (auto& instance : instances)
        for (float y : render(*instance, input, { 256 }))
            ASSERT_TRUE(std::isfinite(y));
    instances.clear();
}

TEST(Conformance, AcceptsOnlyMatchingMonoAndStereoLayouts)
{
    auto plugin = load();
    ASSERT_NE(plugin, nullptr);
    using Set = juce::AudioChannelSet;
    const std::tuple<Set, Set, bool> cases[] = { { Set::mono(), Set::mono(), true },
                                                 { Set::stereo(), Set::stereo(), true },
                                                 { Set::mono(), Set::stereo(), false },
                                                 { Set::stereo(), Set::mono(), false },
                                                 { Set::create5point1(), Set::create5point1(), false } };
    for (const auto& [in, out, accepted] : cases)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add(in);
        layout.outputBuses.add(out);
        EXPECT_EQ(plugin->checkBusesLayoutSupported(layout), accepted)
            << in.getDescription() << " -> " << out.getDescription();
    }
}

TEST(Conformance, SurvivesActivationInAnyOrder)
{
    auto plugin = load();
    ASSERT_NE(plugin, nullptr);
    plugin->releaseResources(); // before any activation
    prepare(*plugin, 48000.0, 512);
    prepare(*plugin, 48000.0, 512);
    EXPECT_EQ(plugin->getLatencySamples(), 159);
    plugin->releaseResources();
    plugin->releaseResources();
    prepare(*plugin, 44100.0, 128);
    EXPECT_EQ(plugin->getLatencySamples(), 0);
    prepare(*plugin, 96000.0, 64, 1);
    EXPECT_EQ(plugin->getLatencySamples(), 0);
    prepare(*plugin, 48000.0, 32, 1);
    EXPECT_EQ(plugin->getLatencySamples(), 159);
    for (float y : render(*plugin, material(4096), { 32 }))
        ASSERT_TRUE(std::isfinite(y));
}

TEST(Conformance, EveryRateAndBlockSizeGivesTheSameAudio)
{
    const auto input = material(20000);
    for (double rate : { 44100.0, 48000.0, 88200.0, 96000.0 })
    {
        auto reference = load(rate);
        ASSERT_NE(reference, nullptr);
        prepare(*reference, rate, 4096);
        const auto expected = render(*reference, input, { 4096 });
        if (rate != 48000.0)
            EXPECT_EQ(expected, input) << "outside the model the audio passes through untouched at " << rate;

        for (const std::vector<int>& sizes : { std::vector<int> { 1 }, { 3 }, { 17 }, { 512 }, { 0, 64, 0, 1, 4096, 37 } })
        {
            auto plugin = load(rate);
            ASSERT_NE(plugin, nullptr);
            prepare(*plugin, rate, 4096);
            // Blocks of 0 samples in between must change nothing.
            const auto out = render(*plugin, input, sizes);
            ASSERT_EQ(out.size(), expected.size());
            for (size_t i = 0; i < out.size(); ++i)
                ASSERT_EQ(out[i], expected[i]) << "rate " << rate << " block " << sizes.front() << " sample " << i;
        }
    }
}

TEST(Conformance, HostBypassKeepsTheLatencyAndDelaysTheInputExactly)
{
    auto plugin = load();
    ASSERT_NE(plugin, nullptr);
    prepare(*plugin, 48000.0, 512);
    auto* bypass = plugin->getBypassParameter();
    ASSERT_NE(bypass, nullptr);
    bypass->setValueNotifyingHost(1.0f);
    EXPECT_EQ(plugin->getLatencySamples(), 159);
    const auto input = material(6000);
    const auto out = render(*plugin, input, { 512 });
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], i < 159 ? 0.0f : input[i - 159]) << i;
}

TEST(Conformance, RestoredStateSavesTheSameBytesEveryTime)
{
    auto first = load();
    ASSERT_NE(first, nullptr);
    setValue(*first, "gain", "41.5");
    setValue(*first, "compLimit", "Limit");
    setValue(*first, "meter", "+4 dB");
    juce::MemoryBlock saved;
    first->getStateInformation(saved);

    for (int round = 0; round < 50; ++round)
    {
        auto next = load();
        ASSERT_NE(next, nullptr);
        next->setStateInformation(saved.getData(), static_cast<int>(saved.getSize()));
        juce::MemoryBlock again;
        next->getStateInformation(again);
        ASSERT_EQ(again, saved) << "round " << round;
        EXPECT_EQ(quillon::host::findParameter(*next, "gain")->getCurrentValueAsText(), "41.5");
    }
}

TEST(Conformance, AutomationFromAnotherThreadWhileAudioRuns)
{
    auto plugin = load();
    ASSERT_NE(plugin, nullptr);
    prepare(*plugin, 48000.0, 256);
    std::atomic<bool> running { true };
    std::thread automation([&] {
        std::mt19937 random(7);
        std::uniform_real_distribution<float> value(0.0f, 1.0f);
        while (running.load())
            for (auto* p : plugin->getParameters())
                if (p != plugin->getBypassParameter())
                    p->setValueNotifyingHost(value(random));
    });
    const auto input = material(48000 * 3);
    const auto out = render(*plugin, input, { 256 });
    running = false;
    automation.join();
    for (float y : out)
        ASSERT_TRUE(std::isfinite(y));
}
