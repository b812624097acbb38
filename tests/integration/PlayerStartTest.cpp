// The player's start and end as real processes: one player per session, the hand-over of a
// second start's recording, the lock after a killed player, the settings at the end, and the
// file-type registration read back by xdg-mime. Every XDG folder and HOME point into a
// scratch folder; Qt runs offscreen and SDL's sound is the dummy driver.

#include "SingleInstance.h"
#include "UnitFileType.h"
#include "UnitRegMan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace qrv;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class PlayerStartTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "qrv-start-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        Root = pattern;
        for (const char* sub : {"config", "data", "runtime", "home", "rec", "elsewhere"})
            fs::create_directories(Root / sub);
        chmod((Root / "runtime").c_str(), 0700);
        setenv("XDG_CONFIG_HOME", (Root / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (Root / "data").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (Root / "runtime").c_str(), 1);
        setenv("HOME", (Root / "home").c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        unsetenv("XDG_CURRENT_DESKTOP");
        A = MakeRecording("a.crd", 11);
        B = MakeRecording("b.crd", 12);
    }
    void TearDown() override
    {
        for (pid_t pid : Running) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        std::error_code ignored;
        fs::remove_all(Root, ignored);
    }

    fs::path MakeRecording(const std::string& name, int seed)
    {
        const fs::path path = Root / "rec" / name;
        const std::string command = std::string(CRDGEN_PATH) + " --seed " + std::to_string(seed) +
                                    " --duration 8 -o '" + path.string() + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return path;
    }

    // Starts the player in `cwd` with `arguments`.
    pid_t Start(const std::vector<std::string>& arguments, const fs::path& cwd = {})
    {
        std::vector<std::string> args{PLAYER_PATH};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const std::string folder = cwd.empty() ? Root.string() : cwd.string();
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, PLAYER_PATH, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }
    // A first player, shown and holding the hand-over handle.
    pid_t StartFirst(const std::vector<std::string>& arguments)
    {
        const int32_t before = TRegMan().GetOpenHandle();
        const pid_t pid = Start(arguments);
        Running.push_back(pid);
        EXPECT_TRUE(WaitFor([&] { return TRegMan().GetOpenHandle() != before && TRegMan().GetOpenHandle() != 0; }, 10s))
            << "the player published no handle";
        return pid;
    }
    // The exit code of `pid` when it ends within `limit`, else -1.
    static int WaitExit(pid_t pid, std::chrono::milliseconds limit)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (std::chrono::steady_clock::now() < end) {
            if (waitpid(pid, &status, WNOHANG) == pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }
    template <class F>
    static bool WaitFor(F condition, std::chrono::milliseconds limit)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (condition())
                return true;
            std::this_thread::sleep_for(20ms);
        }
        return condition();
    }
    static std::vector<std::string> Recent()
    {
        TRegMan settings;
        settings.LoadRecent();
        return settings.RecentList();
    }
    void EndRunning(pid_t pid, int signal)
    {
        kill(pid, signal);
        EXPECT_GE(WaitExit(pid, 10s), 0);
        std::erase(Running, pid);
    }
    static std::string Run(const std::string& command)
    {
        std::string out;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[256];
            while (fgets(buffer, sizeof buffer, pipe) != nullptr)
                out += buffer;
            pclose(pipe);
        }
        while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
            out.pop_back();
        return out;
    }

    fs::path Root;
    fs::path A;
    fs::path B;
    std::vector<pid_t> Running;
};

