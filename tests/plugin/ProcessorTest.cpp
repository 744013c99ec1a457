#include "plugin/PluginProcessor.h"

#include <gtest/gtest.h>

#include <xmmintrin.h>

#include <cmath>
#include <limits>

namespace
{
float rawValue(QuillonAudioProcessor& p, const char* id) { return p.parameters.getRawParameterValue(id)->load(); }

void setPlain(QuillonAudioProcessor& p, const char* id, float value)
{
    auto* parameter = p.parameters.getParameter(id);
    parameter->setValueNotifyingHost(parameter->convertTo0to1(value));
}

// Runs one block through the processor at 44.1 kHz, where the engine passes audio through.
float levelAfterPassThroughBlock(QuillonAudioProcessor& p, std::initializer_list<float> samples)
{
    juce::AudioBuffer<float> buffer(2, static_cast<int>(samples.size()));
    int i = 0;
    for (float s : samples)
    {
        buffer.setSample(0, i, s);
        buffer.setSample(1, i++, 0.0f);
    }
    juce::MidiBuffer midi;
    p.processBlock(buffer, midi);
    return p.getOutputMeterLevel();
}

struct LatencyCounter final : juce::AudioProcessorListener
{
    int latencyChanges = 0;
    void audioProcessorParameterChanged(juce::AudioProcessor*, int, float) override {}
    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails& details) override
    {
        latencyChanges += details.latencyChanged ? 1 : 0;
    }
};
} // namespace

TEST(Processor, ExposesEightParametersInOrderWithTheirDefaults)
{
    QuillonAudioProcessor p;
    const auto& params = p.getParameters();
    ASSERT_EQ(params.size(), 8);

    struct Expected
    {
        const char* id;
        const char* name;
        float defaultValue;
    };
    const Expected expected[] = { { "peakReduction", "Peak Reduct", 25.0f }, { "gain", "Gain", 30.0f },
                                  { "compLimit", "Comp/Limit", 0.0f },        { "emphasis", "Emphasis", 0.0f },
                                  { "meter", "Meter", 1.0f },                 { "mix", "Mix", 100.0f },
                                  { "power", "Power", 1.0f },                 { "bypass", "Master Bypass", 0.0f } };
    for (int i = 0; i < 8; ++i)
    {
        auto* withId = dynamic_cast<juce::AudioProcessorParameterWithID*>(params[i]);
        ASSERT_NE(withId, nullptr);
        EXPECT_EQ(withId->getParameterID(), expected[i].id);
        EXPECT_EQ(withId->getName(64), expected[i].name);
        EXPECT_EQ(rawValue(p, expected[i].id), expected[i].defaultValue) << expected[i].id;
    }
    EXPECT_EQ(p.getName(), "Quillon");
    EXPECT_FALSE(p.acceptsMidi());
    EXPECT_FALSE(p.producesMidi());
    EXPECT_EQ(p.getTailLengthSeconds(), 0.0);
}

TEST(Processor, SnapsValuesToTheirRangeAndInterval)
{
    QuillonAudioProcessor p;
    setPlain(p, "gain", 33.33f);
    setPlain(p, "emphasis", 12.6f);
    setPlain(p, "mix", 150.0f);
    setPlain(p, "peakReduction", -4.0f);
    EXPECT_FLOAT_EQ(rawValue(p, "gain"), 33.3f);
    EXPECT_EQ(rawValue(p, "emphasis"), 13.0f);
    EXPECT_EQ(rawValue(p, "mix"), 100.0f);
    EXPECT_EQ(rawValue(p, "peakReduction"), 0.0f);
}

TEST(Processor, AcceptsOnlyMatchingMonoOrStereoLayouts)
{
    using Set = juce::AudioChannelSet;
    struct Case
    {
        Set in, out;
        bool accepted;
    };
    const Case cases[] = { { Set::mono(), Set::mono(), true },         { Set::stereo(), Set::stereo(), true },
                           { Set::mono(), Set::stereo(), false },      { Set::stereo(), Set::mono(), false },
                           { Set::disabled(), Set::stereo(), false },  { Set::create5point1(), Set::create5point1(), false },
                           { Set::quadraphonic(), Set::quadraphonic(), false } };
    QuillonAudioProcessor p;
    for (const auto& c : cases)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add(c.in);
        layout.outputBuses.add(c.out);
        EXPECT_EQ(p.checkBusesLayoutSupported(layout), c.accepted) << c.in.getDescription() << " -> " << c.out.getDescription();
    }
}

TEST(Processor, HasOneEmptyProgramAndItsOwnBypass)
{
    QuillonAudioProcessor p;
    EXPECT_EQ(p.getNumPrograms(), 1);
    p.setCurrentProgram(3);
    EXPECT_EQ(p.getCurrentProgram(), 0);
    EXPECT_EQ(p.getProgramName(3), juce::String());
    EXPECT_EQ(p.getBypassParameter(), p.parameters.getParameter("bypass"));
}

