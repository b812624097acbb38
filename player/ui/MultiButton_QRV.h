#pragma once

// TMultiButton_QRV: the player's skinned button. Every button of the main window's title and
// control bars is one.
//
// It draws one of four pictures for its visual state (normal, mouse over, pressed, disabled)
// and holds two full sets of them; Toggle chooses the set. The player uses set 2 for the other
// face of a two-faced button: pause on the play button, restore on the maximise button, muted
// on the mute button. With AllowDown a press flips Down, which latches the pressed picture.
//
// The button takes the size of its set-1 normal picture whenever it has one. Where the active
// set lacks a picture, a white box with the text "MButton_QRV" shows instead, so that a missing
// skin picture is easy to see.
//
// Events are called only when set, on the window thread; the sender comes first. OnClick fires
// when the left button is released over the button, before the state is updated.

#include <QPixmap>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>

namespace qrv {

class TMultiButton_QRV : public QWidget {
    Q_OBJECT

public:
    // Visual states, as FState holds them.
    enum TState : uint8_t { stNormal = 0, stOver = 1, stDown = 2, stDisabled = 3 };

    explicit TMultiButton_QRV(QWidget* parent = nullptr);
    ~TMultiButton_QRV() override;

    // The picture of `state` in set 1 or 2 (other set numbers read set 1). A picture is
    // copied in; a null picture means "none".
    const QPixmap& Image(int set, TState state) const;
    void SetImage(int set, TState state, const QPixmap& picture);

    const QPixmap& Image1Normal() const { return Image(1, stNormal); }
    void SetImage1Normal(const QPixmap& p) { SetImage(1, stNormal, p); }
    void SetImage1Over(const QPixmap& p) { SetImage(1, stOver, p); }
    void SetImage1Down(const QPixmap& p) { SetImage(1, stDown, p); }
    void SetImage1Disable(const QPixmap& p) { SetImage(1, stDisabled, p); }
    void SetImage2Normal(const QPixmap& p) { SetImage(2, stNormal, p); }
    void SetImage2Over(const QPixmap& p) { SetImage(2, stOver, p); }
    void SetImage2Down(const QPixmap& p) { SetImage(2, stDown, p); }
    void SetImage2Disable(const QPixmap& p) { SetImage(2, stDisabled, p); }

    // Hints per set: when the active set's hint is not empty it becomes Hint when the hint is
    // about to show.
    QString Image1Hint;
    QString Image2Hint;
    const QString& Hint() const { return m_hint; }
    void SetHint(const QString& hint);

    bool Toggle() const { return m_toggle; }
    void SetToggle(bool value);
    bool AllowDown = false;
    bool Down() const { return m_down; }
    void SetDown(bool value);

    TState State() const { return m_state; }
    bool MouseInside() const { return m_mouseInside; }

    std::function<void(TMultiButton_QRV& sender)> OnClick;
    std::function<void(TMultiButton_QRV& sender)> OnDblClick;
    std::function<void(TMultiButton_QRV& sender)> OnMouseEnter;
    std::function<void(TMultiButton_QRV& sender)> OnMouseLeave;

    // Size of the set-1 normal picture when there is one, else the default 100 x 20.
    QSize sizeHint() const override;

    // Draws `state` of the active set as the button shows it (the box where a picture is
    // missing) onto `painter` at (0, 0).
    void DrawState(QPainter& painter, TState state) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void ApplyPictureSize();
    void SetState(TState state);
    void MouseUp(bool inside);

    QPixmap m_images[2][4];
    QString m_hint;
    bool m_toggle = false;
    bool m_down = false;
    TState m_state = stNormal;
    bool m_mouseInside = false;
};

} // namespace qrv
