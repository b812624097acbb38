#pragma once

// Compresses bitmaps into the JPEG pictures of picture records (baseline, 4:2:0).

#include "Bitmap24.h"

#include <cstdint>
#include <vector>

namespace qrv::tools {

// The complete JPEG file of `picture`; empty when the library fails.
std::vector<uint8_t> EncodeJpeg(const TBitmap24& picture, int quality = 85);

} // namespace qrv::tools
