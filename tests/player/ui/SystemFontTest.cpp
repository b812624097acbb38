#include "SystemFont.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <cstdlib>
#include <memory>

using namespace qrv;

namespace {

class SystemFontTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "player_ui_tests";
        static char* argv[] = {name, nullptr};
        s_app = std::make_unique<QApplication>(argc, argv);
    }
    static void TearDownTestSuite() { s_app.reset(); }

    // A font that no desktop uses for captions, so that a change of family shows.
    static QFont Odd(int pointSize)
    {
        QFont font(QStringLiteral("Qrv Odd Test Face"));
        font.setPointSize(pointSize);
        return font;
    }

    static std::unique_ptr<QApplication> s_app;
};

std::unique_ptr<QApplication> SystemFontTest::s_app;

} // namespace

TEST_F(SystemFontTest, CaptionFamilyIsNeverEmpty)
{
    EXPECT_FALSE(SystemCaptionFontFamily().isEmpty());
}

TEST_F(SystemFontTest, TextControlsTakeTheFamilyAndKeepTheirSizes)
{
    const QString family = SystemCaptionFontFamily();
    ASSERT_NE(family, QStringLiteral("Qrv Odd Test Face"));

    QWidget form;
    form.setFont(Odd(9));
    auto* layout = new QVBoxLayout(&form);
    auto* label = new QLabel(QStringLiteral("확인"));
    label->setFont(Odd(15));
    QFont bold = Odd(11);
    bold.setBold(true);
    auto* button = new QPushButton(QStringLiteral("OK"));
    button->setFont(bold);
    auto* group = new QGroupBox(QStringLiteral("group"));
    auto* groupLayout = new QVBoxLayout(group);
    auto* edit = new QLineEdit;
    edit->setFont(Odd(13));
    auto* check = new QCheckBox(QStringLiteral("check"));
    auto* memo = new QPlainTextEdit;
    groupLayout->addWidget(edit);
    groupLayout->addWidget(check);
    groupLayout->addWidget(memo);
    auto* slider = new QSlider;
    slider->setFont(Odd(7));
    layout->addWidget(label);
    layout->addWidget(button);
    layout->addWidget(group);
    layout->addWidget(slider);

    ApplySystemFont(&form);

    EXPECT_EQ(form.font().family(), family);
    EXPECT_EQ(form.font().pointSize(), 9);
    struct Case {
        const char* name;
        QWidget* widget;
        int pointSize;
    } cases[] = {{"label", label, 15}, {"button", button, 11}, {"group", group, 9},
                 {"nested edit", edit, 13}, {"check box", check, 9}, {"memo", memo, 9}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.widget->font().family(), family);
        EXPECT_EQ(c.widget->font().pointSize(), c.pointSize);
    }
    EXPECT_TRUE(button->font().bold());
    // Not a text control: its own font stays as it was.
    EXPECT_EQ(slider->font().family(), QStringLiteral("Qrv Odd Test Face"));
    EXPECT_EQ(slider->font().pointSize(), 7);
}
