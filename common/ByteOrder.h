#pragma once

// Little-endian loads and stores at any alignment. The recording format and the audio
// protocol pack their fields without padding, so multi-byte fields are often unaligned;
// these go through memcpy, which the compiler turns into single unaligned moves.

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace qrv {

static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big);

template <typename T>
constexpr T FromLittleEndian(T value)
{
    if constexpr (std::endian::native == std::endian::little || sizeof(T) == 1) {
        return value;
    } else {
        auto bytes = std::bit_cast<std::array<unsigned char, sizeof(T)>>(value);
        std::reverse(bytes.begin(), bytes.end());
        return std::bit_cast<T>(bytes);
    }
}

template <typename T>
inline T LoadLE(const void* at)
{
    T value;
    std::memcpy(&value, at, sizeof(T));
    return FromLittleEndian(value);
}

template <typename T>
inline void StoreLE(void* at, T value)
{
    value = FromLittleEndian(value); // the swap is its own inverse
    std::memcpy(at, &value, sizeof(T));
}

inline uint16_t LoadU16(const void* at) { return LoadLE<uint16_t>(at); }
inline uint32_t LoadU32(const void* at) { return LoadLE<uint32_t>(at); }
inline double LoadF64(const void* at) { return LoadLE<double>(at); }

} // namespace qrv
