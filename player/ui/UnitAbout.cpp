#include "UnitAbout.h"

#include "SystemFont.h"
#include "TntDialogs2.h"
#include "UnitLanguage.h"
#include "_QRV_Utils.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QSvgRenderer>

// The library's resources are linked statically; this registers them before first use.
static void InitPlayerUiResources() { Q_INIT_RESOURCE(resources); }

namespace qrv {

namespace {

// Client area of the box, in pixels.
constexpr int ClientWidth = 377;
constexpr int ClientHeight = 180;

QString Lang(TLangMsg key) { return QString::fromStdString(LangText(key)); }

} // namespace

QPixmap ProgramIconPixmap(QSize size)
{
    static const bool registered = (InitPlayerUiResources(), true);
    (void)registered;
    QSvgRenderer renderer(QStringLiteral(":/icons/BrisaPlayer.svg"));
    if (!renderer.isValid() || size.isEmpty())
        return {};
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

TAboutBox::TAboutBox(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint)
{
    setFixedSize(ClientWidth, ClientHeight);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(8, 8, 361, 129);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(1);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(8, 8, 65, 57);
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setPixmap(ProgramIconPixmap(QSize(130, 114)));

    lblProductName = new QLabel(Panel1);
    lblProductName->setObjectName(QStringLiteral("lblProductName"));
    lblProductName->setGeometry(80, 16, 270, 26);
    QFont productFont = lblProductName->font();
    productFont.setPixelSize(16);
    productFont.setBold(true);
    lblProductName->setFont(productFont);

    lblVersion = new QLabel(Panel1);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->setGeometry(80, 48, 270, 23);

    lblNotice = new QLabel(Panel1);
    lblNotice->setObjectName(QStringLiteral("lblNotice"));
    lblNotice->setGeometry(8, 96, 345, 21);
    lblNotice->setAlignment(Qt::AlignCenter);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(151, 148, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, [this] { done(mrOk); });
}

void TAboutBox::FormShow()
{
    ApplySystemFont(this);
    setWindowTitle(Lang(MLMSG_POPUP_34));
    lblProductName->setText(Lang(MLMSG_MAIN_00));
    lblVersion->setText(Lang(MLMSG_ABOUT_01) + QStringLiteral("  ") + QString::fromStdString(GetVersionString()));
    lblNotice->setText(Lang(MLMSG_ABOUT_02));
}

void TAboutBox::showEvent(QShowEvent* event)
{
    if (!event->spontaneous())
        FormShow();
    QDialog::showEvent(event);
}

void TAboutBox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        done(mrOk);
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace qrv
