#include "UnitMain.h"

#include "Bitmap24.h"
#include "MsgBoxExUnit.h"
#include "MultiButton_QRV.h"
#include "PlaybackEngine.h"
#include "Skin.h"
#include "SkinSlider.h"
#include "SystemFont.h"
#include "UnitAudioOut.h"
#include "UnitLanguage.h"
#include "UnitPassword.h"
#include "UnitRegMan.h"
#include "UnitSmallVideo.h"
#include "HeaderTextCodec.h"
#include "AuthorizeApplication.h"
#include "SingleInstance.h"
#include "TQtMessageWindow.h"
#include "UnitFileType.h"
#include "_QRV_Utils.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QWindow>

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace qrv {

namespace {

// Anchors of a control inside its bar: the edges it keeps its distance to.
constexpr unsigned akLeft = 1, akTop = 2, akRight = 4, akBottom = 8;

// Design sizes of the two bars.
constexpr int DesignWidth = 520;
constexpr int TopHeight = 27;
constexpr int ControlHeight = 85;
constexpr int BorderWidth = 4;

// The one-shot delay before the command line's recording is opened, in ms.
constexpr int FileOpenDelayMs = 100;
// How long the on-screen display stays, in ms.
constexpr int OsdShowMs = 2000;

const QColor OsdFront(255, 212, 152);

QString Text(TLangMsg key) { return QString::fromStdString(LangText(key)); }

// The user's documents folder (GetMyDocumentsPath), or the home folder when that is not a
// folder that exists.
QString DocumentsFolder()
{
    const QString documents = QString::fromStdString(GetMyDocumentsPath());
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

// The window-position store: an INI file named after the program,
//
//   $XDG_CONFIG_HOME/QRV/BrisaPlayer.INI     (~/.config/QRV/ when the variable is unset)
//
//   [frmBrisaMain]
//   Left=<x of the window's top-left corner, in screen pixels>
//   Top=<y of the same corner>
//
// Only the position is kept: the size always follows the video. Empty path when there is no
// usable configuration folder.
QString FormStoragePath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    QString folder;
    if (config != nullptr && config[0] == '/')
        folder = QString::fromLocal8Bit(config);
    else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        folder = QString::fromLocal8Bit(home) + QStringLiteral("/.config");
    if (folder.isEmpty())
        return {};
    return folder + QStringLiteral("/QRV/BrisaPlayer.INI");
}
constexpr const char* FormStorageSection = "frmBrisaMain";

// True when the player can make sound: a test or the demo chose SDL's driver, or SDL finds
// an output device on this machine (through PipeWire, PulseAudio or ALSA). Without one the
// player plays pictures only and never starts the mixer.
bool DefaultSoundOutputExists()
{
    const char* driver = std::getenv("SDL_AUDIODRIVER");
    if (driver != nullptr && *driver != '\0')
        return true;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return false;
    const int devices = SDL_GetNumAudioDevices(0);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return devices > 0;
}

QString FileNameOnly(const std::string& path)
{
    return QFileInfo(QString::fromStdString(path)).fileName();
}

// The hourglass for the life of the object, restored however the scope ends.
class TWaitCursor {
public:
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

} // namespace

std::optional<QRect> FitWindowRect(QRect window, QRect workArea)
{
    if (workArea.width() < window.width() || workArea.height() < window.height())
        return std::nullopt;
    // Edges of the work area, not its size: on a monitor that does not start at (0, 0), or
    // under a panel at the top, comparing with the size would push the window off the
    // monitor or leave it hanging below the work area.
    const int workRight = workArea.x() + workArea.width();
    const int workBottom = workArea.y() + workArea.height();
    if (window.x() + window.width() > workRight)
        window.moveLeft(workRight - window.width());
    if (window.y() + window.height() > workBottom)
        window.moveTop(workBottom - window.height());
    if (window.x() < workArea.x())
        window.moveLeft(workArea.x());
    if (window.y() < workArea.y())
        window.moveTop(workArea.y());
    return window;
}

QPoint SmallVideoPlace(QRect mainWindow, QSize smallWindow, int workWidth)
{
    int x = mainWindow.x() + mainWindow.width();
    if (x + smallWindow.width() >= workWidth)
        x = mainWindow.x() - smallWindow.width() < 0 ? mainWindow.x() : mainWindow.x() - smallWindow.width();
    return {x, mainWindow.y()};
}

// ---- TSkinImage, TDisplayPanel ------------------------------------------------------------

TSkinImage::TSkinImage(QWidget* parent, const QPixmap& picture, bool stretch)
    : QWidget(parent), m_picture(picture), m_stretch(stretch)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (!stretch && !picture.isNull())
        resize(picture.size());
}

void TSkinImage::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (m_stretch)
        painter.drawPixmap(rect(), m_picture);
    else
        painter.drawPixmap(0, 0, m_picture);
}

