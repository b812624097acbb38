#include "TcpPeerOwner.h"

#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qrv {

namespace {

bool ParseHex32(std::string_view text, uint32_t& value)
{
    if (text.size() != 8) {
        return false;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return error == std::errc() && end == text.data() + text.size();
}

// The kernel prints an address as its 32-bit words in memory order, each word as the
// machine reads it (so 127.0.0.1 is "0100007F" on a little-endian machine). Copying each
// parsed word back into memory restores the address bytes on either byte order.
bool ParseEndpoint(std::string_view text, TTcpEndpoint& endpoint)
{
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    const std::string_view address = text.substr(0, colon);
    const std::string_view port = text.substr(colon + 1);
    unsigned portValue = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), portValue, 16);
    if (error != std::errc() || end != port.data() + port.size() || port.empty() || portValue > 0xFFFF) {
        return false;
    }
    if (address.size() == 8) {
        uint32_t word = 0;
        if (!ParseHex32(address, word)) {
            return false;
        }
        std::array<uint8_t, 4> bytes{};
        std::memcpy(bytes.data(), &word, 4);
        endpoint = TTcpEndpoint::FromIPv4(bytes, static_cast<uint16_t>(portValue));
        return true;
    }
    if (address.size() == 32) {
        std::array<uint8_t, 16> bytes{};
        for (size_t i = 0; i < 4; ++i) {
            uint32_t word = 0;
            if (!ParseHex32(address.substr(i * 8, 8), word)) {
                return false;
            }
            std::memcpy(bytes.data() + i * 4, &word, 4);
        }
        endpoint = TTcpEndpoint::FromIPv6(bytes, static_cast<uint16_t>(portValue));
        return true;
    }
    return false;
}

std::optional<uint32_t> SearchFile(const char* path, const TTcpEndpoint& local, const TTcpEndpoint& remote)
{
    std::ifstream in(path);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return FindTcpSocketOwnerInTable(text.str(), local, remote);
}

} // namespace

TTcpEndpoint TTcpEndpoint::FromIPv4(const std::array<uint8_t, 4>& address, uint16_t port)
{
    TTcpEndpoint e;
    e.Address[10] = 0xFF;
    e.Address[11] = 0xFF;
    std::memcpy(e.Address.data() + 12, address.data(), 4);
    e.Port = port;
    return e;
}

TTcpEndpoint TTcpEndpoint::FromIPv6(const std::array<uint8_t, 16>& address, uint16_t port)
{
    TTcpEndpoint e;
    e.Address = address;
    e.Port = port;
    return e;
}

std::optional<uint32_t> FindTcpSocketOwnerInTable(std::string_view table, const TTcpEndpoint& local,
                                                  const TTcpEndpoint& remote)
{
    size_t start = 0;
    bool heading = true;
    while (start < table.size()) {
        size_t end = table.find('\n', start);
        if (end == std::string_view::npos) {
            end = table.size();
        }
        const std::string_view line = table.substr(start, end - start);
        start = end + 1;
        if (heading) {
            heading = false;
            continue;
        }
        // Columns: sl, local_address, rem_address, st, tx:rx, tr:when, retrnsmt, uid, ...
        std::vector<std::string_view> columns;
        size_t at = 0;
        while (at < line.size() && columns.size() < 8) {
            while (at < line.size() && line[at] == ' ') {
                ++at;
            }
            const size_t wordEnd = std::min(line.find(' ', at), line.size());
            if (wordEnd > at) {
                columns.push_back(line.substr(at, wordEnd - at));
            }
            at = wordEnd;
        }
        if (columns.size() < 8) {
            continue;
        }
        TTcpEndpoint own;
        TTcpEndpoint other;
        if (!ParseEndpoint(columns[1], own) || !ParseEndpoint(columns[2], other)) {
            continue;
        }
        if (own != local || other != remote) {
            continue;
        }
        // A socket in TIME_WAIT (state 06) is no longer a full socket and reads as uid 0
        // whoever owned it; it must not pass for a root peer.
        if (columns[3] == "06") {
            continue;
        }
        uint32_t uid = 0;
        const std::string_view uidText = columns[7];
        const auto [uidEnd, error] = std::from_chars(uidText.data(), uidText.data() + uidText.size(), uid, 10);
        if (error != std::errc() || uidEnd != uidText.data() + uidText.size()) {
            continue;
        }
        return uid;
    }
    return std::nullopt;
}

std::optional<uint32_t> FindTcpSocketOwner(const TTcpEndpoint& local, const TTcpEndpoint& remote)
{
    if (auto uid = SearchFile("/proc/net/tcp", local, remote)) {
        return uid;
    }
    return SearchFile("/proc/net/tcp6", local, remote);
}

} // namespace qrv
