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
    const auto t = text.trim();
    return t.isNotEmpty() && t.containsOnly("0123456789.-+eE") && t.containsAnyOf("0123456789");
}

juce::AudioChannelSet channelSetFor(int channels)
{
    if (channels == 1)
        return juce::AudioChannelSet::mono();
    if (channels == 2)
        return juce::AudioChannelSet::stereo();
    const auto canonical = juce::AudioChannelSet::canonicalChannelSet(channels);
    return canonical.isDisabled() ? juce::AudioChannelSet::discreteChannels(channels) : canonical;
}

bool setLayout(juce::AudioPluginInstance& plugin, int channels)
{
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add(channelSetFor(channels));
    layout.outputBuses.add(channelSetFor(channels));
    return plugin.setBusesLayout(layout);
}

// The texts of a stepped parameter's values ("Comp", "Limit"), in order.
juce::StringArray stepTexts(juce::AudioProcessorParameter& parameter)
{
    juce::StringArray texts;
    const int steps = parameter.getNumSteps();
    if (!parameter.isDiscrete() || steps < 2 || steps > 64)
        return texts;
    for (int k = 0; k < steps; ++k)
        texts.add(parameter.getText(static_cast<float>(k) / static_cast<float>(steps - 1), 256));
    return texts;
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
    // JUCE skips a second prepareToPlay with unchanged settings; releasing first makes the
    // plug-in start again from silence.
    plugin.releaseResources();
    if (channels < 1 || !setLayout(plugin, channels))
    {
        error = "the plug-in does not take " + juce::String(channels) + " channel" + (channels == 1 ? "" : "s")
                + " in and out (it takes " + acceptedChannelCounts(plugin) + ")";
        return false;
    }
    plugin.setRateAndBufferSizeDetails(sampleRate, blockSize);
    plugin.prepareToPlay(sampleRate, blockSize);
    return true;
}

juce::String acceptedChannelCounts(juce::AudioPluginInstance& plugin)
{
    const auto before = plugin.getBusesLayout();
    juce::StringArray counts;
    for (int n = 1; n <= 8; ++n)
        if (setLayout(plugin, n))
            counts.add(juce::String(n));
    plugin.setBusesLayout(before);
    if (counts.isEmpty())
        return "no channel count from 1 to 8";
    if (counts.size() == 1)
        return counts[0];
    return counts.joinIntoString(", ", 0, counts.size() - 1) + " or " + counts[counts.size() - 1];
}

juce::AudioProcessorParameter* findParameter(juce::AudioPluginInstance& plugin, const juce::String& key)
{
    const auto id = vst3IdFor(key);
    for (auto* p : plugin.getParameters())
        if (auto* hosted = dynamic_cast<juce::HostedAudioProcessorParameter*>(p))
            if (hosted->getParameterID() == id || hosted->getParameterID() == key)
                return p;
    for (auto* p : plugin.getParameters())
        if (p->getName(256).equalsIgnoreCase(key.trim()))
            return p;
    return nullptr;
}

bool setParameterFromText(juce::AudioProcessorParameter& parameter, const juce::String& text, juce::String& error)
{
    const auto t = text.trim();
    const auto name = parameter.getName(256);
    const auto texts = stepTexts(parameter);
    if (!texts.isEmpty())
    {
        // A stepped parameter takes one of its texts, or the index of one.
        int index = texts.indexOf(t, true);
        if (index < 0 && isNumber(t) && t.containsOnly("0123456789"))
            index = t.getIntValue() < texts.size() ? t.getIntValue() : -1;
        if (index < 0)
        {
            error = "\"" + text + "\" is not a value of " + name + " (it takes "
                    + texts.joinIntoString(", ") + ", or 0 to " + juce::String(texts.size() - 1) + ")";
            return false;
        }
        parameter.setValueNotifyingHost(static_cast<float>(index) / static_cast<float>(texts.size() - 1));
        return true;
    }

    const auto lowest = parameter.getText(0.0f, 256);
    const auto highest = parameter.getText(1.0f, 256);
    const double number = t.getDoubleValue();
    if (!isNumber(t) || number < lowest.getDoubleValue() || number > highest.getDoubleValue())
    {
        error = name + " takes a number from " + lowest + " to " + highest + ", not \"" + text + "\"";
        return false;
    }
    parameter.setValueNotifyingHost(juce::jlimit(0.0f, 1.0f, parameter.getValueForText(t)));
    return true;
}

bool applySetting(juce::AudioPluginInstance& plugin, const juce::String& setting, juce::String& error)
{
    const auto key = setting.upToFirstOccurrenceOf("=", false, false).trim();
    const auto value = setting.fromFirstOccurrenceOf("=", false, false).trim();
    if (!setting.contains("=") || key.isEmpty())
    {
        error = "--set takes ID=VALUE, not \"" + setting + "\"";
        return false;
    }
    auto* parameter = findParameter(plugin, key);
    if (parameter == nullptr)
    {
        error = "the plug-in has no parameter \"" + key + "\"";
        return false;
    }
    return setParameterFromText(*parameter, value, error);
}

juce::String describeSettings(juce::AudioPluginInstance& plugin)
{
    juce::StringArray parts;
    for (auto* p : plugin.getParameters())
        parts.add(p->getName(64) + " " + p->getCurrentValueAsText());
    return parts.joinIntoString(", ");
}

} // namespace quillon::host