TEST(Processor, ReportsLatencyOnlyInTheModelDomainAndOnlyWhenItChanges)
{
    QuillonAudioProcessor p;
    LatencyCounter counter;
    p.addListener(&counter);
    p.prepareToPlay(48000.0, 512);
    EXPECT_EQ(p.getLatencySamples(), 159);
    EXPECT_EQ(counter.latencyChanges, 1);
    p.prepareToPlay(48000.0, 512);
    EXPECT_EQ(counter.latencyChanges, 1);
    p.prepareToPlay(44100.0, 512);
    EXPECT_EQ(p.getLatencySamples(), 0);
    EXPECT_EQ(counter.latencyChanges, 2);
    p.removeListener(&counter);
}

TEST(Processor, PassesAudioThroughOutsideTheModelDomain)
{
    QuillonAudioProcessor p;
    p.prepareToPlay(44100.0, 64);
    juce::AudioBuffer<float> buffer(2, 64);
    for (int i = 0; i < 64; ++i)
    {
        buffer.setSample(0, i, 0.01f * static_cast<float>(i));
        buffer.setSample(1, i, -0.5f + 0.001f * static_cast<float>(i));
    }
    juce::AudioBuffer<float> original(buffer);
    juce::MidiBuffer midi;
    p.processBlock(buffer, midi);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ(buffer.getSample(ch, i), original.getSample(ch, i));
}

TEST(Processor, PublishesTheBlockPeakOnASixtyDecibelScale)
{
    struct Case
    {
        float peak, level;
    };
    const Case cases[] = { { 1.0f, 1.0f },       { 0.5f, 0.89965665f }, { 0.1f, 0.6666667f }, { 0.001f, 0.0f },
                           { 0.0005f, 0.0f },    { 2.0f, 1.0f },        { 0.0f, 0.0f } };
    QuillonAudioProcessor p;
    p.prepareToPlay(44100.0, 16);
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ(levelAfterPassThroughBlock(p, { 0.0f, -c.peak, c.peak * 0.5f }), c.level) << c.peak;

    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FLOAT_EQ(levelAfterPassThroughBlock(p, { nan, 0.1f, nan }), 0.6666667f);
    levelAfterPassThroughBlock(p, { 1.0f });
    EXPECT_EQ(levelAfterPassThroughBlock(p, {}), 0.0f);
}

TEST(Processor, MonoBuffersUseChannelZeroOnly)
{
    QuillonAudioProcessor p;
    juce::AudioProcessor::BusesLayout mono;
    mono.inputBuses.add(juce::AudioChannelSet::mono());
    mono.outputBuses.add(juce::AudioChannelSet::mono());
    ASSERT_TRUE(p.setBusesLayout(mono));
    p.prepareToPlay(48000.0, 256);
    EXPECT_EQ(p.getLatencySamples(), 159);
    setPlain(p, "bypass", 1.0f);

    juce::AudioBuffer<float> buffer(1, 256);
    buffer.clear();
    buffer.setSample(0, 0, 1.0f);
    juce::MidiBuffer midi;
    p.processBlock(buffer, midi);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(buffer.getSample(0, i), i == 159 ? 1.0f : 0.0f) << i;
}

TEST(Processor, ChannelLessBlocksAdvanceNothingVisibleAndPublishSilence)
{
    QuillonAudioProcessor p;
    p.prepareToPlay(48000.0, 64);
    levelAfterPassThroughBlock(p, { 0.5f });
    juce::AudioBuffer<float> empty(0, 64);
    juce::MidiBuffer midi;
    p.processBlock(empty, midi);
    EXPECT_EQ(p.getOutputMeterLevel(), 0.0f);
}

TEST(Processor, RestoresTheFloatingPointModeAfterABlock)
{
    QuillonAudioProcessor p;
    p.prepareToPlay(48000.0, 32);
    const unsigned before = _mm_getcsr();
    _mm_setcsr(before & ~0x8040u);
    juce::AudioBuffer<float> buffer(2, 32);
    buffer.clear();
    juce::MidiBuffer midi;
    p.processBlock(buffer, midi);
    EXPECT_EQ(_mm_getcsr() & 0x8040u, 0u);
    _mm_setcsr(before);
}

TEST(Processor, ResumesFromSilenceAfterRelease)
{
    QuillonAudioProcessor p;
    p.prepareToPlay(48000.0, 512);
    setPlain(p, "bypass", 1.0f);
    juce::AudioBuffer<float> buffer(2, 512);
    juce::MidiBuffer midi;
    for (int i = 0; i < 512; ++i)
        buffer.setSample(0, i, 0.9f), buffer.setSample(1, i, 0.9f);
    p.processBlock(buffer, midi);

    p.releaseResources();
    EXPECT_EQ(p.getLatencySamples(), 159);
    for (int i = 0; i < 512; ++i)
        buffer.setSample(0, i, 0.25f), buffer.setSample(1, i, 0.25f);
    p.processBlock(buffer, midi);
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ(buffer.getSample(0, i), i < 159 ? 0.0f : 0.25f) << i;
}
