// The playback engine against a fake window (view, window-thread task queue), a fake clock
// the test steps by hand, and a fake codec library behind the real reader.

#include "JpegWriter.h"
#include "PlaybackEngine.h"
#include "RecordingFixture.h"
#include "UnitLanguage.h"
#include "UnitReadMan.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <future>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>

using namespace qrv;
using namespace std::chrono_literals;
using qrv::test::RecordingFixture;
using qrv::test::TempFolder;

namespace {

// ---------------------------------------------------------------------------------------
// Fakes

// A codec library that paints every picture in the first byte of its payload and notes
// which payloads reached it, fed or decoded.
struct FakeCodec {
    static inline std::vector<int> seen;
    static int32_t Create(int32_t, int32_t, int32_t, int32_t, int32_t) { return 1; }
    static int32_t Decode(int32_t, const uint8_t* data, int32_t size, uint8_t* output)
    {
        seen.push_back(size > 0 ? data[0] : -1);
        std::fill_n(output, Width * Height * 3, size > 0 ? data[0] : 0);
        return 1;
    }
    static int32_t End(int32_t) { return 1; }
    static const TVideoCodecLibrary& Library()
    {
        static const TVideoCodecLibrary library{Create, Decode, End};
        return library;
    }
    static constexpr uint16_t Width = 8;
    static constexpr uint16_t Height = 4;
};

// The tick count, stepped by the test. It also tells when the worker is parked: blocked in
// a wait that nothing has ended and whose tick has not come.
class FakeClock : public TEngineClock {
public:
    explicit FakeClock(uint32_t start) : m_now(start) {}

    uint32_t TickCount() override { return m_now.load(); }

    void WaitForTick(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                     std::optional<uint32_t> tick) override
    {
        {
            std::lock_guard g(m_m);
            m_cv = &wake;
            m_engineMutex = lock.mutex();
            // Advance moves the time before it looks for a waiter: a tick that came since
            // the caller looked ends the wait here, a later one finds the waiter.
            if (tick && *tick - m_now.load() - 1 >= 0x7FFFFFFFu) {
                m_cv = nullptr;
                m_engineMutex = nullptr;
                return;
            }
            m_blocked = true;
            m_woken = false;
            m_until = tick;
        }
        wake.wait(lock);
        std::lock_guard g(m_m);
        m_blocked = false;
        m_cv = nullptr;
        m_engineMutex = nullptr;
    }

    void Wake(std::condition_variable& wake) override
    {
        {
            std::lock_guard g(m_m);
            m_woken = true;
        }
        wake.notify_all();
    }

    void Advance(uint32_t ms)
    {
        m_now += ms;
        std::condition_variable* cv;
        std::mutex* mutex;
        {
            std::lock_guard g(m_m);
            m_woken = true;
            cv = m_cv;
            mutex = m_engineMutex;
        }
        if (mutex) {
            std::lock_guard g(*mutex);
            cv->notify_all();
        }
    }

    bool Parked()
    {
        std::lock_guard g(m_m);
        if (!m_blocked || m_woken)
            return false;
        if (!m_until)
            return true;
        const uint32_t remaining = *m_until - m_now.load();
        return remaining != 0 && remaining < 0x80000000u;
    }

private:
    std::atomic<uint32_t> m_now;
    std::mutex m_m;
    bool m_blocked = false;
    bool m_woken = false;
    std::optional<uint32_t> m_until;
    std::condition_variable* m_cv = nullptr;
    std::mutex* m_engineMutex = nullptr;
};

// The window thread's queue. In the fake-clock tests the test thread is the window thread
// and runs the tasks itself.
class TaskQueue {
public:
    void Post(std::function<void()> task)
    {
        std::lock_guard g(m_m);
        m_tasks.push_back(std::move(task));
        m_cv.notify_all();
    }
    // Runs every queued task; true when there was one.
    bool RunAll()
    {
        bool ran = false;
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard g(m_m);
                if (m_tasks.empty())
                    return ran;
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
            ran = true;
        }
    }
    bool WaitForTask(std::chrono::microseconds timeout)
    {
        std::unique_lock g(m_m);
        return m_cv.wait_for(g, timeout, [&] { return !m_tasks.empty(); });
    }
    bool Empty()
    {
        std::lock_guard g(m_m);
        return m_tasks.empty();
    }

private:
    std::mutex m_m;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_tasks;
};

// Which view call raises, for the guard tests.
enum class Fault { None, ShowPicture, ShowTime, Playbar, SmallPicture, SmallVideo, Audio, Decode, AudioRead };

class FakeView : public IPlaybackView {
public:
    explicit FakeView(TEngineClock& clock) : m_clock(clock) {}

    struct Dispatch {
        uint32_t tick;
        std::string time;
    };

    void ShowPicture(std::shared_ptr<const TBitmap24> picture) override
    {
        Raise(Fault::ShowPicture);
        Shown = picture;
        Log("picture " + std::to_string(picture->Bits()[0]));
    }
    void ClearPicture() override
    {
        Shown.reset();
        Log("clear");
    }
    void ShowSmallPicture(std::shared_ptr<const TBitmap24> picture) override
    {
        Raise(Fault::SmallPicture);
        Log("small " + std::to_string(picture->Width()) + "x" + std::to_string(picture->Height()));
    }
    void ShowSmallVideo(bool show) override
    {
        Raise(Fault::SmallVideo);
        SmallVisible = show;
    }
    void ShowTimeText(const std::string& text) override
    {
        Time = text;
        // A dispatch shows the time while playing; Stop and opening show it stopped.
        if (Engine && Engine->PlayState() == psPlaying)
            Dispatches.push_back({m_clock.TickCount(), text});
        if (OnTime)
            OnTime();
        Raise(Fault::ShowTime);
    }
    void SetPlaybarMaximum(int32_t maximum) override { Maximum = maximum; }
    void SetPlaybarPosition(int32_t index) override
    {
        Raise(Fault::Playbar);
        Positions.push_back(index);
    }
    TPlaybarMetrics PlaybarMetrics() const override { return Metrics; }

