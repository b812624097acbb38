#pragma once

// TfrmSmallVideo: the small picture window beside the main window. It shows the pictures of
// the recording's picture records (slides) while a recording plays.
//
// Borderless, always on top, and never taking the keyboard: showing it or clicking it leaves
// the focus with the main window. A left press on the picture drags the window. It starts
// at 1 x 1 and takes the size of each picture it is given.

#include <QImage>
#include <QWidget>

namespace qrv {

class TBitmap24;

class TfrmSmallVideo : public QWidget {
    Q_OBJECT

public:
    explicit TfrmSmallVideo(QWidget* parent = nullptr);

    // Resizes the window to the picture when its size differs, then shows the picture.
    void ShowPicture(const TBitmap24& picture);
    const QImage& Picture() const { return m_picture; }

    // The main window, for docking (given at the main window's first showing).
    QWidget* FMainHandle = nullptr;
    bool FDocked = false;
    int FDockX = 0;
    int FDockY = 0;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QImage m_picture;
};

// A copy of a 24-bit picture as a 32-bit QImage (Format_RGB32), ready to paint; a null image
// for an empty picture.
QImage ToQImage(const TBitmap24& picture);

} // namespace qrv
