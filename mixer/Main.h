#pragma once

// TFormMain: the mixer process. It has no visible window; what the program shows is at
// most a tray icon with "Exit" (where a system tray exists). It connects to the player's
// audio server on 127.0.0.1, hands every read event to the packet receiver, drives the
// timers of the receiver and the timing feedback, and ends the process when the
// connection ends, telling the player with WM_APLAY_UNREGISTER first.
//
// Start-up, in this order: the mixer's own message window (its handle goes into
// WM_APLAY_UNREGISTER); the data folder and the log; the command line (handle, codec
// type, port) and the codec's formats; the decoders in the codec's mode; the channel
// mixer, started at the codec's output format; the timing feedback, enabled; the
// connection; the 3000 ms check that a connection exists; finally the allocator gives its
// free memory back to the system. A failure in any step ends the process at once.

#include "DSAudioMixerQRV.h"
#include "PacketReceiver.h"
#include "SpeexDecoderManagerUnit.h"
#include "TQtMessageWindow.h"
#include "Unit_EQSyncManager.h"
#include "_qrv_DebugInfo.h"

#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

class QSystemTrayIcon;
class QMenu;

namespace qrv {

class TFormMain : public QObject {
public:
    static constexpr int DeferStartIntervalMs = 1000;   // data discarded after the first read
    static constexpr int ChkConnectedIntervalMs = 3000; // a connection must exist by then

    // `arguments`: the command-line arguments after the program's name.
    TFormMain(std::string programPath, std::vector<std::string> arguments);
    ~TFormMain() override;

    // Runs the start-up steps; false when one failed (the process then ends at once).
    bool Create();

    // Closes the form: the event loop ends and the process with it.
    void Close();

private:
    void CreateTrayIcon();
    void OnRead();
    void OnDisconnect();
    void OnSocketError(QAbstractSocket::SocketError error);
    void OnChkConnected();
    // Starts the timing-feedback tick for when the oldest entry falls due, but not sooner
    // than `minimumMs` from now; leaves it off when nothing waits.
    void ArmSyncTimer(int minimumMs);

    std::string FProgramPath;
    std::vector<std::string> FArguments;

    std::unique_ptr<TQtMessageWindow> FWindow; // gives the mixer a handle of its own
    std::unique_ptr<TDebugInfo> FLog;
    TMixerArguments FArgs;
    std::unique_ptr<TSpeexDecoderManager> FDecoders;
    std::unique_ptr<TQRVDirectSound> FMixer;
    std::unique_ptr<TQRVDirectSoundMixer> FMixerPort;
    std::unique_ptr<TEQSyncManager> FSync;
    std::unique_ptr<TPacketReceiver> FReceiver;

    QTcpSocket* ClientSocket1 = nullptr;
    QTimer* DeferStartTimer = nullptr;
    QTimer* tmrChkConnected = nullptr;
    QTimer* FSyncTimer = nullptr; // the timing feedback's tick: when an entry falls due, at most every 2 ms
    QSystemTrayIcon* CoolTrayIcon1 = nullptr;
    std::unique_ptr<QMenu> FTrayMenu;
    bool FClosing = false;
};

} // namespace qrv
