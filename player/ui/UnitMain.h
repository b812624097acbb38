#pragma once

// TfrmBrisaMain: the player's main window. It draws its own frame (a title bar, thin side
// borders and a control bar around the display area), owns the playback engine and the
// recording reader, and turns the user's input into the engine's commands. Behaviour lives in
// the engine; this window shows what the engine asks it to show and forwards input.
//
// Layout (pixels; the frame is 8 wider and 112 higher than the display area):
//
//   pnlTop      27 high     title bar: caps, stretched middle, centred title, minimise,
//                           maximise and close buttons at the right
//   pnlLeft/Right 4 wide    stretched borders
//   pnlControl  85 high     playbar, mute, volume, play, stop, time, open, recent, function,
//                           the resize grip in the bottom-right corner
//   pnlDisp     the rest    the picture, fitted keeping its aspect ratio, on RGB(39, 39, 39)
//
// The controls of the two bars keep the distances to the bar's edges that their anchors name
// when the window is resized (the design size is 520 x 481, also the minimum size).
//
// Threads: the window thread only (the engine's worker hands records to it).

#include "PlaybackEngine.h"
#include "UnitReadMan.h"

#include <QImage>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QTimer;

namespace qrv {

class TAudioOut;
class TBitmap24;
class TMultiButton_QRV;
class TQtMessageWindow;
class TSkinSlider;
class TfrmSmallVideo;

// Window modes.
enum TWindowMode : uint8_t { wmVideoSize = 0, wmNormal = 1, wmMaximized = 2, wmFullScreen = 3 };

// A plain widget that paints one skin picture, stretched to its size or at its own size.
class TSkinImage : public QWidget {
    Q_OBJECT
public:
    TSkinImage(QWidget* parent, const QPixmap& picture, bool stretch);
    const QPixmap& Picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_picture;
    bool m_stretch;
};

// The display area: the panel colour and the current picture (imgDisp), stretched into its
// place.
class TDisplayPanel : public QWidget {
    Q_OBJECT
public:
    explicit TDisplayPanel(QWidget* parent);
    // Shows `picture` stretched into `place` (panel coordinates); a null picture empties it.
    void SetPicture(QImage picture, QRect place);
    const QImage& Picture() const { return m_picture; }
    QRect PicturePlace() const { return m_place; }
    // Counts the pictures handed to the panel, and the count when the panel last painted a
    // picture: a picture is on screen once PicturesPainted reaches its number. For
    // measurements and tests.
    uint64_t PicturesShown() const { return m_shown; }
    uint64_t PicturesPainted() const { return m_painted; }
    std::function<void(TDisplayPanel& sender)> OnResized;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QImage m_picture;
    QRect m_place;
    uint64_t m_shown = 0;
    uint64_t m_painted = 0;
};

// Placement of the window around a display area of `width` x `height` inside `workArea`:
// the window's new rectangle, or none when it does not fit and must be maximised. The window
// keeps its top-left corner unless its right or bottom edge would leave the work area; then it
// moves back just far enough, and never left of or above the work area.
std::optional<QRect> FitWindowRect(QRect window, QRect workArea);

// Where the small window goes beside the main window: right of it, or left of it when it
// would pass the right edge of the work area (`workWidth` wide), or at the main window's left
// when there is no room on either side.
QPoint SmallVideoPlace(QRect mainWindow, QSize smallWindow, int workWidth);

class TfrmBrisaMain : public QWidget, private IPlaybackView {
    Q_OBJECT

public:
    // `arguments`: the command line after the program's name; the first one, when there is
    // one, is the recording opened 100 ms after the first showing.
    explicit TfrmBrisaMain(QStringList arguments = {}, QWidget* parent = nullptr);
    ~TfrmBrisaMain() override;

    // Opening (every way of opening ends here). Does not play.
    void OpenRecording(const std::string& path);
    // Asks for the recording's password when it has one; true when it may be opened.
    bool CheckPassword(const RecordingHeader& header);
    // The open dialog; true when a file was chosen (it is then open and playing).
    bool OpenFileDialog();
    bool IsFileOpen() const;
    // The folder the open dialog starts in.
    QString OpenDialogFolder() const;

    // WM_OPENREQUEST from a second start: stops what plays, opens the path the second start
    // stored (FileOpen\FilePath) and plays it; a path that names no file does nothing.
    void WMOpenRequest();
    // The desktop session ends (the session manager asks to save, or the process is told to
    // terminate): the teardown runs now, so that a changed header is written and the settings
    // saved even when the process does not get to its normal end. The window closes.
    void WMQueryEndSession();
    // The teardown: stop, audio server off, worker freed, recording closed (header written
    // back), settings and window position saved. Each step is guarded on its own; runs once
    // (the destructor calls it too). The window takes no more commands afterwards.
    void FormDestroy();
    // The handle of the message window a second start posts WM_OPENREQUEST to; 0 when the
    // message window could not be made (the hand-over then finds no player).
    uint32_t MessageHandle() const;

