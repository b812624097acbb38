#pragma once

// TSpeexDecoderManager: one Speex decoder per mixer channel 1 to 255. A channel's decoder
// is created by the first frame decoded for it, in the mode set at that moment, and keeps
// that mode and its state until the manager goes: a codec switch changes only the mode of
// decoders created afterwards.

#include "SpeexLibUnit.h"

#include <array>
#include <cstdint>
#include <memory>

namespace qrv {

// What the packet receiver needs of the decoders: the mode for new decoders and the decode
// of one frame for a channel.
class IFrameDecoder {
public:
    virtual ~IFrameDecoder() = default;
    // 0 narrowband, 1 wideband, 2 ultra-wideband, for decoders created from now on.
    virtual void SetSpeexMode(uint8_t mode) = 0;
    // Decodes one frame of `length` bytes for `channel`. On success `pcm` points at
    // `pcmBytes` bytes of 16-bit mono samples, valid until the channel's next decode.
    virtual bool DecodeFrame(int32_t channel, const uint8_t* data, int32_t length,
                             uint32_t& pcmBytes, const uint8_t*& pcm) = 0;
};

class TSpeexDecoderManager final : public IFrameDecoder {
public:
    static constexpr int32_t MaxChannel = 255;
    static constexpr int32_t MaxFrameBytes = 255; // a frame's length is one byte

    TSpeexDecoderManager();
    ~TSpeexDecoderManager() override;
    TSpeexDecoderManager(const TSpeexDecoderManager&) = delete;
    TSpeexDecoderManager& operator=(const TSpeexDecoderManager&) = delete;

    void SetSpeexMode(uint8_t mode) override { FSpeexMode = mode; }
    uint8_t SpeexMode() const { return FSpeexMode; }

    // False for a channel outside 1 to 255, a frame length outside 1 to 255 or no data, and
    // when the channel's decoder cannot be created. Otherwise true with the channel
    // decoder's output, whatever the library reported for this frame (a corrupt frame
    // still yields the buffer as the library left it).
    bool DecodeFrame(int32_t channel, const uint8_t* data, int32_t length,
                     uint32_t& pcmBytes, const uint8_t*& pcm) override;

    // The decoder of `channel` (1 to 255), for inspection; null outside that range.
    const TSpeexLib* Decoder(int32_t channel) const;

private:
    uint8_t FSpeexMode = 0;
    std::array<std::unique_ptr<TSpeexLib>, MaxChannel + 1> FDecoders; // slot 0 unused
};

} // namespace qrv
