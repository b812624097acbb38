#include "TestPicture.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace qrv::tools {

namespace {

struct Glyph {
    char Character;
    std::array<uint8_t, GlyphRows> Rows; // bit 4 is the leftmost column
};

constexpr std::array<Glyph, 12> Font{{
    {'0', {0b01110, 0b10001, 0b10011, 0b10101, 0b11001, 0b10001, 0b01110}},
    {'1', {0b00100, 0b01100, 0b00100, 0b00100, 0b00100, 0b00100, 0b01110}},
    {'2', {0b01110, 0b10001, 0b00001, 0b00010, 0b00100, 0b01000, 0b11111}},
    {'3', {0b11111, 0b00010, 0b00100, 0b00010, 0b00001, 0b10001, 0b01110}},
    {'4', {0b00010, 0b00110, 0b01010, 0b10010, 0b11111, 0b00010, 0b00010}},
    {'5', {0b11111, 0b10000, 0b11110, 0b00001, 0b00001, 0b10001, 0b01110}},
    {'6', {0b00110, 0b01000, 0b10000, 0b11110, 0b10001, 0b10001, 0b01110}},
    {'7', {0b11111, 0b00001, 0b00010, 0b00100, 0b01000, 0b01000, 0b01000}},
    {'8', {0b01110, 0b10001, 0b10001, 0b01110, 0b10001, 0b10001, 0b01110}},
    {'9', {0b01110, 0b10001, 0b10001, 0b01111, 0b00001, 0b00010, 0b01100}},
    {':', {0b00000, 0b01100, 0b01100, 0b00000, 0b01100, 0b01100, 0b00000}},
    {'.', {0b00000, 0b00000, 0b00000, 0b00000, 0b00000, 0b01100, 0b01100}},
}};

const Glyph* FindGlyph(char c)
{
    for (const Glyph& glyph : Font)
        if (glyph.Character == c)
            return &glyph;
    return nullptr;
}

// Where the burned-in text sits, in cells of BurnedInCellSize: a black box two cells from
// the top-left corner, the time on the first line, the frame number below it.
constexpr int BoxMargin = 2;
constexpr int BoxPadding = 2;
constexpr int TimeChars = 9;  // "mm:ss.mmm"
constexpr int FrameDigits = 6;
constexpr int LineAdvance = GlyphRows + 2;
constexpr int BoxWidthCells = 2 * BoxPadding + TimeChars * GlyphAdvance - 1;
constexpr int BoxHeightCells = 2 * BoxPadding + LineAdvance + GlyphRows;
constexpr int TextLeftCells = BoxMargin + BoxPadding;
constexpr int TimeTopCells = BoxMargin + BoxPadding;
constexpr int FrameTopCells = TimeTopCells + LineAdvance;

constexpr TRgb White{255, 255, 255};
constexpr TRgb Black{0, 0, 0};

void PutPixel(uint8_t* at, TRgb colour)
{
    at[0] = colour.B;
    at[1] = colour.G;
    at[2] = colour.R;
}

// Whether the cell at (x, y) of size `cell` is lit: the mean brightness of its central
// pixels (the middle third, at least one pixel) at or above mid-grey.
bool CellLit(const TBitmap24& picture, int x, int y, int cell)
{
    const int inset = cell / 3;
    const int x0 = x + inset, x1 = std::max(x0 + 1, x + cell - inset);
    const int y0 = y + inset, y1 = std::max(y0 + 1, y + cell - inset);
    uint32_t sum = 0, count = 0;
    for (int py = y0; py < y1 && py < picture.Height(); ++py)
        for (int px = x0; px < x1 && px < picture.Width(); ++px) {
            const uint8_t* p = picture.Row(py) + static_cast<size_t>(px) * 3;
            sum += p[0] + p[1] + p[2];
            count += 3;
        }
    return count > 0 && sum >= 128 * count;
}

// The character of the glyph at (x, y): the nearest one of the font when at most two of
// its 35 cells differ (every two glyphs of the font differ in at least six), else 0.
char ReadGlyph(const TBitmap24& picture, int x, int y, int cell)
{
    std::array<uint8_t, GlyphRows> rows{};
    for (int row = 0; row < GlyphRows; ++row)
        for (int column = 0; column < GlyphColumns; ++column)
            if (CellLit(picture, x + column * cell, y + row * cell, cell))
                rows[static_cast<size_t>(row)] |= static_cast<uint8_t>(1u << (GlyphColumns - 1 - column));
    char best = 0;
    int bestDistance = 3;
    for (const Glyph& glyph : Font) {
        int distance = 0;
        for (size_t row = 0; row < rows.size(); ++row)
            distance += __builtin_popcount(static_cast<unsigned>(rows[row] ^ glyph.Rows[row]));
        if (distance < bestDistance) {
            bestDistance = distance;
            best = glyph.Character;
        }
    }
    return best;
}

// `count` characters of burned-in text starting at cell (leftCells, topCells).
std::optional<std::string> ReadLine(const TBitmap24& picture, int leftCells, int topCells, int count)
{
    const int cell = BurnedInCellSize(picture.Width(), picture.Height());
    if (cell == 0)
        return std::nullopt;
    std::string text;
    for (int i = 0; i < count; ++i) {
        const char c = ReadGlyph(picture, (leftCells + i * GlyphAdvance) * cell, topCells * cell, cell);
        if (c == 0)
            return std::nullopt;
        text.push_back(c);
    }
    return text;
}

bool AllDigits(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

uint32_t Number(std::string_view digits)
{
    uint32_t value = 0;
    for (const char c : digits)
        value = value * 10 + static_cast<uint32_t>(c - '0');
    return value;
}

uint8_t Clamp8(int value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

} // namespace

void FillRect(TBitmap24& picture, int x, int y, int width, int height, TRgb colour)
{
    const int x0 = std::max(x, 0), x1 = std::min(x + width, picture.Width());
    const int y0 = std::max(y, 0), y1 = std::min(y + height, picture.Height());
    for (int py = y0; py < y1; ++py) {
        uint8_t* p = picture.Row(py) + static_cast<size_t>(x0) * 3;
        for (int px = x0; px < x1; ++px, p += 3)
            PutPixel(p, colour);
    }
}

void DrawGlyphText(TBitmap24& picture, int x, int y, int cell, std::string_view text, TRgb colour)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const Glyph* glyph = FindGlyph(text[i]);
        if (glyph == nullptr)
            continue;
        const int left = x + static_cast<int>(i) * GlyphAdvance * cell;
        for (int row = 0; row < GlyphRows; ++row)
            for (int column = 0; column < GlyphColumns; ++column)
                if (glyph->Rows[static_cast<size_t>(row)] & (1u << (GlyphColumns - 1 - column)))
                    FillRect(picture, left + column * cell, y + row * cell, cell, cell, colour);
    }
}

