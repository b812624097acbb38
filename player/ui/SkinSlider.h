#pragma once

// TSkinSlider: the skinned horizontal slider of the control bar (the playbar and the volume
// slider). A ruler drawn across its middle, filled up to the thumb, and a thumb picture.
//
// Position runs from 0 to Max. The thumb's centre lies at ThumbWidth / 2 + Position *
// (width - ThumbWidth) / Max pixels from the left, so both ends of the ruler are reachable;
// with Max 0 the thumb stays at the left end and every press lands on 0.
//
// The user changes the position by pressing on the slider (the thumb jumps to the press) and
// dragging. A change by the user calls OnBeginChange at the press, OnChanged for every
// position it passes through, and OnStopChanged at the release; SetPosition from code calls
// none of them. Events are called only when set, on the window thread.

#include <QPixmap>
#include <QWidget>

#include <functional>

namespace qrv {

class TSkinSlider : public QWidget {
    Q_OBJECT

public:
    explicit TSkinSlider(QWidget* parent = nullptr);

    int Position() const { return m_position; }
    // Clamped to 0..Max; repaints when it changes.
    void SetPosition(int position);
    int Max() const { return m_max; }
    // Negative values count as 0; the position is clamped to the new maximum.
    void SetMax(int max);

    void SetThumb(const QPixmap& normal, const QPixmap& over, const QPixmap& disabled);
    int ThumbWidth() const { return m_thumb.isNull() ? 0 : m_thumb.width(); }
    // Height of the ruler in pixels.
    int RulerHeight = 4;

    // Pixel of the thumb's centre for `position`, and the position under pixel `x`.
    int ThumbCentre(int position) const;
    int PositionAt(int x) const;
    // True between the press and the release of a change by the user.
    bool Dragging() const { return m_dragging; }

    std::function<void(TSkinSlider& sender)> OnBeginChange;
    std::function<void(TSkinSlider& sender)> OnChanged;
    std::function<void(TSkinSlider& sender)> OnStopChanged;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void MoveTo(int x);

    int m_position = 0;
    int m_max = 100;
    bool m_dragging = false;
    bool m_hover = false;
    QPixmap m_thumb, m_thumbOver, m_thumbDisabled;
};

} // namespace qrv
