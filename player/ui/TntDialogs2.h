#pragma once

// The player's message box: a dialog built in code whose caption and Yes, No, OK and
// Cancel buttons come from the language table, so that they follow the chosen language.
// MsgBoxEx (MsgBoxExUnit.h) is the usual way in; this unit holds the form and its parts.
//
// Contract: main (GUI) thread only; a QApplication must exist. The box is modal.

#include <QDialog>
#include <QList>
#include <QSize>
#include <QString>

#include <cstdint>
#include <initializer_list>
#include <stdexcept>

class QFont;
class QFontMetrics;
class QKeyEvent;
class QShowEvent;
class QLabel;
class QPushButton;

namespace qrv {

// Message types, each with its caption and icon (see GetMessageCaption).
enum class TMsgDlgType : uint8_t {
    mtWarning,
    mtError,
    mtInformation,
    mtConfirmation,
    mtCustom,
};

// Buttons, in the order in which a set of them is shown, left to right.
enum class TMsgDlgBtn : uint8_t {
    mbYes,
    mbNo,
    mbOK,
    mbCancel,
    mbAbort,
    mbRetry,
    mbIgnore,
    mbAll,
    mbNoToAll,
    mbYesToAll,
    mbHelp,
};
inline constexpr int MsgDlgBtnCount = 11;

// A set of buttons (one bit per TMsgDlgBtn).
class TMsgDlgButtons {
public:
    constexpr TMsgDlgButtons() = default;
    constexpr TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> buttons)
    {
        for (const TMsgDlgBtn button : buttons)
            m_bits = static_cast<uint16_t>(m_bits | Bit(button));
    }
    constexpr bool Contains(TMsgDlgBtn button) const { return (m_bits & Bit(button)) != 0; }
    constexpr bool operator==(const TMsgDlgButtons&) const = default;

private:
    static constexpr uint16_t Bit(TMsgDlgBtn button) { return static_cast<uint16_t>(1u << static_cast<unsigned>(button)); }
    uint16_t m_bits = 0;
};

// Modal results: what a button, Esc or the close box ends the dialog with.
enum TModalResult : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrAll = 8,
    mrNoToAll = 9,
    mrYesToAll = 10,
};

// Raised for a message type or button outside the tables; MsgBoxEx never causes it.
class EMessageFormError : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// The caption of a message type: the language table's MLMSG_WARNING, _ERROR, _INFORMATION
// or _CONFIRMATION text, or the application title (QGuiApplication::applicationDisplayName)
// for mtCustom. Throws EMessageFormError for any other value.
QString GetMessageCaption(TMsgDlgType type);

// A button's caption: MLMSG_YES, _NO, _OK and _CANCEL from the language table; the others
// are fixed and not translated ("&Abort", "&Retry", "&Ignore", "&All", "N&o to All",
// "Yes to &All", "&Help"). Throws EMessageFormError for any other value.
QString GetButtonCaption(TMsgDlgBtn button);

// The button's object name ("Yes", "No", "OK", ...) and modal result (Help has none: 0).
QString GetButtonName(TMsgDlgBtn button);
int GetButtonModalResult(TMsgDlgBtn button);

// The average character size of a font in pixels: width from the 52 letters A-Z and a-z,
// (measured width / 26 + 1) / 2; height the font's line height.
QSize GetAverageCharSize(const QFontMetrics& metrics);

// MulDiv: a * b / c rounded to the nearest integer, halves away from zero; -1 when c is 0.
int MulDiv(int a, int b, int c);

// Brings the window to the front and gives it the focus; restores it first when it is
// minimised. True when it is the active window afterwards.
bool ForceForegroundWindow(QWidget* window);

// The player's main window, on which message boxes without an owner are centred. The main
// window sets itself; null (the default) centres such boxes on the screen.
void SetMessageFormMainForm(QWidget* mainForm);
QWidget* MessageFormMainForm();

// The message box form. Its children are one word-wrapping label named "Message", an
// optional 32 x 32 picture named "Image" and one push button per requested button, named
// after it. Enter presses the default button, Esc the cancel button (nothing when there is
// none), the close box ends it with mrCancel. Ctrl+C copies the box's contents to the
// clipboard (CopyText).
class TTntMessageForm : public QDialog {
    Q_OBJECT

public:
    TTntMessageForm(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons);

    TMsgDlgType MessageType() const { return m_type; }
    QPushButton* DefaultButton() const { return m_default; }
    QPushButton* CancelButton() const { return m_cancel; }
    const QList<QPushButton*>& Buttons() const { return m_buttons; }

    // What Ctrl+C copies: a line of 27 dashes, the caption, dashes, the message, dashes,
    // the button captions each followed by three blanks and without "&", dashes; the lines
    // joined and ended by CR LF.
    QString CopyText() const;

    // Ends the box with mrCancel (the close box).
    void reject() override;

    int HelpContext = 0;
    QString HelpFile;

signals:
    // The Help button was clicked; the form stays open.
    void HelpRequested(int helpContext, const QString& helpFile);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    TMsgDlgType m_type;
    QString m_text;
    QLabel* m_message = nullptr;
    QList<QPushButton*> m_buttons;
    QPushButton* m_default = nullptr;
    QPushButton* m_cancel = nullptr;
};

// The font of message boxes: the platform theme's message-box font, else the application
// font.
QFont MessageFormFont();

// A new message form, laid out and placed in the middle of the screen; the caller owns it.
TTntMessageForm* CreateMessageForm(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons);

// Shows a message form modally and answers its modal result. A non-negative x or y sets
// the form's left or top; when both are negative the form is centred on `owner`, or on
// the main window (SetMessageFormMainForm) when there is no owner.
int ShowMessageForm(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons, QWidget* owner,
                    const QString& helpFileName, int x, int y, int helpContext);

} // namespace qrv
