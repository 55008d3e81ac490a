// The map's projection and the tracks on it (see GroundTrack.h).

#include "plot/GroundTrack.h"

#include <algorithm>
#include <cmath>

namespace kestrel::plot {

RectF mapRect(const RectF& room) {
    float w = room.width, h = room.height;
    if (w > 2 * h)
        w = 2 * h;
    else
        h = w / 2;
    return {room.left + (room.width - w) / 2, room.top + (room.height - h) / 2, w, h};
}

PointF project(const GeoPoint& p, const RectF& map) {
    return {map.left + float((p.longitude + 180) / 360) * map.width,
            map.top + float((90 - p.latitude) / 180) * map.height};
}

void TrackBuilder::start(const GeoPoint& p, int pass) {
    lines_.push_back({pass, {project(p, map_)}});
    last_ = p;
    lastPass_ = pass;
}

void TrackBuilder::extend(const GeoPoint& p) {
    const PointF q = project(p, map_);
    std::vector<PointF>& points = lines_.back().points;
    if (std::abs(points.back().x - q.x) < 0.5f && std::abs(points.back().y - q.y) < 0.5f && points.size() > 1)
        points.back() = q;  // the newest position stays the line's end
    else
        points.push_back(q);
    last_ = p;
}

void TrackBuilder::add(const GeoPoint& p, int pass) {
    if (lines_.empty() || pass != lastPass_) {
        start(p, pass);
        return;
    }
    const double d = p.longitude - last_.longitude;
    if (std::abs(d) <= 180) {
        extend(p);
        return;
    }
    // Across the date line: on to the edge the satellite left by, on again
    // from the other edge, both at the latitude where it crossed.
    const double edge = d < 0 ? 180 : -180;
    const double unwrapped = p.longitude + (d < 0 ? 360 : -360);
    const double f = (edge - last_.longitude) / (unwrapped - last_.longitude);
    const double lat = last_.latitude + f * (p.latitude - last_.latitude);
    extend({lat, edge});
    start({lat, -edge}, pass);
    extend(p);
}

std::size_t TrackBuilder::pointCount() const {
    std::size_t n = 0;
    for (const Line& l : lines_)
        n += l.points.size();
    return n;
}

}  // namespace kestrel::plot
