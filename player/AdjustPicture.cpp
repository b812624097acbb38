#include "AdjustPicture.h"

#include <cstdlib>
#include <immintrin.h>

namespace qrv {

namespace {

// The exact rule, one byte at a time, for any amount.
void AdjustBytesScalar(uint8_t* bytes, size_t count, int32_t amount)
{
    for (size_t i = 0; i < count; ++i) {
        const int32_t v = bytes[i];
        const int32_t d = std::abs(127 - v) * amount / 255;
        const int32_t adjusted = v > 127 ? v + d : v - d;
        bytes[i] = static_cast<uint8_t>(adjusted < 0 ? 0 : (adjusted > 255 ? 255 : adjusted));
    }
}

// The vector forms, for amounts 1..255. Per byte v:
//   distance = |v - 127|              (two saturating subtractions, or-ed)
//   x = distance * amount             (16-bit lanes: at most 128 * 255 < 2^16)
//   d = x div 255 = (x + 1 + (x >> 8)) >> 8, exact for every such x; d <= 128 fits a byte
//   v' = v >= 128 ? v + d : v - d     (saturating, which is the clamp to 0..255)

__attribute__((target("avx2"))) inline __m256i Divide255(__m256i x)
{
    const __m256i one = _mm256_set1_epi16(1);
    return _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(x, one), _mm256_srli_epi16(x, 8)), 8);
}

__attribute__((target("avx512bw"))) inline __m512i Divide255(__m512i x)
{
    const __m512i one = _mm512_set1_epi16(1);
    return _mm512_srli_epi16(_mm512_add_epi16(_mm512_add_epi16(x, one), _mm512_srli_epi16(x, 8)), 8);
}

__attribute__((target("avx2"))) void AdjustBytesAvx2(uint8_t* bytes, size_t count, int32_t amount)
{
    const __m256i c127 = _mm256_set1_epi8(127), zero = _mm256_setzero_si256();
    const __m256i factor = _mm256_set1_epi16(static_cast<int16_t>(amount));
    size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        auto* at = reinterpret_cast<__m256i*>(bytes + i);
        const __m256i v = _mm256_loadu_si256(at);
        const __m256i distance = _mm256_or_si256(_mm256_subs_epu8(v, c127), _mm256_subs_epu8(c127, v));
        const __m256i low = Divide255(_mm256_mullo_epi16(_mm256_unpacklo_epi8(distance, zero), factor));
        const __m256i high = Divide255(_mm256_mullo_epi16(_mm256_unpackhi_epi8(distance, zero), factor));
        const __m256i d = _mm256_packus_epi16(low, high); // lane-wise, the inverse of the unpacks
        const __m256i above = _mm256_cmpgt_epi8(zero, v); // v >= 128: negative as a signed byte
        _mm256_storeu_si256(at, _mm256_blendv_epi8(_mm256_subs_epu8(v, d), _mm256_adds_epu8(v, d), above));
    }
    AdjustBytesScalar(bytes + i, count - i, amount);
}

__attribute__((target("avx512bw"))) void AdjustBytesAvx512(uint8_t* bytes, size_t count, int32_t amount)
{
    const __m512i c127 = _mm512_set1_epi8(127), zero = _mm512_setzero_si512();
    const __m512i factor = _mm512_set1_epi16(static_cast<int16_t>(amount));
    size_t i = 0;
    for (; i + 64 <= count; i += 64) {
        const __m512i v = _mm512_loadu_si512(bytes + i);
        const __m512i distance = _mm512_or_si512(_mm512_subs_epu8(v, c127), _mm512_subs_epu8(c127, v));
        const __m512i low = Divide255(_mm512_mullo_epi16(_mm512_unpacklo_epi8(distance, zero), factor));
        const __m512i high = Divide255(_mm512_mullo_epi16(_mm512_unpackhi_epi8(distance, zero), factor));
        const __m512i d = _mm512_packus_epi16(low, high);
        const __mmask64 above = _mm512_movepi8_mask(v);
        _mm512_storeu_si512(bytes + i, _mm512_mask_blend_epi8(above, _mm512_subs_epu8(v, d), _mm512_adds_epu8(v, d)));
    }
    AdjustBytesScalar(bytes + i, count - i, amount);
}

using AdjustFunction = void (*)(uint8_t*, size_t, int32_t);

// The widest form this processor runs, chosen once.
AdjustFunction VectorForm()
{
    static const AdjustFunction chosen = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512bw"))
            return &AdjustBytesAvx512;
        if (__builtin_cpu_supports("avx2"))
            return &AdjustBytesAvx2;
        return &AdjustBytesScalar;
    }();
    return chosen;
}

} // namespace

bool AdjustBytesWithForm(TAdjustForm form, uint8_t* bytes, size_t count, int32_t amount)
{
    __builtin_cpu_init();
    switch (form) {
    case TAdjustForm::Scalar: AdjustBytesScalar(bytes, count, amount); return true;
    case TAdjustForm::Avx2:
        if (!__builtin_cpu_supports("avx2"))
            return false;
        AdjustBytesAvx2(bytes, count, amount);
        return true;
    case TAdjustForm::Avx512:
        if (!__builtin_cpu_supports("avx512bw"))
            return false;
        AdjustBytesAvx512(bytes, count, amount);
        return true;
    }
    return false;
}

void AdjustBytes(uint8_t* bytes, size_t count, int32_t amount)
{
    if (amount == 0)
        return;
    if (amount > 0 && amount <= 255)
        VectorForm()(bytes, count, amount);
    else
        AdjustBytesScalar(bytes, count, amount);
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
