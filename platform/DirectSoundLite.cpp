#include "DirectSoundLite.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace qrv {

namespace {

// Sample rates a buffer or the output may have, in frames per second.
constexpr uint32_t kMinRate = 100;
constexpr uint32_t kMaxRate = 200000;
// Largest channel count a format may have: what SDL's channel field can carry. The device
// itself may take fewer (SDL opens 1 to 8); a format it refuses fails with DSERR_BADFORMAT.
constexpr uint16_t kMaxChannels = 255;
// Length of one device period (the SDL callback's size), in milliseconds; rounded up to a
// power of two frames.
constexpr uint32_t kDevicePeriodMs = 10;
// Fixed-point scale of a buffer's gain and of its resampling step: 16 fraction bits.
constexpr int kFractionBits = 16;
constexpr int64_t kUnity = int64_t{1} << kFractionBits;

bool IsPlayableFormat(const WAVEFORMATEX& f)
{
    return f.wFormatTag == WAVE_FORMAT_PCM && f.nChannels >= 1 && f.nChannels <= kMaxChannels &&
           (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nSamplesPerSec >= kMinRate &&
           f.nSamplesPerSec <= kMaxRate && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8 &&
           f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

class SoundBuffer;

// The mixing state one device object and its buffers share.
class Engine {
public:
    explicit Engine(bool manual) : Manual(manual) {}
    ~Engine() { CloseOutput(); }

    const bool Manual;
    std::mutex Mutex;
    // Guarded by Mutex:
    std::vector<SoundBuffer*> Buffers; // secondary buffers, in creation order
    WAVEFORMATEX Out{};                // the primary buffer's format
    bool HasFormat = false;
    uint32_t PeriodFrames = 0;         // output frames per device period (0 when manual)
    uint32_t CooperativeLevel = 0;
    bool Closed = false;               // the device object is gone: nothing plays any more
    std::vector<int32_t> Accumulator;  // one device period of output samples

    // Opens the output at `format` (a device opens SDL; a manual one only records it).
    HRESULT SetOutputFormat(const WAVEFORMATEX& format);
    // Closes the SDL device, if one is open. Never called with Mutex held: closing waits
    // for the audio callback, which takes Mutex.
    void CloseOutput();
    // Mixes `frames` output frames into `out`, advancing the playing buffers. Mutex held.
    void MixLocked(uint8_t* out, uint32_t frames);

private:
    static void AudioCallback(void* user, Uint8* stream, int length);
    SDL_AudioDeviceID m_device = 0;
};

class SoundBuffer final : public IDirectSoundBuffer {
public:
    SoundBuffer(std::shared_ptr<Engine> engine, const DSBUFFERDESC& desc)
        : m_engine(std::move(engine)), m_primary((desc.dwFlags & DSBCAPS_PRIMARYBUFFER) != 0), m_flags(desc.dwFlags)
    {
        if (!m_primary) {
            Format = *desc.lpwfxFormat;
            Memory.assign(desc.dwBufferBytes, Format.wBitsPerSample == 8 ? 0x80 : 0x00);
            m_staging.resize(desc.dwBufferBytes);
            std::lock_guard lock(m_engine->Mutex);
            m_engine->Buffers.push_back(this);
        }
    }

    uint32_t AddRef() override { return ++m_references; }

    uint32_t Release() override
    {
        const uint32_t left = --m_references;
        if (left == 0) {
            if (!m_primary) {
                std::lock_guard lock(m_engine->Mutex);
                auto& list = m_engine->Buffers;
                list.erase(std::remove(list.begin(), list.end(), this), list.end());
            }
            delete this;
        }
        return left;
    }

    HRESULT GetCaps(DSBCAPS* caps) override
    {
        if (caps == nullptr || caps->dwSize != sizeof(DSBCAPS))
            return DSERR_INVALIDPARAM;
        caps->dwFlags = m_flags;
        caps->dwUnlockTransferRate = 0;
        caps->dwPlayCpuOverhead = 0;
        std::lock_guard lock(m_engine->Mutex);
        caps->dwBufferBytes = m_primary ? (m_engine->HasFormat ? PrimaryBytesLocked() : 0)
                                        : static_cast<uint32_t>(Memory.size());
        return DS_OK;
    }

    HRESULT SetFormat(const WAVEFORMATEX* format) override
    {
        if (!m_primary)
            return DSERR_INVALIDCALL;
        if (format == nullptr)
            return DSERR_INVALIDPARAM;
        {
            std::lock_guard lock(m_engine->Mutex);
            if (m_engine->CooperativeLevel < DSSCL_PRIORITY)
                return DSERR_PRIOLEVELNEEDED;
            if (m_engine->Closed)
                return DSERR_NODRIVER;
        }
        if (!IsPlayableFormat(*format))
            return DSERR_BADFORMAT;
        return m_engine->SetOutputFormat(*format);
    }

    HRESULT Play(uint32_t reserved1, uint32_t priority, uint32_t flags) override
    {
        if (reserved1 != 0 || priority != 0)
            return DSERR_INVALIDPARAM;
        std::lock_guard lock(m_engine->Mutex);
        if (m_primary) {
            // The output runs whenever it is open; the primary buffer only has to loop.
            return (flags & DSBPLAY_LOOPING) != 0 ? DS_OK : DSERR_INVALIDPARAM;
        }
        Playing = true;
        Looping = (flags & DSBPLAY_LOOPING) != 0;
        return DS_OK;
    }

    HRESULT Stop() override
    {
        std::lock_guard lock(m_engine->Mutex);
        if (!m_primary)
            Playing = false;
        return DS_OK;
    }

    HRESULT SetCurrentPosition(uint32_t position) override
    {
        if (m_primary)
            return DSERR_INVALIDCALL;
        std::lock_guard lock(m_engine->Mutex);
        if (position >= Memory.size())
            return DSERR_INVALIDPARAM;
        PlayCursor = position - position % Format.nBlockAlign;
        Phase = 0;
        return DS_OK;
    }

    HRESULT GetCurrentPosition(uint32_t* play, uint32_t* write) override
    {
        std::lock_guard lock(m_engine->Mutex);
        uint32_t playAt = 0;
        uint32_t writeAt = 0;
        if (!m_primary) {
            playAt = PlayCursor;
            writeAt = WriteCursorLocked();
        }
        if (play != nullptr)
            *play = playAt;
        if (write != nullptr)
            *write = writeAt;
        return DS_OK;
    }

    HRESULT Lock(uint32_t offset, uint32_t bytes, void** region1, uint32_t* bytes1, void** region2, uint32_t* bytes2,
                 uint32_t flags) override
    {
        if (m_primary)
            return DSERR_PRIOLEVELNEEDED;
        if (region1 == nullptr || bytes1 == nullptr)
            return DSERR_INVALIDPARAM;
        std::lock_guard lock(m_engine->Mutex);
        const auto size = static_cast<uint32_t>(Memory.size());
        if ((flags & DSBLOCK_FROMWRITECURSOR) != 0)
            offset = WriteCursorLocked();
        if ((flags & DSBLOCK_ENTIREBUFFER) != 0)
            bytes = size;
        if (offset >= size || bytes > size)
            return DSERR_INVALIDPARAM;
        if (m_locked)
            return DSERR_INVALIDCALL;
        const uint32_t first = std::min(bytes, size - offset);
        const uint32_t second = bytes - first;
        if (second > 0 && (region2 == nullptr || bytes2 == nullptr))
            return DSERR_INVALIDPARAM;
        std::memcpy(m_staging.data(), Memory.data() + offset, first);
        std::memcpy(m_staging.data() + first, Memory.data(), second);
        m_locked = true;
        m_lockOffset = offset;
        m_lockFirst = first;
        m_lockSecond = second;
        *region1 = m_staging.data();
        *bytes1 = first;
        if (region2 != nullptr)
            *region2 = second > 0 ? m_staging.data() + first : nullptr;
        if (bytes2 != nullptr)
            *bytes2 = second;
        return DS_OK;
    }

    HRESULT Unlock(void* region1, uint32_t bytes1, void* region2, uint32_t bytes2) override
    {
        if (m_primary)
            return DSERR_INVALIDCALL;
        std::lock_guard lock(m_engine->Mutex);
        if (!m_locked || region1 != m_staging.data() || bytes1 > m_lockFirst || bytes2 > m_lockSecond ||
            (bytes2 > 0 && region2 != m_staging.data() + m_lockFirst))
            return DSERR_INVALIDPARAM;
        std::memcpy(Memory.data() + m_lockOffset, m_staging.data(), bytes1);
        std::memcpy(Memory.data(), m_staging.data() + m_lockFirst, bytes2);
        m_locked = false;
        return DS_OK;
    }

    HRESULT SetVolume(int32_t volume) override
    {
        if (m_primary || (m_flags & DSBCAPS_CTRLVOLUME) == 0)
            return DSERR_CONTROLUNAVAIL;
        if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX)
            return DSERR_INVALIDPARAM;
        const int64_t gain =
            volume == DSBVOLUME_MIN ? 0 : std::llround(std::pow(10.0, volume / 2000.0) * static_cast<double>(kUnity));
        std::lock_guard lock(m_engine->Mutex);
        Gain = gain;
        return DS_OK;
    }

    // Mixing state, guarded by the engine's mutex.
    WAVEFORMATEX Format{};
    std::vector<uint8_t> Memory;
    uint32_t PlayCursor = 0;    // byte offset, whole blocks
    uint32_t Phase = 0;         // fraction of a source frame already taken (16 fraction bits)
    bool Playing = false;
    bool Looping = false;
    int64_t Gain = kUnity;      // 16 fraction bits

private:
    ~SoundBuffer() override = default;

    uint32_t PrimaryBytesLocked() const
    {
        const uint32_t frames = m_engine->PeriodFrames != 0 ? m_engine->PeriodFrames
                                                            : m_engine->Out.nSamplesPerSec * kDevicePeriodMs / 1000;
        return frames * m_engine->Out.nBlockAlign;
    }

    // The write cursor runs one device period of this buffer's bytes ahead of the play cursor.
    uint32_t WriteCursorLocked() const
    {
        if (m_engine->PeriodFrames == 0 || !m_engine->HasFormat || !Playing)
            return PlayCursor;
        const uint64_t frames = uint64_t{m_engine->PeriodFrames} * Format.nSamplesPerSec / m_engine->Out.nSamplesPerSec;
        return static_cast<uint32_t>((PlayCursor + frames * Format.nBlockAlign) % Memory.size());
    }

    std::atomic<uint32_t> m_references{1};
    std::shared_ptr<Engine> m_engine;
    const bool m_primary;
    const uint32_t m_flags;
    std::vector<uint8_t> m_staging; // what Lock hands out
    bool m_locked = false;
    uint32_t m_lockOffset = 0;
    uint32_t m_lockFirst = 0;
    uint32_t m_lockSecond = 0;
};

int32_t ReadSample(const uint8_t* at, uint16_t bits)
{
    if (bits == 8)
        return (static_cast<int32_t>(at[0]) - 128) * 256;
    return static_cast<int16_t>(static_cast<uint16_t>(at[0] | (at[1] << 8)));
}

void Engine::MixLocked(uint8_t* out, uint32_t frames)
{
    const uint32_t outChannels = Out.nChannels;
    Accumulator.assign(size_t{frames} * outChannels, 0);
    for (SoundBuffer* b : Buffers) {
        if (!b->Playing || b->Memory.empty())
            continue;
        const WAVEFORMATEX& f = b->Format;
        const uint32_t size = static_cast<uint32_t>(b->Memory.size());
        const uint32_t step = static_cast<uint32_t>((uint64_t{f.nSamplesPerSec} << kFractionBits) / Out.nSamplesPerSec);
        const size_t sampleBytes = f.wBitsPerSample / 8;
        for (uint32_t i = 0; i < frames && b->Playing; ++i) {
            const uint8_t* frame = b->Memory.data() + b->PlayCursor;
            int32_t* target = Accumulator.data() + size_t{i} * outChannels;
            if (b->Gain != 0) {
                if (f.nChannels == outChannels) {
                    for (uint32_t c = 0; c < outChannels; ++c)
                        target[c] += static_cast<int32_t>(
                            (ReadSample(frame + c * sampleBytes, f.wBitsPerSample) * b->Gain) >> kFractionBits);
                } else {
                    // Different layouts meet through mono: the source's channels averaged,
                    // spread over every output channel.
                    int32_t sum = 0;
                    for (uint32_t c = 0; c < f.nChannels; ++c)
                        sum += ReadSample(frame + c * sampleBytes, f.wBitsPerSample);
                    const auto value = static_cast<int32_t>(((sum / f.nChannels) * b->Gain) >> kFractionBits);
                    for (uint32_t c = 0; c < outChannels; ++c)
                        target[c] += value;
                }
            }
            b->Phase += step;
            const uint32_t advance = (b->Phase >> kFractionBits) * f.nBlockAlign;
            b->Phase &= static_cast<uint32_t>(kUnity - 1);
            b->PlayCursor += advance;
            if (b->PlayCursor >= size) {
                if (b->Looping) {
                    b->PlayCursor %= size;
                } else {
                    b->PlayCursor = 0;
                    b->Playing = false;
                }
            }
        }
    }
    const size_t samples = size_t{frames} * outChannels;
    for (size_t s = 0; s < samples; ++s) {
        const int32_t v = std::clamp<int32_t>(Accumulator[s], -32768, 32767);
        if (Out.wBitsPerSample == 8) {
            out[s] = static_cast<uint8_t>((v >> 8) + 128);
        } else {
            const auto u = static_cast<uint16_t>(static_cast<int16_t>(v));
            out[2 * s] = static_cast<uint8_t>(u & 0xFF);
            out[2 * s + 1] = static_cast<uint8_t>(u >> 8);
        }
    }
}

void Engine::AudioCallback(void* user, Uint8* stream, int length)
{
    auto* engine = static_cast<Engine*>(user);
    std::lock_guard lock(engine->Mutex);
    if (!engine->HasFormat || engine->Out.nBlockAlign == 0) {
        std::memset(stream, 0, static_cast<size_t>(length));
        return;
    }
    engine->MixLocked(stream, static_cast<uint32_t>(length) / engine->Out.nBlockAlign);
}

HRESULT Engine::SetOutputFormat(const WAVEFORMATEX& format)
{
    if (Manual) {
        std::lock_guard lock(Mutex);
        Out = format;
        HasFormat = true;
        return DS_OK;
    }
    CloseOutput();
    SDL_AudioSpec want{};
    want.freq = static_cast<int>(format.nSamplesPerSec);
    want.format = format.wBitsPerSample == 8 ? AUDIO_U8 : AUDIO_S16LSB;
    want.channels = static_cast<Uint8>(format.nChannels);
    want.samples = 1;
    while (want.samples < format.nSamplesPerSec * kDevicePeriodMs / 1000)
        want.samples = static_cast<Uint16>(want.samples * 2);
    want.callback = &Engine::AudioCallback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts to whatever the device takes, so the callback
    // always writes the primary buffer's format.
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device == 0)
        return DSERR_BADFORMAT;
    {
        std::lock_guard lock(Mutex);
        m_device = device;
        Out = format;
        HasFormat = true;
        PeriodFrames = have.samples;
    }
    SDL_PauseAudioDevice(device, 0);
    return DS_OK;
}

void Engine::CloseOutput()
{
    SDL_AudioDeviceID device = 0;
    {
        std::lock_guard lock(Mutex);
        device = m_device;
        m_device = 0;
        HasFormat = false;
        PeriodFrames = 0;
    }
    if (device != 0)
        SDL_CloseAudioDevice(device);
}

class SoundDevice final : public IDirectSound {
public:
    explicit SoundDevice(bool manual) : m_engine(std::make_shared<Engine>(manual)) {}

