// BrisaPlayer: plays a recorded conference.
//
//   BrisaPlayer [RECORDING] [--screenshot-after SECONDS PNG]
//
// RECORDING (the first argument that is not an option) is opened and played 100 ms after the
// window first shows. --screenshot-after saves a picture of the whole screen (the main window
// and the small picture window beside it) SECONDS after the start and then ends the player:
// the demo uses it on machines without a display, under a virtual X server.
//
// One player runs per user session: a start while another player runs hands RECORDING to
// it (that player stops, opens it and plays it) and ends at once with exit code 0, before
// any window exists. A start without RECORDING then simply ends.
//
// The end of the desktop session (the session manager's save request, or SIGTERM / SIGHUP /
// SIGINT, which is how logind ends a session's processes) runs the main window's normal
// teardown, so a changed header is written and the settings saved.

#include "SingleInstance.h"
#include "UnitMain.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// The write end of the pipe that carries termination signals into the event loop.
int g_signalWrite = -1;

void OnTerminationSignal(int signal)
{
    const char byte = static_cast<char>(signal);
    if (g_signalWrite >= 0)
        [[maybe_unused]] ssize_t written = ::write(g_signalWrite, &byte, 1);
}

// The recording argument of the raw command line: the first argument that is not an option
// (nor an option's value).
std::vector<std::string> RecordingArguments(int argc, char** argv)
{
    std::vector<std::string> result;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--screenshot-after") == 0) {
            i += 2;
            continue;
        }
        result.emplace_back(argv[i]);
    }
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    // Before anything else: a second start hands its recording over and ends.
    if (qrv::CheckSingleInstance(RecordingArguments(argc, argv)) == qrv::TInstanceRole::Second)
        return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("BrisaPlayer"));

    QStringList arguments;
    double screenshotSeconds = -1;
    QString screenshotPath;
    const QStringList all = QApplication::arguments();
    for (qsizetype i = 1; i < all.size(); ++i) {
        if (all[i] == QLatin1String("--screenshot-after")) {
            if (i + 2 >= all.size()) {
                std::fputs("usage: BrisaPlayer [RECORDING] [--screenshot-after SECONDS PNG]\n", stderr);
                return 2;
            }
            screenshotSeconds = all[i + 1].toDouble();
            screenshotPath = all[i + 2];
            i += 2;
            continue;
        }
        arguments << all[i];
    }

    qrv::TfrmBrisaMain window(arguments);

    // The end of the session: teardown now, then the window closes and the program ends.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.WMQueryEndSession(); }, Qt::DirectConnection);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, [&window] { window.FormDestroy(); });
    int signalPipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) == 0) {
        g_signalWrite = signalPipe[1];
        signalNotifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &window, [&window, fd = signalPipe[0]] {
            char drained[16];
            while (::read(fd, drained, sizeof drained) > 0) {
            }
            window.WMQueryEndSession();
            QCoreApplication::quit();
        });
        struct sigaction action {};
        action.sa_handler = OnTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int signal : {SIGTERM, SIGHUP, SIGINT})
            sigaction(signal, &action, nullptr);
    }

    window.show();

    if (screenshotSeconds >= 0) {
        QTimer::singleShot(static_cast<int>(screenshotSeconds * 1000), &window, [&window, screenshotPath] {
            QScreen* screen = window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
            QPixmap shot = screen != nullptr ? screen->grabWindow(0) : QPixmap();
            // Platforms that cannot grab the screen (offscreen) still give the window itself.
            if (shot.isNull() || shot.toImage().allGray())
                shot = window.grab();
            const bool saved = shot.save(screenshotPath, "PNG");
            std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "screenshot:" : "cannot write",
                         screenshotPath.toLocal8Bit().constData());
            window.close();
        });
    }
    return QApplication::exec();
}