TDisplayPanel::TDisplayPanel(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TDisplayPanel::SetPicture(QImage picture, QRect place)
{
    const QRect old = m_picture.isNull() ? QRect() : m_place;
    m_picture = std::move(picture);
    m_place = m_picture.isNull() ? QRect() : place;
    if (!m_picture.isNull())
        ++m_shown;
    // Only what changed is repainted: the picture's place, and the old place when it moved.
    if (!m_place.isNull())
        update(m_place);
    if (!old.isNull() && old != m_place)
        update(old);
}

void TDisplayPanel::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect dirty = event->rect();
    if (m_picture.isNull() || !m_place.contains(dirty)) {
        painter.fillRect(dirty, SkinColour::Display);
    }
    if (!m_picture.isNull()) {
        // Scaled pictures are smoothed; a picture at its own size is copied as it is.
        if (m_place.size() != m_picture.size())
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(m_place, m_picture);
        m_painted = m_shown;
    }
}

void TDisplayPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (OnResized)
        OnResized(*this);
}

// ---- the audio server as the engine's sink ----------------------------------------------------

namespace {

class TAudioOutSink final : public IAudioPacketSink {
public:
    explicit TAudioOutSink(TAudioOut& out) : m_out(out) {}
    bool SendPacket(const uint8_t* buffer, int32_t count, int32_t channel) override
    {
        return m_out.SendPacket(buffer, count, channel);
    }

private:
    TAudioOut& m_out;
};

} // namespace

// ---- TfrmBrisaMain ----------------------------------------------------------------------------

