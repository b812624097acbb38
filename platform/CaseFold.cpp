#include "CaseFold.h"

#include "Utf8.h"

#include <clocale>
#include <cstdint>
#include <cwctype>
#include <locale.h>
#include <wctype.h>

namespace qrv {

namespace {

// The locale whose character tables fold case; null when the system lacks it.
locale_t FoldingLocale()
{
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return locale;
}

uint32_t DecodeUtf8(std::string_view text, size_t pos, size_t length)
{
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[pos + i]); };
    if (length == 1)
        return byte(0);
    uint32_t code = byte(0) & (0xFF >> (length + 1));
    for (size_t i = 1; i < length; ++i)
        code = (code << 6) | (byte(i) & 0x3F);
    return code;
}


} // namespace

std::string FoldCase(std::string_view text)
{
    const locale_t locale = FoldingLocale();
    std::string folded;
    folded.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        const size_t length = Utf8CharLength(text, pos);
        if (length == 0) { // not UTF-8 here: keep the byte
            folded += text[pos++];
            continue;
        }
        uint32_t code = DecodeUtf8(text, pos, length);
        if (locale != nullptr) {
            const wint_t upper = towupper_l(static_cast<wint_t>(code), locale);
            // A mapping must stay a valid scalar value to be written back as UTF-8.
            if (upper <= 0x10FFFF && !(upper >= 0xD800 && upper <= 0xDFFF))
                code = static_cast<uint32_t>(upper);
        } else if (code >= 'a' && code <= 'z') {
            code -= 'a' - 'A';
        }
        AppendUtf8(folded, code);
        pos += length;
    }
    return folded;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b)
{
    return FoldCase(a) == FoldCase(b);
}

} // namespace qrv
