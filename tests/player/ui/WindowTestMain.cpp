// The window tests' main: one QApplication for all cases on Qt's offscreen platform (unless
// QT_QPA_PLATFORM names another), SDL's dummy sound driver, and every XDG folder in a scratch
// folder, so that the player's settings, recent files and message sockets never touch the
// user's own.

#include "UnitLanguage.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    const std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / ("qrv-window-tests-" + std::to_string(getpid()));
    for (const char* sub : {"config", "data", "runtime", "home"})
        std::filesystem::create_directories(scratch / sub);
    chmod((scratch / "runtime").c_str(), 0700);
    setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (scratch / "data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (scratch / "runtime").c_str(), 1);
    setenv("HOME", (scratch / "home").c_str(), 1);
    setenv("LANG", "C", 1);
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");

    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    qrv::LanguageTable().Reset();
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    return result;
}