int GlyphTextWidth(std::string_view text, int cell)
{
    return text.empty() ? 0 : (static_cast<int>(text.size()) * GlyphAdvance - 1) * cell;
}

std::string FormatPlayTime(uint32_t playTimeMs)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u.%03u", playTimeMs / 60000 % 100, playTimeMs / 1000 % 60,
                  playTimeMs % 1000);
    return text;
}

int BurnedInCellSize(int width, int height)
{
    const int cell = std::min(height / 96, width / 72);
    if (cell >= 1)
        return cell;
    const bool fits = width >= (BoxMargin + BoxWidthCells) && height >= (BoxMargin + BoxHeightCells);
    return fits ? 1 : 0;
}

void DrawTestPicture(TBitmap24& picture, uint32_t frameNumber, uint32_t playTimeMs)
{
    const int width = picture.Width(), height = picture.Height();
    const int t = static_cast<int>(frameNumber);

    // A gradient that scrolls to the left, greener towards the bottom. Red and blue depend
    // on the column only, so one row is worked out and copied, with green set per row.
    std::vector<uint8_t> row(picture.Stride());
    for (int x = 0; x < width; ++x) {
        const int phase = (x + 3 * t) % 512;
        const int ramp = phase < 256 ? phase : 511 - phase;
        row[3 * static_cast<size_t>(x)] = static_cast<uint8_t>(200 - ramp / 2); // blue
        row[3 * static_cast<size_t>(x) + 2] = static_cast<uint8_t>(30 + ramp * 3 / 4); // red
    }
    const int barsTop = height * 2 / 3;
    for (int y = 0; y < barsTop; ++y) {
        const auto green = static_cast<uint8_t>(40 + y * 80 / height);
        for (int x = 0; x < width; ++x)
            row[3 * static_cast<size_t>(x) + 1] = green;
        std::copy(row.begin(), row.end(), picture.Row(y));
    }

    // Eight colour bars across the lower third, moving to the right.
    static constexpr std::array<TRgb, 8> Bars{{
        {235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
        {235, 16, 235}, {235, 16, 16}, {16, 16, 235}, {16, 16, 16},
    }};
    const int barWidth = std::max(1, width / 8), period = 8 * barWidth;
    const int offset = 4 * t % period;
    for (int x = 0; x < width; ++x) {
        const int shifted = (x - offset + period) % period;
        PutPixel(&row[3 * static_cast<size_t>(x)], Bars[static_cast<size_t>(shifted / barWidth)]);
    }
    for (int y = barsTop; y < height; ++y)
        std::copy(row.begin(), row.end(), picture.Row(y));

    // A box bouncing between the walls of the upper two thirds.
    const int box = std::max(2, height / 6);
    const int rangeX = std::max(1, width - box), rangeY = std::max(1, barsTop - box);
    const int bx = (5 * t) % (2 * rangeX), by = (3 * t) % (2 * rangeY);
    FillRect(picture, bx < rangeX ? bx : 2 * rangeX - bx, by < rangeY ? by : 2 * rangeY - by, box, box,
             TRgb{250, 200, 30});

    // The burned-in time and frame number.
    const int cell = BurnedInCellSize(width, height);
    if (cell == 0)
        return;
    FillRect(picture, BoxMargin * cell, BoxMargin * cell, BoxWidthCells * cell, BoxHeightCells * cell, Black);
    DrawGlyphText(picture, TextLeftCells * cell, TimeTopCells * cell, cell, FormatPlayTime(playTimeMs), White);
    char frame[16];
    std::snprintf(frame, sizeof frame, "%06u", frameNumber % 1'000'000);
    DrawGlyphText(picture, TextLeftCells * cell, FrameTopCells * cell, cell, frame, White);
}

std::optional<uint32_t> ReadBurnedInTime(const TBitmap24& picture)
{
    const auto text = ReadLine(picture, TextLeftCells, TimeTopCells, TimeChars);
    if (!text || (*text)[2] != ':' || (*text)[5] != '.')
        return std::nullopt;
    const std::string_view s = *text;
    const std::string_view minutes = s.substr(0, 2), seconds = s.substr(3, 2), millis = s.substr(6, 3);
    if (!AllDigits(minutes) || !AllDigits(seconds) || !AllDigits(millis) || Number(seconds) >= 60)
        return std::nullopt;
    return Number(minutes) * 60000 + Number(seconds) * 1000 + Number(millis);
}

std::optional<uint32_t> ReadBurnedInFrameNumber(const TBitmap24& picture)
{
    const auto text = ReadLine(picture, TextLeftCells, FrameTopCells, FrameDigits);
    if (!text || !AllDigits(*text))
        return std::nullopt;
    return Number(*text);
}

void DrawSlide(TBitmap24& picture, uint32_t number)
{
    static constexpr std::array<TRgb, 6> Backgrounds{{
        {40, 70, 160}, {150, 40, 60}, {30, 120, 70}, {120, 60, 150}, {170, 110, 20}, {30, 110, 130},
    }};
    const TRgb background = Backgrounds[number % Backgrounds.size()];
    const int width = picture.Width(), height = picture.Height();
    // A slightly darker band at the top, like a title bar.
    FillRect(picture, 0, 0, width, height, background);
    FillRect(picture, 0, 0, width, height / 8, TRgb{Clamp8(background.R - 30), Clamp8(background.G - 30),
                                                    Clamp8(background.B - 30)});
    const std::string text = std::to_string(number);
    const int chars = static_cast<int>(text.size());
    const int cell = std::max(1, std::min((width * 3 / 4) / (chars * GlyphAdvance), (height * 2 / 3) / GlyphRows));
    const int textWidth = GlyphTextWidth(text, cell);
    const int x = (width - textWidth) / 2, y = (height - GlyphRows * cell) / 2;
    DrawGlyphText(picture, x + cell / 4 + 1, y + cell / 4 + 1, cell, text, TRgb{20, 20, 20}); // shadow
    DrawGlyphText(picture, x, y, cell, text, White);
}

} // namespace qrv::tools
