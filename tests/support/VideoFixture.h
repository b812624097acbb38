#pragma once

// Pictures and H.264 streams for the video tests: a picture split into a top and a bottom
// colour with a grey square that moves with the frame number (so that frames after a key
// frame carry real changes), streams of such pictures, and picture comparisons.

#include "Bitmap24.h"
#include "H264Encoder.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

namespace qrv::test {

struct Bgr {
    uint8_t B, G, R;
};

inline constexpr Bgr Red{0, 0, 255};
inline constexpr Bgr Blue{255, 0, 0};
inline constexpr Bgr Green{0, 255, 0};
inline constexpr Bgr White{255, 255, 255};

inline TBitmap24 SplitPicture(int width, int height, Bgr top, Bgr bottom, int frame = 0)
{
    TBitmap24 picture(width, height);
    const int squareX = (frame * 4) % (width - 8 > 0 ? width - 8 : 1);
    const int squareY = height / 4;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = picture.Row(y);
        for (int x = 0; x < width; ++x) {
            Bgr c = y < height / 2 ? top : bottom;
            if (x >= squareX && x < squareX + 8 && y >= squareY && y < squareY + 8)
                c = Bgr{128, 128, 128};
            row[x * 3 + 0] = c.B;
            row[x * 3 + 1] = c.G;
            row[x * 3 + 2] = c.R;
        }
    }
    return picture;
}

struct EncodedStream {
    std::vector<TBitmap24> Pictures;
    std::vector<tools::EncodedFrame> Frames;
};

// `count` frames of SplitPicture(top, bottom, i), a key frame every `gop` frames.
inline EncodedStream EncodeSplitStream(int width, int height, Bgr top, Bgr bottom, int count, int gop)
{
    auto encoder = tools::H264Encoder::Create(width, height, 25, gop);
    if (!encoder)
        throw std::runtime_error("the H.264 encoder does not open");
    EncodedStream stream;
    for (int i = 0; i < count; ++i) {
        stream.Pictures.push_back(SplitPicture(width, height, top, bottom, i));
        stream.Frames.push_back(encoder->Encode(stream.Pictures.back()));
    }
    return stream;
}

// Mean absolute difference per byte between `expected` (top row first) and `rows`, whose
// row k is the picture's row k when topFirst, its row height - 1 - k otherwise.
inline double MeanAbsError(const TBitmap24& expected, const uint8_t* rows, bool topFirst)
{
    const size_t stride = expected.Stride();
    double sum = 0;
    for (int k = 0; k < expected.Height(); ++k) {
        const uint8_t* want = expected.Row(topFirst ? k : expected.Height() - 1 - k);
        const uint8_t* got = rows + static_cast<size_t>(k) * stride;
        for (size_t i = 0; i < stride; ++i)
            sum += std::abs(int(want[i]) - int(got[i]));
    }
    return sum / static_cast<double>(expected.SizeBytes());
}

// The average colour of row `k` of tightly packed blue-green-red rows.
inline Bgr RowAverage(const uint8_t* rows, int width, int k)
{
    const uint8_t* row = rows + static_cast<size_t>(k) * width * 3;
    long b = 0, g = 0, r = 0;
    for (int x = 0; x < width; ++x) {
        b += row[x * 3];
        g += row[x * 3 + 1];
        r += row[x * 3 + 2];
    }
    return Bgr{uint8_t(b / width), uint8_t(g / width), uint8_t(r / width)};
}

inline bool Near(Bgr a, Bgr b, int tolerance = 24)
{
    return std::abs(a.B - b.B) <= tolerance && std::abs(a.G - b.G) <= tolerance && std::abs(a.R - b.R) <= tolerance;
}

} // namespace qrv::test
