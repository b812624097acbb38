#include "DialogTestSupport.h"
#include "MsgBoxExUnit.h"
#include "TntDialogs2.h"
#include "UnitLanguage.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace qrv;
using namespace qrv::test;

namespace {

QString Lang(TLangMsg key) { return QString::fromStdString(LangText(key)); }

QStringList ButtonNames(const TTntMessageForm* form)
{
    QStringList names;
    for (const QPushButton* button : form->Buttons())
        names << button->objectName();
    return names;
}

// What a case does to the open box.
struct TPress {
    enum Kind { Click, Key, Close } What = Click;
    QString Button;                 // Click: the button's object name
    Qt::Key KeyCode = Qt::Key_Escape; // Key
};

TPress Click(const char* name) { return {TPress::Click, QString::fromLatin1(name), Qt::Key_unknown}; }
TPress Key(Qt::Key key) { return {TPress::Key, QString(), key}; }
TPress CloseBox() { return {TPress::Close, QString(), Qt::Key_unknown}; }

struct TMsgBoxCase {
    const char* Name;
    unsigned Flags;
    TMsgDlgType Type;
    std::optional<TLangMsg> CaptionKey; // none: the application title
    QStringList Buttons;
    QString Default;
    QString Cancel; // empty: no button answers Esc
    std::vector<TPress> Presses;
    int Result;
};

class MsgBoxExTest : public ::testing::TestWithParam<TMsgBoxCase> {};

// Shows the box through MsgBoxEx, checks how it is made up, then presses what the case says.
TEST_P(MsgBoxExTest, ShowsTheBoxTheFlagsAskForAndAnswersThePressedButton)
{
    const TMsgBoxCase& c = GetParam();
    bool seen = false;
    OnNextModal<TTntMessageForm>([&](TTntMessageForm* form) {
        seen = true;
        EXPECT_EQ(form->MessageType(), c.Type);
        const QString caption =
            c.CaptionKey ? Lang(*c.CaptionKey) : QGuiApplication::applicationDisplayName();
        EXPECT_EQ(form->windowTitle(), caption);
        EXPECT_EQ(ButtonNames(form), c.Buttons);
        ASSERT_NE(form->DefaultButton(), nullptr);
        EXPECT_EQ(form->DefaultButton()->objectName(), c.Default);
        EXPECT_TRUE(form->DefaultButton()->isDefault());
        EXPECT_EQ(form->CancelButton() ? form->CancelButton()->objectName() : QString(), c.Cancel);
        EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("Image")) != nullptr, c.Type != TMsgDlgType::mtCustom);
        EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("Message"))->text(), QStringLiteral("본문 text"));
        for (const TPress& press : c.Presses) {
            if (press.What == TPress::Click) {
                auto* button = form->findChild<QPushButton*>(press.Button);
                ASSERT_NE(button, nullptr) << press.Button.toStdString();
                button->click();
            } else if (press.What == TPress::Key) {
                PressKey(form, press.KeyCode);
            } else {
                form->close();
            }
        }
        // A case whose presses leave the box open ends here with a known button.
        if (form->isVisible())
            form->done(-1);
    });
    const int result = MsgBoxEx(nullptr, QStringLiteral("본문 text"), QStringLiteral("ignored caption"), c.Flags);
    EXPECT_TRUE(seen);
    EXPECT_EQ(result, c.Result);
}

const QStringList OkOnly{QStringLiteral("OK")};
const QStringList YesNo{QStringLiteral("Yes"), QStringLiteral("No")};
const QStringList AbortRetryIgnore{QStringLiteral("Abort"), QStringLiteral("Retry"), QStringLiteral("Ignore")};

