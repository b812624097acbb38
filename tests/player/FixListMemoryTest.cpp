#include "UnitFixListMemory.h"
#include "UnitKeyRecordInfoList.h"
#include "UnitRecordInfoList.h"
#include "OleDateTime.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace qrv;

namespace {

TRecordInfo EntryWithPlayTime(uint32_t playTime)
{
    TRecordInfo entry;
    entry.PlayTime = playTime;
    entry.PayloadPos = playTime * 3;
    return entry;
}

} // namespace

TEST(TFixListMemory, CreateReservesInitialCapacityPlusHeadroom)
{
    TFixListMemory list(40, 10000);
    EXPECT_EQ(list.Capacity(), 10100);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.ItemSize(), 40);
    TRecordInfoList records;
    EXPECT_EQ(records.Capacity(), 10100);
    EXPECT_EQ(records.ItemSize(), 40);
    TKeyRecordInfoList keys;
    EXPECT_EQ(keys.Capacity(), 10100);
    EXPECT_EQ(keys.ItemSize(), 12);
}

TEST(TFixListMemory, FullListGrowsBy101Entries)
{
    TRecordInfoList list;
    list.Clear();
    EXPECT_EQ(list.Capacity(), 0);
    struct Step {
        int adds;     // total Add calls so far
        int capacity; // capacity after them
    } steps[] = {{1, 101}, {101, 101}, {102, 202}, {202, 202}, {203, 303}, {304, 404}};
    int added = 0;
    for (const auto& step : steps) {
        while (added < step.adds) {
            const auto entry = EntryWithPlayTime(static_cast<uint32_t>(added));
            EXPECT_EQ(list.Add(&entry), added);
            ++added;
        }
        SCOPED_TRACE(step.adds);
        EXPECT_EQ(list.Capacity(), step.capacity);
        EXPECT_EQ(list.Count(), step.adds);
    }
    // Every entry survives the moves of the block, at Data + i * ItemSize.
    const auto* first = static_cast<const std::byte*>(list.GetItem(0));
    for (int i = 0; i < added; ++i) {
        TRecordInfo copy;
        const TRecordInfo* item = list.Get(i, copy);
        EXPECT_EQ(reinterpret_cast<const std::byte*>(item), first + 40 * i);
        EXPECT_EQ(copy.PlayTime, static_cast<uint32_t>(i));
        EXPECT_EQ(copy.PayloadPos, static_cast<uint32_t>(i) * 3);
        EXPECT_EQ(std::memcmp(copy.Sync, "RcHd", 4), 0);
        EXPECT_EQ(std::memcmp(copy.Tag, "KxIx", 4), 0);
    }
}

TEST(TFixListMemory, SetCapacityNeverShrinks)
{
    TFixListMemory list(12, 0);
    EXPECT_EQ(list.Capacity(), 0); // 0 is not above 0: nothing reserved
    list.SetCapacity(50);
    EXPECT_EQ(list.Capacity(), 150);
    list.SetCapacity(149);
    EXPECT_EQ(list.Capacity(), 150);
    list.SetCapacity(151);
    EXPECT_EQ(list.Capacity(), 251);
}

TEST(TFixListMemory, GetItemOutOfRangeRaisesNamedError)
{
    TKeyRecordInfoList list;
    TKeyRecordInfo entry;
    list.Add(&entry);
    list.Add(&entry);
    EXPECT_NO_THROW(list.GetItem(list.Count() - 1));
    for (int32_t index : {-1, list.Count(), 10000}) {
        SCOPED_TRACE(index);
        try {
            list.GetItem(index);
            ADD_FAILURE() << "no exception";
        } catch (const EListOutOfRange& error) {
            EXPECT_STREQ(error.what(), "TKVTFixListMemory.GetItem - Out of range");
        }
    }
    TRecordInfoList records;
    TRecordInfo out;
    EXPECT_THROW(records.Get(0, out), EListOutOfRange);
}

TEST(TFixListMemory, CompareReturnsFirstByteDifference)
{
    TFixListMemory list(4, 0);
    struct Case {
        uint8_t a[4];
        uint8_t b[4];
        int32_t expected;
    } cases[] = {
        {{0x01, 0, 0, 0}, {0xFF, 0, 0, 0}, -254},
        {{0xFF, 0, 0, 0}, {0x01, 0, 0, 0}, 254},
        {{7, 7, 7, 9}, {7, 7, 7, 3}, 6},
        {{1, 2, 3, 4}, {1, 2, 3, 4}, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(list.Compare(c.a, c.b), c.expected);
    TFixListMemory empty(0, 0);
    EXPECT_EQ(empty.Compare(cases[0].a, cases[0].b), 0);
}

TEST(TRecordInfoList, CompareUsesTimeStampAtModePrecision)
{
    auto at = [](int hour, int minute, int second, int ms, int day = 15) {
        TRecordInfo entry;
        entry.TimeStamp = *CalendarToOleDate({2024, 5, day, hour, minute, second, ms});
        entry.PlayTime = static_cast<uint32_t>(second); // differs, must not matter
        return entry;
    };
    struct Case {
        uint8_t mode;
        TRecordInfo a, b;
        int32_t expected;
    } cases[] = {
        {1, at(10, 15, 1, 0), at(10, 15, 59, 0), 0},
        {1, at(10, 16, 0, 0), at(10, 15, 59, 0), 1},
        {1, at(10, 15, 0, 0, 14), at(10, 15, 0, 0), -1}, // the date counts
        {2, at(10, 15, 1, 0), at(10, 15, 1, 999), 0},
        {2, at(10, 15, 1, 0), at(10, 15, 2, 0), -1},
        {3, at(10, 15, 1, 5), at(10, 15, 1, 5), 0},
        {3, at(10, 15, 1, 6), at(10, 15, 1, 5), 1},
        {0, at(10, 15, 1, 6), at(10, 15, 1, 5), 1},
        {0, at(10, 15, 1, 5), at(10, 15, 1, 5), 0},
        {7, at(10, 15, 1, 0), at(10, 15, 59, 0), -1}, // other modes compare exactly
    };
    TRecordInfoList list;
    EXPECT_EQ(list.CompareMode, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << int(c.mode) << " " << c.a.TimeStamp << " vs " << c.b.TimeStamp);
        list.CompareMode = c.mode;
        EXPECT_EQ(list.Compare(&c.a, &c.b), c.expected);
    }
    // Sub-millisecond differences vanish at mode 3 but not at mode 0.
    TRecordInfo a = at(10, 15, 1, 5), b = a;
    b.TimeStamp += 1e-10;
    list.CompareMode = 3;
    EXPECT_EQ(list.Compare(&a, &b), 0);
    list.CompareMode = 0;
    EXPECT_EQ(list.Compare(&a, &b), -1);
}

TEST(TRecordInfoList, ClearReleasesTheInitialReservation)
{
    TRecordInfoList list;
    const auto entry = EntryWithPlayTime(1);
    list.Add(&entry);
    EXPECT_EQ(list.Capacity(), 10100);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
    EXPECT_EQ(list.Add(&entry), 0);
    EXPECT_EQ(list.Capacity(), 101);
}
