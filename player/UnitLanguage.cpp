#include "UnitLanguage.h"

#include "SystemCodePage.h"
#include "Utf8.h"
#include "_QRV_Utils.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

namespace qrv {

namespace {

constexpr std::string_view SDialogs = "Dialogs";
constexpr std::string_view SMain = "Main";
constexpr std::string_view SPopup = "POPUP";
constexpr std::string_view SInfo = "Info";
constexpr std::string_view SHint = "Hint";
constexpr std::string_view SAbout = "About";

struct TKeyEntry {
    std::string_view Name;
    std::string_view Section;
    std::string_view BuiltIn; // UTF-8; empty for the keys without a built-in text
};

// One row per key in table order; the texts are the player's own Korean texts.
constexpr TKeyEntry Keys[LanguageKeyCount] = {
    {"MLMSG_OK", SDialogs, "확인"},
    {"MLMSG_CANCEL", SDialogs, "취소"},
    {"MLMSG_YES", SDialogs, "예"},
    {"MLMSG_NO", SDialogs, "아니오"},
    {"MLMSG_WARNING", SDialogs, "경고"},
    {"MLMSG_ERROR", SDialogs, "에러"},
    {"MLMSG_INFORMATION", SDialogs, "알림"},
    {"MLMSG_CONFIRMATION", SDialogs, "질의"},
    {"MLMSG_MAIN_00", SMain, "브리사 플레이어"},
    {"MLMSG_MAIN_01", SMain, "파일이 올바르지 않습니다."},
    {"MLMSG_MAIN_02", SMain, "비밀번호가 잘못되었습니다."},
    {"MLMSG_MAIN_03", SMain, "비밀번호를 입력하세요."},
    {"MLMSG_MAIN_04", SMain, "파일이 존재하지 않습니다."},
    {"MLMSG_MAIN_05", SMain, "열기"},
    {"MLMSG_MAIN_06", SMain, "통합 메뉴"},
    {"MLMSG_MAIN_07", SMain, "소리 없음"},
    {"MLMSG_MAIN_08", SMain, "소리 있음"},
    {"MLMSG_MAIN_09", SMain, "파일의 버전이 호환되지 않아 재생이 되지 않습니다."},
    {"MLMSG_MAIN_10", SMain, ""},
    {"MLMSG_MAIN_11", SMain, ""},
    {"MLMSG_MAIN_12", SMain, "[ 볼륨 : %d %% ]"},
    {"MLMSG_MAIN_13", SMain, "[ 재생 ]"},
    {"MLMSG_MAIN_14", SMain, "[ 일시정지 ]"},
    {"MLMSG_MAIN_15", SMain, "[ 탐색 / 키프레임 / %s (%s%%)"},
    {"MLMSG_MAIN_16", SMain, ""},
    {"MLMSG_MAIN_17", SMain, ""},
    {"MLMSG_MAIN_18", SMain, ""},
    {"MLMSG_POPUP_01", SPopup, "파일 열기"},
    {"MLMSG_POPUP_02", SPopup, "미디어 정보"},
    {"MLMSG_POPUP_03", SPopup, "영상"},
    {"MLMSG_POPUP_04", SPopup, "소리"},
    {"MLMSG_POPUP_05", SPopup, "끝내기"},
    {"MLMSG_POPUP_06", SPopup, "작은 비디오창 보기"},
    {"MLMSG_POPUP_07", SPopup, "원본 크기로 보기"},
    {"MLMSG_POPUP_08", SPopup, "전체 화면으로 보기"},
    {"MLMSG_POPUP_09", SPopup, "최근 파일 목록"},
    {"MLMSG_POPUP_10", SPopup, "소리 줄임"},
    {"MLMSG_POPUP_11", SPopup, "소리 키움"},
    {"MLMSG_POPUP_12", SPopup, "소리 없음"},
    {"MLMSG_POPUP_13", SPopup, "재생"},
    {"MLMSG_POPUP_14", SPopup, "재생/일시정지"},
    {"MLMSG_POPUP_15", SPopup, "정지"},
    {"MLMSG_POPUP_16", SPopup, "크기 조절"},
    {"MLMSG_POPUP_17", SPopup, "x 0.5"},
    {"MLMSG_POPUP_18", SPopup, "x 1.0"},
    {"MLMSG_POPUP_19", SPopup, "x 1.5"},
    {"MLMSG_POPUP_20", SPopup, "x 2.0"},
    {"MLMSG_POPUP_21", SPopup, "명도"},
    {"MLMSG_POPUP_22", SPopup, "대비"},
    {"MLMSG_POPUP_23", SPopup, "채도"},
    {"MLMSG_POPUP_24", SPopup, "감마"},
    {"MLMSG_POPUP_25", SPopup, "5% 증가"},
    {"MLMSG_POPUP_26", SPopup, "5% 감소"},
    {"MLMSG_POPUP_27", SPopup, "기본값으로..."},
    {"MLMSG_POPUP_28", SPopup, "영상 조절 기본값으로..."},
    {"MLMSG_POPUP_29", SPopup, "언어"},
    {"MLMSG_POPUP_30", SPopup, "한국어"},
    {"MLMSG_POPUP_31", SPopup, "영어"},
    {"MLMSG_POPUP_32", SPopup, "일어"},
    {"MLMSG_POPUP_33", SPopup, "중국어"},
    {"MLMSG_POPUP_34", SPopup, "정보"},
    {"MLMSG_INFO_01", SInfo, "등록 정보"},
    {"MLMSG_INFO_02", SInfo, "일반"},
    {"MLMSG_INFO_03", SInfo, "요약"},
    {"MLMSG_INFO_04", SInfo, "녹화 형식:"},
    {"MLMSG_INFO_05", SInfo, "버전 : "},
    {"MLMSG_INFO_06", SInfo, "위치 : "},
    {"MLMSG_INFO_07", SInfo, "크기 : "},
    {"MLMSG_INFO_08", SInfo, "만든 날짜: "},
    {"MLMSG_INFO_09", SInfo, "시작 날짜: "},
    {"MLMSG_INFO_10", SInfo, "종료 날짜: "},
    {"MLMSG_INFO_11", SInfo, "패스워드 : "},
    {"MLMSG_INFO_12", SInfo, "변경"},
    {"MLMSG_INFO_13", SInfo, "삭제"},
    {"MLMSG_INFO_14", SInfo, "요약 : "},
    {"MLMSG_INFO_15", SInfo, "영상,음성"},
    {"MLMSG_INFO_16", SInfo, "영상"},
    {"MLMSG_INFO_17", SInfo, "음성"},
    {"MLMSG_INFO_18", SInfo, "바이트"},
    {"MLMSG_INFO_19", SInfo, "변경"},
    {"MLMSG_INFO_20", SInfo, "비밀번호를 입력하세요."},
    {"MLMSG_INFO_21", SInfo, "패스워드를 삭제하시겠습니까?"},
    {"MLMSG_INFO_22", SInfo, "재생 시간 :"},
    {"MLMSG_HINT_01", SHint, "재생/일시정지(스페이스)"},
    {"MLMSG_HINT_02", SHint, "음소거/복원(M)"},
    {"MLMSG_HINT_03", SHint, "정지(Ctrl+스페이스)"},
    {"MLMSG_HINT_04", SHint, "열기(F2)"},
    {"MLMSG_HINT_05", SHint, "최근에 열어본 파일 목록"},
    {"MLMSG_ABOUT_01", SAbout, "버전"},
    {"MLMSG_ABOUT_02", SAbout, "© 2026 BrisaPlayer 개발자. 모든 권리 보유."},
};

const std::string EmptyText;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Names are ASCII; other bytes compare as they are.
bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}


constexpr uint32_t ReplacementCharacter = 0xFFFD;

// UTF-16LE bytes (without the byte-order mark) to UTF-8. A surrogate without its partner
// becomes U+FFFD; an odd last byte is dropped.
std::string Utf16LeToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 3 / 2);
    const auto unitAt = [&](size_t i) {
        return static_cast<uint32_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8));
    };
    const size_t units = bytes.size() / 2;
    for (size_t i = 0; i < units; ++i) {
        const uint32_t unit = unitAt(2 * i);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const uint32_t low = unitAt(2 * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? ReplacementCharacter : unit);
    }
    return out;
}

