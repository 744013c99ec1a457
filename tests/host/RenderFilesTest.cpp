// The renderer's files: WAV, AIFF and FLAC in and out, what it refuses, and the rule that a
// failed or interrupted render leaves no file behind.
#include "RenderTestSupport.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <functional>

namespace
{
using namespace render_test;
namespace host = quillon::host;

struct RoundTripCase
{
    const char* input;
    int inputBits;
    int channels;
    const char* output;
    int wantedBits; // 0: the renderer's choice
    int expectedBits;
    bool expectedFloat;
};

class RenderRoundTrip : public testing::TestWithParam<RoundTripCase>
{
};

// Bypassed, the plug-in hands the audio back unchanged, so what the renderer writes must read
// back as exactly the input: same samples, length, channels and sample rate.
TEST_P(RenderRoundTrip, BypassedFileComesBackUnchanged)
{
    const auto c = GetParam();
    ScratchFolder folder;
    const auto input = gridNoise(c.channels, 20000, std::min(c.inputBits, c.expectedBits));
    writeAudio(folder / c.input, input, 48000.0, c.inputBits);

    auto job = jobFor(folder / c.input, folder / c.output);
    job.settings.add("bypass=On");
    job.bits = c.wantedBits;
    host::RenderReport report;
    juce::String error;
    ASSERT_TRUE(host::runRenderJob(job, report, error)) << error;

    const auto back = readAudio(folder / c.output);
    EXPECT_EQ(back.sampleRate, 48000.0);
    EXPECT_EQ(back.bits, c.expectedBits);
    EXPECT_EQ(back.floatingPoint, c.expectedFloat);
    EXPECT_EQ(firstDifference(back.audio, input), -1);
    EXPECT_EQ(folder.names(), juce::StringArray(c.input, c.output));
}

INSTANTIATE_TEST_SUITE_P(
    Render, RenderRoundTrip,
    testing::Values(RoundTripCase { "in.wav", 16, 1, "out.wav", 0, 16, false },
                    RoundTripCase { "in.wav", 24, 2, "out.wav", 0, 24, false },
                    RoundTripCase { "in.wav", 32, 2, "out.wav", 0, 32, true },
                    RoundTripCase { "in.aiff", 16, 2, "out.aiff", 0, 16, false },
                    RoundTripCase { "in.aif", 24, 1, "out.aif", 0, 24, false },
                    RoundTripCase { "in.flac", 16, 2, "out.flac", 0, 16, false },
                    RoundTripCase { "in.flac", 24, 1, "out.flac", 0, 24, false },
                    RoundTripCase { "in.wav", 32, 2, "out.flac", 0, 24, false },
                    RoundTripCase { "in.flac", 24, 2, "out.WAV", 32, 32, true },
                    RoundTripCase { "in.wav", 24, 2, "out.aiff", 16, 16, false }),
    [](const auto& info) {
        const auto& c = info.param;
        return rowName(info, juce::String(c.input) + " " + juce::String(c.inputBits) + " to " + c.output + " "
                                 + juce::String(c.expectedBits));
    });

struct RefusalCase
{
    const char* name;
    // Builds the files of the case in the folder and returns the job.
    std::function<host::RenderJob(const ScratchFolder&)> setUp;
    const char* errorPart;
};

class RenderRefusal : public testing::TestWithParam<RefusalCase>
{
};

// Each refusal says what is wrong and touches no file: nothing appears, nothing changes.
TEST_P(RenderRefusal, SaysWhyAndWritesNothing)
{
    const auto& c = GetParam();
    ScratchFolder folder;
    writeAudio(folder / "in.wav", gridNoise(2, 4000, 16), 48000.0, 16);
    const auto job = c.setUp(folder);
    const auto before = folder.names();
    juce::MemoryBlock inputBefore;
    (folder / "in.wav").loadFileAsData(inputBefore);

    host::RenderReport report;
    juce::String error;
    EXPECT_FALSE(host::runRenderJob(job, report, error));
    EXPECT_TRUE(error.contains(c.errorPart)) << error;
    EXPECT_EQ(folder.names(), before);
    juce::MemoryBlock inputAfter;
    (folder / "in.wav").loadFileAsData(inputAfter);
    EXPECT_EQ(inputAfter, inputBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Render, RenderRefusal,
    testing::Values(
        RefusalCase { "InputOfAnotherType",
                      [](const ScratchFolder& f) {
                          (f / "in.wav").copyFileTo(f / "in.mp3");
                          return jobFor(f / "in.mp3", f / "out.wav");
                      },
                      "not a file type this tool reads" },
        RefusalCase { "OutputOfAnotherType", [](const ScratchFolder& f) { return jobFor(f / "in.wav", f / "out.ogg"); },
                      "not a file type this tool writes" },
        RefusalCase { "MissingInput", [](const ScratchFolder& f) { return jobFor(f / "gone.wav", f / "out.wav"); },
                      "no such file" },
        RefusalCase { "InputThatIsNoAudio",
                      [](const ScratchFolder& f) {
                          (f / "text.flac").replaceWithText("these are not the samples you are looking for");
                          return jobFor(f / "text.flac", f / "out.wav");
                      },
                      "is not a readable FLAC" },
        RefusalCase { "ThreeChannels",
                      [](const ScratchFolder& f) {
                          writeAudio(f / "three.wav", gridNoise(3, 4000, 16), 48000.0, 16);
                          return jobFor(f / "three.wav", f / "out.wav");
                      },
                      "does not take 3 channels in and out (it takes 1 or 2)" },
        RefusalCase { "OutputIsTheInput", [](const ScratchFolder& f) { return jobFor(f / "in.wav", f / "in.wav"); },
                      "will not write over the input file" },
        RefusalCase { "OutputIsTheInputByAnotherPath",
                      [](const ScratchFolder& f) {
                          (f / "sub").createDirectory();
                          return jobFor(f / "in.wav", f.path().getFullPathName() + "/sub/../in.wav");
                      },
                      "will not write over the input file" },
        RefusalCase { "OutputIsALinkToTheInput",
                      [](const ScratchFolder& f) {
                          (f / "in.wav").createSymbolicLink(f / "link.wav", true);
                          return jobFor(f / "in.wav", f / "link.wav");
                      },
                      "will not write over the input file" },
        RefusalCase { "OutputIsAFolder",
                      [](const ScratchFolder& f) {
                          (f / "folder.wav").createDirectory();
                          return jobFor(f / "in.wav", f / "folder.wav");
                      },
                      "it is a folder" },
        RefusalCase { "OutputInAMissingFolder",
                      [](const ScratchFolder& f) { return jobFor(f / "in.wav", f / "missing/out.wav"); },
                      "does not exist" },
        RefusalCase { "BitDepthTheFormatLacks",
                      [](const ScratchFolder& f) {
                          auto job = jobFor(f / "in.wav", f / "out.flac");
                          job.bits = 32;
                          return job;
                      },
                      "FLAC files take 16 or 24 bits, not 32" },
        RefusalCase { "BadSetting",
                      [](const ScratchFolder& f) {
                          auto job = jobFor(f / "in.wav", f / "out.wav");
                          job.settings.add("gain=loud");
                          return job;
                      },
                      "Gain takes a number" }),
    [](const auto& info) { return std::string(info.param.name); });

// A folder with an input and an older output, to show that a failed render leaves the older
// output as it was and nothing else behind.
class RenderOverAnOlderOutput : public testing::Test
{
protected:
    void writeFiles(const char* outputName, int inputSamples)
    {
        writeAudio(folder / "in.wav", gridNoise(2, inputSamples, 24), 48000.0, 24);
        output = folder / outputName;
        output.replaceWithText("the previous render");
        output.loadFileAsData(old);
    }

    void expectOnlyTheOlderFiles() const
    {
        EXPECT_EQ(folder.names(), juce::StringArray("in.wav", output.getFileName()));
        juce::MemoryBlock now;
        output.loadFileAsData(now);
        EXPECT_EQ(now, old);
    }

    ScratchFolder folder;
    juce::File output;
    juce::MemoryBlock old;
};

// The disk stops taking data part way (a file size limit stands in for a full disk): the
// render fails, the partial file is gone and the older output is untouched.
TEST_F(RenderOverAnOlderOutput, FailedWriteLeavesNoFileBehind)
{
    writeFiles("out.wav", 96000);
    rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 100000;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    host::RenderReport report;
    juce::String error;
    const bool ok = host::runRenderJob(jobFor(folder / "in.wav", output), report, error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(ok);
    EXPECT_TRUE(error.contains("cannot write")) << error;
    expectOnlyTheOlderFiles();
}

TEST_F(RenderOverAnOlderOutput, InterruptedRenderLeavesNoFileBehind)
{
    writeFiles("out.flac", 96000);
    std::atomic<bool> cancel { false };
    host::RenderCallbacks callbacks;
    callbacks.cancel = &cancel;
    callbacks.progress = [&](double fraction) {
        if (fraction > 0.5)
            cancel.store(true);
    };
    host::RenderReport report;
    juce::String error;
    EXPECT_FALSE(host::runRenderJob(jobFor(folder / "in.wav", output), report, error, callbacks));
    EXPECT_TRUE(error.contains("interrupted")) << error;
    expectOnlyTheOlderFiles();
}

// An existing output is replaced whole once the new file is complete.
TEST_F(RenderOverAnOlderOutput, CompleteRenderReplacesIt)
{
    writeFiles("out.wav", 9000);
    auto job = jobFor(folder / "in.wav", output);
    job.settings.add("bypass=On");
    host::RenderReport report;
    juce::String error;
    ASSERT_TRUE(host::runRenderJob(job, report, error)) << error;
    EXPECT_EQ(firstDifference(readAudio(output).audio, readAudio(folder / "in.wav").audio), -1);
    EXPECT_EQ(folder.names(), juce::StringArray("in.wav", "out.wav"));
}

// Outside 48 kHz the plug-in passes audio through undelayed; the renderer says so.
TEST(Render, OtherSampleRatesPassThroughWithAWarning)
{
    ScratchFolder folder;
    const auto input = gridNoise(2, 30000, 24);
    writeAudio(folder / "in.wav", input, 44100.0, 24);
    host::RenderReport report;
    juce::String error;
    ASSERT_TRUE(host::runRenderJob(jobFor(folder / "in.wav", folder / "out.wav"), report, error)) << error;
    EXPECT_EQ(report.latencySamples, 0);
    ASSERT_EQ(report.warnings.size(), 1);
    EXPECT_TRUE(report.warnings[0].contains("48000 Hz only")) << report.warnings[0];
    EXPECT_TRUE(report.warnings[0].contains("passes the audio through unchanged")) << report.warnings[0];
    const auto back = readAudio(folder / "out.wav");
    EXPECT_EQ(back.sampleRate, 44100.0);
    EXPECT_EQ(firstDifference(back.audio, input), -1);
}

TEST(Render, TailSecondsLengthenTheOutputFile)
{
    ScratchFolder folder;
    writeAudio(folder / "in.aiff", gridNoise(1, 10000, 16), 48000.0, 16);
    auto job = jobFor(folder / "in.aiff", folder / "out.aiff");
    job.tailSeconds = 0.25;
    host::RenderReport report;
    juce::String error;
    ASSERT_TRUE(host::runRenderJob(job, report, error)) << error;
    EXPECT_EQ(report.outputSamples, 10000 + 12000);
    EXPECT_EQ(readAudio(folder / "out.aiff").audio.getNumSamples(), 10000 + 12000);
}

// --set and --state-out together: the file written holds what --set changed, and a second job
// that reads it renders the same as one that sets the values directly.
TEST(Render, SettingsSavedByOneJobSteerTheNext)
{
    ScratchFolder folder;
    writeAudio(folder / "in.wav", gridNoise(2, 24000, 24, 0.7f), 48000.0, 24);
    auto first = jobFor(folder / "in.wav", folder / "set.wav");
    first.settings.addArray({ "peakReduction=70", "Comp/Limit=Limit", "gain=45" });
    first.stateOut = folder / "settings.vstpreset";
    auto second = jobFor(folder / "in.wav", folder / "restored.wav");
    second.stateIn = folder / "settings.vstpreset";

    host::RenderReport report;
    juce::String error;
    ASSERT_TRUE(host::runRenderJob(first, report, error)) << error;
    const auto settings = report.settings;
    ASSERT_TRUE(host::runRenderJob(second, report, error)) << error;
    EXPECT_EQ(report.settings, settings);
    EXPECT_TRUE(settings.contains("Peak Reduct 70.0")) << settings;
    EXPECT_EQ(firstDifference(readAudio(folder / "set.wav").audio, readAudio(folder / "restored.wav").audio), -1);
}

} // namespace
