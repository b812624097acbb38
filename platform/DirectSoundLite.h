#pragma once

// A small DirectSound: a device object, its primary buffer and looping secondary buffers,
// with the calls, flags and result codes the channel mixer uses and nothing more.
//
// Every playing secondary buffer is mixed in software into one output stream at the format
// set on the primary buffer: each buffer's samples are scaled by its volume, converted to
// the output's sample size and channel count (8-bit PCM is unsigned, 16-bit signed), taken
// at the output rate (nearest sample when the rates differ) and added with saturation to
// 16 bits. The stream goes to the default SDL2 audio device, opened when the primary
// buffer's format is set and closed when the device object is released. The device's audio
// callback advances each playing buffer's play cursor by the bytes it consumed, wrapping
// looping buffers and stopping the others at their end.
//
// A device created by DirectSoundCreateManual opens no SDL device: the output advances only
// when a test calls MixForTests, so cursors and refill rules can be checked exactly.
//
// Threads: every call may come from any thread. One mutex per device guards the buffers'
// state and memory; the audio callback holds it only while it mixes one device period.
// Lock hands out a staging copy of the regions and Unlock copies them back under the mutex,
// so the callback never reads memory that a caller is writing.
//
// Objects are reference counted: creation returns one reference, AddRef adds one, Release
// drops one and frees the object at zero. A buffer keeps the device's mixing state alive;
// releasing the device's last reference closes the output even while buffers remain (they
// then accept calls but are never heard).

#include <cstdint>

