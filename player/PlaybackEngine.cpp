#include "PlaybackEngine.h"

#include "GetTickCount.h"
#include "RecordingFormat.h"
#include "UnitLanguage.h"
#include "UnitReadMan.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <utility>

namespace qrv {

namespace {

// Runs one guarded step: whatever it raises is swallowed so the caller goes on.
template <typename F>
void Guarded(F&& step) noexcept
{
    try {
        step();
    } catch (...) {
    }
}

bool IsRecordType(const TRecordInfoView& view, TRecordType type)
{
    return view.RecordType == static_cast<uint8_t>(type);
}

// A tick difference at or above this is a tick in the past: waits never span half the
// tick count's range.
constexpr uint32_t HalfTickRange = 0x80000000u;

class TSystemEngineClock final : public TEngineClock {
public:
    uint32_t TickCount() override { return GetTickCount(); }

    void WaitForTick(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                     std::optional<uint32_t> tick) override
    {
        using namespace std::chrono;
        if (!tick) {
            wake.wait(lock);
            return;
        }
        // The tick count is the steady clock's whole milliseconds (plus a constant), so the
        // tick waited for begins exactly `remaining` ms after the start of the current one.
        // Read the tick between two steady readings of the same millisecond so that the
        // deadline is that boundary and not one millisecond later.
        for (int attempt = 0;; ++attempt) {
            const auto before = steady_clock::now();
            const uint32_t now = GetTickCount();
            const auto after = steady_clock::now();
            const auto start = floor<milliseconds>(before);
            if (start != floor<milliseconds>(after) && attempt < 3)
                continue;
            const uint32_t remaining = *tick - now;
            if (remaining == 0 || remaining >= HalfTickRange)
                return;
            wake.wait_until(lock, start + milliseconds(remaining));
            return;
        }
    }
};

} // namespace

TEngineClock& SystemEngineClock()
{
    static TSystemEngineClock clock;
    return clock;
}

// ---------------------------------------------------------------------------------------
// TReadManRecording

bool TReadManRecording::IsOpen() const { return m_reader.IsOpen(); }
int32_t TReadManRecording::Count() const { return m_reader.Count(); }
void TReadManRecording::GetRecordInfo(int32_t index, TRecordInfoView& view) const { m_reader.GetRecordInfo(index, view); }
uint32_t TReadManRecording::TotalTime() const { return m_reader.TotalTime(); }
std::optional<std::vector<uint8_t>> TReadManRecording::ReadAudioPayload(int32_t index) { return m_reader.ReadAudioPayload(index); }
std::unique_ptr<TBitmap24> TReadManRecording::DecodeVideoFrame(int32_t index) { return m_reader.DecodeVideoFrame(index); }
std::unique_ptr<TBitmap24> TReadManRecording::DecodeFromKeyFrame(int32_t index) { return m_reader.DecodeFromKeyFrame(index); }
std::unique_ptr<TBitmap24> TReadManRecording::ReadPicture(int32_t index) { return m_reader.ReadPicture(index); }
int32_t TReadManRecording::FindVideoRecord(bool backwards, int32_t start) const { return m_reader.FindVideoRecord(backwards, start); }

// ---------------------------------------------------------------------------------------
// Pure helpers

std::string FormatTime(int32_t ms)
{
    const int32_t h = ms / 3600000;
    const int32_t rest = ms - h * 3600000;
    const int32_t m = rest / 60000;
    const int32_t s = (rest - m * 60000) / 1000;
    char text[48];
    std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d", h, m, s);
    return text;
}

std::string FormatTimePair(int32_t currentMs, int32_t totalMs)
{
    return FormatTime(currentMs) + " / " + FormatTime(totalMs);
}

int32_t ThumbPixel(int32_t index, int32_t maximum, const TPlaybarMetrics& metrics)
{
    if (maximum <= 0)
        return 0;
    const double step = static_cast<double>(metrics.SliderWidth - metrics.ThumbWidth / 2) / maximum;
    const double pixel = std::nearbyint(index * step); // the default rounding: ties to even
    if (!(pixel > INT32_MIN))
        return INT32_MIN;
    if (!(pixel < INT32_MAX))
        return INT32_MAX;
    return static_cast<int32_t>(pixel);
}

std::string FormatPercent(int32_t index, int32_t count)
{
    if (count <= 0)
        return "0.0";
    const double percent = static_cast<double>(index) * 100.0 / count;
    // Round the decimal digits, not the binary value: 0.25 is "0.3", as a person would
    // round it. Six decimals hold every such quotient of 32-bit numbers closely enough.
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.6f", std::fabs(percent));
    std::string text(digits);
    const size_t point = text.find('.');
    std::string whole = text.substr(0, point);
    int tenth = text[point + 1] - '0';
    if (text[point + 2] >= '5' && ++tenth == 10) {
        tenth = 0;
        // Carry into the whole part.
        int i = static_cast<int>(whole.size()) - 1;
        while (i >= 0 && whole[i] == '9')
            whole[i--] = '0';
        if (i < 0)
            whole.insert(whole.begin(), '1');
        else
            ++whole[i];
    }
    std::string result = (percent < 0 && (whole != "0" || tenth != 0)) ? "-" : "";
    return result + whole + "." + static_cast<char>('0' + tenth);
}

std::string FormatLangText(std::string_view pattern, const std::vector<std::string>& args)
{
    std::string out;
    size_t next = 0;
    size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        // %[index:][-][width][.precision]type
        size_t j = i + 1;
        std::optional<size_t> argIndex;
        size_t k = j;
        while (k < pattern.size() && pattern[k] >= '0' && pattern[k] <= '9')
            ++k;
        if (k > j && k < pattern.size() && pattern[k] == ':') {
            argIndex = static_cast<size_t>(std::min<long long>(std::stoll(std::string(pattern.substr(j, std::min<size_t>(k - j, 9)))), 1000000));
            j = k + 1;
        }
        if (j < pattern.size() && pattern[j] == '-')
            ++j;
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9')
            ++j;
        if (j < pattern.size() && pattern[j] == '.') {
            ++j;
            while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9')
                ++j;
        }
        if (j < pattern.size() && (pattern[j] == 's' || pattern[j] == 'd')) {
            const size_t which = argIndex ? *argIndex : next;
            if (which < args.size())
                out += args[which];
            next = which + 1;
            i = j + 1;
            continue;
        }
        // Not a directive this formatter knows: keep the text as it is.
        out += c;
        ++i;
    }
    return out;
}

