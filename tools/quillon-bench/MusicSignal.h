#pragma once

// A deterministic, music-like stereo test signal for timing the plug-in: drums, bass, a
// chord pad and a lead line in sections of changing tempo, key and loudness. With `varied`
// set (the soak run) some sections are replaced by material a compressor rarely meets:
// silence, near-silence, sweeps, noise, hot passages above full scale and clicks.
// Plain C++ so the in-process bench and the host-side bench render the very same samples.

#include <cmath>
#include <cstdint>

namespace quillonbench
{

class MusicSignal
{
public:
    static constexpr double sampleRate = 48000.0;

    explicit MusicSignal(std::uint64_t seed, bool variedMaterial = false) : rng(seed | 1u), varied(variedMaterial)
    {
        startSection();
    }

    // Renders n stereo frames.
    void render(float* left, float* right, int n)
    {
        for (int i = 0; i < n; ++i)
        {
            if (sectionLeft == 0)
                startSection();
            --sectionLeft;
            double l = 0.0;
            double r = 0.0;
            frame(l, r);
            left[i] = static_cast<float>(l);
            right[i] = static_cast<float>(r);
        }
    }

private:
    enum class Kind { Music, Silence, NearSilence, Sweep, Noise, Hot, Clicks };

    static constexpr double twoPi = 6.283185307179586;

    std::uint64_t next()
    {
        rng ^= rng << 13;
        rng ^= rng >> 7;
        rng ^= rng << 17;
        return rng;
    }
    double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    double bipolar() { return 2.0 * uniform() - 1.0; }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    static double midiHz(double note) { return 440.0 * std::exp2((note - 69.0) / 12.0); }
    static double decayPerSample(double seconds) { return std::exp(-1.0 / (seconds * sampleRate)); }

    void startSection()
    {
        kind = Kind::Music;
        if (varied)
        {
            const int roll = below(20);
            kind = roll == 0   ? Kind::Silence
                   : roll == 1 ? Kind::NearSilence
                   : roll == 2 ? Kind::Sweep
                   : roll == 3 ? Kind::Noise
                   : roll == 4 ? Kind::Hot
                   : roll == 5 ? Kind::Clicks
                               : Kind::Music;
        }
        tempo = 80.0 + 70.0 * uniform();
        samplesPerSixteenth = static_cast<long>(sampleRate * 15.0 / tempo);
        root = 36.0 + below(12);
        // Loudness varies by section from quiet to loud, as a mix does from verse to chorus.
        gain = std::pow(10.0, (-24.0 + 24.0 * uniform()) / 20.0);
        if (kind == Kind::Hot)
            gain = std::pow(10.0, (6.0 + 6.0 * uniform()) / 20.0);
        if (kind == Kind::NearSilence)
            gain = std::pow(10.0, (-140.0 + 60.0 * uniform()) / 20.0);
        hasDrums = !varied || below(4) != 0;
        hasPad = below(3) != 0;
        hasLead = below(2) != 0;
        sectionLength = samplesPerSixteenth * 16 * (varied ? 2 + below(7) : 8);
        sectionLeft = sectionLength;
        position = 0;
        sweepPhase = 0.0;
        chord = below(4);
    }

    void onSixteenth(long step)
    {
        const long inBar = step % 16;
        if (hasDrums && (inBar == 0 || inBar == 8 || (inBar == 14 && below(3) == 0)))
        {
            kickAmp = 1.0;
            kickTime = 0.0;
        }
        if (hasDrums && (inBar == 4 || inBar == 12))
            snareAmp = 0.7;
        if (hasDrums && inBar % 2 == 0)
            hatAmp = inBar % 4 == 0 ? 0.25 : 0.15;
        if (inBar % 2 == 0)
        {
            static constexpr int bassPattern[] = {0, 0, 7, 0, 12, 0, 10, 7};
            bassHz = midiHz(root + chordRoot() + bassPattern[(inBar / 2) % 8]);
            bassAmp = 0.45;
        }
        if (inBar == 0 && step % 32 == 0)
            chord = (chord + 1 + below(3)) % 4;
        if (hasLead && below(3) == 0)
        {
            static constexpr int scale[] = {0, 3, 5, 7, 10, 12, 15, 17};
            leadHz = midiHz(root + 36.0 + scale[below(8)]);
            leadAmp = 0.3;
        }
        if (kind == Kind::Clicks && below(2) == 0)
            clickLeft = 3;
    }

