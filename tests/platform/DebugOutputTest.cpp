#include "DebugOutput.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <unistd.h>

namespace qrv {
namespace {

// Runs `body` with standard error sent to a temporary file and answers what it wrote.
template <typename Body>
std::string CaptureStandardError(Body body)
{
    std::FILE* file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(::fileno(file), STDERR_FILENO);
    body();
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) {
        text += static_cast<char>(c);
    }
    std::fclose(file);
    return text;
}

class ScopedDebugSwitch {
public:
    explicit ScopedDebugSwitch(const std::optional<std::string>& value)
    {
        if (const char* old = std::getenv("QRV_DEBUG"))
            m_saved = old;
        if (value)
            ::setenv("QRV_DEBUG", value->c_str(), 1);
        else
            ::unsetenv("QRV_DEBUG");
        ReloadDebugOutputSwitchForTests();
    }
    ~ScopedDebugSwitch()
    {
        if (m_saved)
            ::setenv("QRV_DEBUG", m_saved->c_str(), 1);
        else
            ::unsetenv("QRV_DEBUG");
        ReloadDebugOutputSwitchForTests();
    }

private:
    std::optional<std::string> m_saved;
};

TEST(OutputDebugString, WritesOneLineOnlyWhenSwitchedOn)
{
    struct Case {
        const char* name;
        std::optional<std::string> qrvDebug;
        std::string line;
        std::string expected;
    };
    const Case cases[] = {
        {"unset: silent", std::nullopt, "[CXMixer] hello", ""},
        {"set: the line and its end", "1", "[CXMixer] hello", "[CXMixer] hello\n"},
        {"set but empty still counts", "", "x", "x\n"},
        {"a trailing line end is not doubled", "1", "done\r\n", "done\n"},
        {"inner line ends stay on one line", "1", "a\nb\rc", "a b c\n"},
        {"an empty line is still a line", "1", "", "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedDebugSwitch debug(c.qrvDebug);
        EXPECT_EQ(CaptureStandardError([&] { OutputDebugString(c.line); }), c.expected);
    }
}

} // namespace
} // namespace qrv
