#include "RegFile.h"

#include "CaseFold.h"
#include "Utf8.h"

#include <cstdio>

namespace qrv {

namespace {

constexpr std::string_view UnnamedValueMark = "@";
constexpr size_t HexBytesPerLine = 25; // bytes on each continued line of a hex value

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool HasControl(std::string_view text)
{
    for (unsigned char c : text)
        if (IsControl(c))
            return true;
    return false;
}

std::vector<std::string_view> SplitPath(std::string_view path)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = path.find('\\', start);
        parts.push_back(path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string_view TrimRight(std::string_view s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string_view TrimLeft(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    return s;
}

// Reads a quoted string that starts at s[pos] == '"'; leaves pos after the closing quote.
bool ParseQuoted(std::string_view s, size_t& pos, std::string& out)
{
    ++pos;
    while (pos < s.size()) {
        const char c = s[pos++];
        if (c == '"')
            return true;
        if (c == '\\') {
            if (pos >= s.size() || (s[pos] != '\\' && s[pos] != '"'))
                return false;
            out += s[pos++];
        } else if (IsControl(static_cast<unsigned char>(c))) {
            return false;
        } else {
            out += c;
        }
    }
    return false; // no closing quote
}

void AppendQuoted(std::string& out, std::string_view text)
{
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
}


// UTF-16LE bytes (up to the first zero unit, as a Windows string ends) to UTF-8; none when
// they are not well-formed.
std::optional<std::string> Utf16LeToUtf8(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t unit = bytes[i] | (bytes[i + 1] << 8);
        if (unit == 0)
            break;
        if (unit >= 0xDC00 && unit <= 0xDFFF)
            return std::nullopt;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 3 >= bytes.size())
                return std::nullopt;
            const uint32_t low = bytes[i + 2] | (bytes[i + 3] << 8);
            if (low < 0xDC00 || low > 0xDFFF)
                return std::nullopt;
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        AppendUtf8(out, unit);
    }
    return out;
}

// Well-formed UTF-8 to UTF-16LE bytes with the closing zero unit.
std::vector<uint8_t> Utf8ToUtf16Le(std::string_view text)
{
    std::vector<uint8_t> bytes;
    const auto unit = [&](uint32_t u) {
        bytes.push_back(static_cast<uint8_t>(u & 0xFF));
        bytes.push_back(static_cast<uint8_t>(u >> 8));
    };
    for (size_t pos = 0; pos < text.size();) {
        const size_t length = Utf8CharLength(text, pos);
        const auto b = [&](size_t i) { return static_cast<uint8_t>(text[pos + i]); };
        uint32_t code = length == 1 ? b(0) : b(0) & (0xFF >> (length + 1));
        for (size_t i = 1; i < length; ++i)
            code = (code << 6) | (b(i) & 0x3F);
        if (code >= 0x10000) {
            unit(0xD800 + ((code - 0x10000) >> 10));
            unit(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            unit(code);
        }
        pos += length;
    }
    unit(0);
    return bytes;
}

void AppendHex(std::string& out, std::string_view type, const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    out += type;
    out += ':';
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) {
            out += ',';
            if (i % HexBytesPerLine == 0)
                out += "\\\n  ";
        }
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
}

// Reads the data of a hex value ("aa,bb,...", continuation already joined).
bool ParseHexBytes(std::string_view data, std::vector<uint8_t>& bytes)
{
    data = TrimRight(TrimLeft(data));
    if (data.empty())
        return true;
    size_t start = 0;
    for (;;) {
        const size_t comma = data.find(',', start);
        const std::string_view token =
            TrimRight(TrimLeft(data.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start)));
        if (token.empty() || token.size() > 2)
            return false;
        int value = 0;
        for (char c : token) {
            const int d = HexDigit(c);
            if (d < 0)
                return false;
            value = value * 16 + d;
        }
        bytes.push_back(static_cast<uint8_t>(value));
        if (comma == std::string_view::npos)
            return true;
        start = comma + 1;
    }
}

class Parser {
public:
    explicit Parser(std::string_view text) : m_text(text)
    {
        if (m_text.substr(0, 3) == "\xEF\xBB\xBF")
            m_text.remove_prefix(3);
    }

