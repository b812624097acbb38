#pragma once

// TPacketReceiver: the mixer's side of the audio connection, without the socket. The form
// hands it every read event of the connection; it throws away the first second of data,
// reassembles packets from the byte stream in FRecvStream, switches the codec type,
// obeys commands, decodes the Speex frames of data packets into the channel mixer, posts
// WM_AUDIO_FRAME per frame and queues one timing entry per data packet.
//
// The byte stream: packets back to back, each a 16-byte little-endian header
//
//   0 Marker      0xF1 data, 0xE1 command; anything else is a stream error
//   1 AudioCodec  0/1 consumed unplayed, 2/3/4 Speex narrow/wide/ultra-wide band, 5+ ignored
//   2 DataSize    u16 payload bytes after the header; 8192 or more is a stream error
//   4 SyncTag     u16, echoed in WM_AUDIO_SYNC
//   6 SyncTime    u32, echoed in WM_AUDIO_FRAME and WM_AUDIO_SYNC
//  10 ChannelID   mixer channel 1 to 255
//  11 PacketCount frames in a data packet (0 to 50) / the command code of a command packet
//  12 UserData    u32, echoed in WM_AUDIO_FRAME
//
// followed by DataSize payload bytes; a data packet's payload is PacketCount frames, each
// one length byte L and L bytes of one Speex frame. A stream error discards everything
// buffered; the next bytes are read as the start of a new packet.
//
// Memory: at most 8192 bytes are taken per read event and the packet loop never leaves
// 8192 bytes or more behind, so FRecvStream stays below 16384 bytes whatever arrives.
//
// Threads: everything here runs in the mixer's main thread. The packet lock is held while
// a data packet is processed.

#include "AudioMessages.h"
#include "DSAudioMixerQRV.h"
#include "MixerLog.h"
#include "SpeexDecoderManagerUnit.h"
#include "Unit_EQSyncManager.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qrv {

inline constexpr size_t MAX_RECEIVE_BUFFER_SIZE = 8192; // bytes taken per read event
inline constexpr size_t AudioHeaderSize = 16;
inline constexpr uint8_t AudioDataMarker = 0xF1;
inline constexpr uint8_t AudioCommandMarker = 0xE1;
inline constexpr uint8_t MaxPacketFrames = 50;

enum class TCXCommand : uint8_t { cxStartMixer = 1, cxStopMixer = 2, cxStopChannel = 4 };

// The channel mixer as the receiver drives it; TQRVDirectSound in the program, a recorder
// in tests. StartMixer and StopChannel may throw; the packet loop reports what they throw.
class IChannelMixer {
public:
    virtual ~IChannelMixer() = default;
    virtual void SetInputFormat(const TWaveFormatRecord& record) = 0;
    virtual void SetOutputFormat(const TWaveFormatRecord& record) = 0;
    virtual void StartMixer() = 0;
    virtual void StopMixer() = 0;
    virtual void ClearMixer() = 0;
    virtual bool Started() const = 0;
    virtual void WritePCM(int channel, const uint8_t* pcm, uint32_t bytes) = 0;
    virtual void StopChannel(int channel) = 0;
};

// IChannelMixer over the real channel mixer.
class TQRVDirectSoundMixer final : public IChannelMixer {
public:
    explicit TQRVDirectSoundMixer(TQRVDirectSound& mixer) : m_mixer(mixer) {}
    void SetInputFormat(const TWaveFormatRecord& record) override { m_mixer.SetInputFormat(record); }
    void SetOutputFormat(const TWaveFormatRecord& record) override { m_mixer.SetOutputFormat(record); }
    void StartMixer() override { m_mixer.StartMixer(); }
    void StopMixer() override { m_mixer.StopMixer(); }
    void ClearMixer() override { m_mixer.ClearMixer(); }
    bool Started() const override { return m_mixer.Started(); }
    void WritePCM(int channel, const uint8_t* pcm, uint32_t bytes) override { m_mixer.WritePCM(channel, pcm, bytes); }
    void StopChannel(int channel) override { m_mixer.StopChannel(channel); }

private:
    TQRVDirectSound& m_mixer;
};

// The fields of a packet header.
struct TAudioPacketHeader {
    uint8_t Marker = 0;
    uint8_t AudioCodec = 0;
    uint16_t DataSize = 0;
    uint16_t SyncTag = 0;
    uint32_t SyncTime = 0;
    uint8_t ChannelID = 0;
    uint8_t PacketCount = 0; // the command code in a command packet
    uint32_t UserData = 0;

    static TAudioPacketHeader Read(const uint8_t* at);
};

// What the form does after a read event.
enum class TReadOutcome {
    DeferStarted,    // first read: bytes discarded, start the 1000 ms defer timer
    NotAccepting,    // during the defer period: bytes discarded
    TooMuchWaiting,  // more than 8192 bytes were waiting: all discarded
    Processed,       // bytes taken in and the packet loop run
};

