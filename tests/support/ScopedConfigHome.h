#pragma once

// Points XDG_CONFIG_HOME at a fresh, empty temporary folder for the life of the object, so
// that a test of the settings never reads or writes the user's real files; puts the old
// value back and removes the folder at the end. Header-only, so that tests of the platform
// library need not link the recording fixtures.

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

namespace qrv::test {

class ScopedConfigHome {
public:
    ScopedConfigHome()
    {
        if (const char* old = std::getenv("XDG_CONFIG_HOME"))
            m_saved = old;
        const char* base = std::getenv("TEST_TMPDIR");
        const std::filesystem::path root = base ? base : std::filesystem::temp_directory_path();
        std::string pattern = (root / "qrv-config-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot create a temporary folder");
        m_path = pattern;
        setenv("XDG_CONFIG_HOME", m_path.c_str(), 1);
    }
    ~ScopedConfigHome()
    {
        if (m_saved)
            setenv("XDG_CONFIG_HOME", m_saved->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScopedConfigHome(const ScopedConfigHome&) = delete;
    ScopedConfigHome& operator=(const ScopedConfigHome&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
    std::optional<std::string> m_saved;
};

} // namespace qrv::test
