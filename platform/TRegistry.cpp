#include "TRegistry.h"

#include "RegFile.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace qrv {

namespace {

constexpr const char* FolderName = "QRV";
constexpr const char* FileName = "registry.reg";
constexpr const char* LockSuffix = ".lock";
constexpr const char* TempSuffix = ".tmp-XXXXXX";
constexpr const char* CorruptSuffix = ".corrupt-";
constexpr mode_t PrivateFolderMode = 0700;

fs::path ConfigHome()
{
    // XDG: an unset, empty or relative XDG_CONFIG_HOME means $HOME/.config.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
        return xdg;
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return fs::path(home) / ".config";
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return fs::path(found->pw_dir) / ".config";
    return {};
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    void Reset(int fd)
    {
        Close();
        m_fd = fd;
    }
    bool Close()
    {
        if (m_fd < 0)
            return true;
        const int result = ::close(m_fd);
        m_fd = -1;
        return result == 0;
    }

private:
    int m_fd;
};

enum class ReadOutcome {
    Loaded,  // the file parsed
    Missing, // no file: an empty registry
    Corrupt, // the file cannot be parsed or is too large
    Failed,  // the file exists but cannot be read
};

ReadOutcome ReadDocument(const fs::path& file, RegDocument& document)
{
    document = RegDocument();
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd.Valid())
        return errno == ENOENT ? ReadOutcome::Missing : ReadOutcome::Failed;
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return ReadOutcome::Failed;
    if (static_cast<uint64_t>(info.st_size) > RegistryMaxFileBytes)
        return ReadOutcome::Corrupt;
    // Read to the end, but never more than the limit: the size may have changed since fstat.
    std::string text(static_cast<size_t>(info.st_size) + 1, '\0');
    size_t length = 0;
    for (;;) {
        if (length == text.size()) {
            if (text.size() > RegistryMaxFileBytes)
                return ReadOutcome::Corrupt;
            text.resize(std::min<size_t>(text.size() * 2, RegistryMaxFileBytes + 1));
        }
        const ssize_t got = ::read(fd.Get(), text.data() + length, text.size() - length);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return ReadOutcome::Failed;
        }
        if (got == 0)
            break;
        length += static_cast<size_t>(got);
    }
    text.resize(length);
    std::optional<RegDocument> parsed = ParseRegText(text);
    if (!parsed)
        return ReadOutcome::Corrupt;
    document = std::move(*parsed);
    return ReadOutcome::Loaded;
}

// The exclusive lock on registry.reg.lock, held while the object lives.
class WriteLock {
public:
    // Creates the folder when `create` (mode 0700) and waits for the lock.
    explicit WriteLock(const fs::path& folder, bool create)
    {
        if (create && !MakeFolder(folder))
            return;
        const fs::path lockFile = folder / (std::string(FileName) + LockSuffix);
        m_fd.Reset(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600));
        if (!m_fd.Valid())
            return;
        while (::flock(m_fd.Get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                m_fd.Close();
                return;
            }
        }
    }
    // The lock goes with the descriptor.
    bool Held() const { return m_fd.Valid(); }

private:
    static bool MakeFolder(const fs::path& folder)
    {
        std::error_code error;
        if (fs::is_directory(folder, error))
            return true;
        const fs::path parent = folder.parent_path();
        if (!fs::is_directory(parent, error)) {
            // The configuration home itself is private to the user, like the folder in it.
            fs::create_directories(parent.parent_path(), error);
            if (::mkdir(parent.c_str(), PrivateFolderMode) != 0 && errno != EEXIST)
                return false;
        }
        return ::mkdir(folder.c_str(), PrivateFolderMode) == 0 || errno == EEXIST;
    }

    FileDescriptor m_fd;
};

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return true;
}

