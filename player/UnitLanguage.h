#pragma once

// The language table: the 90 texts that the player shows to the user (captions, menu items,
// hints, on-screen display texts, message-box captions, buttons and messages), addressed by
// key. The table starts out with the built-in Korean texts; LoadLanguage replaces them with
// the texts of a language file beside the executable. Texts are UTF-8; the Qt layer turns
// them into QStrings where it shows them.
//
// Language files are INI files with the sections "Dialogs", "Main", "POPUP", "Info", "Hint"
// and "About". How a file is read (see TLanguageTable::LoadFile):
//   - A file that begins with the UTF-16LE byte-order mark is UTF-16LE text; otherwise it
//     is UTF-8 when the whole file is well-formed UTF-8 (a UTF-8 byte-order mark is
//     skipped), otherwise text in the system code page (SystemCodePage.h).
//   - Lines end at CR LF, LF or a lone CR; a NUL character also ends a line.
//   - "[name]" starts a section; "key=value" lines belong to the section above them. Lines
//     before the first section, lines without '=' and lines starting with ';' are ignored.
//   - Section and key names match without regard to case; blanks around names and values
//     are dropped; a value enclosed in a matching pair of double or single quotes loses
//     them (which is how a file keeps a blank at the end of a value).
//   - When a key occurs more than once in its section, the first occurrence counts.
//   - A value is cut to at most 2047 UTF-16 code units, at a character boundary.
//   - Every one of the 90 keys is read from its section; a key that the file lacks becomes
//     an empty text.
//
// The table is not locked: it is written at start-up and by LoadLanguage, both on the
// window thread, and read on that thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace qrv {

// The keys, in table order: section Dialogs, then Main, POPUP, Info, Hint and About.
enum TLangMsg : uint8_t {
    MLMSG_OK,
    MLMSG_CANCEL,
    MLMSG_YES,
    MLMSG_NO,
    MLMSG_WARNING,
    MLMSG_ERROR,
    MLMSG_INFORMATION,
    MLMSG_CONFIRMATION,
    MLMSG_MAIN_00,
    MLMSG_MAIN_01,
    MLMSG_MAIN_02,
    MLMSG_MAIN_03,
    MLMSG_MAIN_04,
    MLMSG_MAIN_05,
    MLMSG_MAIN_06,
    MLMSG_MAIN_07,
    MLMSG_MAIN_08,
    MLMSG_MAIN_09,
    MLMSG_MAIN_10,
    MLMSG_MAIN_11,
    MLMSG_MAIN_12,
    MLMSG_MAIN_13,
    MLMSG_MAIN_14,
    MLMSG_MAIN_15,
    MLMSG_MAIN_16,
    MLMSG_MAIN_17,
    MLMSG_MAIN_18,
    MLMSG_POPUP_01,
    MLMSG_POPUP_02,
    MLMSG_POPUP_03,
    MLMSG_POPUP_04,
    MLMSG_POPUP_05,
    MLMSG_POPUP_06,
    MLMSG_POPUP_07,
    MLMSG_POPUP_08,
    MLMSG_POPUP_09,
    MLMSG_POPUP_10,
    MLMSG_POPUP_11,
    MLMSG_POPUP_12,
    MLMSG_POPUP_13,
    MLMSG_POPUP_14,
    MLMSG_POPUP_15,
    MLMSG_POPUP_16,
    MLMSG_POPUP_17,
    MLMSG_POPUP_18,
    MLMSG_POPUP_19,
    MLMSG_POPUP_20,
    MLMSG_POPUP_21,
    MLMSG_POPUP_22,
    MLMSG_POPUP_23,
    MLMSG_POPUP_24,
    MLMSG_POPUP_25,
    MLMSG_POPUP_26,
    MLMSG_POPUP_27,
    MLMSG_POPUP_28,
    MLMSG_POPUP_29,
    MLMSG_POPUP_30,
    MLMSG_POPUP_31,
    MLMSG_POPUP_32,
    MLMSG_POPUP_33,
    MLMSG_POPUP_34,
    MLMSG_INFO_01,
    MLMSG_INFO_02,
    MLMSG_INFO_03,
    MLMSG_INFO_04,
    MLMSG_INFO_05,
    MLMSG_INFO_06,
    MLMSG_INFO_07,
    MLMSG_INFO_08,
    MLMSG_INFO_09,
    MLMSG_INFO_10,
    MLMSG_INFO_11,
    MLMSG_INFO_12,
    MLMSG_INFO_13,
    MLMSG_INFO_14,
    MLMSG_INFO_15,
    MLMSG_INFO_16,
    MLMSG_INFO_17,
    MLMSG_INFO_18,
    MLMSG_INFO_19,
    MLMSG_INFO_20,
    MLMSG_INFO_21,
    MLMSG_INFO_22,
    MLMSG_HINT_01,
    MLMSG_HINT_02,
    MLMSG_HINT_03,
    MLMSG_HINT_04,
    MLMSG_HINT_05,
    MLMSG_ABOUT_01,
    MLMSG_ABOUT_02,
};

