#include "AudioPacketWriter.h"

#include "ByteOrder.h"

#include <algorithm>
#include <array>
#include <speex/speex.h>

namespace qrv::tools {

std::vector<uint8_t> BuildAudioDataPacket(const AudioPacketFields& fields,
                                          std::span<const std::vector<uint8_t>> frames)
{
    if (frames.size() > MaxAudioFramesPerPacket)
        return {};
    size_t dataSize = 0;
    for (const auto& frame : frames) {
        if (frame.size() > 255)
            return {};
        dataSize += 1 + frame.size();
    }
    if (AudioPacketHeaderSize + dataSize > MaxAudioPacketSize)
        return {};

    std::vector<uint8_t> packet(AudioPacketHeaderSize);
    packet.reserve(AudioPacketHeaderSize + dataSize);
    packet[0] = AudioDataMarker;
    packet[1] = fields.AudioCodec;
    StoreLE<uint16_t>(&packet[2], static_cast<uint16_t>(dataSize));
    StoreLE<uint16_t>(&packet[4], fields.SyncTag);
    StoreLE<uint32_t>(&packet[6], fields.SyncTime);
    packet[10] = fields.ChannelID;
    packet[11] = static_cast<uint8_t>(frames.size());
    StoreLE<uint32_t>(&packet[12], fields.UserData);
    for (const auto& frame : frames) {
        packet.push_back(static_cast<uint8_t>(frame.size()));
        packet.insert(packet.end(), frame.begin(), frame.end());
    }
    return packet;
}

struct SpeexWidebandEncoder::State {
    void* Encoder = nullptr;
    SpeexBits Bits{};

    ~State()
    {
        if (Encoder != nullptr)
            speex_encoder_destroy(Encoder);
        speex_bits_destroy(&Bits);
    }
};

SpeexWidebandEncoder::SpeexWidebandEncoder(int quality) : m_state(std::make_unique<State>())
{
    speex_bits_init(&m_state->Bits);
    m_state->Encoder = speex_encoder_init(speex_lib_get_mode(SPEEX_MODEID_WB));
    speex_encoder_ctl(m_state->Encoder, SPEEX_SET_QUALITY, &quality);
}

SpeexWidebandEncoder::~SpeexWidebandEncoder() = default;

std::vector<uint8_t> SpeexWidebandEncoder::EncodeFrame(std::span<const int16_t, SpeexWidebandFrameSamples> pcm)
{
    std::array<spx_int16_t, SpeexWidebandFrameSamples> input;
    std::copy(pcm.begin(), pcm.end(), input.begin());
    speex_bits_reset(&m_state->Bits);
    speex_encode_int(m_state->Encoder, input.data(), &m_state->Bits);
    std::array<char, 256> bytes;
    const int size = speex_bits_write(&m_state->Bits, bytes.data(), static_cast<int>(bytes.size()) - 1);
    return std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::max(size, 0));
}

TalkerPacketSource::TalkerPacketSource(uint8_t channel, uint32_t seed, int quality)
    : m_channel(channel), m_signal(channel, seed), m_encoder(quality)
{
}

std::vector<uint8_t> TalkerPacketSource::NextPacket(uint32_t syncTimeMs)
{
    std::array<std::vector<uint8_t>, SpeexFramesPerPacket> frames;
    std::array<int16_t, SpeexWidebandFrameSamples> pcm;
    for (auto& frame : frames) {
        m_signal.Generate(pcm);
        frame = m_encoder.EncodeFrame(pcm);
    }
    AudioPacketFields fields;
    fields.SyncTag = static_cast<uint16_t>(m_packetNumber);
    fields.SyncTime = syncTimeMs;
    fields.ChannelID = m_channel;
    fields.UserData = m_packetNumber;
    ++m_packetNumber;
    return BuildAudioDataPacket(fields, frames);
}

} // namespace qrv::tools
