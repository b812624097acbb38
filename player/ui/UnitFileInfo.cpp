#include "UnitFileInfo.h"

#include "HeaderTextCodec.h"
#include "MsgBoxExUnit.h"
#include "OleDateTime.h"
#include "SystemCodePage.h"
#include "SystemFont.h"
#include "TntDialogs2.h"
#include "UnitLanguage.h"
#include "UnitPassword.h"

#include <QEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLocale>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QTabWidget>
#include <QTextCursor>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>
#include <iterator>

namespace qrv {

namespace {

// Client area of the dialog, in pixels.
constexpr int ClientWidth = 416;
constexpr int ClientHeight = 367;

QString Lang(TLangMsg key) { return QString::fromStdString(LangText(key)); }

// The keys of the caption labels, in the order of m_captions.
constexpr TLangMsg CaptionKeys[] = {
    MLMSG_INFO_04, MLMSG_INFO_05, MLMSG_INFO_06, MLMSG_INFO_07, MLMSG_INFO_22,
    MLMSG_INFO_08, MLMSG_INFO_09, MLMSG_INFO_10, MLMSG_INFO_11, MLMSG_INFO_14,
};
constexpr int CaptionLabelCount = static_cast<int>(std::size(CaptionKeys));

// The memo's line breaks are LF; the stored summary keeps CR LF, as recorders write it.
QString MemoToStored(const QString& memo)
{
    QString stored = memo;
    stored.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    stored.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return stored;
}

// Whether a memo text is within the memo's length and stores whole.
bool SummaryFits(const QString& memo)
{
    const QString stored = MemoToStored(memo);
    return stored.size() <= MaxSummaryMemoChars && static_cast<size_t>(stored.toUtf8().size()) <= MaxSummaryUtf8Bytes;
}

// The long time format of `locale` without its time-zone field ("t"), which the header's
// local date-times have no use for.
QString LongTimeFormatWithoutZone(const QLocale& locale)
{
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        result += c;
    }
    return result.simplified();
}

} // namespace

TLinkLabel::TLinkLabel(QWidget* parent)
    : QLabel(parent)
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    setPalette(palette);
}

void TLinkLabel::SetHot(bool hot)
{
    QFont f = font();
    f.setUnderline(hot);
    setFont(f);
    if (hot)
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
}

void TLinkLabel::enterEvent(QEnterEvent* event)
{
    SetHot(true);
    QLabel::enterEvent(event);
}

