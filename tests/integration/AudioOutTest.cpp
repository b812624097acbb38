// The player's audio server against fake mixers: the test's own sockets, and a small fake
// mixer program started the way the real one is.

#include "AplayListUnit.h"
#include "RecordingFixture.h"
#include "ScopedRuntimeDir.h"
#include "TMessageWindow.h"
#include "UnitAudioOut.h"
#include "_QRV_Utils.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QThread>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <netinet/in.h>
#include <optional>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace qrv {
namespace {

constexpr const char* MissingMixer = "/nonexistent/CXMixer";

template <typename Done>
bool PumpUntil(Done done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void PumpFor(int ms)
{
    PumpUntil([] { return false; }, ms);
}

// A mixer played by the test: a plain loopback client that reads when told to.
class TestClient {
public:
    explicit TestClient(uint16_t port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::fcntl(m_fd, F_SETFL, O_NONBLOCK);
    }
    ~TestClient() { Close(); }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    bool Connected() const { return m_connected; }
    // Reads what is waiting; false once the server has closed the connection.
    bool Read()
    {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                Received.insert(Received.end(), buffer, buffer + n);
                continue;
            }
            if (n == 0)
                return false;
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
    }
    std::vector<uint8_t> Received;

private:
    int m_fd = -1;
    bool m_connected = false;
};

// A packet that names itself: sequence number and size up front, then bytes that depend on
// both, so that a cut, a gap or a mix-up shows.
std::vector<uint8_t> MakePacket(uint32_t sequence, uint32_t size)
{
    std::vector<uint8_t> p(size);
    for (uint32_t i = 0; i < size; ++i)
        p[i] = static_cast<uint8_t>(sequence * 31 + i * 7 + (i >> 8));
    if (size >= 8) {
        std::memcpy(p.data(), &sequence, 4);
        std::memcpy(p.data() + 4, &size, 4);
    }
    return p;
}

void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes)
{
    to.insert(to.end(), bytes.begin(), bytes.end());
}

class AudioOutTest : public ::testing::Test {
protected:
    // Active on a free port, with a test client connected as the mixer.
    std::unique_ptr<TestClient> ConnectClient(TAudioOut& out)
    {
        const int before = out.ConnectionCount();
        auto client = std::make_unique<TestClient>(out.ServerPort());
        EXPECT_TRUE(client->Connected());
        EXPECT_TRUE(PumpUntil([&] { return out.ConnectionCount() > before; }, 3000));
        return client;
    }

    test::ScopedRuntimeDir m_runtime;
};

TEST_F(AudioOutTest, MixerReceivesExactlyThePacketsSentWholeAndInOrder)
{
    struct Case {
        const char* name;
        std::vector<uint32_t> sizes;
    };
    std::vector<uint32_t> bigBurst(200, 8000); // 1.6 MB handed over at once
    std::vector<uint32_t> everySmallSize;
    for (uint32_t s = 1; s <= 300; ++s)
        everySmallSize.push_back(s);
    const Case cases[] = {
        {"a burst of full-size packets", bigBurst},
        {"one packet of 1 MB", {1u << 20}},
        {"every size from 1 to 300 bytes", everySmallSize},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TAudioOut out(MissingMixer, 0);
        out.SetActive(true);
        auto client = ConnectClient(out);
        std::vector<uint8_t> expected;
        for (uint32_t i = 0; i < c.sizes.size(); ++i) {
            const auto packet = MakePacket(i, c.sizes[i]);
            EXPECT_TRUE(out.SendPacket(packet.data(), static_cast<int32_t>(packet.size()), 1 + i % 255));
            Append(expected, packet);
        }
        EXPECT_TRUE(PumpUntil([&] { return !client->Read() || client->Received.size() >= expected.size(); }, 10000));
        PumpFor(50);
        client->Read();
        ASSERT_EQ(client->Received.size(), expected.size());
        EXPECT_TRUE(client->Received == expected);
    }
}