class TPacketReceiver {
public:
    // Reads up to `max` bytes of the connection into `into`; answers how many it read.
    using ReadFunction = std::function<size_t(uint8_t* into, size_t max)>;
    // (window handle, message, wParam, lParam) -> posted; failures are ignored.
    using Poster = std::function<bool(uint32_t, uint32_t, uint32_t, uint32_t)>;
    using DebugOutput = std::function<void(std::string_view)>;
    using Clock = std::function<uint32_t()>;
    // Queues the timing entry of a processed data packet (SyncTime, SyncTag, tick count);
    // TEQSyncManager::AddAudioInfo in the program.
    using TimingQueue = std::function<void(uint32_t syncTime, uint32_t syncTag, uint32_t received)>;

    struct Services {
        IChannelMixer* Mixer = nullptr;
        IFrameDecoder* Decoder = nullptr;
        TimingQueue QueueTiming;
        IMixerLog* Log = nullptr; // may be null
        Poster Post;
        DebugOutput Debug;
        Clock TickCount;
    };

    // `playerWnd` receives the messages (-1: none); `audioCodec` is the current codec type.
    // The current formats start as the design-time pair (input PCM 22050 Hz, output MPEG
    // Layer-3) that SelectCodecFormats replaces for codec types 0 to 4.
    TPacketReceiver(Services services, int32_t playerWnd, int32_t audioCodec);

    // Copies the format records of codec type 0 to 4 into the current formats and answers
    // 0; changes nothing and answers 1 for any other value.
    int SelectCodecFormats(int32_t codec);
    // Switches the mixer to another codec type: restarts it at the type's formats and
    // sets the mode of new decoders. Throws what the mixer throws.
    void ChangeCodec(int32_t codec);

    // A read event with `waiting` bytes on the connection; see TReadOutcome.
    TReadOutcome ReadEvent(size_t waiting, const ReadFunction& read);
    // The defer timer fired: packets are processed from now on.
    void DeferStartTimerFired() { AcceptPacket = true; }

    // Appends bytes to FRecvStream and runs the packet loop, as a read event does once
    // packets are accepted (for tests and the fuzz target; no 8192-byte limit here).
    void Receive(std::span<const uint8_t> bytes);

    // "[CXMixer] " + text to the debug output.
    void DebugOut(std::string_view text) const;

    int32_t PlayerWnd() const { return FPlayerWnd; }
    int32_t AudioCodec() const { return FAudioCodec; }
    bool FirstRead() const { return FFirstRead; }
    bool Accepting() const { return AcceptPacket; }
    // Bytes received and not yet consumed.
    size_t StreamSize() const { return FRecvStream.size() - FStreamStart; }
    // Bytes held for the stream, consumed ones included (for the memory bound).
    size_t StreamCapacityUsed() const { return FRecvStream.size(); }
    const TCodecFormatRecords& CurrentFormats() const { return FCurrentFormats; }

private:
    void PacketLoop();
    void Dispatch(const TAudioPacketHeader& header, const uint8_t* payload, bool& leave);
    void ProcessAudioPacket(const TAudioPacketHeader& header, const uint8_t* payload);
    void EmptyStream();
    void Consume(size_t count);
    void Log(const std::string& text) const;
    void Debug(const std::string& line) const;
    void Post(uint32_t msg, uint32_t wParam, uint32_t lParam) const;
    void DiscardWaiting(size_t waiting, const ReadFunction& read);

    Services FServices;
    std::vector<uint8_t> FRecvStream; // consumed bytes are dropped at the end of each loop
    size_t FStreamStart = 0;          // first unconsumed byte of FRecvStream
    std::vector<uint8_t> FReceiveBuffer;
    int32_t FPlayerWnd;
    int32_t FAudioCodec;
    bool FFirstRead = false;
    bool AcceptPacket = false;
    std::mutex FPacketLock;
    TCodecFormatRecords FCurrentFormats; // the formats of the current codec type
};

// The mixer's command line: window handle, codec type, port.
struct TMixerArguments {
    int32_t PlayerWnd = -1;
    int32_t AudioCodec = 3;
    int32_t Port = 0; // 0: no port given, the connection cannot be made
};

// `arguments` are those after the program name. They are read only when there are at least
// three: the handle as a signed 32-bit decimal (-1 when not a number), the codec type (3
// when not a number) and the port (803 when not a number). With fewer the defaults stay
// and there is no port.
TMixerArguments ParseMixerArguments(const std::vector<std::string>& arguments);

// A whole decimal number in the signed 32-bit range, with an optional sign; false for
// anything else (blanks, other characters, out of range).
bool ParseDecimalInt32(const std::string& text, int32_t& value);

} // namespace qrv
