#include "plugin/PluginProcessor.h"
#include "plugin/PluginEditor.h"
#include "plugin/SavedState.h"

#include <cmath>

namespace
{
juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout()
{
    using namespace juce;
    const NormalisableRange<float> fineSteps { 0.0f, 100.0f, 0.1f };
    const NormalisableRange<float> wholeSteps { 0.0f, 100.0f, 1.0f };

    AudioProcessorValueTreeState::ParameterLayout layout;
    layout.add(std::make_unique<AudioParameterFloat>(ParameterID { "peakReduction", 0 }, "Peak Reduct", fineSteps, 25.0f));
    layout.add(std::make_unique<AudioParameterFloat>(ParameterID { "gain", 0 }, "Gain", fineSteps, 30.0f));
    layout.add(std::make_unique<AudioParameterChoice>(ParameterID { "compLimit", 0 }, "Comp/Limit",
                                                      StringArray { "Comp", "Limit" }, 0));
    layout.add(std::make_unique<AudioParameterFloat>(ParameterID { "emphasis", 0 }, "Emphasis", wholeSteps, 0.0f));
    layout.add(std::make_unique<AudioParameterChoice>(ParameterID { "meter", 0 }, "Meter",
                                                      StringArray { "+10 dB", "GR", "+4 dB" }, 1));
    layout.add(std::make_unique<AudioParameterFloat>(ParameterID { "mix", 0 }, "Mix", wholeSteps, 100.0f));
    layout.add(std::make_unique<AudioParameterBool>(ParameterID { "power", 0 }, "Power", true));
    layout.add(std::make_unique<AudioParameterBool>(ParameterID { "bypass", 0 }, "Master Bypass", false));
    return layout;
}

float blockLevel(float peak) noexcept
{
    const float level = peak > 0.0f ? std::max(20.0f * std::log10(peak), -60.0f) + 60.0f : 0.0f;
    return juce::jlimit(0.0f, 1.0f, level / 60.0f);
}
} // namespace

QuillonAudioProcessor::QuillonAudioProcessor()
    : juce::AudioProcessor(BusesProperties()
                               .withInput("Input", juce::AudioChannelSet::stereo(), true)
                               .withOutput("Output", juce::AudioChannelSet::stereo(), true)),
      parameters(*this, nullptr, "QuillonState", createParameterLayout()),
      peakReductionValue(parameters.getRawParameterValue("peakReduction")),
      gainValue(parameters.getRawParameterValue("gain")),
      compLimitValue(parameters.getRawParameterValue("compLimit")),
      emphasisValue(parameters.getRawParameterValue("emphasis")),
      mixValue(parameters.getRawParameterValue("mix")),
      powerValue(parameters.getRawParameterValue("power")),
      bypassValue(parameters.getRawParameterValue("bypass"))
{
    settleRawDefaults();
}

// The value tree seeds each raw value from the normalised default without snapping it to the
// interval, so Gain would start at 30.000002 rather than 30, run a hair off its calibrated
// default and save a different number than a restored project does. Moving each parameter
// away and back sends it through the snapping path; the tree, which ignores changes that
// small, is then told the settled value directly.
void QuillonAudioProcessor::settleRawDefaults()
{
    for (auto* parameter : getParameters())
    {
        const float value = parameter->getValue();
        parameter->setValueNotifyingHost(value < 0.5f ? 1.0f : 0.0f);
        parameter->setValueNotifyingHost(value);
        if (auto* withId = dynamic_cast<juce::AudioProcessorParameterWithID*>(parameter))
            parameters.state.getChildWithProperty("id", withId->paramID)
                .setProperty("value", parameters.getRawParameterValue(withId->paramID)->load(), nullptr);
    }
}

QuillonAudioProcessor::~QuillonAudioProcessor() = default;

const juce::String QuillonAudioProcessor::getName() const { return "Quillon"; }

void QuillonAudioProcessor::prepareToPlay(double sampleRate, int)
{
    outputMeterLevel.store(0.0f, std::memory_order_relaxed);
    engine.prepare(sampleRate, getTotalNumInputChannels());
    setLatencySamples(engine.latencySamples());
}

void QuillonAudioProcessor::releaseResources() { engine.reset(); }

