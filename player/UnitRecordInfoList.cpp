#include "UnitRecordInfoList.h"

#include "OleDateTime.h"

#include <cstring>

namespace qrv {

namespace {

constexpr int32_t InitialCapacity = 10000;

template <typename Key>
int32_t CompareKeys(const Key& x, const Key& y)
{
    return x > y ? 1 : (x == y ? 0 : -1);
}

// Compares two date-times cut to the precision of `mode`; exactly for modes other than 1..3.
// Values that are no dates (NaN, out of range) compare by their exact value.
int32_t CompareAtPrecision(double a, double b, uint8_t mode)
{
    int32_t unit = 0; // milliseconds per step of the precision
    switch (mode) {
    case 1: unit = 60'000; break;
    case 2: unit = 1000; break;
    case 3: unit = 1; break;
    default: return CompareKeys(a, b);
    }
    auto x = SplitOleDate(a), y = SplitOleDate(b);
    if (!x || !y)
        return CompareKeys(a, b);
    x->Ms -= x->Ms % unit;
    y->Ms -= y->Ms % unit;
    return CompareKeys(*x, *y);
}

} // namespace

TRecordInfoList::TRecordInfoList() : TFixListMemory(sizeof(TRecordInfo), InitialCapacity) {}

TRecordInfo* TRecordInfoList::Get(int32_t index, TRecordInfo& entry) const
{
    auto* item = static_cast<TRecordInfo*>(GetItem(index));
    std::memcpy(&entry, item, sizeof entry);
    return item;
}

int32_t TRecordInfoList::Compare(const void* a, const void* b) const
{
    double x, y;
    std::memcpy(&x, static_cast<const std::byte*>(a) + offsetof(TRecordInfo, TimeStamp), sizeof x);
    std::memcpy(&y, static_cast<const std::byte*>(b) + offsetof(TRecordInfo, TimeStamp), sizeof y);
    return CompareAtPrecision(x, y, CompareMode);
}

} // namespace qrv
