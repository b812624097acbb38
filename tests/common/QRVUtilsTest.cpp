#include "_QRV_Utils.h"

#include <gtest/gtest.h>

#include <cstdlib>
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
