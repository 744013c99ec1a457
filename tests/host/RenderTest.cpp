// The renderer's audio path through the built bundle: output lined up with the input, the
// tail, settings and settings files reaching the plug-in, and the summary's numbers.
#include "RenderTestSupport.h"

#include "PluginState.h"
#include "Render.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
using namespace render_test;
namespace host = quillon::host;

struct AlignmentCase
{
    const char* setting;
    int channels;
    int blockSize;
};

class RenderAlignment : public testing::TestWithParam<AlignmentCase>
{
};

// With the wet path switched out the plug-in returns its input 159 samples late; the
// renderer must hand it back on time, across block edges, up to the last input sample.
TEST_P(RenderAlignment, SwitchedOutOutputIsTheInputSampleForSample)
{
    const auto c = GetParam();
    auto plugin = preparedPlugin(c.channels, c.blockSize);
    ASSERT_NE(plugin, nullptr);
    juce::String error;
    ASSERT_TRUE(host::applySetting(*plugin, c.setting, error)) << error;
    ASSERT_EQ(plugin->getLatencySamples(), 159);

    const auto input = gridNoise(c.channels, 5000, 24);
    const auto output = host::renderBuffer(*plugin, input, c.blockSize);
    EXPECT_EQ(firstDifference(input, output), -1);
}

INSTANTIATE_TEST_SUITE_P(Render, RenderAlignment,
                         testing::Values(AlignmentCase { "bypass=On", 2, 512 }, AlignmentCase { "bypass=On", 1, 1 },
                                         AlignmentCase { "bypass=On", 2, 159 }, AlignmentCase { "bypass=On", 2, 160 },
                                         AlignmentCase { "Master Bypass=on", 2, 8192 },
                                         AlignmentCase { "power=Off", 1, 64 }),
                         [](const auto& info) {
                             return rowName(info, juce::String(info.param.setting) + " " + juce::String(info.param.channels)
                                                      + "ch block " + juce::String(info.param.blockSize));
                         });

TEST(Render, ModelledOutputDoesNotDependOnTheBlockSize)
{
    const auto input = host::makeTone({ { "", 0.4, -30.0 }, { "", 0.4, -3.0 }, { "", 0.4, -30.0 } }, 48000.0, 2);
    juce::AudioBuffer<float> reference;
    for (int blockSize : { 512, 1, 97, 4096 })
    {
        auto plugin = preparedPlugin(2, blockSize);
        ASSERT_NE(plugin, nullptr);
        const auto output = host::renderBuffer(*plugin, input, blockSize);
        ASSERT_EQ(output.getNumSamples(), input.getNumSamples());
        if (reference.getNumSamples() == 0)
            reference = output;
        else
            EXPECT_EQ(firstDifference(reference, output), -1) << "block size " << blockSize;
    }
}

// Quiet broadband noise passes the modelled path at a steady gain; its cross-correlation with
// the input peaks where the two line up, which must be at lag 0.
TEST(Render, ModelledOutputLinesUpWithTheInput)
{
    auto plugin = preparedPlugin(1);
    ASSERT_NE(plugin, nullptr);
    const auto input = gridNoise(1, 48000, 24, 0.01f);
    const auto output = host::renderBuffer(*plugin, input, 512);

    int bestLag = 99;
    double best = 0.0;
    for (int lag = -8; lag <= 8; ++lag)
    {
        double sum = 0.0;
        for (int i = 24000; i < 47000; ++i)
            sum += static_cast<double>(input.getSample(0, i)) * output.getSample(0, i + lag);
        if (sum > best)
            best = sum, bestLag = lag;
    }
    EXPECT_EQ(bestLag, 0);
}

// The tail is what the plug-in plays after the input, exactly as if the input went on silent.
TEST(Render, TailIsThePluginsOutputAfterTheInput)
{
    const auto tone = host::makeTone({ { "", 0.2, -3.0 } }, 48000.0, 2);
    juce::AudioBuffer<float> padded(2, tone.getNumSamples() + 3000);
    padded.clear();
    for (int ch = 0; ch < 2; ++ch)
        padded.copyFrom(ch, 0, tone, ch, 0, tone.getNumSamples());

    auto first = preparedPlugin(2);
    auto second = preparedPlugin(2);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    const auto withTail = host::renderBuffer(*first, tone, 512, 3000);
    const auto longer = host::renderBuffer(*second, padded, 512);
    EXPECT_EQ(withTail.getNumSamples(), tone.getNumSamples() + 3000);
    EXPECT_EQ(firstDifference(withTail, longer), -1);
}

