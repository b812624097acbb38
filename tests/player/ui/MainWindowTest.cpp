#include "UnitMain.h"

#include "MultiButton_QRV.h"
#include "PlaybackEngine.h"
#include "RecordingFixture.h"
#include "Skin.h"
#include "SkinSlider.h"
#include "UnitLanguage.h"
#include "UnitPassword.h"
#include "UnitReadMan.h"
#include "UnitSmallVideo.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace qrv;
using qrv::test::TempFolder;

namespace {

// Writes a recording with crdgen; the options are crdgen's.
std::filesystem::path MakeRecording(const TempFolder& folder, const std::string& name, const std::string& options)
{
    const std::filesystem::path path = folder / name;
    const std::string command =
        std::string(CRDGEN_PATH) + " --seed 7 " + options + " -o '" + path.string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        ADD_FAILURE() << "crdgen failed: " << command;
    return path;
}

QString Q(TLangMsg key) { return QString::fromStdString(LangText(key)); }

struct TMessage {
    QString Text;
    QString Caption;
    unsigned Flags;
};

// A main window with the message boxes recorded instead of shown and no sound.
struct TWindow {
    explicit TWindow(QStringList arguments = {}) : Window(std::move(arguments))
    {
        Window.SoundOutputExists = [] { return false; };
        Window.MessageBox = [this](QWidget*, const QString& text, const QString& caption, unsigned flags) {
            Messages.push_back({text, caption, flags});
            return 1;
        };
    }
    TfrmBrisaMain Window;
    std::vector<TMessage> Messages;
};

// The picture a skin button shows now, to compare with the skin's own picture.
QImage Shown(QWidget& w) { return w.grab().toImage().convertToFormat(QImage::Format_RGB32); }
QImage Skin(const QString& name) { return SkinPicture(name).toImage().convertToFormat(QImage::Format_RGB32); }

QColor PixelOf(const TBitmap24& picture, int x, int y)
{
    const uint8_t* p = picture.Row(y) + 3 * x;
    return QColor(p[2], p[1], p[0]);
}

// Presses the playbar at `fromX`, drags to `toX` and releases there.
void DragPlaybar(TSkinSlider& slider, int fromX, int toX)
{
    const int y = slider.height() / 2;
    auto send = [&](QEvent::Type type, int x, Qt::MouseButtons buttons) {
        QMouseEvent e(type, QPointF(x, y), slider.mapToGlobal(QPointF(x, y)), Qt::LeftButton, buttons,
                      Qt::NoModifier);
        QApplication::sendEvent(&slider, &e);
    };
    send(QEvent::MouseButtonPress, fromX, Qt::LeftButton);
    send(QEvent::MouseMove, (fromX + toX) / 2, Qt::LeftButton);
    send(QEvent::MouseMove, toX, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, toX, Qt::NoButton);
}

class MainWindowTest : public ::testing::Test {
protected:
    TempFolder Folder;
};

// The whole way through: the command line opens and plays; pause, seek, play and stop
// show on the title, the time label, the playbar, the play button and the picture.
TEST_F(MainWindowTest, PlaysTheCommandLineRecordingAndFollowsPauseSeekAndStop)
{
    const auto path = MakeRecording(Folder, "talk.crd", "--duration 6 --size 640x480 --fps 25 --gop 25 --channels 1 --picture-every 1");
    TWindow w({QString::fromStdString(path.string())});
    TfrmBrisaMain& m = w.Window;
    m.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.Engine().PlayState() == psPlaying; }, 5000));
    EXPECT_TRUE(w.Messages.empty());

    // Title, window size around the video, the playbar's range.
    EXPECT_EQ(m.windowTitle(), QStringLiteral("talk.crd"));
    EXPECT_EQ(m.lblTitle->text(), QStringLiteral("talk.crd"));
    EXPECT_EQ(m.size(), QSize(640 + 8, 480 + 112));
    EXPECT_EQ(m.pnlDisp->size(), QSize(640, 480));
    EXPECT_TRUE(m.sldPlaybar->isEnabled());
    EXPECT_EQ(m.sldPlaybar->Max(), m.Reader().Count() - 1);
    const QString total = QString::fromStdString(FormatTime(static_cast<int32_t>(m.Reader().TotalTime())));
    EXPECT_EQ(total, QStringLiteral("00:00:05"));

    // Playing: pause face, the OSD says so, time and thumb move on.
    EXPECT_TRUE(m.mbPlay->Toggle());
    EXPECT_EQ(Shown(*m.mbPlay), Skin(QStringLiteral("pause_normal")));
    EXPECT_TRUE(m.lblOSD1->isVisible());
    EXPECT_EQ(m.lblOSD1->text(), Q(MLMSG_MAIN_13) + QLatin1Char(' '));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.lblTime->text().startsWith(QStringLiteral("00:00:01 / ")); }, 4000));
    EXPECT_EQ(m.lblTime->text(), QStringLiteral("00:00:01 / ") + total);
    EXPECT_GT(m.sldPlaybar->Position(), 0);

    // The slides show in the small window beside the main window, at their own size.
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.frmSmallVideo->isVisible(); }, 2000));
    EXPECT_FALSE(m.frmSmallVideo->Picture().isNull());
    EXPECT_EQ(m.frmSmallVideo->size(), m.frmSmallVideo->Picture().size());
    const int workWidth = QGuiApplication::primaryScreen()->availableGeometry().width();
    EXPECT_EQ(m.frmSmallVideo->pos(), SmallVideoPlace(m.frameGeometry(), m.frmSmallVideo->size(), workWidth));

    // The displayed picture is the decoded one, pixel for pixel, colours the right way round.
    auto last = m.Engine().LastPicture();
    ASSERT_TRUE(last);
    ASSERT_EQ(m.pnlDisp->PicturePlace(), QRect(0, 0, 640, 480));
    const QImage panel = m.pnlDisp->grab().toImage();
    int checked = 0;
    for (int y = 5; y < 480 && checked < 3; y += 37)
        for (int x = 5; x < 640 && checked < 3; x += 41) {
            const QColor want = PixelOf(*last, x, y);
            if (std::abs(want.red() - want.blue()) < 60)
                continue; // only pixels where red and blue differ tell a swap
            EXPECT_EQ(panel.pixelColor(x, y), want) << "at " << x << "," << y;
            ++checked;
        }
    EXPECT_EQ(checked, 3);

    // Pause: play face, the time stands still.
    m.mbPlayClick();
    EXPECT_EQ(m.Engine().PlayState(), psPaused);
    EXPECT_FALSE(m.mbPlay->Toggle());
    EXPECT_EQ(Shown(*m.mbPlay), Skin(QStringLiteral("play_normal")));
    EXPECT_EQ(m.lblOSD1->text(), Q(MLMSG_MAIN_14) + QLatin1Char(' '));
    const QString pausedAt = m.lblTime->text();
    const int pausedIndex = m.sldPlaybar->Position();
    QTest::qWait(300);
    EXPECT_EQ(m.lblTime->text(), pausedAt);
    EXPECT_EQ(m.sldPlaybar->Position(), pausedIndex);

    // Seek while paused to about four fifths: the OSD names the place while dragging, the
    // picture there shows at the release, and playing goes on from there.
    const uint64_t picturesBefore = m.pnlDisp->PicturesShown();
    const int target = m.sldPlaybar->ThumbCentre(m.sldPlaybar->Max() * 4 / 5);
    DragPlaybar(*m.sldPlaybar, target - 30, target);
    const int index = m.sldPlaybar->Position();
    EXPECT_NEAR(index, m.sldPlaybar->Max() * 4 / 5, 2);
    EXPECT_EQ(m.Engine().CurIndex(), index);
    EXPECT_TRUE(m.lblOSD1->text().contains(QString::fromStdString(FormatPercent(index, m.Reader().Count()))))
        << m.lblOSD1->text().toStdString();
    EXPECT_GT(m.pnlDisp->PicturesShown(), picturesBefore) << "the picture at the drop shows while paused";
    EXPECT_EQ(m.Engine().PlayState(), psPaused);

    TRecordInfoView there{};
    m.Reader().GetRecordInfo(index, there);
    m.mbPlayClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.lblTime->text() != pausedAt; }, 2000));
    EXPECT_TRUE(m.lblTime->text().startsWith(QString::fromStdString(FormatTime(static_cast<int32_t>(there.PlayTime)))))
        << m.lblTime->text().toStdString();
    EXPECT_GE(m.sldPlaybar->Position(), index);

    // Stop: rewound, blank display, play face, no OSD.
    m.mbStopClick();
    EXPECT_EQ(m.Engine().PlayState(), psStopped);
    EXPECT_EQ(m.lblTime->text(), QStringLiteral("00:00:00 / ") + total);
    EXPECT_EQ(m.sldPlaybar->Position(), 0);
    EXPECT_FALSE(m.mbPlay->Toggle());
    EXPECT_FALSE(m.lblOSD1->isVisible());
    EXPECT_TRUE(m.pnlDisp->Picture().isNull());
    EXPECT_FALSE(m.frmSmallVideo->isVisible());
    EXPECT_EQ(m.pnlDisp->grab().toImage().pixelColor(320, 240), QColor(39, 39, 39));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainWindowTest, CommandLineFileThatDoesNotExistLeavesTheWindowEmptyAndQuiet)
{
    TWindow w({QString::fromStdString((Folder / "missing.crd").string())});
    w.Window.show();
    QTest::qWait(300);
    EXPECT_FALSE(w.Window.IsFileOpen());
    EXPECT_TRUE(w.Messages.empty());
    EXPECT_FALSE(w.Window.sldPlaybar->isEnabled());
    EXPECT_EQ(w.Window.size(), QSize(520, 481));
    EXPECT_EQ(w.Window.lblTime->text(), QStringLiteral("00:00:00 / 00:00:00"));
}