TEST_F(AudioOutTest, ChannelOutsideOneTo255IsRefusedAndNotSent)
{
    TAudioOut out(MissingMixer, 0);
    out.SetActive(true);
    auto client = ConnectClient(out);
    struct Case {
        int32_t channel;
        bool result;
    } const cases[] = {{0, false}, {1, true}, {255, true}, {256, false}, {-1, false}, {INT_MIN, false}, {INT_MAX, false}, {128, true}};
    std::vector<uint8_t> expected;
    uint32_t sequence = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.channel);
        const auto packet = MakePacket(sequence++, 40);
        EXPECT_EQ(out.SendPacket(packet.data(), static_cast<int32_t>(packet.size()), c.channel), c.result);
        if (c.result)
            Append(expected, packet);
    }
    // A packet of no bytes on a good channel is fine and sends nothing.
    EXPECT_TRUE(out.SendPacket(nullptr, 0, 1));
    PumpUntil([&] { return client->Read() && client->Received.size() >= expected.size(); }, 3000);
    PumpFor(100);
    client->Read();
    EXPECT_TRUE(client->Received == expected);
}

TEST_F(AudioOutTest, WithoutAMixerPacketsAreDroppedAndReportedSent)
{
    TAudioOut out(MissingMixer, 0);
    const auto packet = MakePacket(0, 100);
    for (bool active : {false, true}) {
        SCOPED_TRACE(active ? "active, no mixer" : "inactive");
        out.SetActive(active);
        EXPECT_TRUE(out.SendPacket(packet.data(), 100, 1));
        EXPECT_FALSE(out.SendPacket(packet.data(), 100, 0));
        EXPECT_EQ(out.PendingSendBytes(), 0);
    }
    // Nothing was queued for later: a mixer that connects now gets only what follows.
    auto client = ConnectClient(out);
    const auto later = MakePacket(1, 64);
    EXPECT_TRUE(out.SendPacket(later.data(), 64, 1));
    PumpUntil([&] { return client->Read() && client->Received.size() >= 64; }, 3000);
    PumpFor(50);
    client->Read();
    EXPECT_TRUE(client->Received == later);
}

TEST_F(AudioOutTest, AMixerThatStopsReadingCostsBoundedMemoryAndPacketsStayWhole)
{
    TAudioOut out(MissingMixer, 0);
    out.SetActive(true);
    auto client = ConnectClient(out);
    constexpr uint32_t Count = 3000;
    constexpr uint32_t Size = 4000; // 12 MB in all, far beyond the cap
    for (uint32_t i = 0; i < Count; ++i) {
        const auto packet = MakePacket(i, Size);
        EXPECT_TRUE(out.SendPacket(packet.data(), Size, 1));
        ASSERT_LE(out.PendingSendBytes(), MaxPendingSendBytes);
    }
    // Now the mixer reads everything; whatever arrives is a run of whole packets in order.
    QElapsedTimer quiet;
    quiet.start();
    size_t lastSize = 0;
    PumpUntil([&] {
        client->Read();
        if (client->Received.size() != lastSize) {
            lastSize = client->Received.size();
            quiet.restart();
        }
        return out.PendingSendBytes() == 0 && quiet.elapsed() > 300;
    }, 20000);
    const auto& got = client->Received;
    ASSERT_EQ(got.size() % Size, 0u) << "a packet was cut";
    const size_t packets = got.size() / Size;
    EXPECT_GT(packets, 0u);
    EXPECT_LT(packets, Count) << "nothing was dropped: the cap was never reached";
    int64_t previous = -1;
    for (size_t k = 0; k < packets; ++k) {
        uint32_t sequence = 0;
        std::memcpy(&sequence, got.data() + k * Size, 4);
        ASSERT_GT(static_cast<int64_t>(sequence), previous);
        previous = sequence;
        const auto packet = MakePacket(sequence, Size);
        ASSERT_TRUE(std::equal(packet.begin(), packet.end(), got.begin() + static_cast<ptrdiff_t>(k * Size)))
            << "packet " << sequence << " arrived damaged";
    }
}

