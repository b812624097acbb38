#include "ScopedConfigHome.h"
#include "TRegistry.h"
#include "UnitRegMan.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

using namespace qrv;
using qrv::test::ScopedConfigHome;
namespace fs = std::filesystem;

namespace {

using List = std::vector<std::string>;

class RegManTest : public ::testing::Test {
protected:
    // Writes values under Software\QRV\Player\<subkey> as another program would.
    static void Put(const char* subkey, const std::string& name, const std::string& text)
    {
        TRegistry registry;
        ASSERT_TRUE(registry.OpenKey(std::string("\\Software\\QRV\\Player\\") + subkey, true));
        ASSERT_TRUE(registry.WriteString(name, text));
    }
    static void Put(const char* subkey, const std::string& name, int32_t number)
    {
        TRegistry registry;
        ASSERT_TRUE(registry.OpenKey(std::string("\\Software\\QRV\\Player\\") + subkey, true));
        ASSERT_TRUE(registry.WriteInteger(name, number));
    }
    static TRegistry Open(const char* subkey)
    {
        TRegistry registry;
        EXPECT_TRUE(registry.OpenKey(std::string("\\Software\\QRV\\Player\\") + subkey, false));
        return registry;
    }
    static void FillRecent(TRegMan& settings, const List& paths)
    {
        for (const std::string& path : paths)
            settings.AddRecent(path);
        ASSERT_EQ(settings.RecentList(), paths);
    }

    ScopedConfigHome m_home;
};

// The player's order after each opened recording: the path moves to the end.
void Opened(TRegMan& settings, const std::string& path)
{
    settings.RemoveRecent(path);
    settings.AddRecent(path);
}

TEST_F(RegManTest, FirstRunCreatesTheKeysAndKeepsTheDefaults)
{
    TRegMan settings;
    settings.Load();
    EXPECT_EQ(settings.FilePath, "");
    EXPECT_TRUE(settings.VisibleSmallVideo);
    EXPECT_EQ(settings.Language, 0);
    EXPECT_TRUE(settings.RecentList().empty());

    TRegistry registry;
    for (const char* key : {"\\Software\\QRV\\Player", "\\Software\\QRV\\Player\\1.0",
                            "\\Software\\QRV\\Player\\FileList"}) {
        SCOPED_TRACE(key);
        EXPECT_TRUE(registry.KeyExists(key));
    }
    EXPECT_TRUE(Open("1.0").GetValueNames().empty()) << "reading writes no values";

    // The hand-over getters create their key too, and answer 0 and empty.
    EXPECT_EQ(settings.GetOpenHandle(), 0);
    EXPECT_EQ(settings.GetOpenFilePath(), "");
    EXPECT_TRUE(registry.KeyExists("\\Software\\QRV\\Player\\FileOpen"));
}

TEST_F(RegManTest, SaveWritesTheNamedValuesThatLoadReadsBack)
{
    {
        TRegMan settings;
        settings.FilePath = "/home/ann/Talks/";
        settings.VisibleSmallVideo = false;
        settings.Language = 3;
        FillRecent(settings, {"/a.crd", "/b.crd"});
        ASSERT_TRUE(settings.Save());
    }
    TRegistry main = Open("1.0");
    EXPECT_EQ(main.ReadString("FilePath"), "/home/ann/Talks/");
    EXPECT_EQ(main.ReadInteger("VisibleSmallVideo"), 0);
    EXPECT_EQ(main.ReadInteger("Language"), 3);
    TRegistry list = Open("FileList");
    EXPECT_EQ(list.GetValueNames(), (List{"01", "02"}));
    EXPECT_EQ(list.ReadString("01"), "/a.crd");

    TRegMan loaded;
    loaded.Load();
    EXPECT_EQ(loaded.FilePath, "/home/ann/Talks/");
    EXPECT_FALSE(loaded.VisibleSmallVideo);
    EXPECT_EQ(loaded.Language, 3);
    EXPECT_EQ(loaded.RecentList(), (List{"/a.crd", "/b.crd"}));
}

TEST_F(RegManTest, LoadGivesDefaultsForValuesOfAnotherType)
{
    Put("1.0", "FilePath", 12);
    Put("1.0", "VisibleSmallVideo", std::string("0"));
    Put("1.0", "Language", std::string("2"));
    TRegMan settings;
    settings.FilePath = "/kept?";
    settings.VisibleSmallVideo = false;
    settings.Language = 4;
    settings.Load();
    EXPECT_EQ(settings.FilePath, "");
    EXPECT_TRUE(settings.VisibleSmallVideo);
    EXPECT_EQ(settings.Language, 0);
}

TEST_F(RegManTest, AnyNonZeroNumberMeansTheSmallVideoIsWanted)
{
    for (const auto& [stored, wanted] : {std::pair{0, false}, {1, true}, {2, true}, {-1, true}}) {
        SCOPED_TRACE(stored);
        Put("1.0", "VisibleSmallVideo", stored);
        TRegMan settings;
        settings.Load();
        EXPECT_EQ(settings.VisibleSmallVideo, wanted);
    }
}

TEST_F(RegManTest, LoadKeepsTheFieldsWhenTheSettingsCannotBeRead)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "file permissions do not bind the superuser";
    Put("1.0", "Language", 2);
    ASSERT_EQ(chmod(RegistryFilePath().c_str(), 0), 0);
    TRegMan settings;
    settings.FilePath = "/mine/";
    settings.Language = 4;
    settings.Load();
    chmod(RegistryFilePath().c_str(), 0600);
    EXPECT_EQ(settings.FilePath, "/mine/");
    EXPECT_EQ(settings.Language, 4);
}

