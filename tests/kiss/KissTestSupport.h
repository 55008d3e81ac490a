#pragma once
// Shared pieces of the KISS tests: beacons whose telemetry holds FEND and
// FESC bytes, the AX.25 header a software TNC puts in front, and a frame
// finder that keeps every frame it finds.

#include "telemetry/BeaconFrame.h"
#include "telemetry/FrameFinder.h"

#include <string>
#include <vector>

namespace kestrel::test {

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

// Destination, source (the last address bit set), UI control and no-layer-3
// PID: what a TNC delivers in front of the information field.
inline std::string ax25Header() {
    std::string h;
    for (char c : std::string("KR7   ")) h.push_back(static_cast<char>(c << 1));
    h.push_back(static_cast<char>(0xE0));
    for (char c : std::string("KESTRL")) h.push_back(static_cast<char>(c << 1));
    h.push_back(static_cast<char>(0x61));
    h += "\x03\xF0";
    return h;
}

class CollectingHost : public IFrameFinderHost {
public:
    FrameFinder finder{*this};
    std::vector<RawFrame> frames;

    void setReceiveStatus(std::string_view) override {}
    void writeRawByte(std::uint8_t) override {}
    void decodeFrame() override { frames.push_back(finder.RawFrameCopy()); }

    void feed(std::string_view bytes) {
        for (char c : bytes) finder.aRXBufferAnalyse2Execute(static_cast<std::uint8_t>(c));
    }
};

// What a found beacon's RawFrameFile holds: its 131 bytes and a zero.
inline RawFrame rawFrameOf(const std::string& beacon) {
    RawFrame raw{};
    std::copy(beacon.begin(), beacon.end(), raw.begin());
    return raw;
}

}  // namespace kestrel::test
