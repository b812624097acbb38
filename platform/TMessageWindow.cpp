#include "TMessageWindow.h"

#include "ByteOrder.h"
#include "RuntimeFolder.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace qrv {

namespace {

// How many random handles a new window tries before it gives up; with 2^31 handles and a
// few live windows, a second try is already rare.
constexpr int HandleAttempts = 64;

// Fills `address` with `path`; false when the path does not fit (it is never cut, which
// would name another socket).
bool MakeAddress(const std::string& path, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

int NewDatagramSocket()
{
    return ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

// A socket file whose owner is gone refuses connections; one whose owner lives accepts.
bool IsStaleSocketFile(const std::string& path)
{
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) {
        return false; // gone meanwhile, or not ours to remove
    }
    sockaddr_un address{};
    if (!MakeAddress(path, address)) {
        return false;
    }
    const int probe = NewDatagramSocket();
    if (probe < 0) {
        return false;
    }
    const int rc = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int error = errno;
    ::close(probe);
    return rc != 0 && error == ECONNREFUSED;
}

ino_t InodeOf(const std::string& path)
{
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

} // namespace

std::string MessageWindowPath(uint32_t handle)
{
    return QrvRuntimeFolder() + "/wnd-" + std::to_string(handle);
}

bool PostMessage(uint32_t handle, uint32_t msg, uint32_t wParam, uint32_t lParam, int waitMs)
{
    if (handle == 0 || handle > MaxWindowHandle) {
        return false;
    }
    sockaddr_un address{};
    if (!MakeAddress(MessageWindowPath(handle), address)) {
        return false;
    }
    const int fd = NewDatagramSocket();
    if (fd < 0) {
        return false;
    }
    // Connected, so that poll can wait for room in that one window's queue.
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return false;
    }
    uint8_t datagram[MessageDatagramSize];
    StoreLE<uint32_t>(datagram, msg);
    StoreLE<uint32_t>(datagram + 4, wParam);
    StoreLE<uint32_t>(datagram + 8, lParam);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs > 0 ? waitMs : 0);
    bool sent = false;
    for (;;) {
        const ssize_t n = ::send(fd, datagram, sizeof datagram, MSG_NOSIGNAL);
        if (n == static_cast<ssize_t>(sizeof datagram)) {
            sent = true;
            break;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            break;
        }
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, static_cast<int>(left));
    }
    ::close(fd);
    return sent;
}

TMessageWindow::TMessageWindow()
{
    const std::string folder = EnsureQrvRuntimeFolder();
    if (folder.empty()) {
        return;
    }
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<uint32_t> pick(1, MaxWindowHandle);
    for (int attempt = 0; attempt < HandleAttempts; ++attempt) {
        if (TryBind(pick(random), folder)) {
            return;
        }
        if (errno != EADDRINUSE) {
            return; // not a collision: another handle fails the same way
        }
    }
}

TMessageWindow::TMessageWindow(uint32_t handle)
{
    const std::string folder = EnsureQrvRuntimeFolder();
    if (!folder.empty() && handle != 0 && handle <= MaxWindowHandle) {
        TryBind(handle, folder);
    }
}

TMessageWindow::~TMessageWindow()
{
    if (m_fd < 0) {
        return;
    }
    ::close(m_fd);
    // Only the creating process removes the file, and only while it is still our socket:
    // a forked child that exits must not take its parent's window away.
    if (::getpid() == m_ownerPid && m_inode != 0 && InodeOf(m_path) == m_inode) {
        ::unlink(m_path.c_str());
    }
}

bool TMessageWindow::TryBind(uint32_t handle, const std::string& folder)
{
    const std::string path = folder + "/wnd-" + std::to_string(handle);
    sockaddr_un address{};
    if (!MakeAddress(path, address)) {
        errno = ENAMETOOLONG;
        return false;
    }
    const int fd = NewDatagramSocket();
    if (fd < 0) {
        return false;
    }
    auto bindIt = [&] { return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0; };
    bool bound = bindIt();
    if (!bound && errno == EADDRINUSE && IsStaleSocketFile(path)) {
        ::unlink(path.c_str());
        bound = bindIt();
    }
    if (!bound) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    m_handle = handle;
    m_fd = fd;
    m_path = path;
    m_ownerPid = ::getpid();
    m_inode = InodeOf(path);
    return true;
}

size_t TMessageWindow::ReadPending(const TMessageHandler& handler, size_t limit)
{
    size_t delivered = 0;
    if (m_fd < 0) {
        return 0;
    }
    for (size_t read = 0; read < limit;) {
        uint8_t datagram[64];
        // MSG_TRUNC answers the datagram's real length, so a longer one is told apart from
        // a 12-byte one even though only 64 bytes are copied.
        const ssize_t n = ::recv(m_fd, datagram, sizeof datagram, MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break; // EAGAIN: nothing more waiting
        }
        ++read;
        if (n != static_cast<ssize_t>(MessageDatagramSize)) {
            continue;
        }
        ++delivered;
        if (handler) {
            handler(LoadLE<uint32_t>(datagram), LoadLE<uint32_t>(datagram + 4), LoadLE<uint32_t>(datagram + 8));
        }
    }
    return delivered;
}

} // namespace qrv