// The file's text as UTF-8, by the encoding rules of the header.
std::string DecodeLanguageFile(std::string_view bytes)
{
    if (bytes.starts_with("\xFF\xFE"))
        return Utf16LeToUtf8(bytes.substr(2));
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    if (IsValidUtf8(bytes))
        return std::string(bytes);
    return FromSystemCodePage(bytes);
}

// The longest leading part of a well-formed UTF-8 value that takes at most
// MaxLanguageValueUnits UTF-16 code units; a character that would not fit whole is left out.
std::string_view CutValue(std::string_view value)
{
    size_t units = 0;
    size_t pos = 0;
    while (pos < value.size()) {
        const size_t length = Utf8CharLength(value, pos);
        const size_t step = length > 0 ? length : 1;
        const size_t width = step == 4 ? 2 : 1; // characters above U+FFFF take a surrogate pair
        if (units + width > MaxLanguageValueUnits)
            break;
        units += width;
        pos += step;
    }
    return value.substr(0, pos);
}

std::string_view Unquote(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// The index of the key `name` in section `section`; LanguageKeyCount when there is none.
size_t FindKey(std::string_view section, std::string_view name)
{
    for (size_t i = 0; i < LanguageKeyCount; ++i)
        if (EqualsNoCase(Keys[i].Name, name) && EqualsNoCase(Keys[i].Section, section))
            return i;
    return LanguageKeyCount;
}

} // namespace

