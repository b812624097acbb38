#include "GetTickCount.h"

#include <atomic>
#include <chrono>

namespace qrv {

namespace {
std::atomic<uint32_t> g_offset{0};
}

uint32_t GetTickCount()
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch()).count();
    // Unsigned arithmetic wraps by definition, which is exactly the tick count's rule.
    return static_cast<uint32_t>(static_cast<uint64_t>(ms)) + g_offset.load(std::memory_order_relaxed);
}

void SetTickCountOffsetForTests(uint32_t offset)
{
    g_offset.store(offset, std::memory_order_relaxed);
}

} // namespace qrv