// Each refused file leaves the recording that plays untouched: still open, still playing,
// not rewound, with one message box saying why.
TEST_F(MainWindowTest, RefusedFilesLeaveThePlayingRecordingAlone)
{
    struct Case {
        const char* Name;
        std::string File;
        const char* Typed; // into the password dialog; none: cancel it
        std::optional<TLangMsg> Message; // none: opened
    };
    const auto playing = MakeRecording(Folder, "playing.crd", "--duration 8 --size 320x240 --channels 1");
    const auto v3 = MakeRecording(Folder, "v3.crd", "--fast --duration 1 --size 320x240 --version 3");
    const auto locked = MakeRecording(Folder, "locked.crd", "--fast --duration 1 --size 320x240 --password s3cret");
    const auto text = Folder / "notes.crd";
    std::ofstream(text) << "not a recording at all, but long enough to be read as a header\n";
    const std::vector<Case> cases = {
        {"the open file again", playing.string(), nullptr, std::nullopt},
        {"version 3", v3.string(), nullptr, MLMSG_MAIN_09},
        {"not a recording", text.string(), nullptr, MLMSG_MAIN_01},
        {"password cancelled", locked.string(), nullptr, MLMSG_MAIN_02},
        {"wrong password", locked.string(), "wrong", MLMSG_MAIN_02},
        {"password differs in case", locked.string(), "S3CRET", MLMSG_MAIN_02},
        {"empty password", locked.string(), "", MLMSG_MAIN_02},
    };

    TWindow w;
    TfrmBrisaMain& m = w.Window;
    m.show();
    m.OpenRecording(playing.string());
    m.Play();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.Engine().CurIndex() > 3; }, 3000));

    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        w.Messages.clear();
        bool dialogSeen = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<TfrmPassword*>(QApplication::activeModalWidget());
            if (dialog == nullptr)
                return;
            dialogSeen = true;
            EXPECT_EQ(dialog->Caption, Q(MLMSG_CONFIRMATION));
            EXPECT_EQ(dialog->Prompt, Q(MLMSG_MAIN_03));
            if (c.Typed == nullptr) {
                dialog->reject();
            } else {
                dialog->edtPassword->setText(QString::fromUtf8(c.Typed));
                dialog->btnOK->click();
            }
        });
        poll.start(10);
        const int32_t indexBefore = m.Engine().CurIndex();
        m.OpenRecording(c.File);
        m.Play(); // every caller plays after the attempt
        poll.stop();

        EXPECT_EQ(dialogSeen, c.File == locked.string());
        EXPECT_EQ(m.Reader().FileName(), playing.string());
        EXPECT_EQ(m.windowTitle(), QStringLiteral("playing.crd"));
        EXPECT_EQ(m.Engine().PlayState(), psPlaying);
        EXPECT_GE(m.Engine().CurIndex(), indexBefore) << "not rewound";
        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the hourglass is gone";
        if (c.Message) {
            ASSERT_EQ(w.Messages.size(), 1u);
            EXPECT_EQ(w.Messages[0].Text, Q(*c.Message));
            EXPECT_EQ(w.Messages[0].Caption, Q(MLMSG_ERROR));
            EXPECT_EQ(w.Messages[0].Flags, 0x10010u);
        } else {
            EXPECT_TRUE(w.Messages.empty());
        }
    }

    // The right password opens it.
    w.Messages.clear();
    QTimer::singleShot(50, [] {
        if (auto* dialog = qobject_cast<TfrmPassword*>(QApplication::activeModalWidget())) {
            dialog->edtPassword->setText(QStringLiteral("s3cret"));
            dialog->btnOK->click();
        }
    });
    m.OpenRecording(locked.string());
    EXPECT_TRUE(w.Messages.empty());
    EXPECT_EQ(m.Reader().FileName(), locked.string());
    EXPECT_EQ(m.Engine().PlayState(), psStopped);
    EXPECT_EQ(m.lblTitle->text(), QStringLiteral("locked.crd"));
}