// Replaces the file with `document`: a temporary file beside it, flushed, then renamed
// over it, so that the file is always either the old one or the new one whole.
bool WriteDocument(const fs::path& folder, const RegDocument& document)
{
    std::string tempName = (folder / (std::string(FileName) + TempSuffix)).string();
    FileDescriptor fd(::mkostemp(tempName.data(), O_CLOEXEC));
    if (!fd.Valid())
        return false;
    const bool written = WriteAll(fd.Get(), FormatRegText(document)) && ::fsync(fd.Get()) == 0;
    if (!fd.Close() || !written || ::rename(tempName.c_str(), (folder / FileName).c_str()) != 0) {
        ::unlink(tempName.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid())
        ::fsync(dir.Get());
    return true;
}

// Renames a corrupt file to registry.reg.corrupt-<time>[-n]; the caller holds the lock.
void SetAside(const fs::path& folder)
{
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = std::string(FileName) + CorruptSuffix + stamp;
    for (int n = 0; n < 1000; ++n) {
        const fs::path target = folder / (n == 0 ? base : base + "-" + std::to_string(n));
        struct stat info {};
        if (::lstat(target.c_str(), &info) == 0)
            continue;
        ::rename((folder / FileName).c_str(), target.c_str());
        return;
    }
}

// The registry as it is now, for reading. A corrupt file is set aside under the lock (when
// the lock can be had) and the registry reads as empty. False when the file cannot be read.
bool LoadForReading(RegDocument& document)
{
    const fs::path folder = RegistryFolder();
    if (folder.empty())
        return false;
    switch (ReadDocument(folder / FileName, document)) {
    case ReadOutcome::Loaded:
    case ReadOutcome::Missing:
        return true;
    case ReadOutcome::Failed:
        return false;
    case ReadOutcome::Corrupt:
        break;
    }
    // Look again under the lock: a writer may have replaced the file meanwhile.
    WriteLock lock(folder, false);
    if (lock.Held() && ReadDocument(folder / FileName, document) == ReadOutcome::Corrupt)
        SetAside(folder);
    document = RegDocument();
    return true;
}

// Applies `change` to the registry as it is now and writes the result, all under the
// lock. `change` answers whether it succeeded and whether it changed anything.
struct ChangeResult {
    bool Succeeded = false;
    bool Changed = false;
};

bool Update(const std::function<ChangeResult(RegDocument&)>& change)
{
    const fs::path folder = RegistryFolder();
    if (folder.empty())
        return false;
    WriteLock lock(folder, true);
    if (!lock.Held())
        return false;
    RegDocument document;
    switch (ReadDocument(folder / FileName, document)) {
    case ReadOutcome::Loaded:
    case ReadOutcome::Missing:
        break;
    case ReadOutcome::Failed:
        return false;
    case ReadOutcome::Corrupt:
        SetAside(folder);
        document = RegDocument();
        break;
    }
    const ChangeResult result = change(document);
    if (!result.Succeeded)
        return false;
    return !result.Changed || WriteDocument(folder, document);
}

const RegValue* FindValue(const std::string& keyPath, std::string_view name, RegDocument& document)
{
    if (!LoadForReading(document))
        return nullptr;
    const RegKey* key = document.FindKey(keyPath);
    return key == nullptr ? nullptr : key->Find(name);
}

} // namespace

fs::path RegistryFolder()
{
    const fs::path home = ConfigHome();
    return home.empty() ? fs::path() : home / FolderName;
}

fs::path RegistryFilePath()
{
    const fs::path folder = RegistryFolder();
    return folder.empty() ? fs::path() : folder / FileName;
}

std::optional<std::string> TRegistry::Resolve(std::string_view key) const
{
    std::string path;
    if (!key.empty() && key.front() == '\\') {
        path = RootKeyName;
        key.remove_prefix(1);
    } else {
        path = m_currentPath;
    }
    if (!key.empty() && key.back() == '\\')
        key.remove_suffix(1);
    while (!key.empty()) {
        const size_t end = key.find('\\');
        const std::string_view part = key.substr(0, end);
        if (!IsValidRegKeyName(part))
            return std::nullopt;
        path += '\\';
        path += part;
        key = end == std::string_view::npos ? std::string_view() : key.substr(end + 1);
    }
    return path;
}

