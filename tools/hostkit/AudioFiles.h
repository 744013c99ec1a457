#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <memory>

namespace quillon::host
{

// The audio file types the tools read and write, chosen by file extension: WAV, AIFF, FLAC.
class AudioFiles
{
public:
    AudioFiles();

    // The format for a file's extension (any letter case), or nullptr.
    juce::AudioFormat* formatFor(const juce::File& file) const;

    // "WAV (.wav), AIFF (.aif, .aiff) and FLAC (.flac)"
    static juce::String supportedTypes();

    // Opens a file for reading, or explains why it cannot be read.
    std::unique_ptr<juce::AudioFormatReader> openReader(const juce::File& file, juce::String& error) const;

    // The bit depth to write: the wanted one when the format has it, else 24 (or the format's
    // deepest). 32 bits in WAV is floating point.
    int bitDepthFor(const juce::AudioFormat& format, int wantedBits) const;

private:
    juce::AudioFormatManager manager;
};

// A path as messages show it: "\"/full/path\"".
juce::String quoted(const juce::File& file);

// True when both names lead to the same file on disk (also through links or "..").
bool isSameFile(const juce::File& a, const juce::File& b);

// Writes an audio file under a hidden temporary name in the target's folder and renames it
// over the target only when everything was written and reads back complete. A failed or
// abandoned write deletes the temporary file, so the target is either the old file or the
// complete new one, never half of it.
class SafeAudioFileWriter
{
public:
    SafeAudioFileWriter() = default;
    SafeAudioFileWriter(const SafeAudioFileWriter&) = delete;
    SafeAudioFileWriter& operator=(const SafeAudioFileWriter&) = delete;
    ~SafeAudioFileWriter();

    bool open(const AudioFiles& files, const juce::File& target, double sampleRate, int channels, int bits,
              juce::String& error);
    bool write(const juce::AudioBuffer<float>& buffer, int start, int numSamples);
    // Finishes the file, checks it and moves it into place.
    bool commit(juce::String& error);
    // Deletes what was written; the target stays as it was.
    void abandon();

    const juce::File& temporaryFile() const { return temporary; }
    juce::String description() const; // e.g. "24-bit FLAC"

private:
    const AudioFiles* files = nullptr;
    juce::File target;
    juce::File temporary;
    std::unique_ptr<juce::AudioFormatWriter> writer;
    juce::String formatName;
    int channels = 0;
    int bits = 0;
    juce::int64 written = 0;
    bool failed = false;
};

// Writes bytes the same way: temporary file, then rename.
bool writeFileSafely(const juce::File& target, const juce::MemoryBlock& data, juce::String& error);

} // namespace quillon::host
