#include "TntDialogs2.h"

#include "UnitLanguage.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <algorithm>
#include <cstdlib>

namespace qrv {

namespace {

QString Lang(TLangMsg key) { return QString::fromStdString(LangText(key)); }

struct TButtonInfo {
    const char* Name;
    const char* FixedCaption; // null: from the language table
    TLangMsg CaptionKey;
    int ModalResult;
};

constexpr TButtonInfo ButtonTable[MsgDlgBtnCount] = {
    {"Yes", nullptr, MLMSG_YES, mrYes},
    {"No", nullptr, MLMSG_NO, mrNo},
    {"OK", nullptr, MLMSG_OK, mrOk},
    {"Cancel", nullptr, MLMSG_CANCEL, mrCancel},
    {"Abort", "&Abort", MLMSG_OK, mrAbort},
    {"Retry", "&Retry", MLMSG_OK, mrRetry},
    {"Ignore", "&Ignore", MLMSG_OK, mrIgnore},
    {"All", "&All", MLMSG_OK, mrAll},
    {"NoToAll", "N&o to All", MLMSG_OK, mrNoToAll},
    {"YesToAll", "Yes to &All", MLMSG_OK, mrYesToAll},
    {"Help", "&Help", MLMSG_OK, mrNone},
};

const TButtonInfo& ButtonInfo(TMsgDlgBtn button)
{
    const auto index = static_cast<unsigned>(button);
    if (index >= static_cast<unsigned>(MsgDlgBtnCount))
        throw EMessageFormError("Unexpected MsgDlgBtn in GetButtonCaption.");
    return ButtonTable[index];
}

// The standard icon of a message type; none for the custom type.
QPixmap MessageIcon(TMsgDlgType type, const QStyle* style)
{
    QStyle::StandardPixmap which;
    switch (type) {
    case TMsgDlgType::mtWarning: which = QStyle::SP_MessageBoxWarning; break;
    case TMsgDlgType::mtError: which = QStyle::SP_MessageBoxCritical; break;
    case TMsgDlgType::mtInformation: which = QStyle::SP_MessageBoxInformation; break;
    case TMsgDlgType::mtConfirmation: which = QStyle::SP_MessageBoxQuestion; break;
    default: return {};
    }
    return style->standardIcon(which).pixmap(32, 32);
}

// How the message text is measured and drawn: wrapped at word boundaries, tabs expanded.
constexpr int MessageTextFlags = Qt::TextWordWrap | Qt::TextExpandTabs;

// The "Message" label. It draws its text with the same flags that measured it, so the text
// breaks into exactly the lines that the box was sized for (a plain word-wrapping QLabel
// lays text out by its own rules and could need one line more than measured).
class TMessageLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setFont(font());
        painter.setPen(palette().color(QPalette::WindowText));
        const Qt::Alignment side = layoutDirection() == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft;
        painter.drawText(rect(), MessageTextFlags | side | Qt::AlignTop, text());
    }
};

QRect ScreenRect()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->geometry() : QRect(0, 0, 1024, 768);
}

QPointer<QWidget>& MainFormPointer()
{
    static QPointer<QWidget> mainForm;
    return mainForm;
}

// Moves `form` so that its frame is centred on the frame of `window`. The form's own frame
// is not known before the window system shows it; the window's frame size stands in for
// it, as both are decorated alike.
void CentreOn(QWidget* form, const QWidget* window)
{
    const QRect area = window->frameGeometry();
    const QSize decoration = area.size() - window->geometry().size();
    const QSize size = form->isVisible() ? form->frameGeometry().size() : form->size() + decoration;
    form->move(area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2);
}

} // namespace

QString GetMessageCaption(TMsgDlgType type)
{
    switch (type) {
    case TMsgDlgType::mtWarning: return Lang(MLMSG_WARNING);
    case TMsgDlgType::mtError: return Lang(MLMSG_ERROR);
    case TMsgDlgType::mtInformation: return Lang(MLMSG_INFORMATION);
    case TMsgDlgType::mtConfirmation: return Lang(MLMSG_CONFIRMATION);
    case TMsgDlgType::mtCustom: return QGuiApplication::applicationDisplayName();
    }
    throw EMessageFormError("Unexpected MsgType in GetMessageCaption.");
}