// --- the recent list -------------------------------------------------------------------

struct RecentCase {
    const char* what;
    List before;
    std::vector<std::pair<char, std::string>> steps; // 'O' opened, 'A' AddRecent, 'R' RemoveRecent
    List after;
};

TEST(RegManRecentList, FollowsItsRules)
{
    const List seven = {"/1", "/2", "/3", "/4", "/5", "/6", "/7"};
    const RecentCase cases[] = {
        {"A, B, A leaves B, A", {}, {{'O', "/A"}, {'O', "/B"}, {'O', "/A"}}, {"/B", "/A"}},
        {"the same path twice is kept once", {}, {{'O', "/A"}, {'O', "/A"}}, {"/A"}},
        {"an eighth new path drops the oldest", seven, {{'O', "/8"}}, {"/2", "/3", "/4", "/5", "/6", "/7", "/8"}},
        {"reopening the oldest of seven moves it to the end", seven, {{'O', "/1"}},
         {"/2", "/3", "/4", "/5", "/6", "/7", "/1"}},
        {"a path differing only in case replaces the entry as now given",
         {"/T/One.crd", "/x"}, {{'O', "/t/ONE.crd"}}, {"/x", "/t/ONE.crd"}},
        {"removal ignores case beyond ASCII", {"/\xC3\x84ra.crd", "/x"}, {{'R', "/\xC3\xA4RA.CRD"}}, {"/x"}},
        {"removal takes only the first match", {"/A", "/a"}, {{'R', "/a"}}, {"/a"}},
        {"removing an absent path changes nothing", {"/A"}, {{'R', "/B"}}, {"/A"}},
        {"adding the newest entry again changes nothing", {"/A", "/B"}, {{'A', "/B"}}, {"/A", "/B"}},
        {"adding compares with the newest entry case-sensitively", {"/A"}, {{'A', "/a"}}, {"/A", "/a"}},
        {"adding the newest entry to a full list keeps all seven", seven, {{'A', "/7"}}, seven},
    };
    for (const RecentCase& c : cases) {
        SCOPED_TRACE(c.what);
        TRegMan settings;
        for (const std::string& path : c.before)
            settings.AddRecent(path);
        for (const auto& [step, path] : c.steps) {
            if (step == 'O')
                Opened(settings, path);
            else if (step == 'A')
                settings.AddRecent(path);
            else
                settings.RemoveRecent(path);
        }
        EXPECT_EQ(settings.RecentList(), c.after);
    }
}

TEST_F(RegManTest, WithSevenEntriesANewPathBecomesSeventhAndTheFirstGoes)
{
    for (int i = 1; i <= 7; ++i)
        Put("FileList", "0" + std::to_string(i), "/talk" + std::to_string(i) + ".crd");
    TRegMan settings;
    settings.Load();
    ASSERT_EQ(settings.RecentList().size(), 7u);
    Opened(settings, "/new.crd");
    ASSERT_TRUE(settings.Save());

    TRegistry list = Open("FileList");
    EXPECT_EQ(list.ReadString("01"), "/talk2.crd");
    EXPECT_EQ(list.ReadString("06"), "/talk7.crd");
    EXPECT_EQ(list.ReadString("07"), "/new.crd");
    EXPECT_EQ(list.GetValueNames().size(), 7u);
}

