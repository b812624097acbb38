#pragma once

// Who owns the other end of a local TCP connection: the user id that the kernel's socket
// tables (/proc/net/tcp and /proc/net/tcp6) give for the socket bound at the peer's
// address. A server uses it to serve only processes of its own user.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qrv {

// An address and port of a TCP socket. IPv4 addresses are held in their IPv4-mapped IPv6
// form (::ffff:a.b.c.d) so that one entry compares equal whichever table lists it.
struct TTcpEndpoint {
    std::array<uint8_t, 16> Address{};
    uint16_t Port = 0;

    // `a.b.c.d` given as the four bytes in network order.
    static TTcpEndpoint FromIPv4(const std::array<uint8_t, 4>& address, uint16_t port);
    static TTcpEndpoint FromIPv6(const std::array<uint8_t, 16>& address, uint16_t port);
    bool operator==(const TTcpEndpoint&) const = default;
};

// Searches one table in the kernel's text form (a heading line, then one socket per line:
// "sl local_address rem_address st ... uid ...") for the socket whose own address is
// `local` and whose remote address is `remote`, and answers its uid column. Lines that do
// not parse and sockets in TIME_WAIT are skipped. None when no line matches.
std::optional<uint32_t> FindTcpSocketOwnerInTable(std::string_view table, const TTcpEndpoint& local,
                                                  const TTcpEndpoint& remote);

// The same search in /proc/net/tcp, then /proc/net/tcp6. For the peer of an accepted
// connection pass the peer's endpoint as `local` and the server side's as `remote`.
std::optional<uint32_t> FindTcpSocketOwner(const TTcpEndpoint& local, const TTcpEndpoint& remote);

} // namespace qrv