void TLinkLabel::leaveEvent(QEvent* event)
{
    SetHot(false);
    QLabel::leaveEvent(event);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        event->accept();
        emit Clicked();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

TfrmFileInfo::TfrmFileInfo(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint)
{
    setFixedSize(ClientWidth, ClientHeight);

    for (int i = 0; i < CaptionLabelCount; ++i)
        m_captions[i] = new QLabel(this);

    pcInfo = new QTabWidget(this);
    pcInfo->setObjectName(QStringLiteral("pcInfo"));
    pcInfo->setGeometry(8, 8, 400, 316);

    // General: caption labels with value labels beside them.
    tbsGeneral = new QWidget;
    tbsGeneral->setObjectName(QStringLiteral("tbsGeneral"));
    auto* general = new QGridLayout(tbsGeneral);
    general->setContentsMargins(16, 16, 16, 16);
    general->setHorizontalSpacing(12);
    general->setVerticalSpacing(10);
    auto value = [this](const char* name) {
        auto* label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(name));
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return label;
    };
    lblRecType = value("lblRecType");
    lblVersion = value("lblVersion");
    lblFilePath = value("lblFilePath");
    lblFileSize = value("lblFileSize");
    lblPlayTime = value("lblPlayTime");
    lblMakeDate = value("lblMakeDate");
    lblStartDate = value("lblStartDate");
    lblEndDate = value("lblEndDate");
    QLabel* const values[] = {lblRecType, lblVersion, lblFilePath, lblFileSize,
                              lblPlayTime, lblMakeDate, lblStartDate, lblEndDate};
    // A rule after the version and after the play time groups the rows, as property sheets do.
    int row = 0;
    for (int i = 0; i < 8; ++i) {
        general->addWidget(m_captions[i], row, 0, Qt::AlignLeft | Qt::AlignVCenter);
        general->addWidget(values[i], row, 1);
        ++row;
        if (i == 1 || i == 4) {
            auto* rule = new QFrame;
            rule->setFrameShape(QFrame::HLine);
            rule->setFrameShadow(QFrame::Sunken);
            general->addWidget(rule, row++, 0, 1, 2);
        }
    }
    general->setColumnStretch(1, 1);
    general->setRowStretch(row, 1);
    // The design text, kept for a recording kind without a text of its own.
    lblRecType->setText(QStringLiteral("영상 + 음성"));

    // Summary: the password row, then the memo.
    tbsSummary = new QWidget;
    tbsSummary->setObjectName(QStringLiteral("tbsSummary"));
    auto* summary = new QVBoxLayout(tbsSummary);
    summary->setContentsMargins(16, 16, 16, 16);
    summary->setSpacing(8);
    auto* passwordRow = new QHBoxLayout;
    passwordRow->setSpacing(8);
    stxtPassword = new QLabel(this);
    stxtPassword->setObjectName(QStringLiteral("stxtPassword"));
    stxtPassword->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    stxtPassword->setMinimumWidth(140);
    lblPasswordChange = new TLinkLabel(this);
    lblPasswordChange->setObjectName(QStringLiteral("lblPasswordChange"));
    lblPasswordDelete = new TLinkLabel(this);
    lblPasswordDelete->setObjectName(QStringLiteral("lblPasswordDelete"));
    passwordRow->addWidget(m_captions[8]);
    passwordRow->addWidget(stxtPassword, 1);
    passwordRow->addWidget(lblPasswordChange);
    passwordRow->addWidget(lblPasswordDelete);
    summary->addLayout(passwordRow);
    summary->addSpacing(8);
    summary->addWidget(m_captions[9]);
    TntMemo1 = new QPlainTextEdit(this);
    TntMemo1->setObjectName(QStringLiteral("TntMemo1"));
    TntMemo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    summary->addWidget(TntMemo1, 1);

    pcInfo->addTab(tbsGeneral, QString());
    pcInfo->addTab(tbsSummary, QString());

    btnOK = new QPushButton(this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(252, 333, 75, 27);
    btnOK->setDefault(true);
    btnCancel = new QPushButton(this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(333, 333, 75, 27);
    btnCancel->setAutoDefault(false);

    connect(btnOK, &QPushButton::clicked, this, &TfrmFileInfo::accept);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmFileInfo::reject);
    connect(lblPasswordChange, &TLinkLabel::Clicked, this, &TfrmFileInfo::lblPasswordChangeClick);
    connect(lblPasswordDelete, &TLinkLabel::Clicked, this, &TfrmFileInfo::lblPasswordDeleteClick);
    connect(TntMemo1, &QPlainTextEdit::textChanged, this, &TfrmFileInfo::LimitMemo);
}

void TfrmFileInfo::SetFileInfo(const std::string& path, const RecordingHeader& header, int32_t playTimeMs)
{
    m_path = path;
    m_header = header;
    m_playTimeMs = playTimeMs;
}

void TfrmFileInfo::showEvent(QShowEvent* event)
{
    if (!event->spontaneous())
        FormShow();
    QDialog::showEvent(event);
}

void TfrmFileInfo::FormShow()
{
    ApplySystemFont(this);
    TntMemo1->clear();

    const QString path = QFile::decodeName(QByteArray::fromStdString(m_path));
    setWindowTitle(QFileInfo(path).fileName() + QLatin1Char(' ') + Lang(MLMSG_INFO_01));
    pcInfo->setTabText(0, Lang(MLMSG_INFO_02));
    pcInfo->setTabText(1, Lang(MLMSG_INFO_03));
    for (int i = 0; i < CaptionLabelCount; ++i)
        m_captions[i]->setText(Lang(CaptionKeys[i]));
    lblPasswordChange->setText(Lang(MLMSG_INFO_12));
    lblPasswordDelete->setText(Lang(MLMSG_INFO_13));
    for (TLinkLabel* link : {lblPasswordChange, lblPasswordDelete}) {
        QFont f = link->font();
        f.setFamilies({QStringLiteral("Tahoma")});
        link->setFont(f);
    }
    btnOK->setText(Lang(MLMSG_OK));
    btnCancel->setText(Lang(MLMSG_CANCEL));

    constexpr TLangMsg TypeKeys[] = {MLMSG_INFO_15, MLMSG_INFO_16, MLMSG_INFO_17};
    if (m_header.RecordingType < 3)
        lblRecType->setText(Lang(TypeKeys[m_header.RecordingType]));
    lblVersion->setText(QString::asprintf("V%u.0", m_header.HeaderVersion));

    // A long path is shortened in its middle; the hint always holds it whole.
    // (The value column is what the tab leaves beside the widest caption label.)
    int captionWidth = 0;
    for (int i = 0; i < 8; ++i)
        captionWidth = std::max(captionWidth, m_captions[i]->sizeHint().width());
    const QMargins margins = tbsGeneral->layout()->contentsMargins();
    const int pathWidth = std::max(40, pcInfo->width() - 8 - margins.left() - margins.right() -
                                           static_cast<QGridLayout*>(tbsGeneral->layout())->horizontalSpacing() -
                                           captionWidth);
    lblFilePath->setText(QFontMetrics(lblFilePath->font()).elidedText(path, Qt::ElideMiddle, pathWidth));
    lblFilePath->setToolTip(path);

    const QLocale locale;
    lblFileSize->setText(FileSizeText(m_header.RecordedSize, locale));
    lblPlayTime->setText(PlayTimeText(m_playTimeMs));
    lblMakeDate->setText(DateTimeText(FileCreatedTime(m_path), locale));
    lblStartDate->setText(OleDateTimeText(m_header.StartTime, locale));
    lblEndDate->setText(OleDateTimeText(m_header.EndTime, locale));

    stxtPassword->setText(QString(static_cast<qsizetype>(DecodePassword(m_header.PasswordText.Text()).size()),
                                  QLatin1Char('*')));
    TntMemo1->setPlainText(SummaryForMemo(m_header));
    pcInfo->setCurrentIndex(0);
    btnOK->setFocus();
}

void TfrmFileInfo::LimitMemo()
{
    const QString text = TntMemo1->toPlainText();
    if (SummaryFits(text)) {
        m_memoText = text;
        return;
    }
    int cursor = 0;
    const QString kept = LimitSummaryEdit(m_memoText, text, &cursor);
    m_memoText = kept;
    const QSignalBlocker block(TntMemo1);
    TntMemo1->setPlainText(kept);
    QTextCursor position = TntMemo1->textCursor();
    position.setPosition(cursor);
    TntMemo1->setTextCursor(position);
}

void TfrmFileInfo::lblPasswordChangeClick()
{
    TfrmPassword password(this);
    password.Caption = Lang(MLMSG_INFO_19);
    password.Prompt = Lang(MLMSG_INFO_20);
    if (password.exec() != mrOk)
        return;
    std::string kept;
    const std::string stored = PasswordTextForEntry(password.Result(), &kept);
    stxtPassword->setText(QString(QString::fromStdString(kept).size(), QLatin1Char('*')));
    m_header.PasswordText.Assign(stored);
}

void TfrmFileInfo::lblPasswordDeleteClick()
{
    if (m_header.PasswordText.Text().empty())
        return;
    if (MsgBoxEx(this, Lang(MLMSG_INFO_21), Lang(MLMSG_CONFIRMATION), MB_SETFOREGROUND | MB_ICONQUESTION | MB_YESNO) !=
        IDYES)
        return;
    // Assign clears the old digits too, so the removed password does not stay in the file.
    m_header.PasswordText.Assign({});
    stxtPassword->clear();
}

void TfrmFileInfo::accept()
{
    m_header.SummaryText.Assign(SummaryForStorage(TntMemo1->toPlainText()));
    done(mrOk);
}

void TfrmFileInfo::reject() { done(mrCancel); }

bool EditFileInfo(QWidget* owner, const std::string& path, RecordingHeader& header, int32_t playTimeMs)
{
    TfrmFileInfo dialog(owner);
    dialog.SetFileInfo(path, header, playTimeMs);
    if (dialog.exec() != mrOk)
        return false;
    header = dialog.Header();
    return true;
}

QString GroupThousands(uint64_t value, const QString& separator)
{
    const QString digits = QString::number(value);
    QString grouped;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += separator;
        grouped += digits[i];
    }
    return grouped;
}