    uint32_t AddRef() override { return ++m_references; }

    uint32_t Release() override
    {
        const uint32_t left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT SetCooperativeLevel(uintptr_t /*window*/, uint32_t level) override
    {
        if (level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY)
            return DSERR_INVALIDPARAM;
        std::lock_guard lock(m_engine->Mutex);
        m_engine->CooperativeLevel = level;
        return DS_OK;
    }

    HRESULT GetCaps(DSCAPS* caps) override
    {
        if (caps == nullptr || caps->dwSize != sizeof(DSCAPS))
            return DSERR_INVALIDPARAM;
        *caps = DSCAPS{};
        caps->dwSize = sizeof(DSCAPS);
        caps->dwMinSecondarySampleRate = kMinRate;
        caps->dwMaxSecondarySampleRate = kMaxRate;
        caps->dwPrimaryBuffers = 1;
        return DS_OK;
    }

    HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** buffer, void* outer) override
    {
        if (outer != nullptr)
            return DSERR_NOAGGREGATION;
        if (desc == nullptr || buffer == nullptr || desc->dwSize != sizeof(DSBUFFERDESC))
            return DSERR_INVALIDPARAM;
        *buffer = nullptr;
        if ((desc->dwFlags & DSBCAPS_PRIMARYBUFFER) != 0) {
            if (desc->dwBufferBytes != 0 || desc->lpwfxFormat != nullptr)
                return DSERR_INVALIDPARAM;
        } else {
            if (desc->lpwfxFormat == nullptr)
                return DSERR_INVALIDPARAM;
            if (!IsPlayableFormat(*desc->lpwfxFormat))
                return DSERR_BADFORMAT;
            if (desc->dwBufferBytes < DSBSIZE_MIN || desc->dwBufferBytes > DSBSIZE_MAX ||
                desc->dwBufferBytes % desc->lpwfxFormat->nBlockAlign != 0)
                return DSERR_INVALIDPARAM;
        }
        try {
            *buffer = new SoundBuffer(m_engine, *desc);
        } catch (const std::bad_alloc&) {
            return DSERR_OUTOFMEMORY;
        }
        return DS_OK;
    }