constexpr size_t LanguageKeyCount = 90;
static_assert(MLMSG_ABOUT_02 + 1 == LanguageKeyCount);

// Language codes as the settings store keeps them. Any other positive code reads the
// English file; 0 or less means that no language was chosen yet.
constexpr int32_t LangKorean = 1;
constexpr int32_t LangEnglish = 2;
constexpr int32_t LangJapanese = 3;
constexpr int32_t LangChinese = 4;

constexpr size_t MaxLanguageValueUnits = 2047;      // UTF-16 code units kept of one value
constexpr uintmax_t MaxLanguageFileBytes = 1 << 20; // larger files are not read (see LoadFile)

// The key's name as it appears in a language file ("MLMSG_OK"), and its section ("Dialogs").
std::string_view LanguageKeyName(TLangMsg key);
std::string_view LanguageKeySection(TLangMsg key);

// The built-in Korean text of a key; empty for the five keys that have none
// (MLMSG_MAIN_10, _11, _16, _17 and _18).
std::string_view BuiltInText(TLangMsg key);

class TLanguageTable {
public:
    // A table holding the built-in texts.
    TLanguageTable();

    // The key's current text. A key outside the table reads as empty.
    const std::string& Text(TLangMsg key) const;

    // Loads the language file at `path`:
    //   - no file of that name (or a folder): nothing changes, the table keeps its texts;
    //   - a file that exists but cannot be read, or that is larger than
    //     MaxLanguageFileBytes: every text becomes empty, as for a file that holds none of
    //     the keys. (A complete file in UTF-16 is well under half a megabyte; anything
    //     larger is not a language file, and reading it whole would only cost memory.)
    //   - otherwise every text is taken from the file as LoadBytes does.
    void LoadFile(const std::filesystem::path& path);

    // Replaces every text with the value of its key in the file `bytes`, read by the rules
    // at the top of this header. Never fails: input that is not an INI file at all gives
    // empty texts.
    void LoadBytes(std::string_view bytes);

    // Puts the built-in texts back.
    void Reset();

private:
    std::array<std::string, LanguageKeyCount> m_texts;
};

// The process-wide table, created with the built-in texts on first use.
TLanguageTable& LanguageTable();

// The current text of a key in the process-wide table.
inline const std::string& LangText(TLangMsg key) { return LanguageTable().Text(key); }

// The language code for a locale name such as "ja_JP.UTF-8": Chinese (any territory) 4,
// Japanese 3, Korean 1, anything else (also "C" and "POSIX") 2.
int32_t LanguageCodeForLocale(std::string_view localeName);

// The code of the user's language: the locale named by LC_ALL, else LC_MESSAGES, else LANG
// (empty variables are skipped); 2 when none is set.
int32_t GetSystemLanguage();

// ".Kor.ini", ".Eng.ini", ".Jpn.ini" or ".Chn.ini"; codes other than 1 to 4 give ".Eng.ini".
std::string_view LanguageFileSuffix(int32_t code);

// The language file of `code` for the executable at `executablePath`: the path followed by
// the suffix ("/opt/qrv/BrisaPlayer" -> "/opt/qrv/BrisaPlayer.Jpn.ini").
std::filesystem::path LanguageFilePath(int32_t code, const std::string& executablePath);

// Loads the language file of `code` that lies beside `executablePath` into `table`.
void LoadLanguage(TLanguageTable& table, int32_t code, const std::string& executablePath);

// Loads the language file of `code` beside the running executable into the process-wide
// table. The code itself is not kept here: the settings store owns it.
void LoadLanguage(int32_t code);

} // namespace qrv
