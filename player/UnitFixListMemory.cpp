#include "UnitFixListMemory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace qrv {

TFixListMemory::TFixListMemory(int32_t itemSize, int32_t initialCapacity) : m_itemSize(itemSize)
{
    SetCapacity(initialCapacity);
}

TFixListMemory::~TFixListMemory()
{
    Clear();
}

void TFixListMemory::SetCapacity(int32_t n)
{
    if (n <= m_capacity)
        return;
    constexpr int32_t Headroom = 100; // entries reserved beyond the request
    if (n > std::numeric_limits<int32_t>::max() - Headroom)
        throw std::bad_alloc();
    const int32_t capacity = n + Headroom;
    if (capacity > m_allocated) {
        // The block itself grows by half again at least, so that adding entry after entry
        // moves it only a logarithmic number of times.
        const int64_t allocated = std::max<int64_t>(capacity, int64_t{m_allocated} + m_allocated / 2);
        const int32_t entries = static_cast<int32_t>(std::min<int64_t>(allocated, std::numeric_limits<int32_t>::max()));
        const size_t bytes = static_cast<size_t>(entries) * static_cast<size_t>(m_itemSize);
        // realloc keeps the old block when it fails, so the list keeps its content.
        void* grown = std::realloc(m_data, bytes == 0 ? 1 : bytes);
        if (grown == nullptr)
            throw std::bad_alloc();
        m_data = static_cast<std::byte*>(grown);
        m_allocated = entries;
    }
    m_capacity = capacity;
}

int32_t TFixListMemory::Add(const void* entry)
{
    SetCapacity(m_count + 1);
    std::memcpy(m_data + static_cast<size_t>(m_itemSize) * static_cast<size_t>(m_count), entry,
                static_cast<size_t>(m_itemSize));
    return m_count++;
}

void* TFixListMemory::GetItem(int32_t index) const
{
    if (index < 0 || index >= m_count)
        throw EListOutOfRange();
    return m_data + static_cast<size_t>(m_itemSize) * static_cast<size_t>(index);
}

void TFixListMemory::Clear()
{
    std::free(m_data);
    m_data = nullptr;
    m_count = 0;
    m_capacity = 0;
    m_allocated = 0;
}

int32_t TFixListMemory::Compare(const void* a, const void* b) const
{
    const auto* x = static_cast<const uint8_t*>(a);
    const auto* y = static_cast<const uint8_t*>(b);
    for (int32_t i = 0; i < m_itemSize; ++i) {
        if (x[i] != y[i])
            return static_cast<int32_t>(x[i]) - static_cast<int32_t>(y[i]);
    }
    return 0;
}

} // namespace qrv