TEST_F(AudioOutTest, OnlyTheFirstConnectionReceivesUntilItCloses)
{
    TAudioOut out(MissingMixer, 0);
    out.SetActive(true);
    auto first = ConnectClient(out);
    auto second = ConnectClient(out);
    EXPECT_EQ(out.ConnectionCount(), 2);
    const auto a = MakePacket(1, 500);
    out.SendPacket(a.data(), 500, 1);
    PumpUntil([&] { return first->Read() && first->Received.size() >= 500; }, 3000);
    PumpFor(50);
    first->Read();
    second->Read();
    EXPECT_TRUE(first->Received == a);
    EXPECT_TRUE(second->Received.empty());

    first->Close();
    ASSERT_TRUE(PumpUntil([&] { return out.ConnectionCount() == 1; }, 3000));
    const auto b = MakePacket(2, 300);
    out.SendPacket(b.data(), 300, 1);
    PumpUntil([&] { return second->Read() && second->Received.size() >= 300; }, 3000);
    EXPECT_TRUE(second->Received == b);
}

TEST_F(AudioOutTest, DeactivatingClosesEveryConnectionAtOnceAndStopsListening)
{
    TAudioOut out(MissingMixer, 0);
    out.SetActive(true);
    const uint16_t port = out.ServerPort();
    out.SetActive(true); // twice is harmless
    EXPECT_EQ(out.ServerPort(), port);
    auto first = ConnectClient(out);
    auto second = ConnectClient(out);
    out.SetActive(false);
    EXPECT_FALSE(out.MixerConnected());
    EXPECT_EQ(out.ServerPort(), 0);
    EXPECT_TRUE(PumpUntil([&] { return !first->Read() && !second->Read(); }, 2000));
    TestClient late(port);
    EXPECT_FALSE(late.Connected());
}

TEST_F(AudioOutTest, ListensOnLoopbackAtThePreferredPortOrElseAFreeOne)
{
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
    const uint16_t taken = holder.serverPort();
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const uint16_t free = probe.serverPort();
    probe.close();
    struct Case {
        const char* name;
        uint16_t preferred;
        bool expectPreferred;
    } const cases[] = {
        {"a free preferred port is used", free, true},
        {"a taken one falls through to another", taken, false},
        {"0 asks for any free port", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TAudioOut out(MissingMixer, c.preferred);
        EXPECT_EQ(out.ServerPort(), 0);
        out.SetActive(true);
        ASSERT_NE(out.ServerPort(), 0);
        if (c.expectPreferred)
            EXPECT_EQ(out.ServerPort(), c.preferred);
        else
            EXPECT_NE(out.ServerPort(), taken);
        auto client = ConnectClient(out);
        EXPECT_TRUE(out.MixerConnected());
    }
}

TEST_F(AudioOutTest, MixerExecutableComesFromTheArgumentThenTheEnvironmentThenBesideTheProgram)
{
    const std::string exe = GetExecutablePath();
    const std::string beside = exe.substr(0, exe.rfind('/')) + "/CXMixer";
    struct Case {
        const char* name;
        std::string argument;
        std::optional<std::string> environment;
        std::string expected;
    } const cases[] = {
        {"default", "", std::nullopt, beside},
        {"environment", "", "/opt/m/CXMixer", "/opt/m/CXMixer"},
        {"empty environment", "", "", beside},
        {"argument before environment", "/a/b", "/opt/m/CXMixer", "/a/b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.environment)
            ::setenv("QRV_MIXER_PATH", c.environment->c_str(), 1);
        else
            ::unsetenv("QRV_MIXER_PATH");
        EXPECT_EQ(TAudioOut(c.argument, 0).MixerPath(), c.expected);
    }
    ::unsetenv("QRV_MIXER_PATH");
}

TEST_F(AudioOutTest, ConnectionFromAnotherUserIsClosedAtOnce)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can run a process as another user here";
    }
    constexpr uid_t Nobody = 65534;
    TAudioOut out(MissingMixer, 0);
    out.SetActive(true);
    const uint16_t port = out.ServerPort();
    int changes = 0;
    out.OnConnectionsChanged = [&](TAudioOut&) { ++changes; };
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0)
            ::_exit(10);
        TestClient client(port);
        if (!client.Connected())
            ::_exit(11);
        for (int i = 0; i < 300; ++i) { // 3 s
            if (!client.Read())
                ::_exit(0); // closed by the server
            ::usleep(10000);
        }
        ::_exit(12);
    }
    int status = 0;
    PumpUntil([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 5000);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no uid change, 11: no connection, 12: never closed";
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(out.ConnectionCount(), 0);
    // A process of this user is still served.
    auto client = ConnectClient(out);
    EXPECT_TRUE(out.MixerConnected());
}

