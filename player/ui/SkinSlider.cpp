#include "SkinSlider.h"

#include "Skin.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace qrv {

TSkinSlider::TSkinSlider(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TSkinSlider::SetPosition(int position)
{
    position = std::clamp(position, 0, m_max);
    if (position == m_position)
        return;
    m_position = position;
    update();
}

void TSkinSlider::SetMax(int max)
{
    m_max = std::max(max, 0);
    m_position = std::min(m_position, m_max);
    update();
}

void TSkinSlider::SetThumb(const QPixmap& normal, const QPixmap& over, const QPixmap& disabled)
{
    m_thumb = normal;
    m_thumbOver = over;
    m_thumbDisabled = disabled;
    update();
}

int TSkinSlider::ThumbCentre(int position) const
{
    const int thumb = ThumbWidth();
    const int travel = std::max(width() - thumb, 0);
    if (m_max <= 0)
        return thumb / 2;
    return thumb / 2 + static_cast<int>(std::lround(double(position) * travel / m_max));
}

int TSkinSlider::PositionAt(int x) const
{
    const int thumb = ThumbWidth();
    const int travel = width() - thumb;
    if (m_max <= 0 || travel <= 0)
        return 0;
    const double position = double(x - thumb / 2) * m_max / travel;
    return std::clamp(static_cast<int>(std::lround(position)), 0, m_max);
}

void TSkinSlider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int thumb = ThumbWidth();
    const double top = (height() - RulerHeight) / 2.0;
    const QRectF ruler(thumb / 2.0 - 1, top, std::max(width() - thumb + 2, 0), RulerHeight);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isEnabled() ? SkinColour::Ruler : SkinColour::RulerDisabled);
    painter.drawRoundedRect(ruler, RulerHeight / 2.0, RulerHeight / 2.0);

    const int centre = ThumbCentre(m_position);
    if (isEnabled() && centre > ruler.left()) {
        painter.setBrush(SkinColour::RulerFill);
        painter.drawRoundedRect(QRectF(ruler.left(), top, centre - ruler.left(), RulerHeight),
                                RulerHeight / 2.0, RulerHeight / 2.0);
    }

    const QPixmap& picture = !isEnabled() ? m_thumbDisabled : (m_hover || m_dragging) ? m_thumbOver : m_thumb;
    if (!picture.isNull())
        painter.drawPixmap(centre - thumb / 2, (height() - picture.height()) / 2, picture);
}

void TSkinSlider::MoveTo(int x)
{
    const int position = PositionAt(x);
    if (position == m_position)
        return;
    m_position = position;
    update();
    if (OnChanged)
        OnChanged(*this);
}

void TSkinSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !isEnabled())
        return QWidget::mousePressEvent(event);
    m_dragging = true;
    if (OnBeginChange)
        OnBeginChange(*this);
    MoveTo(event->position().toPoint().x());
}

void TSkinSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging)
        MoveTo(event->position().toPoint().x());
}

void TSkinSlider::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_dragging)
        return QWidget::mouseReleaseEvent(event);
    MoveTo(event->position().toPoint().x());
    m_dragging = false;
    update();
    if (OnStopChanged)
        OnStopChanged(*this);
}

void TSkinSlider::enterEvent(QEnterEvent* event)
{
    m_hover = true;
    update();
    QWidget::enterEvent(event);
}

void TSkinSlider::leaveEvent(QEvent* event)
{
    m_hover = false;
    update();
    QWidget::leaveEvent(event);
}

} // namespace qrv
