#pragma once

// The settings file's contents in memory, and its text form.
//
// The file uses the notation of Windows registry export files, written as UTF-8 without a
// byte-order mark and with LF line ends (CRLF and a UTF-8 byte-order mark are accepted):
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\QRV\Player\1.0]
//   "FilePath"="/home/ann/talks/"
//   "VisibleSmallVideo"=dword:00000001
//
// - The first line that is not blank is exactly the version line above.
// - A section "[full key path]" opens a key; its values follow, one per line. A key's
//   ancestors exist whether or not they have sections of their own. Every key is written
//   with its section, except a root key without values of its own.
// - A value line is "Name"= or @= (the key's unnamed value), then one of:
//     "text"            a string; inside the quotes \\ stands for \ and \" for ", and no
//                       other escape exists. Raw bytes are kept as they are (UTF-8).
//     dword:0000001f    a 32-bit number, one to eight hexadecimal digits.
//     hex(1):...        a string whose bytes are UTF-16LE, used for strings that hold line
//                       breaks or other control characters, which cannot be quoted.
//     hex:..., hex(N):  bytes of any other type, comma-separated pairs of hexadecimal
//                       digits; a line may end in "\" to continue on the next. Kept and
//                       written back unchanged, but readable neither as string nor number.
// - Blank lines and lines starting with ";" are ignored.
// Anything else (deletion markers such as "[-key]" or "Name"=-, unknown escapes, text
// after a closing quote, a value before the first section) makes the whole file invalid.
//
// Keys and value names compare without regard to case (see CaseFold.h) and keep the case
// in which they were first written. When one key or value appears twice, the sections
// merge and the later value wins.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qrv {

enum class RegValueKind { String, Integer, Other };

struct RegValue {
    std::string Name;                // "" is the key's unnamed value
    RegValueKind Kind = RegValueKind::String;
    std::string Text;                // String: the UTF-8 text
    uint32_t Number = 0;             // Integer
    std::string HexType;             // Other: "hex" or "hex(N)", as read
    std::vector<uint8_t> Bytes;      // Other
};

class RegKey {
public:
    explicit RegKey(std::string path) : m_path(std::move(path)) {}

    // The full path from the root, e.g. "HKEY_CURRENT_USER\Software\QRV".
    const std::string& Path() const { return m_path; }
    // In the order in which they were first written.
    const std::vector<RegValue>& Values() const { return m_values; }

    const RegValue* Find(std::string_view name) const;
    // Replaces the value of that name (keeping the name's existing spelling) or appends it.
    void Set(RegValue value);
    // True when a value of that name existed.
    bool Erase(std::string_view name);

private:
    std::string m_path;
    std::vector<RegValue> m_values;
    std::unordered_map<std::string, size_t> m_index; // folded name -> position in m_values
};

class RegDocument {
public:
    const RegKey* FindKey(std::string_view path) const;
    RegKey* FindKey(std::string_view path);
    // The key of that path, created with every missing ancestor when it does not exist.
    RegKey& CreateKey(std::string_view path);
    // In the order in which they were first written.
    const std::vector<RegKey>& Keys() const { return m_keys; }

private:
    std::vector<RegKey> m_keys;
    std::unordered_map<std::string, size_t> m_index; // folded path -> position in m_keys
};

// The first line of every file.
inline constexpr std::string_view RegFileVersionLine = "Windows Registry Editor Version 5.00";

// Parses a whole file. On failure answers none and, when `error` is given, says which line
// is wrong and why.
std::optional<RegDocument> ParseRegText(std::string_view text, std::string* error = nullptr);

// The text of a whole file; ParseRegText reads it back to the same keys and values.
std::string FormatRegText(const RegDocument& document);

// True when `name` can be written as a key name: not empty, no "\" and no control
// character.
bool IsValidRegKeyName(std::string_view name);
// True when `name` can be written as a value name: no control character.
bool IsValidRegValueName(std::string_view name);
// True when `text` can be written as a string value: either it holds no control character
// (it is quoted as it is) or it is well-formed UTF-8 (it is written as UTF-16LE bytes).
bool IsWritableRegString(std::string_view text);

} // namespace qrv
