#include "AppDataPathUnit.h"
#include "MixerTestSupport.h"
#include "_qrv_DebugInfo.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

using namespace qrv;
using qrv::test::ScopedEnv;
using TempFolder = qrv::test::MixerTempFolder;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST(DebugInfo, LineIsStampColonTextAndCrLf)
{
    ScopedEnv tz("TZ", "UTC");
    tzset();
    std::setlocale(LC_TIME, "C");
    TDebugInfo log("  /nowhere/x.log \t");
    EXPECT_EQ(log.Path(), "/nowhere/x.log");
    const std::time_t when = 1267963200; // 2010-03-07 12:00:00 UTC
    EXPECT_EQ(log.ComposeLine("Header is invalid.", false, when), "03/07/10 12:00:00 : Header is invalid.\r\n");
    // The context form ends with an empty line (the mixer has no context lines to add).
    EXPECT_EQ(log.ComposeLine("boom (E)", true, when), "03/07/10 12:00:00 : boom (E)\r\n\r\n");
}

TEST(DebugInfo, AppendsLinesToTheFile)
{
    TempFolder folder;
    TDebugInfo log((folder / "CXMixer.except.log").string());
    EXPECT_TRUE(log.WriteLog("first", false));
    EXPECT_TRUE(log.WriteLog("second", false));
    const std::string text = ReadAll(folder / "CXMixer.except.log");
    EXPECT_TRUE(std::regex_match(text, std::regex("[^\r\n]+ : first\r\n[^\r\n]+ : second\r\n"))) << text;
}

// A log of exactly 10,000,000 bytes is still appended to; one byte more and it is emptied
// before the line goes in.
TEST(DebugInfo, EmptiesTheFileOnlyWhenLargerThanTenMillionBytes)
{
    struct Case {
        uintmax_t size;
        bool emptied;
    } cases[] = {
        {0, false},
        {9'999'999, false},
        {10'000'000, false},
        {10'000'001, true},
        {25'000'000, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        TempFolder folder;
        const fs::path path = folder / "big.log";
        { std::ofstream(path, std::ios::binary).put('A'); }
        fs::resize_file(path, c.size);
        TDebugInfo log(path.string());
        ASSERT_TRUE(log.WriteLog("line", false));
        const uintmax_t lineBytes = log.ComposeLine("line", false, std::time(nullptr)).size();
        EXPECT_EQ(fs::file_size(path), c.emptied ? lineBytes : c.size + lineBytes);
    }
}

TEST(DebugInfo, FailuresAnswerFalseQuietly)
{
    TempFolder folder;
    fs::create_directory(folder / "adir");
    for (const std::string& path : {(folder / "missing" / "x.log").string(), (folder / "adir").string(), std::string("   ")}) {
        SCOPED_TRACE(path);
        TDebugInfo log(path);
        EXPECT_FALSE(log.WriteLog("lost", false));
    }
}

TEST(DebugInfo, LinesFromSeveralThreadsStayWhole)
{
    TempFolder folder;
    TDebugInfo log((folder / "t.log").string());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 200; ++i)
                log.WriteLog("thread " + std::to_string(t) + " line " + std::to_string(i) + std::string(300, 'x'), false);
        });
    for (auto& thread : threads)
        thread.join();
    std::istringstream lines(ReadAll(folder / "t.log"));
    std::string line;
    int count = 0;
    const std::regex whole("[^\r\n]+ : thread [0-3] line [0-9]+x{300}\r");
    while (std::getline(lines, line)) {
        ++count;
        EXPECT_TRUE(std::regex_match(line, whole)) << line;
    }
    EXPECT_EQ(count, 800);
}

TEST(AppDataPath, RelativeProgramPathIsTheLastTwoFolderNames)
{
    struct Case {
        const char* folder;
        const char* relative;
    } cases[] = {
        {"/a/b/c/", "b/c/"},
        {"/opt/qrv/bin/", "qrv/bin/"},
        {"/b/", "b/"}, // going up stops at the root
        {"/", ""},
        {"/a/./b/../c/", "a/c/"},
        {"/a//b///c/", "b/c/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        EXPECT_EQ(TAppDataPath::RelativeProgramPathOf(c.folder), c.relative);
    }
}

TEST(AppDataPath, DataFolderIsUnderTheUserDataRoot)
{
    struct Case {
        const char* name;
        const char* xdgDataHome;
        const char* home;
        const char* program;
        const char* dataFolder;
    } cases[] = {
        {"XDG_DATA_HOME set", "/tmp/xdgdata", "/home/u", "/opt/qrv/bin/CXMixer", "/tmp/xdgdata/QRV/qrv/bin/"},
        {"trailing slash kept single", "/tmp/xdgdata/", "/home/u", "/opt/qrv/bin/CXMixer", "/tmp/xdgdata/QRV/qrv/bin/"},
        {"XDG_DATA_HOME unset", nullptr, "/home/u", "/usr/CXMixer", "/home/u/.local/share/QRV/usr/"},
        {"XDG_DATA_HOME empty", "", "/home/u", "/a/b/c/CXMixer", "/home/u/.local/share/QRV/b/c/"},
        {"XDG_DATA_HOME relative is ignored", "rel/data", "/home/u", "/a/b/c/CXMixer", "/home/u/.local/share/QRV/b/c/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv xdg("XDG_DATA_HOME", c.xdgDataHome);
        ScopedEnv home("HOME", c.home);
        TAppDataPath paths(c.program);
        EXPECT_EQ(paths.DataFolder(), c.dataFolder);
    }
}
