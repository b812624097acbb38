#pragma once

// TPlaybackEngine: plays the open recording in real time for the main window.
//
// The engine is split in two, like the player always was:
//   - a worker thread (TThreadMan running PaceNextRecord) that only paces: it waits until the
//     record at FCurIndex is due by its PlayTime and then hands the dispatch to the window
//     thread, synchronously, so that at most one record is in flight;
//   - the dispatch (WMPlayRecord), which runs on the window thread: it sends an audio record
//     to the mixer, decodes and shows a video record, or shows a picture record in the small
//     window, then updates the time label and the playbar, stops after the last record and
//     advances.
//
// A record is due when (PlayTime - FBaseTime) <= (now - FBaseTick), both differences taken
// and compared as unsigned 32-bit tick counts, so a wrap of the tick count does no harm. The
// clock is rebased (FResync) at the next dispatch after Play, a seek, a display resize, a
// window-mode change or a closed dialog, taking the base tick after that record's work so a
// slow decode does not make the following records rush. The worker waits for the due tick
// with a deadline wait that any state change ends at once; it does not poll.
//
// Threads
//   - The window thread is the thread that creates the engine, calls every public operation,
//     runs the tasks handed to TPostToWindow and destroys the engine. Every view and audio
//     sink call comes on it, from an operation or from a dispatch.
//   - The worker reads only the small paced state (play state, run gate, resync, base time
//     and tick, PlayTime of the next record) under the engine's lock. It never touches the
//     reader: a recording can be reopened while the worker waits.
//   - No operation of the window thread ever waits for the worker, except the destructor
//     (Shutdown), and that wait cannot deadlock: a worker waiting for its dispatch gives up
//     the dispatch when it is told to end, and a dispatch task that runs after the engine
//     is gone does nothing.
//
// Failures stay inside: each step of a dispatch (the record's action, the time label, the
// playbar) is guarded on its own and an exception there is swallowed, so playback goes on
// with the next record. No exception leaves a public operation.
//
// Typical wiring in the window (the window implements IPlaybackView):
//
//   m_engine = std::make_unique<TPlaybackEngine>(m_reader, *this, &m_audioSink,
//       [this](std::function<void()> task) {
//           QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
//       });
//   // opening: if (m_engine->PlayState() != psStopped) m_engine->Stop();
//   //          if (m_reader.Open(path)) m_engine->RecordingOpened(header.RecordingType != 2);
//   // slider:  sliderPressed -> PlaybarBeginChange, valueChanged -> PlaybarChanged(value),
//   //          sliderReleased -> PlaybarStopChanged(value)

#include "AdjustPicture.h"
#include "Bitmap24.h"
#include "UnitRecordInfoList.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qrv {

class TReadMan;

// FPlayState. psNone only before the first recording is opened.
enum TPlayState : uint8_t {
    psNone = 0,
    psPlaying = 1,
    psPaused = 2,
    psStopped = 3,
};

// ---------------------------------------------------------------------------------------
// What the engine needs around it.

// Where audio records go: the audio output server (the window wires it to
// TAudioOut::SendPacket). Called on the window thread; the result is ignored.
class IAudioPacketSink {
public:
    virtual ~IAudioPacketSink() = default;
    virtual bool SendPacket(const uint8_t* buffer, int32_t count, int32_t channel) = 0;
};

// The recording as the engine reads it: the subset of TReadMan that playback uses. Window
// thread only. Every call may raise; the engine guards each one.
class IPlaybackRecording {
public:
    virtual ~IPlaybackRecording() = default;
    virtual bool IsOpen() const = 0;
    virtual int32_t Count() const = 0;
    // Leaves `view` unchanged for an index out of range.
    virtual void GetRecordInfo(int32_t index, TRecordInfoView& view) const = 0;
    // PlayTime of the last record; only asked when Count() > 0.
    virtual uint32_t TotalTime() const = 0;
    virtual std::optional<std::vector<uint8_t>> ReadAudioPayload(int32_t index) = 0;
    virtual std::unique_ptr<TBitmap24> DecodeVideoFrame(int32_t index) = 0;
    virtual std::unique_ptr<TBitmap24> DecodeFromKeyFrame(int32_t index) = 0;
    virtual std::unique_ptr<TBitmap24> ReadPicture(int32_t index) = 0;
    // Backwards: the nearest video record at or before `start`, 0 when none is found.
    virtual int32_t FindVideoRecord(bool backwards, int32_t start) const = 0;
};

