#include "_QRV_Utils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sys/un.h>
#include <vector>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <regex>
#include <sys/socket.h>
#include <unistd.h>

using namespace qrv;

TEST(SplitFirst, SplitsAtFirstSeparatorAndOptionallyRemoves)
{
    struct Case {
        const char* text;
        bool remove;
        const char* head;
        const char* rest;
    } cases[] = {
        {"1.2.3", true, "1", "2.3"},
        {"1.2.3", false, "1", "1.2.3"},
        {"12", true, "12", ""},
        {"12", false, "12", "12"},
        {".5", true, "", "5"},
        {"", true, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + (c.remove ? " remove" : " keep"));
        std::string text = c.text, head = "stale";
        SplitFirst(text, ".", c.remove, head);
        EXPECT_EQ(head, c.head);
        EXPECT_EQ(text, c.rest);
    }
}

TEST(CompareVersions, ComparesPartsAsUnsigned16BitNumbers)
{
    struct Case {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"1.2", "1.2.0", 0},
        {"1.2.0", "1.2", 0},
        {"1.10", "1.9", 1},
        {"1.9", "1.10", -1},
        {"1.2.0.8", "1.2.1", -1},
        {"1.2.0.8", "1.2.0.8", 0},
        {"1.65536", "1.0", 0},     // only the low 16 bits count
        {"1.65537", "1.1", 0},
        {"1.x", "1.0", 0},         // not a number reads as 0
        {"x", "0", 0},
        {"1..3", "1.0.3", 0},      // an empty part reads as 0
        {"2", "10", -1},           // numeric, not textual
        {"1.2.3.4.5", "1.2.3.4.6", -1},
        {"", "", 0},
        {"", "0.0.1", -1},
        {"99999999999", "0", 0},   // beyond 32 bits is not a number
        {"-1", "65535", 0},        // -1 keeps its low 16 bits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(CompareVersions(c.a, c.b), c.expected);
    }
}

TEST(VersionAtLeast, TrueForEqualOrHigher)
{
    EXPECT_TRUE(VersionAtLeast("1.2.0.8", "1.2.0.8"));
    EXPECT_TRUE(VersionAtLeast("1.2.1", "1.2.0.8"));
    EXPECT_FALSE(VersionAtLeast("1.1.2.0", "1.1.2.1"));
}

TEST(FormatFileDate, UsesFourDigitYearAndTheGivenSeparator)
{
    setenv("TZ", "UTC", 1);
    tzset();
    // 2010-03-07 12:00 UTC
    EXPECT_EQ(FormatFileDate(1267963200, "-"), "2010-03-07");
    EXPECT_EQ(FormatFileDate(1267963200, "."), "2010.03.07");
}

TEST(GetDateSeparator, FollowsTheLocaleDateFormat)
{
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(GetDateSeparator(), "/"); // "%m/%d/%y"
    unsetenv("LC_ALL");
}

TEST(GetVersionString, HasTwoBlanksBeforeBuildAndBlanksAroundTheComma)
{
    const std::string text = GetVersionString();
    const TFileVersion v = GetFileVersionParts();
    const std::string prefix = std::to_string(v.Major) + "." + std::to_string(v.Minor) + "." +
                               std::to_string(v.Release) + "  (Build " + std::to_string(v.Build) + " , ";
    EXPECT_EQ(text.rfind(prefix, 0), 0u) << text;
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d+\.\d+\.\d+  \(Build \d+ , \d{4}\D\d{2}\D\d{2}\))")))
        << text;
}

TEST(SetTcpNoDelay, SetsAndClearsTheOptionAndFailsOnANonSocket)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    for (bool on : {true, false}) {
        EXPECT_TRUE(SetTcpNoDelay(fd, on));
        int value = -1;
        socklen_t length = sizeof value;
        ASSERT_EQ(getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, &length), 0);
        EXPECT_EQ(value != 0, on);
    }
    close(fd);
    EXPECT_FALSE(SetTcpNoDelay(fd, true));
}

