#include "Main.h"

#include "AppDataPathUnit.h"
#include "DebugOutput.h"
#include "GetTickCount.h"
#include "speex.h"

#include <algorithm>

#include <QApplication>
#include <QCoreApplication>
#include <QHostAddress>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <filesystem>
#include <malloc.h>
#include <typeinfo>

namespace qrv {

namespace {

// Posts through the message-window stand-in; a handle of -1 reaches no window.
bool PostToWindow(uint32_t handle, uint32_t msg, uint32_t wParam, uint32_t lParam)
{
    return PostMessage(handle, msg, wParam, lParam);
}

QIcon TrayPicture()
{
    QPixmap picture(32, 32);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x2a, 0x7a, 0xc8));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(2, 2, 28, 28, 6, 6);
    painter.setBrush(Qt::white);
    for (int bar = 0; bar < 4; ++bar) {
        const int height = 6 + (bar % 2 == 0 ? 12 : 4) + bar * 2;
        painter.drawRect(7 + bar * 5, 26 - height, 3, height);
    }
    return QIcon(picture);
}

// The log of the running form, for exceptions nobody caught.
TDebugInfo* g_unhandledLog = nullptr;

// An exception that escapes every handler (an event handler of the form, a thread) ends the
// process; its message and type go to the log with the context lines first.
[[noreturn]] void LogUnhandledException()
{
    try {
        if (g_unhandledLog != nullptr) {
            std::string text = "Unknown exception";
            if (const std::type_info* type = abi::__cxa_current_exception_type()) {
                int status = 0;
                char* name = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
                const std::string typeName = status == 0 && name != nullptr ? name : type->name();
                std::free(name);
                try {
                    std::rethrow_exception(std::current_exception());
                } catch (const std::exception& error) {
                    text = error.what();
                } catch (...) {
                }
                text += " (" + typeName + ")";
            }
            g_unhandledLog->WriteLog(text, true);
        }
    } catch (...) {
    }
    std::abort();
}

} // namespace

TFormMain::TFormMain(std::string programPath, std::vector<std::string> arguments)
    : FProgramPath(std::move(programPath)), FArguments(std::move(arguments))
{
}

TFormMain::~TFormMain()
{
    if (g_unhandledLog == FLog.get())
        g_unhandledLog = nullptr;
    if (ClientSocket1 != nullptr)
        ClientSocket1->disconnect(this);
    // Each step on its own, so one failing does not keep the others from running.
    try { if (FSyncTimer) FSyncTimer->stop(); } catch (...) {}
    try { FReceiver.reset(); } catch (...) {}
    try { FMixerPort.reset(); FMixer.reset(); } catch (...) {}
    try { FSync.reset(); } catch (...) {}
    try { FDecoders.reset(); } catch (...) {}
}

