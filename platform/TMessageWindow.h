#pragma once

// Window handles and posted messages between the processes of one user.
//
// A message window has a handle, a positive 31-bit number unique among the live windows of
// the user, and receives on a Unix datagram socket named after it in the runtime folder
// (RuntimeFolder.h): `<folder>/wnd-<handle>`. A message is one datagram of 12 bytes: the
// message number, wParam and lParam, each an unsigned 32-bit little-endian number. Any
// process of the user can post to a handle; the window's owner reads the messages when its
// socket becomes readable (TQtMessageWindow does that in a Qt event loop).

#include <cstdint>
#include <functional>
#include <string>

namespace qrv {

// The largest handle; handles run from 1 to this.
inline constexpr uint32_t MaxWindowHandle = 0x7FFFFFFF;
// Bytes of one message on the socket.
inline constexpr size_t MessageDatagramSize = 12;
// How long PostMessage waits, at most, for room in a window's queue. The system queues only
// a few datagrams per socket (net.unix.max_dgram_qlen, often 10), far fewer than a burst of
// per-frame messages; a receiver that is running drains them within this time.
inline constexpr int PostMessageWaitMs = 20;

using TMessageHandler = std::function<void(uint32_t msg, uint32_t wParam, uint32_t lParam)>;

// The socket path of `handle` in the current runtime folder.
std::string MessageWindowPath(uint32_t handle);

// Posts one message to the window `handle` of this user. True when the message was queued
// for the window. False, quietly, when the handle is 0 or above MaxWindowHandle, no window
// has that handle, or its queue stayed full for `waitMs`. Never blocks longer than
// `waitMs`; any thread, any process.
bool PostMessage(uint32_t handle, uint32_t msg, uint32_t wParam, uint32_t lParam,
                 int waitMs = PostMessageWaitMs);

// The receiving end: creates the socket at construction and removes it at destruction.
// Not copyable; one thread at a time.
class TMessageWindow {
public:
    // Picks a random free handle and binds its socket. A socket file left by a process that
    // died with the same handle is replaced; a handle whose socket is alive is never taken.
    // When no socket can be made (no safe runtime folder, path too long) Handle() is 0.
    TMessageWindow();
    // Binds exactly `handle` (tests that need a known handle); Handle() is 0 when it is
    // taken by a live window or cannot be bound.
    explicit TMessageWindow(uint32_t handle);
    ~TMessageWindow();
    TMessageWindow(const TMessageWindow&) = delete;
    TMessageWindow& operator=(const TMessageWindow&) = delete;

    uint32_t Handle() const { return m_handle; }
    bool IsValid() const { return m_handle != 0; }
    // The socket, non-blocking, to watch for readability; -1 when invalid.
    int Fd() const { return m_fd; }
    const std::string& Path() const { return m_path; }

    // Reads every message waiting, calling `handler` for each in arrival order, and answers
    // how many it delivered. Datagrams that are not exactly 12 bytes are read and dropped.
    // Stops after `limit` datagrams so that a flood cannot hold the caller's loop; the
    // socket then stays readable. `handler` must not destroy this window.
    size_t ReadPending(const TMessageHandler& handler, size_t limit = 4096);

private:
    bool TryBind(uint32_t handle, const std::string& folder);

    uint32_t m_handle = 0;
    int m_fd = -1;
    std::string m_path;
    int m_ownerPid = 0;      // the process that bound the socket
    unsigned long m_inode = 0; // the socket file's inode, to remove only our own file
};

} // namespace qrv