namespace qrv {

using HRESULT = int32_t;

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// Result codes, as the mixer's error table names them.
inline constexpr HRESULT DS_OK = 0;
inline constexpr HRESULT DSERR_UNSUPPORTED = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT DSERR_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT DSERR_GENERIC = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT DSERR_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
inline constexpr HRESULT DSERR_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
inline constexpr HRESULT DSERR_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT DSERR_INVALIDPARAM = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT DSERR_ALLOCATED = static_cast<HRESULT>(0x8878000Au);
inline constexpr HRESULT DSERR_CONTROLUNAVAIL = static_cast<HRESULT>(0x8878001Eu);
inline constexpr HRESULT DSERR_INVALIDCALL = static_cast<HRESULT>(0x88780032u);
inline constexpr HRESULT DSERR_PRIOLEVELNEEDED = static_cast<HRESULT>(0x88780046u);
inline constexpr HRESULT DSERR_BADFORMAT = static_cast<HRESULT>(0x88780064u);
inline constexpr HRESULT DSERR_NODRIVER = static_cast<HRESULT>(0x88780078u);
inline constexpr HRESULT DSERR_ALREADYINITIALIZED = static_cast<HRESULT>(0x88780082u);
inline constexpr HRESULT DSERR_BUFFERLOST = static_cast<HRESULT>(0x88780096u);
inline constexpr HRESULT DSERR_OTHERAPPHASPRIO = static_cast<HRESULT>(0x887800A0u);
inline constexpr HRESULT DSERR_UNINITIALIZED = static_cast<HRESULT>(0x887800AAu);
inline constexpr HRESULT DSERR_BUFFERTOOSMALL = static_cast<HRESULT>(0x887800B4u);
inline constexpr HRESULT DSERR_DS8_REQUIRED = static_cast<HRESULT>(0x887800BEu);
inline constexpr HRESULT DSERR_SENDLOOP = static_cast<HRESULT>(0x887800C8u);
inline constexpr HRESULT DSERR_BADSENDBUFFERGUID = static_cast<HRESULT>(0x887800D2u);
inline constexpr HRESULT DSERR_FXUNAVAILABLE = static_cast<HRESULT>(0x887800DCu);
inline constexpr HRESULT DSERR_OBJECTNOTFOUND = static_cast<HRESULT>(0x88781161u);

// Cooperative levels.
inline constexpr uint32_t DSSCL_NORMAL = 1;
inline constexpr uint32_t DSSCL_PRIORITY = 2;
inline constexpr uint32_t DSSCL_EXCLUSIVE = 3;
inline constexpr uint32_t DSSCL_WRITEPRIMARY = 4;

// Buffer description flags. Only DSBCAPS_PRIMARYBUFFER and DSBCAPS_CTRLVOLUME change
// behaviour here; the others are accepted and reported back by GetCaps.
inline constexpr uint32_t DSBCAPS_PRIMARYBUFFER = 0x00000001;
inline constexpr uint32_t DSBCAPS_STATIC = 0x00000002;
inline constexpr uint32_t DSBCAPS_LOCHARDWARE = 0x00000004;
inline constexpr uint32_t DSBCAPS_LOCSOFTWARE = 0x00000008;
inline constexpr uint32_t DSBCAPS_CTRLFREQUENCY = 0x00000020;
inline constexpr uint32_t DSBCAPS_CTRLPAN = 0x00000040;
inline constexpr uint32_t DSBCAPS_CTRLVOLUME = 0x00000080;
inline constexpr uint32_t DSBCAPS_CTRLPOSITIONNOTIFY = 0x00000100;
inline constexpr uint32_t DSBCAPS_GLOBALFOCUS = 0x00008000;
inline constexpr uint32_t DSBCAPS_GETCURRENTPOSITION2 = 0x00010000;

inline constexpr uint32_t DSBPLAY_LOOPING = 0x00000001;

inline constexpr uint32_t DSBLOCK_FROMWRITECURSOR = 0x00000001;
inline constexpr uint32_t DSBLOCK_ENTIREBUFFER = 0x00000002;

// Volume in hundredths of a decibel: 0 is the sound as written, -10000 is silence.
inline constexpr int32_t DSBVOLUME_MAX = 0;
inline constexpr int32_t DSBVOLUME_MIN = -10000;

// Secondary buffer sizes in bytes.
inline constexpr uint32_t DSBSIZE_MIN = 4;
inline constexpr uint32_t DSBSIZE_MAX = 0x0FFFFFFF;

inline constexpr uint16_t WAVE_FORMAT_PCM = 1;

// The wave-format structure: 18 bytes, packed, as stored in the mixer's format records.
#pragma pack(push, 1)
struct WAVEFORMATEX {
    uint16_t wFormatTag = 0;
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0;
    uint16_t nBlockAlign = 0;
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

// Device capabilities. dwSize has to be set to sizeof(DSCAPS) before GetCaps.
struct DSCAPS {
    uint32_t dwSize = 0;
    uint32_t dwFlags = 0;
    uint32_t dwMinSecondarySampleRate = 0;
    uint32_t dwMaxSecondarySampleRate = 0;
    uint32_t dwPrimaryBuffers = 0;
    uint32_t dwMaxHwMixingAllBuffers = 0;
    uint32_t dwFreeHwMixingAllBuffers = 0;
    // Kilobytes per second moved into hardware buffers; 0, since nothing is mixed in hardware.
    uint32_t dwUnlockTransferRateHwBuffers = 0;
    uint32_t dwPlayCpuOverheadSwBuffers = 0;
};

// Buffer capabilities. dwSize has to be set to sizeof(DSBCAPS) before GetCaps.
struct DSBCAPS {
    uint32_t dwSize = 0;
    uint32_t dwFlags = 0;
    uint32_t dwBufferBytes = 0;
    uint32_t dwUnlockTransferRate = 0;
    uint32_t dwPlayCpuOverhead = 0;
};

// What CreateSoundBuffer makes. dwSize has to be sizeof(DSBUFFERDESC).
// Primary buffer: DSBCAPS_PRIMARYBUFFER in dwFlags, dwBufferBytes 0, lpwfxFormat null.
// Secondary buffer: a PCM format (1 to 255 channels, 8 or 16 bits, consistent block align
// and byte rate) and a size of whole blocks between DSBSIZE_MIN and DSBSIZE_MAX.
struct DSBUFFERDESC {
    uint32_t dwSize = 0;
    uint32_t dwFlags = 0;
    uint32_t dwBufferBytes = 0;
    uint32_t dwReserved = 0;
    const WAVEFORMATEX* lpwfxFormat = nullptr;
};

class IDirectSoundBuffer {
public:
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

