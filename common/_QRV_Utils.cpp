#include "_QRV_Utils.h"

#include "QrvVersion.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <langinfo.h>
#include <locale.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/un.h>
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

namespace {

bool IsFolder(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The value of one line of user-dirs.dirs, `NAME="value"` with backslash escapes, or none
// when the line does not have that form.
bool ParseUserDirsValue(std::string_view line, std::string_view name, std::string& value)
{
    size_t at = 0;
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
        ++at;
    line.remove_prefix(at);
    if (line.substr(0, name.size()) != name)
        return false;
    line.remove_prefix(name.size());
    if (line.size() < 3 || line[0] != '=' || line[1] != '"')
        return false;
    value.clear();
    for (size_t i = 2; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"')
            return true;
        if (c == '\\' && i + 1 < line.size()) {
            value += line[++i];
            continue;
        }
        value += c;
    }
    return false; // no closing quote
}

} // namespace

std::string GetMyDocumentsPath()
{
    const char* homeVar = std::getenv("HOME");
    if (homeVar == nullptr || homeVar[0] != '/')
        return {};
    std::string home = homeVar;
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();

    const char* configVar = std::getenv("XDG_CONFIG_HOME");
    const std::string config =
        configVar != nullptr && configVar[0] == '/' ? std::string(configVar) : home + "/.config";
    std::ifstream dirs(config + "/user-dirs.dirs");
    std::string line;
    std::string configured;
    bool found = false;
    while (std::getline(dirs, line)) {
        std::string value;
        if (!ParseUserDirsValue(line, "XDG_DOCUMENTS_DIR", value))
            continue;
        // Later lines win, as when the file is sourced by a shell.
        if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/')) {
            configured = home + value.substr(5);
            found = true;
        } else if (!value.empty() && value[0] == '/') {
            configured = value;
            found = true;
        }
    }
    if (found) {
        while (configured.size() > 1 && configured.back() == '/')
            configured.pop_back();
        return configured;
    }
    const std::string documents = home + "/Documents";
    return IsFolder(documents) ? documents : home;
}

bool IsVistaOrLater()
{
    std::string socketPath;
    if (const char* server = std::getenv("PULSE_SERVER"); server != nullptr && *server != '\0') {
        // The first entry of the list counts; "unix:PATH" or an absolute path is a local
        // socket, anything else names a network server.
        std::string first(server);
        first = first.substr(0, first.find_first_of(" \t"));
        if (first.rfind("{", 0) == 0) { // "{machine-id}address": the address follows
            const auto close = first.find('}');
            first = close == std::string::npos ? std::string() : first.substr(close + 1);
        }
        if (first.rfind("unix:", 0) == 0)
            socketPath = first.substr(5);
        else if (!first.empty() && first[0] == '/')
            socketPath = first;
        else
            return !first.empty();
    } else {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (runtime == nullptr || runtime[0] != '/')
            return false;
        socketPath = std::string(runtime) + "/pulse/native";
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // A connect to a local stream socket answers at once: accepted, refused or missing.
    const bool reachable = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return reachable;
}

} // namespace qrv