    std::optional<RegDocument> Run(std::string* error)
    {
        if (!ParseAll()) {
            if (error != nullptr)
                *error = "line " + std::to_string(m_lineNumber) + ": " + m_error;
            return std::nullopt;
        }
        return std::move(m_document);
    }

private:
    bool NextLine(std::string_view& line)
    {
        if (m_pos >= m_text.size())
            return false;
        const size_t end = m_text.find('\n', m_pos);
        line = m_text.substr(m_pos, end == std::string_view::npos ? std::string_view::npos : end - m_pos);
        m_pos = end == std::string_view::npos ? m_text.size() : end + 1;
        ++m_lineNumber;
        line = TrimRight(line);
        return true;
    }

    bool Fail(const char* why)
    {
        m_error = why;
        return false;
    }

    bool ParseAll()
    {
        std::string_view line;
        bool sawVersion = false;
        RegKey* key = nullptr;
        while (NextLine(line)) {
            if (line.empty())
                continue;
            if (!sawVersion) {
                if (line != RegFileVersionLine)
                    return Fail("the file does not start with the version line");
                sawVersion = true;
                continue;
            }
            if (line.front() == ';')
                continue;
            if (line.front() == '[') {
                if (line.back() != ']' || line.size() < 3)
                    return Fail("a section line is not closed");
                const std::string_view path = line.substr(1, line.size() - 2);
                if (path.front() == '-')
                    return Fail("a key deletion has no place in a settings file");
                for (std::string_view part : SplitPath(path))
                    if (!IsValidRegKeyName(part))
                        return Fail("a key path is not valid");
                key = &m_document.CreateKey(path);
                continue;
            }
            if (line.front() != '"' && line.front() != '@')
                return Fail("a line is neither a section nor a value");
            if (key == nullptr)
                return Fail("a value comes before the first section");
            RegValue value;
            if (!ParseValue(line, value))
                return false;
            key->Set(std::move(value));
        }
        if (!sawVersion)
            return Fail("the version line is missing");
        return true;
    }

    bool ParseValue(std::string_view line, RegValue& value)
    {
        size_t pos = 0;
        if (line.front() == '@') {
            pos = 1;
        } else if (!ParseQuoted(line, pos, value.Name)) {
            return Fail("a value name is not a well-formed quoted string");
        }
        if (pos >= line.size() || line[pos] != '=')
            return Fail("a value name is not followed by '='");
        const std::string_view data = line.substr(pos + 1);
        if (!data.empty() && data.front() == '"') {
            size_t at = 0;
            if (!ParseQuoted(data, at, value.Text) || at != data.size())
                return Fail("a string value is not a well-formed quoted string");
            value.Kind = RegValueKind::String;
            return true;
        }
        if (data.substr(0, 6) == "dword:") {
            const std::string_view digits = data.substr(6);
            if (digits.empty() || digits.size() > 8)
                return Fail("a dword value does not have one to eight digits");
            uint32_t number = 0;
            for (char c : digits) {
                const int d = HexDigit(c);
                if (d < 0)
                    return Fail("a dword value has a character that is not a hexadecimal digit");
                number = number * 16 + static_cast<uint32_t>(d);
            }
            value.Kind = RegValueKind::Integer;
            value.Number = number;
            return true;
        }
        if (data.substr(0, 3) == "hex")
            return ParseHexValue(data, value);
        return Fail("a value is neither a string, a dword nor hex bytes");
    }

    bool ParseHexValue(std::string_view data, RegValue& value)
    {
        const size_t colon = data.find(':');
        if (colon == std::string_view::npos)
            return Fail("a hex value has no ':'");
        const std::string_view type = data.substr(0, colon);
        if (type != "hex") {
            if (type.size() < 6 || type.substr(0, 4) != "hex(" || type.back() != ')' || type.size() > 13)
                return Fail("a hex value's type is not hex or hex(N)");
            for (char c : type.substr(4, type.size() - 5))
                if (HexDigit(c) < 0)
                    return Fail("a hex value's type number is not hexadecimal");
        }
        std::string joined(data.substr(colon + 1));
        while (!joined.empty() && joined.back() == '\\') {
            joined.pop_back();
            std::string_view next;
            if (!NextLine(next))
                return Fail("a hex value continues past the end of the file");
            joined += TrimLeft(next);
        }
        if (!ParseHexBytes(joined, value.Bytes))
            return Fail("a hex value's bytes are not comma-separated hexadecimal pairs");
        if (type == "hex(1)") {
            if (std::optional<std::string> text = Utf16LeToUtf8(value.Bytes)) {
                value.Kind = RegValueKind::String;
                value.Text = std::move(*text);
                value.Bytes.clear();
                return true;
            }
        }
        value.Kind = RegValueKind::Other;
        value.HexType = std::string(type);
        return true;
    }