bool TRegistry::OpenKey(std::string_view key, bool canCreate)
{
    const std::optional<std::string> path = Resolve(key);
    if (!path)
        return false;
    RegDocument document;
    if (!LoadForReading(document))
        return false;
    if (*path == RootKeyName) {
        m_currentPath = *path;
        return true;
    }
    if (const RegKey* found = document.FindKey(*path)) {
        m_currentPath = found->Path();
        return true;
    }
    if (!canCreate)
        return false;
    std::string created;
    const bool ok = Update([&](RegDocument& now) {
        const bool existed = now.FindKey(*path) != nullptr;
        created = now.CreateKey(*path).Path();
        return ChangeResult{true, !existed};
    });
    if (ok)
        m_currentPath = created;
    return ok;
}

void TRegistry::CloseKey()
{
    m_currentPath = RootKeyName;
}

bool TRegistry::KeyExists(std::string_view key) const
{
    const std::optional<std::string> path = Resolve(key);
    if (!path)
        return false;
    if (*path == RootKeyName)
        return true;
    RegDocument document;
    return LoadForReading(document) && document.FindKey(*path) != nullptr;
}

std::optional<std::string> TRegistry::ReadString(std::string_view name) const
{
    RegDocument document;
    const RegValue* value = FindValue(m_currentPath, name, document);
    if (value == nullptr || value->Kind != RegValueKind::String)
        return std::nullopt;
    return value->Text;
}

std::optional<int32_t> TRegistry::ReadInteger(std::string_view name) const
{
    RegDocument document;
    const RegValue* value = FindValue(m_currentPath, name, document);
    if (value == nullptr || value->Kind != RegValueKind::Integer)
        return std::nullopt;
    return static_cast<int32_t>(value->Number);
}

bool TRegistry::ValueExists(std::string_view name) const
{
    RegDocument document;
    return FindValue(m_currentPath, name, document) != nullptr;
}

std::vector<std::string> TRegistry::GetValueNames() const
{
    RegDocument document;
    std::vector<std::string> names;
    if (!LoadForReading(document))
        return names;
    if (const RegKey* key = document.FindKey(m_currentPath))
        for (const RegValue& value : key->Values())
            names.push_back(value.Name);
    return names;
}

bool TRegistry::WriteString(std::string_view name, std::string_view value)
{
    value = value.substr(0, value.find('\0'));
    if (!IsValidRegValueName(name) || !IsWritableRegString(value))
        return false;
    return Update([&](RegDocument& document) {
        RegKey& key = document.CreateKey(m_currentPath);
        const RegValue* old = key.Find(name);
        if (old != nullptr && old->Kind == RegValueKind::String && old->Text == value)
            return ChangeResult{true, false};
        RegValue entry;
        entry.Name = std::string(name);
        entry.Kind = RegValueKind::String;
        entry.Text = std::string(value);
        key.Set(std::move(entry));
        return ChangeResult{true, true};
    });
}

bool TRegistry::WriteInteger(std::string_view name, int32_t value)
{
    if (!IsValidRegValueName(name))
        return false;
    const uint32_t number = static_cast<uint32_t>(value);
    return Update([&](RegDocument& document) {
        RegKey& key = document.CreateKey(m_currentPath);
        const RegValue* old = key.Find(name);
        if (old != nullptr && old->Kind == RegValueKind::Integer && old->Number == number)
            return ChangeResult{true, false};
        RegValue entry;
        entry.Name = std::string(name);
        entry.Kind = RegValueKind::Integer;
        entry.Number = number;
        key.Set(std::move(entry));
        return ChangeResult{true, true};
    });
}

bool TRegistry::DeleteValue(std::string_view name)
{
    return Update([&](RegDocument& document) {
        RegKey* key = document.FindKey(m_currentPath);
        const bool erased = key != nullptr && key->Erase(name);
        return ChangeResult{erased, erased};
    });
}

} // namespace qrv