QString FileSizeText(uint32_t recordedSize, const QLocale& locale)
{
    const QString separator = locale.groupSeparator();
    return GroupThousands(recordedSize / 1024, separator) + QStringLiteral("KB (") +
           GroupThousands(recordedSize, separator) + QLatin1Char(' ') + Lang(MLMSG_INFO_18) + QLatin1Char(')');
}

QString PlayTimeText(int32_t ms)
{
    const int32_t hours = ms / 3600000;
    const int32_t minutes = (ms % 3600000) / 60000;
    const int32_t seconds = ((ms % 3600000) - minutes * 60000) / 1000;
    return QString::asprintf("%.2d:%.2d:%.2d", hours, minutes, seconds);
}

QString DateTimeText(const QDateTime& when, const QLocale& locale)
{
    if (!when.isValid())
        return {};
    return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(when.time(), LongTimeFormatWithoutZone(locale));
}

QString OleDateTimeText(double oleDate, const QLocale& locale)
{
    const std::optional<TCalendarTime> time = OleDateToCalendar(oleDate);
    if (!time)
        return {};
    // Header date-times already hold local time: no zone conversion.
    const QDateTime when(QDate(time->Year, time->Month, time->Day),
                         QTime(time->Hour, time->Minute, time->Second, time->Millisecond));
    return DateTimeText(when, locale);
}

