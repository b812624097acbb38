#include "DialogTestSupport.h"
#include "HeaderTextCodec.h"
#include "OleDateTime.h"
#include "RecordingFixture.h"
#include "SystemCodePage.h"
#include "TntDialogs2.h"
#include "UnitFileInfo.h"
#include "UnitLanguage.h"
#include "UnitPassword.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>

#include <array>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <limits>
#include <optional>
#include <string>

using namespace qrv;
using namespace qrv::test;

namespace {

QString Lang(TLangMsg key) { return QString::fromStdString(LangText(key)); }

// QRV_CODEPAGE for the length of one scope.
class ScopedCodePage {
public:
    explicit ScopedCodePage(const char* codePage)
    {
        if (const char* old = std::getenv("QRV_CODEPAGE"))
            m_old = old;
        setenv("QRV_CODEPAGE", codePage, 1);
    }
    ~ScopedCodePage() { m_old ? setenv("QRV_CODEPAGE", m_old->c_str(), 1) : unsetenv("QRV_CODEPAGE"); }

private:
    std::optional<std::string> m_old;
};

RecordingHeader ReadHeader(const std::filesystem::path& path)
{
    std::array<uint8_t, RecordingHeaderSize> bytes{};
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
    EXPECT_EQ(in.gcount(), static_cast<std::streamsize>(bytes.size()));
    return ParseRecordingHeader(bytes);
}

QString DateText(int year, int month, int day, int hour, int minute, int second)
{
    return DateTimeText(QDateTime(QDate(year, month, day), QTime(hour, minute, second)), QLocale::c());
}

// A recording written by crdgen: video only, password "abc", a Korean summary.
class CrdgenRecording : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_path = m_folder / "회의 녹화.crd";
        QProcess crdgen;
        crdgen.start(QStringLiteral(CRDGEN_PATH),
                     {QStringLiteral("-o"), QString::fromStdString(m_path.string()), QStringLiteral("--fast"),
                      QStringLiteral("--duration"), QStringLiteral("4"), QStringLiteral("--type"), QStringLiteral("1"),
                      QStringLiteral("--password"), QStringLiteral("abc"), QStringLiteral("--summary"),
                      QStringLiteral("주간 회의\n둘째 줄")});
        ASSERT_TRUE(crdgen.waitForFinished(60000));
        ASSERT_EQ(crdgen.exitCode(), 0) << crdgen.readAllStandardError().toStdString();
        m_header = ReadHeader(m_path);
    }

    TempFolder m_folder;
    std::filesystem::path m_path;
    RecordingHeader m_header;
};