TEST_F(AudioOutTest, RegistrationMessagesFromAnotherProcessReachThePlayList)
{
    TAudioOut out(MissingMixer, 0);
    for (const std::string& item : std::vector<std::string>(AplayList().Items()))
        AplayList().RemovePlayer(static_cast<uint32_t>(std::stoul(item)));
    const uint32_t handle = out.WindowHandle();
    ASSERT_NE(handle, 0u);
    const pid_t child = ::fork();
    if (child == 0) {
        const uint32_t messages[][2] = {{34049, 77}, {34049, 78}, {34049, 77}, {34050, 78}, {24024, 66},
                                        {33871, 65}, {34050, 999}, {34049, 5}};
        bool ok = true;
        for (const auto& m : messages)
            ok = PostMessage(handle, m[0], m[1], m[1]) && ok;
        ::_exit(ok ? 0 : 1);
    }
    const std::vector<std::string> expected{"77", "5"};
    EXPECT_TRUE(PumpUntil([&] { return AplayList().Items() == expected; }, 3000));
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(AplayList().Items(), expected);
}

// --- the launcher, with the fake mixer program ------------------------------------------

struct LaunchLine {
    pid_t pid = 0;
    std::string handle, codec, port;
};

std::vector<LaunchLine> ReadLaunches(const std::filesystem::path& log)
{
    std::vector<LaunchLine> lines;
    std::ifstream in(log);
    std::string text;
    while (std::getline(in, text)) {
        std::istringstream fields(text);
        LaunchLine l;
        fields >> l.pid >> l.handle >> l.codec >> l.port;
        lines.push_back(l);
    }
    return lines;
}

// Zombie children of this process: a started mixer must never be left unreaped.
int CountZombieChildren()
{
    int zombies = 0;
    DIR* proc = ::opendir("/proc");
    while (dirent* entry = ::readdir(proc)) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string text;
        if (!std::getline(stat, text))
            continue;
        const size_t close = text.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(text.substr(close + 2));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        zombies += state == 'Z' && parent == ::getpid();
    }
    ::closedir(proc);
    return zombies;
}

bool ProcessGone(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text))
        return true;
    const size_t close = text.rfind(')');
    return close != std::string::npos && text.size() > close + 2 && text[close + 2] == 'Z';
}

class AudioOutLauncherTest : public AudioOutTest {
protected:
    void SetUp() override
    {
        ::setenv("FAKE_MIXER_LOG", (m_folder / "launches.log").c_str(), 1);
        ::setenv("FAKE_MIXER_MODE", "exit", 1);
    }
    void TearDown() override
    {
        ::unsetenv("FAKE_MIXER_LOG");
        ::unsetenv("FAKE_MIXER_MODE");
        ::unsetenv("FAKE_MIXER_DATA");
    }
    std::vector<LaunchLine> Launches() const { return ReadLaunches(m_folder / "launches.log"); }

