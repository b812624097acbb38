#include "SystemCodePage.h"

#include "Utf8.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <iconv.h>

namespace qrv {

namespace {

constexpr const char* DefaultCodePage = "CP1252";

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

const char* EnvironmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

// One iconv conversion descriptor. Convert() may be called any number of times; each call
// starts from the initial shift state.
class Converter {
public:
    Converter(const std::string& to, const std::string& from, bool fromUtf8)
        : m_cd(iconv_open(to.c_str(), from.c_str())), m_fromUtf8(fromUtf8)
    {
    }
    ~Converter()
    {
        if (Ok())
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    std::string Convert(std::string_view input)
    {
        std::string output;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr); // reset the shift state
        char buffer[256];
        char* in = const_cast<char*>(input.data());
        size_t inLeft = input.size();
        while (inLeft > 0) {
            char* out = buffer;
            size_t outLeft = sizeof buffer;
            const size_t result = iconv(m_cd, &in, &inLeft, &out, &outLeft);
            output.append(buffer, static_cast<size_t>(out - buffer));
            if (result != static_cast<size_t>(-1))
                break;
            if (errno == E2BIG)
                continue;
            output.push_back('?');
            if (errno != EILSEQ)
                break; // EINVAL: the input ends inside a character
            // An invalid or unconvertible character: step over it whole when it is a
            // well-formed UTF-8 character, else over one byte.
            size_t skip = 1;
            if (m_fromUtf8) {
                const size_t length = Utf8CharLength(std::string_view(in, inLeft), 0);
                skip = length > 0 ? length : 1;
            }
            in += skip;
            inLeft -= skip;
        }
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        iconv(m_cd, nullptr, nullptr, &out, &outLeft); // the closing shift sequence, if any
        output.append(buffer, static_cast<size_t>(out - buffer));
        return output;
    }

private:
    iconv_t m_cd;
    bool m_fromUtf8;
};

// Without any usable converter: ASCII passes, everything else becomes '?'.
std::string AsciiOnly(std::string_view text, bool fromUtf8)
{
    std::string output;
    for (size_t pos = 0; pos < text.size();) {
        const auto byte = static_cast<unsigned char>(text[pos]);
        if (byte < 0x80) {
            output.push_back(static_cast<char>(byte));
            ++pos;
            continue;
        }
        output.push_back('?');
        const size_t length = fromUtf8 ? Utf8CharLength(text, pos) : 0;
        pos += length > 0 ? length : 1;
    }
    return output;
}

std::string Convert(std::string_view text, const std::string& codePage, bool toCodePage)
{
    if (text.empty())
        return {};
    for (const std::string& name : {codePage, std::string(DefaultCodePage)}) {
        Converter converter(toCodePage ? name : "UTF-8", toCodePage ? "UTF-8" : name, toCodePage);
        if (converter.Ok())
            return converter.Convert(text);
    }
    return AsciiOnly(text, toCodePage);
}

} // namespace

std::string CodePageForLocale(std::string_view localeName)
{
    const std::string name = Lower(localeName.substr(0, localeName.find_first_of(".@")));
    const size_t separator = name.find_first_of("_-");
    const std::string language = name.substr(0, separator);
    const std::string territory = separator == std::string::npos ? "" : name.substr(separator + 1);
    if (language == "ko")
        return "CP949";
    if (language == "ja")
        return "CP932";
    if (language == "zh")
        return territory == "tw" || territory == "hk" || territory == "mo" ? "CP950" : "CP936";
    return DefaultCodePage;
}

std::string SystemCodePageName()
{
    if (const char* codePage = EnvironmentValue("QRV_CODEPAGE"))
        return codePage;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"})
        if (const char* locale = EnvironmentValue(variable))
            return CodePageForLocale(locale);
    return DefaultCodePage;
}

std::string ToCodePage(std::string_view utf8, const std::string& codePage)
{
    return Convert(utf8, codePage, true);
}

std::string FromCodePage(std::string_view bytes, const std::string& codePage)
{
    return Convert(bytes, codePage, false);
}

std::string ToSystemCodePage(std::string_view utf8) { return ToCodePage(utf8, SystemCodePageName()); }

std::string FromSystemCodePage(std::string_view bytes) { return FromCodePage(bytes, SystemCodePageName()); }

std::string CutToCodePageBytes(std::string_view utf8, size_t maxBytes)
{
    const std::string codePage = SystemCodePageName();
    Converter converter(codePage, "UTF-8", true);
    Converter fallback(DefaultCodePage, "UTF-8", true);
    Converter* use = converter.Ok() ? &converter : fallback.Ok() ? &fallback : nullptr;
    size_t used = 0;
    size_t pos = 0;
    while (pos < utf8.size()) {
        const size_t length = Utf8CharLength(utf8, pos);
        const size_t step = length > 0 ? length : 1; // an invalid byte stands for one '?'
        const std::string_view character = utf8.substr(pos, step);
        const size_t bytes = length == 0 || use == nullptr ? 1 : use->Convert(character).size();
        if (used + bytes > maxBytes)
            break;
        used += bytes;
        pos += step;
    }
    return std::string(utf8.substr(0, pos));
}

} // namespace qrv