TEST_F(CrdgenRecording, GeneralAndSummaryTabsShowTheRecording)
{
    TfrmFileInfo dialog;
    dialog.SetFileInfo(m_path.string(), m_header, 3725000);
    dialog.show();

    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("회의 녹화.crd 등록 정보"));
    EXPECT_EQ(dialog.pcInfo->currentWidget(), dialog.tbsGeneral);
    EXPECT_EQ(dialog.pcInfo->tabText(0), QStringLiteral("일반"));
    EXPECT_EQ(dialog.pcInfo->tabText(1), QStringLiteral("요약"));
    EXPECT_EQ(dialog.lblRecType->text(), QStringLiteral("영상"));
    EXPECT_EQ(dialog.lblVersion->text(), QStringLiteral("V2.0"));
    EXPECT_EQ(dialog.lblFilePath->toolTip(), QString::fromStdString(m_path.string()));
    EXPECT_EQ(dialog.lblFilePath->text(), QString::fromStdString(m_path.string()));
    ASSERT_GT(m_header.RecordedSize, 0u);
    EXPECT_EQ(dialog.lblFileSize->text(), FileSizeText(m_header.RecordedSize, QLocale::c()));
    EXPECT_TRUE(dialog.lblFileSize->text().endsWith(QStringLiteral(" 바이트)")));
    EXPECT_EQ(dialog.lblPlayTime->text(), QStringLiteral("01:02:05"));
    const auto start = OleDateToCalendar(m_header.StartTime);
    const auto end = OleDateToCalendar(m_header.EndTime);
    ASSERT_TRUE(start && end);
    EXPECT_EQ(dialog.lblStartDate->text(),
              DateText(start->Year, start->Month, start->Day, start->Hour, start->Minute, start->Second));
    EXPECT_EQ(dialog.lblEndDate->text(), DateText(end->Year, end->Month, end->Day, end->Hour, end->Minute, end->Second));
    // The file was just made: its date is now, in the two-second steps of file dates.
    const QDateTime made = QLocale::c().toDateTime(dialog.lblMakeDate->text(), QStringLiteral("d MMM yyyy HH:mm:ss"));
    ASSERT_TRUE(made.isValid()) << dialog.lblMakeDate->text().toStdString();
    EXPECT_EQ(made.time().second() % 2, 0);
    EXPECT_LE(std::abs(made.secsTo(QDateTime::currentDateTime())), 120);

    EXPECT_EQ(dialog.stxtPassword->text(), QStringLiteral("***"));
    EXPECT_EQ(dialog.TntMemo1->toPlainText(), QStringLiteral("주간 회의\n둘째 줄"));
    EXPECT_EQ(dialog.lblPasswordChange->text(), QStringLiteral("변경"));
    EXPECT_EQ(dialog.lblPasswordDelete->text(), QStringLiteral("삭제"));
    EXPECT_EQ(dialog.lblPasswordChange->font().family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(dialog.btnOK->text(), Lang(MLMSG_OK));
    EXPECT_EQ(dialog.btnCancel->text(), Lang(MLMSG_CANCEL));
    EXPECT_EQ(dialog.size(), QSize(416, 367));
    EXPECT_TRUE(dialog.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST(FileInfoTexts, RecordingKindsAndVersions)
{
    struct Case {
        uint32_t Type;
        uint32_t Version;
        QString Kind;
        QString VersionText;
    } const cases[] = {
        {0, 2, QStringLiteral("영상,음성"), QStringLiteral("V2.0")},
        {1, 3, QStringLiteral("영상"), QStringLiteral("V3.0")},
        {2, 1, QStringLiteral("음성"), QStringLiteral("V1.0")},
        {3, 0, QStringLiteral("영상 + 음성"), QStringLiteral("V0.0")}, // no text of its own: the design text
        {0xFFFFFFFF, 4294967295u, QStringLiteral("영상 + 음성"), QStringLiteral("V4294967295.0")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Type);
        RecordingHeader header = RecordingFixture::ValidHeader();
        header.RecordingType = c.Type;
        header.HeaderVersion = c.Version;
        TfrmFileInfo dialog;
        dialog.SetFileInfo("/nonexistent/x.crd", header, 0);
        dialog.show();
        EXPECT_EQ(dialog.lblRecType->text(), c.Kind);
        EXPECT_EQ(dialog.lblVersion->text(), c.VersionText);
        // A file that is not there shows the current time as its date.
        EXPECT_FALSE(dialog.lblMakeDate->text().isEmpty());
    }
}

TEST(FileInfoTexts, SizeLineGroupsThousandsWithTheLocaleSeparator)
{
    struct Case {
        uint32_t Bytes;
        QLocale Locale;
        QString Expected;
    } const cases[] = {
        {3000000, QLocale::c(), QStringLiteral("2,929KB (3,000,000 바이트)")},
        {0, QLocale::c(), QStringLiteral("0KB (0 바이트)")},
        {1023, QLocale::c(), QStringLiteral("0KB (1,023 바이트)")},
        {1024, QLocale::c(), QStringLiteral("1KB (1,024 바이트)")},
        {999999, QLocale::c(), QStringLiteral("976KB (999,999 바이트)")},
        {4294967295u, QLocale::c(), QStringLiteral("4,194,303KB (4,294,967,295 바이트)")},
        {3000000, QLocale(QLocale::German, QLocale::Germany), QStringLiteral("2.929KB (3.000.000 바이트)")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FileSizeText(c.Bytes, c.Locale), c.Expected) << c.Bytes;
}

TEST(FileInfoTexts, PlayTimeIsHoursMinutesSeconds)
{
    struct Case {
        int32_t Ms;
        const char* Expected;
    } const cases[] = {
        {0, "00:00:00"}, {999, "00:00:00"}, {59999, "00:00:59"}, {3600000, "01:00:00"},
        {3725000, "01:02:05"}, {3725999, "01:02:05"}, {360000000, "100:00:00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PlayTimeText(c.Ms), QString::fromLatin1(c.Expected)) << c.Ms;
}

TEST(FileInfoTexts, DatesUseTheLocalesShortDateAndLongTimeWithoutZone)
{
    const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9));
    struct Case {
        QLocale Locale;
        QString Expected;
    } const cases[] = {
        {QLocale::c(), QStringLiteral("5 Mar 2024 14:07:09")},
        {QLocale(QLocale::English, QLocale::UnitedStates), QStringLiteral("3/5/24 2:07:09 PM")},
        {QLocale(QLocale::German, QLocale::Germany), QStringLiteral("05.03.24 14:07:09")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DateTimeText(when, c.Locale), c.Expected) << c.Locale.name().toStdString();

    // A header date-time is shown as the local time it holds; one that is not a date, as nothing.
    const double ole = *CalendarToOleDate({2024, 3, 5, 14, 7, 9, 0});
    EXPECT_EQ(OleDateTimeText(ole, QLocale::c()), QStringLiteral("5 Mar 2024 14:07:09"));
    EXPECT_EQ(OleDateTimeText(std::numeric_limits<double>::quiet_NaN(), QLocale::c()), QString());
    EXPECT_EQ(OleDateTimeText(1e12, QLocale::c()), QString());
}

// The password and OK/Cancel flows on a header copy. Each case scripts what the user does
// in the open dialog; the header handed in has the password "abc" and a summary.
struct TFlowCase {
    const char* Name;
    std::function<void(TfrmFileInfo*)> Script;
    bool Ok;                               // the dialog ends with OK
    std::optional<std::string> Password;   // the header's password afterwards (decoded)
    QString Stars;                         // stxtPassword at the end of the script
};

// Answers the next password dialog with `text` (OK) or cancels it (no text).
void AnswerPassword(std::optional<QString> text)
{
    OnNextModal<TfrmPassword>([text](TfrmPassword* password) {
        EXPECT_EQ(password->windowTitle(), Lang(MLMSG_INFO_19));
        EXPECT_EQ(password->lblPrompt->text(), Lang(MLMSG_INFO_20));
        if (text) {
            password->edtPassword->setText(*text);
            password->btnOK->click();
        } else {
            password->btnCancel->click();
        }
    });
}

// Answers the next question box with the button named `button` ("Yes", "No").
void AnswerQuestion(const char* button)
{
    OnNextModal<TTntMessageForm>([button](TTntMessageForm* form) {
        EXPECT_EQ(form->windowTitle(), Lang(MLMSG_CONFIRMATION));
        EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("Message"))->text(), Lang(MLMSG_INFO_21));
        form->findChild<QPushButton*>(QString::fromLatin1(button))->click();
    });
}

void Change(TfrmFileInfo* d, std::optional<QString> text)
{
    AnswerPassword(std::move(text));
    d->lblPasswordChange->Clicked();
}

class FileInfoFlow : public ::testing::TestWithParam<TFlowCase> {};

TEST_P(FileInfoFlow, KeepsOrChangesTheHeaderCopy)
{
    const TFlowCase& c = GetParam();
    ScopedCodePage codePage("CP949");
    RecordingHeader header = RecordingFixture::ValidHeader();
    header.PasswordText.Assign(EncodePassword("abc"));
    header.SummaryText.Assign(EncodeSummary("요약"));
    const RecordingHeader original = header;

    QString stars;
    OnNextModal<TfrmFileInfo>([&](TfrmFileInfo* dialog) {
        c.Script(dialog);
        stars = dialog->stxtPassword->text();
        if (dialog->isVisible())
            dialog->btnOK->click();
    });
    const bool ok = EditFileInfo(nullptr, "/nonexistent/x.crd", header, 1000);

    EXPECT_EQ(ok, c.Ok);
    EXPECT_EQ(stars, c.Stars);
    if (!c.Ok) {
        EXPECT_EQ(header, original);
        return;
    }
    ASSERT_TRUE(c.Password.has_value());
    EXPECT_EQ(DecodePassword(header.PasswordText.Text()), *c.Password);
    EXPECT_EQ(header.PasswordText.Text(), EncodePassword(*c.Password));
    // Whatever was there before is gone from the stored bytes too.
    for (size_t i = header.PasswordText.Length; i < header.PasswordText.Chars.size(); ++i)
        ASSERT_EQ(header.PasswordText.Chars[i], '\0') << i;
    EXPECT_EQ(DecodeSummary(header.SummaryText.Text()), "요약");
}

const std::string Korean16 = "\xB0\xA1\xB3\xAA\xB4\xD9\xB6\xF3\xB8\xB6\xB9\xD9\xBB\xE7\xBE\xC6"; // 가나다라마바사아 in CP949

INSTANTIATE_TEST_SUITE_P(
    Flows, FileInfoFlow,
    ::testing::Values(
        TFlowCase{"OkUnchangedStillHandsBack", [](TfrmFileInfo*) {}, true, "abc", QStringLiteral("***")},
        TFlowCase{"ChangeThenOk", [](TfrmFileInfo* d) { Change(d, QStringLiteral("secret")); }, true, "secret",
                  QStringLiteral("******")},
        TFlowCase{"ChangeThenCancel",
                  [](TfrmFileInfo* d) {
                      Change(d, QStringLiteral("secret"));
                      d->btnCancel->click();
                  },
                  false, std::nullopt, QStringLiteral("******")},
        TFlowCase{"ChangeThenEscape",
                  [](TfrmFileInfo* d) {
                      Change(d, QStringLiteral("secret"));
                      PressKey(d, Qt::Key_Escape);
                  },
                  false, std::nullopt, QStringLiteral("******")},
        TFlowCase{"ChangeCancelledKeepsPassword", [](TfrmFileInfo* d) { Change(d, std::nullopt); }, true, "abc",
                  QStringLiteral("***")},
        TFlowCase{"EmptyEntryRemovesPassword", [](TfrmFileInfo* d) { Change(d, QString()); }, true, "", QString()},
        // Twenty single-byte characters: the first sixteen are kept (48 digits).
        TFlowCase{"LongPasswordKeepsSixteen",
                  [](TfrmFileInfo* d) { Change(d, QStringLiteral("abcdefghijklmnopqrst")); }, true,
                  "abcdefghijklmnop", QString(16, QLatin1Char('*'))},
        // Nine two-byte characters: only eight fit the sixteen bytes, and they stay whole.
        TFlowCase{"TwoByteCharactersAreNotSplit",
                  [](TfrmFileInfo* d) { Change(d, QStringLiteral("가나다라마바사아자")); }, true, Korean16,
                  QString(8, QLatin1Char('*'))},
        TFlowCase{"DeleteYes",
                  [](TfrmFileInfo* d) {
                      AnswerQuestion("Yes");
                      d->lblPasswordDelete->Clicked();
                  },
                  true, "", QString()},
        TFlowCase{"DeleteNo",
                  [](TfrmFileInfo* d) {
                      AnswerQuestion("No");
                      d->lblPasswordDelete->Clicked();
                  },
                  true, "abc", QStringLiteral("***")},
        TFlowCase{"DeleteThenCancel",
                  [](TfrmFileInfo* d) {
                      AnswerQuestion("Yes");
                      d->lblPasswordDelete->Clicked();
                      d->btnCancel->click();
                  },
                  false, std::nullopt, QString()}),
    [](const ::testing::TestParamInfo<TFlowCase>& p) { return std::string(p.param.Name); });

TEST(FileInfoFlowWithoutPassword, DeleteAsksNothingAndChangesNothing)
{
    RecordingHeader header = RecordingFixture::ValidHeader();
    const RecordingHeader original = header;
    TfrmFileInfo dialog;
    dialog.SetFileInfo("/nonexistent/x.crd", header, 0);
    dialog.show();
    // With no password the click returns at once: no box is waiting to be answered.
    dialog.lblPasswordDelete->Clicked();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(dialog.Header(), original);
    EXPECT_EQ(dialog.stxtPassword->text(), QString());
}

TEST(FileInfoSummary, StoresWhatTheMemoShowsWhole)
{
    const QString korean250(250, QChar(0xD55C)); // 한 x 250: 750 UTF-8 bytes
    struct Case {
        const char* Name;
        QString Typed;
        QString Kept; // what the memo then holds and the header stores
    } const cases[] = {
        {"ascii", QStringLiteral("plain summary"), QStringLiteral("plain summary")},
        {"lines", QStringLiteral("one\ntwo"), QStringLiteral("one\ntwo")},
        // 63 three-byte characters are 189 bytes, whose Base64 form (252) fits 255 characters.
        {"korean cut between characters", korean250, QString(63, QChar(0xD55C))},
        {"ascii cut at 189 bytes", QString(300, QLatin1Char('x')), QString(189, QLatin1Char('x'))},
        {"emoji pairs stay whole", QString::fromUtf8("\xF0\x9F\x98\x80").repeated(60),
         QString::fromUtf8("\xF0\x9F\x98\x80").repeated(47)},
        {"empty", QString(), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        RecordingHeader header = RecordingFixture::ValidHeader();
        OnNextModal<TfrmFileInfo>([&](TfrmFileInfo* dialog) {
            dialog->TntMemo1->setPlainText(c.Typed);
            EXPECT_EQ(dialog->TntMemo1->toPlainText(), c.Kept);
            dialog->btnOK->click();
        });
        ASSERT_TRUE(EditFileInfo(nullptr, "/nonexistent/x.crd", header, 0));
        EXPECT_LE(header.SummaryText.Text().size(), MaxStoredSummaryChars);
        QString stored = QString::fromStdString(DecodeSummary(header.SummaryText.Text()));
        // Line breaks are stored as CR LF.
        EXPECT_EQ(stored.count(QStringLiteral("\r\n")), c.Kept.count(QLatin1Char('\n')));
        EXPECT_EQ(stored.replace(QStringLiteral("\r\n"), QStringLiteral("\n")), c.Kept);
    }
}

TEST(FileInfoSummary, TypingBeyondTheLimitKeepsTheTextAroundTheCursor)
{
    const QString full(189, QLatin1Char('a'));
    struct Case {
        const char* Name;
        QString Before;
        QString After;
        QString Expected;
        int Cursor;
    } const cases[] = {
        {"insert in the middle is refused", full, full.left(10) + QStringLiteral("XYZ") + full.mid(10), full, 10},
        {"paste is cut to what fits", QString(180, QLatin1Char('a')), QString(180, QLatin1Char('a')) + QString(20, QLatin1Char('b')),
         QString(180, QLatin1Char('a')) + QString(9, QLatin1Char('b')), 189},
        {"replacement shorter than the limit", full, QStringLiteral("b") + full.mid(1), QStringLiteral("b") + full.mid(1), 1},
        {"surrogate pair not split", QString(185, QLatin1Char('a')),
         QString(185, QLatin1Char('a')) + QString::fromUtf8("\xF0\x9F\x98\x80\xF0\x9F\x98\x80"),
         QString(185, QLatin1Char('a')) + QString::fromUtf8("\xF0\x9F\x98\x80"), 187},
        // Line breaks are stored as CR LF, two bytes each: 94 of them fit the 189 bytes.
        {"line breaks count twice", QString(90, QLatin1Char('\n')), QString(100, QLatin1Char('\n')),
         QString(94, QLatin1Char('\n')), 94},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        int cursor = -1;
        EXPECT_EQ(LimitSummaryEdit(c.Before, c.After, &cursor), c.Expected);
        EXPECT_EQ(cursor, c.Cursor);
    }
}

TEST(PasswordDialog, OkGivesTheEntryInTheCodePageCancelGivesNothing)
{
    ScopedCodePage codePage("CP949");
    struct Case {
        const char* Name;
        QString Entry;
        bool Ok;
        std::string Result;
    } const cases[] = {
        {"ascii", QStringLiteral("Secret 1"), true, "Secret 1"},
        {"korean", QStringLiteral("가"), true, "\xB0\xA1"},
        {"not cut here", QStringLiteral("abcdefghijklmnopqrst"), true, "abcdefghijklmnopqrst"},
        {"cancel", QStringLiteral("typed"), false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TfrmPassword password;
        password.Caption = QStringLiteral("질의");
        password.Prompt = QStringLiteral("비밀번호를 입력하세요.");
        password.edtPassword->setText(QStringLiteral("left over"));
        OnNextModal<TfrmPassword>([&](TfrmPassword* shown) {
            EXPECT_EQ(shown->windowTitle(), QStringLiteral("질의"));
            EXPECT_EQ(shown->lblPrompt->text(), QStringLiteral("비밀번호를 입력하세요."));
            EXPECT_EQ(shown->edtPassword->text(), QString()) << "the edit starts empty";
            EXPECT_EQ(shown->edtPassword->echoMode(), QLineEdit::Password);
            EXPECT_EQ(shown->btnOK->text(), Lang(MLMSG_OK));
            EXPECT_EQ(shown->btnCancel->text(), Lang(MLMSG_CANCEL));
            shown->edtPassword->insert(c.Entry);
            PressKey(shown, c.Ok ? Qt::Key_Return : Qt::Key_Escape);
        });
        EXPECT_EQ(password.exec(), c.Ok ? mrOk : mrCancel);
        EXPECT_EQ(password.Result(), c.Result);
        EXPECT_EQ(password.size(), QSize(265, 101));
    }
}

TEST(PasswordEntry, IsCutToSixteenBytesAtACharacterBoundary)
{
    struct Case {
        const char* CodePage;
        std::string Entry; // in that code page
        std::string Kept;  // UTF-8
    } const cases[] = {
        {"CP1252", "abcdefghijklmnopqrst", "abcdefghijklmnop"},
        {"CP1252", "short", "short"},
        {"CP1252", "", ""},
        {"CP949", "a" + Korean16, "a가나다라마바사"}, // 15 bytes: the next character would need 17
        {"CP949", Korean16 + "z", "가나다라마바사아"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Entry);
        ScopedCodePage codePage(c.CodePage);
        std::string kept;
        const std::string stored = PasswordTextForEntry(c.Entry, &kept);
        EXPECT_EQ(kept, c.Kept);
        EXPECT_LE(stored.size(), 48u);
        // What is stored decodes to exactly the kept password, so typing it opens the file.
        EXPECT_EQ(FromSystemCodePage(DecodePassword(stored)), c.Kept);
    }
}

} // namespace
