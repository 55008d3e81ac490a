#pragma once
// The ground-track map's geometry: an equirectangular projection of the whole
// earth (longitude and latitude as straight scales, 2:1) and the tracks of
// GPS positions as polylines on it, broken where the satellite crosses the
// date line (each side drawn up to the map's edge) and between passes.

#include "plot/DisplayList.h"

#include <cstddef>
#include <vector>

namespace kestrel::plot {

struct GeoPoint {
    double latitude = 0, longitude = 0;  // degrees, north and east positive
};

// The largest 2:1 rectangle centred in `room`.
RectF mapRect(const RectF& room);
PointF project(const GeoPoint& p, const RectF& map);

// Builds the tracks point by point. Each polyline keeps the pass it belongs
// to; a point within half a pixel of the one before adds nothing.
class TrackBuilder {
public:
    struct Line {
        int pass;
        std::vector<PointF> points;
    };

    explicit TrackBuilder(const RectF& map = {}) : map_(map) {}
    void add(const GeoPoint& p, int pass);
    const std::vector<Line>& lines() const { return lines_; }
    std::size_t pointCount() const;

private:
    void start(const GeoPoint& p, int pass);
    void extend(const GeoPoint& p);

    RectF map_;
    std::vector<Line> lines_;
    GeoPoint last_;
    int lastPass_ = -1;
};

}  // namespace kestrel::plot
