// CXMixer: the mixer process the player starts from its own folder as
//   CXMixer <window handle> <codec type> <port>
//
// With a display and a system tray it runs as a widget application so that its tray icon
// can offer "Exit"; without a display (a server, a test machine) it runs as a plain event
// loop with no icon at all. Nothing else differs.

#include "Main.h"

#include "_QRV_Utils.h"
#include "speex.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// A display the widget application can use: a display variable is set and Qt is not
// asked for a platform without windows.
bool HasDisplay()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && (std::strncmp(platform, "offscreen", 9) == 0 || std::strncmp(platform, "minimal", 7) == 0))
        return false;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

} // namespace

int main(int argc, char* argv[])
{
    std::string speexError;
    if (!qrv::LoadSpeexLibraries(&speexError)) {
        std::fprintf(stderr, "%s\n", speexError.c_str());
        return 1;
    }

    std::unique_ptr<QCoreApplication> application;
    if (HasDisplay()) {
        // Should the display not answer, fall back to no windows instead of aborting.
        if (std::getenv("QT_QPA_PLATFORM") == nullptr)
            qputenv("QT_QPA_PLATFORM", std::getenv("WAYLAND_DISPLAY") ? "wayland;xcb;offscreen" : "xcb;offscreen");
        auto widgets = std::make_unique<QApplication>(argc, argv);
        widgets->setQuitOnLastWindowClosed(false);
        application = std::move(widgets);
    } else {
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("CXMixer"));

    std::string programPath = qrv::GetExecutablePath();
    if (programPath.empty())
        programPath = argv[0];
    std::vector<std::string> arguments(argv + 1, argv + argc);

    int result = 1;
    {
        qrv::TFormMain form(programPath, arguments);
        if (form.Create())
            result = QCoreApplication::exec();
    }
    return result;
}