TfrmBrisaMain::TfrmBrisaMain(QStringList arguments, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_arguments(std::move(arguments))
{
    MessageBox = [](QWidget* owner, const QString& text, const QString& caption, unsigned flags) {
        return MsgBoxEx(owner, text, caption, flags);
    };
    SoundOutputExists = DefaultSoundOutputExists;

    // Creation, in this order: the drop target, the program's folder, the firewall list, the
    // file type, the colours, the settings, the reader and the engine with its worker.
    setAcceptDrops(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(MinWidth, MinHeight);
    setWindowIcon(QIcon(SkinPicture(QStringLiteral("icon"))));

    const std::string exe = GetExecutablePath();
    FExeDir = std::filesystem::path(exe).parent_path().string() + "/";

    AuthorizeApplication("Brisa Player Audio Output Process", FExeDir + "CXMixer");
    AuthorizeApplication("Brisa Player", exe);
    // The file type never stops the start.
    try {
        CheckFileAssociation(exe, FExeDir);
    } catch (...) {
    }
    // Qt paints every widget double buffered already; the colours are set with the panels.

    // Settings: the folder of the last recording and the small window option.
    TRegMan settings;
    settings.Load();
    FFileName = settings.FilePath;

    try {
        m_audioOut = std::make_unique<TAudioOut>();
    } catch (const std::exception&) {
        m_audioOut.reset(); // no hidden window: the player runs without sound
    }

    m_reader = std::make_unique<TReadMan>();
    if (m_audioOut)
        m_audioSink = std::make_unique<TAudioOutSink>(*m_audioOut);
    // Owned by the main window: it goes away with it and never keeps the program running.
    frmSmallVideo = new TfrmSmallVideo(this);
    CreateControls();
    // The worker's records come to this window's thread as queued calls.
    m_engine = std::make_unique<TPlaybackEngine>(*m_reader, static_cast<IPlaybackView&>(*this), m_audioSink.get(),
                                                 [this](std::function<void()> task) {
                                                     QMetaObject::invokeMethod(this, std::move(task),
                                                                               Qt::QueuedConnection);
                                                 });
    m_engine->SetSmallVideoOn(settings.VisibleSmallVideo);

    tmrDispODS = new QTimer(this);
    tmrDispODS->setInterval(OsdShowMs);
    tmrDispODS->setSingleShot(true);
    connect(tmrDispODS, &QTimer::timeout, this, [this] { HideOSD(); });

    tmrFileOpen = new QTimer(this);
    tmrFileOpen->setInterval(FileOpenDelayMs);
    tmrFileOpen->setSingleShot(true);
    connect(tmrFileOpen, &QTimer::timeout, this, [this] { tmrFileOpenTimer(); });

    // The hand-over's receiving end: a second start posts WM_OPENREQUEST here.
    m_messageWindow = std::make_unique<TQtMessageWindow>([this](uint32_t msg, uint32_t, uint32_t) {
        if (msg == WM_OPENREQUEST)
            QTimer::singleShot(0, this, [this] { WMOpenRequest(); });
    });

    // The first showing sizes the window. It starts centred on the screen the first time, and
    // where it was left every later time.
    resize(MinWidth, MinHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect work = screen->availableGeometry();
        move(work.x() + (work.width() - MinWidth) / 2, work.y() + (work.height() - MinHeight) / 2);
    }
    if (const QString storage = FormStoragePath(); !storage.isEmpty() && QFileInfo::exists(storage)) {
        QSettings ini(storage, QSettings::IniFormat);
        ini.beginGroup(QLatin1String(FormStorageSection));
        bool leftOk = false;
        bool topOk = false;
        const int left = ini.value(QStringLiteral("Left")).toInt(&leftOk);
        const int top = ini.value(QStringLiteral("Top")).toInt(&topOk);
        if (leftOk && topOk)
            move(left, top);
    }
}

TfrmBrisaMain::~TfrmBrisaMain()
{
    FormDestroy();
}

uint32_t TfrmBrisaMain::MessageHandle() const
{
    return m_messageWindow ? m_messageWindow->Handle() : 0;
}

void TfrmBrisaMain::FormDestroy()
{
    if (m_tornDown)
        return;
    m_tornDown = true;
    tmrFileOpen->stop();
    // Stop first, then the worker, then the reader: the worker must not look at records the
    // reader is taking away.
    bool smallVideoOn = true;
    try {
        smallVideoOn = m_engine->SmallVideoOn();
        m_engine->Stop();
    } catch (...) {
    }
    if (m_audioOut && m_audioOut->Active()) {
        try {
            m_audioOut->SetActive(false);
        } catch (...) {
        }
    }
    try {
        m_engine.reset();
    } catch (...) {
    }
    // Records the worker queued for this window before it ended must not run any more.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    try {
        if (m_reader->IsOpen())
            m_reader->Close();
    } catch (...) {
    }
    try {
        TRegMan settings;
        settings.Load();
        settings.VisibleSmallVideo = smallVideoOn;
        const std::filesystem::path file(FFileName);
        if (!FFileName.empty() && FFileName.back() != '/')
            settings.FilePath = file.parent_path().string() + "/";
        else
            settings.FilePath = FFileName;
        settings.Save();
    } catch (...) {
    }
    try {
        // The position of the normal window, also when the window is maximised now.
        const QPoint where = FWindowMode == wmNormal || FWindowMode == wmVideoSize || FNormalRect.isNull()
                                 ? pos()
                                 : FNormalRect.topLeft();
        if (const QString storage = FormStoragePath(); !storage.isEmpty()) {
            QSettings ini(storage, QSettings::IniFormat);
            ini.beginGroup(QLatin1String(FormStorageSection));
            ini.setValue(QStringLiteral("Left"), where.x());
            ini.setValue(QStringLiteral("Top"), where.y());
            ini.endGroup();
            ini.sync();
        }
    } catch (...) {
    }
}

void TfrmBrisaMain::WMQueryEndSession()
{
    // The system-volume object would be freed here first; the player has none yet.
    FormDestroy();
    close();
}

void TfrmBrisaMain::WMOpenRequest()
{
    if (m_tornDown)
        return;
    TRegMan settings;
    const std::string path = settings.GetOpenFilePath();
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec))
        return;
    if (m_engine->PlayState() != psStopped && m_engine->PlayState() != psNone)
        Stop();
    OpenRecording(path);
    Play();
}

