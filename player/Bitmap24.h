#pragma once

// A 24-bit picture: Width x Height pixels of blue, green, red bytes, rows tightly packed,
// top row first. The storage is 64-byte aligned so that whole-row loops run at full speed.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <algorithm>
#include <new>

namespace qrv {

class TBitmap24 {
public:
    // A picture of the given size with undefined content. Sizes must be positive.
    TBitmap24(int32_t width, int32_t height)
        : m_width(width), m_height(height), m_pixels(Allocate(static_cast<size_t>(width) * height * 3))
    {
    }

    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    size_t Stride() const { return static_cast<size_t>(m_width) * 3; }
    size_t SizeBytes() const { return Stride() * static_cast<size_t>(m_height); }

    uint8_t* Bits() { return m_pixels.get(); }
    const uint8_t* Bits() const { return m_pixels.get(); }
    uint8_t* Row(int32_t y) { return m_pixels.get() + Stride() * static_cast<size_t>(y); }
    const uint8_t* Row(int32_t y) const { return m_pixels.get() + Stride() * static_cast<size_t>(y); }

    std::unique_ptr<TBitmap24> Clone() const;

private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    static uint8_t* Allocate(size_t bytes)
    {
        constexpr size_t Alignment = 64;
        void* p = std::aligned_alloc(Alignment, (bytes + Alignment - 1) / Alignment * Alignment + Alignment);
        if (p == nullptr)
            throw std::bad_alloc();
        return static_cast<uint8_t*>(p);
    }

    int32_t m_width;
    int32_t m_height;
    std::unique_ptr<uint8_t, Free> m_pixels;
};

inline std::unique_ptr<TBitmap24> TBitmap24::Clone() const
{
    auto copy = std::make_unique<TBitmap24>(m_width, m_height);
    std::copy_n(Bits(), SizeBytes(), copy->Bits());
    return copy;
}

} // namespace qrv
