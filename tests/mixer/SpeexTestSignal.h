#pragma once

// Speex frames for the mixer's tests: a tone encoded in any of the three modes with the
// library's own encoder, 20 ms per frame.

#include <speex/speex.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace qrv::test {

// Samples per 20 ms frame and sampling rate of Speex mode 0, 1, 2.
inline int SpeexFrameSamples(int mode) { return 160 << mode; }
inline int SpeexRate(int mode) { return 8000 << mode; }

// `count` frames of a sine tone of `hz` at amplitude 8000, encoded in `mode`.
inline std::vector<std::vector<uint8_t>> EncodeToneFrames(int mode, int count, double hz = 440.0)
{
    void* encoder = speex_encoder_init(speex_lib_get_mode(mode));
    int quality = 8;
    speex_encoder_ctl(encoder, SPEEX_SET_QUALITY, &quality);
    SpeexBits bits;
    speex_bits_init(&bits);
    const int samples = SpeexFrameSamples(mode);
    std::vector<spx_int16_t> pcm(static_cast<size_t>(samples));
    std::vector<std::vector<uint8_t>> frames;
    for (int f = 0; f < count; ++f) {
        for (int i = 0; i < samples; ++i) {
            const double t = static_cast<double>(f * samples + i) / SpeexRate(mode);
            pcm[static_cast<size_t>(i)] = static_cast<spx_int16_t>(8000.0 * std::sin(2.0 * M_PI * hz * t));
        }
        speex_bits_reset(&bits);
        speex_encode_int(encoder, pcm.data(), &bits);
        char bytes[256];
        const int n = speex_bits_write(&bits, bytes, 255);
        frames.emplace_back(bytes, bytes + n);
    }
    speex_bits_destroy(&bits);
    speex_encoder_destroy(encoder);
    return frames;
}

} // namespace qrv::test
