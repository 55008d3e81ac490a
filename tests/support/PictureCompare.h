#pragma once
// Comparing a window's picture with its reference within a small tolerance
// (fonts and smoothing may move a few pixels): the share of pixels whose
// colour differs by more than a little. Needs Qt's image classes.

#include <QImage>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace kestrel::test {

struct PictureDifference {
    bool sameSize = false;
    double share = 1;  // of the pixels that differ
    std::string describe() const {
        return sameSize ? std::to_string(share * 100) + " % of the pixels differ" : "the sizes differ";
    }
};

inline PictureDifference comparePictures(const QImage& a, const QImage& b) {
    PictureDifference d;
    if (a.size() != b.size() || a.isNull())
        return d;
    d.sameSize = true;
    const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
    long long differ = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            const int delta =
                std::max({std::abs(qRed(p[col]) - qRed(q[col])), std::abs(qGreen(p[col]) - qGreen(q[col])),
                          std::abs(qBlue(p[col]) - qBlue(q[col]))});
            differ += delta > 40;
        }
    }
    d.share = double(differ) / (double(x.width()) * x.height());
    return d;
}

// The tolerance of the window tests: one pixel in two hundred.
inline constexpr double kPictureTolerance = 0.005;

}  // namespace kestrel::test
