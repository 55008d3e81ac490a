// Choosing a font by its metrics (see FontFit.h).

#include "station/FontFit.h"

namespace kestrel::design {

FontRequest FitFont(const FontRequest& wanted, std::span<const char* const> faces, int lineCount, int width, int height,
                    const MeasureText& measure) {
    FontRequest fallback{nullptr, kSmallestFitPixels, wanted.bold, wanted.fixedPitch};
    for (int pixels = wanted.pixelHeight; pixels >= kSmallestFitPixels; --pixels) {
        for (const char* face : faces) {
            const FontRequest font{face, pixels, wanted.bold, wanted.fixedPitch};
            const TextExtent e = measure(font);
            if (!e.available)
                continue;
            if (!fallback.face)
                fallback.face = face;
            if (e.width <= width && e.lineHeight * lineCount <= height)
                return font;
        }
    }
    return fallback.face ? fallback : wanted;
}

}  // namespace kestrel::design