void TfrmBrisaMain::CreateControls()
{
    pnlMain = new QWidget(this);
    pnlMain->setAutoFillBackground(true);
    QPalette black = pnlMain->palette();
    black.setColor(QPalette::Window, Qt::black);
    pnlMain->setPalette(black);

    // Title bar.
    pnlTop = new QWidget(pnlMain);
    auto* titleLeft = new TSkinImage(pnlTop, SkinPicture(QStringLiteral("title_left")), false);
    auto* titleMiddle = new TSkinImage(pnlTop, SkinPicture(QStringLiteral("title_middle")), true);
    auto* titleRight = new TSkinImage(pnlTop, SkinPicture(QStringLiteral("title_right")), false);
    lblTitle = new QLabel(pnlTop);
    lblTitle->setAlignment(Qt::AlignCenter);
    lblTitle->setAttribute(Qt::WA_TranslucentBackground);
    {
        QPalette p = lblTitle->palette();
        p.setColor(QPalette::WindowText, SkinColour::TitleText);
        lblTitle->setPalette(p);
        QFont f = lblTitle->font();
        f.setPixelSize(12);
        f.setBold(true);
        lblTitle->setFont(f);
    }
    mbMinimize = new TMultiButton_QRV(pnlTop);
    LoadButtonFaces(*mbMinimize, 1, QStringLiteral("minimize"));
    mbMaximize = new TMultiButton_QRV(pnlTop);
    LoadButtonFaces(*mbMaximize, 1, QStringLiteral("maximize"));
    LoadButtonFaces(*mbMaximize, 2, QStringLiteral("restore"));
    mbClose = new TMultiButton_QRV(pnlTop);
    LoadButtonFaces(*mbClose, 1, QStringLiteral("close"));
    m_topItems = {
        {titleLeft, {0, 0, 79, 27}, akLeft},
        {titleMiddle, {79, 0, 345, 27}, akLeft | akRight},
        {titleRight, {424, 0, 96, 27}, akRight},
        {lblTitle, {85, 5, 337, 16}, akLeft | akTop | akRight},
        {mbMinimize, {424, 0, 25, 18}, akTop | akRight},
        {mbMaximize, {449, 0, 25, 18}, akTop | akRight},
        {mbClose, {474, 0, 43, 18}, akTop | akRight},
    };

    // Side borders.
    pnlLeft = new TSkinImage(pnlMain, SkinPicture(QStringLiteral("border_left")), true);
    pnlRight = new TSkinImage(pnlMain, SkinPicture(QStringLiteral("border_right")), true);

    // Control bar.
    pnlControl = new QWidget(pnlMain);
    auto* controlLeft = new TSkinImage(pnlControl, SkinPicture(QStringLiteral("control_left")), false);
    auto* controlMiddle = new TSkinImage(pnlControl, SkinPicture(QStringLiteral("control_middle")), true);
    auto* controlRight = new TSkinImage(pnlControl, SkinPicture(QStringLiteral("control_right")), false);
    auto* decoration = new TSkinImage(pnlControl, SkinPicture(QStringLiteral("decoration")), false);
    sldPlaybar = new TSkinSlider(pnlControl);
    sldPlaybar->SetThumb(SkinPicture(QStringLiteral("thumb_playbar_normal")),
                         SkinPicture(QStringLiteral("thumb_playbar_over")),
                         SkinPicture(QStringLiteral("thumb_playbar_disabled")));
    sldPlaybar->SetMax(0);
    sldPlaybar->setEnabled(false); // until the first recording opens
    mbMute = new TMultiButton_QRV(pnlControl);
    LoadButtonFaces(*mbMute, 1, QStringLiteral("mute"));
    LoadButtonFaces(*mbMute, 2, QStringLiteral("muted"));
    sldVolbar = new TSkinSlider(pnlControl);
    sldVolbar->SetThumb(SkinPicture(QStringLiteral("thumb_volume_normal")),
                        SkinPicture(QStringLiteral("thumb_volume_over")),
                        SkinPicture(QStringLiteral("thumb_volume_disabled")));
    sldVolbar->RulerHeight = 3;
    sldVolbar->SetMax(100);
    sldVolbar->SetPosition(0);
    sldVolbar->setToolTip(QStringLiteral("0%"));
    mbPlay = new TMultiButton_QRV(pnlControl);
    LoadButtonFaces(*mbPlay, 1, QStringLiteral("play"));
    LoadButtonFaces(*mbPlay, 2, QStringLiteral("pause"));
    mbStop = new TMultiButton_QRV(pnlControl);
    LoadButtonFaces(*mbStop, 1, QStringLiteral("stop"));
    lblTime = new QLabel(QStringLiteral("00:00:00 / 00:00:00"), pnlControl);
    lblTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblTime->setAttribute(Qt::WA_TranslucentBackground);
    {
        QPalette p = lblTime->palette();
        p.setColor(QPalette::WindowText, SkinColour::TimeText);
        lblTime->setPalette(p);
        QFont f = lblTime->font();
        f.setPixelSize(11);
        lblTime->setFont(f);
    }
    mbOpen = new TMultiButton_QRV(pnlControl);
    LoadButtonFaces(*mbOpen, 1, QStringLiteral("open"));
    mbOpened = new TMultiButton_QRV(pnlControl);
    LoadButtonFaces(*mbOpened, 1, QStringLiteral("recent"));
    mbFunction = new TMultiButton_QRV(pnlControl);
    LoadButtonFaces(*mbFunction, 1, QStringLiteral("function"));
    imgResize = new TSkinImage(pnlControl, SkinPicture(QStringLiteral("grip")), false);
    imgResize->setCursor(Qt::SizeFDiagCursor);
    m_controlItems = {
        {controlLeft, {0, 0, 10, 85}, akLeft | akBottom},
        {controlMiddle, {10, 0, 500, 85}, akLeft | akTop | akRight | akBottom},
        {controlRight, {510, 0, 10, 85}, akRight},
        {sldPlaybar, {17, 11, 355, 12}, akLeft | akTop | akRight},
        {mbMute, {389, 10, 17, 17}, akTop | akRight},
        {sldVolbar, {409, 12, 93, 12}, akTop | akRight},
        {mbPlay, {12, 25, 53, 53}, akLeft | akTop},
        {mbStop, {66, 30, 41, 42}, akLeft | akTop},
        {lblTime, {258, 31, 112, 14}, akRight},
        {mbOpen, {384, 30, 41, 42}, akTop | akRight},
        {mbOpened, {426, 30, 41, 42}, akTop | akRight | akBottom},
        {mbFunction, {467, 30, 41, 42}, akTop | akRight},
        {decoration, {212, 64, 96, 15}, akTop},
        {imgResize, {507, 71, 12, 12}, akRight | akBottom},
    };

    // Display area and its on-screen display: the front label over two black shadows.
    pnlDisp = new TDisplayPanel(pnlMain);
    pnlDisp->OnResized = [this](TDisplayPanel&) {
        HideOSD();
        if (m_engine)
            m_engine->DisplayResized();
    };
    lblOSD3 = new QLabel(pnlDisp);
    lblOSD2 = new QLabel(pnlDisp);
    lblOSD1 = new QLabel(pnlDisp);
    for (QLabel* label : {lblOSD1, lblOSD2, lblOSD3}) {
        label->setAttribute(Qt::WA_TranslucentBackground);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        QFont f(QStringLiteral("Tahoma"));
        f.setBold(true);
        f.setPointSize(9);
        label->setFont(f);
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, label == lblOSD1 ? OsdFront : QColor(Qt::black));
        label->setPalette(p);
        label->hide();
    }
    lblOSD1->move(16, 8);
    lblOSD2->move(16, 18);
    lblOSD3->move(16, 29);

    // Input: the bars and the picture move the window, the grip resizes it.
    m_moveHandles = {titleLeft, titleMiddle, titleRight, lblTitle, controlLeft, controlMiddle, controlRight,
                     decoration, pnlDisp};
    for (QWidget* handle : m_moveHandles)
        handle->installEventFilter(this);
    imgResize->installEventFilter(this);

    mbPlay->OnClick = [this](TMultiButton_QRV&) { mbPlayClick(); };
    mbStop->OnClick = [this](TMultiButton_QRV&) { mbStopClick(); };
    mbOpen->OnClick = [this](TMultiButton_QRV&) { OpenFileDialog(); };
    mbMinimize->OnClick = [this](TMultiButton_QRV&) { showMinimized(); };
    mbClose->OnClick = [this](TMultiButton_QRV&) { close(); };

    sldPlaybar->OnBeginChange = [this](TSkinSlider&) {
        if (m_engine)
            m_engine->PlaybarBeginChange();
    };
    sldPlaybar->OnChanged = [this](TSkinSlider& s) {
        if (m_engine)
            m_engine->PlaybarChanged(s.Position());
    };
    sldPlaybar->OnStopChanged = [this](TSkinSlider& s) {
        if (m_engine)
            m_engine->PlaybarStopChanged(s.Position());
    };

    ApplyLanguageTexts();
}

