#pragma once

// A growable list of fixed-size entries kept in one contiguous block.
//
// Capacity follows an exact rule: SetCapacity(n) makes it n + 100, and Add on a full list
// asks for Count + 1, so a full list grows by 101 entries at a time. The block behind it may
// be larger than Capacity: it grows geometrically, so that an index of hundreds of thousands
// of entries builds in linear time.
//
// GetItem answers a pointer into the block; it stays valid until the next Add that grows
// the list, or the next Clear. Entry i always sits at Data + i * ItemSize.

#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace qrv {

// Raised by GetItem for an index outside 0 .. Count - 1.
class EListOutOfRange : public std::out_of_range {
public:
    EListOutOfRange() : std::out_of_range("TKVTFixListMemory.GetItem - Out of range") {}
};

class TFixListMemory {
public:
    TFixListMemory(int32_t itemSize, int32_t initialCapacity);
    virtual ~TFixListMemory();

    TFixListMemory(const TFixListMemory&) = delete;
    TFixListMemory& operator=(const TFixListMemory&) = delete;

    // Appends a copy of ItemSize bytes from `entry`; answers the new entry's index. When the
    // memory for a growth cannot be had, std::bad_alloc passes on and the list is unchanged.
    int32_t Add(const void* entry);

    // Entry `index` inside the block; EListOutOfRange when index < 0 or index >= Count.
    void* GetItem(int32_t index) const;

    // Count and Capacity become 0 and the storage is released.
    void Clear();

    // Makes room for at least n entries: when n > Capacity, Capacity becomes n + 100.
    // Never shrinks.
    void SetCapacity(int32_t n);

    // Order of two entries: by default the first differing byte as unsigned values,
    // (byte of a) - (byte of b); 0 when all ItemSize bytes are equal.
    virtual int32_t Compare(const void* a, const void* b) const;

    int32_t Count() const { return m_count; }
    int32_t Capacity() const { return m_capacity; }
    int32_t ItemSize() const { return m_itemSize; }

private:
    std::byte* m_data = nullptr;
    int32_t m_capacity = 0;
    int32_t m_allocated = 0; // entries the block has room for; at least m_capacity
    int32_t m_itemSize = 0;
    int32_t m_count = 0;
};

} // namespace qrv
