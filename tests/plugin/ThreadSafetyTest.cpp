// The threads a host runs at once: audio on one, automation on another, project saves and
// loads on a third, and the editor opening, painting and closing on the message thread.
// Meant to be run under ThreadSanitizer as well as in the ordinary build.
#include "plugin/PluginProcessor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>

TEST(ThreadSafety, AudioAutomationStateAndEditorTogether)
{
    QuillonAudioProcessor p;
    p.prepareToPlay(48000.0, 256);
    std::atomic<bool> running { true };
    std::atomic<bool> finite { true };
    std::atomic<int> blocks { 0 };

    std::thread audio([&] {
        juce::AudioBuffer<float> buffer(2, 256);
        juce::MidiBuffer midi;
        int n = 0;
        while (running.load())
        {
            for (int i = 0; i < 256; ++i, ++n)
            {
                const float v = 0.5f * std::sin(0.05f * static_cast<float>(n)) * ((n / 12000) % 2 ? 1.0f : 0.1f);
                buffer.setSample(0, i, v);
                buffer.setSample(1, i, v);
            }
            p.processBlock(buffer, midi);
            for (int i = 0; i < 256; ++i)
                if (!std::isfinite(buffer.getSample(0, i)))
                    finite = false;
            ++blocks;
        }
    });

    std::thread automation([&] {
        std::mt19937 random(3);
        std::uniform_real_distribution<float> value(0.0f, 1.0f);
        while (running.load())
            for (auto* parameter : p.getParameters())
                parameter->setValueNotifyingHost(value(random));
    });

    std::thread projects([&] {
        juce::MemoryBlock saved;
        while (running.load())
        {
            p.getStateInformation(saved);
            p.setStateInformation(saved.getData(), static_cast<int>(saved.getSize()));
        }
    });

    // This thread is JUCE's message thread: open, paint and close the editor repeatedly.
    for (int i = 0; i < 20; ++i)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor(p.createEditor());
        ASSERT_NE(editor, nullptr);
        const auto image = editor->createComponentSnapshot(editor->getLocalBounds());
        EXPECT_EQ(image.getWidth(), 1000);
    }
    while (blocks.load() < 200)
        std::this_thread::yield();

    running = false;
    audio.join();
    automation.join();
    projects.join();
    EXPECT_TRUE(finite.load());
}
