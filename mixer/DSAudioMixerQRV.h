#pragma once

// The channel mixer: up to 255 channels of decoded sound, each played by its own looping
// secondary buffer of 250 ms on the default device.
//
// Decoded PCM is queued per channel (WritePCM). Every 20 ms the push thread runs one refill
// round (PushAll): for each playing channel it writes queued sound, or silence when nothing
// is queued, into the part of the buffer that has been played since the last round. A
// buffer is therefore a fixed delay line: sound queued now is heard one buffer length
// (about 250 ms) later. At most one second of sound waits in a channel's queue; past that
// the queue is emptied.
//
// Threads: the mixer's main thread calls StartMixer, StopMixer, ClearMixer, WritePCM and
// StopChannel; the push thread calls PushAll. The table lock serialises channel lookup,
// creation and removal, and is held for a whole refill round, so the main thread never
// frees a channel the push thread is refilling (a round of 255 channels takes well under
// a millisecond; see bench/MixerBench.cpp). Each channel's pending lock serialises
// appends (main thread) with reads and removals (push thread).

#include "DirectSoundLite.h"
#include "MixerLog.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace qrv {

// A wave format as the mixer's form stores it: the 18-byte structure and its extra bytes
// in the first 128 bytes, then one flag byte. The mixer reads only the structure.
#pragma pack(push, 1)
struct TWaveFormatRecord {
    WAVEFORMATEX Format;
    uint8_t Extra[128 - sizeof(WAVEFORMATEX)] = {};
    uint8_t Flag = 0;
};
#pragma pack(pop)
static_assert(sizeof(TWaveFormatRecord) == 129);

struct TCodecFormatRecords {
    TWaveFormatRecord Input;
    TWaveFormatRecord Output;
};

// The input and output format records of codec type 0 to 4 (MPEG Layer-3 at 8 and
// 22.05 kHz, Speex narrow, wide and ultra-wide band); none for any other type. The output
// is always 16-bit mono PCM; the Speex inputs are the same PCM, the MPEG inputs carry the
// MPEG format tag, rate and byte rate only (block align 1, no extra bytes).
std::optional<TCodecFormatRecords> CodecFormatRecords(int codec);

// The message of a DirectSound result code; "Unrecognized Error" for unknown codes.
std::string DirectXErrorText(HRESULT code);

// An error of the mixer with a message of its own ("CreatePrimaryBuffer Failed.").
class EMixerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A checked DirectSound call failed: the result code and DirectXErrorText's message.
class EDirectXError : public EMixerError {
public:
    explicit EDirectXError(HRESULT code) : EMixerError(DirectXErrorText(code)), ErrorCode(code) {}
    HRESULT ErrorCode;
};

class TQRVDirectSound;

// One channel: a looping secondary buffer of 250 ms and the queue of sound waiting for it.
class TQRVDSChannel {
public:
    // Builds the channel's state from the owner's format records; the buffer comes later
    // (CreateBuffer). Logs "TQRVDSChannel.Create Begin".
    explicit TQRVDSChannel(TQRVDirectSound& owner);
    ~TQRVDSChannel();
    TQRVDSChannel(const TQRVDSChannel&) = delete;
    TQRVDSChannel& operator=(const TQRVDSChannel&) = delete;

    // Creates the secondary buffer at FWFEOut, FBufferBytes long. False (with the debug
    // line "[CXMIXER] CreateSoundBuffer Failed.") when it cannot; throws EMixerError when
    // the device refuses the format and EDirectXError when the volume cannot be set.
    bool CreateBuffer();

    // Queues `count` bytes of PCM; the first sound starts the buffer playing. Dropped when
    // the channel is not initialised, has no buffer, or was stopped after playing.
    // Main thread. Throws EDirectXError when the buffer cannot start.
    void AddPCM(const void* buffer, uint32_t count);
    void StartPlaying();
    // Stops the buffer and rewinds it; later sound is dropped. Throws EDirectXError.
    void Stop();
    // Refills the part of the buffer played since the last refill, at most once per
    // push period. Push thread.
    void Push();
    // Writes `n` queued bytes, or `n` bytes of silence, at FWritePos and advances it.
    void WriteData(uint32_t n);
    void WriteSilence(uint32_t n);

    // State, for the mixer's owner and for tests.
    int ChannelID() const { return FChannelID; }
    bool Initialized() const { return FInitialized; }
    bool Playing() const { return FPlaying.load(); }
    bool PushEnabled() const { return FPushEnabled.load(); }
    bool FirstData() const { return FFirstData; }
    uint32_t BufferBytes() const { return FBufferBytes; }
    uint32_t MaxPendingBytes() const { return FMaxPendingBytes; }
    uint32_t WritePos() const { return FWritePos; }
    size_t PendingBytes() const;
    IDirectSoundBuffer* Buffer() const { return FDSBuffer; }
    const WAVEFORMATEX& OutputFormat() const { return FWFEOut; }

    static constexpr uint32_t MaxLatencyMs = 1000; // queued sound kept at most, in ms
    static constexpr int32_t DefaultVolume = -50;  // hundredths of a decibel

private:
    friend class TQRVDirectSound;

    void Queue(const void* buffer, uint32_t count);
    void Fill(uint32_t n);

