#include "RuntimeFolder.h"
#include "ScopedRuntimeDir.h"
#include "TMessageWindow.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <poll.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace qrv {
namespace {

using Message = std::tuple<uint32_t, uint32_t, uint32_t>;

std::vector<Message> ReadAll(TMessageWindow& window)
{
    std::vector<Message> messages;
    window.ReadPending([&](uint32_t m, uint32_t w, uint32_t l) { messages.emplace_back(m, w, l); });
    return messages;
}

sockaddr_un AddressOf(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

// Sends raw bytes to a window's socket, as a tool that does not use PostMessage would.
void SendRaw(const std::string& path, const std::vector<uint8_t>& bytes)
{
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    const sockaddr_un address = AddressOf(path);
    EXPECT_EQ(::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address), sizeof address),
              static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

// Forks a child that runs `body` and exits with its answer (0 = fine).
template <typename Body>
pid_t Fork(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(body());
    }
    return pid;
}

int WaitExit(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class MessageWindowTest : public ::testing::Test {
protected:
    test::ScopedRuntimeDir m_runtime;
};

TEST_F(MessageWindowTest, PostsReachTheAddressedWindowOnly)
{
    TMessageWindow first;
    TMessageWindow second;
    ASSERT_TRUE(first.IsValid());
    ASSERT_TRUE(second.IsValid());
    EXPECT_TRUE(PostMessage(second.Handle(), 34049, 0xFFFFFFFFu, 0x80000001u));
    EXPECT_TRUE(PostMessage(second.Handle(), 24024, 7, 0));
    EXPECT_TRUE(PostMessage(first.Handle(), 1, 2, 3));
    EXPECT_EQ(ReadAll(second), (std::vector<Message>{{34049, 0xFFFFFFFFu, 0x80000001u}, {24024, 7, 0}}));
    EXPECT_EQ(ReadAll(first), (std::vector<Message>{{1, 2, 3}}));
    EXPECT_TRUE(ReadAll(first).empty());
}

TEST_F(MessageWindowTest, SocketIsInTheRuntimeFolderAndCarriesTwelveLittleEndianBytes)
{
    TMessageWindow window;
    ASSERT_TRUE(window.IsValid());
    EXPECT_EQ(window.Path(), (m_runtime.Path() / "qrv" / ("wnd-" + std::to_string(window.Handle()))).string());
    struct stat st{};
    ASSERT_EQ(::stat((m_runtime.Path() / "qrv").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // What another program would write by hand.
    SendRaw(window.Path(), {0x02, 0x85, 0, 0, 0x78, 0x56, 0x34, 0x12, 0xFF, 0, 0, 0x80});
    EXPECT_EQ(ReadAll(window), (std::vector<Message>{{34050, 0x12345678u, 0x800000FFu}}));

    // What PostMessage writes, read off a socket bound by hand at a handle's path.
    const uint32_t handle = 1234567;
    const std::string path = MessageWindowPath(handle);
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    const sockaddr_un address = AddressOf(path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_TRUE(PostMessage(handle, 33871, 0x01020304u, 0xA0B0C0D0u));
    uint8_t bytes[32];
    ASSERT_EQ(::recv(fd, bytes, sizeof bytes, MSG_DONTWAIT), 12);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 12),
              (std::vector<uint8_t>{0x4F, 0x84, 0, 0, 0x04, 0x03, 0x02, 0x01, 0xD0, 0xC0, 0xB0, 0xA0}));
    ::close(fd);
    ::unlink(path.c_str());
}

TEST_F(MessageWindowTest, AnotherProcessCanPostABurstWithoutLosingMessages)
{
    // The system queues only a handful of datagrams per socket; a burst far larger than that
    // must still arrive whole and in order while the receiver keeps reading.
    constexpr uint32_t Count = 2000;
    TMessageWindow window;
    ASSERT_TRUE(window.IsValid());
    const uint32_t handle = window.Handle();
    const pid_t child = Fork([&] {
        for (uint32_t i = 0; i < Count; ++i) {
            if (!PostMessage(handle, 24024, i, ~i, 2000)) {
                return 1;
            }
        }
        return 0;
    });
    std::vector<Message> received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (received.size() < Count && std::chrono::steady_clock::now() < deadline) {
        pollfd p{window.Fd(), POLLIN, 0};
        ::poll(&p, 1, 100);
        for (const Message& m : ReadAll(window)) {
            received.push_back(m);
        }
    }
    EXPECT_EQ(WaitExit(child), 0);
    ASSERT_EQ(received.size(), Count);
    for (uint32_t i = 0; i < Count; ++i) {
        ASSERT_EQ(received[i], Message(24024, i, ~i)) << "message " << i;
    }
}

TEST_F(MessageWindowTest, PostingToNoWindowFailsQuietlyAndAtOnce)
{
    TMessageWindow window;
    ASSERT_TRUE(window.IsValid());
    const uint32_t unused = window.Handle() == MaxWindowHandle ? 1 : window.Handle() + 1;
    struct Case {
        const char* name;
        uint32_t handle;
    } const cases[] = {
        {"no socket for the handle", unused},
        {"handle 0", 0},
        {"beyond 31 bits", 0x80000000u | window.Handle()},
        {"all ones (-1 to the mixer)", 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(PostMessage(c.handle, 1, 2, 3));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(15));
    }
    EXPECT_TRUE(ReadAll(window).empty());

    // A window that is gone: its file is removed and posting fails the same way.
    auto gone = std::make_unique<TMessageWindow>();
    const uint32_t goneHandle = gone->Handle();
    const std::string gonePath = gone->Path();
    gone.reset();
    EXPECT_FALSE(std::filesystem::exists(gonePath));
    EXPECT_FALSE(PostMessage(goneHandle, 1, 2, 3));
}

TEST_F(MessageWindowTest, DatagramsOfTheWrongSizeAreDropped)
{
    TMessageWindow window;
    ASSERT_TRUE(window.IsValid());
    const std::vector<std::vector<uint8_t>> malformed = {
        {},
        std::vector<uint8_t>(11, 0x41),
        std::vector<uint8_t>(13, 0x42),
        std::vector<uint8_t>(24, 0x43), // two messages glued together
        std::vector<uint8_t>(100, 0x44),
    };
    for (const auto& bytes : malformed) {
        SendRaw(window.Path(), bytes);
    }
    SendRaw(window.Path(), {9, 0, 0, 0, 8, 0, 0, 0, 7, 0, 0, 0});
    EXPECT_EQ(ReadAll(window), (std::vector<Message>{{9, 8, 7}}));
}

TEST_F(MessageWindowTest, HandlesAreUniquePositive31BitNumbers)
{
    std::vector<std::unique_ptr<TMessageWindow>> windows;
    std::set<uint32_t> handles;
    for (int i = 0; i < 200; ++i) {
        windows.push_back(std::make_unique<TMessageWindow>());
        const uint32_t handle = windows.back()->Handle();
        ASSERT_GE(handle, 1u);
        ASSERT_LE(handle, MaxWindowHandle);
        handles.insert(handle);
    }
    EXPECT_EQ(handles.size(), windows.size());

    // A handle in use by a live window is never taken over, even when asked for.
    TMessageWindow copy(windows.front()->Handle());
    EXPECT_FALSE(copy.IsValid());
    EXPECT_TRUE(PostMessage(windows.front()->Handle(), 5, 6, 7));
    EXPECT_EQ(ReadAll(*windows.front()), (std::vector<Message>{{5, 6, 7}}));
}

TEST_F(MessageWindowTest, StaleSocketOfADeadProcessIsReplaced)
{
    const uint32_t handle = 424242;
    ASSERT_TRUE(std::filesystem::create_directories(m_runtime.Path() / "qrv"));
    ::chmod((m_runtime.Path() / "qrv").c_str(), 0700);
    // A child binds the handle's socket and dies without removing it.
    const pid_t child = Fork([&] {
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        const sockaddr_un address = AddressOf(MessageWindowPath(handle));
        return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : 1;
    });
    ASSERT_EQ(WaitExit(child), 0);
    ASSERT_TRUE(std::filesystem::exists(MessageWindowPath(handle)));
    EXPECT_FALSE(PostMessage(handle, 1, 1, 1));

    TMessageWindow window(handle);
    ASSERT_TRUE(window.IsValid());
    EXPECT_TRUE(PostMessage(handle, 1, 2, 3));
    EXPECT_EQ(ReadAll(window), (std::vector<Message>{{1, 2, 3}}));
}

TEST_F(MessageWindowTest, AForkedChildThatDropsItsCopyLeavesTheWindowInPlace)
{
    auto window = std::make_unique<TMessageWindow>();
    ASSERT_TRUE(window->IsValid());
    const pid_t child = Fork([&] {
        window.reset(); // a child that cleans up (for example before exec) runs the destructor
        return 0;
    });
    ASSERT_EQ(WaitExit(child), 0);
    EXPECT_TRUE(PostMessage(window->Handle(), 3, 2, 1));
    EXPECT_EQ(ReadAll(*window), (std::vector<Message>{{3, 2, 1}}));
}

TEST_F(MessageWindowTest, RuntimeFolderRules)
{
    const std::string fallback = "/tmp/qrv-" + std::to_string(::getuid());
    struct Case {
        const char* name;
        std::optional<std::string> runtimeDir;
        std::string folder;
    } const cases[] = {
        {"XDG_RUNTIME_DIR set", "/run/user/1000", "/run/user/1000/qrv"},
        {"trailing slashes", "/run/user/1000//", "/run/user/1000/qrv"},
        {"unset", std::nullopt, fallback},
        {"empty", "", fallback},
        {"relative paths are ignored", "run/user", fallback},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.runtimeDir)
            ::setenv("XDG_RUNTIME_DIR", c.runtimeDir->c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        EXPECT_EQ(QrvRuntimeFolder(), c.folder);
        EXPECT_EQ(MessageWindowPath(77), c.folder + "/wnd-77");
    }
}

TEST_F(MessageWindowTest, UnsafeOrUnusableFolderGivesNoWindow)
{
    const std::filesystem::path folder = m_runtime.Path() / "qrv";

    // Rights for group and others are taken away from our own folder.
    std::filesystem::create_directory(folder);
    ::chmod(folder.c_str(), 0755);
    {
        TMessageWindow window;
        EXPECT_TRUE(window.IsValid());
        struct stat st{};
        ::stat(folder.c_str(), &st);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    std::filesystem::remove_all(folder);

    // A symbolic link in its place (someone else's folder, perhaps) is not followed.
    const std::filesystem::path elsewhere = m_runtime.Path() / "elsewhere";
    std::filesystem::create_directory(elsewhere);
    std::filesystem::create_directory_symlink(elsewhere, folder);
    EXPECT_FALSE(TMessageWindow().IsValid());
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
    std::filesystem::remove(folder);

    // A folder of another user (only root can make one here).
    if (::geteuid() == 0) {
        std::filesystem::create_directory(folder);
        ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
        EXPECT_FALSE(TMessageWindow().IsValid());
        std::filesystem::remove(folder);
    }

    // A path too long for a socket address is refused, never cut short.
    const std::string longDir = m_runtime.Path().string() + "/" + std::string(120, 'd');
    std::filesystem::create_directory(longDir);
    ::setenv("XDG_RUNTIME_DIR", longDir.c_str(), 1);
    EXPECT_FALSE(TMessageWindow().IsValid());
    EXPECT_FALSE(PostMessage(1, 1, 1, 1));
}

} // namespace
} // namespace qrv
