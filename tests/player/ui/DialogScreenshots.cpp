// Pictures of every dialog with the built-in Korean texts, for a person to look at: run
// with QRV_SCREENSHOT_DIR set (under a real X server: QT_QPA_PLATFORM=xcb xvfb-run -a ...)
// and the PNG files appear in that folder. Without the variable the case is skipped.

#include "HeaderTextCodec.h"
#include "MsgBoxExUnit.h"
#include "OleDateTime.h"
#include "RecordingFixture.h"
#include "TntDialogs2.h"
#include "UnitAbout.h"
#include "UnitFileInfo.h"
#include "UnitLanguage.h"
#include "UnitPassword.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QLocale>
#include <QTabWidget>
#include <QTest>

#include <cstdlib>
#include <memory>

using namespace qrv;

namespace {

void Save(QWidget* widget, const QString& folder, const QString& name)
{
    widget->show();
    QTest::qWait(150);
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    EXPECT_TRUE(widget->grab().save(path)) << path.toStdString();
}

TEST(DialogScreenshots, KoreanBuiltInTexts)
{
    const char* folder = std::getenv("QRV_SCREENSHOT_DIR");
    if (folder == nullptr || *folder == '\0')
        GTEST_SKIP() << "set QRV_SCREENSHOT_DIR to write the pictures";
    QDir().mkpath(QString::fromLocal8Bit(folder));
    const QString out = QString::fromLocal8Bit(folder);
    LanguageTable().Reset();
    const QLocale previousLocale;
    QLocale::setDefault(QLocale(QLocale::Korean, QLocale::SouthKorea));
    QApplication::setApplicationDisplayName(QString::fromStdString(LangText(MLMSG_MAIN_00)));

    using enum TMsgDlgBtn;
    struct Box {
        const char* Name;
        TLangMsg Text;
        TMsgDlgType Type;
        TMsgDlgButtons Buttons;
    } const boxes[] = {
        {"msgbox-error", MLMSG_MAIN_01, TMsgDlgType::mtError, {mbOK}},
        {"msgbox-question", MLMSG_INFO_21, TMsgDlgType::mtConfirmation, {mbYes, mbNo}},
        {"msgbox-information", MLMSG_MAIN_04, TMsgDlgType::mtInformation, {mbOK}},
        {"msgbox-warning-long", MLMSG_MAIN_09, TMsgDlgType::mtWarning, {mbYes, mbNo, mbCancel}},
        {"msgbox-custom-abort", MLMSG_MAIN_02, TMsgDlgType::mtCustom, {mbAbort, mbRetry, mbIgnore}},
    };
    for (const Box& box : boxes) {
        std::unique_ptr<TTntMessageForm> form(
            CreateMessageForm(QString::fromStdString(LangText(box.Text)), box.Type, box.Buttons));
        Save(form.get(), out, QString::fromLatin1(box.Name));
    }

    TAboutBox about;
    Save(&about, out, QStringLiteral("about"));

    TfrmPassword password;
    password.Caption = QString::fromStdString(LangText(MLMSG_INFO_19));
    password.Prompt = QString::fromStdString(LangText(MLMSG_INFO_20));
    password.show();
    password.edtPassword->setText(QStringLiteral("secret"));
    Save(&password, out, QStringLiteral("password"));

    RecordingHeader header = test::RecordingFixture::ValidHeader();
    header.RecordingType = 0;
    header.RecordedSize = 3000000;
    header.StartTime = *CalendarToOleDate({2024, 3, 5, 14, 7, 9, 0});
    header.EndTime = *CalendarToOleDate({2024, 3, 5, 15, 9, 14, 0});
    header.PasswordText.Assign(EncodePassword("abc123"));
    header.SummaryText.Assign(EncodeSummary("주간 회의 녹화입니다.\n참석자: 김, 이, 박"));
    TfrmFileInfo info;
    info.SetFileInfo("/home/user/녹화/2024-03-05 주간 회의.crd", header, 3725000);
    Save(&info, out, QStringLiteral("fileinfo-general"));
    info.pcInfo->setCurrentIndex(1);
    Save(&info, out, QStringLiteral("fileinfo-summary"));
    QLocale::setDefault(previousLocale);
}

} // namespace
