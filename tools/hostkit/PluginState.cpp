#include "PluginState.h"

#include "AudioFiles.h"

namespace quillon::host
{
namespace
{
// JUCE's VST3 hosting keeps a plug-in's state as a binary XML block with this root, holding
// the component's state and the controller's state.
constexpr const char* hostStateTag = "VST3PluginState";

// Reaches the VST3 preset calls behind a hosted instance.
struct PresetAccess : juce::ExtensionsVisitor
{
    const juce::MemoryBlock* toLoad = nullptr;
    juce::MemoryBlock saved;
    bool loaded = false;

    void visitVST3Client(const VST3Client& client) override
    {
        if (toLoad != nullptr)
            loaded = client.setPreset(*toLoad);
        else
            saved = client.getPreset();
    }
};
} // namespace

bool isPresetFile(const juce::File& file)
{
    return file.hasFileExtension(".vstpreset");
}

bool saveStateFile(juce::AudioPluginInstance& plugin, const juce::File& file, juce::String& error)
{
    juce::MemoryBlock data;
    if (isPresetFile(file))
    {
        PresetAccess access;
        plugin.getExtensions(access);
        data = access.saved;
    }
    else
    {
        plugin.getStateInformation(data);
    }
    if (data.isEmpty())
    {
        error = "cannot save settings to " + quoted(file) + ": the plug-in gave none";
        return false;
    }
    return writeFileSafely(file, data, error);
}

bool loadStateFile(juce::AudioPluginInstance& plugin, const juce::File& file, juce::String& error)
{
    juce::MemoryBlock data;
    if (!file.existsAsFile())
    {
        error = "cannot read settings from " + quoted(file) + ": no such file";
        return false;
    }
    if (!file.loadFileAsData(data))
    {
        error = "cannot read settings from " + quoted(file);
        return false;
    }

    if (isPresetFile(file))
    {
        PresetAccess access;
        access.toLoad = &data;
        plugin.getExtensions(access);
        if (!access.loaded)
        {
            error = quoted(file) + " is not a VST3 preset of " + plugin.getName();
            return false;
        }
        return true;
    }

    const auto xml = juce::AudioProcessor::getXmlFromBinary(data.getData(), static_cast<int>(data.getSize()));
    if (xml == nullptr || !xml->hasTagName(hostStateTag) || xml->getChildByName("IComponent") == nullptr)
    {
        error = quoted(file) + " is not a settings file (one saved with --state-out, or a .vstpreset)";
        return false;
    }
    plugin.setStateInformation(data.getData(), static_cast<int>(data.getSize()));
    return true;
}

} // namespace quillon::host
