// A stand-in for the mixer process in tests of the player's audio server. It is started
// exactly as the mixer is (`<path> <window handle> <codec> <port>`) and does what the
// environment tells it:
//
//   FAKE_MIXER_LOG   file to which it appends one line "<pid> <handle> <codec> <port>"
//   FAKE_MIXER_MODE  "exit" (default): log and end at once;
//                    "connect": connect to 127.0.0.1:<port> and read until the connection
//                    ends, then end;
//   FAKE_MIXER_DATA  with "connect": the bytes received go to "<FAKE_MIXER_DATA>.<pid>".

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::string handle = argc > 1 ? argv[1] : "";
    const std::string codec = argc > 2 ? argv[2] : "";
    const std::string port = argc > 3 ? argv[3] : "";
    if (const char* log = std::getenv("FAKE_MIXER_LOG")) {
        const std::string line = std::to_string(::getpid()) + " " + handle + " " + codec + " " + port + "\n";
        const int fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd >= 0) {
            WriteAll(fd, line.data(), line.size()); // one write: lines of several mixers never mix
            ::close(fd);
        }
    }
    const char* mode = std::getenv("FAKE_MIXER_MODE");
    if (mode == nullptr || std::strcmp(mode, "connect") != 0)
        return 0;

    const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(std::atoi(port.c_str())));
    if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return 2;
    int out = -1;
    if (const char* data = std::getenv("FAKE_MIXER_DATA")) {
        const std::string path = std::string(data) + "." + std::to_string(::getpid());
        out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(sock, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (out >= 0)
            WriteAll(out, buffer, static_cast<size_t>(n));
    }
    return 0;
}