QString GetButtonCaption(TMsgDlgBtn button)
{
    const TButtonInfo& info = ButtonInfo(button);
    return info.FixedCaption != nullptr ? QString::fromLatin1(info.FixedCaption) : Lang(info.CaptionKey);
}

QString GetButtonName(TMsgDlgBtn button) { return QString::fromLatin1(ButtonInfo(button).Name); }

int GetButtonModalResult(TMsgDlgBtn button) { return ButtonInfo(button).ModalResult; }

QSize GetAverageCharSize(const QFontMetrics& metrics)
{
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int width = metrics.horizontalAdvance(letters);
    return {(width / 26 + 1) / 2, metrics.height()};
}

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const long long product = static_cast<long long>(a) * b;
    const long long half = std::llabs(static_cast<long long>(c)) / 2;
    // Round half away from zero, whatever the signs.
    const bool negative = (product < 0) != (c < 0);
    const long long magnitude = (std::llabs(product) + half) / std::llabs(static_cast<long long>(c));
    return static_cast<int>(negative ? -magnitude : magnitude);
}

bool ForceForegroundWindow(QWidget* window)
{
    if (window == nullptr)
        return false;
    QWidget* top = window->window();
    if (top->isMinimized())
        top->setWindowState((top->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    if (top->isActiveWindow())
        return true;
    top->raise();
    top->activateWindow();
    return top->isActiveWindow();
}

void SetMessageFormMainForm(QWidget* mainForm) { MainFormPointer() = mainForm; }

QWidget* MessageFormMainForm() { return MainFormPointer().data(); }

QFont MessageFormFont() { return QApplication::font("QMessageBoxLabel"); }

TTntMessageForm::TTntMessageForm(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint)
    , m_type(type)
    , m_text(text)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setLayoutDirection(QGuiApplication::layoutDirection());
    setFont(MessageFormFont());
    const QFontMetrics metrics(font());

    // Margins, spacings and button size in dialog units of the average character size.
    const QSize charSize = GetAverageCharSize(metrics);
    const int w = charSize.width();
    const int h = charSize.height();
    const int horzMargin = MulDiv(8, w, 4);
    const int vertMargin = MulDiv(8, h, 8);
    const int horzSpacing = MulDiv(10, w, 4);
    const int vertSpacing = MulDiv(10, h, 8);
    int buttonWidth = MulDiv(50, w, 4);
    const int buttonHeight = MulDiv(14, h, 8);
    const int buttonSpacing = MulDiv(4, w, 4);

    int buttonCount = 0;
    for (int b = 0; b < MsgDlgBtnCount; ++b) {
        const auto button = static_cast<TMsgDlgBtn>(b);
        if (!buttons.Contains(button))
            continue;
        ++buttonCount;
        const QRect caption = metrics.boundingRect(QRect(), Qt::TextSingleLine | Qt::TextShowMnemonic,
                                                   GetButtonCaption(button));
        buttonWidth = std::max(buttonWidth, caption.width() + 8);
    }

    // The text wraps at half the screen's width.
    const QRect textRect = metrics.boundingRect(QRect(0, 0, ScreenRect().width() / 2, 0), MessageTextFlags, text);
    const int textWidth = textRect.width();
    const int textHeight = textRect.height();

    const QPixmap icon = MessageIcon(type, style());
    const bool hasIcon = type != TMsgDlgType::mtCustom;
    const int iconTextWidth = hasIcon ? textWidth + 32 + horzSpacing : textWidth;
    const int iconTextHeight = hasIcon ? std::max(textHeight, 32) : textHeight;

    const int groupWidth = buttonCount > 0 ? buttonCount * buttonWidth + (buttonCount - 1) * buttonSpacing : 0;
    const int clientWidth = std::max(iconTextWidth, groupWidth) + 2 * horzMargin;
    const int clientHeight = iconTextHeight + buttonHeight + vertSpacing + 2 * vertMargin;
    setFixedSize(clientWidth, clientHeight);

    const QRect screen = ScreenRect();
    move(screen.left() + screen.width() / 2 - clientWidth / 2, screen.top() + screen.height() / 2 - clientHeight / 2);

    setWindowTitle(GetMessageCaption(type));

    if (hasIcon) {
        auto* image = new QLabel(this);
        image->setObjectName(QStringLiteral("Image"));
        image->setPixmap(icon);
        image->setGeometry(horzMargin, vertMargin, 32, 32);
    }

    m_message = new TMessageLabel(text, this);
    m_message->setObjectName(QStringLiteral("Message"));
    m_message->setWordWrap(true);
    int labelLeft = iconTextWidth + horzMargin - textWidth;
    if (layoutDirection() == Qt::RightToLeft)
        labelLeft = clientWidth - labelLeft - textWidth;
    m_message->setGeometry(labelLeft, vertMargin, textWidth, textHeight);

    // OK, else Yes, else Retry is the default; Cancel, else No, else OK answers Esc.
    TMsgDlgBtn defaultButton = TMsgDlgBtn::mbRetry;
    if (buttons.Contains(TMsgDlgBtn::mbOK))
        defaultButton = TMsgDlgBtn::mbOK;
    else if (buttons.Contains(TMsgDlgBtn::mbYes))
        defaultButton = TMsgDlgBtn::mbYes;
    TMsgDlgBtn cancelButton = TMsgDlgBtn::mbOK;
    if (buttons.Contains(TMsgDlgBtn::mbCancel))
        cancelButton = TMsgDlgBtn::mbCancel;
    else if (buttons.Contains(TMsgDlgBtn::mbNo))
        cancelButton = TMsgDlgBtn::mbNo;

    int x = (clientWidth - groupWidth) / 2;
    const int y = iconTextHeight + vertMargin + vertSpacing;
    for (int b = 0; b < MsgDlgBtnCount; ++b) {
        const auto button = static_cast<TMsgDlgBtn>(b);
        if (!buttons.Contains(button))
            continue;
        auto* push = new QPushButton(GetButtonCaption(button), this);
        push->setObjectName(GetButtonName(button));
        push->setGeometry(x, y, buttonWidth, buttonHeight);
        x += buttonWidth + buttonSpacing;
        const int result = GetButtonModalResult(button);
        if (button == TMsgDlgBtn::mbHelp)
            connect(push, &QPushButton::clicked, this, [this] { emit HelpRequested(HelpContext, HelpFile); });
        else
            connect(push, &QPushButton::clicked, this, [this, result] { done(result); });
        if (button == defaultButton) {
            push->setDefault(true);
            push->setFocus();
            m_default = push;
        }
        if (button == cancelButton)
            m_cancel = push;
        m_buttons.append(push);
    }
}

QString TTntMessageForm::CopyText() const
{
    const QString dashes(27, QLatin1Char('-'));
    const QString lineEnd = QStringLiteral("\r\n");
    QString buttons;
    for (const QPushButton* button : m_buttons)
        buttons += QString(button->text()).remove(QLatin1Char('&')) + QStringLiteral("   ");
    return dashes + lineEnd + windowTitle() + lineEnd + dashes + lineEnd + m_text + lineEnd + dashes + lineEnd +
           buttons + lineEnd + dashes + lineEnd;
}

void TTntMessageForm::keyPressEvent(QKeyEvent* event)
{
    // Only Ctrl, no other modifier key (the keypad flag is not a key).
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_C && modifiers == Qt::ControlModifier) {
        QApplication::beep();
        QGuiApplication::clipboard()->setText(CopyText());
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape && modifiers == Qt::NoModifier) {
        // Esc presses the cancel button; a box without one (Abort, Retry, Ignore) stays.
        if (m_cancel != nullptr)
            m_cancel->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TTntMessageForm::reject()
{
    // The close box ends the box like a Cancel button would, also when it has none.
    done(mrCancel);
}

void TTntMessageForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ForceForegroundWindow(this);
}

TTntMessageForm* CreateMessageForm(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons)
{
    return new TTntMessageForm(text, type, buttons);
}

int ShowMessageForm(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons, QWidget* owner,
                    const QString& helpFileName, int x, int y, int helpContext)
{
    TTntMessageForm* form = CreateMessageForm(text, type, buttons);
    form->HelpContext = helpContext;
    form->HelpFile = helpFileName;
    if (x >= 0)
        form->move(x, form->y());
    if (y >= 0)
        form->move(form->x(), y);
    if (x < 0 && y < 0) {
        QWidget* centreOn = owner != nullptr ? owner->window() : MessageFormMainForm();
        if (centreOn != nullptr)
            CentreOn(form, centreOn);
    }
    const int result = form->exec();
    delete form;
    return result;
}

} // namespace qrv
