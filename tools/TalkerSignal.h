#pragma once

// A speech-like test signal for one talker channel, 16 kHz mono: syllables of 150 to
// 400 ms separated by pauses of 200 to 800 ms. A syllable is a voiced sound (a harmonic
// series whose pitch glides, shaped by two formants that change from syllable to
// syllable) with a short noisy onset like a consonant; a pause holds faint background
// noise. Each channel has its own pitch range, so two talkers are easy to tell apart, and
// the whole signal follows from (channel, seed) alone.

#include <cstdint>
#include <random>
#include <span>

namespace qrv::tools {

class TalkerSignal {
public:
    static constexpr int SampleRate = 16000;
    static constexpr int MinSyllableMs = 150, MaxSyllableMs = 400;
    static constexpr int MinPauseMs = 200, MaxPauseMs = 800;

    TalkerSignal(int channel, uint32_t seed);

    // The next samples of the signal.
    void Generate(std::span<int16_t> samples);

    // Whether the sample Generate produced last belongs to a syllable.
    bool Speaking() const { return m_speaking; }

private:
    double Uniform(double low, double high);
    void StartSegment();
    double SyllableSample();

    std::mt19937 m_random;
    double m_basePitch;        // Hz, the channel's typical pitch
    bool m_speaking = false;   // the current segment is a syllable
    int m_segmentLength = 0;   // samples of the current segment
    int m_position = 0;        // samples of it already generated
    // The current syllable.
    double m_pitchStart = 0, m_pitchEnd = 0;
    double m_formant1 = 0, m_formant2 = 0;
    double m_level = 0;
    int m_onsetLength = 0;     // samples of noisy onset
    double m_phase = 0;        // of the fundamental, in cycles
    double m_lastNoise = 0;
};

} // namespace qrv::tools