    void Reset()
    {
        Throw = Fault::None;
        Events.clear();
        Dispatches.clear();
        Positions.clear();
        Osd.clear();
        Shown.reset();
        Time.clear();
        Maximum = -1;
        Toggle = false;
        SmallVisible = false;
        OnTime = nullptr;
        Engine = nullptr;
    }
    void ShowOSD(const std::string& text) override { Osd.push_back(text); }
    void SetPlayButtonToggle(bool playing) override { Toggle = playing; }

    std::vector<std::string> Pictures() const
    {
        std::vector<std::string> out;
        for (const auto& e : Events)
            if (e.rfind("picture", 0) == 0 || e == "clear")
                out.push_back(e);
        return out;
    }

    Fault Throw = Fault::None;
    TPlaybarMetrics Metrics{1000, 0};
    std::vector<std::string> Events;
    std::vector<Dispatch> Dispatches;
    std::vector<int32_t> Positions;
    std::vector<std::string> Osd;
    std::shared_ptr<const TBitmap24> Shown;
    std::string Time;
    int32_t Maximum = -1;
    bool Toggle = false;
    bool SmallVisible = false;
    std::function<void()> OnTime;
    const TPlaybackEngine* Engine = nullptr;

private:
    void Raise(Fault f)
    {
        if (Throw == f)
            throw std::runtime_error("view fault");
    }
    void Log(std::string e) { Events.push_back(std::move(e)); }
    TEngineClock& m_clock;
};

class FakeSink : public IAudioPacketSink {
public:
    bool SendPacket(const uint8_t* buffer, int32_t count, int32_t channel) override
    {
        if (Throw)
            throw std::runtime_error("sink fault");
        Sent.push_back({count > 0 ? buffer[0] : -1, channel});
        return true;
    }
    struct Packet {
        int tag;
        int32_t channel;
        bool operator==(const Packet&) const = default;
    };
    std::vector<Packet> Sent;
    bool Throw = false;
};

// The reader, with faults on demand.
class FaultyRecording : public IPlaybackRecording {
public:
    explicit FaultyRecording(TReadMan& reader) : m_inner(reader) {}
    bool IsOpen() const override { return m_inner.IsOpen(); }
    int32_t Count() const override { return m_inner.Count(); }
    void GetRecordInfo(int32_t index, TRecordInfoView& view) const override { m_inner.GetRecordInfo(index, view); }
    uint32_t TotalTime() const override { return m_inner.TotalTime(); }
    std::optional<std::vector<uint8_t>> ReadAudioPayload(int32_t index) override
    {
        if (Throw == Fault::AudioRead)
            throw std::runtime_error("read fault");
        return m_inner.ReadAudioPayload(index);
    }
    std::unique_ptr<TBitmap24> DecodeVideoFrame(int32_t index) override
    {
        if (Throw == Fault::Decode)
            throw std::runtime_error("decode fault");
        return m_inner.DecodeVideoFrame(index);
    }
    std::unique_ptr<TBitmap24> DecodeFromKeyFrame(int32_t index) override
    {
        if (Throw == Fault::Decode)
            throw std::runtime_error("decode fault");
        return m_inner.DecodeFromKeyFrame(index);
    }
    std::unique_ptr<TBitmap24> ReadPicture(int32_t index) override { return m_inner.ReadPicture(index); }
    int32_t FindVideoRecord(bool backwards, int32_t start) const override { return m_inner.FindVideoRecord(backwards, start); }

    Fault Throw = Fault::None;

private:
    TReadManRecording m_inner;
};

std::vector<uint8_t> Tag(uint8_t tag) { return {tag, 0, 0, 0}; }

std::vector<uint8_t> Jpeg(int32_t w, int32_t h)
{
    TBitmap24 picture(w, h);
    std::fill_n(picture.Bits(), picture.SizeBytes(), uint8_t{90});
    return tools::EncodeJpeg(picture);
}

// ---------------------------------------------------------------------------------------
// Fixture: the test thread is the window thread.

class EngineTest : public testing::Test {
protected:
    static constexpr uint32_t Start = 5000;

    void SetUp() override
    {
        LanguageTable().Reset();
        FakeCodec::seen.clear();
    }

    void Open(const RecordingFixture& f, bool hasVideo = true)
    {
        const auto path = m_folder / ("r" + std::to_string(m_files++) + ".crd");
        f.WriteTo(path);
        ASSERT_TRUE(m_reader.Open(path.string()));
        if (!m_engine)
            m_engine = std::make_unique<TPlaybackEngine>(m_recording, m_view, &m_sink,
                                                         [this](std::function<void()> t) { m_window.Post(std::move(t)); },
                                                         m_clock);
        m_view.Engine = m_engine.get();
        m_engine->RecordingOpened(hasVideo);
        ASSERT_TRUE(Settle());
    }

