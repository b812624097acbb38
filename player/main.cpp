// BrisaPlayer: plays a recorded conference.
//
//   BrisaPlayer [RECORDING] [--screenshot-after SECONDS PNG]
//
// RECORDING (the first argument that is not an option) is opened and played 100 ms after the
// window first shows. --screenshot-after saves a picture of the whole screen (the main window
// and the small picture window beside it) SECONDS after the start and then ends the player:
// the demo uses it on machines without a display, under a virtual X server.

#include "UnitMain.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
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