void TfrmBrisaMain::ApplyLanguageTexts()
{
    setWindowTitle(Text(MLMSG_MAIN_00));
    mbPlay->SetHint(Text(MLMSG_HINT_01));
    mbMute->SetHint(Text(MLMSG_HINT_02));
    mbStop->SetHint(Text(MLMSG_HINT_03));
    mbOpen->SetHint(Text(MLMSG_HINT_04));
    mbOpened->SetHint(Text(MLMSG_HINT_05));
    mbFunction->SetHint(Text(MLMSG_MAIN_06));
}

void TfrmBrisaMain::LayoutBars()
{
    const int w = width();
    const int h = height();
    pnlMain->setGeometry(0, 0, w, h);
    const bool bars = FWindowMode != wmFullScreen;
    const int top = bars ? TopHeight : 0;
    const int bottom = bars ? ControlHeight : 0;
    const int side = bars ? BorderWidth : 0;
    pnlTop->setGeometry(0, 0, w, TopHeight);
    pnlControl->setGeometry(0, h - ControlHeight, w, ControlHeight);
    pnlLeft->setGeometry(0, top, BorderWidth, h - top - bottom);
    pnlRight->setGeometry(w - BorderWidth, top, BorderWidth, h - top - bottom);
    pnlDisp->setGeometry(side, top, w - 2 * side, h - top - bottom);

    auto place = [](const std::vector<TAnchored>& items, QSize size, QSize design) {
        const int dw = size.width() - design.width();
        const int dh = size.height() - design.height();
        for (const TAnchored& item : items) {
            QRect r = item.Design;
            if ((item.Anchors & akLeft) && (item.Anchors & akRight))
                r.setWidth(r.width() + dw);
            else if (item.Anchors & akRight)
                r.moveLeft(r.x() + dw);
            else if (!(item.Anchors & akLeft))
                r.moveLeft((r.x() + r.width() / 2) * size.width() / design.width() - r.width() / 2);
            if ((item.Anchors & akTop) && (item.Anchors & akBottom))
                r.setHeight(r.height() + dh);
            else if (item.Anchors & akBottom)
                r.moveTop(r.y() + dh);
            item.Control->setGeometry(r);
        }
    };
    place(m_topItems, pnlTop->size(), {DesignWidth, TopHeight});
    place(m_controlItems, pnlControl->size(), {DesignWidth, ControlHeight});
}