    // Runs window tasks until the worker is parked and nothing is queued.
    // Once the worker failed to settle, every later call fails at once.
    bool Settle()
    {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!m_stuck && std::chrono::steady_clock::now() < deadline) {
            m_window.RunAll();
            if (m_clock.Parked() && m_window.Empty())
                return true;
            m_window.WaitForTask(100us);
        }
        m_stuck = true;
        return false;
    }
    bool m_stuck = false;

    // Steps the clock one millisecond at a time, settling after each step.
    void Run(uint32_t ms)
    {
        for (uint32_t i = 0; i < ms; ++i) {
            m_clock.Advance(1);
            ASSERT_TRUE(Settle()) << "at +" << i;
        }
    }

    std::vector<uint32_t> DispatchTicks(uint32_t origin) const
    {
        std::vector<uint32_t> out;
        for (const auto& d : m_view.Dispatches)
            out.push_back(d.tick - origin);
        return out;
    }

    TPlaybackEngine& E() { return *m_engine; }

    TempFolder m_folder;
    int m_files = 0;
    TReadMan m_reader{FakeCodec::Library()};
    FaultyRecording m_recording{m_reader};
    FakeClock m_clock{Start};
    FakeView m_view{m_clock};
    FakeSink m_sink;
    TaskQueue m_window;
    std::unique_ptr<TPlaybackEngine> m_engine; // last: ends before what it uses
};

// A recording of audio and video records at the given play times, all video frames keys.
RecordingFixture Timeline(const std::vector<uint32_t>& times)
{
    RecordingFixture f;
    uint32_t last = 0;
    for (size_t i = 0; i < times.size(); ++i) {
        const auto tag = static_cast<uint8_t>(10 + i);
        if (i % 2 == 0)
            f.AddAudio(times[i] - last, 1, Tag(tag));
        else
            f.AddVideo(times[i] - last, 1, FakeCodec::Width, FakeCodec::Height, Tag(tag));
        last = times[i];
    }
    return f;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Pacing

TEST_F(EngineTest, FirstRecordAtOnceLaterOnesAtTheirOffsetsAcrossTheTickWrap)
{
    struct Case {
        const char* name;
        uint32_t startTick;
    } cases[] = {{"ordinary", Start}, {"wrapping", 0xFFFFFFF0u}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_engine.reset();
        m_view.Reset();
        m_clock.Advance(c.startTick - m_clock.TickCount());
        Open(Timeline({100, 140, 145, 200, 260}));
        const uint32_t origin = m_clock.TickCount();
        E().Play();
        ASSERT_TRUE(Settle());
        Run(200);
        // Played from tick `origin`: the first record at once, then each at its PlayTime
        // minus the first one's, to the millisecond (the clock moves 1 ms per step).
        EXPECT_EQ(DispatchTicks(origin), (std::vector<uint32_t>{0, 40, 45, 100, 160}));
        EXPECT_EQ(E().PlayState(), psStopped);
    }
}

TEST_F(EngineTest, PauseForTenSecondsThenResumeKeepsTheSpacingWithoutABurst)
{
    Open(Timeline({0, 40, 80, 120, 160, 200}));
    const uint32_t origin = m_clock.TickCount();
    E().Play();
    ASSERT_TRUE(Settle());
    Run(60); // records at 0 and 40 are out; the one at 80 is waiting
    E().Pause();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(E().PlayState(), psPaused);
    EXPECT_FALSE(m_view.Toggle);
    EXPECT_EQ(m_view.Osd.back(), LangText(MLMSG_MAIN_14));
    m_clock.Advance(10000);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(m_view.Dispatches.size(), 2u) << "nothing goes out while paused";

    const uint32_t resumed = m_clock.TickCount();
    E().Play();
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(m_view.Toggle);
    EXPECT_EQ(m_view.Osd.back(), LangText(MLMSG_MAIN_13));
    Run(200);
    const auto ticks = DispatchTicks(origin);
    ASSERT_EQ(ticks.size(), 6u);
    EXPECT_EQ(ticks[0], 0u);
    EXPECT_EQ(ticks[1], 40u);
    // The waiting record goes out at once; the rest keep their 40 ms from it.
    const uint32_t r = resumed - origin;
    EXPECT_EQ(ticks[2], r);
    EXPECT_EQ(ticks[3], r + 40);
    EXPECT_EQ(ticks[4], r + 80);
    EXPECT_EQ(ticks[5], r + 120);
}

TEST_F(EngineTest, ResyncRebasesOnTheNextRecordAfterItsWork)
{
    Open(Timeline({0, 1000, 1040}));
    const uint32_t origin = m_clock.TickCount();
    E().Play();
    ASSERT_TRUE(Settle());
    Run(10);
    // A window-mode change 10 ms into a 1 s wait: the record waiting goes out at once and
    // the clock restarts from it.
    E().RequestResync();
    ASSERT_TRUE(Settle());
    Run(60);
    EXPECT_EQ(DispatchTicks(origin), (std::vector<uint32_t>{0, 10, 50}));
}

TEST_F(EngineTest, EndOfRecordingStopsAtTheStartWithAnEmptyDisplayAndNeverLoops)
{
    RecordingFixture f = Timeline({0, 40});
    f.AddAudio(3725000 - 40, 1, Tag(99)); // last record at 01:02:05
    Open(f);
    E().Play();
    ASSERT_TRUE(Settle());
    Run(50);
    ASSERT_NE(m_view.Shown, nullptr) << "the video record was shown";
    m_clock.Advance(3725000);
    ASSERT_TRUE(Settle());

    EXPECT_EQ(E().PlayState(), psStopped);
    EXPECT_EQ(E().CurIndex(), 0);
    EXPECT_TRUE(E().NeedKeyFrame());
    EXPECT_EQ(m_view.Shown, nullptr);
    EXPECT_EQ(m_view.Events.back(), "clear");
    EXPECT_EQ(m_view.Time, "00:00:00 / 01:02:05");
    EXPECT_FALSE(m_view.Toggle);
    EXPECT_EQ(m_view.Positions.back(), 0);
    EXPECT_EQ(m_sink.Sent.back().tag, 99) << "the last record was dispatched before the stop";
    // The last picture is kept black at its size for a redisplay.
    ASSERT_NE(E().LastPicture(), nullptr);
    EXPECT_EQ(E().LastPicture()->Width(), FakeCodec::Width);
    EXPECT_EQ(E().LastPicture()->Bits()[0], 0);

    const size_t dispatched = m_view.Dispatches.size();
    m_clock.Advance(100000);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(m_view.Dispatches.size(), dispatched);
}

TEST_F(EngineTest, MuteSkipsAudioRecordsAndUnmuteResumesWithTheNext)
{
    RecordingFixture f;
    f.AddAudio(0, 1, Tag(1));
    f.AddAudio(10, 2, Tag(2));
    f.AddAudio(10, 3, Tag(3));
    f.AddAudio(10, 4, Tag(4));
    f.AddAudio(10, 5, Tag(5));
    Open(f);
    E().Play();
    ASSERT_TRUE(Settle());
    E().SetMute(true);
    EXPECT_EQ(m_view.Osd.back(), LangText(MLMSG_MAIN_07));
    Run(20); // records 2 and 3 go by muted
    E().SetMute(false);
    EXPECT_EQ(m_view.Osd.back(), LangText(MLMSG_MAIN_08));
    Run(30);
    EXPECT_EQ(m_sink.Sent, (std::vector<FakeSink::Packet>{{1, 1}, {4, 4}, {5, 5}}));
    EXPECT_EQ(m_view.Dispatches.size(), 5u) << "muted records still move the time and the playbar";
}

TEST_F(EngineTest, FirstVideoRecordThatIsNoKeyFrameShowsNothingUntilOneDecodes)
{
    RecordingFixture f;
    f.AddVideo(0, 0, FakeCodec::Width, FakeCodec::Height, Tag(1));
    f.AddVideo(40, 0, FakeCodec::Width, FakeCodec::Height, Tag(2));
    f.AddVideo(40, 1, FakeCodec::Width, FakeCodec::Height, Tag(3));
    f.AddVideo(40, 0, FakeCodec::Width, FakeCodec::Height, Tag(4));
    f.AddAudio(40, 1, Tag(5));
    Open(f);
    E().Play();
    ASSERT_TRUE(Settle());
    Run(45);
    EXPECT_EQ(m_view.Shown, nullptr);
    EXPECT_TRUE(E().NeedKeyFrame());
    Run(80);
    // The key frame shows, and the next one decodes on from it.
    EXPECT_EQ(m_view.Pictures(), (std::vector<std::string>{"clear", "picture 3", "picture 4"}));
}

// Each fault in one step of the dispatch: the record counts as dispatched and everything
// else still happens, up to the end of the recording.
TEST_F(EngineTest, EveryDispatchStepIsGuarded)
{
    struct Case {
        Fault fault;
        const char* name;
        bool audioArrives;
        bool pictureShown;
    } cases[] = {
        {Fault::ShowPicture, "display", true, false},   {Fault::ShowTime, "time label", true, true},
        {Fault::Playbar, "playbar", true, true},        {Fault::SmallPicture, "small picture", true, true},
        {Fault::SmallVideo, "small window", true, true}, {Fault::Audio, "audio sink", false, true},
        {Fault::Decode, "decoder", true, false},        {Fault::AudioRead, "audio read", false, true},
    };
    RecordingFixture f;
    f.AddPicture(0, 1, 16, 8, Jpeg(16, 8));
    f.AddVideo(10, 1, FakeCodec::Width, FakeCodec::Height, Tag(7));
    f.AddAudio(10, 2, Tag(8));
    f.AddVideo(10, 0, FakeCodec::Width, FakeCodec::Height, Tag(9));
    f.AddAudio(10, 3, Tag(10));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_view.Reset();
        m_sink = FakeSink();
        m_view.Throw = c.fault;
        m_sink.Throw = c.fault == Fault::Audio;
        m_recording.Throw = c.fault;
        Open(f);
        E().Play();
        ASSERT_TRUE(Settle());
        Run(50);
        EXPECT_EQ(m_view.Dispatches.size(), 5u);
        EXPECT_EQ(E().PlayState(), psStopped) << "the end was reached";
        EXPECT_EQ(E().CurIndex(), 0);
        EXPECT_EQ(m_sink.Sent.size(), c.audioArrives ? 2u : 0u);
        const auto pictures = m_view.Pictures();
        EXPECT_EQ(std::count(pictures.begin(), pictures.end(), "picture 9"), c.pictureShown ? 1 : 0);
        m_view.Throw = Fault::None;
        m_recording.Throw = Fault::None;
    }
}