TFitRect FitPicture(int32_t panelWidth, int32_t panelHeight, int32_t pictureWidth, int32_t pictureHeight)
{
    if (pictureWidth <= 0 || pictureHeight <= 0 || panelWidth <= 0 || panelHeight <= 0)
        return {};
    const double rx = static_cast<double>(panelWidth) / pictureWidth;
    const double ry = static_cast<double>(panelHeight) / pictureHeight;
    const double scale = rx > ry ? ry : rx;
    TFitRect r;
    r.Width = static_cast<int32_t>(pictureWidth * scale);
    r.Height = static_cast<int32_t>(pictureHeight * scale);
    r.Left = (panelWidth - r.Width) / 2;
    r.Top = (panelHeight - r.Height) / 2;
    return r;
}

// ---------------------------------------------------------------------------------------
// TThreadMan

TThreadMan::TThreadMan(std::function<void()> body, std::function<void()> wakeUp)
    : m_body(std::move(body)), m_wakeUp(std::move(wakeUp)), m_thread([this] { Execute(); })
{
}

TThreadMan::~TThreadMan()
{
    m_terminated.store(true, std::memory_order_release);
    if (m_wakeUp)
        m_wakeUp();
    if (m_thread.joinable())
        m_thread.join();
}

void TThreadMan::Execute()
{
    // The pacing thread only waits: make its wakes as punctual as the system allows. A
    // timer slack of 1 ns halves the usual lateness; a real-time priority, when the user may
    // have one, keeps other busy threads from delaying the wake. Both are best effort.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO);
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);

    while (!Terminated()) {
        if (m_body)
            m_body();
    }
}

// ---------------------------------------------------------------------------------------
// TPlaybackEngine

TPlaybackEngine::TPlaybackEngine(IPlaybackRecording& recording, IPlaybackView& view, IAudioPacketSink* audio,
                                 TPostToWindow postToWindow, TEngineClock& clock)
    : m_recording(recording), m_view(view), m_audio(audio), m_post(std::move(postToWindow)), m_clock(clock),
      m_alive(std::make_shared<std::atomic<bool>>(true))
{
    m_worker = std::make_unique<TThreadMan>([this] { PaceNextRecord(); }, [this] { WakePlayThread(); });
}