namespace {

// A scratch HOME and XDG_CONFIG_HOME for one test, restored afterwards.
class ScratchHome {
public:
    ScratchHome()
    {
        char pattern[] = "/tmp/qrv-home-XXXXXX";
        m_root = mkdtemp(pattern);
        Save("HOME");
        Save("XDG_CONFIG_HOME");
        Save("XDG_RUNTIME_DIR");
        Save("PULSE_SERVER");
        setenv("HOME", (m_root + "/home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_root + "/config").c_str(), 1);
        std::filesystem::create_directories(m_root + "/home");
        std::filesystem::create_directories(m_root + "/config");
    }
    ~ScratchHome()
    {
        for (const auto& [name, value] : m_saved)
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
        std::filesystem::remove_all(m_root);
    }
    std::string Home() const { return m_root + "/home"; }
    const std::string& Root() const { return m_root; }
    void UserDirs(const std::string& text) const
    {
        std::ofstream(m_root + "/config/user-dirs.dirs") << text;
    }

private:
    void Save(const char* name)
    {
        const char* value = std::getenv(name);
        m_saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    std::string m_root;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

// A listening unix stream socket at `path`, closed with the object.
class Listener {
public:
    explicit Listener(const std::string& path)
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        m_fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        EXPECT_EQ(bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(m_fd, 4), 0);
    }
    ~Listener() { close(m_fd); }

private:
    int m_fd = -1;
};

} // namespace

TEST(GetMyDocumentsPath, FollowsTheUserDirsRules)
{
    struct Case {
        const char* name;
        const char* userDirs;   // nullptr: no file
        bool documentsFolder;   // ~/Documents exists
        std::string expected;   // relative to HOME when it starts with '~'
    } cases[] = {
        {"configured under home", "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n", true, "~/Papers"},
        {"absolute", "# comment\nXDG_DOCUMENTS_DIR=\"/srv/docs/\"\n", true, "/srv/docs"},
        {"later line wins", "XDG_DOCUMENTS_DIR=\"$HOME/A\"\nXDG_DOCUMENTS_DIR=\"$HOME/B\"\n", false, "~/B"},
        {"home itself means none", "XDG_DOCUMENTS_DIR=\"$HOME/\"\n", true, "~"},
        {"other keys only", "XDG_MUSIC_DIR=\"$HOME/Music\"\n", true, "~/Documents"},
        {"no file, Documents exists", nullptr, true, "~/Documents"},
        {"no file, no Documents", nullptr, false, "~"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchHome scratch;
        if (c.userDirs)
            scratch.UserDirs(c.userDirs);
        if (c.documentsFolder)
            std::filesystem::create_directories(scratch.Home() + "/Documents");
        const std::string expected = c.expected[0] == '~' ? scratch.Home() + c.expected.substr(1) : c.expected;
        EXPECT_EQ(GetMyDocumentsPath(), expected);
    }
    ScratchHome scratch;
    unsetenv("HOME");
    EXPECT_EQ(GetMyDocumentsPath(), "");
}

TEST(IsVistaOrLater, TrueWhenASoundServerSocketAnswers)
{
    ScratchHome scratch;
    const std::string runtime = scratch.Root() + "/run";
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    unsetenv("PULSE_SERVER");
    EXPECT_FALSE(IsVistaOrLater()); // nothing listens
    {
        Listener server(runtime + "/pulse/native");
        EXPECT_TRUE(IsVistaOrLater());
        setenv("PULSE_SERVER", ("unix:" + scratch.Root() + "/elsewhere").c_str(), 1);
        EXPECT_FALSE(IsVistaOrLater()); // PULSE_SERVER names the socket to try, and it is missing
        setenv("PULSE_SERVER", ("unix:" + runtime + "/pulse/native").c_str(), 1);
        EXPECT_TRUE(IsVistaOrLater());
    }
    setenv("PULSE_SERVER", "tcp:sound.example:4713", 1);
    EXPECT_TRUE(IsVistaOrLater()); // a network server is not contacted
}