void TfrmBrisaMain::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    LayoutBars();
}

void TfrmBrisaMain::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    // A docked small window follows the main window.
    if (frmSmallVideo == nullptr || !frmSmallVideo->isVisible() || !frmSmallVideo->FDocked)
        return;
    frmSmallVideo->move(x() + frmSmallVideo->FDockX, y() + frmSmallVideo->FDockY);
}

void TfrmBrisaMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        FormShow();
    }
}

// The first showing: fonts and language, the sound, the window's size, the command line.
void TfrmBrisaMain::FormShow()
{
    ApplySystemFont(this);
    frmSmallVideo->FMainHandle = this;
    // A second start posts its hand-over to this message window.
    TRegMan settings;
    if (MessageHandle() != 0)
        settings.SetOpenHandle(static_cast<int32_t>(MessageHandle()));

    lblOSD1->move(15, 10);
    lblOSD2->move(16, 11);
    lblOSD3->move(18, 13);
    for (QLabel* label : {lblOSD1, lblOSD2, lblOSD3}) {
        QFont f = label->font();
        f.setFamily(QStringLiteral("Tahoma"));
        label->setFont(f);
    }

    settings.Load();
    int32_t language = settings.Language;
    if (language < 1)
        language = GetSystemLanguage();
    LoadLanguage(language);
    ApplyLanguageTexts();

    if (m_audioOut && SoundOutputExists && SoundOutputExists()) {
        try {
            m_audioOut->SetActive(true);
        } catch (...) {
        }
    }

    FVideoWidth = 512;
    FVideoHeight = 369;
    SetVideoClientSize(FVideoWidth, FVideoHeight, true);
    FPrevWindowMode = FWindowMode = wmNormal;
    if (!m_arguments.isEmpty())
        tmrFileOpen->start();
}

void TfrmBrisaMain::tmrFileOpenTimer()
{
    tmrFileOpen->stop();
    if (m_arguments.isEmpty() || m_tornDown)
        return;
    const std::string path = m_arguments.front().toStdString();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return;
    OpenRecording(path);
    Play();
}

void TfrmBrisaMain::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends the program: nothing may show the small window again.
    QWidget::closeEvent(event);
    if (!event->isAccepted())
        return;
    HideOSD();
    if (!m_tornDown)
        Stop();
    frmSmallVideo->hide();
}

// ---- window size ---------------------------------------------------------------------------

void TfrmBrisaMain::SetVideoClientSize(int width, int height, bool fit)
{
    const int w = std::max(width + FrameWidth, MinWidth);
    const int h = std::max(height + FrameHeight, MinHeight);
    resize(w, h);
    FWindowMode = wmNormal;
    if (fit) {
        QScreen* screen = QGuiApplication::screenAt(frameGeometry().center());
        if (screen == nullptr)
            screen = QGuiApplication::primaryScreen();
        if (screen != nullptr) {
            const std::optional<QRect> placed = FitWindowRect(QRect(pos(), QSize(w, h)), screen->availableGeometry());
            if (!placed)
                SetWindowMode(wmMaximized);
            else
                move(placed->topLeft());
        }
    }
    FNormalRect = geometry();
}

void TfrmBrisaMain::SetWindowMode(TWindowMode mode)
{
    if (mode == FWindowMode)
        return;
    FPrevWindowMode = FWindowMode;
    imgResize->setVisible(mode != wmFullScreen);
    switch (mode) {
    case wmVideoSize:
        mbMaximize->SetToggle(false);
        FWindowMode = mode;
        SetVideoClientSize(FVideoWidth, FVideoHeight, true);
        break;
    case wmNormal:
        mbMaximize->SetToggle(false);
        setGeometry(FNormalRect);
        break;
    case wmMaximized: {
        mbMaximize->SetToggle(true);
        if (FWindowMode != wmFullScreen)
            FNormalRect = geometry();
        QScreen* screen = QGuiApplication::screenAt(frameGeometry().center());
        if (screen == nullptr)
            screen = QGuiApplication::primaryScreen();
        if (screen != nullptr)
            setGeometry(QRect(screen->geometry().topLeft(), screen->availableGeometry().size()));
        break;
    }
    case wmFullScreen:
        // Full screen comes with the keyboard commands of a later change.
        break;
    }
    if (m_engine)
        m_engine->RequestResync();
    FWindowMode = mode;
}

