#pragma once

#include "dsp/OptoRealtimeDSP.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>

// The object the host talks to: identity, buses, the eight parameters, block processing,
// latency and saved state. The model itself lives in the engine it owns.
class QuillonAudioProcessor final : public juce::AudioProcessor
{
public:
    QuillonAudioProcessor();
    ~QuillonAudioProcessor() override;

    const juce::String getName() const override;
    void prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override;
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlock;

    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool isMidiEffect() const override;
    juce::AudioProcessorParameter* getBypassParameter() const override;

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;

    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram(int index) override;
    const juce::String getProgramName(int index) override;
    void changeProgramName(int index, const juce::String& newName) override;

    void getStateInformation(juce::MemoryBlock& destination) override;
    void setStateInformation(const void* data, int sizeInBytes) override;

    bool isBusesLayoutSupported(const BusesLayout& layouts) const override;

    // Normalised output level of the last block (0 = -60 dBFS or less, 1 = 0 dBFS); any thread.
    float getOutputMeterLevel() const noexcept;

    // For tests and tools: the engine's status after the last block.
    const quillon::RealtimeDiagnostics& getEngineDiagnostics() const noexcept;

    juce::AudioProcessorValueTreeState parameters;

private:
    void settleRawDefaults();
    quillon::RealtimeControls readControls() const noexcept;

    quillon::OptoRealtimeDSP engine;
    std::atomic<float>* peakReductionValue = nullptr;
    std::atomic<float>* gainValue = nullptr;
    std::atomic<float>* compLimitValue = nullptr;
    std::atomic<float>* emphasisValue = nullptr;
    std::atomic<float>* mixValue = nullptr;
    std::atomic<float>* powerValue = nullptr;
    std::atomic<float>* bypassValue = nullptr;
    std::atomic<float> outputMeterLevel { 0.0f };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(QuillonAudioProcessor)
};
