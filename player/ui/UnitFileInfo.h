#pragma once

// TfrmFileInfo: the properties of the open recording on two tabs (General: kind, version,
// location, size, play time, dates; Summary: the password and the summary), where the
// password can be changed or removed and the summary edited.
//
// The dialog works on a copy of the recording's header. Only PasswordText and SummaryText
// of the copy change. The caller reads the copy back when the dialog ends with mrOk (OK
// always stores the summary, so even an unchanged dialog hands the header back); Cancel,
// Esc and the close box end it with mrCancel and the copy, with every change made, is
// dropped. The dialog never writes to the file itself.

#include "RecordingFormat.h"

#include <QDateTime>
#include <QDialog>
#include <QLabel>
#include <QString>

#include <cstdint>
#include <string>

class QLocale;
class QPlainTextEdit;
class QPushButton;
class QShowEvent;
class QTabWidget;

namespace qrv {

// A label that acts as a link: blue, underlined with the hand cursor while the mouse is
// over it; a left click emits Clicked.
class TLinkLabel : public QLabel {
    Q_OBJECT

public:
    explicit TLinkLabel(QWidget* parent = nullptr);

signals:
    void Clicked();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void SetHot(bool hot);
};

class TfrmFileInfo : public QDialog {
    Q_OBJECT

public:
    explicit TfrmFileInfo(QWidget* owner = nullptr);

    // The recording's path (file-system bytes), a copy of its header and its total play
    // time in ms. Call before showing.
    void SetFileInfo(const std::string& path, const RecordingHeader& header, int32_t playTimeMs);

    // The working copy.
    const RecordingHeader& Header() const { return m_header; }

    // Change link: asks for a new password with TfrmPassword; on OK stores it (an empty
    // entry removes the password), on Cancel changes nothing.
    void lblPasswordChangeClick();
    // Delete link: when a password is set, asks (Yes/No) and removes it on Yes.
    void lblPasswordDeleteClick();

    // OK: stores the memo's summary into the copy and ends with mrOk.
    void accept() override;
    // Cancel, Esc, close box: ends with mrCancel.
    void reject() override;

    QTabWidget* pcInfo = nullptr;
    QWidget* tbsGeneral = nullptr;
    QWidget* tbsSummary = nullptr;
    QLabel* lblRecType = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblFilePath = nullptr;
    QLabel* lblFileSize = nullptr;
    QLabel* lblPlayTime = nullptr;
    QLabel* lblMakeDate = nullptr;
    QLabel* lblStartDate = nullptr;
    QLabel* lblEndDate = nullptr;
    QLabel* stxtPassword = nullptr;
    TLinkLabel* lblPasswordChange = nullptr;
    TLinkLabel* lblPasswordDelete = nullptr;
    QPlainTextEdit* TntMemo1 = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void LimitMemo();

    // Caption labels, in the order of the language keys they show.
    QLabel* m_captions[10] = {};
    std::string m_path;
    RecordingHeader m_header;
    int32_t m_playTimeMs = 0;
    QString m_memoText; // the memo's last text within the limits
};

// Shows the dialog modally over `owner` for a copy of `header`; when it ends with OK the
// copy is written back into `header` and the answer is true.
bool EditFileInfo(QWidget* owner, const std::string& path, RecordingHeader& header, int32_t playTimeMs);

// The texts of the General tab.

// `value` with `separator` between groups of three digits ("3,000,000").
QString GroupThousands(uint64_t value, const QString& separator);
// "%sKB (%s <bytes word>)": the size in KB (rounded down) and in bytes, each with the
// locale's group separator; the bytes word is MLMSG_INFO_18.
QString FileSizeText(uint32_t recordedSize, const QLocale& locale);
// "hh:mm:ss" of a play time in ms.
QString PlayTimeText(int32_t ms);
// A date and time as the locale writes it: short date, a blank, long time (without the
// time zone).
QString DateTimeText(const QDateTime& when, const QLocale& locale);
// DateTimeText of a header date-time; empty when it is not a date.
QString OleDateTimeText(double oleDate, const QLocale& locale);
// The file's creation time (its last change when the file system keeps none) in local
// time, with the seconds rounded down to even ones; the current time when there is no
// such file.
QDateTime FileCreatedTime(const std::string& path);

// The summary as the header stores it: line breaks as CR LF, cut at a character boundary
// so that its Base64 form fits SummaryText whole, then Base64.
std::string SummaryForStorage(const QString& memoText);
// The stored summary as the memo shows it (line breaks as the memo writes them).
QString SummaryForMemo(const RecordingHeader& header);

// A new password as the header stores it: `entry` (system code page) cut at a character
// boundary so that it has at most 16 bytes, then encoded. Also answers the kept part.
std::string PasswordTextForEntry(const std::string& entry, std::string* keptUtf8 = nullptr);

// The most characters the summary memo holds (line breaks count as two).
inline constexpr int MaxSummaryMemoChars = 250;

// The memo's text after an edit turned `before` into `after`: when `after` would not fit
// (MaxSummaryMemoChars, or a stored form that would have to be cut) the inserted part is
// shortened at a character boundary until it fits, as a length-limited edit refuses typing
// beyond its limit. `cursor` gets the position after the kept insertion.
QString LimitSummaryEdit(const QString& before, const QString& after, int* cursor);

} // namespace qrv
