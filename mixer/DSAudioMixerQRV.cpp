#include "DSAudioMixerQRV.h"

#include "DebugOutput.h"
#include "GetTickCount.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace qrv {

namespace {

__attribute__((format(printf, 1, 2))) std::string Printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    return text;
}

void Check(HRESULT result)
{
    if (result != DS_OK)
        throw EDirectXError(result);
}

constexpr uint16_t kMpegLayer3Tag = 0x0055;

WAVEFORMATEX Pcm16Mono(uint32_t rate)
{
    WAVEFORMATEX f;
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 1;
    f.nSamplesPerSec = rate;
    f.nAvgBytesPerSec = rate * 2;
    f.nBlockAlign = 2;
    f.wBitsPerSample = 16;
    f.cbSize = 0;
    return f;
}

WAVEFORMATEX MpegLayer3Mono(uint32_t rate, uint32_t bytesPerSecond)
{
    WAVEFORMATEX f;
    f.wFormatTag = kMpegLayer3Tag;
    f.nChannels = 1;
    f.nSamplesPerSec = rate;
    f.nAvgBytesPerSec = bytesPerSecond;
    f.nBlockAlign = 1;
    f.wBitsPerSample = 0;
    f.cbSize = 0;
    return f;
}

TWaveFormatRecord Record(const WAVEFORMATEX& format)
{
    TWaveFormatRecord r;
    r.Format = format;
    return r;
}

} // namespace

std::optional<TCodecFormatRecords> CodecFormatRecords(int codec)
{
    switch (codec) {
    case 0:
        return TCodecFormatRecords{Record(MpegLayer3Mono(8000, 2000)), Record(Pcm16Mono(8000))};
    case 1:
        return TCodecFormatRecords{Record(MpegLayer3Mono(22050, 4000)), Record(Pcm16Mono(22050))};
    case 2:
        return TCodecFormatRecords{Record(Pcm16Mono(8000)), Record(Pcm16Mono(8000))};
    case 3:
        return TCodecFormatRecords{Record(Pcm16Mono(16000)), Record(Pcm16Mono(16000))};
    case 4:
        return TCodecFormatRecords{Record(Pcm16Mono(32000)), Record(Pcm16Mono(32000))};
    default:
        return std::nullopt;
    }
}

std::string DirectXErrorText(HRESULT code)
{
    switch (static_cast<uint32_t>(code)) {
    case 0x00000000u: return "The request completed successfully.";
    case 0x80004001u: return "The function called is not supported at this time.";
    case 0x80004002u: return "The requested COM interface is not available.";
    case 0x80004005u: return "An undetermined error occurred inside the DirectSound subsystem.";
    case 0x80040110u: return "The object does not support aggregation.";
    case 0x80070005u: return "Access is denied.";
    case 0x8007000Eu:
        return "The DirectSound subsystem could not allocate sufficient memory to complete the caller\u00B4s request.";
    case 0x80070057u: return "An invalid parameter was passed to the returning function.";
    case 0x8878000Au:
        return "The request failed because resources, such as a priority level, were already in use by another caller.";
    case 0x8878001Eu: return "The control (volume, pan, and so forth) requested by the caller is not available.";
    case 0x88780032u: return "This function is not valid for the current state of this object.";
    case 0x88780046u: return "The caller does not have the priority level required for the function to succeed.";
    case 0x88780064u: return "The specified wave format is not supported.";
    case 0x88780078u: return "No sound driver is available for use.";
    case 0x88780082u: return "The object is already initialized.";
    case 0x88780096u: return "The buffer memory has been lost and must be restored.";
    case 0x887800A0u:
        return "Another application has a higher priority level, preventing this call from succeeding.";
    case 0x887800AAu:
        return "The IDirectSound::Initialize method has not been called or has not been called successfully before "
               "other methods were called.";
    case 0x887800B4u: return "Tried to create a DSBCAPS_CTRLFX buffer shorter than DSBSIZE_FX_MIN milliseconds.";
    case 0x887800BEu: return "Attempt to use DirectSound 8 functionality on an older DirectSound object.";
    case 0x887800C8u: return "A circular loop of send effects was detected.";
    case 0x887800D2u: return "The GUID specified in an audiopath file does not match a valid MIXIN buffer.";
    case 0x887800DCu:
        return "The effects requested could not be found on the system, or they were found but in the wrong order, "
               "or in the wrong hardware/software locations.";
    case 0x88781161u: return "The object requested was not found (numerically equal to DMUS_E_NOT_FOUND).";
    default: return "Unrecognized Error";
    }
}

