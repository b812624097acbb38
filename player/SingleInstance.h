#pragma once

// One player per user session. The first player takes an exclusive lock on
//
//   <runtime folder>/QRV_PLAYER.lock        (RuntimeFolder.h: $XDG_RUNTIME_DIR/qrv)
//
// and keeps it until the process ends; the system drops it then, however the process ends
// (a killed player leaves no lock behind). The descriptor is closed on exec, so the mixer
// process the player starts never inherits the lock and cannot keep it after the player.
//
// A later start that finds the lock taken hands its recording to the running player
// through the settings store (FileOpen\FilePath) and one posted WM_OPENREQUEST to the
// message window the running player published in FileOpen\Handle, then ends.

#include <cstdint>
#include <string>
#include <vector>

namespace qrv {

// Asks the running player to open the path stored in FileOpen\FilePath and play it. No data
// travels with it: the running player reads the path written last.
inline constexpr uint32_t WM_OPENREQUEST = 0x0400 + 1002; // 2026

enum class TInstanceRole {
    First,   // this process holds the lock: go on starting
    Second,  // another player runs: end at once with exit code 0
};

// Runs before any window exists. `arguments` is the command line after the program's name;
// only the first one counts. As a second instance with a path, stores the path (made absolute
// against this process's working folder, since the running player has another one) and
// posts WM_OPENREQUEST to the stored handle when it is not 0; a handle of a player that has
// ended makes the post fail quietly. When no lock can be made at all (no safe runtime
// folder) the process counts as the first: a start is never refused for that.
TInstanceRole CheckSingleInstance(const std::vector<std::string>& arguments);

// The lock file's path in the current environment.
std::string SingleInstanceLockPath();

} // namespace qrv
