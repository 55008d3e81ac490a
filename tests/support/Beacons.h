#pragma once
// Beacons for tests: a plain one with a given time stamp, ones whose telemetry
// holds KISS's special bytes, the AX.25 header a software TNC puts in front (the
// simulator's), and a frame finder that keeps every frame it finds.

#include "Ax25Header.h"
#include "telemetry/BeaconFrame.h"
#include "telemetry/FrameFinder.h"

#include <algorithm>
#include <string>
#include <vector>

namespace kestrel::test {

// A beacon stamped `milliseconds` after start (flight time to match), with
// plausible battery figures.
inline std::string sampleBeacon(std::uint32_t milliseconds) {
    BeaconRecord r;
    r.setMilliseconds(milliseconds);
    r.setFlightTime(milliseconds / 1000);
    r.setVbat(6850);
    r.setIsys(200);
    return buildBeaconFrame(135, r);
}

// A beacon whose record holds 0xC0 (Bz = -6.0: 00 00 C0 C0) and 0xDB, and
// starts with FlightTime n so that beacons differ.
inline std::string escapedBeacon(std::uint32_t n) {
    BeaconRecord r;
    r.setFlightTime(n);
    r.setVbat(7100);
    r.setBz(-6.0f);
    r.setStatusByte(7, 0xDB);
    r.setFoto(2, 0xC0DB);
    return buildBeaconFrame(kTestFrameHeader, r);
}

using sim::ax25UiHeader;

// A frame finder fed by hand that keeps every frame it finds.
class CollectingHost {
public:
    FrameFinder finder;
    std::vector<RawFrame> frames;

    void feed(std::string_view bytes) {
        for (char c : bytes)
            if (const FoundFrame* f = finder.aRXBufferAnalyse2Execute(static_cast<std::uint8_t>(c)))
                frames.push_back(f->raw);
    }
};

// What a found beacon's RawFrameFile holds: its 131 bytes and a zero.
inline RawFrame rawFrameOf(const std::string& beacon) {
    RawFrame raw{};
    std::copy(beacon.begin(), beacon.end(), raw.begin());
    return raw;
}

}  // namespace kestrel::test