QDateTime FileCreatedTime(const std::string& path)
{
    const QFileInfo info(QFile::decodeName(QByteArray::fromStdString(path)));
    if (!info.exists())
        return QDateTime::currentDateTime();
    QDateTime when = info.birthTime();
    if (!when.isValid())
        when = info.lastModified();
    when = when.toLocalTime();
    // The two-second steps of a DOS date and time, which recorders' file dates have.
    const QTime time = when.time();
    when.setTime(QTime(time.hour(), time.minute(), time.second() / 2 * 2));
    return when;
}

std::string SummaryForStorage(const QString& memoText)
{
    return EncodeSummary(CutSummaryForStorage(MemoToStored(memoText).toStdString()));
}

QString SummaryForMemo(const RecordingHeader& header)
{
    QString text = QString::fromStdString(DecodeSummary(header.SummaryText.Text()));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

std::string PasswordTextForEntry(const std::string& entry, std::string* keptUtf8)
{
    const std::string kept = CutToCodePageBytes(FromSystemCodePage(entry), MaxPasswordBytes);
    if (keptUtf8 != nullptr)
        *keptUtf8 = kept;
    return EncodePassword(ToSystemCodePage(kept));
}

QString LimitSummaryEdit(const QString& before, const QString& after, int* cursor)
{
    // The edit replaced before[prefix, before.size() - suffix) with after[prefix, after.size() - suffix).
    qsizetype prefix = 0;
    const qsizetype shorter = std::min(before.size(), after.size());
    while (prefix < shorter && before[prefix] == after[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix && before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    // Keep the prefix whole character (a surrogate pair stays together).
    if (prefix > 0 && after[prefix - 1].isHighSurrogate())
        --prefix;
    const QString head = after.left(prefix);
    const QString tail = after.right(suffix);
    const QString inserted = after.mid(prefix, after.size() - prefix - suffix);

    // The longest part of the insertion that fits (a longer part never fits better).
    qsizetype low = 0;
    qsizetype high = inserted.size();
    while (low < high) {
        const qsizetype middle = low + (high - low + 1) / 2;
        if (SummaryFits(head + inserted.left(middle) + tail))
            low = middle;
        else
            high = middle - 1;
    }
    qsizetype keep = low;
    if (keep > 0 && inserted[keep - 1].isHighSurrogate())
        --keep;
    QString result = head + inserted.left(keep) + tail;
    // The text before the edit fitted; when even the edit's surroundings do not (the text
    // came from elsewhere), cut from the end.
    while (!result.isEmpty() && !SummaryFits(result)) {
        result.chop(result.size() > 1 && result[result.size() - 1].isLowSurrogate() ? 2 : 1);
    }
    if (cursor != nullptr)
        *cursor = static_cast<int>(std::min(head.size() + keep, result.size()));
    return result;
}

} // namespace qrv