quillon::RealtimeControls QuillonAudioProcessor::readControls() const noexcept
{
    quillon::RealtimeControls c;
    c.peakReduction = static_cast<double>(peakReductionValue->load(std::memory_order_relaxed));
    c.gain = static_cast<double>(gainValue->load(std::memory_order_relaxed));
    c.limitMode = compLimitValue->load(std::memory_order_relaxed) >= 0.5f;
    c.emphasis = static_cast<double>(emphasisValue->load(std::memory_order_relaxed));
    c.mix = static_cast<double>(mixValue->load(std::memory_order_relaxed));
    c.power = powerValue->load(std::memory_order_relaxed) >= 0.5f;
    c.bypass = bypassValue->load(std::memory_order_relaxed) >= 0.5f;
    c.highPeakCorrection = true;
    c.fractionalDelayWet = true;
    return c;
}

void QuillonAudioProcessor::processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    const juce::ScopedNoDenormals noDenormals;

    for (int ch = getTotalNumInputChannels(); ch < getTotalNumOutputChannels(); ++ch)
        buffer.clear(ch, 0, buffer.getNumSamples());

    engine.setControls(readControls());

    const int channels = buffer.getNumChannels();
    const int n = buffer.getNumSamples();
    const int k = std::min(channels, 2);
    float peak = 0.0f;

    if (n > 0 && channels <= 0)
    {
        const double silence[2] = { 0.0, 0.0 };
        double unused[2] = { 0.0, 0.0 };
        for (int i = 0; i < n; ++i)
            engine.processSample(silence, unused, k);
    }
    else if (n > 0)
    {
        float* left = buffer.getWritePointer(0);
        float* right = channels != 1 ? buffer.getWritePointer(1) : nullptr;
        for (int i = 0; i < n; ++i)
        {
            double in[2] = { static_cast<double>(left[i]), right != nullptr ? static_cast<double>(right[i]) : 0.0 };
            double out[2] = { 0.0, 0.0 };
            engine.processSample(in, out, k);

            // std::max(peak, NaN) keeps peak: a NaN sample never counts towards the level.
            left[i] = static_cast<float>(out[0]);
            peak = std::max(peak, std::fabs(left[i]));
            if (right != nullptr)
            {
                right[i] = static_cast<float>(out[1]);
                peak = std::max(peak, std::fabs(right[i]));
            }
        }
    }

    outputMeterLevel.store(blockLevel(peak), std::memory_order_relaxed);
}

double QuillonAudioProcessor::getTailLengthSeconds() const { return 0.0; }
bool QuillonAudioProcessor::acceptsMidi() const { return false; }
bool QuillonAudioProcessor::producesMidi() const { return false; }
bool QuillonAudioProcessor::isMidiEffect() const { return false; }

juce::AudioProcessorParameter* QuillonAudioProcessor::getBypassParameter() const
{
    return parameters.getParameter("bypass");
}

juce::AudioProcessorEditor* QuillonAudioProcessor::createEditor() { return new QuillonAudioProcessorEditor(*this); }
bool QuillonAudioProcessor::hasEditor() const { return true; }

int QuillonAudioProcessor::getNumPrograms() { return 1; }
int QuillonAudioProcessor::getCurrentProgram() { return 0; }
void QuillonAudioProcessor::setCurrentProgram(int) {}
const juce::String QuillonAudioProcessor::getProgramName(int) { return {}; }
void QuillonAudioProcessor::changeProgramName(int, const juce::String&) {}

void QuillonAudioProcessor::getStateInformation(juce::MemoryBlock& destination)
{
    savedstate::saveState(parameters, destination);
}

void QuillonAudioProcessor::setStateInformation(const void* data, int sizeInBytes)
{
    savedstate::restoreState(parameters, data, sizeInBytes);
}

bool QuillonAudioProcessor::isBusesLayoutSupported(const BusesLayout& layouts) const
{
    const auto out = layouts.getMainOutputChannelSet();
    if (out != juce::AudioChannelSet::mono() && out != juce::AudioChannelSet::stereo())
        return false;
    return layouts.getMainInputChannelSet() == out;
}

float QuillonAudioProcessor::getOutputMeterLevel() const noexcept
{
    return outputMeterLevel.load(std::memory_order_relaxed);
}

const quillon::RealtimeDiagnostics& QuillonAudioProcessor::getEngineDiagnostics() const noexcept
{
    return engine.diagnostics();
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter() { return new QuillonAudioProcessor(); }
