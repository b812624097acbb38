// The channel mixer on DirectSoundLite: manual devices stepped 20 ms at a time with a fake
// clock (no device clock, no push thread), then the real push thread against SDL's dummy
// and disk drivers.

#include "DSAudioMixerQRV.h"

#include "ScopedEnv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qrv {
namespace {

using test::ScopedEnv;

class RecordingLog : public IMixerLog {
public:
    bool WriteLog(const std::string& text, bool /*withContext*/) override
    {
        std::lock_guard lock(m_lock);
        m_lines.push_back(text);
        return true;
    }
    std::vector<std::string> Lines() const
    {
        std::lock_guard lock(m_lock);
        return m_lines;
    }
    size_t Count(const std::string& text) const
    {
        const auto lines = Lines();
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_lines;
};

// PCM of `samples` 16-bit samples, all `value`, or counting up from `value` with `ramp`.
std::vector<uint8_t> Pcm(size_t samples, int16_t value, bool ramp = false)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < samples; ++i) {
        const auto v = static_cast<uint16_t>(ramp ? value + static_cast<int16_t>(i) : value);
        bytes.push_back(static_cast<uint8_t>(v & 0xFF));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
    return bytes;
}

// The channel's volume (-50) applied to `sample` as the mixing does, to within one step.
double Attenuated(int sample)
{
    return sample * std::pow(10.0, TQRVDSChannel::DefaultVolume / 2000.0);
}

// A mixer on manual devices. Step() plays 20 ms of output, moves the clock 20 ms and runs
// one refill round, as the device and the push thread do together.
class ManualMixer {
public:
    explicit ManualMixer(int codec = 3)
        : Mixer(&Log, TQRVMixerOptions{
                          [this](IDirectSound** device) {
                              return DeviceMissing ? DSERR_NODRIVER : DirectSoundCreateManual(device);
                          },
                          [this] { return Now; }, false})
    {
        const auto records = CodecFormatRecords(codec);
        EXPECT_TRUE(records.has_value());
        if (records) {
            Mixer.SetInputFormat(records->Input);
            Mixer.SetOutputFormat(records->Output);
        }
    }

    uint32_t Rate() const { return Mixer.CurrentOutputFormat().nSamplesPerSec; }

    void Play(uint32_t ms)
    {
        const uint32_t frames = Rate() * ms / 1000;
        std::vector<int16_t> out(frames);
        ASSERT_NE(Mixer.DirectSound(), nullptr);
        ASSERT_EQ(Mixer.DirectSound()->MixForTests(out.data(), frames), DS_OK);
        Heard.insert(Heard.end(), out.begin(), out.end());
    }

    void Step(int rounds = 1)
    {
        for (int i = 0; i < rounds; ++i) {
            Play(Mixer.PushPeriodMs);
            Now += static_cast<uint32_t>(Mixer.PushPeriodMs);
            Mixer.PushAll();
        }
    }

    // Index in Heard of the first sample at or after `from` that is not silent; -1: none.
    long FirstSound(size_t from = 0) const
    {
        for (size_t i = from; i < Heard.size(); ++i)
            if (Heard[i] != 0)
                return static_cast<long>(i);
        return -1;
    }

