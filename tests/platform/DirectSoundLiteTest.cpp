// DirectSoundLite: locking across the wrap, cursors, volume, software mixing, formats, and
// the SDL output (dummy and disk drivers; a missing driver).

#include "DirectSoundLite.h"

#include "ScopedEnv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qrv {
namespace {

using test::ScopedEnv;

WAVEFORMATEX Pcm(uint32_t rate, uint16_t channels, uint16_t bits)
{
    WAVEFORMATEX f;
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

constexpr uint32_t kChannelFlags = 0x181E0; // what the channel mixer asks for, volume included

// A device (manual unless given), its primary buffer at `out`, and helpers to make
// secondary buffers and to run the output.
class Rig {
public:
    explicit Rig(const WAVEFORMATEX& out, IDirectSound* device = nullptr) : Out(out)
    {
        if (device == nullptr) {
            EXPECT_EQ(DirectSoundCreateManual(&device), DS_OK);
        }
        Device = device;
        EXPECT_EQ(Device->SetCooperativeLevel(0, DSSCL_PRIORITY), DS_OK);
        DSBUFFERDESC desc;
        desc.dwSize = sizeof(desc);
        desc.dwFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_LOCHARDWARE;
        EXPECT_EQ(Device->CreateSoundBuffer(&desc, &Primary, nullptr), DS_OK);
    }
    ~Rig()
    {
        for (auto* b : Buffers)
            b->Release();
        SafeRelease(Primary);
        SafeRelease(Device);
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    HRESULT SetFormat() { return Primary->SetFormat(&Out); }

    IDirectSoundBuffer* Make(const WAVEFORMATEX& format, uint32_t bytes, uint32_t flags = kChannelFlags)
    {
        DSBUFFERDESC desc;
        desc.dwSize = sizeof(desc);
        desc.dwFlags = flags;
        desc.dwBufferBytes = bytes;
        desc.lpwfxFormat = &format;
        IDirectSoundBuffer* b = nullptr;
        EXPECT_EQ(Device->CreateSoundBuffer(&desc, &b, nullptr), DS_OK);
        if (b != nullptr)
            Buffers.push_back(b);
        return b;
    }

    // Output samples of `frames` frames (16-bit output).
    std::vector<int16_t> Mix16(uint32_t frames)
    {
        std::vector<int16_t> out(size_t{frames} * Out.nChannels);
        EXPECT_EQ(Device->MixForTests(out.data(), frames), DS_OK);
        return out;
    }

    WAVEFORMATEX Out;
    IDirectSound* Device = nullptr;
    IDirectSoundBuffer* Primary = nullptr;
    std::vector<IDirectSoundBuffer*> Buffers;
};

// Writes `bytes` into `buffer` at `offset` through Lock/Unlock.
void Put(IDirectSoundBuffer* buffer, uint32_t offset, const std::vector<uint8_t>& bytes)
{
    void* r1 = nullptr;
    void* r2 = nullptr;
    uint32_t n1 = 0;
    uint32_t n2 = 0;
    ASSERT_EQ(buffer->Lock(offset, static_cast<uint32_t>(bytes.size()), &r1, &n1, &r2, &n2, 0), DS_OK);
    std::memcpy(r1, bytes.data(), n1);
    if (n2 > 0)
        std::memcpy(r2, bytes.data() + n1, n2);
    ASSERT_EQ(buffer->Unlock(r1, n1, r2, n2), DS_OK);
}

std::vector<uint8_t> Samples16(const std::vector<int16_t>& samples)
{
    std::vector<uint8_t> bytes;
    for (int16_t s : samples) {
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) & 0xFF));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
    }
    return bytes;
}

