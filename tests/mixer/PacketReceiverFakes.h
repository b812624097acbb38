#pragma once

// Fakes around TPacketReceiver for the tests and the fuzz target: a channel mixer, a frame
// decoder, a log and the posting, debug and timing functions, all writing one event list
// so that a test reads what happened in order.
//
// The fake decoder "decodes" a frame into its own bytes, so WritePCM shows exactly which
// payload bytes were taken as a frame.

#include "PacketReceiver.h"

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace qrv::test {

inline std::string HexBytes(const uint8_t* data, size_t count)
{
    std::string text;
    char byte[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", data[i]);
        text += byte;
    }
    return text;
}

struct ReceiverEvents {
    std::vector<std::string> List;
    void Add(std::string event) { List.push_back(std::move(event)); }
};

class FakeChannelMixer final : public IChannelMixer {
public:
    explicit FakeChannelMixer(ReceiverEvents& events) : m_events(events) {}

    bool IsStarted = true;
    std::string StartThrows; // when set, StartMixer throws EMixerError with this text

    void SetInputFormat(const TWaveFormatRecord& record) override
    {
        m_events.Add("in " + std::to_string(record.Format.nSamplesPerSec));
    }
    void SetOutputFormat(const TWaveFormatRecord& record) override
    {
        m_events.Add("out " + std::to_string(record.Format.nSamplesPerSec));
    }
    void StartMixer() override
    {
        m_events.Add("start");
        if (!StartThrows.empty())
            throw EMixerError(StartThrows);
        IsStarted = true;
    }
    void StopMixer() override
    {
        m_events.Add("stop");
        IsStarted = false;
    }
    void ClearMixer() override
    {
        m_events.Add("clear");
        IsStarted = false;
    }
    bool Started() const override { return IsStarted; }
    void WritePCM(int channel, const uint8_t* pcm, uint32_t bytes) override
    {
        m_events.Add("pcm " + std::to_string(channel) + " [" + HexBytes(pcm, bytes) + "]");
    }
    void StopChannel(int channel) override { m_events.Add("stopch " + std::to_string(channel)); }

private:
    ReceiverEvents& m_events;
};

class EchoDecoder final : public IFrameDecoder {
public:
    explicit EchoDecoder(ReceiverEvents& events) : m_events(events) {}
    void SetSpeexMode(uint8_t mode) override { m_events.Add("mode " + std::to_string(mode)); }
    bool DecodeFrame(int32_t channel, const uint8_t* data, int32_t length, uint32_t& pcmBytes,
                     const uint8_t*& pcm) override
    {
        if (channel < 1 || channel > 255)
            return false;
        m_last.assign(data, data + length);
        pcm = m_last.data();
        pcmBytes = static_cast<uint32_t>(m_last.size());
        return true;
    }

private:
    ReceiverEvents& m_events;
    std::vector<uint8_t> m_last;
};

class FakeLog final : public IMixerLog {
public:
    explicit FakeLog(ReceiverEvents& events) : m_events(events) {}
    bool WriteLog(const std::string& text, bool) override
    {
        m_events.Add("log " + text);
        return true;
    }

private:
    ReceiverEvents& m_events;
};

// Services writing to `events`; debug lines are recorded as "debug <line>", posts as
// "post <msg> <wParam> <lParam>", timing entries as "sync <SyncTime> <SyncTag> <tick>".
inline TPacketReceiver::Services RecordingServices(ReceiverEvents& events, IChannelMixer& mixer,
                                                   IFrameDecoder& decoder, IMixerLog& log,
                                                   uint32_t& now)
{
    TPacketReceiver::Services services;
    services.Mixer = &mixer;
    services.Decoder = &decoder;
    services.Log = &log;
    services.Post = [&events](uint32_t, uint32_t msg, uint32_t wParam, uint32_t lParam) {
        events.Add("post " + std::to_string(msg) + " " + std::to_string(wParam) + " " + std::to_string(lParam));
        return true;
    };
    services.Debug = [&events](std::string_view line) { events.Add("debug " + std::string(line)); };
    services.QueueTiming = [&events](uint32_t syncTime, uint32_t syncTag, uint32_t received) {
        events.Add("sync " + std::to_string(syncTime) + " " + std::to_string(syncTag) + " " + std::to_string(received));
    };
    services.TickCount = [&now] { return now; };
    return services;
}

// One packet's bytes. `frames` become the payload (length byte + bytes each) unless
// `rawPayload` is given; `dataSize` overrides the header's DataSize field.
struct PacketShape {
    uint8_t Marker = AudioDataMarker;
    uint8_t AudioCodec = 3;
    uint16_t SyncTag = 0;
    uint32_t SyncTime = 0;
    uint8_t ChannelID = 1;
    int PacketCount = -1; // -1: the number of frames
    uint32_t UserData = 0;
    std::vector<std::vector<uint8_t>> Frames = {};
    std::vector<uint8_t> RawPayload = {};
    int DataSize = -1; // -1: the payload's size
};

inline std::vector<uint8_t> BuildPacket(const PacketShape& packet)
{
    std::vector<uint8_t> payload = packet.RawPayload;
    for (const auto& frame : packet.Frames) {
        payload.push_back(static_cast<uint8_t>(frame.size()));
        payload.insert(payload.end(), frame.begin(), frame.end());
    }
    const uint16_t dataSize = static_cast<uint16_t>(packet.DataSize >= 0 ? packet.DataSize : static_cast<int>(payload.size()));
    const uint8_t count = static_cast<uint8_t>(packet.PacketCount >= 0 ? packet.PacketCount : static_cast<int>(packet.Frames.size()));
    std::vector<uint8_t> bytes(AudioHeaderSize);
    bytes[0] = packet.Marker;
    bytes[1] = packet.AudioCodec;
    bytes[2] = static_cast<uint8_t>(dataSize);
    bytes[3] = static_cast<uint8_t>(dataSize >> 8);
    bytes[4] = static_cast<uint8_t>(packet.SyncTag);
    bytes[5] = static_cast<uint8_t>(packet.SyncTag >> 8);
    for (int i = 0; i < 4; ++i) {
        bytes[static_cast<size_t>(6 + i)] = static_cast<uint8_t>(packet.SyncTime >> (8 * i));
        bytes[static_cast<size_t>(12 + i)] = static_cast<uint8_t>(packet.UserData >> (8 * i));
    }
    bytes[10] = packet.ChannelID;
    bytes[11] = count;
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

} // namespace qrv::test
