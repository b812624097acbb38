#include "HeaderTextCodec.h"

#include "SystemCodePage.h"
#include "Utf8.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace qrv {

namespace {

constexpr uint16_t PasswordSeed = 6481;

// The running state after one scrambled byte c.
uint16_t NextPasswordState(uint16_t state, uint8_t c)
{
    return static_cast<uint16_t>((static_cast<uint32_t>(state) + c) * 18211u + 53566u);
}

uint8_t PasswordMask(uint16_t state) { return static_cast<uint8_t>(state >> 8); }

// A group of the stored digits as a number: optional sign, then decimal digits only;
// anything else (empty, blanks, letters) is 0.
int32_t GroupValue(std::string_view group)
{
    size_t pos = 0;
    bool negative = false;
    if (!group.empty() && (group[0] == '+' || group[0] == '-')) {
        negative = group[0] == '-';
        pos = 1;
    }
    if (pos == group.size())
        return 0;
    int32_t value = 0;
    for (; pos < group.size(); ++pos) {
        if (group[pos] < '0' || group[pos] > '9')
            return 0;
        value = value * 10 + (group[pos] - '0');
    }
    return negative ? -value : value;
}

constexpr char Base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> Base64Values()
{
    std::array<int8_t, 256> values{};
    values.fill(-1);
    for (int i = 0; i < 64; ++i)
        values[static_cast<uint8_t>(Base64Alphabet[i])] = static_cast<int8_t>(i);
    return values;
}

} // namespace

std::string EncodePassword(std::string_view codePageBytes)
{
    std::string digits;
    digits.reserve(codePageBytes.size() * 3);
    uint16_t state = PasswordSeed;
    for (const char byte : codePageBytes) {
        const auto c = static_cast<uint8_t>(static_cast<uint8_t>(byte) ^ PasswordMask(state));
        char group[4];
        std::snprintf(group, sizeof group, "%.3d", c);
        digits.append(group, 3);
        state = NextPasswordState(state, c);
    }
    return digits;
}

std::string DecodePassword(std::string_view digits)
{
    std::string bytes;
    uint16_t state = PasswordSeed;
    for (size_t pos = 0; pos < digits.size(); pos += 3) {
        const auto c = static_cast<uint8_t>(GroupValue(digits.substr(pos, 3)));
        bytes.push_back(static_cast<char>(c ^ PasswordMask(state)));
        state = NextPasswordState(state, c);
    }
    return bytes;
}

std::string Base64Encode(std::string_view bytes)
{
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    size_t pos = 0;
    for (; pos + 3 <= bytes.size(); pos += 3) {
        const uint32_t triple = static_cast<uint32_t>(static_cast<uint8_t>(bytes[pos])) << 16 |
                                static_cast<uint32_t>(static_cast<uint8_t>(bytes[pos + 1])) << 8 |
                                static_cast<uint8_t>(bytes[pos + 2]);
        for (int shift = 18; shift >= 0; shift -= 6)
            text.push_back(Base64Alphabet[(triple >> shift) & 63]);
    }
    const size_t rest = bytes.size() - pos;
    if (rest > 0) {
        uint32_t triple = static_cast<uint32_t>(static_cast<uint8_t>(bytes[pos])) << 16;
        if (rest == 2)
            triple |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[pos + 1])) << 8;
        text.push_back(Base64Alphabet[(triple >> 18) & 63]);
        text.push_back(Base64Alphabet[(triple >> 12) & 63]);
        text.push_back(rest == 2 ? Base64Alphabet[(triple >> 6) & 63] : '=');
        text.push_back('=');
    }
    return text;
}

bool Base64Decode(std::string_view text, std::string& bytes)
{
    static constexpr std::array<int8_t, 256> Values = Base64Values();
    bytes.clear();
    if (text.size() % 4 != 0)
        return false;
    bytes.reserve(text.size() / 4 * 3);
    for (size_t pos = 0; pos < text.size(); pos += 4) {
        const bool last = pos + 4 == text.size();
        size_t padding = 0;
        if (last && text[pos + 3] == '=')
            padding = text[pos + 2] == '=' ? 2 : 1;
        uint32_t quad = 0;
        for (size_t i = 0; i < 4; ++i) {
            const int8_t value = i < 4 - padding ? Values[static_cast<uint8_t>(text[pos + i])] : 0;
            if (value < 0)
                return false;
            quad = quad << 6 | static_cast<uint32_t>(value);
        }
        bytes.push_back(static_cast<char>(quad >> 16));
        if (padding < 2)
            bytes.push_back(static_cast<char>(quad >> 8));
        if (padding < 1)
            bytes.push_back(static_cast<char>(quad));
    }
    return true;
}

std::string EncodeSummary(std::string_view utf8) { return Base64Encode(utf8); }

std::string DecodeSummary(std::string_view stored)
{
    std::string bytes;
    if (Base64Decode(stored, bytes) && IsValidUtf8(bytes))
        return bytes;
    return FromSystemCodePage(stored);
}

std::string CutSummaryForStorage(std::string_view utf8)
{
    std::string text;
    for (size_t pos = 0; pos < utf8.size();) {
        const size_t length = Utf8CharLength(utf8, pos);
        const std::string_view character = length > 0 ? utf8.substr(pos, length) : std::string_view("?");
        if (text.size() + character.size() > MaxSummaryUtf8Bytes)
            break;
        text.append(character);
        pos += length > 0 ? length : 1;
    }
    return text;
}

} // namespace qrv
