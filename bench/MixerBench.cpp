// CPU cost of the channel mixer per 20 ms push period, with all 255 channels in the table
// (the first refill round creates them) and `talkers` of them receiving sound.
//
// BM_MixerPeriod: what the mixer process does every 20 ms: the decoded sound of each talker
// is queued (one 640-byte frame at 16 kHz), the output mixes 20 ms, and one refill round
// runs. Its CPU time over 20 ms is the mixer's share of one core (bench/run.sh mixer).
// BM_PushAllRound: the refill round alone; the table lock is held this long, so it is also
// the longest a WritePCM or StopChannel of the main thread waits for the push thread.
//
// Arguments: 0 talkers (idle: no channel has ever had sound), 2 (two people speaking, the
// usual case), 255 (every channel has had sound once: a channel plays on, refilled with
// silence, until it is stopped).

#include "DSAudioMixerQRV.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace qrv {
namespace {

constexpr uint32_t kPeriodMs = 20;
constexpr uint32_t kFrameBytes = 640;  // 20 ms of 16-bit mono at 16 kHz
constexpr uint32_t kPeriodFrames = 320;

struct SteadyMixer {
    explicit SteadyMixer(int talkers)
        : Talkers(talkers),
          Mixer(nullptr, TQRVMixerOptions{[](IDirectSound** device) { return DirectSoundCreateManual(device); },
                                          [this] { return Now; }, false})
    {
        const auto records = CodecFormatRecords(3);
        Mixer.SetInputFormat(records->Input);
        Mixer.SetOutputFormat(records->Output);
        Mixer.StartMixer();
        Frame.assign(kFrameBytes, 0);
        for (size_t i = 0; i < Frame.size(); i += 2)
            Frame[i + 1] = static_cast<uint8_t>(i); // some sound
        Out.resize(kPeriodFrames);
        // One second of steady state: every channel created, the talkers' buffers playing.
        for (int i = 0; i < 50; ++i) {
            Queue();
            Period();
        }
    }

    void Queue()
    {
        for (int channel = 1; channel <= Talkers; ++channel)
            Mixer.WritePCM(channel, Frame.data(), kFrameBytes);
    }

    void Period()
    {
        Mixer.DirectSound()->MixForTests(Out.data(), kPeriodFrames);
        Now += kPeriodMs;
        Mixer.PushAll();
    }

    int Talkers;
    uint32_t Now = 1000;
    TQRVDirectSound Mixer;
    std::vector<uint8_t> Frame;
    std::vector<int16_t> Out;
};

void BM_MixerPeriod(benchmark::State& state)
{
    SteadyMixer m(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        m.Queue();
        m.Period();
        benchmark::DoNotOptimize(m.Out.data());
    }
}
BENCHMARK(BM_MixerPeriod)->Arg(0)->Arg(2)->Arg(255)->Unit(benchmark::kMicrosecond);

void BM_PushAllRound(benchmark::State& state)
{
    SteadyMixer m(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        m.Queue();
        m.Mixer.DirectSound()->MixForTests(m.Out.data(), kPeriodFrames);
        m.Now += kPeriodMs;
        state.ResumeTiming();
        m.Mixer.PushAll();
    }
}
BENCHMARK(BM_PushAllRound)->Arg(0)->Arg(2)->Arg(255)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace qrv

BENCHMARK_MAIN();
