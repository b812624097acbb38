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
    // 32-bit pixels are what the screen takes: painting a 24-bit picture would convert it on
    // every paint (about five times the cost of this loop for a 640 x 480 picture).
    QImage image(picture.Width(), picture.Height(), QImage::Format_RGB32);
    if (image.isNull())
        return {};
    for (int32_t y = 0; y < picture.Height(); ++y) {
        const uint8_t* from = picture.Row(y);
        auto* to = reinterpret_cast<uint32_t*>(image.scanLine(y));
        for (int32_t x = 0; x < picture.Width(); ++x, from += 3)
            to[x] = 0xFF000000u | uint32_t(from[2]) << 16 | uint32_t(from[1]) << 8 | from[0];
    }
    return image;
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