TEST_F(MainWindowTest, DropOpensTheLastFileAndPlaysIt)
{
    const auto a = MakeRecording(Folder, "a.crd", "--duration 2 --size 320x240");
    const auto b = MakeRecording(Folder, "b.crd", "--duration 2 --size 320x240");
    const auto c = MakeRecording(Folder, "c.crd", "--duration 2 --size 352x288");
    TWindow w;
    TfrmBrisaMain& m = w.Window;
    m.show();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(a.string())),
                  QUrl::fromLocalFile(QString::fromStdString(b.string())),
                  QUrl::fromLocalFile(QString::fromStdString(c.string()))});
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&m, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&m, &drop);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.IsFileOpen(); }, 3000));
    EXPECT_EQ(m.Reader().FileName(), c.string());
    EXPECT_EQ(m.Engine().PlayState(), psPlaying);
    EXPECT_EQ(m.size(), QSize(520, 481)) << "a small video keeps the minimum size";
}

TEST_F(MainWindowTest, VideoLargerThanTheWorkAreaMaximisesTheWindow)
{
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    const auto big = MakeRecording(Folder, "big.crd",
                                   "--fast --duration 1 --size " + std::to_string(work.width()) + "x" +
                                       std::to_string(work.height()));
    TWindow w;
    TfrmBrisaMain& m = w.Window;
    m.show();
    m.OpenRecording(big.string());
    EXPECT_EQ(m.FWindowMode, wmMaximized);
    EXPECT_TRUE(m.mbMaximize->Toggle());
    EXPECT_EQ(m.size(), work.size());
}

