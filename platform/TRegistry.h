#pragma once

// TRegistry: the current user's registry keys (HKEY_CURRENT_USER), with string and 32-bit
// number values, kept in one text file:
//
//   $XDG_CONFIG_HOME/QRV/registry.reg     ($HOME/.config/QRV/registry.reg when the
//                                          variable is unset, empty or not absolute)
//
// in the notation of Windows registry export files (see RegFile.h). Each key's section
// carries its full path, "[HKEY_CURRENT_USER\Software\QRV\Player\1.0]".
//
// It is used like the Windows registry: an object opens a key (creating it on request),
// reads and writes values of that key, and closes it. Nothing is cached between calls:
// every call reads the file as it is now, and every change is a read-modify-write of the
// whole file under an exclusive advisory lock (flock on registry.reg.lock beside it),
// written to a temporary file in the same folder, flushed to disk and renamed over the
// old file. So a reader in another process always sees a whole file, never a torn one,
// and two processes that change values at the same time never lose each other's values.
// Readers take no lock.
//
// Key paths and value names compare without regard to case and keep the case in which
// they were first written. Values are UTF-8 strings or 32-bit numbers; a value of the
// other type (or of a type this program does not write) reads as missing.
//
// A file that cannot be parsed, or that is larger than RegistryMaxFileBytes, is renamed
// to "registry.reg.corrupt-<YYYYMMDD-HHMMSS>" (with "-<n>" added when that name is taken)
// and the registry starts empty. A file that exists but cannot be read (permissions, I/O
// error) is left alone, and every operation on it fails.
//
// Failures answer false, none or an empty list; nothing throws.
//
// Threads: an object is used by one thread at a time; objects in different threads or
// processes may work on the file at once.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qrv {

// A file above this size (16 MiB) is treated as corrupt instead of being loaded.
inline constexpr uint64_t RegistryMaxFileBytes = 16u * 1024u * 1024u;

// The folder and the file that hold the registry, from the environment at the time of the
// call; empty when no home folder can be found.
std::filesystem::path RegistryFolder();
std::filesystem::path RegistryFilePath();

class TRegistry {
public:
    // The name of the root key in the file.
    static constexpr std::string_view RootKeyName = "HKEY_CURRENT_USER";

    TRegistry() = default;
    ~TRegistry() = default;
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;
    TRegistry(TRegistry&&) = default;
    TRegistry& operator=(TRegistry&&) = default;

    // Opens `key` and makes it the current key. A path that starts with "\" is taken from
    // the root; any other is relative to the current key (to the root when none is open).
    // Parts are separated by "\". When the key does not exist it is created with its
    // missing ancestors if `canCreate`, else the call fails. False leaves the current key
    // as it was.
    bool OpenKey(std::string_view key, bool canCreate);
    // Makes the root the current key again.
    void CloseKey();
    // The full path of the current key, as spelled in the file ("HKEY_CURRENT_USER\...").
    const std::string& CurrentPath() const { return m_currentPath; }

    // True when `key` (resolved like OpenKey does) exists. The current key does not change.
    bool KeyExists(std::string_view key) const;

    // The values of the current key. Missing value, missing key, a value of another type
    // and an unreadable file all give none.
    std::optional<std::string> ReadString(std::string_view name) const;
    std::optional<int32_t> ReadInteger(std::string_view name) const;
    bool ValueExists(std::string_view name) const;
    // The names of the current key's values, in the order in which they were first written.
    std::vector<std::string> GetValueNames() const;

    // Sets a value of the current key, replacing one of the same name whatever its type (the
    // existing name keeps its spelling). The key is created again if another process has
    // deleted it meanwhile. A string is stored up to its first zero character, as the
    // Windows call takes it. False when the file cannot be written, or when the name holds
    // a control character, or the text holds a control character and is not UTF-8.
    bool WriteString(std::string_view name, std::string_view value);
    bool WriteInteger(std::string_view name, int32_t value);
    // Removes a value of the current key; false when there was none or the file cannot be
    // written.
    bool DeleteValue(std::string_view name);

private:
    // The full path of `key` resolved against the current key; none when a part is invalid.
    std::optional<std::string> Resolve(std::string_view key) const;

    std::string m_currentPath{RootKeyName};
};

} // namespace qrv