    virtual HRESULT GetCaps(DSBCAPS* caps) = 0;
    // Primary buffer only: the output's format. Needs cooperative level DSSCL_PRIORITY or
    // higher. Opens the output device (closing any earlier one); DSERR_BADFORMAT when the
    // format is not PCM as described above or the device refuses it.
    virtual HRESULT SetFormat(const WAVEFORMATEX* format) = 0;
    // Starts playing from the current position; DSBPLAY_LOOPING wraps at the end,
    // otherwise the buffer stops there. Playing again only changes the looping flag.
    virtual HRESULT Play(uint32_t reserved1, uint32_t priority, uint32_t flags) = 0;
    virtual HRESULT Stop() = 0;
    // Moves the play cursor (rounded down to a whole block); below the buffer size.
    virtual HRESULT SetCurrentPosition(uint32_t position) = 0;
    // Play cursor, and the write cursor: the first byte the output has not yet taken
    // (play cursor plus what one device period takes). Either pointer may be null.
    virtual HRESULT GetCurrentPosition(uint32_t* play, uint32_t* write) = 0;
    // Locks `bytes` bytes from `offset` (below the size; `bytes` at most the size) as one
    // region, or two when they run over the end: the second then starts at offset 0.
    // Both regions hold the buffer's current contents; what is written into them takes
    // effect at Unlock. One lock at a time per buffer (DSERR_INVALIDCALL otherwise).
    virtual HRESULT Lock(uint32_t offset, uint32_t bytes, void** region1, uint32_t* bytes1,
                         void** region2, uint32_t* bytes2, uint32_t flags) = 0;
    // Ends the lock; the arguments are the regions Lock gave and the bytes written in each.
    virtual HRESULT Unlock(void* region1, uint32_t bytes1, void* region2, uint32_t bytes2) = 0;
    // Volume from DSBVOLUME_MIN to DSBVOLUME_MAX: gain = 10^(volume / 2000), exactly 0 at
    // DSBVOLUME_MIN. Needs DSBCAPS_CTRLVOLUME.
    virtual HRESULT SetVolume(int32_t volume) = 0;

protected:
    virtual ~IDirectSoundBuffer() = default;
};

class IDirectSound {
public:
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

    // The window is kept only for the record; there is no focus to follow.
    virtual HRESULT SetCooperativeLevel(uintptr_t window, uint32_t level) = 0;
    virtual HRESULT GetCaps(DSCAPS* caps) = 0;
    virtual HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** buffer, void* outer) = 0;

    // Manual devices only (DSERR_INVALIDCALL otherwise, or before the primary format is
    // set): mixes `frames` output frames into `out` at the primary buffer's format and
    // advances the playing buffers' cursors, as one device period would.
    virtual HRESULT MixForTests(void* out, uint32_t frames) = 0;

protected:
    virtual ~IDirectSound() = default;
};

// Opens the default output device. DSERR_NODRIVER when SDL has no audio driver or the
// default device cannot be opened; `outer` has to be null (DSERR_NOAGGREGATION).
HRESULT DirectSoundCreate(const void* deviceGuid, IDirectSound** device, void* outer);

// A device without an output: nothing plays until MixForTests is called.
HRESULT DirectSoundCreateManual(IDirectSound** device);

// Drops one reference and clears the pointer; does nothing for a null pointer.
template <typename T>
inline void SafeRelease(T*& object)
{
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

} // namespace qrv
