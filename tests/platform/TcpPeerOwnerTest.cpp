#include "TcpPeerOwner.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <bit>
#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qrv {
namespace {

TTcpEndpoint Loopback(uint16_t port, uint8_t last = 1)
{
    return TTcpEndpoint::FromIPv4({127, 0, 0, last}, port);
}

// A table as the kernel prints it on a little-endian machine.
constexpr const char* Table =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
    "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 11 1 0 100 0 0 10 0\n"
    "   1: 0100007F:C350 0100007F:1F90 01 00000000:00000000 00:00000000 00000000  1001        0 12 1 0 20 4 30 10 -1\n"
    "   2: 0100007F:1F90 0100007F:C350 01 00000000:00000000 00:00000000 00000000  1000        0 13 1 0 20 4 30 10 -1\n"
    "   3: 0100007F:C351 0100007F:1F90 06 00000000:00000000 03:00001770 00000000     0        0 0 3 0\n"
    "   4: 0200007F:C352 0100007F:1F90 01 00000000:00000000 00:00000000 00000000  2002        0 14 1 0\n"
    "   5: garbage\n"
    "   6: 0100007F:C353 0100007F:1F90 01 00000000:00000000 00:00000000 00000000  notanumber 0 15\n"
    "   7: 0100007F:C354 0100007F:1F90 01 00000000:00000000 00:00000000 00000000  3003";

constexpr const char* Table6 =
    "  sl  local_address                         remote_address                        st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
    "   0: 0000000000000000FFFF00000100007F:D000 0000000000000000FFFF00000100007F:1F90 01 00000000:00000000 00:00000000 00000000  4004        0 16 1 0\n"
    "   1: 00000000000000000000000001000000:D001 00000000000000000000000001000000:1F90 01 00000000:00000000 00:00000000 00000000  5005        0 17 1 0\n";

TEST(TcpPeerOwner, FindsTheOwnerOfExactlyTheGivenSocketInATable)
{
    if constexpr (std::endian::native != std::endian::little) {
        GTEST_SKIP() << "the tables are written as a little-endian kernel prints them";
    }
    const std::array<uint8_t, 16> loopback6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    struct Case {
        const char* name;
        const char* table;
        TTcpEndpoint local;
        TTcpEndpoint remote;
        std::optional<uint32_t> uid;
    } const cases[] = {
        {"the client's end of a connection", Table, Loopback(50000), Loopback(8080), 1001},
        {"the server's end of the same connection", Table, Loopback(8080), Loopback(50000), 1000},
        {"a socket in TIME_WAIT reads as uid 0 and is skipped", Table, Loopback(50001), Loopback(8080), std::nullopt},
        {"another loopback address is another socket", Table, Loopback(50002), Loopback(8080), std::nullopt},
        {"... and found at its own address", Table, Loopback(50002, 2), Loopback(8080), 2002},
        {"a line whose uid is not a number", Table, Loopback(50003), Loopback(8080), std::nullopt},
        {"the last line without a line end", Table, Loopback(50004), Loopback(8080), 3003},
        {"no such connection", Table, Loopback(40000), Loopback(8080), std::nullopt},
        {"an IPv4 peer on an IPv6 socket", Table6, Loopback(0xD000), Loopback(8080), 4004},
        {"an IPv6 peer", Table6, TTcpEndpoint::FromIPv6(loopback6, 0xD001), TTcpEndpoint::FromIPv6(loopback6, 8080), 5005},
        {"an empty table", "", Loopback(50000), Loopback(8080), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FindTcpSocketOwnerInTable(c.table, c.local, c.remote), c.uid);
    }
}

uint16_t PortOf(int fd, bool peer)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (peer)
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length);
    else
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

int ListenOnLoopback()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 4);
    return fd;
}

int ConnectTo(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? fd : -1;
}

TEST(TcpPeerOwner, NamesThisUserForARealLoopbackConnection)
{
    const int server = ListenOnLoopback();
    const uint16_t serverPort = PortOf(server, false);
    const int client = ConnectTo(serverPort);
    ASSERT_GE(client, 0);
    const int accepted = ::accept(server, nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    const uint16_t clientPort = PortOf(accepted, true);
    EXPECT_EQ(FindTcpSocketOwner(Loopback(clientPort), Loopback(serverPort)), ::getuid());
    EXPECT_EQ(FindTcpSocketOwner(Loopback(serverPort), Loopback(clientPort)), ::getuid());
    EXPECT_EQ(FindTcpSocketOwner(Loopback(clientPort), Loopback(static_cast<uint16_t>(serverPort + 1))), std::nullopt);
    ::close(accepted);
    ::close(client);
    ::close(server);
}

TEST(TcpPeerOwner, NamesAnotherUserForTheirConnection)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can run a process as another user here";
    }
    constexpr uid_t Nobody = 65534;
    const int server = ListenOnLoopback();
    const uint16_t serverPort = PortOf(server, false);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ready[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0)
            ::_exit(1);
        const int fd = ConnectTo(serverPort);
        char c = 'x';
        (void)!::write(ready[1], &c, 1);
        ::read(fd, &c, 1); // until the parent closes the connection
        ::_exit(0);
    }
    ::close(ready[1]);
    const int accepted = ::accept(server, nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    EXPECT_EQ(FindTcpSocketOwner(Loopback(PortOf(accepted, true)), Loopback(serverPort)), Nobody);
    ::close(accepted);
    ::close(ready[0]);
    ::close(server);
    int status = 0;
    ::waitpid(child, &status, 0);
}

} // namespace
} // namespace qrv