TEST_F(PlayerStartTest, SecondStartHandsItsRecordingOverAndEndsAtOnce)
{
    StartFirst({A.string()});
    ASSERT_TRUE(WaitFor([] { return !Recent().empty(); }, 10s));
    EXPECT_EQ(Recent().back(), A.string());

    // A relative path from another working folder reaches the running player whole.
    const auto started = std::chrono::steady_clock::now();
    const pid_t second = Start({"../rec/b.crd"}, Root / "elsewhere");
    EXPECT_EQ(WaitExit(second, 5s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s) << "the second start must not open a window";
    EXPECT_EQ(TRegMan().GetOpenFilePath(), B.string());
    EXPECT_TRUE(WaitFor([&] { return Recent().back() == B.string(); }, 10s)) << "the running player did not open it";
}

// Second starts that must leave the running player as it is.
TEST_F(PlayerStartTest, SecondStartsThatHandNothingUsableEndQuietly)
{
    StartFirst({A.string()});
    ASSERT_TRUE(WaitFor([] { return !Recent().empty(); }, 10s));
    struct Case {
        const char* Name;
        std::vector<std::string> Arguments;
    };
    const Case cases[] = {
        {"no arguments", {}},
        {"a path that does not exist", {(Root / "rec" / "missing.crd").string()}},
        {"a folder", {(Root / "rec").string()}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const pid_t second = Start(c.Arguments);
        EXPECT_EQ(WaitExit(second, 5s), 0);
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(Recent(), std::vector<std::string>{A.string()});
    }
}

TEST_F(PlayerStartTest, TwoSecondStartsAtOnceLeaveThePlayerOnTheLastPathWritten)
{
    StartFirst({});
    const pid_t one = Start({A.string()});
    const pid_t two = Start({B.string()});
    EXPECT_EQ(WaitExit(one, 5s), 0);
    EXPECT_EQ(WaitExit(two, 5s), 0);
    const std::string last = TRegMan().GetOpenFilePath();
    ASSERT_TRUE(last == A.string() || last == B.string()) << last;
    EXPECT_TRUE(WaitFor([&] { return !Recent().empty() && Recent().back() == last; }, 10s));
}

TEST_F(PlayerStartTest, AStaleHandleMakesTheSecondStartEndWithoutHarm)
{
    // Another process holds the lock, and the stored handle names no window.
    fs::create_directories(Root / "runtime" / "qrv");
    chmod((Root / "runtime" / "qrv").c_str(), 0700);
    const int fd = open(SingleInstanceLockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    TRegMan().SetOpenHandle(123456);
    const pid_t second = Start({A.string()});
    EXPECT_EQ(WaitExit(second, 5s), 0);
    EXPECT_EQ(TRegMan().GetOpenFilePath(), A.string());
    close(fd);
}

TEST_F(PlayerStartTest, AKilledPlayerLeavesNoLockThatStopsTheNextStart)
{
    const pid_t first = StartFirst({A.string()});
    const int32_t firstHandle = TRegMan().GetOpenHandle();
    EndRunning(first, SIGKILL);
    // The next start is a first start again: it shows its window and publishes its handle.
    const pid_t next = StartFirst({});
    EXPECT_NE(TRegMan().GetOpenHandle(), firstHandle);
    EXPECT_EQ(WaitExit(next, 500ms), -1) << "the next player must keep running";
}

TEST_F(PlayerStartTest, AMissingCommandLinePathOpensAnEmptyWindow)
{
    const pid_t first = StartFirst({(Root / "rec" / "missing.crd").string()});
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(WaitExit(first, 10ms), -1) << "the player must keep running";
    EXPECT_TRUE(Recent().empty());
}

// The settings a player leaves when it ends by a termination signal (the end of the session)
// or by an interrupt: the folder of the last recording and the window's position.
TEST_F(PlayerStartTest, EndingThePlayerSavesTheFolderOfTheLastRecording)
{
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        fs::remove(Root / "config" / "QRV" / "BrisaPlayer.INI");
        const pid_t first = StartFirst({B.string()});
        ASSERT_TRUE(WaitFor([&] { return !Recent().empty() && Recent().back() == B.string(); }, 10s));
        EndRunning(first, signal);
        TRegMan settings;
        settings.Load();
        EXPECT_EQ(settings.FilePath, (Root / "rec").string() + "/");
        std::ifstream ini(Root / "config" / "QRV" / "BrisaPlayer.INI");
        std::stringstream text;
        text << ini.rdbuf();
        EXPECT_NE(text.str().find("[frmBrisaMain]"), std::string::npos) << text.str();
        EXPECT_NE(text.str().find("Left="), std::string::npos);
        EXPECT_NE(text.str().find("Top="), std::string::npos);
    }
}

TEST_F(PlayerStartTest, TheFirstStartRegistersTheRecordingTypeAndTheNextWritesNothing)
{
    const pid_t first = StartFirst({});
    EndRunning(first, SIGTERM);

    // What a file manager sees.
    EXPECT_EQ(Run("XDG_CURRENT_DESKTOP=GNOME xdg-mime query filetype '" + A.string() + "' 2>/dev/null"),
              "application/x-qrv-recording");
    EXPECT_EQ(Run("xdg-mime query default application/x-qrv-recording 2>/dev/null"), "qrv-brisaplayer.desktop");
    const std::string player = fs::canonical(PLAYER_PATH).string();
    EXPECT_EQ(ReadRegisteredCommand(".crd").rfind(player, 0), 0u) << ReadRegisteredCommand(".crd");
    EXPECT_NE(ReadRegisteredIcon(".crd").find(player + ",0"), std::string::npos) << ReadRegisteredIcon(".crd");
    EXPECT_TRUE(fs::exists(Root / "data" / "icons" / "hicolor" / "48x48" / "mimetypes" / "application-x-qrv-recording.png"));

    // Only the user's folders were written.
    for (const fs::path& p : fs::recursive_directory_iterator(Root / "data"))
        EXPECT_EQ(p.string().rfind((Root / "data").string(), 0), 0u);

    const auto stamp = [&](const fs::path& p) { return fs::last_write_time(p); };
    const fs::path desktop = Root / "data" / "applications" / "qrv-brisaplayer.desktop";
    const fs::path list = Root / "config" / "mimeapps.list";
    const auto desktopBefore = stamp(desktop);
    const auto listBefore = stamp(list);
    std::this_thread::sleep_for(20ms);
    const pid_t again = StartFirst({});
    EndRunning(again, SIGTERM);
    EXPECT_EQ(stamp(desktop), desktopBefore);
    EXPECT_EQ(stamp(list), listBefore);
}

} // namespace

TEST(RegisteredQuoteRule, TakesTheQuotedPathOrTheWholeValue)
{
    struct Case {
        const char* value;
        const char* expected;
    } cases[] = {
        {"\"/opt/brisa/BrisaPlayer\" \"%1\"", "/opt/brisa/BrisaPlayer"}, // quoted: the path alone
        {"/opt/brisa/BrisaPlayer \"%1\"", "/opt/brisa/BrisaPlayer \"%1\""}, // unquoted: whole
        {"\"/opt/brisa/BrisaPlayer", ""},                                    // no second quote
        {"/opt/brisa/BrisaPlayer,0", "/opt/brisa/BrisaPlayer,0"},          // an icon index stays
        {"\"\"", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(qrv::ApplyRegisteredQuoteRule(c.value), c.expected);
    }
}