// ---- small picture window -------------------------------------------------------------------

void TfrmBrisaMain::UpdateSmallVideo(bool show)
{
    ShowSmallVideo(show && m_engine && m_engine->SmallVideoOn() && m_engine->PlayState() == psPlaying);
}

void TfrmBrisaMain::ShowSmallVideo(bool show)
{
    if (frmSmallVideo == nullptr)
        return;
    if (show) {
        if (frmSmallVideo->isVisible())
            return;
        if (!FSmallVideoPlaced || frmSmallVideo->FDocked)
            PlaceSmallVideo();
        frmSmallVideo->show();
        return;
    }
    if (frmSmallVideo->isVisible())
        frmSmallVideo->hide();
}

void TfrmBrisaMain::PlaceSmallVideo()
{
    QScreen* primary = QGuiApplication::primaryScreen();
    const int workWidth = primary != nullptr ? primary->availableGeometry().width() : 0;
    frmSmallVideo->move(SmallVideoPlace(frameGeometry(), frmSmallVideo->size(), workWidth));
    FSmallVideoPlaced = true;
}

// ---- on-screen display ----------------------------------------------------------------------

void TfrmBrisaMain::ShowOSD(const QString& text)
{
    tmrDispODS->stop();
    const int points = std::max(pnlDisp->width() / 80, 9);
    for (QLabel* label : {lblOSD1, lblOSD2, lblOSD3}) {
        QFont f = label->font();
        f.setPointSize(points);
        label->setFont(f);
        label->setText(text + QLatin1Char(' '));
        label->adjustSize();
        label->show();
    }
    lblOSD1->raise();
    tmrDispODS->start();
}

void TfrmBrisaMain::HideOSD()
{
    tmrDispODS->stop();
    for (QLabel* label : {lblOSD1, lblOSD2, lblOSD3}) {
        label->clear();
        label->hide();
    }
}

// ---- commands ---------------------------------------------------------------------------------

void TfrmBrisaMain::mbPlayClick()
{
    if (m_tornDown)
        return;
    if (mbPlay->Toggle()) {
        Pause();
        return;
    }
    if (IsFileOpen() || OpenFileDialog())
        Play();
}

void TfrmBrisaMain::mbStopClick()
{
    HideOSD();
    Stop();
}

// After the teardown the engine is gone and the commands do nothing.
void TfrmBrisaMain::Play()
{
    if (m_engine)
        m_engine->Play();
}
void TfrmBrisaMain::Pause()
{
    if (m_engine)
        m_engine->Pause();
}
void TfrmBrisaMain::Stop()
{
    if (m_engine)
        m_engine->Stop();
}

bool TfrmBrisaMain::IsFileOpen() const { return m_reader->IsOpen(); }

// ---- opening ----------------------------------------------------------------------------------

void TfrmBrisaMain::ShowError(uint8_t key)
{
    if (MessageBox)
        MessageBox(this, Text(static_cast<TLangMsg>(key)), Text(MLMSG_ERROR), MB_ICONERROR | MB_SETFOREGROUND);
}

void TfrmBrisaMain::OpenRecording(const std::string& path)
{
    if (m_tornDown)
        return;
    TWaitCursor hourglass;
    if (m_reader->IsOpen() && path == m_reader->FileName())
        return;
    RecordingHeader header{};
    // A file that exists but cannot be read ends the open without a message.
    if (!TReadMan::ReadHeader(path, header))
        return;
    if (header.HeaderMagic != HeaderMagicValue || header.TrailerMagic != TrailerMagicValue) {
        ShowError(MLMSG_MAIN_01);
        return;
    }
    if (header.HeaderVersion != PlayableHeaderVersion) {
        ShowError(MLMSG_MAIN_09);
        return;
    }
    if (!CheckPassword(header)) {
        ShowError(MLMSG_MAIN_02);
        return;
    }
    if (m_engine->PlayState() != psStopped && m_engine->PlayState() != psNone)
        Stop();
    if (!m_reader->Open(path)) {
        ShowError(MLMSG_MAIN_01);
        return;
    }
    FFileName = path;
    RecordingOpened(path);
}