TPlaybackEngine::TPlaybackEngine(TReadMan& reader, IPlaybackView& view, IAudioPacketSink* audio,
                                 TPostToWindow postToWindow, TEngineClock& clock)
    : m_ownedRecording(std::make_unique<TReadManRecording>(reader)), m_recording(*m_ownedRecording), m_view(view),
      m_audio(audio), m_post(std::move(postToWindow)), m_clock(clock), m_alive(std::make_shared<std::atomic<bool>>(true))
{
    m_worker = std::make_unique<TThreadMan>([this] { PaceNextRecord(); }, [this] { WakePlayThread(); });
}

TPlaybackEngine::~TPlaybackEngine()
{
    Shutdown();
}

void TPlaybackEngine::Shutdown()
{
    if (!m_worker)
        return;
    m_alive->store(false);
    {
        std::lock_guard lock(m_mutex);
        m_paced.FRunGate = false;
        m_ending = true;
    }
    m_worker.reset(); // terminate, wake, wait
}

void TPlaybackEngine::WakePlayThread()
{
    std::lock_guard lock(m_mutex);
    m_clock.Wake(m_wake);
    m_dispatchDone.notify_all();
}

// Worker: one pass. Waits on the run gate, hands the record at FCurIndex to the window
// thread while playing, then waits until the following record is due. Returns early on
// any change of state so that the next pass sees it.
void TPlaybackEngine::PaceNextRecord()
{
    std::unique_lock lock(m_mutex);
    while (!m_paced.FRunGate && !m_ending)
        m_clock.WaitForTick(m_wake, lock, std::nullopt);
    if (m_ending)
        return;

    if (m_paced.FPlayState == psPlaying) {
        lock.unlock();
        SendPlayRecord();
        lock.lock();
    }

    for (;;) {
        if (m_ending || m_paced.FPlayState != psPlaying || !m_paced.FRunGate || m_paced.FResync)
            return;
        const uint32_t now = m_clock.TickCount();
        const uint32_t offset = m_paced.NextPlayTime - m_paced.FBaseTime;
        const uint32_t elapsed = now - m_paced.FBaseTick;
        if (offset <= elapsed)
            return; // due
        // A record before the base (the index moved back and the resync that goes with it
        // is on its way) is, by the rule, not due for weeks: wait for the state to change
        // rather than for a tick.
        const uint32_t remaining = offset - elapsed;
        m_clock.WaitForTick(m_wake, lock,
                            remaining < HalfTickRange ? std::optional<uint32_t>(m_paced.FBaseTick + offset) : std::nullopt);
    }
}

// Worker: runs WMPlayRecord on the window thread and waits until it has run, or until the
// worker is told to end (the window thread may then be waiting for this thread and will
// never run the task; when it does run later, the task finds the engine gone and does
// nothing).
void TPlaybackEngine::SendPlayRecord()
{
    struct TTicket {
        bool Done = false;
    };
    auto ticket = std::make_shared<TTicket>();
    auto alive = m_alive;
    try {
        m_post([this, ticket, alive] {
            if (!alive->load())
                return;
            WMPlayRecord();
            if (!alive->load())
                return; // the engine was shut down from inside the dispatch
            std::lock_guard lock(m_mutex);
            ticket->Done = true;
            m_dispatchDone.notify_all();
        });
    } catch (...) {
        return; // the window would not take it: the worker simply paces on
    }
    std::unique_lock lock(m_mutex);
    m_dispatchDone.wait(lock, [&] { return ticket->Done || m_ending; });
}

// Window thread: dispatches the record at FCurIndex.
void TPlaybackEngine::WMPlayRecord()
{
    if (PlayState() != psPlaying)
        return;
    int32_t count = 0;
    bool open = false;
    Guarded([&] {
        open = m_recording.IsOpen();
        count = m_recording.Count();
    });
    if (!open || FCurIndex < 0 || FCurIndex >= count)
        return;

    const int32_t index = FCurIndex;
    const uint64_t serial = m_positionSerial;
    const TRecordInfoView info = RecordAt(index);

    if (IsRecordType(info, TRecordType::rtAudio)) {
        if (!FMuted)
            Guarded([&] { SendAudioRecord(index, info.AudioChannel); });
    } else if (IsRecordType(info, TRecordType::rtVideo)) {
        Guarded([&] { ShowVideoRecord(FNeedKeyFrame, index); });
    } else if (IsRecordType(info, TRecordType::rtPicture)) {
        Guarded([&] { ShowPictureRecord(index); });
    }
    // The user stopped or seeked while the record was being handled (a dialog or a nested
    // event loop inside a view call): the new position stands; do not advance past it.
    const auto moved = [&] { return serial != m_positionSerial; };
    if (moved())
        return;
    FCurTime = static_cast<int32_t>(info.PlayTime);
    Guarded([&] { ShowTime(FCurTime, FTotalTime); });
    if (moved())
        return;
    Guarded([&] { UpdatePlaybar(index); });
    if (moved())
        return;

    if (index + 1 == count) {
        Stop(); // the end: rewind to the start, stopped, blank display
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_paced.FResync) {
            // Taken after the record's work, so a slow decode does not make the next rush.
            m_paced.FBaseTime = info.PlayTime;
            m_paced.FBaseTick = m_clock.TickCount();
            m_paced.FResync = false;
        }
    }
    SetCurIndex(index + 1);
}