// Sample i of a 16-bit buffer filled with FillRamp: i + 1, distinct and never silent.
void FillRamp(IDirectSoundBuffer* buffer, uint32_t bytes)
{
    std::vector<int16_t> samples(bytes / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(i + 1);
    Put(buffer, 0, Samples16(samples));
}

uint32_t PlayCursor(IDirectSoundBuffer* buffer)
{
    uint32_t play = 0;
    EXPECT_EQ(buffer->GetCurrentPosition(&play, nullptr), DS_OK);
    return play;
}

// ---------------------------------------------------------------------------------------

TEST(DirectSoundLiteLock, RegionsSplitAtTheEndAndWritesLandWhereLocked)
{
    struct Case {
        uint32_t offset, bytes, first, second;
    };
    const Case cases[] = {
        {0, 100, 100, 0},      // inside
        {7000, 1000, 1000, 0}, // up to the end exactly
        {7900, 200, 100, 100}, // across the wrap
        {7998, 8000, 2, 7998}, // the whole buffer, starting just before the end
        {0, 8000, 8000, 0},    // the whole buffer from the start
        {4000, 0, 0, 0},       // nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "offset " << c.offset << " bytes " << c.bytes);
        Rig rig(Pcm(16000, 1, 16));
        ASSERT_EQ(rig.SetFormat(), DS_OK);
        IDirectSoundBuffer* b = rig.Make(Pcm(16000, 1, 16), 8000);
        void* r1 = nullptr;
        void* r2 = reinterpret_cast<void*>(1);
        uint32_t n1 = 99;
        uint32_t n2 = 99;
        ASSERT_EQ(b->Lock(c.offset, c.bytes, &r1, &n1, &r2, &n2, 0), DS_OK);
        EXPECT_EQ(n1, c.first);
        EXPECT_EQ(n2, c.second);
        EXPECT_EQ(r2 == nullptr, c.second == 0);
        // Mark every locked byte pair as sample 0x0101 and check that exactly those samples
        // come out of a full turn of the buffer.
        std::memset(r1, 1, n1);
        if (n2 > 0)
            std::memset(r2, 1, n2);
        ASSERT_EQ(b->Unlock(r1, n1, r2, n2), DS_OK);
        ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        const auto out = rig.Mix16(4000);
        for (uint32_t i = 0; i < 4000; ++i) {
            const uint32_t at = i * 2;
            const bool locked = (at >= c.offset && at < c.offset + c.first) || at < c.second;
            ASSERT_EQ(out[i], locked ? 0x0101 : 0) << "sample " << i;
        }
    }
}

TEST(DirectSoundLiteLock, RefusesBadRangesAndMisuse)
{
    Rig rig(Pcm(16000, 1, 16));
    IDirectSoundBuffer* b = rig.Make(Pcm(16000, 1, 16), 8000);
    void* r1 = nullptr;
    void* r2 = nullptr;
    uint32_t n1 = 0;
    uint32_t n2 = 0;
    EXPECT_EQ(b->Lock(8000, 2, &r1, &n1, &r2, &n2, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->Lock(0, 8002, &r1, &n1, &r2, &n2, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->Lock(7900, 200, &r1, &n1, nullptr, nullptr, 0), DSERR_INVALIDPARAM) << "two regions, one pointer";
    EXPECT_EQ(b->Unlock(r1, 0, nullptr, 0), DSERR_INVALIDPARAM) << "nothing locked";

    ASSERT_EQ(b->Lock(100, 200, &r1, &n1, &r2, &n2, 0), DS_OK);
    void* again = nullptr;
    EXPECT_EQ(b->Lock(0, 2, &again, &n1, &r2, &n2, 0), DSERR_INVALIDCALL);
    EXPECT_EQ(b->Unlock(r1, 202, nullptr, 0), DSERR_INVALIDPARAM) << "more than was locked";
    EXPECT_EQ(b->Unlock(r1, 200, nullptr, 0), DS_OK);

    EXPECT_EQ(b->Lock(0, 0, &r1, &n1, &r2, &n2, DSBLOCK_ENTIREBUFFER), DS_OK);
    EXPECT_EQ(n1, 8000u);
    EXPECT_EQ(b->Unlock(r1, n1, r2, 0), DS_OK);
}

TEST(DirectSoundLiteCursor, AdvancesByWhatTheOutputTookAndWraps)
{
    Rig rig(Pcm(16000, 1, 16));
    ASSERT_EQ(rig.SetFormat(), DS_OK);
    IDirectSoundBuffer* looping = rig.Make(Pcm(16000, 1, 16), 8000);
    IDirectSoundBuffer* once = rig.Make(Pcm(16000, 1, 16), 8000);
    IDirectSoundBuffer* halfRate = rig.Make(Pcm(8000, 1, 16), 8000);
    IDirectSoundBuffer* stopped = rig.Make(Pcm(16000, 1, 16), 8000);
    FillRamp(looping, 8000);
    FillRamp(once, 8000);
    ASSERT_EQ(looping->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ASSERT_EQ(once->Play(0, 0, 0), DS_OK);
    ASSERT_EQ(halfRate->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ASSERT_EQ(stopped->SetCurrentPosition(1001), DS_OK);

    rig.Mix16(1000);
    EXPECT_EQ(PlayCursor(looping), 2000u);
    EXPECT_EQ(PlayCursor(halfRate), 1000u) << "an 8 kHz buffer takes half as many frames";
    EXPECT_EQ(PlayCursor(stopped), 1000u) << "rounded down to a whole sample, and stopped buffers stay";

    const auto out = rig.Mix16(3500); // 2000 + 7000 bytes: the looping one wraps to 1000
    EXPECT_EQ(PlayCursor(looping), 1000u);
    EXPECT_EQ(PlayCursor(once), 0u) << "a buffer played once stops at its end";
    // Both ramps up to the end of the buffer (sample 3999), then only the looping one.
    EXPECT_EQ(out[2999], 2 * 4000);
    EXPECT_EQ(out[3000], 1);
    const auto later = rig.Mix16(10);
    EXPECT_EQ(later[0], 501) << "the looping buffer alone, from sample 500";
    EXPECT_EQ(PlayCursor(once), 0u);

    ASSERT_EQ(looping->Stop(), DS_OK);
    rig.Mix16(100);
    EXPECT_EQ(PlayCursor(looping), 1020u) << "Stop keeps the cursor";
    EXPECT_EQ(looping->SetCurrentPosition(8000), DSERR_INVALIDPARAM);
}

TEST(DirectSoundLiteMix, VolumeScalesEachBuffer)
{
    struct Case {
        int32_t volume;
        int16_t expected; // for a sample of 20000
    };
    const Case cases[] = {
        {0, 20000},      // as written
        {-600, 10023},   // -6 dB: 20000 * 10^(-0.3)
        {-2000, 2000},   // -20 dB: a tenth
        {-50, 18881},    // the channel mixer's volume
        {-10000, 0},     // silent
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.volume);
        Rig rig(Pcm(16000, 1, 16));
        ASSERT_EQ(rig.SetFormat(), DS_OK);
        IDirectSoundBuffer* b = rig.Make(Pcm(16000, 1, 16), 400);
        Put(b, 0, Samples16(std::vector<int16_t>(200, 20000)));
        ASSERT_EQ(b->SetVolume(c.volume), DS_OK);
        ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        const auto out = rig.Mix16(8);
        EXPECT_NEAR(out[0], c.expected, 1);
    }
    Rig rig(Pcm(16000, 1, 16));
    IDirectSoundBuffer* b = rig.Make(Pcm(16000, 1, 16), 400);
    EXPECT_EQ(b->SetVolume(1), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->SetVolume(-10001), DSERR_INVALIDPARAM);
    IDirectSoundBuffer* fixed = rig.Make(Pcm(16000, 1, 16), 400, 0);
    EXPECT_EQ(fixed->SetVolume(-100), DSERR_CONTROLUNAVAIL);
}

TEST(DirectSoundLiteMix, AddsBuffersWithSaturationAndConvertsSampleLayouts)
{
    struct Case {
        const char* what;
        WAVEFORMATEX out;
        WAVEFORMATEX a, b;
        std::vector<uint8_t> aFrame, bFrame; // one frame of each buffer
        std::vector<uint8_t> expected;       // one output frame
    };
    auto s16 = [](std::initializer_list<int16_t> v) { return Samples16(std::vector<int16_t>(v)); };
    const Case cases[] = {
        {"positive overflow clips", Pcm(16000, 1, 16), Pcm(16000, 1, 16), Pcm(16000, 1, 16), s16({30000}),
         s16({30000}), s16({32767})},
        {"negative overflow clips", Pcm(16000, 1, 16), Pcm(16000, 1, 16), Pcm(16000, 1, 16), s16({-30000}),
         s16({-30000}), s16({-32768})},
        {"opposite signs add exactly", Pcm(16000, 1, 16), Pcm(16000, 1, 16), Pcm(16000, 1, 16), s16({30000}),
         s16({-10000}), s16({20000})},
        {"8-bit is unsigned around 128", Pcm(16000, 1, 16), Pcm(16000, 1, 8), Pcm(16000, 1, 8), {0xFF}, {0x00},
         s16({127 * 256 - 128 * 256})},
        {"8-bit silence adds nothing", Pcm(16000, 1, 16), Pcm(16000, 1, 8), Pcm(16000, 1, 16), {0x80}, s16({-5}),
         s16({-5})},
        {"8-bit output", Pcm(16000, 1, 8), Pcm(16000, 1, 16), Pcm(16000, 1, 16), s16({1000}), s16({24}), {0x80 + 4}},
        {"mono spreads over stereo", Pcm(16000, 2, 16), Pcm(16000, 1, 16), Pcm(16000, 2, 16), s16({100}),
         s16({1, 2}), s16({101, 102})},
        {"stereo into mono is averaged", Pcm(16000, 1, 16), Pcm(16000, 2, 16), Pcm(16000, 1, 16), s16({100, 300}),
         s16({0}), s16({200})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(c.out);
        ASSERT_EQ(rig.SetFormat(), DS_OK);
        for (const auto& [format, frame] : {std::pair{c.a, c.aFrame}, std::pair{c.b, c.bFrame}}) {
            IDirectSoundBuffer* buffer = rig.Make(format, format.nBlockAlign * 4, DSBCAPS_CTRLVOLUME);
            std::vector<uint8_t> bytes;
            for (int i = 0; i < 4; ++i)
                bytes.insert(bytes.end(), frame.begin(), frame.end());
            Put(buffer, 0, bytes);
            ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        }
        std::vector<uint8_t> out(c.out.nBlockAlign * 2);
        ASSERT_EQ(rig.Device->MixForTests(out.data(), 2), DS_OK);
        EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + c.out.nBlockAlign), c.expected);
    }
}

TEST(DirectSoundLiteFormats, RefusesWhatItCannotPlay)
{
    auto with = [](auto change) {
        WAVEFORMATEX f = Pcm(16000, 1, 16);
        change(f);
        return f;
    };
    struct Case {
        const char* what;
        WAVEFORMATEX format;
        uint32_t bytes;
        HRESULT expected;
    };
    const Case cases[] = {
        {"MPEG Layer-3", with([](WAVEFORMATEX& f) { f.wFormatTag = 0x55; }), 8000, DSERR_BADFORMAT},
        {"24 bits", Pcm(16000, 1, 24), 9000, DSERR_BADFORMAT},
        {"no channels", with([](WAVEFORMATEX& f) { f.nChannels = 0; }), 8000, DSERR_BADFORMAT},
        {"more channels than a device has", Pcm(16000, 256, 16), 512, DSERR_BADFORMAT},
        {"block align wrong", with([](WAVEFORMATEX& f) { f.nBlockAlign = 4; }), 8000, DSERR_BADFORMAT},
        {"byte rate wrong", with([](WAVEFORMATEX& f) { f.nAvgBytesPerSec = 1; }), 8000, DSERR_BADFORMAT},
        {"rate 0", Pcm(0, 1, 16), 8000, DSERR_BADFORMAT},
        {"size ends inside a sample", Pcm(22050, 1, 16), 11025, DSERR_INVALIDPARAM},
        {"size below the minimum", Pcm(16000, 1, 16), 2, DSERR_INVALIDPARAM},
        {"size above the maximum", Pcm(16000, 1, 16), DSBSIZE_MAX + 1, DSERR_INVALIDPARAM},
    };
    Rig rig(Pcm(16000, 1, 16));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DSBUFFERDESC desc;
        desc.dwSize = sizeof(desc);
        desc.dwFlags = kChannelFlags;
        desc.dwBufferBytes = c.bytes;
        desc.lpwfxFormat = &c.format;
        IDirectSoundBuffer* b = reinterpret_cast<IDirectSoundBuffer*>(1);
        EXPECT_EQ(rig.Device->CreateSoundBuffer(&desc, &b, nullptr), c.expected);
        EXPECT_EQ(b, nullptr);
        if (c.expected == DSERR_BADFORMAT) {
            EXPECT_EQ(rig.Primary->SetFormat(&c.format), DSERR_BADFORMAT);
        }
    }

    DSBUFFERDESC primary;
    primary.dwSize = sizeof(primary);
    primary.dwFlags = DSBCAPS_PRIMARYBUFFER;
    primary.dwBufferBytes = 8000;
    IDirectSoundBuffer* b = nullptr;
    EXPECT_EQ(rig.Device->CreateSoundBuffer(&primary, &b, nullptr), DSERR_INVALIDPARAM) << "primary with a size";
    primary.dwBufferBytes = 0;
    primary.dwSize = 4;
    EXPECT_EQ(rig.Device->CreateSoundBuffer(&primary, &b, nullptr), DSERR_INVALIDPARAM) << "wrong dwSize";

    IDirectSound* normal = nullptr;
    ASSERT_EQ(DirectSoundCreateManual(&normal), DS_OK);
    Rig unprivileged(Pcm(16000, 1, 16), normal);
    ASSERT_EQ(normal->SetCooperativeLevel(0, DSSCL_NORMAL), DS_OK);
    EXPECT_EQ(unprivileged.SetFormat(), DSERR_PRIOLEVELNEEDED);
}

TEST(DirectSoundLiteLifetime, BuffersOutliveTheirDevice)
{
    IDirectSound* device = nullptr;
    ASSERT_EQ(DirectSoundCreateManual(&device), DS_OK);
    WAVEFORMATEX f = Pcm(16000, 1, 16);
    DSBUFFERDESC desc;
    desc.dwSize = sizeof(desc);
    desc.dwFlags = kChannelFlags;
    desc.dwBufferBytes = 800;
    desc.lpwfxFormat = &f;
    IDirectSoundBuffer* b = nullptr;
    ASSERT_EQ(device->CreateSoundBuffer(&desc, &b, nullptr), DS_OK);
    EXPECT_EQ(device->AddRef(), 2u);
    EXPECT_EQ(device->Release(), 1u);
    EXPECT_EQ(device->Release(), 0u);
    EXPECT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    FillRamp(b, 800);
    EXPECT_EQ(b->Stop(), DS_OK);
    EXPECT_EQ(b->Release(), 0u);
}

// ---------------------------------------------------------------------------------------
// With SDL

TEST(DirectSoundLiteDevice, NoAudioDriverMeansNoDriver)
{
    ScopedEnv driver("SDL_AUDIODRIVER", "nonexistent");
    IDirectSound* device = reinterpret_cast<IDirectSound*>(1);
    EXPECT_EQ(DirectSoundCreate(nullptr, &device, nullptr), DSERR_NODRIVER);
    EXPECT_EQ(device, nullptr);
}

TEST(DirectSoundLiteDevice, DummyDevicePlaysOnItsOwnClockAndRefusesWhatSdlRefuses)
{
    ScopedEnv driver("SDL_AUDIODRIVER", "dummy");
    IDirectSound* device = nullptr;
    ASSERT_EQ(DirectSoundCreate(nullptr, &device, nullptr), DS_OK);
    Rig rig(Pcm(16000, 9, 16), device);
    EXPECT_EQ(rig.SetFormat(), DSERR_BADFORMAT) << "SDL opens no device with nine channels";
    rig.Out = Pcm(16000, 1, 16);
    ASSERT_EQ(rig.SetFormat(), DS_OK);
    DSBCAPS caps;
    caps.dwSize = sizeof(caps);
    ASSERT_EQ(rig.Primary->GetCaps(&caps), DS_OK);
    EXPECT_GT(caps.dwBufferBytes, 0u);
    std::vector<uint8_t> out(64);
    EXPECT_EQ(device->MixForTests(out.data(), 16), DSERR_INVALIDCALL) << "the device's own clock mixes";

    IDirectSoundBuffer* b = rig.Make(Pcm(16000, 1, 16), 32000); // one second
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    uint32_t play = 0;
    uint32_t write = 0;
    ASSERT_EQ(b->GetCurrentPosition(&play, &write), DS_OK);
    EXPECT_GT(play, 0u);
    EXPECT_LT(play, 32000u);
    EXPECT_NE(write, play) << "the write cursor runs one device period ahead";
}

// The disk driver writes exactly what the callback mixed: the capture must equal a manual
// device's mix of the same buffers, sample for sample, from the first output frame.
TEST(DirectSoundLiteDevice, DiskCaptureHoldsExactlyWhatWasMixed)
{
    const auto folder = std::filesystem::temp_directory_path() / ("qrv-dsound-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto capture = folder / "capture.raw";
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv file("SDL_DISKAUDIOFILE", capture.string());

    // Three buffers of different sizes, formats and volumes; their sum clips in places.
    auto build = [](Rig& rig) {
        IDirectSoundBuffer* ramp = rig.Make(Pcm(16000, 1, 16), 8000);
        FillRamp(ramp, 8000);
        IDirectSoundBuffer* loud = rig.Make(Pcm(16000, 1, 16), 640);
        std::vector<int16_t> square(320);
        for (size_t i = 0; i < square.size(); ++i)
            square[i] = i < 160 ? 31000 : -31000;
        Put(loud, 0, Samples16(square));
        IDirectSoundBuffer* bytes = rig.Make(Pcm(8000, 1, 8), 100);
        std::vector<uint8_t> saw(100);
        for (size_t i = 0; i < saw.size(); ++i)
            saw[i] = static_cast<uint8_t>(i * 2 + 28);
        Put(bytes, 0, saw);
        EXPECT_EQ(bytes->SetVolume(-600), DS_OK);
        for (auto* b : {ramp, loud, bytes})
            EXPECT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    };

    IDirectSound* device = nullptr;
    ASSERT_EQ(DirectSoundCreate(nullptr, &device, nullptr), DS_OK);
    {
        Rig rig(Pcm(16000, 1, 16), device);
        build(rig); // playing before the output opens, so the first callback takes them all from 0
        ASSERT_EQ(rig.SetFormat(), DS_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    } // released: the output closes

    std::ifstream in(capture, std::ios::binary);
    std::vector<uint8_t> captured((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove_all(folder);
    // The output may run a period or two of silence before it is unpaused; the mix itself
    // starts with a sound (ramp 1 plus the square's 31000).
    size_t start = 0;
    while (start + 1 < captured.size() && captured[start] == 0 && captured[start + 1] == 0)
        start += 2;
    captured.erase(captured.begin(), captured.begin() + static_cast<std::ptrdiff_t>(start));
    ASSERT_GE(captured.size(), 3200u) << "at least 100 ms captured";

    Rig manual(Pcm(16000, 1, 16));
    ASSERT_EQ(manual.SetFormat(), DS_OK);
    build(manual);
    const auto expected = Samples16(manual.Mix16(static_cast<uint32_t>(captured.size() / 2)));
    ASSERT_EQ(captured.size() % 2, 0u);
    for (size_t i = 0; i < captured.size(); ++i)
        ASSERT_EQ(captured[i], expected[i]) << "byte " << i;
}

} // namespace
} // namespace qrv
