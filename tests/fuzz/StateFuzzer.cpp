// Feeds arbitrary bytes to the processor as a saved state. Besides the sanitizers' own
// checks it stops on a refused block that changed anything, and on a taken one that left
// a parameter outside its range or that does not survive being saved and restored.
#include "plugin/PluginProcessor.h"
#include "plugin/SavedState.h"

#include <juce_events/juce_events.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{
void require(bool holds, const char* what)
{
    if (!holds)
    {
        std::fprintf(stderr, "state fuzzer: %s\n", what);
        std::abort();
    }
}

std::vector<float> valuesOf(QuillonAudioProcessor& p)
{
    std::vector<float> values;
    for (auto* parameter : p.getParameters())
        if (auto* withId = dynamic_cast<juce::AudioProcessorParameterWithID*>(parameter))
            values.push_back(p.parameters.getRawParameterValue(withId->paramID)->load());
    return values;
}

bool valuesInRange(QuillonAudioProcessor& p)
{
    for (auto* parameter : p.getParameters())
    {
        auto* ranged = dynamic_cast<juce::RangedAudioParameter*>(parameter);
        const float v = p.parameters.getRawParameterValue(ranged->paramID)->load();
        const auto& range = ranged->getNormalisableRange();
        if (!std::isfinite(v) || v < range.start || v > range.end)
            return false;
    }
    return true;
}

juce::MemoryBlock saved(QuillonAudioProcessor& p)
{
    juce::MemoryBlock block;
    p.getStateInformation(block);
    return block;
}

void restore(QuillonAudioProcessor& p, const juce::MemoryBlock& block)
{
    p.setStateInformation(block.getData(), static_cast<int>(block.getSize()));
}

// Every parameter away from its default, so that any change a block makes shows.
const juce::MemoryBlock& startingState()
{
    static const juce::MemoryBlock block = [] {
        QuillonAudioProcessor p;
        const float moved[] = { 61.2f, 41.5f, 1.0f, 37.0f, 2.0f, 55.0f, 0.0f, 1.0f };
        int i = 0;
        for (auto* parameter : p.getParameters())
        {
            auto* ranged = dynamic_cast<juce::RangedAudioParameter*>(parameter);
            ranged->setValueNotifyingHost(ranged->convertTo0to1(moved[i++]));
        }
        return saved(p);
    }();
    return block;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Never shut down: libFuzzer leaves through exit(), when JUCE's own statics may be gone.
    static const auto* juce = new juce::ScopedJuceInitialiser_GUI();
    juce::ignoreUnused(juce);
    startingState();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > static_cast<std::size_t>(INT_MAX))
        return 0;

    QuillonAudioProcessor p;
    restore(p, startingState());
    const auto valuesBefore = valuesOf(p);
    const auto bytesBefore = saved(p);

    if (!savedstate::restoreState(p.parameters, data, static_cast<int>(size)))
    {
        require(valuesOf(p) == valuesBefore, "a refused block changed a parameter");
        require(saved(p) == bytesBefore, "a refused block changed the saved state");
        return 0;
    }

    require(valuesInRange(p), "a taken block left a parameter outside its range");

    const auto block = saved(p);
    QuillonAudioProcessor q;
    require(savedstate::restoreState(q.parameters, block.getData(), static_cast<int>(block.getSize())),
            "a saved state was refused");
    require(valuesOf(q) == valuesOf(p), "a saved state restored other values");
    require(saved(q) == block, "a restored state saved other bytes");
    return 0;
}