    // Engine commands.
    void Play();
    void Pause();
    void Stop();

    // Button commands.
    void mbPlayClick();
    void mbStopClick();

    void SetVideoClientSize(int width, int height, bool fit);
    void SetWindowMode(TWindowMode mode);
    void UpdateSmallVideo(bool show);
    void PlaceSmallVideo();

    void ShowOSD(const QString& text);
    void HideOSD();

    // The small window's option (saved with the settings).
    bool SmallVideoOn() const { return m_engine->SmallVideoOn(); }

    // Seams for tests: the message box (default MsgBoxEx) and whether a sound output exists
    // (default: SDL_AUDIODRIVER is set, or SDL sees at least one output device).
    std::function<int(QWidget* owner, const QString& text, const QString& caption, unsigned flags)> MessageBox;
    std::function<bool()> SoundOutputExists;

    // The controls, named as the window's layout names them.
    QWidget* pnlMain = nullptr;
    QWidget* pnlTop = nullptr;
    QWidget* pnlLeft = nullptr;
    QWidget* pnlRight = nullptr;
    QWidget* pnlControl = nullptr;
    TDisplayPanel* pnlDisp = nullptr;
    QLabel* lblTitle = nullptr;
    QLabel* lblTime = nullptr;
    QLabel* lblOSD1 = nullptr;
    QLabel* lblOSD2 = nullptr;
    QLabel* lblOSD3 = nullptr;
    TMultiButton_QRV* mbMinimize = nullptr;
    TMultiButton_QRV* mbMaximize = nullptr;
    TMultiButton_QRV* mbClose = nullptr;
    TMultiButton_QRV* mbMute = nullptr;
    TMultiButton_QRV* mbPlay = nullptr;
    TMultiButton_QRV* mbStop = nullptr;
    TMultiButton_QRV* mbOpen = nullptr;
    TMultiButton_QRV* mbOpened = nullptr;
    TMultiButton_QRV* mbFunction = nullptr;
    TSkinSlider* sldPlaybar = nullptr;
    TSkinSlider* sldVolbar = nullptr;
    TSkinImage* imgResize = nullptr;
    QTimer* tmrDispODS = nullptr;
    QTimer* tmrFileOpen = nullptr;
    TfrmSmallVideo* frmSmallVideo = nullptr;

    // State the window keeps.
    std::string FFileName;
    std::string FExeDir;
    bool FSmallVideoPlaced = false;
    int FVideoWidth = 512;
    int FVideoHeight = 369;
    TWindowMode FWindowMode = wmNormal;
    TWindowMode FPrevWindowMode = wmNormal;
    QRect FNormalRect;

    TReadMan& Reader() { return *m_reader; }
    TPlaybackEngine& Engine() { return *m_engine; }
    TAudioOut* AudioOut() { return m_audioOut.get(); }
    const QStringList& Arguments() const { return m_arguments; }

    // Minimum window size and the frame around the display area.
    static constexpr int MinWidth = 520;
    static constexpr int MinHeight = 481;
    static constexpr int FrameWidth = 8;
    static constexpr int FrameHeight = 112;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // IPlaybackView: what the engine shows through the window.
    void ShowPicture(std::shared_ptr<const TBitmap24> picture) override;
    void ClearPicture() override;
    void ShowSmallPicture(std::shared_ptr<const TBitmap24> picture) override;
    void ShowSmallVideo(bool show) override;
    void ShowTimeText(const std::string& text) override;
    void SetPlaybarMaximum(int32_t maximum) override;
    void SetPlaybarPosition(int32_t index) override;
    TPlaybarMetrics PlaybarMetrics() const override;
    void ShowOSD(const std::string& text) override;
    void SetPlayButtonToggle(bool playing) override;

    void CreateControls();
    void LayoutBars();
    void FormShow();
    void tmrFileOpenTimer();
    void RecordingOpened(const std::string& path);
    void ApplyLanguageTexts();
    void DropFiles(const QStringList& paths);
    void ShowError(uint8_t key);

    struct TAnchored {
        QWidget* Control;
        QRect Design;
        unsigned Anchors;
    };
    std::vector<TAnchored> m_topItems;
    std::vector<TAnchored> m_controlItems;

    QStringList m_arguments;
    std::unique_ptr<TReadMan> m_reader;
    std::unique_ptr<TAudioOut> m_audioOut;
    std::unique_ptr<IAudioPacketSink> m_audioSink;
    std::unique_ptr<TPlaybackEngine> m_engine;
    std::unique_ptr<TQtMessageWindow> m_messageWindow;
    bool m_shown = false;
    bool m_tornDown = false;
    // The controls that move the window when pressed.
    QList<QWidget*> m_moveHandles;
};

} // namespace qrv