TEST_F(MainWindowTest, BarsKeepTheirControlsAnchored)
{
    TWindow w;
    TfrmBrisaMain& m = w.Window;
    m.show();
    struct Case {
        int Width;
        QRect Play, Playbar, Time, Function, Grip, Close;
    };
    const Case cases[] = {
        {520, {12, 25, 53, 53}, {17, 11, 355, 12}, {258, 31, 112, 14}, {467, 30, 41, 42}, {507, 71, 12, 12}, {474, 0, 43, 18}},
        {720, {12, 25, 53, 53}, {17, 11, 555, 12}, {458, 31, 112, 14}, {667, 30, 41, 42}, {707, 71, 12, 12}, {674, 0, 43, 18}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Width);
        m.resize(c.Width, 500);
        EXPECT_EQ(m.pnlDisp->geometry(), QRect(4, 27, c.Width - 8, 500 - 112));
        EXPECT_EQ(m.pnlControl->geometry(), QRect(0, 500 - 85, c.Width, 85));
        EXPECT_EQ(m.mbPlay->geometry(), c.Play);
        EXPECT_EQ(m.sldPlaybar->geometry(), c.Playbar);
        EXPECT_EQ(m.lblTime->geometry(), c.Time);
        EXPECT_EQ(m.mbFunction->geometry(), c.Function);
        EXPECT_EQ(m.imgResize->geometry(), c.Grip);
        EXPECT_EQ(m.mbClose->geometry(), c.Close);
    }
    m.resize(300, 200);
    EXPECT_EQ(m.size(), QSize(520, 481)) << "the minimum size";
}