// The recording reader itself behind IPlaybackRecording.
class TReadManRecording final : public IPlaybackRecording {
public:
    explicit TReadManRecording(TReadMan& reader) : m_reader(reader) {}
    bool IsOpen() const override;
    int32_t Count() const override;
    void GetRecordInfo(int32_t index, TRecordInfoView& view) const override;
    uint32_t TotalTime() const override;
    std::optional<std::vector<uint8_t>> ReadAudioPayload(int32_t index) override;
    std::unique_ptr<TBitmap24> DecodeVideoFrame(int32_t index) override;
    std::unique_ptr<TBitmap24> DecodeFromKeyFrame(int32_t index) override;
    std::unique_ptr<TBitmap24> ReadPicture(int32_t index) override;
    int32_t FindVideoRecord(bool backwards, int32_t start) const override;

private:
    TReadMan& m_reader;
};

// The playbar's geometry in pixels, as the thumb mapping needs it.
struct TPlaybarMetrics {
    int32_t SliderWidth = 0; // the slider's width
    int32_t ThumbWidth = 0;  // the thumb picture's width
};

// The main window as the engine sees it. Every call comes on the window thread. A call may
// raise; the engine swallows it and goes on. Pictures are shared and never changed after
// they are handed over, so the view may keep one (for example inside a QImage) as long as
// it likes without copying it.
class IPlaybackView {
public:
    virtual ~IPlaybackView() = default;

    // The display area (pnlDisp/imgDisp): show `picture` (already adjusted by the picture
    // settings) fitted into the panel keeping its aspect ratio (FitPicture below), centred,
    // the rest in the panel colour RGB(39, 39, 39).
    virtual void ShowPicture(std::shared_ptr<const TBitmap24> picture) = 0;
    // Empty the display area: only the panel colour shows.
    virtual void ClearPicture() = 0;

    // The small video window's ShowPicture: take `picture` and size the window to it.
    virtual void ShowSmallPicture(std::shared_ptr<const TBitmap24> picture) = 0;
    // Show (placing it beside the main window when needed) or hide the small video window.
    // The engine has already combined the request with the user's option and the play
    // state: true comes only while playing with the option on.
    virtual void ShowSmallVideo(bool show) = 0;

    // lblTime's caption, "hh:mm:ss / hh:mm:ss".
    virtual void ShowTimeText(const std::string& text) = 0;
    // The playbar (sldPlaybar): its maximum (record count - 1, at least 0), its position (a
    // record index; setting it repaints the thumb), and its geometry for the thumb mapping.
    virtual void SetPlaybarMaximum(int32_t maximum) = 0;
    virtual void SetPlaybarPosition(int32_t index) = 0;
    virtual TPlaybarMetrics PlaybarMetrics() const = 0;

    // The on-screen display: show `text` for 2 seconds (ShowOSD).
    virtual void ShowOSD(const std::string& text) = 0;
    // The play button's face: true shows the pause picture set (mbPlay.Toggle).
    virtual void SetPlayButtonToggle(bool playing) = 0;
};

// Hands `task` to the window thread to run there later (Qt: a queued invokeMethod). It must
// not run the task before it returns, and may drop it when the window is going away.
using TPostToWindow = std::function<void(std::function<void()> task)>;

// The engine's time: the tick count, and the worker's wait for a tick.
class TEngineClock {
public:
    virtual ~TEngineClock() = default;
    // Milliseconds, unsigned 32-bit, wrapping (GetTickCount).
    virtual uint32_t TickCount() = 0;
    // Worker only. Blocks on `wake`, whose mutex `lock` holds, until the tick count has
    // reached `tick` (none: without time limit) or `wake` is notified. May return early; the
    // caller checks again.
    virtual void WaitForTick(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                             std::optional<uint32_t> tick) = 0;
    // Ends a WaitForTick on `wake`. Called with the mutex of that wait held.
    virtual void Wake(std::condition_variable& wake) { wake.notify_all(); }
};

// GetTickCount, and deadline waits on the steady clock that end exactly when the tick count
// reaches the tick waited for.
TEngineClock& SystemEngineClock();

// ---------------------------------------------------------------------------------------
// Pure helpers, shared with the window.

// "hh:mm:ss" of a signed millisecond count; integer divisions truncate toward zero and the
// hours are not limited to two digits (100 hours: "100:00:00").
std::string FormatTime(int32_t ms);
// "current / total", each as FormatTime.
std::string FormatTimePair(int32_t currentMs, int32_t totalMs);

// The thumb's pixel offset for `index` on a playbar of `maximum`: index x (slider width -
// thumb width div 2) / maximum, to the nearest integer with ties to even. A maximum of 0 or
// less maps every index to 0.
int32_t ThumbPixel(int32_t index, int32_t maximum, const TPlaybarMetrics& metrics);