TEST_F(RegManTest, EmptyOrMistypedEntriesAreSkippedAndDoNotComeBackDoubled)
{
    Put("FileList", "01", "/A");
    Put("FileList", "02", "/B");
    Put("FileList", "03", "");
    Put("FileList", "04", "/C");
    Put("FileList", "05", 5);
    Put("FileList", "06", "/D");
    TRegMan settings;
    settings.Load();
    ASSERT_EQ(settings.RecentList(), (List{"/A", "/B", "/C", "/D"}));

    // Saving the shorter list must not leave "05" and "06" behind as extra entries.
    ASSERT_TRUE(settings.SaveRecent());
    TRegMan again;
    again.LoadRecent();
    EXPECT_EQ(again.RecentList(), (List{"/A", "/B", "/C", "/D"}));
    EXPECT_EQ(Open("FileList").GetValueNames(), (List{"01", "02", "03", "04"}));
}

// --- the hand-over between instances ---------------------------------------------------

TEST_F(RegManTest, HandOverValuesReachAnotherObject)
{
    TRegMan second;
    second.SetOpenFilePath("/home/ann/\xED\x95\x9C.crd");
    second.SetOpenHandle(0x7FFF1234);
    TRegMan running;
    EXPECT_EQ(running.GetOpenFilePath(), "/home/ann/\xED\x95\x9C.crd");
    EXPECT_EQ(running.GetOpenHandle(), 0x7FFF1234);

    TRegistry fileOpen = Open("FileOpen");
    EXPECT_EQ(fileOpen.GetValueNames(), (List{"FilePath", "Handle"}));

    Put("FileOpen", "Handle", std::string("12"));
    Put("FileOpen", "FilePath", 12);
    EXPECT_EQ(running.GetOpenHandle(), 0);
    EXPECT_EQ(running.GetOpenFilePath(), "");
}

TEST_F(RegManTest, TwoProcessesHandingOverAtOnceLeaveASoundFile)
{
    constexpr int WritesEach = 200;
    {
        TRegMan settings;
        settings.FilePath = "/home/ann/";
        settings.Language = 3;
        FillRecent(settings, {"/a.crd", "/b.crd"});
        ASSERT_TRUE(settings.Save());
    }
    // Each process hands over its own paths and handles and reads back what is there;
    // every read must find a whole path from one of the two, never an empty one.
    const auto handOver = [&](const std::string& folder, int32_t handleBase) {
        TRegMan settings;
        for (int i = 0; i < WritesEach; ++i) {
            settings.SetOpenFilePath(folder + std::to_string(i) + ".crd");
            settings.SetOpenHandle(handleBase + i);
            const std::string seen = settings.GetOpenFilePath();
            if (seen.rfind("/child/", 0) != 0 && seen.rfind("/parent/", 0) != 0)
                return false;
            const int32_t handle = settings.GetOpenHandle();
            if (handle < 1000 || handle >= 3000)
                return false;
        }
        return true;
    };

    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0)
        _exit(handOver("/child/", 1000) ? 0 : 1);
    const bool parentOk = handOver("/parent/", 2000);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(parentOk);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    TRegMan settings;
    const std::string last = std::to_string(WritesEach - 1);
    EXPECT_TRUE(settings.GetOpenFilePath() == "/child/" + last + ".crd" ||
                settings.GetOpenFilePath() == "/parent/" + last + ".crd")
        << settings.GetOpenFilePath();
    EXPECT_TRUE(settings.GetOpenHandle() == 1000 + WritesEach - 1 ||
                settings.GetOpenHandle() == 2000 + WritesEach - 1)
        << settings.GetOpenHandle();
    settings.Load();
    EXPECT_EQ(settings.FilePath, "/home/ann/");
    EXPECT_EQ(settings.Language, 3);
    EXPECT_EQ(settings.RecentList(), (List{"/a.crd", "/b.crd"}));
    for (const auto& entry : fs::directory_iterator(RegistryFolder()))
        EXPECT_EQ(entry.path().filename().string().find("corrupt"), std::string::npos) << entry.path();
}

} // namespace