void TPlaybackEngine::SendAudioRecord(int32_t index, int32_t channel)
{
    const auto payload = m_recording.ReadAudioPayload(index);
    if (payload && m_audio)
        m_audio->SendPacket(payload->data(), static_cast<int32_t>(payload->size()), channel);
}

void TPlaybackEngine::ShowVideoRecord(bool needKeyFrame, int32_t index)
{
    const TRecordInfoView info = RecordAt(index);
    UpdateSmallVideo(info.PictureShown != 0);
    // The decoder answers a new picture of the record's frame size (it is opened for that
    // size), so it is shown as it comes, without a further copy.
    std::unique_ptr<TBitmap24> picture =
        needKeyFrame ? m_recording.DecodeFromKeyFrame(index) : m_recording.DecodeVideoFrame(index);
    if (!picture)
        return; // the key frame stays needed: the next video record decodes from its key frame
    FNeedKeyFrame = false;
    DisplayPicture(std::move(picture));
}

void TPlaybackEngine::ShowPictureRecord(int32_t index)
{
    if (PlayState() == psStopped)
        return;
    if (!FSmallVideoOn) {
        UpdateSmallVideo(false);
        return;
    }
    const TRecordInfoView info = RecordAt(index);
    if (info.PictureShown == 0) {
        UpdateSmallVideo(false);
        return;
    }
    std::unique_ptr<TBitmap24> picture = m_recording.ReadPicture(index);
    if (!picture)
        return; // a broken picture leaves the small window as it was
    Guarded([&] { m_view.ShowSmallPicture(std::shared_ptr<const TBitmap24>(std::move(picture))); });
    UpdateSmallVideo(true);
}

void TPlaybackEngine::UpdateSmallVideo(bool show)
{
    const bool visible = show && FSmallVideoOn && PlayState() == psPlaying;
    Guarded([&] { m_view.ShowSmallVideo(visible); });
}

void TPlaybackEngine::DisplayPicture(std::unique_ptr<TBitmap24> picture)
{
    if (!picture || picture->Width() <= 0 || picture->Height() <= 0)
        return;
    std::shared_ptr<const TBitmap24> shown;
    if (FSettings.IsNeutral()) {
        // Nothing to apply: the unadjusted picture is the one shown.
        FLastPicture = std::shared_ptr<const TBitmap24>(std::move(picture));
        shown = FLastPicture;
    } else {
        FLastPicture = picture->Clone();
        ApplyPictureSettings(*picture, FSettings);
        shown = std::shared_ptr<const TBitmap24>(std::move(picture));
    }
    Guarded([&] { m_view.ShowPicture(std::move(shown)); });
}

void TPlaybackEngine::RedisplayPicture()
{
    if (!FLastPicture)
        return;
    std::unique_ptr<TBitmap24> copy;
    Guarded([&] { copy = FLastPicture->Clone(); });
    DisplayPicture(std::move(copy));
}

void TPlaybackEngine::ClearPicture()
{
    if (FLastPicture) {
        Guarded([&] {
            auto black = std::make_unique<TBitmap24>(FLastPicture->Width(), FLastPicture->Height());
            std::fill_n(black->Bits(), black->SizeBytes(), uint8_t{0});
            FLastPicture = std::move(black);
        });
    }
    Guarded([&] { m_view.ClearPicture(); });
    UpdateSmallVideo(false);
}

void TPlaybackEngine::ShowTime(int32_t current, int32_t total)
{
    m_view.ShowTimeText(FormatTimePair(current, total));
}

void TPlaybackEngine::UpdatePlaybar(int32_t index)
{
    if (FSeeking)
        return;
    const int32_t pixel = ThumbPixel(index, FPlaybarMaximum, m_view.PlaybarMetrics());
    if (pixel != FLastThumbPixel)
        m_view.SetPlaybarPosition(index);
    FLastThumbPixel = pixel;
}

