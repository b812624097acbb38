#pragma once

// TAppDataPath: the program's per-user data folder, where the mixer keeps its diagnostic
// log. It is the user data root ($XDG_DATA_HOME, or ~/.local/share when that is unset,
// empty or not an absolute path) + "QRV/" + the relative program path: the last two
// folder names of the program's own folder. So two installations of the programs in
// different folders keep separate data, and the same installation always finds its own.
//
// Every folder ends in "/".

#include <string>

namespace qrv {

class TAppDataPath {
public:
    // `programPath`: the running program's file (argument 0 or /proc/self/exe).
    // The environment is read once, here.
    explicit TAppDataPath(const std::string& programPath);

    const std::string& ProgramFolder() const { return FProgramFolder; }
    const std::string& UserDataRoot() const { return FUserDataRoot; }
    const std::string& RelativeProgramPath() const { return FRelativeProgramPath; }
    const std::string& DataFolder() const { return FDataFolder; }

    // The part of `programFolder` below the folder two levels up: "/a/b/c/" gives "b/c/",
    // "/b/" gives "b/" (going up stops at the root), "/" gives "". The path is taken as
    // written, without resolving links.
    static std::string RelativeProgramPathOf(const std::string& programFolder);

    // $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share; with a
    // trailing "/". Empty when neither is known.
    static std::string UserDataRootFromEnvironment();

private:
    std::string FProgramFolder;
    std::string FUserDataRoot;
    std::string FRelativeProgramPath;
    std::string FDataFolder;
};

} // namespace qrv