INSTANTIATE_TEST_SUITE_P(
    Flags, MsgBoxExTest,
    ::testing::Values(
        TMsgBoxCase{"ErrorForeground", 0x10010, TMsgDlgType::mtError, MLMSG_ERROR, OkOnly, "OK", "OK", {Click("OK")}, 1},
        TMsgBoxCase{"ErrorEscIsOk", 0x10010, TMsgDlgType::mtError, MLMSG_ERROR, OkOnly, "OK", "OK", {Key(Qt::Key_Escape)}, 1},
        TMsgBoxCase{"QuestionYes", 0x10024, TMsgDlgType::mtConfirmation, MLMSG_CONFIRMATION, YesNo, "Yes", "No", {Click("Yes")}, 6},
        TMsgBoxCase{"QuestionEnterIsYes", 0x10024, TMsgDlgType::mtConfirmation, MLMSG_CONFIRMATION, YesNo, "Yes", "No", {Key(Qt::Key_Return)}, 6},
        TMsgBoxCase{"QuestionEscIsNo", 0x10024, TMsgDlgType::mtConfirmation, MLMSG_CONFIRMATION, YesNo, "Yes", "No", {Key(Qt::Key_Escape)}, 7},
        TMsgBoxCase{"InformationIgnoresCaption", 0x10040, TMsgDlgType::mtInformation, MLMSG_INFORMATION, OkOnly, "OK", "OK", {Click("OK")}, 1},
        TMsgBoxCase{"PlainIsCustom", 0, TMsgDlgType::mtCustom, std::nullopt, OkOnly, "OK", "OK", {Click("OK")}, 1},
        TMsgBoxCase{"AbortRetryIgnoreEnter", 2, TMsgDlgType::mtCustom, std::nullopt, AbortRetryIgnore, "Retry", "", {Key(Qt::Key_Return)}, 4},
        // Esc does nothing in a box without a cancel button; Ignore then ends it.
        TMsgBoxCase{"AbortRetryIgnoreEscStays", 2, TMsgDlgType::mtCustom, std::nullopt, AbortRetryIgnore, "Retry", "", {Key(Qt::Key_Escape), Click("Ignore")}, 5},
        TMsgBoxCase{"AbortRetryIgnoreAbort", 2, TMsgDlgType::mtCustom, std::nullopt, AbortRetryIgnore, "Retry", "", {Click("Abort")}, 3},
        TMsgBoxCase{"WarningOkCancelEsc", 0x31, TMsgDlgType::mtWarning, MLMSG_WARNING, {"OK", "Cancel"}, "OK", "Cancel", {Key(Qt::Key_Escape)}, 2},
        TMsgBoxCase{"YesNoCancelEsc", 0x23, TMsgDlgType::mtConfirmation, MLMSG_CONFIRMATION, {"Yes", "No", "Cancel"}, "Yes", "Cancel", {Key(Qt::Key_Escape)}, 2},
        TMsgBoxCase{"RetryCancelInTableOrder", 0x15, TMsgDlgType::mtError, MLMSG_ERROR, {"Cancel", "Retry"}, "Retry", "Cancel", {Click("Retry")}, 4},
        // The close box counts as Cancel, also where there is no Cancel button.
        TMsgBoxCase{"CloseBoxIsCancel", 0x24, TMsgDlgType::mtConfirmation, MLMSG_CONFIRMATION, YesNo, "Yes", "No", {CloseBox()}, 2},
        TMsgBoxCase{"CloseBoxWithoutCancelButton", 2, TMsgDlgType::mtCustom, std::nullopt, AbortRetryIgnore, "Retry", "", {CloseBox()}, 2}),
    [](const ::testing::TestParamInfo<TMsgBoxCase>& p) { return std::string(p.param.Name); });

TEST(MsgBoxExFlags, IconBitsAreTakenOutBeforeTheButtonsAreRead)
{
    using enum TMsgDlgBtn;
    // 0x34: the warning icon holds bit 0x20; Yes/No comes from bit 4 only after the icon
    // bits are gone. 0x70: information takes 0x40, the remaining 0x30 is no button set.
    struct Case {
        unsigned Flags;
        TMsgDlgType Type;
        TMsgDlgButtons Buttons;
    } const cases[] = {
        {0x34, TMsgDlgType::mtWarning, {mbYes, mbNo}},
        {0x70, TMsgDlgType::mtInformation, {mbOK}},
        {0x10, TMsgDlgType::mtError, {mbOK}},
        {0x0001, TMsgDlgType::mtCustom, {mbOK, mbCancel}},
        {0xFFF00000u, TMsgDlgType::mtCustom, {mbOK}},
        {0x4, TMsgDlgType::mtCustom, {mbYes, mbNo}},
        {0x7, TMsgDlgType::mtCustom, {mbCancel, mbRetry}},
        {0x6, TMsgDlgType::mtCustom, {mbYes, mbNo}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Flags);
        const TMsgBoxKind kind = DecodeMsgBoxFlags(c.Flags);
        EXPECT_EQ(kind.Type, c.Type);
        EXPECT_TRUE(kind.Buttons == c.Buttons);
    }
}

