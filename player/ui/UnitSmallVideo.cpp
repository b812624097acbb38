#include "UnitSmallVideo.h"

#include "Bitmap24.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace qrv {

QImage ToQImage(const TBitmap24& picture)
{
    if (picture.Width() <= 0 || picture.Height() <= 0)
        return {};
    const QImage view(picture.Bits(), picture.Width(), picture.Height(), static_cast<qsizetype>(picture.Stride()),
                      QImage::Format_BGR888);
    return view.copy();
}

TfrmSmallVideo::TfrmSmallVideo(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(QStringLiteral("imgSmallVideo"));
    resize(1, 1);
}

void TfrmSmallVideo::ShowPicture(const TBitmap24& picture)
{
    m_picture = ToQImage(picture);
    if (m_picture.isNull())
        return;
    if (m_picture.size() != size())
        resize(m_picture.size());
    update();
}

void TfrmSmallVideo::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (m_picture.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(rect(), m_picture);
}

void TfrmSmallVideo::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && windowHandle() != nullptr) {
        windowHandle()->startSystemMove();
        return;
    }
    QWidget::mousePressEvent(event);
}

} // namespace qrv
