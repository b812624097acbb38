#pragma once

// The "system code page": the 8-bit character set in which recordings made on Windows
// store their texts (passwords and other short strings of the header). Every conversion
// between the program's UTF-8 text and those bytes goes through this unit, so that a
// password or text written by a recorder reads back the same here.
//
// The code page is QRV_CODEPAGE when that is set (an iconv name such as "CP949"), else it
// follows the language of the locale (LC_ALL, else LC_CTYPE, else LANG):
//   ko -> CP949, ja -> CP932, zh_CN / zh_SG / zh -> CP936, zh_TW / zh_HK / zh_MO -> CP950,
//   anything else -> CP1252.
// Conversions run through iconv. A character that has no form in the target set, and an
// input byte sequence that is not valid, each become one '?'; no input makes them fail.

#include <cstddef>
#include <string>
#include <string_view>

namespace qrv {

// The code page for a locale name such as "ko_KR.UTF-8" (language, then territory).
std::string CodePageForLocale(std::string_view localeName);

// The code page in force now (QRV_CODEPAGE, else the locale's).
std::string SystemCodePageName();

// UTF-8 text to bytes of the given code page, and back. An unknown code page name falls
// back to CP1252.
std::string ToCodePage(std::string_view utf8, const std::string& codePage);
std::string FromCodePage(std::string_view bytes, const std::string& codePage);

// The same with the system code page.
std::string ToSystemCodePage(std::string_view utf8);
std::string FromSystemCodePage(std::string_view bytes);

// The longest leading part of `utf8`, cut at a character boundary, whose system code page
// form is at most maxBytes long. A two-byte character that would not fit whole is left out
// rather than split.
std::string CutToCodePageBytes(std::string_view utf8, size_t maxBytes);

} // namespace qrv
