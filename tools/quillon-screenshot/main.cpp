// quillon-screenshot: builds the Quillon editor off-screen at chosen parameter values and
// meter level, and writes what it shows to a PNG.
#include "plugin/PluginEditor.h"
#include "plugin/PluginProcessor.h"

#include <cmath>
#include <iostream>
#include <memory>

namespace
{
struct Options
{
    juce::File output;
    juce::StringArray settings;
    float level = 0.0f;
    float scale = 1.0f;
};

void printUsage()
{
    std::cout <<
R"(Usage: quillon-screenshot [options] OUTPUT.png

Creates the Quillon editor (1000 x 360) without a window, sets the parameters and
the meter needle, and writes the rendered editor to OUTPUT.png.

Options:
  --set ID=VALUE   set a parameter before the editor opens (repeatable). VALUE is the
                   plain value (gain=45, meter=2, compLimit=1) or the parameter's own
                   text (compLimit=Limit, meter="+4 dB", power=Off).
                   IDs: peakReduction gain compLimit emphasis meter mix power bypass
  --level L        needle position from 0 (-60 dBFS or below) to 1 (0 dBFS); default 0
  --scale S        pixels per editor pixel, 1 to 4 (default 1)
  --help           this text
)";
}

[[noreturn]] void fail(const juce::String& message)
{
    std::cerr << "quillon-screenshot: " << message << "\n";
    std::exit(1);
}

float parseNumber(const juce::String& option, const juce::String& text, float low, float high)
{
    const auto trimmed = text.trim();
    const float value = trimmed.getFloatValue();
    if (trimmed.isEmpty() || ! trimmed.containsOnly("0123456789.-+eE") || ! (value >= low && value <= high))
        fail(option + " takes a number from " + juce::String(low) + " to " + juce::String(high) + ", not \"" + text + "\"");
    return value;
}

Options parseOptions(int argc, char** argv)
{
    const juce::StringArray optionsWithValue { "--set", "--level", "--scale" };
    Options o;
    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg(argv[i]);
        if (arg == "--help" || arg == "-h")
        {
            printUsage();
            std::exit(0);
        }
        if (optionsWithValue.contains(arg))
        {
            if (i + 1 == argc)
                fail(arg + " needs a value (see --help)");
            const juce::String value(argv[++i]);
            if (arg == "--set")
                o.settings.add(value);
            else if (arg == "--level")
                o.level = parseNumber(arg, value, 0.0f, 1.0f);
            else
                o.scale = parseNumber(arg, value, 1.0f, 4.0f);
        }
        else if (arg.startsWith("-"))
            fail("unknown option " + arg + " (see --help)");
        else if (o.output != juce::File())
            fail("only one output file, please (see --help)");
        else
            o.output = juce::File::getCurrentWorkingDirectory().getChildFile(arg);
    }
    if (o.output == juce::File())
        fail("no output file given (see --help)");
    return o;
}

void applySetting(QuillonAudioProcessor& processor, const juce::String& setting)
{
    const auto id = setting.upToFirstOccurrenceOf("=", false, false).trim();
    const auto text = setting.fromFirstOccurrenceOf("=", false, false).trim();
    auto* parameter = processor.parameters.getParameter(id);
    if (! setting.contains("=") || parameter == nullptr)
        fail("--set needs ID=VALUE with one of the parameter IDs, not \"" + setting + "\" (see --help)");

    const auto& range = parameter->getNormalisableRange();
    float normalised = 0.0f;
    if (text.containsOnly("0123456789.-") && text.isNotEmpty())
    {
        const float plain = text.getFloatValue();
        if (plain < range.start || plain > range.end)
            fail(id + " runs from " + juce::String(range.start) + " to " + juce::String(range.end) + ", not " + text);
        normalised = parameter->convertTo0to1(plain);
    }
    else
    {
        normalised = parameter->getValueForText(text);
        if (! parameter->getText(normalised, 64).equalsIgnoreCase(text))
            fail("\"" + text + "\" is not a value of " + id);
    }
    parameter->setValueNotifyingHost(normalised);
}

// The editor's needle follows the level the processor publishes after each block. Away
// from 48 kHz the processor passes audio through unchanged, so one block whose peak sits
// at the wanted level in dBFS publishes exactly that reading.
void publishLevel(QuillonAudioProcessor& processor, float level)
{
    processor.prepareToPlay(44100.0, 64);
    juce::AudioBuffer<float> buffer(2, 64);
    buffer.clear();
    if (level > 0.0f)
    {
        const float peak = std::pow(10.0f, (60.0f * level - 60.0f) / 20.0f);
        buffer.setSample(0, 0, peak);
        buffer.setSample(1, 0, peak);
    }
    juce::MidiBuffer midi;
    processor.processBlock(buffer, midi);
}

void writePng(const juce::Image& image, const juce::File& file)
{
    if (! file.getParentDirectory().isDirectory())
        fail("no such folder: " + file.getParentDirectory().getFullPathName());
    file.deleteFile();
    juce::FileOutputStream stream(file);
    juce::PNGImageFormat png;
    if (! stream.openedOk() || ! png.writeImageToStream(image, stream))
        fail("cannot write " + file.getFullPathName());
}
} // namespace

int main(int argc, char** argv)
{
    const auto options = parseOptions(argc, argv);
    juce::ScopedJuceInitialiser_GUI juce;

    QuillonAudioProcessor processor;
    for (const auto& setting : options.settings)
        applySetting(processor, setting);
    publishLevel(processor, options.level);

    std::unique_ptr<juce::AudioProcessorEditor> editor(processor.createEditor());
    // One timer tick brings the needle from the left stop up to the published level.
    dynamic_cast<QuillonAudioProcessorEditor&>(*editor).timerCallback();
    const auto image = editor->createComponentSnapshot(editor->getLocalBounds(), true, options.scale);
    editor.reset();

    writePng(image, options.output);
    std::cout << "wrote " << options.output.getFullPathName() << " (" << image.getWidth() << " x "
              << image.getHeight() << ")\n";
    return 0;
}
