#pragma once

// The pictures crdgen puts into recordings: a moving test picture for the video, with the
// play time ("mm:ss.mmm") and the frame number burned in, and numbered slides for the
// picture records.
//
// Text is drawn with a built-in 5x7 font of digits, ':' and '.': every glyph is a grid of
// solid square cells, white on a black box. Because the box's place and the cell size
// follow from the picture size alone, ReadBurnedInTime can sample the centre of every cell
// of a decoded frame and recover the digits, which lets tests check which frame a player
// or decoder actually shows.

#include "Bitmap24.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qrv::tools {

struct TRgb {
    uint8_t R = 0;
    uint8_t G = 0;
    uint8_t B = 0;
};

inline constexpr int GlyphColumns = 5;
inline constexpr int GlyphRows = 7;
inline constexpr int GlyphAdvance = GlyphColumns + 1; // in cells: one empty column between glyphs

// Fills a rectangle, clipped to the picture.
void FillRect(TBitmap24& picture, int x, int y, int width, int height, TRgb colour);

// Draws `text` (digits, ':' and '.'; other characters leave a gap) with its top-left
// corner at (x, y), every font cell `cell` pixels square; only the lit cells are painted.
void DrawGlyphText(TBitmap24& picture, int x, int y, int cell, std::string_view text, TRgb colour);
// Width in pixels of `text` drawn with that cell size.
int GlyphTextWidth(std::string_view text, int cell);

// "mm:ss.mmm"; minutes beyond 99 wrap around.
std::string FormatPlayTime(uint32_t playTimeMs);

// The size of a font cell of the burned-in text for a picture of this size (5 px at 480
// lines: digits 35 px high); 0 when the picture is too small to hold the text.
int BurnedInCellSize(int width, int height);

// Draws video frame `frameNumber` at `playTimeMs`: a scrolling gradient, moving colour bars
// and a bouncing box, with the time and the frame number (six digits) in a black box near
// the top-left corner.
void DrawTestPicture(TBitmap24& picture, uint32_t frameNumber, uint32_t playTimeMs);

// The burned-in play time in ms, read back from a picture drawn by DrawTestPicture and
// possibly passed through a lossy codec: each cell's centre is thresholded at mid-grey and
// each glyph taken as the nearest one of the font when at most two cells differ. None when
// the text cannot be read.
std::optional<uint32_t> ReadBurnedInTime(const TBitmap24& picture);
// The burned-in frame number (modulo 1,000,000), read back the same way.
std::optional<uint32_t> ReadBurnedInFrameNumber(const TBitmap24& picture);

// A slide for the picture records: its number in large digits on a background colour that
// changes from slide to slide.
void DrawSlide(TBitmap24& picture, uint32_t number);

} // namespace qrv::tools
