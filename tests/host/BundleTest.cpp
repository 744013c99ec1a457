// The built bundle as a host sees it: factory, classes, buses, parameters, latency, audio.
#include "FactoryInfo.h"
#include "PluginHost.h"

#include <gtest/gtest.h>

#include <array>

namespace
{
const juce::String bundle = juce::File(QUILLON_BUILT_BUNDLE).getFullPathName();

std::array<std::uint8_t, 16> classId(std::array<std::uint8_t, 4> type)
{
    return { 0xAB, 0xCD, 0xEF, 0x01, type[0], type[1], type[2], type[3], 'O', 'r', 'v', 'n', 'Q', 'w', 'l', 'n' };
}

// Hosts store automation under this id: h = 31h + c over the identifier, top bit cleared.
std::uint32_t vst3ParameterId(const std::string& identifier)
{
    std::uint32_t h = 0;
    for (unsigned char c : identifier)
        h = h * 31u + c;
    return h & 0x7fffffffu;
}

std::unique_ptr<juce::AudioPluginInstance> load(double rate, int channels, int block)
{
    juce::String error;
    auto plugin = quillon::host::loadVst3(bundle, rate, block, error);
    EXPECT_NE(plugin, nullptr) << error;
    if (plugin != nullptr)
        EXPECT_TRUE(quillon::host::preparePlugin(*plugin, rate, block, channels, error)) << error;
    return plugin;
}
} // namespace

TEST(Bundle, FactoryDescribesTheComponentAndTheController)
{
    quillon::host::FactoryInfo info;
    std::string error;
    ASSERT_TRUE(quillon::host::readFactoryInfo(bundle.toStdString(), info, error)) << error;
    EXPECT_EQ(info.vendor, "Orvane Sound");
    EXPECT_EQ(info.email, "");
    EXPECT_EQ(info.flags, 16);
    ASSERT_EQ(info.classes.size(), 2u);

    const char* categories[] = { "Audio Module Class", "Component Controller Class" };
    const std::array<std::uint8_t, 16> ids[] = { classId({ 0x91, 0x82, 0xFA, 0xEB }), classId({ 0x12, 0x34, 0xAB, 0xCD }) };
    for (size_t i = 0; i < 2; ++i)
    {
        const auto& c = info.classes[i];
        EXPECT_EQ(c.cid, ids[i]) << quillon::host::formatClassId(c.cid);
        EXPECT_EQ(c.category, categories[i]);
        EXPECT_EQ(c.name, "Quillon");
        EXPECT_EQ(c.vendor, "Orvane Sound");
        EXPECT_EQ(c.version, "0.1.2");
        EXPECT_EQ(c.sdkVersion, "VST 3.7.12");
        EXPECT_EQ(c.subCategories, "Fx|Dynamics");
        EXPECT_EQ(c.cardinality, 0x7fffffff);
        EXPECT_EQ(c.classFlags, 0u);
    }
}

TEST(Bundle, HostSeesBusesAndEightParametersUnderTheirStoredIds)
{
    auto plugin = load(48000.0, 2, 512);
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->getName(), "Quillon");
    EXPECT_EQ(plugin->getBus(true, 0)->getName(), "Input");
    EXPECT_EQ(plugin->getBus(false, 0)->getName(), "Output");

    const std::pair<const char*, const char*> expected[] = {
        { "peakReduction", "Peak Reduct" }, { "gain", "Gain" }, { "compLimit", "Comp/Limit" },
        { "emphasis", "Emphasis" },         { "meter", "Meter" }, { "mix", "Mix" },
        { "power", "Power" },               { "bypass", "Master Bypass" } };
    const auto& params = plugin->getParameters();
    ASSERT_EQ(params.size(), 8);
    for (int i = 0; i < 8; ++i)
    {
        auto* hosted = dynamic_cast<juce::HostedAudioProcessorParameter*>(params[i]);
        ASSERT_NE(hosted, nullptr);
        EXPECT_EQ(hosted->getParameterID(), juce::String(vst3ParameterId(expected[i].first)));
        EXPECT_EQ(hosted->getName(64), expected[i].second);
    }
    EXPECT_EQ(plugin->getBypassParameter(), params[7]);
}

TEST(Bundle, ReportsLatencyInTheModelDomainOnly)
{
    EXPECT_EQ(load(48000.0, 2, 512)->getLatencySamples(), 159);
    EXPECT_EQ(load(48000.0, 1, 512)->getLatencySamples(), 159);
    EXPECT_EQ(load(44100.0, 2, 512)->getLatencySamples(), 0);
}

TEST(Bundle, BypassedImpulseReturnsExactlyOneLatencyLater)
{
    auto plugin = load(48000.0, 2, 256);
    ASSERT_NE(plugin, nullptr);
    juce::String error;
    auto* bypass = quillon::host::findParameter(*plugin, "bypass");
    ASSERT_NE(bypass, nullptr);
    ASSERT_TRUE(quillon::host::setParameterFromText(*bypass, "On", error)) << error;

    juce::AudioBuffer<float> buffer(2, 256);
    juce::MidiBuffer midi;
    std::vector<float> out;
    for (int block = 0; block < 2; ++block)
    {
        buffer.clear();
        if (block == 0)
            buffer.setSample(0, 0, 1.0f), buffer.setSample(1, 0, -0.5f);
        plugin->processBlock(buffer, midi);
        for (int i = 0; i < 256; ++i)
            out.push_back(buffer.getSample(1, i));
    }
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], i == 159 ? -0.5f : 0.0f) << i;
}
