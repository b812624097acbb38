#pragma once

// Decodes the JPEG pictures of picture records into 24-bit bitmaps at their full size.

#include "Bitmap24.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace qrv {

// The largest picture decoded, in pixels (4096 x 4096). A header that claims more is
// treated as corrupt, so a few lying bytes cannot ask for gigabytes.
inline constexpr uint64_t MaxJpegPixels = 4096ull * 4096ull;

// The picture in `data`; none when it is not a JPEG this decoder reads, claims a size
// beyond MaxJpegPixels, or is broken. Never ends the process.
std::unique_ptr<TBitmap24> DecodeJpeg(const uint8_t* data, size_t size);

} // namespace qrv