TEST_F(MainWindowTest, OsdSizeFollowsTheDisplayAndHidesAfterTwoSeconds)
{
    TWindow w;
    TfrmBrisaMain& m = w.Window;
    m.show();
    const struct {
        int DisplayWidth;
        int Points;
    } cases[] = {{512, 9}, {640, 9}, {800, 10}, {1280, 16}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.DisplayWidth);
        m.resize(c.DisplayWidth + 8, 481);
        m.ShowOSD(QStringLiteral("[ test ]"));
        for (QLabel* label : {m.lblOSD1, m.lblOSD2, m.lblOSD3}) {
            EXPECT_EQ(label->font().pointSize(), c.Points);
            EXPECT_TRUE(label->font().bold());
            EXPECT_EQ(label->text(), QStringLiteral("[ test ] "));
            EXPECT_TRUE(label->isVisible());
        }
    }
    EXPECT_EQ(m.lblOSD1->palette().color(QPalette::WindowText), QColor(255, 212, 152));
    EXPECT_EQ(m.lblOSD2->pos() - m.lblOSD1->pos(), QPoint(1, 1));
    EXPECT_EQ(m.lblOSD3->pos() - m.lblOSD1->pos(), QPoint(3, 3));
    EXPECT_TRUE(m.tmrDispODS->isActive());
    EXPECT_EQ(m.tmrDispODS->interval(), 2000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m.lblOSD1->isVisible(); }, 3000));
    EXPECT_TRUE(m.lblOSD1->text().isEmpty());
    m.ShowOSD(QStringLiteral("again"));
    m.resize(700, 500);
    EXPECT_FALSE(m.lblOSD1->isVisible()) << "a size change hides the OSD";
}

TEST(MainWindowPlacement, FitWindowRect)
{
    struct Case {
        const char* Name;
        QRect Window, Work;
        std::optional<QRect> Expected;
    };
    const Case cases[] = {
        {"fits where it is", {100, 100, 648, 592}, {0, 0, 1920, 1040}, QRect(100, 100, 648, 592)},
        {"moved back from the right and bottom", {1500, 700, 648, 592}, {0, 0, 1920, 1040}, QRect(1272, 448, 648, 592)},
        {"never left of or above the work area", {-50, -20, 648, 592}, {0, 0, 1920, 1040}, QRect(0, 0, 648, 592)},
        {"too wide", {0, 0, 1928, 592}, {0, 0, 1920, 1040}, std::nullopt},
        {"too high", {0, 0, 648, 1192}, {0, 0, 1920, 1040}, std::nullopt},
        {"work area under a top panel", {100, 500, 648, 592}, {0, 32, 1920, 1048}, QRect(100, 488, 648, 592)},
        {"second monitor to the right", {2100, 100, 648, 592}, {1920, 0, 1280, 1024}, QRect(2100, 100, 648, 592)},
        {"second monitor, off its right edge", {3000, 100, 648, 592}, {1920, 0, 1280, 1024}, QRect(2552, 100, 648, 592)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(FitWindowRect(c.Window, c.Work), c.Expected);
    }
}

TEST(MainWindowPlacement, SmallVideoPlace)
{
    struct Case {
        const char* Name;
        QRect Main;
        QSize Small;
        int WorkWidth;
        QPoint Expected;
    };
    const Case cases[] = {
        {"right of the main window", {100, 50, 648, 592}, {320, 240}, 1920, {748, 50}},
        {"left when the right side is full", {1000, 50, 648, 592}, {320, 240}, 1920, {680, 50}},
        {"touching the right edge counts as full", {952, 50, 648, 592}, {320, 240}, 1920, {632, 50}},
        {"at the main window's left when neither side has room", {100, 50, 1700, 592}, {320, 240}, 1920, {100, 50}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(SmallVideoPlace(c.Main, c.Small, c.WorkWidth), c.Expected);
    }
}

// Answers the next open dialog: checks what it shows, then chooses `file` (none: cancels).
void AnswerOpenDialog(const QString& folder, std::optional<QString> file, bool& seen)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, folder, file, &seen] {
        // The dialog is looked for among the visible windows rather than as the active
        // modal widget, which need not be set yet when the timer first fires.
        QFileDialog* dialog = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* candidate = qobject_cast<QFileDialog*>(widget); candidate && candidate->isVisible())
                dialog = candidate;
        if (dialog == nullptr)
            return;
        poll->stop();
        poll->deleteLater();
        seen = true;
        EXPECT_EQ(dialog->windowTitle(), Q(MLMSG_MAIN_05));
        EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("QRV RecordFile (*.crd)")});
        EXPECT_EQ(dialog->directory().absolutePath(), folder);
        if (!file) {
            dialog->reject();
            return;
        }
        dialog->selectFile(*file);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    poll->start(10);
}