// index x 100 / count with one decimal ("0.0"), halves rounded away from zero; "0.0" when
// count is 0 or less.
std::string FormatPercent(int32_t index, int32_t count);

// Fills a pattern from the language table with `args`, in order. Understands "%s" and
// "%d" (with optional "N:" argument index, "-", width and precision, which are ignored) and
// "%%". Anything else stays as written and a missing argument gives nothing, so a language
// file can never make the player read arguments it was not given.
std::string FormatLangText(std::string_view pattern, const std::vector<std::string>& args);

// Where a picture of picW x picH goes in a panel of panelW x panelH keeping its aspect
// ratio (it may grow as well as shrink), centred.
struct TFitRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Width = 0;
    int32_t Height = 0;
};
TFitRect FitPicture(int32_t panelWidth, int32_t panelHeight, int32_t pictureWidth, int32_t pictureHeight);

// ---------------------------------------------------------------------------------------

// The worker thread: calls `body` again and again until terminated. The destructor sets
// Terminated, calls `wakeUp` so that a waiting body returns, and waits for the thread.
class TThreadMan {
public:
    TThreadMan(std::function<void()> body, std::function<void()> wakeUp);
    ~TThreadMan();
    TThreadMan(const TThreadMan&) = delete;
    TThreadMan& operator=(const TThreadMan&) = delete;
    bool Terminated() const { return m_terminated.load(std::memory_order_acquire); }

private:
    void Execute();
    std::function<void()> m_body;
    std::function<void()> m_wakeUp;
    std::atomic<bool> m_terminated{false};
    std::thread m_thread;
};

enum class TPictureSetting { Contrast, Brightness, Saturation };

class TPlaybackEngine {
public:
    // Starts the worker at once; it parks until Play. `audio` may be null (no sound).
    TPlaybackEngine(IPlaybackRecording& recording, IPlaybackView& view, IAudioPacketSink* audio,
                    TPostToWindow postToWindow, TEngineClock& clock = SystemEngineClock());
    // The same over the reader itself.
    TPlaybackEngine(TReadMan& reader, IPlaybackView& view, IAudioPacketSink* audio,
                    TPostToWindow postToWindow, TEngineClock& clock = SystemEngineClock());
    ~TPlaybackEngine();
    TPlaybackEngine(const TPlaybackEngine&) = delete;
    TPlaybackEngine& operator=(const TPlaybackEngine&) = delete;

    // Ends the worker (a dispatch still queued does nothing when it runs). The window stops
    // playback first. Idempotent; the destructor calls it.
    void Shutdown();

    // --- Playing. Each does nothing while no recording is open.
    // Opens the run gate and rebases the clock: the record at FCurIndex goes out at once.
    // Play button face: pause; OSD MLMSG_MAIN_13. Nothing at all for an empty recording.
    void Play();
    // Closes the run gate; FCurIndex stays. Play button face: play; OSD MLMSG_MAIN_14.
    void Pause();
    // Rewinds: index 0, time 0, key frame needed, time label "00:00:00 / total", thumb to
    // 0, display cleared, play button face: play. No OSD.
    void Stop();
    // mbPlay's click on an open recording: Pause while playing, Play otherwise.
    void PlayPause();

    // After the reader opened a recording (the window stops playback before it opens):
    // stopped at index 0 with time 0, key frame needed, picture settings 0, the time label,
    // the display cleared, the small window hidden, the playbar's maximum and thumb at 0.
    // `hasVideo`: the header's RecordingType is not 2 (audio only). A recording without
    // records opens like any other, shows 00:00:00 and never plays.
    void RecordingOpened(bool hasVideo);

    // Requests a resync: the next dispatch rebases the clock and a waiting worker releases
    // the next record at once (window-mode changes, a closed dialog).
    void RequestResync();
    // The display panel changed size: resync, and unless stopped redraw the last picture.
    void DisplayResized();

    // --- The display.
    // Keeps `picture` as the unadjusted last picture and shows it with the settings applied.
    // Pictures of width or height 0 are ignored.
    void DisplayPicture(std::unique_ptr<TBitmap24> picture);
    // DisplayPicture of a copy of the last unadjusted picture: settings never accumulate.
    void RedisplayPicture();
    // Blackens the last picture (its size stays), empties the display, hides the small window.
    void ClearPicture();

