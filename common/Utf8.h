#pragma once

// Small UTF-8 helpers shared by the text conversions: the length of the character that
// starts at a position, whether a byte string is well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF), and the encoding of one code point.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qrv {

// Bytes of the well-formed UTF-8 character that starts at text[pos]; 0 when the bytes
// there are not one (a stray continuation byte, an overlong or cut-short sequence...).
inline size_t Utf8CharLength(std::string_view text, size_t pos)
{
    if (pos >= text.size())
        return 0;
    const auto at = [&](size_t i) { return static_cast<uint8_t>(text[pos + i]); };
    const uint8_t lead = at(0);
    if (lead < 0x80)
        return 1;
    size_t length;
    uint8_t low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // overlong
        else if (lead == 0xED)
            high = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90; // overlong
        else if (lead == 0xF4)
            high = 0x8F; // above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() - pos < length)
        return 0;
    if (at(1) < low || at(1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if (at(i) < 0x80 || at(i) > 0xBF)
            return 0;
    return length;
}

inline bool IsValidUtf8(std::string_view text)
{
    for (size_t pos = 0; pos < text.size();) {
        const size_t length = Utf8CharLength(text, pos);
        if (length == 0)
            return false;
        pos += length;
    }
    return true;
}

// Appends the UTF-8 bytes of code point `code` (at most U+10FFFF) to `out`.
inline void AppendUtf8(std::string& out, uint32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

} // namespace qrv
