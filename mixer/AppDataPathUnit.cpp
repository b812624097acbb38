#include "AppDataPathUnit.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace qrv {

namespace {

std::string WithTrailingSlash(std::string path)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

std::string FolderOf(const std::string& programPath)
{
    const auto slash = programPath.rfind('/');
    if (slash == std::string::npos)
        return WithTrailingSlash(std::filesystem::current_path().string());
    std::string folder = programPath.substr(0, slash + 1);
    if (folder.front() != '/')
        folder = WithTrailingSlash((std::filesystem::current_path() / folder).lexically_normal().string());
    return folder;
}

} // namespace

TAppDataPath::TAppDataPath(const std::string& programPath)
    : FProgramFolder(FolderOf(programPath)),
      FUserDataRoot(UserDataRootFromEnvironment()),
      FRelativeProgramPath(RelativeProgramPathOf(FProgramFolder)),
      FDataFolder(FUserDataRoot + "QRV/" + FRelativeProgramPath)
{
}

std::string TAppDataPath::RelativeProgramPathOf(const std::string& programFolder)
{
    // Folder names in order, with "." and ".." resolved as written.
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= programFolder.size()) {
        size_t end = programFolder.find('/', start);
        if (end == std::string::npos)
            end = programFolder.size();
        const std::string name = programFolder.substr(start, end - start);
        if (name == "..") {
            if (!names.empty())
                names.pop_back();
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        start = end + 1;
    }
    std::string relative;
    const size_t first = names.size() > 2 ? names.size() - 2 : 0;
    for (size_t i = first; i < names.size(); ++i)
        relative += names[i] + '/';
    return relative;
}

std::string TAppDataPath::UserDataRootFromEnvironment()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/')
        return WithTrailingSlash(dataHome);
    const char* home = std::getenv("HOME");
    std::string homePath = home != nullptr ? home : "";
    if (homePath.empty()) {
        if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr)
            homePath = entry->pw_dir;
    }
    if (homePath.empty())
        return {};
    return WithTrailingSlash(homePath) + ".local/share/";
}

} // namespace qrv