// ---------------------------------------------------------------------------------------
// TQRVDSChannel

TQRVDSChannel::TQRVDSChannel(TQRVDirectSound& owner) : FOwner(owner)
{
    FOwner.Log("TQRVDSChannel.Create Begin");
    FInitialized = false;
    FFirstData = true;
    FDirectSound = FOwner.FDirectSound;
    if (FDirectSound != nullptr)
        FDirectSound->AddRef();
    FWFEIn = FOwner.FInputFormatRecord.Format;
    FWFEOut = FOwner.FOutputFormatRecord.Format;
    FVolume = DefaultVolume;
    FMaxPendingBytes = FWFEOut.nAvgBytesPerSec;
    FPushEnabled = false;
    FInitialized = true;
}

TQRVDSChannel::~TQRVDSChannel()
{
    SafeRelease(FDSBuffer);
    SafeRelease(FDirectSound);
}

size_t TQRVDSChannel::PendingBytes() const
{
    std::lock_guard lock(FPendingLock);
    return FPending.size();
}

bool TQRVDSChannel::CreateBuffer()
{
    if (FDirectSound == nullptr) {
        OutputDebugString("[CXMIXER] DirectSound is nil");
        return false;
    }
    DSCAPS caps;
    caps.dwSize = sizeof(caps);
    if (FAILED(FDirectSound->GetCaps(&caps))) {
        OutputDebugString("[CXMIXER] DirectSound.GetCaps Error");
        return false;
    }
    // 250 ms of sound. Kept to whole sample frames: a byte rate that is not a multiple of
    // four block lengths (22050 Hz) would otherwise give a buffer that ends inside a frame.
    FBufferBytes = FWFEOut.nAvgBytesPerSec / 4;
    if (FWFEOut.nBlockAlign > 0)
        FBufferBytes -= FBufferBytes % FWFEOut.nBlockAlign;

    DSBUFFERDESC desc;
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPOSITIONNOTIFY |
                   DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;
    desc.dwBufferBytes = FBufferBytes;
    desc.lpwfxFormat = &FWFEOut;
    bool failed = false;
    const HRESULT created = FDirectSound->CreateSoundBuffer(&desc, &FDSBuffer, nullptr);
    if (created == DS_OK) {
        DSBCAPS bufferCaps;
        bufferCaps.dwSize = sizeof(bufferCaps);
        const HRESULT capsResult = FDSBuffer->GetCaps(&bufferCaps);
        Check(FDSBuffer->SetVolume(FVolume));
        if (FAILED(capsResult)) {
            OutputDebugString("[CXMIXER] FDSBuffer.GetCaps fail");
            failed = true;
        }
    } else if (created == DSERR_BADFORMAT) {
        throw EMixerError("지원하지 않는 Wave 포맷입니다.");
    } else {
        FDSBuffer = nullptr;
        failed = true;
    }
    if (failed)
        OutputDebugString("[CXMIXER] CreateSoundBuffer Failed.");
    return !failed;
}

void TQRVDSChannel::AddPCM(const void* buffer, uint32_t count)
{
    if (!FInitialized) {
        FOwner.Log(Printf("[CXMIXER] CH=%d : FInitialized = False", FChannelID));
        return;
    }
    if (FDSBuffer == nullptr) {
        FOwner.Log(Printf("[CXMIXER] CH=%d : FDSBuffer = nil", FChannelID));
        return;
    }
    if (FFirstData) {
        Queue(buffer, count);
        FFirstData = false;
        StartPlaying();
    } else if (FPlaying) {
        Queue(buffer, count);
    }
    // Otherwise the channel was stopped after playing: its sound is dropped.
}

void TQRVDSChannel::Queue(const void* buffer, uint32_t count)
{
    std::lock_guard lock(FPendingLock);
    if (FPending.size() > FMaxPendingBytes) {
        OutputDebugString(Printf("[CXMIXER] Buffer overflow! Channel ID=%d, MaxLatencyMs=%d", FChannelID,
                                 static_cast<int>(MaxLatencyMs)));
        FPending.clear();
        return;
    }
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    FPending.insert(FPending.end(), bytes, bytes + count);
}

