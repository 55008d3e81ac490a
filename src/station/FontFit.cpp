// Choosing a font by its metrics (see FontFit.h).

#include "station/FontFit.h"

#include "telemetry/Decoder.h"

namespace kestrel::design {

std::vector<std::string> DecodedSampleLines() {
    BeaconRecord r;
    r.setFlightTime(99'999'999);
    for (std::size_t i = 0; i < kFotoCount; ++i)
        r.setFoto(i, 8888);
    r.setGpsOn(1);
    r.setLatitude(-88.888888);
    r.setLongitude(-188.888888);
    r.setAltitude(888'888);
    r.setVelocity(8888);
    return decodedInfoLines(r, 88'888, {2088, 8, 0, 28, 18, 58, 58, 0});
}

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