    TQRVDirectSound& FOwner;
    bool FInitialized = false;
    uint32_t FMaxPendingBytes = 0;
    uint32_t FWritePos = 0;
    WAVEFORMATEX FWFEIn{};
    WAVEFORMATEX FWFEOut{};
    IDirectSound* FDirectSound = nullptr; // one reference of the owner's device
    IDirectSoundBuffer* FDSBuffer = nullptr;
    std::vector<uint8_t> FPending; // queued PCM, oldest first
    mutable std::mutex FPendingLock;
    uint32_t FBufferBytes = 0;
    bool FFirstData = true;
    int FChannelID = 0;
    std::atomic<bool> FPlaying{false};
    uint32_t FLastPush = 0; // tick count of the last refill
    int32_t FVolume = DefaultVolume;
    std::atomic<bool> FPushEnabled{false};
};

// Runs the owner's refill round every push period while enabled.
class TQRVPushThread {
public:
    explicit TQRVPushThread(TQRVDirectSound& owner);
    // Stops the loop and waits for the thread to end.
    ~TQRVPushThread();
    TQRVPushThread(const TQRVPushThread&) = delete;
    TQRVPushThread& operator=(const TQRVPushThread&) = delete;

    // Enabling wakes the loop at once so that its timed waits start now.
    void SetEnabled(bool enabled);
    bool Enabled() const { return m_enabled.load(); }

private:
    void Execute();
    // Waits for the event (auto-reset) for `timeoutMs` (negative: without limit). True when
    // it was signalled, false on time-out.
    bool WaitEvent(int timeoutMs);
    void SignalEvent();

    TQRVDirectSound& m_owner;
    const int m_periodMs;
    std::atomic<bool> m_enabled{false};
    std::atomic<bool> m_terminated{false};
    std::mutex m_eventLock;
    std::condition_variable m_eventCondition;
    bool m_signalled = false;
    std::thread m_thread;
};

// What the mixer runs on; the defaults are the real device, clock and thread.
struct TQRVMixerOptions {
    // Creates the device object (default: DirectSoundCreate on the default device).
    std::function<HRESULT(IDirectSound**)> CreateDevice;
    // The system tick count in ms (default: GetTickCount).
    std::function<uint32_t()> TickCount;
    // False: no push thread; the caller runs PushAll itself (tests).
    bool RunPushThread = true;
};

class TQRVDirectSound {
public:
    static constexpr int MaxChannels = 255;

    // `log` receives the log lines and may be null.
    explicit TQRVDirectSound(IMixerLog* log = nullptr, TQRVMixerOptions options = {});
    // Stops the push thread and releases the device; channels still present go with it.
    ~TQRVDirectSound();
    TQRVDirectSound(const TQRVDirectSound&) = delete;
    TQRVDirectSound& operator=(const TQRVDirectSound&) = delete;

    // Store a format record; the current 18-byte copy follows it.
    void SetInputFormat(const TWaveFormatRecord& record);
    void SetOutputFormat(const TWaveFormatRecord& record);

    // Creates the device and its primary buffer at the output format and enables the push
    // thread. Without a device the mixer stays not started; throws EMixerError
    // ("CreatePrimaryBuffer Failed.") when the primary buffer cannot be set up.
    void StartMixer();
    // ClearMixer, then releases the primary buffer and the device.
    void StopMixer();
    // Pauses the push thread and stops and removes every channel; the device stays.
    void ClearMixer();
    bool Started() const { return FStarted.load(); }

    // Queues decoded sound for channel `channel` (1 to 255), creating the channel on first
    // use. Dropped while the mixer is not started. Main thread.
    void WritePCM(int channel, const void* pcm, uint32_t bytes);
    // The channel, created on demand; null when its creation failed or `channel` is not
    // 1 to 255. The pointer stays valid until the main thread removes the channel.
    TQRVDSChannel* GetChannel(int channel);
    // Stops and removes the channel; nothing when it does not exist. Throws EDirectXError
    // when the buffer cannot be stopped (the channel then stays).
    void StopChannel(int channel);
    // One refill round: creates every missing channel and refills the playing ones.
    // Does nothing while the mixer is not started. Push thread.
    void PushAll();

    // The device object (null when none), for tests and diagnostics.
    IDirectSound* DirectSound() const { return FDirectSound; }
    uint32_t PrimaryBytes() const { return FPrimaryBytes; }
    const WAVEFORMATEX& CurrentOutputFormat() const { return FCurrentOutputFormat; }
    // Number of channels in the table.
    int ChannelCount() const;

    const int32_t PushPeriodMs = 20; // refill period, in ms

private:
    friend class TQRVDSChannel;

    TQRVDSChannel* GetChannelLocked(int channel);
    bool CreatePrimaryBuffer();
    void Log(const std::string& text) const;
    uint32_t TickCount() const;

    IMixerLog* FLog;
    TQRVMixerOptions FOptions;
    IDirectSound* FDirectSound = nullptr;
    mutable std::mutex FTableLock;
    uintptr_t FCooperativeWindow = 0; // the desktop: no window of ours owns the sound
    IDirectSoundBuffer* FPrimaryBuffer = nullptr;
    uint32_t FPrimaryBytes = 0;
    WAVEFORMATEX FCurrentInputFormat{};
    WAVEFORMATEX FCurrentOutputFormat{};
    TWaveFormatRecord FOutputFormatRecord{};
    TWaveFormatRecord FInputFormatRecord{};
    std::array<std::unique_ptr<TQRVDSChannel>, MaxChannels + 1> FChannels; // slot 0 unused
    std::atomic<bool> FStarted{false};
    std::unique_ptr<TQRVPushThread> FPushThread;
};

} // namespace qrv