void TQRVDSChannel::StartPlaying()
{
    if (FPlaying)
        return;
    FWritePos = 0;
    Push();
    const HRESULT played = FDSBuffer->Play(0, 0, DSBPLAY_LOOPING);
    if (played == DSERR_BUFFERLOST) {
        FDSBuffer->Stop();
        SafeRelease(FDSBuffer);
        return;
    }
    Check(played);
    FPlaying = true;
    // Last, so that the push thread sees FWritePos and FPlaying once it refills the channel.
    FPushEnabled = true;
    OutputDebugString(Printf("[CXMIXER] CH=%d, Play Started!", FChannelID));
}

void TQRVDSChannel::Stop()
{
    if (!FPlaying)
        return;
    FPushEnabled = false;
    Check(FDSBuffer->Stop());
    FPlaying = false;
    Check(FDSBuffer->SetCurrentPosition(0));
    OutputDebugString(Printf("[CXMIXER] Channel=%d, TQRVDSChannel.Stop", FChannelID));
}

void TQRVDSChannel::Push()
{
    if (!FPlaying)
        return;
    const uint32_t now = FOwner.TickCount();
    const int32_t period = FOwner.PushPeriodMs;
    if (period >= 0 && now - FLastPush < static_cast<uint32_t>(period))
        return;
    uint32_t play = 0;
    if (FAILED(FDSBuffer->GetCurrentPosition(&play, nullptr)))
        return;
    // Only up to the end of the buffer; the wrapped part is written on the next round.
    const uint32_t n = play >= FWritePos ? play - FWritePos : FBufferBytes - FWritePos;
    Fill(n);
    FLastPush = now;
}

void TQRVDSChannel::Fill(uint32_t n)
{
    const size_t pending = PendingBytes();
    if (pending > 0) {
        if (pending >= n) {
            WriteData(n);
            return;
        }
        WriteData(static_cast<uint32_t>(pending));
        n -= static_cast<uint32_t>(pending);
    }
    WriteSilence(n);
}

void TQRVDSChannel::WriteData(uint32_t n)
{
    void* region1 = nullptr;
    void* region2 = nullptr;
    uint32_t bytes1 = 0;
    uint32_t bytes2 = 0;
    if (FAILED(FDSBuffer->Lock(FWritePos, n, &region1, &bytes1, &region2, &bytes2, 0))) {
        OutputDebugString(Printf("[CXMIXER] WriteData Lock Fail : Channel ID=%d", FChannelID));
        return;
    }
    {
        std::lock_guard lock(FPendingLock);
        const size_t first = std::min<size_t>(bytes1, FPending.size());
        std::memcpy(region1, FPending.data(), first);
        size_t taken = first;
        if (region2 != nullptr) {
            const size_t second = std::min<size_t>(bytes2, FPending.size() - taken);
            std::memcpy(region2, FPending.data() + taken, second);
            taken += second;
        }
        FPending.erase(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(taken));
    }
    FDSBuffer->Unlock(region1, bytes1, region2, bytes2);
    FWritePos = (FWritePos + bytes1 + bytes2) % FBufferBytes;
}

void TQRVDSChannel::WriteSilence(uint32_t n)
{
    void* region1 = nullptr;
    void* region2 = nullptr;
    uint32_t bytes1 = 0;
    uint32_t bytes2 = 0;
    if (FAILED(FDSBuffer->Lock(FWritePos, n, &region1, &bytes1, &region2, &bytes2, 0))) {
        OutputDebugString(Printf("[CXMIXER] WriteSilence Lock Fail : Channel ID=%d", FChannelID));
        return;
    }
    const int silence = FWFEOut.wBitsPerSample == 8 ? 128 : 0;
    std::memset(region1, silence, bytes1);
    if (region2 != nullptr)
        std::memset(region2, silence, bytes2);
    FDSBuffer->Unlock(region1, bytes1, region2, bytes2);
    FWritePos = (FWritePos + bytes1 + bytes2) % FBufferBytes;
}

// ---------------------------------------------------------------------------------------
// TQRVPushThread

TQRVPushThread::TQRVPushThread(TQRVDirectSound& owner) : m_owner(owner), m_periodMs(owner.PushPeriodMs)
{
    m_thread = std::thread([this] { Execute(); });
}

TQRVPushThread::~TQRVPushThread()
{
    m_terminated = true;
    SignalEvent();
    if (m_thread.joinable())
        m_thread.join();
}

void TQRVPushThread::SetEnabled(bool enabled)
{
    m_enabled = enabled;
    if (enabled)
        SignalEvent();
}

