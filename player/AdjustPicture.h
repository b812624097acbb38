#pragma once

// The picture settings of the main display (contrast, brightness, saturation) and the one
// transform behind all three.

#include "Bitmap24.h"

#include <cstdint>

namespace qrv {

// Moves every byte of the picture (blue, green and red alike) away from 127 by
// amount/255 of its distance: d = |127 - v| * amount div 255; v' = v + d above 127,
// v - d otherwise, clamped to 0..255. Amount 0 changes nothing.
void AdjustPicture(TBitmap24& picture, int32_t amount);
// The same on a raw run of bytes.
void AdjustBytes(uint8_t* bytes, size_t count, int32_t amount);

// One implementation of AdjustBytes by name, for tests that check each against the rule.
// The vector forms take amounts 1..255. False when this processor cannot run the form.
enum class TAdjustForm { Scalar, Avx2, Avx512 };
bool AdjustBytesWithForm(TAdjustForm form, uint8_t* bytes, size_t count, int32_t amount);

// The three settings, each 0..100 in steps of 5; 0 leaves a picture alone.
struct TPictureSettings {
    int32_t FContrast = 0;
    int32_t FBrightness = 0;
    int32_t FSaturation = 0;

    static constexpr int32_t Step = 5;
    static constexpr int32_t Maximum = 100;

    static int32_t Raised(int32_t value) { return value + Step > Maximum ? Maximum : value + Step; }
    static int32_t Lowered(int32_t value) { return value - Step < 0 ? 0 : value - Step; }
    void Reset() { *this = {}; }
    bool IsNeutral() const { return FContrast == 0 && FBrightness == 0 && FSaturation == 0; }
};

// Applies the settings in their order: contrast, then brightness, then saturation, each
// pass on the result of the one before, skipping settings of 0.
void ApplyPictureSettings(TBitmap24& picture, const TPictureSettings& settings);

} // namespace qrv
