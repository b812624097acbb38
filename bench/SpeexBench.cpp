// The mixer's Speex decoding per 20 ms frame (TSpeexDecoderManager::DecodeFrame: channel
// lookup, decoder created on first use, bit-buffer read, integer decode) against the
// library's own decode loop on the same frames, for each of the three modes.

#include "SpeexDecoderManagerUnit.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <speex/speex.h>
#include <vector>

namespace {

constexpr int FrameCount = 250; // five seconds of speech-like sound

// Frames of a tone with a slow vibrato and some noise, encoded at quality 8.
const std::vector<std::vector<uint8_t>>& Frames(int mode)
{
    static std::vector<std::vector<uint8_t>> frames[3];
    auto& out = frames[mode];
    if (!out.empty())
        return out;
    void* encoder = speex_encoder_init(speex_lib_get_mode(mode));
    int quality = 8;
    speex_encoder_ctl(encoder, SPEEX_SET_QUALITY, &quality);
    int frameSize = 0;
    speex_encoder_ctl(encoder, SPEEX_GET_FRAME_SIZE, &frameSize);
    SpeexBits bits;
    speex_bits_init(&bits);
    std::vector<spx_int16_t> pcm(static_cast<size_t>(frameSize));
    const double rate = 8000.0 * (1 << mode);
    uint32_t noise = 1;
    for (int f = 0; f < FrameCount; ++f) {
        for (int i = 0; i < frameSize; ++i) {
            const double t = (f * frameSize + i) / rate;
            noise = noise * 1664525u + 1013904223u;
            const double hz = 220.0 + 60.0 * std::sin(2 * M_PI * 3 * t);
            pcm[static_cast<size_t>(i)] = static_cast<spx_int16_t>(6000 * std::sin(2 * M_PI * hz * t) + (noise >> 24) * 4 - 512);
        }
        speex_bits_reset(&bits);
        speex_encode_int(encoder, pcm.data(), &bits);
        char bytes[256];
        const int n = speex_bits_write(&bits, bytes, 255);
        out.emplace_back(bytes, bytes + n);
    }
    speex_bits_destroy(&bits);
    speex_encoder_destroy(encoder);
    return out;
}

void BM_DecodeFrame(benchmark::State& state)
{
    const int mode = static_cast<int>(state.range(0));
    const auto& frames = Frames(mode);
    qrv::TSpeexDecoderManager manager;
    manager.SetSpeexMode(static_cast<uint8_t>(mode));
    size_t i = 0;
    for (auto _ : state) {
        uint32_t bytes = 0;
        const uint8_t* pcm = nullptr;
        const auto& frame = frames[i++ % frames.size()];
        manager.DecodeFrame(7, frame.data(), static_cast<int32_t>(frame.size()), bytes, pcm);
        benchmark::DoNotOptimize(pcm);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_LibraryLoop(benchmark::State& state)
{
    const int mode = static_cast<int>(state.range(0));
    const auto& frames = Frames(mode);
    void* decoder = speex_decoder_init(speex_lib_get_mode(mode));
    int enhance = 1;
    speex_decoder_ctl(decoder, SPEEX_SET_ENH, &enhance);
    int frameSize = 0;
    speex_decoder_ctl(decoder, SPEEX_GET_FRAME_SIZE, &frameSize);
    SpeexBits bits;
    speex_bits_init(&bits);
    std::vector<spx_int16_t> pcm(static_cast<size_t>(frameSize));
    size_t i = 0;
    for (auto _ : state) {
        const auto& frame = frames[i++ % frames.size()];
        speex_bits_read_from(&bits, reinterpret_cast<const char*>(frame.data()), static_cast<int>(frame.size()));
        speex_decode_int(decoder, &bits, pcm.data());
        benchmark::DoNotOptimize(pcm.data());
    }
    speex_bits_destroy(&bits);
    speex_decoder_destroy(decoder);
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_DecodeFrame)->DenseRange(0, 2)->ArgName("mode");
BENCHMARK(BM_LibraryLoop)->DenseRange(0, 2)->ArgName("mode");
BENCHMARK_MAIN();
