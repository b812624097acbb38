#include "_qrv_DebugInfo.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qrv {

namespace {

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// The locale's short date and long time ("%x %X") at local time `when`.
std::string Stamp(std::time_t when)
{
    std::tm local{};
    localtime_r(&when, &local);
    char text[128];
    const size_t length = std::strftime(text, sizeof text, "%x %X", &local);
    return std::string(text, length);
}

bool WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

TDebugInfo::TDebugInfo(const std::string& path) : FPath(Trim(path))
{
}

std::string TDebugInfo::ComposeLine(const std::string& text, bool withContext, std::time_t when) const
{
    std::string line = Stamp(when) + " : " + text + "\r\n";
    if (withContext) {
        std::lock_guard lock(FLock);
        for (const auto& context : FContextLines)
            line += context + "\r\n";
        line += "\r\n";
    }
    return line;
}

bool TDebugInfo::WriteLog(const std::string& text, bool withContext)
{
    try {
        const std::string line = ComposeLine(text, withContext, std::time(nullptr));
        std::lock_guard lock(FLock);
        if (FPath.empty())
            return false;
        const int fd = ::open(FPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        bool written = false;
        struct stat info{};
        if (::fstat(fd, &info) == 0) {
            const bool tooLarge = static_cast<uint64_t>(info.st_size) > MaxLogBytes;
            if (!tooLarge || ::ftruncate(fd, 0) == 0)
                written = WriteAll(fd, line);
        }
        written = (::close(fd) == 0) && written;
        return written;
    } catch (...) {
        return false;
    }
}

} // namespace qrv
