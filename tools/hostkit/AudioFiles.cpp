#include "AudioFiles.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quillon::host
{
namespace
{
// A hidden name beside the target, keeping its extension so the format can read it back.
juce::File temporaryNameFor(const juce::File& target)
{
    const auto suffix = juce::String::toHexString(juce::Random::getSystemRandom().nextInt64()).substring(0, 8);
    return target.getSiblingFile("." + target.getFileNameWithoutExtension() + ".partial-" + suffix
                                 + target.getFileExtension());
}

// Problems with the place a file is to be written, found before any work is done.
bool checkWritableTarget(const juce::File& target, juce::String& error)
{
    if (target.isDirectory())
    {
        error = "cannot write " + quoted(target) + ": it is a folder";
        return false;
    }
    if (!target.getParentDirectory().isDirectory())
    {
        error = "cannot write " + quoted(target) + ": the folder " + quoted(target.getParentDirectory())
                + " does not exist";
        return false;
    }
    return true;
}

bool moveIntoPlace(const juce::File& temporary, const juce::File& target, juce::String& error)
{
    // rename() replaces the target in one step: a reader sees the old file or the new one.
    if (std::rename(temporary.getFullPathName().toRawUTF8(), target.getFullPathName().toRawUTF8()) != 0)
    {
        error = "cannot write " + quoted(target) + ": " + juce::String(std::strerror(errno));
        temporary.deleteFile();
        return false;
    }
    return true;
}
} // namespace

AudioFiles::AudioFiles()
{
    manager.registerFormat(new juce::WavAudioFormat(), true);
    manager.registerFormat(new juce::AiffAudioFormat(), false);
    manager.registerFormat(new juce::FlacAudioFormat(), false);
}

juce::AudioFormat* AudioFiles::formatFor(const juce::File& file) const
{
    const auto extension = file.getFileExtension().toLowerCase();
    if (extension.isEmpty())
        return nullptr;
    for (auto* format : manager)
        if (format->getFileExtensions().contains(extension, true))
            return format;
    return nullptr;
}

juce::String AudioFiles::supportedTypes()
{
    return "WAV (.wav), AIFF (.aif, .aiff) and FLAC (.flac)";
}

std::unique_ptr<juce::AudioFormatReader> AudioFiles::openReader(const juce::File& file, juce::String& error) const
{
    auto* format = formatFor(file);
    if (format == nullptr)
    {
        error = "cannot read " + quoted(file) + ": not a file type this tool reads (" + supportedTypes() + ")";
        return nullptr;
    }
    if (file.isDirectory())
    {
        error = "cannot read " + quoted(file) + ": it is a folder";
        return nullptr;
    }
    if (!file.existsAsFile())
    {
        error = "cannot read " + quoted(file) + ": no such file";
        return nullptr;
    }
    auto stream = std::make_unique<juce::FileInputStream>(file);
    if (stream->failedToOpen())
    {
        error = "cannot read " + quoted(file) + ": " + stream->getStatus().getErrorMessage();
        return nullptr;
    }
    std::unique_ptr<juce::AudioFormatReader> reader(format->createReaderFor(stream.get(), false));
    if (reader == nullptr)
    {
        error = "cannot read " + quoted(file) + ": it is not a readable " + format->getFormatName();
        return nullptr;
    }
    stream.release(); // the reader owns it now
    if (reader->numChannels < 1 || reader->sampleRate <= 0.0 || reader->lengthInSamples < 0)
    {
        error = "cannot read " + quoted(file) + ": its header describes no playable audio";
        return nullptr;
    }
    return reader;
}

int AudioFiles::bitDepthFor(const juce::AudioFormat& format, int wantedBits) const
{
    auto& f = const_cast<juce::AudioFormat&>(format);
    const auto depths = f.getPossibleBitDepths();
    if (depths.contains(wantedBits))
        return wantedBits;
    return depths.contains(24) ? 24 : depths.getLast();
}

juce::String quoted(const juce::File& file)
{
    return "\"" + file.getFullPathName() + "\"";
}

bool isSameFile(const juce::File& a, const juce::File& b)
{
    struct stat sa {};
    struct stat sb {};
    if (stat(a.getFullPathName().toRawUTF8(), &sa) == 0 && stat(b.getFullPathName().toRawUTF8(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return a.getFullPathName() == b.getFullPathName();
}

SafeAudioFileWriter::~SafeAudioFileWriter()
{
    abandon();
}

bool SafeAudioFileWriter::open(const AudioFiles& audioFiles, const juce::File& file, double sampleRate,
                               int numChannels, int wantedBits, juce::String& error)
{
    abandon();
    files = &audioFiles;
    target = file;
    auto* format = audioFiles.formatFor(target);
    if (format == nullptr)
    {
        error = "cannot write " + quoted(target) + ": not a file type this tool writes (" + AudioFiles::supportedTypes()
                + ")";
        return false;
    }
    if (!checkWritableTarget(target, error))
        return false;

    temporary = temporaryNameFor(target);
    auto stream = std::make_unique<juce::FileOutputStream>(temporary);
    if (stream->failedToOpen())
    {
        error = "cannot write " + quoted(target) + ": " + stream->getStatus().getErrorMessage();
        temporary = juce::File();
        return false;
    }

    bits = audioFiles.bitDepthFor(*format, wantedBits);
    const int quality = dynamic_cast<juce::FlacAudioFormat*>(format) != nullptr ? 5 : 0; // libFLAC's default level
    writer.reset(format->createWriterFor(stream.get(), sampleRate, static_cast<unsigned int>(numChannels), bits, {},
                                         quality));
    if (writer == nullptr)
    {
        stream.reset();
        temporary.deleteFile();
        temporary = juce::File();
        error = "cannot write " + quoted(target) + ": " + format->getFormatName() + " does not take "
                + juce::String(numChannels) + " channel(s) of " + juce::String(bits) + "-bit audio at "
                + juce::String(sampleRate) + " Hz";
        return false;
    }
    stream.release(); // the writer owns it now
    formatName = format->getFormatName();
    channels = numChannels;
    written = 0;
    failed = false;
    return true;
}

bool SafeAudioFileWriter::write(const juce::AudioBuffer<float>& buffer, int start, int numSamples)
{
    if (writer == nullptr || failed)
        return false;
    if (!writer->writeFromAudioSampleBuffer(buffer, start, numSamples))
        failed = true;
    written += numSamples;
    return !failed;
}

bool SafeAudioFileWriter::commit(juce::String& error)
{
    if (writer == nullptr || failed)
    {
        error = "cannot write " + quoted(target) + ": the disk took only part of it (is it full, or is there a"
                " file size limit?)";
        abandon();
        return false;
    }
    writer.reset(); // finishes the header

    // A header or a last block that did not reach the disk shows as a file that does not
    // read back, or reads back short.
    juce::String readError;
    auto reader = files->openReader(temporary, readError);
    if (reader == nullptr || reader->lengthInSamples != written || static_cast<int>(reader->numChannels) != channels)
    {
        error = "cannot write " + quoted(target) + ": the finished file did not read back complete";
        reader.reset();
        abandon();
        return false;
    }
    reader.reset();
    if (!moveIntoPlace(temporary, target, error))
    {
        temporary = juce::File();
        return false;
    }
    temporary = juce::File();
    return true;
}

void SafeAudioFileWriter::abandon()
{
    writer.reset();
    if (temporary != juce::File())
        temporary.deleteFile();
    temporary = juce::File();
}

juce::String SafeAudioFileWriter::description() const
{
    const bool isFloat = bits == 32 && formatName.containsIgnoreCase("WAV");
    return juce::String(bits) + "-bit " + (isFloat ? "float " : "") + formatName;
}

bool writeFileSafely(const juce::File& target, const juce::MemoryBlock& data, juce::String& error)
{
    if (!checkWritableTarget(target, error))
        return false;
    const auto temporary = temporaryNameFor(target);
    auto stream = std::make_unique<juce::FileOutputStream>(temporary);
    if (stream->failedToOpen())
    {
        error = "cannot write " + quoted(target) + ": " + stream->getStatus().getErrorMessage();
        return false;
    }
    bool ok = stream->write(data.getData(), data.getSize());
    stream->flush();
    ok = ok && stream->getStatus().wasOk();
    stream.reset();
    if (!ok || temporary.getSize() != static_cast<juce::int64>(data.getSize()))
    {
        error = "cannot write " + quoted(target) + ": the file did not reach the disk complete";
        temporary.deleteFile();
        return false;
    }
    return moveIntoPlace(temporary, target, error);
}

} // namespace quillon::host
