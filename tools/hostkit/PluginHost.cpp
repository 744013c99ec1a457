#include "PluginHost.h"

namespace quillon::host
{
namespace
{
// The VST3 parameter id a JUCE plug-in derives from its string identifier.
juce::String vst3IdFor(const juce::String& identifier)
{
    std::uint32_t h = 0;
    for (auto c : identifier)
        h = 31 * h + static_cast<std::uint32_t>(c);
    return juce::String(static_cast<std::int64_t>(h & 0x7fffffffu));
}

bool isNumber(const juce::String& text)
{
    return text.trim().containsOnly("0123456789.-+eE") && text.trim().isNotEmpty();
}
} // namespace

std::unique_ptr<juce::AudioPluginInstance> loadVst3(const juce::String& bundlePath, double sampleRate,
                                                    int blockSize, juce::String& error)
{
    const juce::File bundle = juce::File::getCurrentWorkingDirectory().getChildFile(bundlePath);
    if (!bundle.exists())
    {
        error = "no plug-in bundle at " + bundle.getFullPathName();
        return nullptr;
    }

    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> found;
    format.findAllTypesForFile(found, bundle.getFullPathName());
    if (found.isEmpty())
    {
        error = "no VST3 plug-in found in " + bundle.getFullPathName();
        return nullptr;
    }

    auto instance = format.createInstanceFromDescription(*found[0], sampleRate, blockSize, error);
    if (instance == nullptr && error.isEmpty())
        error = "the plug-in could not be instantiated";
    return instance;
}

bool preparePlugin(juce::AudioPluginInstance& plugin, double sampleRate, int blockSize, int channels,
                   juce::String& error)
{
    const auto set = channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add(set);
    layout.outputBuses.add(set);
    if (!plugin.setBusesLayout(layout))
    {
        error = "the plug-in does not accept " + juce::String(channels) + " channel(s) in and out";
        return false;
    }
    plugin.setRateAndBufferSizeDetails(sampleRate, blockSize);
    plugin.prepareToPlay(sampleRate, blockSize);
    return true;
}

juce::AudioProcessorParameter* findParameter(juce::AudioPluginInstance& plugin, const juce::String& key)
{
    const auto id = vst3IdFor(key);
    for (auto* p : plugin.getParameters())
    {
        if (auto* hosted = dynamic_cast<juce::HostedAudioProcessorParameter*>(p))
            if (hosted->getParameterID() == id)
                return p;
        if (p->getName(256).equalsIgnoreCase(key))
            return p;
    }
    return nullptr;
}

bool setParameterFromText(juce::AudioProcessorParameter& parameter, const juce::String& text, juce::String& error)
{
    const float value = parameter.getValueForText(text.trim());
    if (!isNumber(text) && !parameter.getText(value, 256).equalsIgnoreCase(text.trim()))
    {
        error = "\"" + text + "\" is not a value of " + parameter.getName(256) + " (e.g. \""
                + parameter.getText(0.0f, 256) + "\" or \"" + parameter.getText(1.0f, 256) + "\")";
        return false;
    }
    parameter.setValueNotifyingHost(value);
    return true;
}

} // namespace quillon::host