struct SettingCase
{
    const char* setting;
    int parameterIndex; // in the host's order: peakReduction, gain, compLimit, emphasis, meter, mix, power, bypass
    const char* expectedText;
};

class RenderSetting : public testing::TestWithParam<SettingCase>
{
};

TEST_P(RenderSetting, ReachesTheParameterByIdentifierIdOrName)
{
    const auto c = GetParam();
    auto plugin = preparedPlugin(2);
    ASSERT_NE(plugin, nullptr);
    juce::String error;
    ASSERT_TRUE(host::applySetting(*plugin, c.setting, error)) << error;
    EXPECT_EQ(plugin->getParameters()[c.parameterIndex]->getCurrentValueAsText(), c.expectedText);
}

INSTANTIATE_TEST_SUITE_P(
    Render, RenderSetting,
    testing::Values(SettingCase { "peakReduction=40", 0, "40.0" }, SettingCase { "Peak Reduct=40", 0, "40.0" },
                    SettingCase { " PEAK REDUCT = 40 ", 0, "40.0" }, SettingCase { "1489300564=40", 0, "40.0" },
                    SettingCase { "gain=33.33", 1, "33.3" }, SettingCase { "compLimit=Limit", 2, "Limit" },
                    SettingCase { "Comp/Limit=limit", 2, "Limit" }, SettingCase { "compLimit=1", 2, "Limit" },
                    SettingCase { "emphasis=12.6", 3, "13" }, SettingCase { "meter=+4 dB", 4, "+4 dB" },
                    SettingCase { "meter=0", 4, "+10 dB" }, SettingCase { "mix=0", 5, "0" },
                    SettingCase { "power=Off", 6, "Off" }, SettingCase { "bypass=On", 7, "On" }),
    [](const auto& info) { return rowName(info, info.param.setting); });

struct BadSettingCase
{
    const char* setting;
    const char* errorPart;
};

class RenderBadSetting : public testing::TestWithParam<BadSettingCase>
{
};

TEST_P(RenderBadSetting, IsRefusedAndChangesNothing)
{
    const auto c = GetParam();
    auto plugin = preparedPlugin(2);
    ASSERT_NE(plugin, nullptr);
    const auto before = host::describeSettings(*plugin);
    juce::String error;
    EXPECT_FALSE(host::applySetting(*plugin, c.setting, error));
    EXPECT_TRUE(error.contains(c.errorPart)) << error;
    EXPECT_EQ(host::describeSettings(*plugin), before);
}

INSTANTIATE_TEST_SUITE_P(Render, RenderBadSetting,
                         testing::Values(BadSettingCase { "loudness=3", "no parameter \"loudness\"" },
                                         BadSettingCase { "gain=abc", "takes a number from 0.0 to 100.0" },
                                         BadSettingCase { "gain=150", "takes a number from 0.0 to 100.0" },
                                         BadSettingCase { "gain=-1", "takes a number from 0.0 to 100.0" },
                                         BadSettingCase { "gain=", "takes a number" },
                                         BadSettingCase { "compLimit=Medium", "Comp, Limit" },
                                         BadSettingCase { "compLimit=2", "Comp, Limit" },
                                         BadSettingCase { "gain", "ID=VALUE" }, BadSettingCase { "=5", "ID=VALUE" }),
                         [](const auto& info) { return rowName(info, info.param.setting); });

// The make-up gain's known points: Gain 22 is -4.6167 dB, Gain 50 is +8.8842 dB and the default
// 30 is -0.0021 dB, each against the curve's reference node. A quiet tone is not reduced, so
// the output moves by the difference.
TEST(Render, GainSettingMovesTheOutputByTheMakeUpCurve)
{
    const auto tone = host::makeTone({ { "", 0.5, -60.0 } }, 48000.0, 1);
    auto outputDb = [&](const char* setting) {
        auto plugin = preparedPlugin(1);
        juce::String error;
        EXPECT_TRUE(host::applySetting(*plugin, setting, error)) << error;
        const auto output = host::renderBuffer(*plugin, tone, 512);
        return rmsDb(output, 12000, 24000);
    };
    const double atDefault = outputDb("gain=30");
    EXPECT_NEAR(outputDb("gain=50") - atDefault, 8.8842 + 0.0021, 0.005);
    EXPECT_NEAR(outputDb("Gain=22") - atDefault, -4.6167 + 0.0021, 0.005);
}

