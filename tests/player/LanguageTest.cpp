#include "UnitLanguage.h"

#include "RecordingFixture.h"
#include "SystemCodePage.h"
#include "Utf8.h"
#include "_QRV_Utils.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace qrv;
using qrv::test::TempFolder;

namespace {

constexpr TLangMsg KeysWithoutBuiltIn[] = {MLMSG_MAIN_10, MLMSG_MAIN_11, MLMSG_MAIN_16, MLMSG_MAIN_17, MLMSG_MAIN_18};

bool HasNoBuiltIn(TLangMsg key)
{
    for (TLangMsg without : KeysWithoutBuiltIn)
        if (key == without)
            return true;
    return false;
}

TLangMsg Key(size_t index) { return static_cast<TLangMsg>(index); }

std::string Utf16Le(const std::string& utf8) { return ToCodePage(utf8, "UTF-16LE"); }
const std::string Utf16Bom = "\xFF\xFE";

void WriteFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

size_t Utf16Units(const std::string& utf8)
{
    size_t units = 0;
    for (size_t pos = 0; pos < utf8.size();) {
        const size_t length = Utf8CharLength(utf8, pos);
        units += length == 4 ? 2 : 1;
        pos += length > 0 ? length : 1;
    }
    return units;
}

size_t EmptyTexts(const TLanguageTable& table)
{
    size_t empty = 0;
    for (size_t i = 0; i < LanguageKeyCount; ++i)
        empty += table.Text(Key(i)).empty() ? 1 : 0;
    return empty;
}

// Every text of a table is something a label can show: well-formed UTF-8, one line, no NUL,
// within the value limit.
void ExpectShowable(const TLanguageTable& table)
{
    for (size_t i = 0; i < LanguageKeyCount; ++i) {
        const std::string& text = table.Text(Key(i));
        SCOPED_TRACE(LanguageKeyName(Key(i)));
        EXPECT_TRUE(IsValidUtf8(text));
        EXPECT_EQ(text.find_first_of(std::string_view("\r\n\0", 3)), std::string::npos);
        EXPECT_LE(Utf16Units(text), MaxLanguageValueUnits);
    }
}

// Sets environment variables for one test and puts the old values back.
class ScopedEnvironment {
public:
    ~ScopedEnvironment()
    {
        for (const auto& [name, value] : m_saved)
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }
    void Set(const char* name, const char* value)
    {
        if (!m_saved.contains(name)) {
            const char* old = std::getenv(name);
            m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        value ? setenv(name, value, 1) : unsetenv(name);
    }

private:
    std::map<std::string, std::optional<std::string>> m_saved;
};

} // namespace

// ---------------------------------------------------------------- the built-in table

TEST(LanguageTable, KeysAreInTableOrderWithTheirSections)
{
    EXPECT_EQ(LanguageKeyName(MLMSG_OK), "MLMSG_OK");
    EXPECT_EQ(LanguageKeyName(MLMSG_CONFIRMATION), "MLMSG_CONFIRMATION");
    EXPECT_EQ(LanguageKeyName(MLMSG_MAIN_00), "MLMSG_MAIN_00");
    EXPECT_EQ(LanguageKeyName(MLMSG_POPUP_34), "MLMSG_POPUP_34");
    EXPECT_EQ(LanguageKeyName(MLMSG_ABOUT_02), "MLMSG_ABOUT_02");
    EXPECT_EQ(static_cast<size_t>(MLMSG_ABOUT_02) + 1, 90u);

    // Each section holds one run of keys, named after it.
    const std::map<std::string, std::pair<std::string, size_t>> sections = {
        {"Dialogs", {"MLMSG_", 8}}, {"Main", {"MLMSG_MAIN_", 19}}, {"POPUP", {"MLMSG_POPUP_", 34}},
        {"Info", {"MLMSG_INFO_", 22}}, {"Hint", {"MLMSG_HINT_", 5}}, {"About", {"MLMSG_ABOUT_", 2}}};
    std::map<std::string, size_t> seen;
    std::string previousSection;
    for (size_t i = 0; i < LanguageKeyCount; ++i) {
        const std::string section(LanguageKeySection(Key(i)));
        const std::string name(LanguageKeyName(Key(i)));
        SCOPED_TRACE(name);
        ASSERT_TRUE(sections.contains(section));
        EXPECT_TRUE(name.starts_with(sections.at(section).first));
        if (section != previousSection) {
            EXPECT_EQ(seen[section], 0u) << "section split in two";
        }
        ++seen[section];
        previousSection = section;
    }
    for (const auto& [section, expected] : sections)
        EXPECT_EQ(seen[section], expected.second) << section;
}

TEST(LanguageTable, StartsWithTheBuiltInKoreanTexts)
{
    const TLanguageTable table;
    const std::pair<TLangMsg, const char*> cases[] = {
        {MLMSG_OK, "확인"},
        {MLMSG_NO, "아니오"},
        {MLMSG_CONFIRMATION, "질의"},
        {MLMSG_MAIN_00, "브리사 플레이어"},
        {MLMSG_MAIN_09, "파일의 버전이 호환되지 않아 재생이 되지 않습니다."},
        {MLMSG_MAIN_12, "[ 볼륨 : %d %% ]"},
        {MLMSG_MAIN_15, "[ 탐색 / 키프레임 / %s (%s%%)"}, // no closing bracket
        {MLMSG_POPUP_17, "x 0.5"},
        {MLMSG_POPUP_25, "5% 증가"},
        {MLMSG_POPUP_28, "영상 조절 기본값으로..."},
        {MLMSG_INFO_05, "버전 : "}, // the blank at the end is part of the text
        {MLMSG_INFO_15, "영상,음성"},
        {MLMSG_INFO_21, "패스워드를 삭제하시겠습니까?"},
        {MLMSG_INFO_22, "재생 시간 :"},
        {MLMSG_HINT_03, "정지(Ctrl+스페이스)"},
        {MLMSG_HINT_05, "최근에 열어본 파일 목록"},
        {MLMSG_ABOUT_01, "버전"},
    };
    for (const auto& [key, text] : cases)
        EXPECT_EQ(table.Text(key), text) << LanguageKeyName(key);

    for (size_t i = 0; i < LanguageKeyCount; ++i) {
        SCOPED_TRACE(LanguageKeyName(Key(i)));
        EXPECT_EQ(table.Text(Key(i)).empty(), HasNoBuiltIn(Key(i)));
        EXPECT_EQ(table.Text(Key(i)), BuiltInText(Key(i)));
    }
    EXPECT_EQ(EmptyTexts(table), 5u);
    EXPECT_EQ(table.Text(static_cast<TLangMsg>(200)), "");
}

TEST(LanguageTable, VolumeTextFormatsAsTheDisplayShowsIt)
{
    char text[64];
    std::snprintf(text, sizeof text, TLanguageTable().Text(MLMSG_MAIN_12).c_str(), 35);
    EXPECT_STREQ(text, "[ 볼륨 : 35 % ]");
}

TEST(LanguageTable, ProcessWideTableIsOneInstance)
{
    EXPECT_EQ(&LanguageTable(), &LanguageTable());
    EXPECT_EQ(&LangText(MLMSG_OK), &LanguageTable().Text(MLMSG_OK));
}

// ---------------------------------------------------------------- encodings

TEST(LanguageFileEncoding, EachEncodingReadsTheSameTexts)
{
    const std::string utf8 = "[Dialogs]\r\nMLMSG_OK=한글\r\n[Main]\r\nMLMSG_MAIN_00=Brisa ✓ 𝄞\r\n";
    const std::string cp949 = "[Dialogs]\r\nMLMSG_OK=\xC7\xD1\xB1\xDB\r\n[Main]\r\nMLMSG_MAIN_00=abc\r\n";
    struct Case {
        const char* name;
        std::string bytes;
        const char* codePage; // QRV_CODEPAGE while loading
        std::string ok;
        std::string title;
    } cases[] = {
        {"UTF-16LE with byte-order mark", Utf16Bom + Utf16Le(utf8), "CP1252", "한글", "Brisa ✓ 𝄞"},
        {"UTF-8", utf8, "CP1252", "한글", "Brisa ✓ 𝄞"},
        {"UTF-8 with byte-order mark", "\xEF\xBB\xBF" + utf8, "CP1252", "한글", "Brisa ✓ 𝄞"},
        {"CP949 system code page", cp949, "CP949", "한글", "abc"},
        {"the same bytes in CP1252", cp949, "CP1252", "ÇÑ±Û", "abc"},
        // Without the mark, UTF-16 is not recognised: its NULs end every line early.
        {"UTF-16LE without byte-order mark", Utf16Le(utf8), "CP1252", "", ""},
        // A surrogate without its partner is replaced, the rest of the line stays.
        {"UTF-16LE with a lone surrogate", Utf16Bom + Utf16Le("[Dialogs]\nMLMSG_OK=a") + std::string("\x00\xD8", 2) +
                                               Utf16Le("b\n"),
         "CP1252", "a\xEF\xBF\xBD" "b", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnvironment environment;
        environment.Set("QRV_CODEPAGE", c.codePage);
        TLanguageTable table;
        table.LoadBytes(c.bytes);
        EXPECT_EQ(table.Text(MLMSG_OK), c.ok);
        EXPECT_EQ(table.Text(MLMSG_MAIN_00), c.title);
        EXPECT_EQ(table.Text(MLMSG_CANCEL), "");
    }
}

// ---------------------------------------------------------------- INI rules

TEST(LanguageFileSyntax, FollowsTheProfileRules)
{
    struct Case {
        const char* name;
        std::string file;
        std::string ok; // the text of MLMSG_OK afterwards
    } cases[] = {
        {"plain", "[Dialogs]\nMLMSG_OK=Okay\n", "Okay"},
        {"section and key in any case", "[dIALOGS]\nmlmsg_Ok=Okay\n", "Okay"},
        {"blanks around names and value", "  [ Dialogs ]  \n\t MLMSG_OK \t=  Okay there \t\n", "Okay there"},
        {"double quotes keep blanks", "[Dialogs]\nMLMSG_OK=\"  Okay  \"\n", "  Okay  "},
        {"single quotes keep blanks", "[Dialogs]\nMLMSG_OK=' Okay '\n", " Okay "},
        {"unmatched quotes stay", "[Dialogs]\nMLMSG_OK=\"Okay'\n", "\"Okay'"},
        {"one quote alone stays", "[Dialogs]\nMLMSG_OK=\"\n", "\""},
        {"inner quotes stay", "[Dialogs]\nMLMSG_OK=say \"hi\"\n", "say \"hi\""},
        {"value keeps later equals signs", "[Dialogs]\nMLMSG_OK=a=b=c\n", "a=b=c"},
        {"first of two occurrences", "[Dialogs]\nMLMSG_OK=first\nMLMSG_OK=second\n", "first"},
        {"first across repeated sections", "[Dialogs]\n[Main]\n[Dialogs]\nMLMSG_OK=later\n", "later"},
        {"key in another section", "[Main]\nMLMSG_OK=wrong\n", ""},
        {"key before any section", "MLMSG_OK=orphan\n[Dialogs]\n", ""},
        {"comment line", "[Dialogs]\n;MLMSG_OK=commented\n", ""},
        {"line without equals", "[Dialogs]\nMLMSG_OK\n", ""},
        {"empty value", "[Dialogs]\nMLMSG_OK=\n", ""},
        {"section without closing bracket", "[Dialogs\nMLMSG_OK=Okay\n", "Okay"},
        {"CR line ends", "[Dialogs]\rMLMSG_CANCEL=x\rMLMSG_OK=Okay\r", "Okay"},
        {"mixed line ends", "[Main]\r\n\r\n[Dialogs]\n\r\rMLMSG_OK=Okay\r\n", "Okay"},
        {"no line end at the end", "[Dialogs]\nMLMSG_OK=Okay", "Okay"},
        {"NUL ends the line", std::string("[Dialogs]\nMLMSG_OK=Ok\0ay\n", 22), "Ok"},
        {"prefix of a key name", "[Dialogs]\nMLMSG_O=Okay\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TLanguageTable table;
        table.LoadBytes(c.file);
        EXPECT_EQ(table.Text(MLMSG_OK), c.ok);
    }
}

TEST(LanguageFileSyntax, ValuesAreCutAt2047Characters)
{
    const std::string clef = "𝄞"; // U+1D11E: two UTF-16 code units
    struct Case {
        const char* name;
        std::string value;
        bool utf16;
        std::string expected;
    } cases[] = {
        {"100 KB value", std::string(100 * 1024, 'a'), false, std::string(2047, 'a')},
        {"exactly 2047", std::string(2047, 'b'), false, std::string(2047, 'b')},
        {"2048", std::string(2048, 'b'), true, std::string(2047, 'b')},
        {"Hangul in UTF-16", [] { std::string s; for (int i = 0; i < 3000; ++i) s += "가"; return s; }(), true,
         [] { std::string s; for (int i = 0; i < 2047; ++i) s += "가"; return s; }()},
        {"surrogate pair that would be split", std::string(2046, 'c') + clef, false, std::string(2046, 'c')},
        {"surrogate pair that fits", std::string(2045, 'c') + clef + "d", true, std::string(2045, 'c') + clef},
        {"quotes removed before the cut", "\"" + std::string(2047, 'q') + "\"", false, std::string(2047, 'q')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = "[About]\nMLMSG_ABOUT_02=" + c.value + "\nMLMSG_ABOUT_01=after\n";
        TLanguageTable table;
        table.LoadBytes(c.utf16 ? Utf16Bom + Utf16Le(file) : file);
        EXPECT_EQ(table.Text(MLMSG_ABOUT_02), c.expected);
        EXPECT_EQ(table.Text(MLMSG_ABOUT_01), "after");
    }
}

// ---------------------------------------------------------------- loading files

class LanguageFileTest : public ::testing::Test {
protected:
    TempFolder m_folder;
    std::string ExecutablePath() const { return (m_folder / "BrisaPlayer").string(); }
    void WriteLanguage(const char* suffix, const std::string& okText)
    {
        WriteFile(ExecutablePath() + suffix, Utf16Bom + Utf16Le("[Dialogs]\r\nMLMSG_OK=" + okText + "\r\n"));
    }
};

TEST_F(LanguageFileTest, DialogsSectionAloneEmptiesTheOther82Texts)
{
    std::string file = "[Dialogs]\n";
    for (size_t i = 0; i < LanguageKeyCount; ++i)
        if (LanguageKeySection(Key(i)) == "Dialogs")
            file += std::string(LanguageKeyName(Key(i))) + "=D" + std::to_string(i) + "\n";
    WriteFile(m_folder / "only-dialogs.ini", file);

    TLanguageTable table;
    table.LoadFile(m_folder / "only-dialogs.ini");
    EXPECT_EQ(table.Text(MLMSG_OK), "D0");
    EXPECT_EQ(table.Text(MLMSG_CONFIRMATION), "D7");
    EXPECT_EQ(table.Text(MLMSG_MAIN_00), "");
    EXPECT_EQ(table.Text(MLMSG_ABOUT_02), "");
    EXPECT_EQ(EmptyTexts(table), 82u);
}

TEST_F(LanguageFileTest, MissingFileKeepsTheTextsLoadedBefore)
{
    WriteLanguage(".Eng.ini", "OK");
    TLanguageTable table;
    LoadLanguage(table, LangEnglish, ExecutablePath());
    ASSERT_EQ(table.Text(MLMSG_OK), "OK");
    ASSERT_EQ(table.Text(MLMSG_CANCEL), "");

    // No Korean file: the English texts stay, the built-in texts do not come back.
    LoadLanguage(table, LangKorean, ExecutablePath());
    EXPECT_EQ(table.Text(MLMSG_OK), "OK");
    EXPECT_EQ(table.Text(MLMSG_CANCEL), "");

    // A folder of that name is no file either.
    std::filesystem::create_directory(ExecutablePath() + ".Jpn.ini");
    LoadLanguage(table, LangJapanese, ExecutablePath());
    EXPECT_EQ(table.Text(MLMSG_OK), "OK");

    // No executable path: nothing to look beside.
    LoadLanguage(table, LangEnglish, "");
    EXPECT_EQ(table.Text(MLMSG_OK), "OK");

    TLanguageTable untouched;
    LoadLanguage(untouched, LangChinese, ExecutablePath());
    EXPECT_EQ(untouched.Text(MLMSG_OK), "확인");
}

TEST_F(LanguageFileTest, EachCodeReadsItsFileAndOtherCodesTheEnglishOne)
{
    WriteLanguage(".Kor.ini", "kor");
    WriteLanguage(".Eng.ini", "eng");
    WriteLanguage(".Jpn.ini", "jpn");
    WriteLanguage(".Chn.ini", "chn");
    const std::pair<int32_t, const char*> cases[] = {{1, "kor"}, {2, "eng"}, {3, "jpn"}, {4, "chn"},
                                                     {7, "eng"}, {5, "eng"}, {0, "eng"}, {-1, "eng"}};
    for (const auto& [code, expected] : cases) {
        SCOPED_TRACE(code);
        TLanguageTable table;
        LoadLanguage(table, code, ExecutablePath());
        EXPECT_EQ(table.Text(MLMSG_OK), expected);
    }
    EXPECT_EQ(LanguageFilePath(7, "/opt/qrv/BrisaPlayer"), "/opt/qrv/BrisaPlayer.Eng.ini");
    EXPECT_EQ(LanguageFilePath(4, "/opt/q.rv/Brisa Player"), "/opt/q.rv/Brisa Player.Chn.ini");
}

TEST_F(LanguageFileTest, ProcessWideLoadReadsTheFileBesideTheExecutable)
{
    // This test program is the running executable; its Chinese file is written beside it.
    const std::string executable = GetExecutablePath();
    ASSERT_FALSE(executable.empty());
    const std::filesystem::path path = LanguageFilePath(LangChinese, executable);
    WriteFile(path, Utf16Bom + Utf16Le("[Dialogs]\r\nMLMSG_OK=确定\r\n"));
    LoadLanguage(LangChinese);
    std::filesystem::remove(path);
    const std::string ok = LangText(MLMSG_OK);
    const std::string cancel = LangText(MLMSG_CANCEL);
    LanguageTable().Reset();
    EXPECT_EQ(ok, "确定");
    EXPECT_EQ(cancel, "");
}

TEST_F(LanguageFileTest, FilesThatCannotBeReadGiveEmptyTexts)
{
    struct Case {
        const char* name;
        std::function<std::filesystem::path(const TempFolder&)> make;
    } cases[] = {
        {"empty file", [](const TempFolder& f) { WriteFile(f / "a.ini", ""); return f / "a.ini"; }},
        {"byte-order mark only", [](const TempFolder& f) { WriteFile(f / "a.ini", Utf16Bom); return f / "a.ini"; }},
        {"odd byte after the mark", [](const TempFolder& f) { WriteFile(f / "a.ini", Utf16Bom + "["); return f / "a.ini"; }},
        {"larger than the limit",
         [](const TempFolder& f) {
             std::string file = "[Dialogs]\nMLMSG_OK=Okay\n;";
             file.resize(MaxLanguageFileBytes + 1, 'x');
             WriteFile(f / "a.ini", file);
             return f / "a.ini";
         }},
        // A FIFO is not read at all: opening it would wait for a writer.
        {"FIFO",
         [](const TempFolder& f) {
             mkfifo((f / "fifo.ini").c_str(), 0600);
             return f / "fifo.ini";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        TLanguageTable table;
        table.LoadFile(c.make(folder));
        EXPECT_EQ(EmptyTexts(table), LanguageKeyCount);
    }
}

TEST_F(LanguageFileTest, FileAtTheSizeLimitIsRead)
{
    std::string file = "[Dialogs]\nMLMSG_OK=Okay\n;";
    file.resize(MaxLanguageFileBytes, 'x');
    WriteFile(m_folder / "big.ini", file);
    TLanguageTable table;
    table.LoadFile(m_folder / "big.ini");
    EXPECT_EQ(table.Text(MLMSG_OK), "Okay");
}

TEST_F(LanguageFileTest, UnreadableFileGivesEmptyTexts)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads any file";
    WriteFile(m_folder / "locked.ini", "[Dialogs]\nMLMSG_OK=Okay\n");
    chmod((m_folder / "locked.ini").c_str(), 0);
    TLanguageTable table;
    table.LoadFile(m_folder / "locked.ini");
    EXPECT_EQ(EmptyTexts(table), LanguageKeyCount);
}

TEST(LanguageFileGarbage, BinaryInputGivesShowableTexts)
{
    std::mt19937 random(20260101);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 50; ++round) {
        SCOPED_TRACE(round);
        std::string bytes(4096, '\0');
        for (char& b : bytes)
            b = static_cast<char>(byte(random));
        if (round % 2 == 1)
            bytes.replace(0, 2, Utf16Bom);
        // A readable line inside the garbage is still found: garbage that is not UTF-8 is
        // read in the system code page, where ASCII stays ASCII.
        if (round % 2 == 0)
            bytes.insert(1000, "\n[Dialogs]\nMLMSG_OK=Okay\n");
        ScopedEnvironment environment;
        environment.Set("QRV_CODEPAGE", round % 4 == 0 ? "CP949" : "CP1252");
        TLanguageTable table;
        table.LoadBytes(bytes);
        ExpectShowable(table);
        if (round % 2 == 0) {
            EXPECT_EQ(table.Text(MLMSG_OK), "Okay");
        }
    }
}

// ---------------------------------------------------------------- the user's language

TEST(SystemLanguage, FollowsTheLocaleLanguage)
{
    const std::pair<const char*, int32_t> cases[] = {
        {"zh_CN.UTF-8", 4}, {"zh_TW.Big5", 4}, {"zh_HK", 4}, {"zh_SG.GB2312", 4}, {"zh", 4},
        {"ja_JP.UTF-8", 3}, {"JA_jp", 3},       {"ko_KR.UTF-8", 1}, {"ko", 1},
        {"en_US.UTF-8", 2}, {"de_DE@euro", 2},  {"C", 2},           {"POSIX", 2},  {"C.UTF-8", 2},
        {"", 2},            {"kok_IN", 2},      {"jav", 2},
    };
    for (const auto& [locale, code] : cases)
        EXPECT_EQ(LanguageCodeForLocale(locale), code) << locale;
}

TEST(SystemLanguage, ReadsLcAllThenLcMessagesThenLang)
{
    struct Case {
        const char* all;
        const char* messages;
        const char* lang;
        int32_t code;
    } cases[] = {
        {"ja_JP.UTF-8", "ko_KR.UTF-8", "zh_CN.UTF-8", 3},
        {nullptr, "ko_KR.UTF-8", "zh_CN.UTF-8", 1},
        {"", "", "zh_CN.UTF-8", 4},
        {nullptr, nullptr, nullptr, 2},
        {"en_GB.UTF-8", "ja_JP.UTF-8", nullptr, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.all ? c.all : "-") << " " << (c.messages ? c.messages : "-") << " "
                                        << (c.lang ? c.lang : "-"));
        ScopedEnvironment environment;
        environment.Set("LC_ALL", c.all);
        environment.Set("LC_MESSAGES", c.messages);
        environment.Set("LANG", c.lang);
        EXPECT_EQ(GetSystemLanguage(), c.code);
    }
}

// ---------------------------------------------------------------- the delivered files

namespace {

struct TShippedLanguage {
    int32_t Code;
    const char* Name; // the file's middle part: BrisaPlayer.<Name>.ini
    bool Utf16;
};
constexpr TShippedLanguage ShippedLanguages[] = {
    {LangKorean, "Kor", true}, {LangEnglish, "Eng", false}, {LangJapanese, "Jpn", true}, {LangChinese, "Chn", true}};

const std::filesystem::path AssetsFolder = QRV_LANGUAGE_ASSETS_DIR;

TLanguageTable Loaded(const std::filesystem::path& path)
{
    TLanguageTable table;
    table.LoadFile(path);
    return table;
}

// The printf conversions of a text, in order ("%d", "%%", "%s").
std::string Conversions(const std::string& text)
{
    std::string found;
    for (size_t pos = text.find('%'); pos != std::string::npos && pos + 1 < text.size(); pos = text.find('%', pos + 2))
        found += text.substr(pos, 2);
    return found;
}

} // namespace

TEST(ShippedLanguageFiles, EveryTextIsPresentAndFitsItsUse)
{
    const TLanguageTable builtIn;
    for (const TShippedLanguage& language : ShippedLanguages) {
        const std::filesystem::path path = AssetsFolder / (std::string("BrisaPlayer.") + language.Name + ".ini");
        SCOPED_TRACE(path.string());
        const std::string bytes = ReadFile(path);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(bytes.starts_with(Utf16Bom), language.Utf16);
        if (!language.Utf16) {
            EXPECT_TRUE(IsValidUtf8(bytes));
        }

        const TLanguageTable table = Loaded(path);
        ExpectShowable(table);
        for (size_t i = 0; i < LanguageKeyCount; ++i) {
            const TLangMsg key = Key(i);
            const std::string& text = table.Text(key);
            const std::string& korean = builtIn.Text(key);
            SCOPED_TRACE(LanguageKeyName(key));
            EXPECT_EQ(text.empty(), HasNoBuiltIn(key));
            // Labels that run on into a value end with the same blank in every language.
            EXPECT_EQ(!text.empty() && text.back() == ' ', !korean.empty() && korean.back() == ' ');
        }
        // The texts used as printf formats keep their conversions; the bytes word goes
        // into a format, so it must hold none.
        EXPECT_EQ(Conversions(table.Text(MLMSG_MAIN_12)), "%d%%");
        EXPECT_EQ(Conversions(table.Text(MLMSG_MAIN_15)), "%s%s%%");
        EXPECT_EQ(table.Text(MLMSG_INFO_18).find('%'), std::string::npos);
    }
}

TEST(ShippedLanguageFiles, KoreanFileHoldsTheBuiltInTexts)
{
    const TLanguageTable builtIn;
    const TLanguageTable korean = Loaded(AssetsFolder / "BrisaPlayer.Kor.ini");
    for (size_t i = 0; i < LanguageKeyCount; ++i)
        EXPECT_EQ(korean.Text(Key(i)), builtIn.Text(Key(i))) << LanguageKeyName(Key(i));
}

TEST(ShippedLanguageFiles, WrittenFilesMatchTheirSourcesAndTheCopiesBesideThePlayer)
{
    // The build copies the files into the programs' folder, which is also this test's.
    const std::filesystem::path binFolder = std::filesystem::path(GetExecutablePath()).parent_path();
    for (const TShippedLanguage& language : ShippedLanguages) {
        SCOPED_TRACE(language.Name);
        const std::string fileName = std::string("BrisaPlayer.") + language.Name + ".ini";
        const TLanguageTable written = Loaded(AssetsFolder / fileName);
        const TLanguageTable source = Loaded(AssetsFolder / "src" / (std::string(language.Name) + ".ini"));
        const TLanguageTable copied = Loaded(binFolder / fileName);
        EXPECT_EQ(ReadFile(binFolder / fileName), ReadFile(AssetsFolder / fileName));
        for (size_t i = 0; i < LanguageKeyCount; ++i) {
            EXPECT_EQ(written.Text(Key(i)), source.Text(Key(i)))
                << LanguageKeyName(Key(i)) << ": run scripts/make-language-files.py";
            EXPECT_EQ(copied.Text(Key(i)), written.Text(Key(i))) << LanguageKeyName(Key(i));
        }
        TLanguageTable byCode;
        LoadLanguage(byCode, language.Code, (binFolder / "BrisaPlayer").string());
        EXPECT_EQ(byCode.Text(MLMSG_MAIN_00), written.Text(MLMSG_MAIN_00));
    }
}
