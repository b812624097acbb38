#include "UnitPassword.h"

#include "SystemCodePage.h"
#include "SystemFont.h"
#include "TntDialogs2.h"
#include "UnitLanguage.h"

#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QShowEvent>
#include <QPushButton>

namespace qrv {

namespace {

// Client area of the dialog, in pixels.
constexpr int ClientWidth = 265;
constexpr int ClientHeight = 101;

QString Lang(TLangMsg key) { return QString::fromStdString(LangText(key)); }

// Masks the password with "*" whatever the style would use (many draw a bullet).
class TStarPasswordStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

TfrmPassword::TfrmPassword(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint)
{
    setFixedSize(ClientWidth, ClientHeight);

    lblPrompt = new QLabel(this);
    lblPrompt->setObjectName(QStringLiteral("lblPrompt"));
    lblPrompt->setGeometry(8, 6, 249, 22);

    edtPassword = new QLineEdit(this);
    edtPassword->setObjectName(QStringLiteral("edtPassword"));
    edtPassword->setGeometry(8, 30, 249, 26);
    edtPassword->setEchoMode(QLineEdit::Password);
    // Created after the edit, so that it is destroyed after it too.
    auto* starStyle = new TStarPasswordStyle;
    starStyle->setParent(this);
    edtPassword->setStyle(starStyle);

    btnOK = new QPushButton(this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(101, 66, 75, 27);
    btnOK->setDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &TfrmPassword::accept);

    btnCancel = new QPushButton(this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(182, 66, 75, 27);
    btnCancel->setAutoDefault(false);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmPassword::reject);
}

void TfrmPassword::FormShow()
{
    ApplySystemFont(this);
    setWindowTitle(Caption);
    lblPrompt->setText(Prompt);
    btnOK->setText(Lang(MLMSG_OK));
    btnCancel->setText(Lang(MLMSG_CANCEL));
    edtPassword->clear();
    edtPassword->setFocus();
}

void TfrmPassword::showEvent(QShowEvent* event)
{
    // Texts are set on every showing, so a language chosen meanwhile is followed.
    if (!event->spontaneous())
        FormShow();
    QDialog::showEvent(event);
}

void TfrmPassword::accept()
{
    m_result = ToSystemCodePage(edtPassword->text().toStdString());
    done(mrOk);
}

void TfrmPassword::reject()
{
    m_result.clear();
    done(mrCancel);
}

} // namespace qrv