    test::TempFolder m_folder;
};

TEST_F(AudioOutLauncherTest, StartsTheMixerEverySecondUntilOneConnectsAndReplacesAKilledOne)
{
    TAudioOut out(FAKE_MIXER_PATH, 0);
    PumpFor(1300);
    EXPECT_TRUE(Launches().empty()) << "an inactive server starts no mixer";

    out.SetActive(true);
    const std::string handle = std::to_string(out.WindowHandle());
    const std::string port = std::to_string(out.ServerPort());
    PumpFor(3500);
    const auto early = Launches();
    EXPECT_GE(early.size(), 2u);
    EXPECT_LE(early.size(), 4u);
    for (const LaunchLine& l : early) {
        EXPECT_EQ(l.handle, handle);
        EXPECT_EQ(l.codec, "3");
        EXPECT_EQ(l.port, port);
    }

    // Mixers that connect from now on: the first one stops the launching.
    ::setenv("FAKE_MIXER_MODE", "connect", 1);
    ASSERT_TRUE(PumpUntil([&] { return out.MixerConnected(); }, 2500));
    const size_t atConnection = Launches().size();
    PumpFor(2500);
    EXPECT_EQ(Launches().size(), atConnection) << "a mixer was started while one was connected";
    EXPECT_EQ(out.ConnectionCount(), 1);

    // Killed mid-playback: replaced within about a second.
    const pid_t killed = Launches().back().pid;
    ASSERT_EQ(::kill(killed, SIGKILL), 0);
    ASSERT_TRUE(PumpUntil([&] { return !out.MixerConnected(); }, 1000));
    QElapsedTimer replaced;
    replaced.start();
    ASSERT_TRUE(PumpUntil([&] { return out.MixerConnected(); }, 2500));
    EXPECT_LT(replaced.elapsed(), 1500);
    const pid_t successor = Launches().back().pid;
    EXPECT_NE(successor, killed);

    // Inactive: the connection closes, the mixer ends and no other one starts.
    out.SetActive(false);
    EXPECT_TRUE(PumpUntil([&] { return ProcessGone(successor); }, 2000));
    const size_t atEnd = Launches().size();
    PumpFor(1500);
    EXPECT_EQ(Launches().size(), atEnd);
    EXPECT_EQ(CountZombieChildren(), 0);
}

TEST_F(AudioOutLauncherTest, AMixerOnTheFallbackPortIsToldThatPort)
{
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
    ::setenv("FAKE_MIXER_MODE", "connect", 1);
    ::setenv("FAKE_MIXER_DATA", (m_folder / "data").c_str(), 1);
    TAudioOut out(FAKE_MIXER_PATH, holder.serverPort());
    out.SetActive(true);
    ASSERT_NE(out.ServerPort(), holder.serverPort());
    ASSERT_TRUE(PumpUntil([&] { return out.MixerConnected(); }, 3000));
    const auto launches = Launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].port, std::to_string(out.ServerPort()));

    std::vector<uint8_t> expected;
    for (uint32_t i = 0; i < 50; ++i) {
        const auto packet = MakePacket(i, 1000 + i);
        out.SendPacket(packet.data(), static_cast<int32_t>(packet.size()), 3);
        Append(expected, packet);
    }
    PumpUntil([&] { return out.PendingSendBytes() == 0; }, 3000);
    out.SetActive(false); // the fake mixer reads to the end and exits
    const auto dataFile = m_folder / ("data." + std::to_string(launches[0].pid));
    ASSERT_TRUE(PumpUntil([&] { return ProcessGone(launches[0].pid); }, 3000));
    std::ifstream in(dataFile, std::ios::binary);
    const std::vector<uint8_t> got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(got == expected);
}

} // namespace
} // namespace qrv

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