TEST(MessageForm, CtrlCCopiesTheDashedText)
{
    using enum TMsgDlgBtn;
    const QString dashes(27, QLatin1Char('-'));
    struct Case {
        TMsgDlgType Type;
        TMsgDlgButtons Buttons;
        QString Caption;
        QString ButtonLine;
    } const cases[] = {
        {TMsgDlgType::mtWarning, {mbOK, mbCancel}, Lang(MLMSG_WARNING),
         Lang(MLMSG_OK) + QStringLiteral("   ") + Lang(MLMSG_CANCEL) + QStringLiteral("   ")},
        // The fixed captions lose their "&".
        {TMsgDlgType::mtCustom, {mbAbort, mbRetry, mbIgnore, mbNoToAll}, QGuiApplication::applicationDisplayName(),
         QStringLiteral("Abort   Retry   Ignore   No to All   ")},
    };
    for (const Case& c : cases) {
        std::unique_ptr<TTntMessageForm> form(CreateMessageForm(QStringLiteral("첫 줄\n두 번째 줄"), c.Type, c.Buttons));
        form->show();
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        PressKey(form.get(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before")) << "Ctrl+Shift+C copies nothing";
        PressKey(form.get(), Qt::Key_C, Qt::ControlModifier);
        const QString expected = dashes + "\r\n" + c.Caption + "\r\n" + dashes + "\r\n" +
                                 QStringLiteral("첫 줄\n두 번째 줄") + "\r\n" + dashes + "\r\n" + c.ButtonLine + "\r\n" +
                                 dashes + "\r\n";
        EXPECT_EQ(QGuiApplication::clipboard()->text(), expected);
        EXPECT_TRUE(form->isVisible()) << "copying does not close the box";
    }
}

// The layout follows the average character size of the box's font; these check the
// relations that keep every part visible rather than restating the arithmetic.
TEST(MessageForm, LayoutKeepsTextIconAndButtonsApart)
{
    using enum TMsgDlgBtn;
    const int halfScreen = QGuiApplication::primaryScreen()->geometry().width() / 2;
    const QString longText = QString(QStringLiteral("긴 문장이 여러 줄로 나뉘어야 합니다. ")).repeated(20);
    struct Case {
        const char* Name;
        QString Text;
        TMsgDlgType Type;
        TMsgDlgButtons Buttons;
    } const cases[] = {
        {"short with icon", QStringLiteral("짧음"), TMsgDlgType::mtInformation, {mbOK}},
        {"short without icon", QStringLiteral("짧음"), TMsgDlgType::mtCustom, {mbOK}},
        {"long wraps", longText, TMsgDlgType::mtError, {mbYes, mbNo, mbCancel}},
        {"many buttons", QStringLiteral("x"), TMsgDlgType::mtWarning,
         {mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::unique_ptr<TTntMessageForm> form(CreateMessageForm(c.Text, c.Type, c.Buttons));
        const QSize charSize = GetAverageCharSize(QFontMetrics(form->font()));
        const auto* message = form->findChild<QLabel*>(QStringLiteral("Message"));
        const auto* image = form->findChild<QLabel*>(QStringLiteral("Image"));
        const QRect text = message->geometry();
        EXPECT_LE(text.width(), halfScreen);
        EXPECT_GE(text.height(), QFontMetrics(form->font()).height());
        // The text area is at least as tall as the icon, and the buttons come below it.
        const int textArea = image != nullptr ? std::max(text.height(), 32) : text.height();
        int previousRight = -1;
        for (const QPushButton* button : form->Buttons()) {
            const QRect b = button->geometry();
            EXPECT_GE(b.top(), text.top() + textArea) << button->objectName().toStdString();
            EXPECT_GT(b.left(), previousRight);
            EXPECT_GE(b.left(), 0);
            EXPECT_LE(b.right(), form->width() - 1);
            EXPECT_LE(b.bottom(), form->height() - 1);
            // Every caption fits its button.
            EXPECT_GE(b.width(), QFontMetrics(form->font())
                                         .boundingRect(QRect(), Qt::TextShowMnemonic, button->text())
                                         .width());
            previousRight = b.right();
        }
        if (image != nullptr) {
            EXPECT_EQ(image->geometry(), QRect(image->x(), image->y(), 32, 32));
            EXPECT_GT(text.left(), image->geometry().right());
        }
        EXPECT_LE(text.right(), form->width() - 1);
        // The button group is centred.
        const int left = form->Buttons().first()->x();
        const int right = form->width() - 1 - form->Buttons().last()->geometry().right();
        EXPECT_LE(std::abs(left - right), 1);
        EXPECT_GT(charSize.width(), 0);
    }
    // A long text breaks into several lines at half the screen's width.
    std::unique_ptr<TTntMessageForm> wrapped(CreateMessageForm(longText, TMsgDlgType::mtError, {mbOK}));
    const QRect text = wrapped->findChild<QLabel*>(QStringLiteral("Message"))->geometry();
    EXPECT_GT(text.width(), halfScreen * 3 / 4);
    EXPECT_GE(text.height(), 3 * QFontMetrics(wrapped->font()).height());
}

TEST(MessageForm, CentresOnItsOwnerOrTheMainWindow)
{
    QWidget owner;
    owner.setGeometry(40, 60, 500, 300);
    owner.show();
    QWidget mainForm;
    mainForm.setGeometry(300, 200, 400, 400);
    mainForm.show();
    SetMessageFormMainForm(&mainForm);
    struct Case {
        const char* Name;
        QWidget* Owner;
        QWidget* CentreOf;
    } const cases[] = {{"owner", &owner, &owner}, {"no owner", nullptr, &mainForm}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        OnNextModal<TTntMessageForm>([&](TTntMessageForm* form) {
            const QPoint centre = form->frameGeometry().center();
            const QPoint expected = c.CentreOf->frameGeometry().center();
            EXPECT_LE(std::abs(centre.x() - expected.x()), 1);
            EXPECT_LE(std::abs(centre.y() - expected.y()), 1);
            form->done(mrOk);
        });
        EXPECT_EQ(MsgBoxEx(c.Owner, QStringLiteral("가운데"), QString(), 0x40), 1);
    }
    SetMessageFormMainForm(nullptr);
}

TEST(MessageForm, CaptionsFollowTheLanguageTable)
{
    using enum TMsgDlgBtn;
    LanguageTable().LoadBytes("[Dialogs]\nMLMSG_YES=Yes\nMLMSG_NO=&No\nMLMSG_CONFIRMATION=Question\n");
    std::unique_ptr<TTntMessageForm> form(CreateMessageForm(QStringLiteral("?"), TMsgDlgType::mtConfirmation,
                                                            {mbYes, mbNo, mbCancel}));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Question"));
    QStringList captions;
    for (const QPushButton* button : form->Buttons())
        captions << button->text();
    // MLMSG_CANCEL is missing from the file: its button shows nothing but keeps its width.
    EXPECT_EQ(captions, (QStringList{QStringLiteral("Yes"), QStringLiteral("&No"), QString()}));
    EXPECT_EQ(form->Buttons()[2]->width(), form->Buttons()[0]->width());
    EXPECT_GT(form->Buttons()[2]->width(), 0);
    LanguageTable().Reset();
}

TEST(MessageForm, TablesRejectValuesOutsideThem)
{
    EXPECT_THROW(GetMessageCaption(static_cast<TMsgDlgType>(5)), EMessageFormError);
    EXPECT_THROW(GetButtonCaption(static_cast<TMsgDlgBtn>(11)), EMessageFormError);
    EXPECT_EQ(GetButtonCaption(TMsgDlgBtn::mbYesToAll), QStringLiteral("Yes to &All"));
    EXPECT_EQ(GetButtonModalResult(TMsgDlgBtn::mbHelp), 0);
}

TEST(MessageForm, MulDivRoundsHalvesAwayFromZero)
{
    struct Case {
        int A, B, C, Expected;
    } const cases[] = {
        {8, 7, 4, 14}, {10, 7, 4, 18}, {1, 1, 2, 1}, {-1, 1, 2, -1}, {1, -3, 2, -2}, {3, 3, 0, -1}, {50, 6, 4, 75},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MulDiv(c.A, c.B, c.C), c.Expected) << c.A << "*" << c.B << "/" << c.C;
}

} // namespace
