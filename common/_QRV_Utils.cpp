#include "_QRV_Utils.h"

#include "QrvVersion.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cstdio>
#include <langinfo.h>
#include <locale.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qrv {

void SplitFirst(std::string& text, std::string_view separator, bool remove, std::string& head)
{
    const auto at = text.find(separator);
    if (at == std::string::npos) {
        head = text;
        if (remove)
            text.clear();
        return;
    }
    head = text.substr(0, at);
    if (remove)
        text.erase(0, at + separator.size());
}

// One version part as a decimal 32-bit integer; 0 when it is empty, not a number or too large.
static uint16_t VersionPart(std::string_view part)
{
    int32_t value = 0;
    const char* first = part.data();
    const char* last = first + part.size();
    if (first != last && *first == '+')
        ++first;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last || first == last)
        return 0;
    return static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFF);
}

int CompareVersions(std::string_view a, std::string_view b)
{
    std::string restA(a), restB(b), partA, partB;
    int result = 0;
    do {
        SplitFirst(restA, ".", true, partA);
        SplitFirst(restB, ".", true, partB);
        const uint16_t x = VersionPart(partA), y = VersionPart(partB);
        result = x == y ? 0 : (x < y ? -1 : 1);
    } while (result == 0 && !(restA.empty() && restB.empty()));
    return result;
}

bool VersionAtLeast(std::string_view a, std::string_view b)
{
    return CompareVersions(a, b) >= 0;
}

TFileVersion GetFileVersionParts()
{
    return {QRV_VERSION_MAJOR, QRV_VERSION_MINOR, QRV_VERSION_RELEASE, QRV_VERSION_BUILD};
}

std::string GetDateSeparator()
{
    std::string separator = "/";
    locale_t user = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (user == static_cast<locale_t>(nullptr))
        return separator;
    const std::string_view format = nl_langinfo_l(D_FMT, user);
    // Skip the first conversion ("%Y", "%m", "%-d", ...), then take what follows it.
    const auto percent = format.find('%');
    if (percent != std::string_view::npos) {
        auto at = percent + 1;
        while (at < format.size() && !std::isalpha(static_cast<unsigned char>(format[at])))
            ++at;
        ++at;
        if (at < format.size()) {
            const auto c = static_cast<unsigned char>(format[at]);
            if (c < 0x80 && (std::ispunct(c) || c == ' ') && c != '%')
                separator.assign(1, static_cast<char>(c));
        }
    }
    freelocale(user);
    return separator;
}

std::string FormatFileDate(std::time_t when, std::string_view separator)
{
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr)
        return {};
    char part[16];
    std::snprintf(part, sizeof part, "%04d", local.tm_year + 1900);
    std::string text = part;
    std::snprintf(part, sizeof part, "%02d", local.tm_mon + 1);
    text.append(separator).append(part);
    std::snprintf(part, sizeof part, "%02d", local.tm_mday);
    text.append(separator).append(part);
    return text;
}

std::string GetFileDateText(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return {};
    return FormatFileDate(info.st_mtime, GetDateSeparator());
}

std::string GetExecutablePath()
{
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer)
        return {};
    return std::string(buffer, static_cast<size_t>(length));
}

std::string GetVersionString()
{
    const TFileVersion version = GetFileVersionParts();
    const std::string date = GetFileDateText(GetExecutablePath());
    char text[128];
    std::snprintf(text, sizeof text, "%d.%d.%d  (Build %d , %s)", version.Major, version.Minor, version.Release,
                  version.Build, date.c_str());
    return text;
}

bool SetTcpNoDelay(int socket, bool on)
{
    const int value = on ? 1 : 0;
    return setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) != -1;
}

} // namespace qrv