    HRESULT MixForTests(void* out, uint32_t frames) override
    {
        if (!m_engine->Manual || out == nullptr)
            return DSERR_INVALIDCALL;
        std::lock_guard lock(m_engine->Mutex);
        if (!m_engine->HasFormat)
            return DSERR_INVALIDCALL;
        m_engine->MixLocked(static_cast<uint8_t*>(out), frames);
        return DS_OK;
    }

    // Set when the device opened SDL's audio subsystem, which its end closes again.
    bool OwnsAudioSubsystem = false;

private:
    ~SoundDevice() override
    {
        {
            std::lock_guard lock(m_engine->Mutex);
            m_engine->Closed = true;
        }
        m_engine->CloseOutput();
        if (OwnsAudioSubsystem)
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    std::atomic<uint32_t> m_references{1};
    std::shared_ptr<Engine> m_engine;
};

// True when the default output device opens with a common format.
bool DefaultDeviceOpens()
{
    SDL_AudioSpec want{};
    want.freq = 16000;
    want.format = AUDIO_S16LSB;
    want.channels = 1;
    want.samples = 256;
    want.callback = nullptr; // queued audio: nothing runs while the device is paused
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device == 0)
        return false;
    SDL_CloseAudioDevice(device);
    return true;
}

} // namespace

HRESULT DirectSoundCreate(const void* deviceGuid, IDirectSound** device, void* outer)
{
    if (device == nullptr)
        return DSERR_INVALIDPARAM;
    *device = nullptr;
    if (outer != nullptr)
        return DSERR_NOAGGREGATION;
    if (deviceGuid != nullptr)
        return DSERR_NODRIVER; // only the default device exists here
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return DSERR_NODRIVER;
    if (!DefaultDeviceOpens()) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return DSERR_NODRIVER;
    }
    auto* created = new SoundDevice(false);
    created->OwnsAudioSubsystem = true;
    *device = created;
    return DS_OK;
}

HRESULT DirectSoundCreateManual(IDirectSound** device)
{
    if (device == nullptr)
        return DSERR_INVALIDPARAM;
    *device = new SoundDevice(true);
    return DS_OK;
}

} // namespace qrv
