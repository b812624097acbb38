#include "PacketReceiver.h"

#include "ByteOrder.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <exception>
#include <utility>

namespace qrv {

namespace {

constexpr int32_t DefaultPort = 803;     // the port when argument 3 is not a number
constexpr int32_t DefaultAudioCodec = 3; // Speex wideband

// The formats the form holds before any codec type is selected: input PCM at 22050 Hz and
// output MPEG Layer-3, the pair of codec type 1 the other way round. The mixer cannot
// play MPEG Layer-3, so a codec type outside 0 to 4 on the command line leaves it unable
// to start.
TCodecFormatRecords DesignTimeFormats()
{
    TCodecFormatRecords formats{};
    if (auto mp3 = CodecFormatRecords(1)) {
        formats.Input = mp3->Output;
        formats.Output = mp3->Input;
    }
    return formats;
}

std::string Format(const char* pattern, int value)
{
    char text[128];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

} // namespace

TAudioPacketHeader TAudioPacketHeader::Read(const uint8_t* at)
{
    TAudioPacketHeader header;
    header.Marker = at[0];
    header.AudioCodec = at[1];
    header.DataSize = LoadU16(at + 2);
    header.SyncTag = LoadU16(at + 4);
    header.SyncTime = LoadU32(at + 6);
    header.ChannelID = at[10];
    header.PacketCount = at[11];
    header.UserData = LoadU32(at + 12);
    return header;
}

TPacketReceiver::TPacketReceiver(Services services, int32_t playerWnd, int32_t audioCodec)
    : FServices(std::move(services)),
      FReceiveBuffer(MAX_RECEIVE_BUFFER_SIZE),
      FPlayerWnd(playerWnd),
      FAudioCodec(audioCodec),
      FCurrentFormats(DesignTimeFormats())
{
    FRecvStream.reserve(2 * MAX_RECEIVE_BUFFER_SIZE);
}

int TPacketReceiver::SelectCodecFormats(int32_t codec)
{
    const auto formats = CodecFormatRecords(codec);
    if (!formats)
        return 1;
    FCurrentFormats = *formats;
    return 0;
}

void TPacketReceiver::ChangeCodec(int32_t codec)
{
    FAudioCodec = codec;
    if (FServices.Mixer->Started())
        FServices.Mixer->StopMixer();
    SelectCodecFormats(FAudioCodec);
    if (FAudioCodec >= 2 && FAudioCodec <= 4)
        FServices.Decoder->SetSpeexMode(static_cast<uint8_t>(FAudioCodec - 2));
    FServices.Mixer->SetInputFormat(FCurrentFormats.Input);
    FServices.Mixer->SetOutputFormat(FCurrentFormats.Output);
    FServices.Mixer->StartMixer();
    Debug(Format("[CXMIXER] Codec Change : AudioCodec=%d", FAudioCodec));
}

TReadOutcome TPacketReceiver::ReadEvent(size_t waiting, const ReadFunction& read)
{
    if (!FFirstRead) {
        FFirstRead = true;
        DiscardWaiting(waiting, read);
        DebugOut("Defer Start Timer Enabled...");
        return TReadOutcome::DeferStarted;
    }
    if (!AcceptPacket) {
        DiscardWaiting(waiting, read);
        DebugOut("AcceptPacket = False");
        return TReadOutcome::NotAccepting;
    }
    if (waiting > MAX_RECEIVE_BUFFER_SIZE) {
        DiscardWaiting(waiting, read);
        DebugOut("RcvSize > MAX_RECEIVE_BUFFER_SIZE");
        return TReadOutcome::TooMuchWaiting;
    }
    const size_t got = read ? std::min(read(FReceiveBuffer.data(), MAX_RECEIVE_BUFFER_SIZE), MAX_RECEIVE_BUFFER_SIZE) : 0;
    FRecvStream.insert(FRecvStream.end(), FReceiveBuffer.begin(), FReceiveBuffer.begin() + static_cast<std::ptrdiff_t>(got));
    PacketLoop();
    return TReadOutcome::Processed;
}

void TPacketReceiver::DiscardWaiting(size_t waiting, const ReadFunction& read)
{
    if (!read)
        return;
    while (waiting > 0) {
        const size_t got = read(FReceiveBuffer.data(), std::min(waiting, FReceiveBuffer.size()));
        if (got == 0)
            break;
        waiting -= std::min(got, waiting);
    }
}

void TPacketReceiver::Receive(std::span<const uint8_t> bytes)
{
    FRecvStream.insert(FRecvStream.end(), bytes.begin(), bytes.end());
    PacketLoop();
}

void TPacketReceiver::PacketLoop()
{
    try {
        while (StreamSize() >= AudioHeaderSize) {
            const uint8_t* front = FRecvStream.data() + FStreamStart;
            const TAudioPacketHeader header = TAudioPacketHeader::Read(front);
            if (header.Marker != AudioDataMarker && header.Marker != AudioCommandMarker) {
                EmptyStream();
                Log("Header is invalid.");
                Debug("[CXMIXER] Header is invalid.");
                break;
            }
            if (header.Marker == AudioDataMarker && header.DataSize == 0) {
                Consume(AudioHeaderSize);
                continue;
            }
            if (StreamSize() >= MAX_RECEIVE_BUFFER_SIZE) {
                EmptyStream();
                Debug("[CXMIXER] Stream size invalid.");
                Log("Stream size invalid.");
                break;
            }
            if (header.DataSize >= MAX_RECEIVE_BUFFER_SIZE) {
                EmptyStream();
                Debug("[CXMIXER] DataSize invalid.");
                Log("DataSize invalid.");
                break;
            }
            const size_t packetBytes = AudioHeaderSize + header.DataSize;
            if (StreamSize() < packetBytes)
                break;

            bool leave = false;
            Dispatch(header, front + AudioHeaderSize, leave);
            Consume(packetBytes);
            if (leave)
                break;
        }
    } catch (const std::exception& error) {
        DebugOut(error.what());
        EmptyStream();
        Log(std::string("Error : Play ") + error.what());
    } catch (...) {
        DebugOut("Unknown exception");
        EmptyStream();
        Log("Error : Play Unknown exception");
    }
    // Move what is left to the front, so the stream never holds consumed bytes between
    // read events.
    if (FStreamStart > 0) {
        FRecvStream.erase(FRecvStream.begin(), FRecvStream.begin() + static_cast<std::ptrdiff_t>(FStreamStart));
        FStreamStart = 0;
    }
}

void TPacketReceiver::Dispatch(const TAudioPacketHeader& header, const uint8_t* payload, bool& leave)
{
    if (header.AudioCodec < 2 || header.AudioCodec > 4)
        return; // 0 and 1: consumed unplayed; 5 and above: ignored
    if (header.AudioCodec != FAudioCodec)
        ChangeCodec(header.AudioCodec);

    if (header.Marker == AudioCommandMarker) {
        const int command = header.PacketCount;
        switch (command) {
        case static_cast<int>(TCXCommand::cxStartMixer):
            if (!FServices.Mixer->Started())
                FServices.Mixer->StartMixer();
            break;
        case static_cast<int>(TCXCommand::cxStopMixer):
            if (FServices.Mixer->Started())
                FServices.Mixer->ClearMixer();
            break;
        case static_cast<int>(TCXCommand::cxStopChannel):
            Debug(Format("[CXMIXER] CXCommand Stop Channel=%d", header.ChannelID));
            FServices.Mixer->StopChannel(header.ChannelID);
            break;
        default:
            Debug(Format("[CXMIXER] CXCommand UnRegistered=%d", command));
            break;
        }
        return;
    }

    if (header.PacketCount > MaxPacketFrames) {
        EmptyStream();
        Log("PacketCount invalid.");
        leave = true;
        return;
    }
    ProcessAudioPacket(header, payload);
}

void TPacketReceiver::ProcessAudioPacket(const TAudioPacketHeader& header, const uint8_t* payload)
{
    std::lock_guard lock(FPacketLock);
    try {
        const int channel = header.ChannelID;
        const size_t dataSize = header.DataSize;
        // The payload in a buffer of its own, exactly its size: the frames are walked in
        // it, so a frame can never reach into the next packet's bytes.
        const std::unique_ptr<uint8_t[]> ownPayload(new uint8_t[std::max<size_t>(dataSize, 1)]);
        std::memcpy(ownPayload.get(), payload, dataSize);
        payload = ownPayload.get();
        size_t at = 0;
        for (int frame = 0; frame < header.PacketCount; ++frame) {
            // A frame lies wholly inside the payload or is not read at all: a length byte
            // that claims more than the payload holds ends the packet here.
            if (at >= dataSize || at + 1 + payload[at] > dataSize) {
                Debug(Format("[CXMIXER] Frame beyond DataSize - Channel : %d", channel));
                break;
            }
            const uint8_t length = payload[at];
            if (length > 0) {
                uint32_t pcmBytes = 0;
                const uint8_t* pcm = nullptr;
                if (FServices.Decoder->DecodeFrame(channel, payload + at + 1, length, pcmBytes, pcm))
                    FServices.Mixer->WritePCM(channel, pcm, pcmBytes);
                else
                    Debug(Format("[CXMIXER] Decode Fail - Channel : %d", channel));
            }
            Post(WM_AUDIO_FRAME, header.SyncTime, header.UserData);
            at += 1 + static_cast<size_t>(length);
        }
        const uint32_t now = FServices.TickCount ? FServices.TickCount() : 0;
        if (FServices.QueueTiming)
            FServices.QueueTiming(header.SyncTime, header.SyncTag, now);
    } catch (...) {
        // A failure inside one packet loses that packet's remaining frames only.
    }
}

void TPacketReceiver::EmptyStream()
{
    FRecvStream.clear();
    FStreamStart = 0;
}

void TPacketReceiver::Consume(size_t count)
{
    FStreamStart = std::min(FStreamStart + count, FRecvStream.size());
    if (FStreamStart == FRecvStream.size())
        EmptyStream();
}

void TPacketReceiver::DebugOut(std::string_view text) const
{
    Debug("[CXMixer] " + std::string(text));
}

void TPacketReceiver::Log(const std::string& text) const
{
    if (FServices.Log)
        FServices.Log->WriteLog(text, false);
}

void TPacketReceiver::Debug(const std::string& line) const
{
    if (FServices.Debug)
        FServices.Debug(line);
}

void TPacketReceiver::Post(uint32_t msg, uint32_t wParam, uint32_t lParam) const
{
    if (FServices.Post)
        FServices.Post(static_cast<uint32_t>(FPlayerWnd), msg, wParam, lParam);
}

bool ParseDecimalInt32(const std::string& text, int32_t& value)
{
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+')
        ++first;
    if (first == last || (first != text.data() && *first == '-'))
        return false;
    int32_t parsed = 0;
    const auto [end, error] = std::from_chars(first, last, parsed, 10);
    if (error != std::errc() || end != last)
        return false;
    value = parsed;
    return true;
}

TMixerArguments ParseMixerArguments(const std::vector<std::string>& arguments)
{
    TMixerArguments result;
    if (arguments.size() < 3)
        return result;
    if (!ParseDecimalInt32(arguments[0], result.PlayerWnd))
        result.PlayerWnd = -1;
    if (!ParseDecimalInt32(arguments[1], result.AudioCodec))
        result.AudioCodec = DefaultAudioCodec;
    if (!ParseDecimalInt32(arguments[2], result.Port))
        result.Port = DefaultPort;
    return result;
}

} // namespace qrv