TEST_F(EngineTest, PicturesGoToTheSmallWindowOnlyWhileShownAndTheOptionIsOn)
{
    RecordingFixture f;
    f.AddPicture(0, 1, 16, 8, Jpeg(16, 8));
    f.AddVideo(10, 1, FakeCodec::Width, FakeCodec::Height, Tag(1));
    f.AddPicture(10, 0, 16, 8, Jpeg(16, 8)); // hides the picture
    f.AddAudio(10, 1, Tag(2));
    Open(f);
    E().Play();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(m_view.Events.back(), "small 16x8");
    EXPECT_TRUE(m_view.SmallVisible);
    Run(15);
    EXPECT_TRUE(m_view.SmallVisible) << "the video record carries the shown flag";
    Run(10);
    EXPECT_FALSE(m_view.SmallVisible);

    E().Stop();
    E().SetSmallVideoOn(false);
    E().Play();
    ASSERT_TRUE(Settle());
    EXPECT_FALSE(m_view.SmallVisible);
    EXPECT_NE(m_view.Events.back(), "small 16x8");
}

// ---------------------------------------------------------------------------------------
// The display

TEST_F(EngineTest, SettingsApplyToACopyAndRedisplayStartsFromTheUnadjustedPicture)
{
    Open(Timeline({0, 0, 10}));
    for (int i = 0; i < 10; ++i)
        E().IncPictureSetting(TPictureSetting::Contrast); // 50
    EXPECT_EQ(m_view.Osd.back(), "[ " + LangText(MLMSG_POPUP_22) + " : 50 ]");
    auto picture = std::make_unique<TBitmap24>(2, 1);
    const uint8_t bytes[] = {200, 27, 127, 128, 0, 255};
    std::copy(std::begin(bytes), std::end(bytes), picture->Bits());
    E().DisplayPicture(std::move(picture));
    const std::vector<uint8_t> adjusted = {214, 8, 127, 128, 0, 255};
    auto shownBytes = [&] { return std::vector<uint8_t>(m_view.Shown->Bits(), m_view.Shown->Bits() + 6); };
    EXPECT_EQ(shownBytes(), adjusted);
    EXPECT_EQ(E().LastPicture()->Bits()[0], 200);

    // A resize while paused redraws from the unadjusted copy: no accumulation.
    E().Pause();
    E().DisplayResized();
    E().DisplayResized();
    EXPECT_EQ(shownBytes(), adjusted);
    EXPECT_EQ(E().LastPicture()->Bits()[0], 200);

    // While stopped, a setting change redraws at once; the reset shows the picture as decoded.
    E().Stop();
    E().ResetPictureSettings();
    EXPECT_EQ(shownBytes()[0], 0) << "stop blackened the last picture";
    E().DecPictureSetting(TPictureSetting::Saturation);
    EXPECT_EQ(E().PictureSettings().FSaturation, 0);
    EXPECT_EQ(m_view.Osd.back(), "[ " + LangText(MLMSG_POPUP_23) + " : 0 ]");
}

