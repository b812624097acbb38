#include "DialogTestSupport.h"
#include "TntDialogs2.h"
#include "UnitAbout.h"
#include "UnitLanguage.h"
#include "_QRV_Utils.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

using namespace qrv;
using namespace qrv::test;

namespace {

TEST(AboutBox, ShowsTitleVersionAndNoticeFromTheLanguageTable)
{
    TAboutBox box;
    box.show();
    EXPECT_EQ(box.windowTitle(), QStringLiteral("정보"));
    EXPECT_EQ(box.lblProductName->text(), QStringLiteral("브리사 플레이어"));
    EXPECT_EQ(box.lblVersion->text(), QStringLiteral("버전  ") + QString::fromStdString(GetVersionString()));
    EXPECT_EQ(box.lblNotice->text(), QString::fromStdString(LangText(MLMSG_ABOUT_02)));
    EXPECT_FALSE(box.lblNotice->text().isEmpty());
    EXPECT_EQ(box.OKButton->text(), QStringLiteral("OK"));
    ASSERT_FALSE(box.ProgramIcon->pixmap().isNull());
    // The icon is drawn, not left blank: its middle is not transparent.
    const QImage icon = box.ProgramIcon->pixmap().toImage();
    EXPECT_GT(qAlpha(icon.pixel(icon.width() / 2, icon.height() / 2)), 0);
    EXPECT_EQ(box.size(), QSize(377, 180));
}

TEST(AboutBox, FileWithoutAboutSectionLeavesTwoBlanksAndNoNotice)
{
    LanguageTable().LoadBytes("[Dialogs]\nMLMSG_OK=OK\n");
    TAboutBox box;
    box.show();
    EXPECT_EQ(box.lblVersion->text(), QStringLiteral("  ") + QString::fromStdString(GetVersionString()));
    EXPECT_EQ(box.lblNotice->text(), QString());
    EXPECT_EQ(box.windowTitle(), QString());
    LanguageTable().Reset();

    // Texts are read on every showing: the built-in ones are back on the next one.
    box.hide();
    box.show();
    EXPECT_EQ(box.windowTitle(), QStringLiteral("정보"));
}

TEST(AboutBox, EscapeAndOkCloseWithOk)
{
    struct Case {
        const char* Name;
        bool UseEscape;
    } const cases[] = {{"Esc", true}, {"OK", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TAboutBox box;
        OnNextModal<TAboutBox>([&](TAboutBox* shown) {
            if (c.UseEscape)
                PressKey(shown, Qt::Key_Escape);
            else
                shown->OKButton->click();
        });
        EXPECT_EQ(box.exec(), mrOk);
        EXPECT_FALSE(box.isVisible());
    }
}

} // namespace
