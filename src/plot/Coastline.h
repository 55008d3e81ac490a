#pragma once
// The land's outline for the ground-track map: Natural Earth's 1:110m land
// (public domain), converted once by tools/coastline/make-coastline.mjs into
// CoastlineData.cpp. Polygons of rings of longitude and latitude pairs in
// hundredths of a degree; a polygon's first ring is its outline, any further
// ring a hole in it.

#include <cstddef>
#include <cstdint>

namespace kestrel::plot {

struct Coastline {
    const std::int16_t* points;  // longitude, latitude, longitude, ...
    std::size_t pointCount;
    const std::uint16_t* rings;  // points per ring, ring after ring
    std::size_t ringCount;
    const std::uint16_t* polygons;  // rings per polygon
    std::size_t polygonCount;
};

const Coastline& coastline();

}  // namespace kestrel::plot