TEST(FitPicture, KeepsTheAspectRatioAndCentres)
{
    struct Case {
        int32_t pw, ph, w, h;
        TFitRect expected;
    } cases[] = {
        {640, 480, 320, 240, {0, 0, 640, 480}},   // enlarged
        {800, 480, 320, 240, {80, 0, 640, 480}},  // wider panel: bars left and right
        {640, 600, 320, 240, {0, 60, 640, 480}},  // taller panel: bars above and below
        {100, 100, 300, 200, {0, 17, 100, 66}},   // reduced, truncated
        {100, 100, 0, 200, {0, 0, 0, 0}},         // no picture
    };
    for (const auto& c : cases) {
        const TFitRect r = FitPicture(c.pw, c.ph, c.w, c.h);
        EXPECT_EQ(std::tie(r.Left, r.Top, r.Width, r.Height),
                  std::tie(c.expected.Left, c.expected.Top, c.expected.Width, c.expected.Height))
            << c.pw << "x" << c.ph << " " << c.w << "x" << c.h;
    }
}

// ---------------------------------------------------------------------------------------
// Time label and playbar

TEST(FormatTime, HoursMinutesSecondsWithoutAnHourLimit)
{
    struct Case {
        int32_t ms;
        const char* text;
    } cases[] = {
        {0, "00:00:00"},         {999, "00:00:00"},        {59999, "00:00:59"},
        {3725000, "01:02:05"},   {360000000, "100:00:00"}, {INT32_MAX, "596:31:23"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatTime(c.ms), c.text) << c.ms;
    EXPECT_EQ(FormatTimePair(3725000, 360000000), "01:02:05 / 100:00:00");
}

TEST(ThumbPixel, RoundsTiesToEvenAndNeverDividesByZero)
{
    struct Case {
        int32_t index, maximum, slider, thumb, pixel;
    } cases[] = {
        {1, 4, 10, 8, 2},   // step (10 - 4) / 4 = 1.5: 1.5 -> 2
        {3, 4, 10, 8, 4},   // 4.5 -> 4 (ties to even)
        {5, 10, 5, 0, 2},   // 2.5 -> 2
        {7, 10, 5, 0, 4},   // 3.5 -> 4
        {0, 0, 500, 10, 0}, // one record: maximum 0
        {3, 0, 500, 10, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ThumbPixel(c.index, c.maximum, {c.slider, c.thumb}), c.pixel) << c.index << "/" << c.maximum;
}

TEST_F(EngineTest, PlaybarMovesOnlyWhenItsPixelChanges)
{
    std::vector<uint32_t> times;
    for (uint32_t i = 0; i < 41; ++i)
        times.push_back(i);
    m_view.Metrics = {10, 0}; // 40 records over 10 pixels
    Open(Timeline(times));
    EXPECT_EQ(m_view.Maximum, 40);
    m_view.Positions.clear();
    E().Play();
    ASSERT_TRUE(Settle());
    Run(39);
    // Index i sits at pixel i / 4 rounded, ties to even (2 -> 0.5 -> 0, 6 -> 1.5 -> 2): the
    // thumb moves when that pixel changes, not for every record.
    EXPECT_EQ(m_view.Positions, (std::vector<int32_t>{3, 6, 11, 14, 19, 22, 27, 30, 35, 38}));
}

TEST_F(EngineTest, OneRecordOpensPlaysAndStopsWithThePlaybarAtZero)
{
    Open(Timeline({7000}));
    EXPECT_EQ(m_view.Maximum, 0);
    EXPECT_EQ(m_view.Time, "00:00:00 / 00:00:07");
    E().PlaybarBeginChange();
    E().PlaybarChanged(0);
    EXPECT_EQ(m_view.Osd.back(), FormatLangText(LangText(MLMSG_MAIN_15), {"00:00:07", "0.0"}));
    E().PlaybarStopChanged(0);
    EXPECT_EQ(E().PlayState(), psStopped);
    E().Play();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(m_view.Dispatches.size(), 1u);
    EXPECT_EQ(E().PlayState(), psStopped);
    for (int32_t p : m_view.Positions)
        EXPECT_EQ(p, 0);
}

TEST_F(EngineTest, RecordingWithoutRecordsShowsZeroAndNeverPlays)
{
    Open(RecordingFixture());
    EXPECT_EQ(m_view.Time, "00:00:00 / 00:00:00");
    EXPECT_EQ(m_view.Maximum, 0);
    E().Play();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(E().PlayState(), psStopped);
    EXPECT_FALSE(m_view.Toggle);
    E().PlaybarBeginChange();
    E().PlaybarChanged(0);
    E().PlaybarStopChanged(0);
    E().Stop();
    m_clock.Advance(1000);
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(m_view.Dispatches.empty());
    EXPECT_EQ(m_view.Time, "00:00:00 / 00:00:00");
}

// ---------------------------------------------------------------------------------------
// Seeking

TEST(FormatPercent, OneDecimalHalvesUp)
{
    struct Case {
        int32_t index, count;
        const char* text;
    } cases[] = {
        {0, 8, "0.0"}, {1, 8, "12.5"}, {7, 8, "87.5"}, {1, 400, "0.3"}, {1, 3, "33.3"},
        {2, 3, "66.7"}, {999, 1000, "99.9"}, {9999, 10000, "100.0"}, {0, 0, "0.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatPercent(c.index, c.count), c.text) << c.index << "/" << c.count;
}

TEST(FormatLangText, FillsKnownDirectivesAndLeavesTheRestAlone)
{
    struct Case {
        const char* pattern;
        const char* text;
    } cases[] = {
        {"[ %s (%s%%)", "[ a (b%)"},
        {"%1:s then %0:s", "b then a"},
        {"%-8.3s|%5d", "a|b"},
        {"%s %s %s %n %x %", "a b  %n %x %"}, // a missing argument gives nothing
        {"100%", "100%"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatLangText(c.pattern, {"a", "b"}), c.text) << c.pattern;
}

TEST_F(EngineTest, DraggingShowsTheTimeAndPercentUnderTheThumbWithoutMovingPlayback)
{
    RecordingFixture f = Timeline({0, 1000, 2000, 3000, 4000, 5000, 6000, 3725000});
    Open(f);
    E().PlaybarChanged(3);
    EXPECT_TRUE(m_view.Osd.empty()) << "no drag began";
    E().PlaybarBeginChange();
    struct Case {
        int32_t index;
        const char* time;
        const char* percent;
    } cases[] = {{0, "00:00:00", "0.0"}, {1, "00:00:01", "12.5"}, {7, "01:02:05", "87.5"}};
    for (const auto& c : cases) {
        E().PlaybarChanged(c.index);
        EXPECT_EQ(m_view.Osd.back(), FormatLangText(LangText(MLMSG_MAIN_15), {c.time, c.percent}));
    }
    EXPECT_EQ(m_view.Osd.back(), "[ 탐색 / 키프레임 / 01:02:05 (87.5%)");
    EXPECT_EQ(E().CurIndex(), 0);
    EXPECT_TRUE(E().Seeking());
}

// A drop in each play state, on a recording of audio and video with a key frame every
// third video record: A0 V1(key) A2 V3 A4 V5 A6 V7(key) A8 V9
TEST_F(EngineTest, DropInEachStateDecodesFromTheKeyFrameAndPlaysOnFromThere)
{
    RecordingFixture f;
    uint8_t keyFlags[] = {1, 0, 0, 1, 0};
    for (uint8_t i = 0; i < 10; ++i) {
        if (i % 2 == 0)
            f.AddAudio(i == 0 ? 0 : 100, 1, Tag(i));
        else
            f.AddVideo(100, keyFlags[i / 2], FakeCodec::Width, FakeCodec::Height, Tag(i));
    }
    struct Case {
        const char* name;
        TPlayState state;
        int32_t drop;
        std::vector<int> decoded; // payloads through the codec because of the drop
        const char* picture;      // shown at the drop; none when empty
    } cases[] = {
        {"stopped", psStopped, 6, {}, ""},
        {"paused", psPaused, 6, {1, 3, 5}, "picture 5"},
        {"playing", psPlaying, 6, {1, 3, 5}, "picture 5"},
        {"paused on a key frame", psPaused, 7, {7}, "picture 7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_engine.reset();
        m_view.Reset();
        Open(f);
        if (c.state != psStopped) {
            E().Play();
            ASSERT_TRUE(Settle());
            Run(100); // the key frame at 1 decodes and starts the decoder
            if (c.state == psPaused)
                E().Pause();
        }
        FakeCodec::seen.clear();
        m_view.Events.clear();
        const std::string timeBefore = m_view.Time;
        E().PlaybarBeginChange();
        E().PlaybarStopChanged(c.drop);
        EXPECT_EQ(FakeCodec::seen, c.decoded);
        EXPECT_EQ(m_view.Events.empty() ? "" : m_view.Events.back(), c.picture);
        EXPECT_EQ(E().CurIndex(), c.drop);
        EXPECT_FALSE(E().Seeking());
        EXPECT_TRUE(E().ResyncPending());
        EXPECT_EQ(E().PlayState(), c.state);
        if (c.state == psStopped) {
            EXPECT_EQ(m_view.Time, timeBefore) << "a drop while stopped leaves the time label";
        }

        // Play (or playing on): the dropped record goes out at once.
        const uint32_t at = m_clock.TickCount();
        const size_t before = m_view.Dispatches.size();
        if (c.state != psPlaying)
            E().Play();
        ASSERT_TRUE(Settle());
        ASSERT_GT(m_view.Dispatches.size(), before);
        EXPECT_EQ(m_view.Dispatches[before].tick, at);
        EXPECT_EQ(m_view.Dispatches[before].time, FormatTimePair(c.drop * 100, 900));
    }
}

TEST_F(EngineTest, SeekWhileStoppedThenPlayStartsThereWithAKeyFrameDecode)
{
    RecordingFixture f;
    f.AddVideo(0, 1, FakeCodec::Width, FakeCodec::Height, Tag(1));   // 0 key
    f.AddVideo(40, 0, FakeCodec::Width, FakeCodec::Height, Tag(2));  // 1
    f.AddAudio(10, 1, Tag(3));                                        // 2
    f.AddVideo(30, 0, FakeCodec::Width, FakeCodec::Height, Tag(4));  // 3
    f.AddVideo(40, 0, FakeCodec::Width, FakeCodec::Height, Tag(5));  // 4
    f.AddAudio(40, 1, Tag(6));                                        // 5
    Open(f);
    // Play the first frame so that the decoder has started, then stop.
    E().Play();
    ASSERT_TRUE(Settle());
    E().Stop();
    FakeCodec::seen.clear();

    E().PlaybarBeginChange();
    E().PlaybarStopChanged(2);
    EXPECT_TRUE(FakeCodec::seen.empty()) << "nothing is decoded while stopped";
    E().Play();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(m_sink.Sent.back().tag, 3) << "the audio record at the drop goes out first";
    Run(30);
    // Record 3 decodes from the key frame at 0: 1 and 2 are fed, then 4 decodes on.
    EXPECT_EQ(FakeCodec::seen, (std::vector<int>{1, 2, 4}));
    EXPECT_EQ(m_view.Shown->Bits()[0], 4);
    Run(40);
    EXPECT_EQ(FakeCodec::seen, (std::vector<int>{1, 2, 4, 5}));
}

TEST_F(EngineTest, DropAtTheLastIndexStopsAndRewinds)
{
    Open(Timeline({0, 40, 80, 120}));
    E().Play();
    ASSERT_TRUE(Settle());
    Run(50);
    E().PlaybarBeginChange();
    E().PlaybarStopChanged(3);
    EXPECT_EQ(E().PlayState(), psStopped);
    EXPECT_EQ(E().CurIndex(), 0);
    EXPECT_EQ(m_view.Time, "00:00:00 / 00:00:00");
    EXPECT_EQ(m_view.Positions.back(), 0) << "the thumb goes back to the start";
    EXPECT_EQ(m_view.Events.back(), "clear");
    const size_t dispatched = m_view.Dispatches.size();
    Run(200);
    EXPECT_EQ(m_view.Dispatches.size(), dispatched);
}

TEST_F(EngineTest, DropAtIndexZeroOfARecordingStartingWithAudioShowsNoPicture)
{
    Open(Timeline({0, 40, 80, 120})); // A V A V
    E().Play();
    ASSERT_TRUE(Settle());
    Run(50);
    E().Pause();
    m_view.Events.clear();
    E().PlaybarBeginChange();
    E().PlaybarStopChanged(0);
    EXPECT_TRUE(m_view.Pictures().empty());
    EXPECT_EQ(E().CurIndex(), 0);
}

TEST_F(EngineTest, DropInAnAudioOnlyRecordingMovesTheIndexOnly)
{
    Open(Timeline({0, 40, 80, 120}), /*hasVideo=*/false);
    E().Play();
    ASSERT_TRUE(Settle());
    E().Pause();
    FakeCodec::seen.clear();
    E().PlaybarBeginChange();
    E().PlaybarStopChanged(1);
    EXPECT_TRUE(FakeCodec::seen.empty());
    EXPECT_EQ(E().CurIndex(), 1);
}

TEST_F(EngineTest, StopAfterADropWhileStoppedTakesTheThumbBackToZero)
{
    Open(Timeline({0, 40, 80, 120, 160}));
    m_view.Positions.clear();
    E().PlaybarBeginChange();
    E().PlaybarStopChanged(2); // the user put the thumb there
    E().Stop();
    EXPECT_EQ(m_view.Positions, (std::vector<int32_t>{0}));
}

TEST_F(EngineTest, ReopeningResetsIndexSettingsAndDisplay)
{
    Open(Timeline({0, 40, 80}));
    E().IncPictureSetting(TPictureSetting::Brightness);
    E().Play();
    ASSERT_TRUE(Settle());
    Run(50);
    E().Stop();
    Open(Timeline({0, 1000, 2000, 3000}));
    EXPECT_EQ(E().PlayState(), psStopped);
    EXPECT_EQ(E().CurIndex(), 0);
    EXPECT_TRUE(E().PictureSettings().IsNeutral());
    EXPECT_EQ(m_view.Maximum, 3);
    EXPECT_EQ(m_view.Time, "00:00:00 / 00:00:03");
    EXPECT_FALSE(m_view.SmallVisible);
}

// ---------------------------------------------------------------------------------------
// The worker against a real window thread and the real clock

// A window thread of its own: runs posted tasks and whatever the test asks it to do.
class WindowThread {
public:
    WindowThread() : m_thread([this] { Loop(); }) {}
    ~WindowThread()
    {
        Do([this] { m_quit = true; });
        m_thread.join();
    }
    void Post(std::function<void()> task) { m_queue.Post(std::move(task)); }
    // Runs `f` on the window thread and waits for it.
    void Do(std::function<void()> f)
    {
        std::promise<void> done;
        m_queue.Post([&] {
            f();
            done.set_value();
        });
        done.get_future().wait();
    }

private:
    void Loop()
    {
        while (!m_quit) {
            m_queue.WaitForTask(50ms);
            m_queue.RunAll();
        }
    }
    TaskQueue m_queue;
    bool m_quit = false;
    std::thread m_thread;
};

struct RealRig {
    explicit RealRig(const RecordingFixture& f)
    {
        f.WriteTo(folder / "r.crd");
        reader.Open((folder / "r.crd").string());
    }
    TempFolder folder;
    TReadMan reader{FakeCodec::Library()};
    FakeView view{SystemEngineClock()};
    FakeSink sink;
};

RecordingFixture Dense(int records)
{
    RecordingFixture f;
    for (int i = 0; i < records; ++i) {
        if (i % 3 == 0)
            f.AddVideo(i % 7 == 0 ? 1 : 0, i % 30 == 0 ? 1 : 0, FakeCodec::Width, FakeCodec::Height, Tag(uint8_t(i)));
        else
            f.AddAudio(0, 1, Tag(uint8_t(i)));
    }
    return f;
}

// Runs `body` with a time limit; a deadlock fails the test instead of hanging it.
void WithinSeconds(int seconds, std::function<void()> body)
{
    auto result = std::async(std::launch::async, std::move(body));
    if (result.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
        ADD_FAILURE() << "deadlock: not finished within " << seconds << " s";
        std::fflush(nullptr);
        std::_Exit(1);
    }
    result.get();
}

TEST(EngineThreads, StopPausePlayAndSeekWhileTheWorkerDispatchesNeverDeadlock)
{
    WithinSeconds(60, [] {
        RealRig rig(Dense(3000));
        WindowThread window;
        std::unique_ptr<TPlaybackEngine> engine;
        window.Do([&] {
            engine = std::make_unique<TPlaybackEngine>(rig.reader, rig.view, &rig.sink,
                                                       [&](std::function<void()> t) { window.Post(std::move(t)); });
            rig.view.Engine = engine.get();
            engine->RecordingOpened(true);
        });
        std::mt19937 random(7);
        for (int round = 0; round < 400; ++round) {
            const int action = static_cast<int>(random() % 6);
            const int32_t index = static_cast<int32_t>(random() % 3000);
            window.Do([&] {
                switch (action) {
                case 0: engine->Stop(); break;
                case 1: engine->Pause(); break;
                case 2:
                    engine->PlaybarBeginChange();
                    engine->PlaybarStopChanged(index);
                    break;
                default: engine->Play(); break;
                }
            });
            if (round % 50 == 0)
                std::this_thread::sleep_for(1ms);
        }
        window.Do([&] { engine->Play(); });
        std::this_thread::sleep_for(5ms);
        // Close while playing: the window thread ends the engine inside a task while the
        // worker waits for its next dispatch, which the window will never run.
        window.Do([&] { engine.reset(); });
    });
}

TEST(EngineThreads, EndingTheEngineWhileADispatchWaitsInTheQueueReturnsAtOnce)
{
    WithinSeconds(20, [] {
        for (int round = 0; round < 50; ++round) {
            RealRig rig(Dense(200));
            TaskQueue queue; // nobody serves it until the end
            auto engine = std::make_unique<TPlaybackEngine>(rig.reader, rig.view, &rig.sink,
                                                            [&](std::function<void()> t) { queue.Post(std::move(t)); });
            rig.view.Engine = engine.get();
            engine->RecordingOpened(true);
            engine->Play();
            ASSERT_TRUE(queue.WaitForTask(2s));
            engine.reset(); // the worker is waiting for that dispatch
            queue.RunAll(); // a task that runs after the engine is gone does nothing
            EXPECT_TRUE(rig.view.Dispatches.empty());
        }
    });
}

TEST(EngineThreads, StopFromInsideADispatchDoesNotAdvanceOrDeadlock)
{
    WithinSeconds(20, [] {
        RealRig rig(Dense(300));
        WindowThread window;
        std::unique_ptr<TPlaybackEngine> engine;
        std::atomic<int> stops{0};
        window.Do([&] {
            engine = std::make_unique<TPlaybackEngine>(rig.reader, rig.view, &rig.sink,
                                                       [&](std::function<void()> t) { window.Post(std::move(t)); });
            rig.view.Engine = engine.get();
            engine->RecordingOpened(true);
            // A view call that stops playback (a nested event loop in the window would do
            // this): the position stays where Stop put it.
            rig.view.OnTime = [&] {
                if (engine->PlayState() == psPlaying && engine->CurIndex() == 5) {
                    engine->Stop();
                    ++stops;
                }
            };
            engine->Play();
        });
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        bool stopped = false;
        while (!stopped && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
            window.Do([&] { stopped = stops > 0 && engine->PlayState() == psStopped; });
        }
        ASSERT_TRUE(stopped);
        window.Do([&] {
            EXPECT_EQ(engine->CurIndex(), 0);
            EXPECT_EQ(engine->CurTime(), 0) << "no time of the stopped record afterwards";
            engine.reset();
        });
    });
}

TEST(EngineThreads, RealClockReleasesEachRecordAtItsTick)
{
    WithinSeconds(20, [] {
        RecordingFixture f;
        for (int i = 0; i < 20; ++i)
            f.AddAudio(i == 0 ? 0 : 15, 1, Tag(uint8_t(i)));
        RealRig rig(f);
        WindowThread window;
        std::unique_ptr<TPlaybackEngine> engine;
        window.Do([&] {
            engine = std::make_unique<TPlaybackEngine>(rig.reader, rig.view, &rig.sink,
                                                       [&](std::function<void()> t) { window.Post(std::move(t)); });
            rig.view.Engine = engine.get();
            engine->RecordingOpened(false);
            engine->Play();
        });
        std::this_thread::sleep_for(20 * 15ms + 200ms);
        window.Do([&] {
            ASSERT_EQ(rig.view.Dispatches.size(), 20u);
            const uint32_t origin = rig.view.Dispatches[0].tick;
            for (size_t i = 1; i < 20; ++i) {
                const uint32_t offset = rig.view.Dispatches[i].tick - origin;
                EXPECT_GE(offset, 15 * i) << "never early";
                EXPECT_LE(offset, 15 * i + 50) << "and not badly late";
            }
            engine.reset();
        });
    });
}