    std::string_view m_text;
    size_t m_pos = 0;
    size_t m_lineNumber = 0;
    std::string m_error;
    RegDocument m_document;
};

} // namespace

const RegValue* RegKey::Find(std::string_view name) const
{
    const auto it = m_index.find(FoldCase(name));
    return it == m_index.end() ? nullptr : &m_values[it->second];
}

void RegKey::Set(RegValue value)
{
    std::string folded = FoldCase(value.Name);
    const auto it = m_index.find(folded);
    if (it != m_index.end()) {
        value.Name = m_values[it->second].Name;
        m_values[it->second] = std::move(value);
        return;
    }
    m_index.emplace(std::move(folded), m_values.size());
    m_values.push_back(std::move(value));
}

bool RegKey::Erase(std::string_view name)
{
    const auto it = m_index.find(FoldCase(name));
    if (it == m_index.end())
        return false;
    const size_t position = it->second;
    m_values.erase(m_values.begin() + static_cast<std::ptrdiff_t>(position));
    m_index.erase(it);
    for (auto& entry : m_index)
        if (entry.second > position)
            --entry.second;
    return true;
}

const RegKey* RegDocument::FindKey(std::string_view path) const
{
    const auto it = m_index.find(FoldCase(path));
    return it == m_index.end() ? nullptr : &m_keys[it->second];
}

RegKey* RegDocument::FindKey(std::string_view path)
{
    const auto it = m_index.find(FoldCase(path));
    return it == m_index.end() ? nullptr : &m_keys[it->second];
}

RegKey& RegDocument::CreateKey(std::string_view path)
{
    // Walk down from the root so that every ancestor exists and a new key takes the
    // spelling of the ancestors already there.
    std::string spelled;
    size_t position = 0;
    for (std::string_view part : SplitPath(path)) {
        std::string next = spelled.empty() ? std::string(part) : spelled + '\\' + std::string(part);
        std::string folded = FoldCase(next);
        const auto it = m_index.find(folded);
        if (it != m_index.end()) {
            position = it->second;
        } else {
            position = m_keys.size();
            m_index.emplace(std::move(folded), position);
            m_keys.emplace_back(next);
        }
        spelled = m_keys[position].Path();
    }
    return m_keys[position];
}

std::optional<RegDocument> ParseRegText(std::string_view text, std::string* error)
{
    return Parser(text).Run(error);
}

std::string FormatRegText(const RegDocument& document)
{
    std::string out(RegFileVersionLine);
    out += '\n';
    for (const RegKey& key : document.Keys()) {
        // A root key ("HKEY_CURRENT_USER") is implied by its subkeys; it gets a section
        // only for values of its own.
        if (key.Values().empty() && key.Path().find('\\') == std::string::npos)
            continue;
        out += "\n[";
        out += key.Path();
        out += "]\n";
        for (const RegValue& value : key.Values()) {
            if (value.Name.empty())
                out += UnnamedValueMark;
            else
                AppendQuoted(out, value.Name);
            out += '=';
            switch (value.Kind) {
            case RegValueKind::String:
                if (HasControl(value.Text))
                    AppendHex(out, "hex(1)", Utf8ToUtf16Le(value.Text));
                else
                    AppendQuoted(out, value.Text);
                break;
            case RegValueKind::Integer: {
                char digits[16];
                std::snprintf(digits, sizeof digits, "dword:%08x", value.Number);
                out += digits;
                break;
            }
            case RegValueKind::Other:
                AppendHex(out, value.HexType, value.Bytes);
                break;
            }
            out += '\n';
        }
    }
    return out;
}

bool IsValidRegKeyName(std::string_view name)
{
    return !name.empty() && name.find('\\') == std::string_view::npos && !HasControl(name);
}

bool IsValidRegValueName(std::string_view name)
{
    return !HasControl(name);
}

bool IsWritableRegString(std::string_view text)
{
    return !HasControl(text) || IsValidUtf8(text);
}

} // namespace qrv
