// The dialog tests' main: one QApplication for all cases, on Qt's offscreen platform unless
// QT_QPA_PLATFORM names another (the screenshots run under a real X server), with the
// built-in texts and the C locale, so that the expected texts do not depend on the machine.

#include "UnitLanguage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Nothing here should touch the user's files; keep any attempt in a scratch folder.
    const std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / ("qrv-dialog-tests-" + std::to_string(getpid()));
    std::filesystem::create_directories(scratch / "config");
    std::filesystem::create_directories(scratch / "data");
    setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (scratch / "data").c_str(), 1);

    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Dialog Test Title"));
    QLocale::setDefault(QLocale::c());
    qrv::LanguageTable().Reset();
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    return result;
}