    int chordRoot() const
    {
        static constexpr int roots[] = {0, 5, 7, 3};
        return roots[chord];
    }

    void frame(double& l, double& r)
    {
        if (position % samplesPerSixteenth == 0)
            onSixteenth(position / samplesPerSixteenth);
        ++position;
        const double t = static_cast<double>(position) / sampleRate;

        if (kind == Kind::Silence)
        {
            l = r = 0.0;
            return;
        }
        if (kind == Kind::Sweep)
        {
            const double progress = static_cast<double>(sectionLength - sectionLeft) / static_cast<double>(sectionLength);
            sweepPhase += twoPi * 20.0 * std::pow(1000.0, progress) / sampleRate;
            l = 0.5 * gain * std::sin(sweepPhase);
            r = 0.5 * gain * std::cos(sweepPhase);
            return;
        }
        if (kind == Kind::Noise)
        {
            l = 0.4 * gain * bipolar();
            r = 0.4 * gain * bipolar();
            return;
        }
        if (kind == Kind::Clicks)
        {
            l = r = clickLeft > 0 ? gain : 0.0;
            clickLeft = clickLeft > 0 ? clickLeft - 1 : 0;
            return;
        }

        // Kick: a sine whose pitch falls from about 150 Hz to 50 Hz.
        kickTime += 1.0 / sampleRate;
        kickPhase += twoPi * (50.0 + 100.0 * std::exp(-kickTime / 0.03)) / sampleRate;
        const double kick = kickAmp * std::sin(kickPhase);
        kickAmp *= kickDecay;
        // Snare: noise and a 190 Hz body.
        const double noise = bipolar();
        const double snare = snareAmp * (0.8 * noise + 0.5 * std::sin(twoPi * 190.0 * t));
        snareAmp *= snareDecay;
        // Hi-hat: differentiated noise, short.
        const double hat = hatAmp * (noise - previousNoise);
        previousNoise = noise;
        hatAmp *= hatDecay;
        // Bass: a saw through a one-pole low-pass.
        bassPhase += bassHz / sampleRate;
        bassPhase -= std::floor(bassPhase);
        bassState += 0.08 * ((2.0 * bassPhase - 1.0) - bassState);
        const double bass = bassAmp * bassState;
        bassAmp *= bassDecay;
        // Pad: a triad, detuned between the channels.
        double padL = 0.0;
        double padR = 0.0;
        if (hasPad)
        {
            static constexpr int intervals[] = {0, 3, 7};
            for (int k = 0; k < 3; ++k)
            {
                const double hz = midiHz(root + 24.0 + chordRoot() + intervals[k]);
                padL += std::sin(twoPi * hz * t);
                padR += std::sin(twoPi * hz * 1.003 * t + 0.5);
            }
            padL *= 0.07;
            padR *= 0.07;
        }
        // Lead: a sine with its octave, a little vibrato.
        leadPhase += twoPi * leadHz * (1.0 + 0.004 * std::sin(twoPi * 5.5 * t)) / sampleRate;
        const double lead = leadAmp * (std::sin(leadPhase) + 0.3 * std::sin(2.0 * leadPhase));
        leadAmp *= leadDecay;

        const double centre = kick + snare + bass;
        l = gain * (centre + 0.7 * hat + padL + 0.8 * lead);
        r = gain * (centre + 1.0 * hat + padR + 0.5 * lead);
    }

    std::uint64_t rng;
    bool varied;
    Kind kind = Kind::Music;
    double tempo = 120.0;
    long samplesPerSixteenth = 6000;
    long sectionLength = 0;
    long sectionLeft = 0;
    long position = 0;
    double root = 40.0;
    double gain = 0.5;
    bool hasDrums = true;
    bool hasPad = true;
    bool hasLead = true;
    int chord = 0;
    int clickLeft = 0;

    double kickAmp = 0.0, kickTime = 0.0, kickPhase = 0.0;
    double snareAmp = 0.0, hatAmp = 0.0, previousNoise = 0.0;
    double bassHz = 55.0, bassPhase = 0.0, bassState = 0.0, bassAmp = 0.0;
    double leadHz = 440.0, leadPhase = 0.0, leadAmp = 0.0;
    double sweepPhase = 0.0;

    const double kickDecay = decayPerSample(0.25);
    const double snareDecay = decayPerSample(0.12);
    const double hatDecay = decayPerSample(0.03);
    const double bassDecay = decayPerSample(0.35);
    const double leadDecay = decayPerSample(0.4);
};

} // namespace quillonbench
