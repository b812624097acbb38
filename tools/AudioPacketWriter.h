#pragma once

// Builds the audio packets of audio records the way the live conference system sends
// them: a 16-byte header (little-endian, packed) and, for a data packet, its frames, each
// one length byte and that many bytes of a Speex frame's bit stream.
//
//   0 Marker (0xF1 data)   1 AudioCodec (3 = Speex wideband)   2 DataSize (u16)
//   4 SyncTag (u16)        6 SyncTime (u32)                    10 ChannelID
//   11 PacketCount         12 UserData (u32)

#include "TalkerSignal.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace qrv::tools {

inline constexpr size_t AudioPacketHeaderSize = 16;
inline constexpr uint8_t AudioDataMarker = 0xF1;
inline constexpr uint8_t AudioCodecSpeexWideband = 3;
inline constexpr int SpeexWidebandFrameSamples = 320; // 20 ms at 16 kHz
inline constexpr int SpeexFramesPerPacket = 3;        // 60 ms per packet
inline constexpr size_t MaxAudioFramesPerPacket = 50;
inline constexpr size_t MaxAudioPacketSize = 8191;    // the receiver drops 8192 bytes and more

struct AudioPacketFields {
    uint8_t AudioCodec = AudioCodecSpeexWideband;
    uint16_t SyncTag = 0;
    uint32_t SyncTime = 0;
    uint8_t ChannelID = 0;
    uint32_t UserData = 0;
};

// A data packet holding `frames` in order. Empty when a frame is longer than 255 bytes,
// there are more than 50 frames or the packet would reach 8192 bytes.
std::vector<uint8_t> BuildAudioDataPacket(const AudioPacketFields& fields,
                                          std::span<const std::vector<uint8_t>> frames);

// Speex wideband encoder for 20 ms frames of 16-bit mono PCM at 16 kHz.
class SpeexWidebandEncoder {
public:
    explicit SpeexWidebandEncoder(int quality = 8);
    ~SpeexWidebandEncoder();
    SpeexWidebandEncoder(const SpeexWidebandEncoder&) = delete;
    SpeexWidebandEncoder& operator=(const SpeexWidebandEncoder&) = delete;

    // The bit-stream bytes of one frame of SpeexWidebandFrameSamples samples.
    std::vector<uint8_t> EncodeFrame(std::span<const int16_t, SpeexWidebandFrameSamples> pcm);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The packets of one talker channel: TalkerSignal encoded 60 ms at a time. SyncTag counts
// the channel's packets (wrapping at 16 bits) and UserData numbers them.
class TalkerPacketSource {
public:
    TalkerPacketSource(uint8_t channel, uint32_t seed, int quality = 8);

    // The next packet; `syncTimeMs` is the play time of its first sample.
    std::vector<uint8_t> NextPacket(uint32_t syncTimeMs);

private:
    uint8_t m_channel;
    TalkerSignal m_signal;
    SpeexWidebandEncoder m_encoder;
    uint32_t m_packetNumber = 0;
};

} // namespace qrv::tools