bool TFormMain::Create()
{
    try {
        // The form's own window: the handle the player learns from WM_APLAY_UNREGISTER.
        FWindow = std::make_unique<TQtMessageWindow>();
        CreateTrayIcon();

        // The data folder with its missing parents, and the log in it.
        const TAppDataPath paths(FProgramPath);
        std::error_code ignored;
        std::filesystem::create_directories(paths.DataFolder(), ignored);
        FLog = std::make_unique<TDebugInfo>(paths.DataFolder() + "CXMixer.except.log");
        g_unhandledLog = FLog.get();
        std::set_terminate(&LogUnhandledException);

        // The command line, and the formats of its codec type.
        FArgs = ParseMixerArguments(FArguments);

        FDecoders = std::make_unique<TSpeexDecoderManager>();
        if (FArgs.AudioCodec >= 2 && FArgs.AudioCodec <= 4)
            FDecoders->SetSpeexMode(static_cast<uint8_t>(FArgs.AudioCodec - 2));

        FMixer = std::make_unique<TQRVDirectSound>(FLog.get());
        FMixerPort = std::make_unique<TQRVDirectSoundMixer>(*FMixer);

        FSyncTimer = new QTimer(this);
        FSyncTimer->setTimerType(Qt::PreciseTimer);
        FSyncTimer->setSingleShot(true);
        FSync = std::make_unique<TEQSyncManager>(FArgs.PlayerWnd, &GetTickCount, &PostToWindow,
                                                 [](std::string_view line) { OutputDebugString(line); });

        TPacketReceiver::Services services;
        services.Mixer = FMixerPort.get();
        services.Decoder = FDecoders.get();
        services.QueueTiming = [this](uint32_t syncTime, uint32_t syncTag, uint32_t received) {
            FSync->AddAudioInfo(syncTime, syncTag, received);
            if (!FSyncTimer->isActive())
                ArmSyncTimer(0);
        };
        services.Log = FLog.get();
        services.Post = &PostToWindow;
        services.Debug = [](std::string_view line) { OutputDebugString(line); };
        services.TickCount = &GetTickCount;
        FReceiver = std::make_unique<TPacketReceiver>(std::move(services), FArgs.PlayerWnd, FArgs.AudioCodec);
        if (FArguments.size() >= 3)
            FReceiver->SelectCodecFormats(FArgs.AudioCodec);

        // The channel mixer at the current formats. A codec type outside 0 to 4 leaves the
        // design-time formats, which the device cannot play: start-up ends here.
        FMixer->SetInputFormat(FReceiver->CurrentFormats().Input);
        FMixer->SetOutputFormat(FReceiver->CurrentFormats().Output);
        FMixer->StartMixer();

        FSync->SetEnabled(true);
        connect(FSyncTimer, &QTimer::timeout, this, [this] {
            FSync->SyncTimer();
            ArmSyncTimer(TEQSyncManager::TimerIntervalMs);
        });

        DeferStartTimer = new QTimer(this);
        DeferStartTimer->setSingleShot(true);
        DeferStartTimer->setInterval(DeferStartIntervalMs);
        connect(DeferStartTimer, &QTimer::timeout, this, [this] { FReceiver->DeferStartTimerFired(); });

        ClientSocket1 = new QTcpSocket(this);
        connect(ClientSocket1, &QTcpSocket::readyRead, this, &TFormMain::OnRead);
        connect(ClientSocket1, &QTcpSocket::disconnected, this, &TFormMain::OnDisconnect);
        connect(ClientSocket1, &QTcpSocket::errorOccurred, this, &TFormMain::OnSocketError);
        ClientSocket1->connectToHost(QHostAddress(QHostAddress::LocalHost), static_cast<quint16>(FArgs.Port));

        tmrChkConnected = new QTimer(this);
        tmrChkConnected->setSingleShot(true);
        tmrChkConnected->setInterval(ChkConnectedIntervalMs);
        connect(tmrChkConnected, &QTimer::timeout, this, &TFormMain::OnChkConnected);
        tmrChkConnected->start();

        // Hand the memory used by start-up back to the system.
        malloc_trim(0);
        return true;
    } catch (...) {
        return false;
    }
}

void TFormMain::CreateTrayIcon()
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr ||
        !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    FTrayMenu = std::make_unique<QMenu>();
    QAction* menuExit = FTrayMenu->addAction(QStringLiteral("Exit"));
    connect(menuExit, &QAction::triggered, this, &TFormMain::Close);
    CoolTrayIcon1 = new QSystemTrayIcon(TrayPicture(), this);
    CoolTrayIcon1->setToolTip(QStringLiteral("CXMixer"));
    CoolTrayIcon1->setContextMenu(FTrayMenu.get());
    CoolTrayIcon1->show();
}

void TFormMain::OnRead()
{
    const auto waiting = static_cast<size_t>(std::max<qint64>(ClientSocket1->bytesAvailable(), 0));
    const TReadOutcome outcome = FReceiver->ReadEvent(waiting, [this](uint8_t* into, size_t max) -> size_t {
        const qint64 got = ClientSocket1->read(reinterpret_cast<char*>(into), static_cast<qint64>(max));
        return got > 0 ? static_cast<size_t>(got) : 0;
    });
    if (outcome == TReadOutcome::DeferStarted)
        DeferStartTimer->start();
}

// The connection ended or could not be made: tell the player, then end.
void TFormMain::OnDisconnect()
{
    if (FClosing)
        return;
    if (FArgs.PlayerWnd != -1) {
        const uint32_t own = FWindow ? FWindow->Handle() : 0;
        PostToWindow(static_cast<uint32_t>(FArgs.PlayerWnd), WM_APLAY_UNREGISTER, own, own);
    }
    Close();
}

// Errors raise nothing: the socket is closed and the disconnect handling ends the mixer.
void TFormMain::OnSocketError(QAbstractSocket::SocketError)
{
    ClientSocket1->abort();
    OnDisconnect();
}

void TFormMain::ArmSyncTimer(int minimumMs)
{
    if (const auto wait = FSync->MsUntilNextPost())
        FSyncTimer->start(std::max(static_cast<int>(*wait), minimumMs));
}

void TFormMain::OnChkConnected()
{
    if (ClientSocket1->state() == QAbstractSocket::UnconnectedState)
        Close();
}

void TFormMain::Close()
{
    if (FClosing)
        return;
    FClosing = true;
    QCoreApplication::exit(0);
}

} // namespace qrv