bool TfrmBrisaMain::CheckPassword(const RecordingHeader& header)
{
    const std::string stored(header.PasswordText.Text());
    if (stored.empty())
        return true;
    const std::string password = DecodePassword(stored);
    TfrmPassword dialog(this);
    dialog.Caption = Text(MLMSG_CONFIRMATION);
    dialog.Prompt = Text(MLMSG_MAIN_03);
    // The hourglass must not hide the pointer while the user types.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int result = dialog.exec();
    QApplication::restoreOverrideCursor();
    return result == QDialog::Accepted && dialog.Result() == password;
}

void TfrmBrisaMain::RecordingOpened(const std::string& path)
{
    const RecordingHeader& header = m_reader->Header();
    sldPlaybar->setEnabled(true); // never disabled again
    // Index 0, time 0, settings 0, the time label, the display cleared, the small window
    // hidden, the playbar's maximum and its thumb at 0.
    m_engine->RecordingOpened(header.RecordingType != static_cast<uint32_t>(TRecordingType::AudioOnly));

    const QString name = FileNameOnly(path);
    setWindowTitle(name);
    lblTitle->setText(name);

    TRegMan settings;
    settings.LoadRecent();
    settings.RemoveRecent(path);
    settings.AddRecent(path);
    settings.SaveRecent();

    FSmallVideoPlaced = false;
    FVideoWidth = static_cast<int>(header.VideoWidth);
    FVideoHeight = static_cast<int>(header.VideoHeight);
    SetVideoClientSize(FVideoWidth, FVideoHeight, true);
}

QString TfrmBrisaMain::OpenDialogFolder() const
{
    QString dir = QString::fromStdString(FFileName);
    const int slash = dir.lastIndexOf(QLatin1Char('/'));
    dir = slash < 0 ? QString() : dir.left(slash == 0 ? 1 : slash);
    if (!dir.isEmpty() && QFileInfo(dir).isDir())
        return dir;
    return DocumentsFolder();
}

bool TfrmBrisaMain::OpenFileDialog()
{
    const QString chosen = QFileDialog::getOpenFileName(this, Text(MLMSG_MAIN_05), OpenDialogFolder(),
                                                        QStringLiteral("QRV RecordFile (*.crd)"));
    if (chosen.isEmpty())
        return false;
    OpenRecording(chosen.toStdString());
    Play();
    return true;
}

void TfrmBrisaMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TfrmBrisaMain::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    event->acceptProposedAction();
    // Opening shows dialogs; let the drag end first.
    QTimer::singleShot(0, this, [this, paths] { DropFiles(paths); });
}

void TfrmBrisaMain::DropFiles(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    try {
        OpenRecording(paths.back().toStdString());
        Play();
    } catch (...) {
    }
}

// ---- what the engine shows ------------------------------------------------------------------

void TfrmBrisaMain::ShowPicture(std::shared_ptr<const TBitmap24> picture)
{
    if (!picture)
        return;
    const TFitRect fit = FitPicture(pnlDisp->width(), pnlDisp->height(), picture->Width(), picture->Height());
    pnlDisp->SetPicture(ToQImage(*picture), QRect(fit.Left, fit.Top, fit.Width, fit.Height));
}

void TfrmBrisaMain::ClearPicture()
{
    pnlDisp->SetPicture({}, {});
}

void TfrmBrisaMain::ShowSmallPicture(std::shared_ptr<const TBitmap24> picture)
{
    if (picture)
        frmSmallVideo->ShowPicture(*picture);
}

void TfrmBrisaMain::ShowTimeText(const std::string& text)
{
    lblTime->setText(QString::fromStdString(text));
}

void TfrmBrisaMain::SetPlaybarMaximum(int32_t maximum)
{
    sldPlaybar->SetMax(maximum);
}

void TfrmBrisaMain::SetPlaybarPosition(int32_t index)
{
    sldPlaybar->SetPosition(index);
}

TPlaybarMetrics TfrmBrisaMain::PlaybarMetrics() const
{
    return {sldPlaybar->width(), sldPlaybar->ThumbWidth()};
}

void TfrmBrisaMain::ShowOSD(const std::string& text)
{
    ShowOSD(QString::fromStdString(text));
}

void TfrmBrisaMain::SetPlayButtonToggle(bool playing)
{
    mbPlay->SetToggle(playing);
}

// ---- mouse on the frame ---------------------------------------------------------------------

bool TfrmBrisaMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            if (watched == imgResize) {
                if (windowHandle() != nullptr)
                    windowHandle()->startSystemResize(Qt::BottomEdge | Qt::RightEdge);
                return true;
            }
            if (m_moveHandles.contains(static_cast<QWidget*>(watched))) {
                if (FWindowMode != wmMaximized && FWindowMode != wmFullScreen && windowHandle() != nullptr)
                    windowHandle()->startSystemMove();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace qrv
