#include "GetTickCount.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace qrv {
namespace {

struct TickOffsetReset {
    ~TickOffsetReset() { SetTickCountOffsetForTests(0); }
};

TEST(GetTickCount, AdvancesWithTheSteadyClockInMilliseconds)
{
    const uint32_t before = GetTickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    const uint32_t elapsed = GetTickCount() - before;
    EXPECT_GE(elapsed, 59u);
    EXPECT_LT(elapsed, 1000u);
}

TEST(GetTickCount, WrapsToZeroAndDifferencesStayRight)
{
    TickOffsetReset reset;
    // Place the count 30 ms before the wrap, then let 60 ms pass.
    SetTickCountOffsetForTests(0);
    const uint32_t raw = GetTickCount();
    SetTickCountOffsetForTests(0xFFFFFFFFu - 30u - raw);
    const uint32_t before = GetTickCount();
    EXPECT_GE(before, 0xFFFFFFFFu - 40u);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    const uint32_t after = GetTickCount();
    EXPECT_LT(after, 1000u) << "the count did not wrap";
    const uint32_t elapsed = after - before;
    EXPECT_GE(elapsed, 59u);
    EXPECT_LT(elapsed, 1000u);
}

} // namespace
} // namespace qrv