class RenderState : public testing::TestWithParam<const char*>
{
};

// A file saved from one instance restores every parameter in another, and the restored
// instance sounds the same.
TEST_P(RenderState, FileCarriesTheSettingsToAFreshInstance)
{
    ScratchFolder folder;
    const auto file = folder / GetParam();
    auto saved = preparedPlugin(2);
    ASSERT_NE(saved, nullptr);
    juce::String error;
    for (const char* s : { "gain=41.5", "compLimit=Limit", "peakReduction=60", "mix=80", "meter=+4 dB" })
        ASSERT_TRUE(host::applySetting(*saved, s, error)) << error;
    ASSERT_TRUE(host::saveStateFile(*saved, file, error)) << error;
    EXPECT_EQ(folder.names(), juce::StringArray(GetParam()));

    auto restored = preparedPlugin(2);
    ASSERT_NE(restored, nullptr);
    ASSERT_TRUE(host::loadStateFile(*restored, file, error)) << error;
    EXPECT_EQ(host::describeSettings(*restored), host::describeSettings(*saved));

    const auto tone = host::makeTone({ { "", 0.3, -30.0 }, { "", 0.3, -3.0 } }, 48000.0, 2);
    EXPECT_EQ(firstDifference(host::renderBuffer(*saved, tone, 512), host::renderBuffer(*restored, tone, 512)), -1);
}

INSTANTIATE_TEST_SUITE_P(Render, RenderState, testing::Values("settings.state", "settings.vstpreset"),
                         [](const auto& info) { return rowName(info, info.param); });

// The plain settings file is the block the host gets, and inside it the plug-in's own state.
TEST(Render, StateFileHoldsThePluginsOwnState)
{
    ScratchFolder folder;
    auto plugin = preparedPlugin(2);
    ASSERT_NE(plugin, nullptr);
    juce::String error;
    ASSERT_TRUE(host::applySetting(*plugin, "gain=41.5", error)) << error;
    ASSERT_TRUE(host::saveStateFile(*plugin, folder / "s.state", error)) << error;

    juce::MemoryBlock fromFile, fromHost;
    ASSERT_TRUE((folder / "s.state").loadFileAsData(fromFile));
    plugin->getStateInformation(fromHost);
    EXPECT_EQ(fromFile, fromHost);

    const auto xml = juce::AudioProcessor::getXmlFromBinary(fromFile.getData(), static_cast<int>(fromFile.getSize()));
    ASSERT_NE(xml, nullptr);
    ASSERT_NE(xml->getChildByName("IComponent"), nullptr);
    juce::MemoryBlock component;
    ASSERT_TRUE(component.fromBase64Encoding(xml->getChildByName("IComponent")->getAllSubText()));
    ASSERT_GT(component.getSize(), 9u);
    EXPECT_EQ(juce::String::fromUTF8(static_cast<const char*>(component.getData()), 4), "VC2!");
    const auto text = juce::String::fromUTF8(static_cast<const char*>(component.getData()) + 8,
                                             static_cast<int>(component.getSize()) - 8);
    EXPECT_TRUE(text.contains("<PARAM id=\"gain\" value=\"41.5\"/>")) << text;
}

struct BadStateCase
{
    const char* name;
    std::function<juce::MemoryBlock(const juce::MemoryBlock& goodPreset)> bytes;
    const char* errorPart;
};

class RenderBadState : public testing::TestWithParam<BadStateCase>
{
};

TEST_P(RenderBadState, IsRefusedAndChangesNothing)
{
    const auto& c = GetParam();
    ScratchFolder folder;
    auto plugin = preparedPlugin(2);
    ASSERT_NE(plugin, nullptr);
    juce::String error;
    ASSERT_TRUE(host::saveStateFile(*plugin, folder / "good.vstpreset", error)) << error;
    juce::MemoryBlock goodPreset;
    ASSERT_TRUE((folder / "good.vstpreset").loadFileAsData(goodPreset));
    ASSERT_TRUE(host::applySetting(*plugin, "gain=41.5", error)) << error;
    const auto before = host::describeSettings(*plugin);

    const auto file = folder / c.name;
    if (c.bytes)
    {
        const auto bytes = c.bytes(goodPreset);
        ASSERT_TRUE(bytes.isEmpty() ? file.create().wasOk() : file.replaceWithData(bytes.getData(), bytes.getSize()));
    }
    EXPECT_FALSE(host::loadStateFile(*plugin, file, error));
    EXPECT_TRUE(error.contains(c.errorPart)) << error;
    EXPECT_EQ(host::describeSettings(*plugin), before);
}

