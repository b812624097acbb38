#include "MultiButton_QRV.h"

#include <QEnterEvent>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QToolTip>

namespace qrv {

namespace {

// Size of a button without a set-1 normal picture.
constexpr int DefaultWidth = 100;
constexpr int DefaultHeight = 20;

int SetIndex(int set) { return set == 2 ? 1 : 0; }

} // namespace

TMultiButton_QRV::TMultiButton_QRV(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_Hover, false);
    setMouseTracking(false);
    resize(DefaultWidth, DefaultHeight);
}

TMultiButton_QRV::~TMultiButton_QRV() = default;

const QPixmap& TMultiButton_QRV::Image(int set, TState state) const
{
    return m_images[SetIndex(set)][state & 3];
}

void TMultiButton_QRV::SetImage(int set, TState state, const QPixmap& picture)
{
    m_images[SetIndex(set)][state & 3] = picture;
    if (SetIndex(set) == 0 && state == stNormal)
        ApplyPictureSize();
    update();
}

// The button always has the size of its set-1 normal picture; without one it can be sized
// freely.
void TMultiButton_QRV::ApplyPictureSize()
{
    const QPixmap& normal = m_images[0][stNormal];
    if (normal.isNull()) {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        return;
    }
    setFixedSize(normal.deviceIndependentSize().toSize());
}

QSize TMultiButton_QRV::sizeHint() const
{
    const QPixmap& normal = m_images[0][stNormal];
    if (normal.isNull())
        return {DefaultWidth, DefaultHeight};
    return normal.deviceIndependentSize().toSize();
}

void TMultiButton_QRV::SetHint(const QString& hint)
{
    m_hint = hint;
}

void TMultiButton_QRV::SetToggle(bool value)
{
    m_toggle = value;
    update();
}

void TMultiButton_QRV::SetDown(bool value)
{
    m_down = value;
    if (isEnabled())
        m_state = m_down ? stDown : stNormal;
    update();
}

void TMultiButton_QRV::SetState(TState state)
{
    m_state = state;
    update();
}

void TMultiButton_QRV::DrawState(QPainter& painter, TState state) const
{
    const QPixmap* set = m_images[m_toggle ? 1 : 0];
    const QPixmap& normal = set[stNormal];
    const QSize boxSize = normal.isNull() ? size() : normal.deviceIndependentSize().toSize();

    // The box shows wherever the state's picture is missing or smaller.
    painter.save();
    painter.setPen(Qt::black);
    painter.setBrush(Qt::white);
    painter.drawRect(QRect(QPoint(0, 0), boxSize).adjusted(0, 0, -1, -1));
    painter.setPen(Qt::black);
    const QFontMetrics metrics(painter.font());
    painter.drawText(QPoint(2, 2 + metrics.ascent()), QStringLiteral("MButton_QRV"));
    painter.restore();

    const QPixmap& picture = set[state & 3];
    if (!picture.isNull())
        painter.drawPixmap(0, 0, picture);
}

void TMultiButton_QRV::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DrawState(painter, m_state);
}

void TMultiButton_QRV::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange)
        SetState(isEnabled() ? stNormal : stDisabled);
    QWidget::changeEvent(event);
}

void TMultiButton_QRV::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    if (OnMouseEnter)
        OnMouseEnter(*this);
    if (m_state == stDisabled || m_down)
        return;
    m_mouseInside = true;
    SetState(stOver);
}

void TMultiButton_QRV::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    if (OnMouseLeave)
        OnMouseLeave(*this);
    if (m_state == stDisabled || m_down)
        return;
    m_mouseInside = false;
    SetState(stNormal);
}

void TMultiButton_QRV::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    if (AllowDown)
        m_down = !m_down;
    SetState(stDown);
}

void TMultiButton_QRV::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click is a press like the first.
    mousePressEvent(event);
    if (event->button() == Qt::LeftButton && OnDblClick)
        OnDblClick(*this);
}

void TMultiButton_QRV::mouseReleaseEvent(QMouseEvent* event)
{
    QWidget::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    // While the button holds the mouse, the pointer can leave it without a leave event;
    // where the release happens decides both the click and the look afterwards.
    const bool inside = rect().contains(event->position().toPoint());
    if (inside && OnClick) {
        QPointer<TMultiButton_QRV> self(this);
        OnClick(*this);
        if (!self)
            return;
    }
    MouseUp(inside);
}

void TMultiButton_QRV::MouseUp(bool inside)
{
    m_mouseInside = inside;
    const bool enabled = isEnabled();
    TState next;
    if (m_mouseInside) {
        if (AllowDown)
            next = m_down ? stDown : stOver;
        else
            next = enabled ? stOver : stDisabled;
    } else if (enabled) {
        next = m_down ? stDown : stNormal;
    } else {
        m_down = false;
        next = stDisabled;
    }
    SetState(next);
}

bool TMultiButton_QRV::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        if (m_toggle && !Image2Hint.isEmpty())
            m_hint = Image2Hint;
        else if (!m_toggle && !Image1Hint.isEmpty())
            m_hint = Image1Hint;
        auto* help = static_cast<QHelpEvent*>(event);
        if (m_hint.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), m_hint, this);
        return true;
    }
    return QWidget::event(event);
}

} // namespace qrv