void TQRVPushThread::SignalEvent()
{
    {
        std::lock_guard lock(m_eventLock);
        m_signalled = true;
    }
    m_eventCondition.notify_one();
}

bool TQRVPushThread::WaitEvent(int timeoutMs)
{
    std::unique_lock lock(m_eventLock);
    if (timeoutMs < 0) {
        m_eventCondition.wait(lock, [this] { return m_signalled; });
    } else if (!m_eventCondition.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_signalled; })) {
        return false;
    }
    m_signalled = false;
    return true;
}

void TQRVPushThread::Execute()
{
    while (!m_terminated) {
        if (!m_enabled) {
            WaitEvent(-1);
            continue;
        }
        if (WaitEvent(m_periodMs) || !m_enabled || m_terminated)
            continue;
        try {
            m_owner.PushAll();
        } catch (...) {
            // A failed round leaves the channels as they are; the next round tries again.
        }
    }
}

// ---------------------------------------------------------------------------------------
// TQRVDirectSound

TQRVDirectSound::TQRVDirectSound(IMixerLog* log, TQRVMixerOptions options) : FLog(log), FOptions(std::move(options))
{
    if (!FOptions.CreateDevice)
        FOptions.CreateDevice = [](IDirectSound** device) { return DirectSoundCreate(nullptr, device, nullptr); };
    if (!FOptions.TickCount)
        FOptions.TickCount = [] { return GetTickCount(); };
    if (FOptions.RunPushThread)
        FPushThread = std::make_unique<TQRVPushThread>(*this);
}

TQRVDirectSound::~TQRVDirectSound()
{
    if (FPushThread != nullptr)
        FPushThread->SetEnabled(false);
    FPushThread.reset();
    for (auto& channel : FChannels)
        channel.reset();
    SafeRelease(FPrimaryBuffer);
    SafeRelease(FDirectSound);
}

void TQRVDirectSound::Log(const std::string& text) const
{
    if (FLog != nullptr)
        FLog->WriteLog(text, false);
}

uint32_t TQRVDirectSound::TickCount() const
{
    return FOptions.TickCount();
}

void TQRVDirectSound::SetInputFormat(const TWaveFormatRecord& record)
{
    FInputFormatRecord = record;
    FCurrentInputFormat = record.Format;
}

void TQRVDirectSound::SetOutputFormat(const TWaveFormatRecord& record)
{
    FOutputFormatRecord = record;
    FCurrentOutputFormat = record.Format;
}

int TQRVDirectSound::ChannelCount() const
{
    std::lock_guard lock(FTableLock);
    return static_cast<int>(std::count_if(FChannels.begin(), FChannels.end(), [](const auto& c) { return c != nullptr; }));
}

void TQRVDirectSound::StartMixer()
{
    FStarted = false;
    {
        // The device and primary buffer change under the table lock: a refill round that
        // is creating channels holds it and uses the device.
        std::lock_guard lock(FTableLock);
        SafeRelease(FPrimaryBuffer);
        FPrimaryBytes = 0;
        SafeRelease(FDirectSound);
        if (FAILED(FOptions.CreateDevice(&FDirectSound))) {
            FDirectSound = nullptr;
            OutputDebugString("[CXMIXER] DirectSoundCreate Failed.");
            OutputDebugString("CreateDirectSound Failed.");
            return;
        }
        DSCAPS caps;
        caps.dwSize = sizeof(caps);
        if (SUCCEEDED(FDirectSound->GetCaps(&caps)))
            OutputDebugString(Printf("[CXMIXER] DSCaps.dwUnlockTransferRateHwBuffers = %d",
                                     static_cast<int>(caps.dwUnlockTransferRateHwBuffers)));
        FCurrentInputFormat = FInputFormatRecord.Format;
        FCurrentOutputFormat = FOutputFormatRecord.Format;
        if (!CreatePrimaryBuffer())
            throw EMixerError("CreatePrimaryBuffer Failed.");
    }
    if (FPushThread != nullptr)
        FPushThread->SetEnabled(true);
    FStarted = true;
    OutputDebugString("[CXMIXER] Mixer Started......");
}

