#include "RuntimeFolder.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace qrv {

std::string QrvRuntimeFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        std::string folder(runtime);
        while (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
        }
        return folder == "/" ? "/qrv" : folder + "/qrv";
    }
    return "/tmp/qrv-" + std::to_string(::getuid());
}

std::string EnsureQrvRuntimeFolder()
{
    const std::string folder = QrvRuntimeFolder();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    struct stat st{};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        return {};
    }
    if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
        return {};
    }
    return folder;
}

} // namespace qrv