std::string_view LanguageKeyName(TLangMsg key) { return key < LanguageKeyCount ? Keys[key].Name : std::string_view(); }

std::string_view LanguageKeySection(TLangMsg key)
{
    return key < LanguageKeyCount ? Keys[key].Section : std::string_view();
}

std::string_view BuiltInText(TLangMsg key) { return key < LanguageKeyCount ? Keys[key].BuiltIn : std::string_view(); }

TLanguageTable::TLanguageTable() { Reset(); }

const std::string& TLanguageTable::Text(TLangMsg key) const
{
    return key < LanguageKeyCount ? m_texts[key] : EmptyText;
}

void TLanguageTable::Reset()
{
    for (size_t i = 0; i < LanguageKeyCount; ++i)
        m_texts[i] = std::string(Keys[i].BuiltIn);
}

void TLanguageTable::LoadBytes(std::string_view bytes)
{
    const std::string text = DecodeLanguageFile(bytes);
    std::array<bool, LanguageKeyCount> found{};
    std::array<std::string, LanguageKeyCount> values;
    std::string_view section;
    bool inSection = false;

    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of(std::string_view("\r\n\0", 3), pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view line = Trim(std::string_view(text).substr(pos, end - pos));
        pos = end + 1;

        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            const size_t close = line.find(']');
            section = Trim(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
            inSection = true;
            continue;
        }
        const size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos)
            continue;
        const size_t index = FindKey(section, Trim(line.substr(0, equals)));
        if (index == LanguageKeyCount || found[index])
            continue;
        found[index] = true;
        values[index] = std::string(CutValue(Unquote(Trim(line.substr(equals + 1)))));
    }
    m_texts = std::move(values);
}

void TLanguageTable::LoadFile(const std::filesystem::path& path)
{
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status) || std::filesystem::is_directory(status))
        return;
    // Only a regular file is opened: a FIFO or a device could block or never end.
    const uintmax_t size = std::filesystem::is_regular_file(status) ? std::filesystem::file_size(path, error) : 0;
    std::string bytes;
    if (std::filesystem::is_regular_file(status) && !error && size <= MaxLanguageFileBytes) {
        std::ifstream file(path, std::ios::binary);
        if (file) {
            bytes.resize(static_cast<size_t>(size));
            file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            bytes.resize(static_cast<size_t>(file.gcount())); // the file may have shrunk meanwhile
            if (file.bad())
                bytes.clear();
        }
    }
    LoadBytes(bytes);
}

TLanguageTable& LanguageTable()
{
    static TLanguageTable table;
    return table;
}

int32_t LanguageCodeForLocale(std::string_view localeName)
{
    const std::string_view language = localeName.substr(0, localeName.find_first_of("_-.@"));
    if (EqualsNoCase(language, "zh"))
        return LangChinese;
    if (EqualsNoCase(language, "ja"))
        return LangJapanese;
    if (EqualsNoCase(language, "ko"))
        return LangKorean;
    return LangEnglish;
}

int32_t GetSystemLanguage()
{
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0')
            return LanguageCodeForLocale(value);
    }
    return LangEnglish;
}

std::string_view LanguageFileSuffix(int32_t code)
{
    switch (code) {
    case LangKorean:
        return ".Kor.ini";
    case LangJapanese:
        return ".Jpn.ini";
    case LangChinese:
        return ".Chn.ini";
    default:
        return ".Eng.ini";
    }
}

std::filesystem::path LanguageFilePath(int32_t code, const std::string& executablePath)
{
    return executablePath + std::string(LanguageFileSuffix(code));
}

void LoadLanguage(TLanguageTable& table, int32_t code, const std::string& executablePath)
{
    if (executablePath.empty())
        return; // no executable path, so no file beside it
    table.LoadFile(LanguageFilePath(code, executablePath));
}

void LoadLanguage(int32_t code) { LoadLanguage(LanguageTable(), code, GetExecutablePath()); }

} // namespace qrv