    // --- Mute, picture settings, small video option.
    // FMuted: while set, audio records are skipped (not queued). With `showOsd`, the OSD
    // shows MLMSG_MAIN_07 (muted) or MLMSG_MAIN_08.
    void SetMute(bool muted, bool showOsd = true);
    // +5 / -5 within 0..100, OSD "[ name : value ]", redisplay when stopped.
    void IncPictureSetting(TPictureSetting which);
    void DecPictureSetting(TPictureSetting which);
    // All settings 0, OSD "[ " MLMSG_POPUP_28 " ]", redisplay when stopped.
    void ResetPictureSettings();
    // FSmallVideoOn, and shows or hides the small window accordingly.
    void SetSmallVideoOn(bool on);

    // --- The playbar's three slider events (a recording must be open).
    // The user grabbed the thumb: playback stops moving it.
    void PlaybarBeginChange();
    // The thumb moved to `index` during a drag: OSD MLMSG_MAIN_15 with the time of the record
    // there and its percentage of the count.
    void PlaybarChanged(int32_t index);
    // The thumb was released at `index`: playback goes on from there (at once, the clock
    // rebased); unless stopped the picture there is decoded from its key frame and shown; a
    // drop at the last index stops and rewinds.
    void PlaybarStopChanged(int32_t index);

    // --- State, for the window and for tests.
    bool IsFileOpen() const;
    TPlayState PlayState() const;
    int32_t CurIndex() const { return FCurIndex; }
    int32_t CurTime() const { return FCurTime; }
    int32_t TotalTime() const { return FTotalTime; }
    bool NeedKeyFrame() const { return FNeedKeyFrame; }
    bool HasVideo() const { return FHasVideo; }
    bool Muted() const { return FMuted; }
    bool Seeking() const { return FSeeking; }
    bool SmallVideoOn() const { return FSmallVideoOn; }
    bool ResyncPending() const;
    uint32_t BaseTime() const;
    uint32_t BaseTick() const;
    const TPictureSettings& PictureSettings() const { return FSettings; }
    // The last displayed picture before the settings; none before the first picture.
    std::shared_ptr<const TBitmap24> LastPicture() const { return FLastPicture; }

private:
    // What the worker reads; guarded by m_mutex, written on the window thread.
    struct TPaced {
        TPlayState FPlayState = psNone;
        bool FRunGate = false; // open exactly while playing
        bool FResync = false;
        uint32_t FBaseTime = 0;
        uint32_t FBaseTick = 0;
        uint32_t NextPlayTime = 0; // PlayTime of the record at FCurIndex
    };

    void PaceNextRecord();   // worker
    void SendPlayRecord();   // worker: the synchronous hand-off
    void WakePlayThread();   // any thread
    void WMPlayRecord();     // window thread: one record

    void SendAudioRecord(int32_t index, int32_t channel);
    void ShowVideoRecord(bool needKeyFrame, int32_t index);
    void ShowPictureRecord(int32_t index);
    void UpdateSmallVideo(bool show);
    void ShowTime(int32_t current, int32_t total);
    void UpdatePlaybar(int32_t index);
    void ShowPlayState(TPlayState state);
    void SetPlayState(TPlayState state, bool gate, bool resync);
    void SetCurIndex(int32_t index); // also publishes the next PlayTime to the worker
    TRecordInfoView RecordAt(int32_t index) const;
    uint32_t SafeTotalTime() const;
    int32_t& SettingField(TPictureSetting which);
    void PictureSettingChanged(TPictureSetting which);
    void RedisplayWhenStopped();

    std::unique_ptr<TReadManRecording> m_ownedRecording;
    IPlaybackRecording& m_recording;
    IPlaybackView& m_view;
    IAudioPacketSink* m_audio;
    TPostToWindow m_post;
    TEngineClock& m_clock;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;         // the worker's waits: gate and due tick
    std::condition_variable m_dispatchDone; // the worker's wait for its dispatch
    TPaced m_paced;
    bool m_ending = false; // set under m_mutex by Shutdown: the worker returns

    // Window thread only.
    int32_t FCurIndex = 0;
    int32_t FCurTime = 0;
    int32_t FTotalTime = 0;
    bool FNeedKeyFrame = true;
    bool FHasVideo = true;
    bool FMuted = false;
    bool FSeeking = false;
    bool FSmallVideoOn = true;
    int32_t FLastThumbPixel = 0;
    int32_t FPlaybarMaximum = 0;
    TPictureSettings FSettings;
    std::shared_ptr<const TBitmap24> FLastPicture;
    // Changes whenever the position is set from outside a dispatch (stop, seek, open), so
    // that a dispatch during which the user stopped or seeked does not advance afterwards.
    uint64_t m_positionSerial = 0;
    // Shared with queued dispatch tasks: false once the engine shuts down.
    std::shared_ptr<std::atomic<bool>> m_alive;

    std::unique_ptr<TThreadMan> m_worker; // last: started after everything above exists
};

} // namespace qrv
