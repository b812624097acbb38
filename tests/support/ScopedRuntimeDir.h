#pragma once

// Points XDG_RUNTIME_DIR at a fresh, empty temporary folder for the life of the object, so
// that message windows made by a test (and by the processes it starts) never meet the
// user's real ones; puts the old value back and removes the folder at the end. The folder
// sits directly in /tmp because a socket path must stay below 108 bytes. Header-only.

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

namespace qrv::test {

class ScopedRuntimeDir {
public:
    ScopedRuntimeDir()
    {
        if (const char* old = std::getenv("XDG_RUNTIME_DIR"))
            m_saved = old;
        std::string pattern = "/tmp/qrv-rt-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot create a temporary folder");
        m_path = pattern;
        setenv("XDG_RUNTIME_DIR", m_path.c_str(), 1);
    }
    ~ScopedRuntimeDir()
    {
        if (m_saved)
            setenv("XDG_RUNTIME_DIR", m_saved->c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScopedRuntimeDir(const ScopedRuntimeDir&) = delete;
    ScopedRuntimeDir& operator=(const ScopedRuntimeDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
    std::optional<std::string> m_saved;
};

} // namespace qrv::test
