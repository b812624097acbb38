#include "DebugOutput.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace qrv {

namespace {

// 0: not read yet, 1: off, 2: on.
std::atomic<int> g_switch{0};

bool DebugOutputOn()
{
    int state = g_switch.load(std::memory_order_acquire);
    if (state == 0) {
        state = std::getenv("QRV_DEBUG") != nullptr ? 2 : 1;
        g_switch.store(state, std::memory_order_release);
    }
    return state == 2;
}

} // namespace

void OutputDebugString(std::string_view line)
{
    if (!DebugOutputOn()) {
        return;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    std::string text(line);
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    text += '\n';
    const char* at = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, at, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return; // standard error is gone: nothing else to tell
        }
        at += n;
        left -= static_cast<size_t>(n);
    }
}

void ReloadDebugOutputSwitchForTests()
{
    g_switch.store(0, std::memory_order_release);
}

} // namespace qrv
