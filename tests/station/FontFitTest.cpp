// Choosing Memo2's font by what the fonts measure.

#include "station/FontFit.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace kestrel::design {
namespace {

// A system with these faces; each pixel of height makes a line one pixel
// taller and the text `perPixel` pixels wider.
MeasureText System(std::map<std::string, int> perPixel) {
    return [perPixel](const FontRequest& f) {
        const auto it = perPixel.find(f.face);
        if (it == perPixel.end())
            return TextExtent{};
        return TextExtent{true, it->second * f.pixelHeight, f.pixelHeight + 2};
    };
}

TEST(FontFit, TakesTheFirstFaceThatFitsAtTheDesignedSize) {
    const FontRequest f =
        FitFont(kWindowFont, kInfoFontFaces, 4, 360, 80, System({{"Tahoma", 25}, {"Arial", 26}, {"DejaVu Sans", 30}}));
    EXPECT_STREQ(f.face, "Tahoma");
    EXPECT_EQ(f.pixelHeight, kWindowFont.pixelHeight);
    EXPECT_TRUE(f.bold);
}

TEST(FontFit, ShrinksWhenNoFaceFitsAndGivesUpAtTheSmallestSize) {
    const FontRequest f = FitFont(kWindowFont, kInfoFontFaces, 4, 360, 80, System({{"DejaVu Sans", 30}}));
    EXPECT_STREQ(f.face, "DejaVu Sans");
    EXPECT_EQ(f.pixelHeight, 12);
    const FontRequest tooSmall = FitFont(kWindowFont, kInfoFontFaces, 4, 100, 80, System({{"DejaVu Sans", 30}}));
    EXPECT_EQ(tooSmall.pixelHeight, kSmallestFitPixels);
    EXPECT_STREQ(FitFont(kWindowFont, kInfoFontFaces, 4, 360, 80, System({})).face, kWindowFont.face);
}

}  // namespace
}  // namespace kestrel::design
