#include "UnitRegMan.h"

#include "CaseFold.h"
#include "TRegistry.h"

#include <algorithm>
#include <cstdio>

namespace qrv {

namespace {

constexpr const char* PlayerKey = "\\Software\\QRV\\Player";
constexpr const char* SettingsKey = "1.0";
constexpr const char* FileListKey = "FileList";
constexpr const char* FileOpenKey = "FileOpen";

constexpr const char* FilePathValue = "FilePath";
constexpr const char* VisibleSmallVideoValue = "VisibleSmallVideo";
constexpr const char* LanguageValue = "Language";
constexpr const char* HandleValue = "Handle";

// "01" .. "07": the value name of recent entry `index` (from 0).
std::string RecentValueName(size_t index)
{
    char name[8];
    std::snprintf(name, sizeof name, "%02zu", index + 1);
    return name;
}

// Opens the player's key and then its subkey, creating both when missing.
bool OpenSubkey(TRegistry& registry, const char* subkey)
{
    return registry.OpenKey(PlayerKey, true) && registry.OpenKey(subkey, true);
}

} // namespace

void TRegMan::Load()
{
    TRegistry registry;
    if (registry.OpenKey(PlayerKey, true)) {
        FilePath.clear();
        VisibleSmallVideo = true;
        Language = 0;
        if (registry.OpenKey(SettingsKey, true)) {
            if (std::optional<std::string> path = registry.ReadString(FilePathValue))
                FilePath = std::move(*path);
            if (std::optional<int32_t> visible = registry.ReadInteger(VisibleSmallVideoValue))
                VisibleSmallVideo = *visible != 0;
            if (std::optional<int32_t> language = registry.ReadInteger(LanguageValue))
                Language = *language;
        }
    }
    LoadRecent();
}

bool TRegMan::Save()
{
    TRegistry registry;
    if (!OpenSubkey(registry, SettingsKey))
        return false;
    bool ok = registry.WriteString(FilePathValue, FilePath);
    ok = registry.WriteInteger(VisibleSmallVideoValue, VisibleSmallVideo ? 1 : 0) && ok;
    ok = registry.WriteInteger(LanguageValue, Language) && ok;
    return SaveRecent() && ok;
}

void TRegMan::LoadRecent()
{
    m_recent.clear();
    TRegistry registry;
    if (!OpenSubkey(registry, FileListKey))
        return;
    for (size_t i = 0; i < MaxRecent; ++i) {
        std::optional<std::string> path = registry.ReadString(RecentValueName(i));
        if (path && !path->empty())
            m_recent.push_back(std::move(*path));
    }
}

bool TRegMan::SaveRecent()
{
    TRegistry registry;
    if (!OpenSubkey(registry, FileListKey))
        return false;
    bool ok = true;
    for (size_t i = 0; i < m_recent.size() && i < MaxRecent; ++i)
        ok = registry.WriteString(RecentValueName(i), m_recent[i]) && ok;
    // Numbered values past the list would come back as entries at the next load: a list
    // that lost an entry (an empty value skipped at load) would then hold its last path
    // twice.
    for (size_t i = m_recent.size(); i < MaxRecent; ++i)
        if (registry.ValueExists(RecentValueName(i)))
            ok = registry.DeleteValue(RecentValueName(i)) && ok;
    return ok;
}

void TRegMan::AddRecent(const std::string& fileName)
{
    if (!m_recent.empty() && m_recent.back() == fileName)
        return;
    // Make room only for a path that is really added, so the list never shrinks here.
    if (m_recent.size() >= MaxRecent)
        m_recent.erase(m_recent.begin());
    m_recent.push_back(fileName);
}

void TRegMan::RemoveRecent(const std::string& fileName)
{
    const std::string folded = FoldCase(fileName);
    const auto found = std::find_if(m_recent.begin(), m_recent.end(),
                                    [&](const std::string& entry) { return FoldCase(entry) == folded; });
    if (found != m_recent.end())
        m_recent.erase(found);
}

void TRegMan::SetOpenHandle(int32_t handle)
{
    TRegistry registry;
    if (OpenSubkey(registry, FileOpenKey))
        registry.WriteInteger(HandleValue, handle);
}

int32_t TRegMan::GetOpenHandle() const
{
    TRegistry registry;
    if (!OpenSubkey(registry, FileOpenKey))
        return 0;
    return registry.ReadInteger(HandleValue).value_or(0);
}

void TRegMan::SetOpenFilePath(const std::string& fileName)
{
    TRegistry registry;
    if (OpenSubkey(registry, FileOpenKey))
        registry.WriteString(FilePathValue, fileName);
}

std::string TRegMan::GetOpenFilePath() const
{
    TRegistry registry;
    if (!OpenSubkey(registry, FileOpenKey))
        return {};
    return registry.ReadString(FilePathValue).value_or(std::string());
}

TRegMan& RegMan()
{
    static TRegMan instance;
    return instance;
}

} // namespace qrv