void TPlaybackEngine::ShowPlayState(TPlayState state)
{
    const bool playing = state == psPlaying;
    Guarded([&] { m_view.SetPlayButtonToggle(playing); });
    Guarded([&] { m_view.ShowOSD(LangText(playing ? MLMSG_MAIN_13 : MLMSG_MAIN_14)); });
}

void TPlaybackEngine::SetPlayState(TPlayState state, bool gate, bool resync)
{
    std::lock_guard lock(m_mutex);
    m_paced.FPlayState = state;
    m_paced.FRunGate = gate;
    if (resync)
        m_paced.FResync = true;
    m_clock.Wake(m_wake);
}

void TPlaybackEngine::SetCurIndex(int32_t index)
{
    FCurIndex = index;
    const uint32_t playTime = RecordAt(index).PlayTime;
    std::lock_guard lock(m_mutex);
    m_paced.NextPlayTime = playTime;
    m_clock.Wake(m_wake);
}

TRecordInfoView TPlaybackEngine::RecordAt(int32_t index) const
{
    TRecordInfoView view{};
    Guarded([&] { m_recording.GetRecordInfo(index, view); });
    return view;
}

uint32_t TPlaybackEngine::SafeTotalTime() const
{
    uint32_t total = 0;
    Guarded([&] {
        if (m_recording.Count() > 0)
            total = m_recording.TotalTime();
    });
    return total;
}

bool TPlaybackEngine::IsFileOpen() const
{
    bool open = false;
    Guarded([&] { open = m_recording.IsOpen(); });
    return open;
}

TPlayState TPlaybackEngine::PlayState() const
{
    std::lock_guard lock(m_mutex);
    return m_paced.FPlayState;
}

bool TPlaybackEngine::ResyncPending() const
{
    std::lock_guard lock(m_mutex);
    return m_paced.FResync;
}

uint32_t TPlaybackEngine::BaseTime() const
{
    std::lock_guard lock(m_mutex);
    return m_paced.FBaseTime;
}

uint32_t TPlaybackEngine::BaseTick() const
{
    std::lock_guard lock(m_mutex);
    return m_paced.FBaseTick;
}

// ---------------------------------------------------------------------------------------
// Operations

void TPlaybackEngine::Play()
{
    if (!IsFileOpen())
        return;
    int32_t count = 0;
    Guarded([&] { count = m_recording.Count(); });
    if (count <= 0)
        return; // nothing to play: the engine needs at least one record
    SetPlayState(psPlaying, true, true);
    ShowPlayState(psPlaying);
}

void TPlaybackEngine::Pause()
{
    if (!IsFileOpen())
        return;
    SetPlayState(psPaused, false, false);
    ShowPlayState(psPaused);
}

void TPlaybackEngine::PlayPause()
{
    if (PlayState() == psPlaying)
        Pause();
    else
        Play();
}

void TPlaybackEngine::Stop()
{
    if (!IsFileOpen())
        return;
    SetPlayState(psStopped, false, false);
    FNeedKeyFrame = true;
    ++m_positionSerial;
    SetCurIndex(0);
    FCurTime = 0;
    FTotalTime = static_cast<int32_t>(SafeTotalTime());
    Guarded([&] { ShowTime(0, FTotalTime); });
    Guarded([&] { UpdatePlaybar(0); });
    ClearPicture();
    Guarded([&] { m_view.SetPlayButtonToggle(false); });
}

void TPlaybackEngine::RecordingOpened(bool hasVideo)
{
    FHasVideo = hasVideo;
    FNeedKeyFrame = true;
    ++m_positionSerial;
    SetCurIndex(0);
    FCurTime = 0;
    FTotalTime = static_cast<int32_t>(SafeTotalTime());
    FSettings.Reset();
    Guarded([&] { ShowTime(0, FTotalTime); });
    SetPlayState(psStopped, false, false);
    ClearPicture();
    UpdateSmallVideo(false);
    int32_t count = 0;
    Guarded([&] { count = m_recording.Count(); });
    FPlaybarMaximum = std::max(count - 1, 0);
    Guarded([&] { m_view.SetPlaybarMaximum(FPlaybarMaximum); });
    Guarded([&] { UpdatePlaybar(0); });
}