    RecordingLog Log;
    bool DeviceMissing = false;
    uint32_t Now = 1000;
    TQRVDirectSound Mixer;
    std::vector<int16_t> Heard;
};

// ---------------------------------------------------------------------------------------

TEST(DSAudioMixerChannel, BufferAndQueueLimitFollowTheCodec)
{
    struct Case {
        int codec;
        uint32_t bufferBytes, maxPending;
    };
    for (const Case c : {Case{2, 4000, 16000}, Case{3, 8000, 32000}, Case{4, 16000, 64000}}) {
        SCOPED_TRACE(c.codec);
        ManualMixer m(c.codec);
        m.Mixer.StartMixer();
        ASSERT_TRUE(m.Mixer.Started());
        m.Mixer.WritePCM(1, Pcm(160, 1000).data(), 320);
        TQRVDSChannel* channel = m.Mixer.GetChannel(1);
        ASSERT_NE(channel, nullptr);
        EXPECT_EQ(channel->BufferBytes(), c.bufferBytes);
        EXPECT_EQ(channel->MaxPendingBytes(), c.maxPending);
        DSBCAPS caps;
        caps.dwSize = sizeof(caps);
        ASSERT_EQ(channel->Buffer()->GetCaps(&caps), DS_OK);
        EXPECT_EQ(caps.dwBufferBytes, c.bufferBytes);
        EXPECT_TRUE(channel->Playing());
    }
    EXPECT_FALSE(CodecFormatRecords(5).has_value());
    EXPECT_FALSE(CodecFormatRecords(-1).has_value());
}

// A channel's buffer is a delay line one buffer long: sound is heard 250 ms after it is
// queued, the first time and again after a pause, and a starved channel plays silence
// instead of repeating what its buffer held.
TEST(DSAudioMixerChannel, SoundIsHeardOneBufferLengthAfterItArrives)
{
    ManualMixer m(3);
    m.Mixer.StartMixer();
    m.Step(5); // the first round creates every channel
    EXPECT_EQ(m.Mixer.ChannelCount(), 255);

    const size_t arrived = m.Heard.size();
    for (int frame = 0; frame < 10; ++frame) // 200 ms of sound in ten 20 ms frames
        m.Mixer.WritePCM(1, Pcm(320, 10000).data(), 640);
    m.Step(40);

    const long first = m.FirstSound(arrived);
    ASSERT_GE(first, 0);
    EXPECT_EQ(static_cast<size_t>(first) - arrived, 4000u) << "250 ms at 16 kHz";
    const auto toneEnd = std::find(m.Heard.begin() + first, m.Heard.end(), 0) - m.Heard.begin();
    EXPECT_EQ(toneEnd - first, 3200) << "200 ms, whole";
    EXPECT_NEAR(m.Heard[static_cast<size_t>(first)], Attenuated(10000), 1.0);
    EXPECT_EQ(m.FirstSound(static_cast<size_t>(toneEnd)), -1) << "starved: silence, no replay of the old sound";
    EXPECT_TRUE(m.Mixer.GetChannel(1)->Playing());

    const size_t resumed = m.Heard.size();
    m.Mixer.WritePCM(1, Pcm(320, -7000).data(), 640);
    m.Step(20);
    const long again = m.FirstSound(resumed);
    ASSERT_GE(again, 0);
    EXPECT_EQ(static_cast<size_t>(again) - resumed, 4000u);
}

// Sound written 20 ms per round comes out as one unbroken stream, also where a round's
// region ends at the buffer's end (8000 bytes is 12.5 rounds) and the rest wraps.
TEST(DSAudioMixerChannel, ContinuousSoundSurvivesTheWrap)
{
    ManualMixer m(3);
    m.Mixer.StartMixer();
    m.Step();
    const size_t arrived = m.Heard.size();
    std::vector<int16_t> written;
    for (int round = 0; round < 60; ++round) {
        const auto frame = Pcm(320, static_cast<int16_t>(100 + round * 320), true);
        for (int i = 0; i < 320; ++i)
            written.push_back(static_cast<int16_t>(100 + round * 320 + i));
        m.Mixer.WritePCM(7, frame.data(), 640);
        m.Step();
    }
    m.Step(13);
    ASSERT_GE(m.Heard.size(), arrived + 4000 + written.size());
    for (size_t i = 0; i < written.size(); ++i)
        ASSERT_NEAR(m.Heard[arrived + 4000 + i], Attenuated(written[i]), 1.0) << "sample " << i;
}

TEST(DSAudioMixerChannel, RefillAcrossTheEndWritesTwoRegionsInQueueOrder)
{
    ManualMixer m(3);
    m.Mixer.StartMixer();
    m.Mixer.WritePCM(1, Pcm(320, 3000).data(), 640); // starts playing; nothing written yet
    TQRVDSChannel* channel = m.Mixer.GetChannel(1);
    ASSERT_NE(channel, nullptr);
    channel->WriteSilence(7360);
    ASSERT_EQ(channel->WritePos(), 7360u);
    m.Mixer.WritePCM(1, Pcm(640, 1, true).data(), 1280);
    ASSERT_EQ(channel->PendingBytes(), 1920u);

    channel->WriteData(1920); // 640 bytes up to the end, 1280 from the start
    EXPECT_EQ(channel->WritePos(), 1280u);
    EXPECT_EQ(channel->PendingBytes(), 0u);

    m.Play(250); // one whole turn of the buffer from position 0
    ASSERT_EQ(m.Heard.size(), 4000u);
    for (size_t i = 0; i < 640; ++i)
        ASSERT_NEAR(m.Heard[i], Attenuated(static_cast<int>(i) + 1), 1.0) << "second region, sample " << i;
    for (size_t i = 640; i < 3680; ++i)
        ASSERT_EQ(m.Heard[i], 0) << "sample " << i;
    for (size_t i = 3680; i < 4000; ++i)
        ASSERT_NEAR(m.Heard[i], Attenuated(3000), 1.0) << "first region, sample " << i;
}

// More than one second queued: the next append empties the queue, itself included.
TEST(DSAudioMixerChannel, OverflowEmptiesTheQueue)
{
    struct Case {
        size_t queued; // bytes already waiting (no refill has run)
        size_t after;  // bytes waiting after one more 640-byte frame
        size_t next;   // and after another one
    };
    for (const Case c : {Case{640, 1280, 1920}, Case{32000, 32640, 0}, Case{32002, 0, 640}}) {
        SCOPED_TRACE(c.queued);
        ManualMixer m(3);
        m.Mixer.StartMixer();
        m.Mixer.WritePCM(2, Pcm(c.queued / 2, 500).data(), static_cast<uint32_t>(c.queued));
        m.Mixer.WritePCM(2, Pcm(320, 500).data(), 640);
        EXPECT_EQ(m.Mixer.GetChannel(2)->PendingBytes(), c.after);
        m.Mixer.WritePCM(2, Pcm(320, 500).data(), 640);
        EXPECT_EQ(m.Mixer.GetChannel(2)->PendingBytes(), c.next);
    }
}

TEST(DSAudioMixerChannel, StopChannelRemovesItAndTheNextRoundRecreatesItFresh)
{
    ManualMixer m(3);
    m.Mixer.StartMixer();
    m.Step();
    m.Mixer.WritePCM(5, Pcm(320, 4000).data(), 640);
    ASSERT_TRUE(m.Mixer.GetChannel(5)->Playing());

    m.Mixer.StopChannel(5);
    EXPECT_EQ(m.Mixer.ChannelCount(), 254);
    EXPECT_EQ(m.Log.Count("CH=5, TQRVDirectSound.StopChannel"), 1u);
    for (int absent : {5, 0, 256, -1})
        m.Mixer.StopChannel(absent);
    EXPECT_EQ(m.Log.Count("CH=5, TQRVDirectSound.StopChannel"), 1u) << "a missing channel is left alone";
    EXPECT_EQ(m.Mixer.ChannelCount(), 254);

    m.Step();
    EXPECT_EQ(m.Mixer.ChannelCount(), 255);
    TQRVDSChannel* fresh = m.Mixer.GetChannel(5);
    EXPECT_TRUE(fresh->FirstData());
    EXPECT_FALSE(fresh->Playing());
    EXPECT_EQ(m.FirstSound(), -1) << "the stopped sound was never heard";

    const size_t arrived = m.Heard.size();
    m.Mixer.WritePCM(5, Pcm(320, 4000).data(), 640);
    m.Step(15);
    EXPECT_EQ(m.FirstSound(arrived) - static_cast<long>(arrived), 4000);

    // A channel stopped in place (not removed) drops what comes after.
    TQRVDSChannel* stopped = m.Mixer.GetChannel(6);
    m.Mixer.WritePCM(6, Pcm(320, 1).data(), 640);
    stopped->Stop();
    m.Mixer.WritePCM(6, Pcm(320, 1).data(), 640);
    EXPECT_FALSE(stopped->Playing());
    EXPECT_EQ(stopped->PendingBytes(), 640u);
}

TEST(DSAudioMixerLifecycle, SoundIsDroppedWithoutCreatingChannelsWhileNotStarted)
{
    struct Case {
        const char* what;
        void (*setUp)(ManualMixer&);
    };
    const Case cases[] = {
        {"never started", [](ManualMixer&) {}},
        {"no device",
         [](ManualMixer& m) {
             m.DeviceMissing = true;
             m.Mixer.StartMixer();
         }},
        {"cleared",
         [](ManualMixer& m) {
             m.Mixer.StartMixer();
             m.Mixer.ClearMixer();
         }},
        {"stopped",
         [](ManualMixer& m) {
             m.Mixer.StartMixer();
             m.Mixer.StopMixer();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ManualMixer m(3);
        c.setUp(m);
        EXPECT_FALSE(m.Mixer.Started());
        m.Mixer.WritePCM(1, Pcm(320, 1).data(), 640);
        m.Mixer.PushAll();
        EXPECT_EQ(m.Mixer.ChannelCount(), 0);
    }
}

TEST(DSAudioMixerLifecycle, ClearMixerThenStartMixerPlaysAgain)
{
    ManualMixer m(3);
    m.Mixer.StartMixer();
    m.Step();
    m.Mixer.WritePCM(3, Pcm(320, 2000).data(), 640);
    m.Mixer.ClearMixer();
    EXPECT_FALSE(m.Mixer.Started());
    EXPECT_EQ(m.Mixer.ChannelCount(), 0);
    EXPECT_NE(m.Mixer.DirectSound(), nullptr) << "ClearMixer keeps the device";

    m.Mixer.StartMixer();
    ASSERT_TRUE(m.Mixer.Started());
    m.Step();
    const size_t arrived = m.Heard.size();
    m.Mixer.WritePCM(3, Pcm(320, 2000).data(), 640);
    m.Step(15);
    EXPECT_EQ(m.FirstSound() - static_cast<long>(arrived), 4000) << "only the new sound, from a new buffer";

    m.Mixer.StopMixer();
    EXPECT_EQ(m.Mixer.DirectSound(), nullptr);
    EXPECT_EQ(m.Mixer.ChannelCount(), 0);
}

TEST(DSAudioMixerLifecycle, FormatsTheDeviceRefuses)
{
    const auto mpeg = CodecFormatRecords(0)->Input; // MPEG Layer-3: not PCM
    {
        ManualMixer m(3);
        m.Mixer.SetOutputFormat(mpeg);
        try {
            m.Mixer.StartMixer();
            ADD_FAILURE() << "StartMixer did not throw";
        } catch (const EMixerError& e) {
            EXPECT_STREQ(e.what(), "CreatePrimaryBuffer Failed.");
        }
        EXPECT_FALSE(m.Mixer.Started());
    }
    {
        // The output format changes under a started mixer: new channels cannot be made.
        ManualMixer m(3);
        m.Mixer.StartMixer();
        m.Mixer.SetOutputFormat(mpeg);
        m.Mixer.WritePCM(9, Pcm(320, 1).data(), 640);
        EXPECT_EQ(m.Mixer.ChannelCount(), 0);
        const std::string text = "\xEC\xA7\x80\xEC\x9B\x90\xED\x95\x98\xEC\xA7\x80 \xEC\x95\x8A\xEB\x8A\x94 Wave "
                                 "\xED\x8F\xAC\xEB\xA7\xB7\xEC\x9E\x85\xEB\x8B\x88\xEB\x8B\xA4.";
        EXPECT_EQ(m.Log.Count("CH=9 TQRVDirectSound.GetChannel Exception : " + text), 1u);
        EXPECT_EQ(m.Log.Count("Exception : " + text), 1u);
    }
}

TEST(DSAudioMixerErrors, DirectXErrorTextKnowsTheTableAndNothingElse)
{
    struct Case {
        uint32_t code;
        const char* text;
    };
    const Case cases[] = {
        {0, "The request completed successfully."},
        {0x8007000E, "The DirectSound subsystem could not allocate sufficient memory to complete the caller\xC2\xB4s "
                     "request."},
        {0x88780078, "No sound driver is available for use."},
        {0x88781161, "The object requested was not found (numerically equal to DMUS_E_NOT_FOUND)."},
        {0x88780079, "Unrecognized Error"},
        {1, "Unrecognized Error"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DirectXErrorText(static_cast<HRESULT>(c.code)), c.text) << std::hex << c.code;
    EXPECT_EQ(EDirectXError(DSERR_BUFFERLOST).ErrorCode, DSERR_BUFFERLOST);
}

// ---------------------------------------------------------------------------------------
// The push thread on a device with its own clock

// The main thread keeps removing channels and writing to them while the push thread
// refills: a channel must never be freed in the middle of its refill. Run under the asan
// preset to see a use after free; here it must at least finish with a sound table.
TEST(DSAudioMixerThreads, ChannelsFreedByTheMainThreadAreNeverRefilledWhileFreed)
{
    ScopedEnv driver("SDL_AUDIODRIVER", "dummy");
    TQRVDirectSound mixer;
    const auto records = CodecFormatRecords(3);
    mixer.SetInputFormat(records->Input);
    mixer.SetOutputFormat(records->Output);
    mixer.StartMixer();
    ASSERT_TRUE(mixer.Started());
    const auto frame = Pcm(320, 1234);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    int iterations = 0;
    while (std::chrono::steady_clock::now() < until) {
        for (int channel = 1; channel <= 8; ++channel) {
            mixer.WritePCM(channel, frame.data(), 640);
            mixer.StopChannel(channel + (iterations % 2) * 100);
        }
        if (++iterations % 200 == 0) {
            mixer.ClearMixer();
            mixer.StartMixer();
        }
    }
    EXPECT_GT(iterations, 100);
    mixer.StopMixer();
    EXPECT_EQ(mixer.ChannelCount(), 0);
}

// End to end on SDL's disk driver with the real push thread: a tone written to channel 1
// is in the capture one buffer length (250 ms of the device's clock) after it was written.
// The device's clock at the moment of writing is read from a probe buffer on the same
// device: it marks its start in the capture with one sample of value 1, and its play cursor
// counts the samples mixed since then. Wall-clock time is only printed: the disk driver
// paces itself with sleeps, so under load its file falls behind the wall clock.
TEST(DSAudioMixerThreads, ToneComesOutOfTheDeviceAboutABufferLengthLater)
{
    const auto folder = std::filesystem::temp_directory_path() / ("qrv-mixer-disk-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto capture = folder / "capture.raw";
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv file("SDL_DISKAUDIOFILE", capture.string());

    double writtenAtMs = 0;
    uint32_t probeCursor = 0;      // device samples (x2) mixed just before the write
    uint32_t probeCursorAfter = 0; // and just after it: the channel started in between
    {
        TQRVDirectSound mixer;
        const auto records = CodecFormatRecords(3);
        mixer.SetInputFormat(records->Input);
        mixer.SetOutputFormat(records->Output);
        mixer.StartMixer();
        const auto opened = std::chrono::steady_clock::now();
        ASSERT_TRUE(mixer.Started());

        DSBUFFERDESC desc;
        desc.dwSize = sizeof(desc);
        desc.dwFlags = DSBCAPS_CTRLVOLUME;
        desc.dwBufferBytes = 64000; // two seconds, played once
        desc.lpwfxFormat = &records->Output.Format;
        IDirectSoundBuffer* probe = nullptr;
        ASSERT_EQ(mixer.DirectSound()->CreateSoundBuffer(&desc, &probe, nullptr), DS_OK);
        void* region = nullptr;
        uint32_t bytes = 0;
        ASSERT_EQ(probe->Lock(0, 2, &region, &bytes, nullptr, nullptr, 0), DS_OK);
        static_cast<uint8_t*>(region)[0] = 1;
        static_cast<uint8_t*>(region)[1] = 0;
        ASSERT_EQ(probe->Unlock(region, bytes, nullptr, 0), DS_OK);
        ASSERT_EQ(probe->Play(0, 0, 0), DS_OK);

        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_EQ(probe->GetCurrentPosition(&probeCursor, nullptr), DS_OK);
        for (int i = 0; i < 10; ++i)
            mixer.WritePCM(1, Pcm(320, 12000).data(), 640);
        ASSERT_EQ(probe->GetCurrentPosition(&probeCursorAfter, nullptr), DS_OK);
        writtenAtMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - opened).count();
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        mixer.StopMixer();
        probe->Release();
    }
    std::ifstream in(capture, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove_all(folder);
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    const auto marker = std::find(samples.begin(), samples.end(), 1) - samples.begin();
    const auto tone = std::find_if(samples.begin(), samples.end(), [](int16_t v) { return v > 1000; }) - samples.begin();
    ASSERT_LT(static_cast<size_t>(marker), samples.size()) << "the probe's mark is in the capture";
    ASSERT_LT(static_cast<size_t>(tone), samples.size()) << "the tone is in the capture";

    // The device's clock when the channel started lies between the two cursor readings.
    const double earliestMs = (static_cast<double>(tone - marker) - probeCursorAfter / 2.0) / 16.0;
    const double latestMs = (static_cast<double>(tone - marker) - probeCursor / 2.0) / 16.0;
    const double wallDelayMs = tone / 16.0 - writtenAtMs;
    std::printf("tone delay: %.1f to %.1f ms of the device's clock, %.1f ms of the wall clock\n", earliestMs, latestMs,
                wallDelayMs);
    const double periodMs = 16.0; // one SDL period at 16 kHz: the cursors move in such steps
    EXPECT_LE(earliestMs, 250.0 + periodMs);
    EXPECT_GE(latestMs, 250.0 - periodMs);
    EXPECT_LT(latestMs - earliestMs, 100.0) << "the write itself must not wait long";
}

} // namespace
} // namespace qrv
