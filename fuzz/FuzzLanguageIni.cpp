// Reads arbitrary bytes as a language file and checks that every text the table then holds
// can be shown: well-formed UTF-8, one line, within the value limit.

#include "UnitLanguage.h"
#include "Utf8.h"

#include <cstdlib>
#include <string_view>

namespace {

size_t Utf16Units(std::string_view utf8)
{
    size_t units = 0;
    for (size_t pos = 0; pos < utf8.size();) {
        const size_t length = qrv::Utf8CharLength(utf8, pos);
        units += length == 4 ? 2 : 1;
        pos += length > 0 ? length : 1;
    }
    return units;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > qrv::MaxLanguageFileBytes)
        return 0; // LoadFile does not read such files
    static qrv::TLanguageTable table; // one table for the process, as the player keeps one
    table.LoadBytes(std::string_view(reinterpret_cast<const char*>(data), size));
    for (size_t i = 0; i < qrv::LanguageKeyCount; ++i) {
        const std::string& text = table.Text(static_cast<qrv::TLangMsg>(i));
        if (!qrv::IsValidUtf8(text) || text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos ||
            Utf16Units(text) > qrv::MaxLanguageValueUnits)
            std::abort();
    }
    return 0;
}
