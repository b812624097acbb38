#pragma once

// TAboutBox: the player's About dialog: the program's icon, its title, its version and a
// notice line, all texts from the language table. OK and Esc close it with mrOk.

#include <QDialog>
#include <QPixmap>
#include <QSize>

class QFrame;
class QKeyEvent;
class QLabel;
class QPushButton;
class QShowEvent;

namespace qrv {

// The program's icon (assets/icons/BrisaPlayer.svg, compiled into the program) drawn at
// `size`; a null pixmap when it cannot be drawn.
QPixmap ProgramIconPixmap(QSize size);

class TAboutBox : public QDialog {
    Q_OBJECT

public:
    explicit TAboutBox(QWidget* owner = nullptr);

    QFrame* Panel1 = nullptr;
    QLabel* ProgramIcon = nullptr;
    QLabel* lblProductName = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblNotice = nullptr;
    QPushButton* OKButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormShow();
};

} // namespace qrv
