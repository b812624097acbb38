#include "SingleInstance.h"

#include "RuntimeFolder.h"
#include "TMessageWindow.h"
#include "UnitRegMan.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <system_error>
#include <unistd.h>

namespace qrv {

std::string SingleInstanceLockPath()
{
    return QrvRuntimeFolder() + "/QRV_PLAYER.lock";
}

TInstanceRole CheckSingleInstance(const std::vector<std::string>& arguments)
{
    const std::string folder = EnsureQrvRuntimeFolder();
    if (folder.empty())
        return TInstanceRole::First;
    const std::string path = folder + "/QRV_PLAYER.lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return TInstanceRole::First;
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked == 0)
        return TInstanceRole::First; // the descriptor stays open, and the lock with it, until the process ends
    const bool taken = errno == EWOULDBLOCK;
    ::close(fd);
    if (!taken)
        return TInstanceRole::First;

    if (!arguments.empty() && !arguments.front().empty()) {
        std::error_code ec;
        std::filesystem::path handed(arguments.front());
        const std::filesystem::path absolute = std::filesystem::absolute(handed, ec);
        if (!ec)
            handed = absolute.lexically_normal();
        TRegMan settings;
        settings.SetOpenFilePath(handed.string());
        const int32_t handle = settings.GetOpenHandle();
        if (handle > 0)
            PostMessage(static_cast<uint32_t>(handle), WM_OPENREQUEST, 0, 0);
    }
    return TInstanceRole::Second;
}

} // namespace qrv