TEST_F(MainWindowTest, PlayWithNothingOpenAsksForAFileAndPlaysIt)
{
    const auto path = MakeRecording(Folder, "chosen.crd", "--duration 3 --size 320x240");
    TWindow w;
    TfrmBrisaMain& m = w.Window;
    m.FFileName = Folder.Path().string() + "/"; // the folder saved at the last exit
    m.show();
    const QString folder = QString::fromStdString(Folder.Path().string());

    bool seen = false;
    AnswerOpenDialog(folder, std::nullopt, seen);
    m.mbPlayClick();
    EXPECT_TRUE(seen);
    EXPECT_FALSE(m.IsFileOpen()) << "cancelled";
    EXPECT_FALSE(m.mbPlay->Toggle());

    seen = false;
    AnswerOpenDialog(folder, QString::fromStdString(path.string()), seen);
    m.mbPlayClick();
    EXPECT_TRUE(seen);
    EXPECT_EQ(m.Reader().FileName(), path.string());
    EXPECT_EQ(m.Engine().PlayState(), psPlaying);
    EXPECT_TRUE(m.mbPlay->Toggle());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainWindowTest, OpenDialogStartsInTheLastRecordingsFolder)
{
    TWindow w;
    TfrmBrisaMain& m = w.Window;
    m.FFileName = (Folder / "sub" / "x.crd").string();
    std::filesystem::create_directories(Folder / "sub");
    EXPECT_EQ(m.OpenDialogFolder(), QString::fromStdString((Folder / "sub").string()));
    m.FFileName = (Folder / "gone" / "x.crd").string();
    const QString fallback = m.OpenDialogFolder();
    EXPECT_NE(fallback, QString::fromStdString((Folder / "gone").string()));
    EXPECT_TRUE(QFileInfo(fallback).isDir()) << fallback.toStdString();
}

// A header replaced while the recording is open reaches the file when the player quits and
// when the desktop session ends; the next player's open dialog starts in that folder.
TEST_F(MainWindowTest, ReplacedHeaderIsWrittenAtQuitAndAtSessionEnd)
{
    std::filesystem::create_directories(Folder / "talks");
    for (const bool sessionEnd : {false, true}) {
        SCOPED_TRACE(sessionEnd ? "session end" : "quit");
        const auto path = Folder / "talks" / (sessionEnd ? "end.crd" : "quit.crd");
        qrv::test::RecordingFixture f;
        f.AddAudio(10, 1, qrv::test::CountingBytes(20));
        f.WriteTo(path);
        {
            TWindow w({QString::fromStdString(path.string())});
            w.Window.show();
            QTest::qWait(300);
            ASSERT_TRUE(w.Window.IsFileOpen());
            RecordingHeader changed = w.Window.Reader().Header();
            changed.SummaryText.Assign("c3VtbWFyeQ==");
            w.Window.Reader().ReplaceHeader(changed);
            if (sessionEnd) {
                w.Window.WMQueryEndSession();
                RecordingHeader written;
                TReadMan::ReadHeader(path.string(), written);
                EXPECT_EQ(written.SummaryText.Text(), "c3VtbWFyeQ=="); // before the window goes
            }
        }
        RecordingHeader written;
        TReadMan::ReadHeader(path.string(), written);
        EXPECT_EQ(written.SummaryText.Text(), "c3VtbWFyeQ==");
    }
    TWindow next;
    EXPECT_EQ(next.Window.OpenDialogFolder(), QString::fromStdString((Folder / "talks").string()));
}

} // namespace