void TPlaybackEngine::RequestResync()
{
    std::lock_guard lock(m_mutex);
    m_paced.FResync = true;
    m_clock.Wake(m_wake);
}

void TPlaybackEngine::DisplayResized()
{
    RequestResync();
    if (PlayState() != psStopped)
        RedisplayPicture();
}

void TPlaybackEngine::SetMute(bool muted, bool showOsd)
{
    FMuted = muted;
    if (showOsd)
        Guarded([&] { m_view.ShowOSD(LangText(muted ? MLMSG_MAIN_07 : MLMSG_MAIN_08)); });
}

int32_t& TPlaybackEngine::SettingField(TPictureSetting which)
{
    switch (which) {
    case TPictureSetting::Contrast: return FSettings.FContrast;
    case TPictureSetting::Brightness: return FSettings.FBrightness;
    case TPictureSetting::Saturation: break;
    }
    return FSettings.FSaturation;
}

void TPlaybackEngine::PictureSettingChanged(TPictureSetting which)
{
    const TLangMsg name = which == TPictureSetting::Contrast     ? MLMSG_POPUP_22
                          : which == TPictureSetting::Brightness ? MLMSG_POPUP_21
                                                                 : MLMSG_POPUP_23;
    const std::string text = FormatLangText("[ %s : %d ]", {LangText(name), std::to_string(SettingField(which))});
    Guarded([&] { m_view.ShowOSD(text); });
    RedisplayWhenStopped();
}

void TPlaybackEngine::RedisplayWhenStopped()
{
    if (PlayState() == psStopped)
        RedisplayPicture();
}

void TPlaybackEngine::IncPictureSetting(TPictureSetting which)
{
    SettingField(which) = TPictureSettings::Raised(SettingField(which));
    PictureSettingChanged(which);
}

void TPlaybackEngine::DecPictureSetting(TPictureSetting which)
{
    SettingField(which) = TPictureSettings::Lowered(SettingField(which));
    PictureSettingChanged(which);
}

void TPlaybackEngine::ResetPictureSettings()
{
    FSettings.Reset();
    Guarded([&] { m_view.ShowOSD("[ " + LangText(MLMSG_POPUP_28) + " ]"); });
    RedisplayWhenStopped();
}

void TPlaybackEngine::SetSmallVideoOn(bool on)
{
    FSmallVideoOn = on;
    UpdateSmallVideo(on);
}

// ---------------------------------------------------------------------------------------
// Seeking

void TPlaybackEngine::PlaybarBeginChange()
{
    if (IsFileOpen())
        FSeeking = true;
}

void TPlaybackEngine::PlaybarChanged(int32_t index)
{
    if (!IsFileOpen() || !FSeeking)
        return;
    int32_t count = 0;
    Guarded([&] { count = m_recording.Count(); });
    if (count <= 0)
        return;
    index = std::clamp(index, 0, count - 1);
    const std::string time = FormatTime(static_cast<int32_t>(RecordAt(index).PlayTime));
    const std::string text = FormatLangText(LangText(MLMSG_MAIN_15), {time, FormatPercent(index, count)});
    Guarded([&] { m_view.ShowOSD(text); });
}

void TPlaybackEngine::PlaybarStopChanged(int32_t index)
{
    if (!IsFileOpen())
        return;
    int32_t count = 0;
    Guarded([&] { count = m_recording.Count(); });
    if (count <= 0) {
        FSeeking = false;
        return;
    }
    // The slider keeps its position within 0..maximum; a position from elsewhere is held to
    // the recording's records.
    index = std::clamp(index, 0, count - 1);
    ++m_positionSerial;
    RequestResync(); // before the new index reaches the worker, so that it never paces it on the old base
    SetCurIndex(index);
    if (FHasVideo) {
        FNeedKeyFrame = true;
        if (PlayState() != psStopped) {
            int32_t v = 0;
            Guarded([&] { v = m_recording.FindVideoRecord(true, index); });
            if (v >= 0)
                Guarded([&] { ShowVideoRecord(true, v); });
        }
    }
    // The thumb now shows the dropped place: remember its pixel so that the next update
    // (a stop's thumb to 0 included) repaints when the place differs.
    Guarded([&] { FLastThumbPixel = ThumbPixel(index, FPlaybarMaximum, m_view.PlaybarMetrics()); });
    // The drag ends before a stop at the very end, so that the stop takes the thumb to 0.
    FSeeking = false;
    if (index == count - 1)
        Stop(); // a drop at the very end rewinds
    RequestResync();
}

} // namespace qrv
