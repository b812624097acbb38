#pragma once

// Small helpers of the mixer's tests, kept free of the player's libraries so that the
// mixer's tests link the mixer's core only.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "ScopedEnv.h"

namespace qrv::test {

// A fresh folder under the temporary folder, removed with the object.
class MixerTempFolder {
public:
    MixerTempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "qrv-mixer-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            m_path = pattern;
    }
    ~MixerTempFolder()
    {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    MixerTempFolder(const MixerTempFolder&) = delete;
    MixerTempFolder& operator=(const MixerTempFolder&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

} // namespace qrv::test
