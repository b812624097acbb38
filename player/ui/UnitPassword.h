#pragma once

// TfrmPassword: asks for a password. It serves the password change of the file information
// dialog and the password check when a protected recording is opened. The caller sets the
// caption and the prompt, shows it modally and, when it ends with mrOk, reads Result.

#include <QDialog>
#include <QString>

#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;

namespace qrv {

class TfrmPassword : public QDialog {
    Q_OBJECT

public:
    explicit TfrmPassword(QWidget* owner = nullptr);

    // Set before showing.
    QString Caption;
    QString Prompt;

    // The entered text in the system code page; empty until OK is pressed.
    const std::string& Result() const { return m_result; }

    QLineEdit* edtPassword = nullptr;
    QLabel* lblPrompt = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

    // OK: Result takes the edit's text and the dialog ends with mrOk. Cancel, Esc and the
    // close box end it with mrCancel and leave Result empty.
    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Fills the texts from Caption, Prompt and the language table and empties the edit.
    void FormShow();

    std::string m_result;
};

} // namespace qrv
