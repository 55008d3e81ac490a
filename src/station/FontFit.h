#pragma once
// Picks the font for a text that must show whole in a designed band (Memo2's
// four lines, Memo1's beacon): the first face of a list that the system has and that fits at
// the designed size, else the same faces a pixel smaller, and so on. Chosen
// by what the font measures, so a face missing on one system (the design's
// "MS Sans Serif" on Linux) never leaves the text clipped.

#include "station/WindowDesign.h"

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::design {

// What a window's toolkit measures for a font: whether it has that face at
// all, the widest of the lines and the height one line takes.
struct TextExtent {
    bool available = false;
    int width = 0;
    int lineHeight = 0;
};
using MeasureText = std::function<TextExtent(const FontRequest& font)>;

// In order of preference: the design's face, then faces that Windows or a
// Linux desktop has with similar metrics.
inline constexpr std::array<const char*, 7> kInfoFontFaces{
    "MS Sans Serif",   "Microsoft Sans Serif",  "Tahoma",     "Arial",
    "Liberation Sans", "DejaVu Sans Condensed", "DejaVu Sans"};
// The smallest size tried; below it the text would no longer read.
inline constexpr int kSmallestFitPixels = 9;

// Memo1's lines for a beacon as wide as they come in practice (the GPS on,
// the photo sensors' readings of four digits, the status bytes 0x00): its
// font shows the widest whole and all of them at once in the designed pane.
std::vector<std::string> DecodedSampleLines();

// wanted: the design's size and style; faces in order of preference; lineCount
// lines must fit into width x height pixels. When nothing fits, the first
// available face at the smallest size; when no face is available, wanted.
FontRequest FitFont(const FontRequest& wanted, std::span<const char* const> faces, int lineCount, int width, int height,
                    const MeasureText& measure);

}  // namespace kestrel::design
