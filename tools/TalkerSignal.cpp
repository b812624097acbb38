#include "TalkerSignal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace qrv::tools {

namespace {

constexpr int SineTableSize = 4096;

const std::array<float, SineTableSize>& SineTable()
{
    static const std::array<float, SineTableSize> table = [] {
        std::array<float, SineTableSize> t{};
        for (int i = 0; i < SineTableSize; ++i)
            t[static_cast<size_t>(i)] = static_cast<float>(std::sin(2 * std::numbers::pi * i / SineTableSize));
        return t;
    }();
    return table;
}

// Gain of a resonance at `centre` with half-width `width` for frequency f.
double Resonance(double f, double centre, double width)
{
    const double d = (f - centre) / width;
    return 1.0 / (1.0 + d * d);
}

constexpr int MaxHarmonics = 24;
constexpr double MaxVoicedFrequency = 6000;

} // namespace

TalkerSignal::TalkerSignal(int channel, uint32_t seed)
    : m_random(seed * 2654435761u + static_cast<uint32_t>(channel) * 40503u + 1u),
      m_basePitch(105.0 + 55.0 * ((channel + 4) % 5))
{
    StartSegment();
}

double TalkerSignal::Uniform(double low, double high)
{
    return low + (high - low) * (static_cast<double>(m_random()) / 4294967296.0);
}

void TalkerSignal::StartSegment()
{
    // Talkers start silent, then alternate syllable and pause.
    m_speaking = m_segmentLength == 0 ? false : !m_speaking;
    m_position = 0;
    if (!m_speaking) {
        m_segmentLength = static_cast<int>(Uniform(MinPauseMs, MaxPauseMs) * SampleRate / 1000);
        return;
    }
    m_segmentLength = static_cast<int>(Uniform(MinSyllableMs, MaxSyllableMs) * SampleRate / 1000);
    m_pitchStart = m_basePitch * Uniform(0.85, 1.25);
    m_pitchEnd = m_pitchStart * Uniform(0.75, 1.2);
    m_formant1 = Uniform(300, 850);
    m_formant2 = Uniform(900, 2400);
    m_level = Uniform(5000, 11000);
    m_onsetLength = Uniform(0, 1) < 0.6 ? static_cast<int>(Uniform(20, 60) * SampleRate / 1000) : 0;
}

double TalkerSignal::SyllableSample()
{
    const double progress = static_cast<double>(m_position) / m_segmentLength;
    const double pitch = m_pitchStart + (m_pitchEnd - m_pitchStart) * progress;
    m_phase += pitch / SampleRate;
    m_phase -= std::floor(m_phase);

    // The voiced part: harmonics weighted by the two formants and a falling tilt.
    const auto& sine = SineTable();
    double voiced = 0, norm = 0;
    for (int k = 1; k <= MaxHarmonics && k * pitch < MaxVoicedFrequency; ++k) {
        const double f = k * pitch;
        const double gain = Resonance(f, m_formant1, 120) + 0.5 * Resonance(f, m_formant2, 180) + 0.08 / k;
        const double cycles = m_phase * k;
        const auto index = static_cast<size_t>((cycles - std::floor(cycles)) * SineTableSize) % SineTableSize;
        voiced += gain * sine[index];
        norm += gain;
    }
    voiced /= std::max(norm, 1e-9);

    // The consonant onset: differentiated white noise (more energy at high frequencies),
    // fading out while the vowel fades in.
    double noise = 0;
    double voicing = 1;
    if (m_position < m_onsetLength) {
        const double white = Uniform(-1, 1);
        noise = (white - m_lastNoise) * 0.5 * (1.0 - static_cast<double>(m_position) / m_onsetLength);
        m_lastNoise = white;
        voicing = static_cast<double>(m_position) / m_onsetLength;
    }

    // A raised-cosine rise over 20 ms and fall over 40 ms.
    const int rise = SampleRate / 50, fall = SampleRate / 25;
    double envelope = 1;
    if (m_position < rise)
        envelope = 0.5 - 0.5 * std::cos(std::numbers::pi * m_position / rise);
    const int left = m_segmentLength - m_position;
    if (left < fall)
        envelope *= 0.5 - 0.5 * std::cos(std::numbers::pi * left / fall);

    return m_level * (envelope * voicing * voiced * 2.2 + noise * 0.6);
}

void TalkerSignal::Generate(std::span<int16_t> samples)
{
    for (int16_t& sample : samples) {
        if (m_position >= m_segmentLength)
            StartSegment();
        const double value = m_speaking ? SyllableSample() : Uniform(-12, 12); // faint room noise
        sample = static_cast<int16_t>(std::clamp(std::lround(value), -32768l, 32767l));
        ++m_position;
    }
}

} // namespace qrv::tools