bool TQRVDirectSound::CreatePrimaryBuffer()
{
    SafeRelease(FPrimaryBuffer);
    bool ok = SUCCEEDED(FDirectSound->SetCooperativeLevel(FCooperativeWindow, DSSCL_PRIORITY));
    if (ok) {
        DSBUFFERDESC desc;
        desc.dwSize = sizeof(desc);
        desc.dwFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_LOCHARDWARE;
        desc.dwBufferBytes = 0;
        desc.lpwfxFormat = nullptr;
        ok = SUCCEEDED(FDirectSound->CreateSoundBuffer(&desc, &FPrimaryBuffer, nullptr));
    }
    if (ok)
        ok = SUCCEEDED(FPrimaryBuffer->SetFormat(&FCurrentOutputFormat));
    if (!ok) {
        SafeRelease(FPrimaryBuffer);
        FPrimaryBytes = 0;
        return false;
    }
    DSBCAPS caps;
    caps.dwSize = sizeof(caps);
    if (SUCCEEDED(FPrimaryBuffer->GetCaps(&caps)))
        FPrimaryBytes = caps.dwBufferBytes;
    FPrimaryBuffer->Play(0, 0, DSBPLAY_LOOPING);
    return true;
}

void TQRVDirectSound::ClearMixer()
{
    if (FPushThread != nullptr)
        FPushThread->SetEnabled(false);
    {
        std::lock_guard lock(FTableLock);
        for (int i = 1; i <= MaxChannels; ++i) {
            auto& slot = FChannels[static_cast<size_t>(i)];
            if (slot == nullptr)
                continue;
            try {
                slot->FPushEnabled = false;
                slot->Stop();
                slot.reset();
            } catch (...) {
                // The channel stays in its slot; the others are still removed.
            }
        }
        FStarted = false;
    }
    OutputDebugString("[CXMIXER] Mixer Clear......");
}

void TQRVDirectSound::StopMixer()
{
    ClearMixer();
    {
        std::lock_guard lock(FTableLock);
        if (FPrimaryBuffer != nullptr)
            FPrimaryBuffer->Stop();
        SafeRelease(FPrimaryBuffer);
        FPrimaryBytes = 0;
        SafeRelease(FDirectSound);
    }
    OutputDebugString("[CXMIXER] Mixer Stopped......");
}

TQRVDSChannel* TQRVDirectSound::GetChannel(int channel)
{
    std::lock_guard lock(FTableLock);
    return GetChannelLocked(channel);
}

TQRVDSChannel* TQRVDirectSound::GetChannelLocked(int channel)
{
    if (channel < 1 || channel > MaxChannels)
        return nullptr;
    auto& slot = FChannels[static_cast<size_t>(channel)];
    if (slot != nullptr)
        return slot.get();
    auto created = std::make_unique<TQRVDSChannel>(*this);
    created->FChannelID = channel;
    try {
        created->CreateBuffer();
    } catch (const std::exception& e) {
        Log(Printf("CH=%d TQRVDirectSound.GetChannel Exception : %s", channel, e.what()));
        Log(Printf("Exception : %s", e.what()));
        return nullptr;
    }
    slot = std::move(created);
    return slot.get();
}

void TQRVDirectSound::WritePCM(int channel, const void* pcm, uint32_t bytes)
{
    if (!FStarted || FDirectSound == nullptr)
        return;
    TQRVDSChannel* target = GetChannel(channel);
    if (target == nullptr) {
        OutputDebugString(Printf("[CXMIXER] Channel[%d] is nil", channel));
        return;
    }
    target->AddPCM(pcm, bytes);
}

void TQRVDirectSound::StopChannel(int channel)
{
    std::lock_guard lock(FTableLock);
    if (channel < 1 || channel > MaxChannels)
        return;
    auto& slot = FChannels[static_cast<size_t>(channel)];
    if (slot == nullptr)
        return;
    slot->FPushEnabled = false;
    slot->Stop();
    slot.reset();
    OutputDebugString(Printf("[CXMIXER] Channel=%d, TQRVDirectSound.StopChannel", channel));
    Log(Printf("CH=%d, TQRVDirectSound.StopChannel", channel));
}

void TQRVDirectSound::PushAll()
{
    // The whole round runs under the table lock, so that StopChannel and ClearMixer (main
    // thread) wait for it instead of freeing a channel that is being refilled.
    std::lock_guard lock(FTableLock);
    if (!FStarted)
        return;
    for (int i = 1; i <= MaxChannels; ++i) {
        TQRVDSChannel* channel = GetChannelLocked(i);
        if (channel != nullptr && channel->FPushEnabled)
            channel->Push();
    }
}

} // namespace qrv
