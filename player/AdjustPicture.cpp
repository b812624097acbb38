#include "AdjustPicture.h"

#include <cstdlib>

namespace qrv {

namespace {

// The exact rule in 32-bit arithmetic, for amounts the fast path does not take.
void AdjustBytesAnyAmount(uint8_t* bytes, size_t count, int32_t amount)
{
    for (size_t i = 0; i < count; ++i) {
        const int32_t v = bytes[i];
        const int32_t d = std::abs(127 - v) * amount / 255;
        const int32_t adjusted = v > 127 ? v + d : v - d;
        bytes[i] = static_cast<uint8_t>(adjusted < 0 ? 0 : (adjusted > 255 ? 255 : adjusted));
    }
}

// The same rule in 16-bit lanes, which the compiler vectorises: |127 - v| <= 128, so for
// amounts up to 511 the product stays below 2^16, and x div 255 = (x + 1 + (x >> 8)) >> 8
// for every such x. Built for several instruction sets; the best one runs.
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) void
AdjustBytesSmallAmount(uint8_t* __restrict bytes, size_t count, uint16_t amount)
{
    for (size_t i = 0; i < count; ++i) {
        const uint16_t v = bytes[i];
        const bool above = v > 127;
        const uint16_t distance = above ? static_cast<uint16_t>(v - 127) : static_cast<uint16_t>(127 - v);
        const uint16_t x = static_cast<uint16_t>(distance * amount);
        const uint16_t d = static_cast<uint16_t>((x + 1 + (x >> 8)) >> 8);
        const int16_t adjusted = above ? static_cast<int16_t>(v + d) : static_cast<int16_t>(v - d);
        bytes[i] = static_cast<uint8_t>(adjusted < 0 ? 0 : (adjusted > 255 ? 255 : adjusted));
    }
}

} // namespace

void AdjustBytes(uint8_t* bytes, size_t count, int32_t amount)
{
    if (amount == 0)
        return;
    if (amount > 0 && amount <= 511)
        AdjustBytesSmallAmount(bytes, count, static_cast<uint16_t>(amount));
    else
        AdjustBytesAnyAmount(bytes, count, amount);
}

void AdjustPicture(TBitmap24& picture, int32_t amount)
{
    AdjustBytes(picture.Bits(), picture.SizeBytes(), amount);
}

void ApplyPictureSettings(TBitmap24& picture, const TPictureSettings& settings)
{
    for (const int32_t amount : {settings.FContrast, settings.FBrightness, settings.FSaturation})
        if (amount != 0)
            AdjustPicture(picture, amount);
}

} // namespace qrv