juce::MemoryBlock text(const char* t)
{
    return juce::MemoryBlock(t, std::strlen(t));
}

INSTANTIATE_TEST_SUITE_P(
    Render, RenderBadState,
    testing::Values(BadStateCase { "missing.state", nullptr, "no such file" },
                    BadStateCase { "empty.state", [](const juce::MemoryBlock&) { return juce::MemoryBlock(); },
                                   "is not a settings file" },
                    BadStateCase { "junk.state", [](const juce::MemoryBlock&) { return text("not settings at all"); },
                                   "is not a settings file" },
                    BadStateCase { "preset-as-state.state", [](const juce::MemoryBlock& p) { return p; },
                                   "is not a settings file" },
                    BadStateCase { "junk.vstpreset", [](const juce::MemoryBlock&) { return text("VST3 but no more"); },
                                   "is not a VST3 preset of Quillon" },
                    // A preset whose class id names another plug-in.
                    BadStateCase { "other.vstpreset",
                                   [](const juce::MemoryBlock& p) {
                                       auto copy = p;
                                       copy[8] = copy[8] == 'F' ? 'E' : 'F';
                                       return copy;
                                   },
                                   "is not a VST3 preset of Quillon" }),
    [](const auto& info) { return rowName(info, info.param.name); });

// The demo through a bypassed plug-in: levels that can be worked out from the signal, a gain at
// rest of 0 dB, and no gain reduction anywhere, also where the level jumps.
TEST(Render, SummaryOfABypassedDemoReadsTheSignalsOwnLevels)
{
    ScratchFolder folder;
    auto job = jobFor(juce::File(), folder / "demo.wav");
    job.settings.add("bypass=On");
    host::RenderReport report;
    juce::String error;
    ASSERT_TRUE(host::runRenderJob(job, report, error)) << error;

    const double quiet = std::pow(10.0, -30.0 / 20.0), loud = std::pow(10.0, -6.0 / 20.0);
    const double meanSquare = (2.5 * quiet * quiet / 2.0 + 1.5 * loud * loud / 2.0) / 4.0;
    EXPECT_EQ(report.inputSamples, 4 * 48000);
    EXPECT_EQ(report.outputSamples, 4 * 48000);
    EXPECT_NEAR(host::toDb(report.inputPeak), -6.0, 1e-4);
    EXPECT_NEAR(host::toDb(report.inputRms), 10.0 * std::log10(meanSquare), 1e-3);
    EXPECT_EQ(report.outputPeak, report.inputPeak);
    EXPECT_EQ(report.outputRms, report.inputRms);
    EXPECT_NEAR(report.restGainDb, 0.0, 1e-6);
    EXPECT_NEAR(report.maxReductionDb, 0.0, 1e-6);
    EXPECT_NEAR(report.meanReductionDb, 0.0, 1e-6);
    EXPECT_EQ(report.windowReductionDb.size(), 400u);
}

// At the defaults: the gain at rest is the static curve's floor (5.6169951 dB at Peak Reduction
// 25) plus the make-up gain (-0.0021 dB); the loud part is reduced and the summary's levels are
// those of the file written.
TEST(Render, SummaryOfTheDemoMatchesTheFileWritten)
{
    ScratchFolder folder;
    auto job = jobFor(juce::File(), folder / "demo.flac");
    host::RenderReport report;
    juce::String error;
    ASSERT_TRUE(host::runRenderJob(job, report, error)) << error;

    const auto written = readAudio(folder / "demo.flac");
    ASSERT_EQ(written.audio.getNumSamples(), 4 * 48000);
    EXPECT_EQ(written.bits, 24);
    EXPECT_NEAR(host::toDb(report.outputPeak), host::toDb(written.audio.getMagnitude(0, written.audio.getNumSamples())),
                0.001);
    EXPECT_NEAR(host::toDb(report.outputRms), rmsDb(written.audio, 0, written.audio.getNumSamples()), 0.001);

    EXPECT_NEAR(report.restGainDb, 5.6169951122391595 - 0.0021, 0.005);
    const auto& r = report.windowReductionDb;
    EXPECT_NEAR(r[90], 0.0, 0.05);  // quiet, before the burst
    EXPECT_GT(r[240], 2.0);         // late in the loud part
    EXPECT_GT(report.maxReductionDb, 2.0);
    EXPECT_GT(report.meanReductionDb, 0.5);
}

} // namespace
