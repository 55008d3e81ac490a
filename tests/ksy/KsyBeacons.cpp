// Beacons for the check of the SatNOGS DB decoder (packaging/satnogs/kestrel.ksy):
// the ground test generator's, with edge values mixed in, alternately in the
// two forms stations forward (the plain frame; a KISS TNC's AX.25 UI frame, some
// with a digipeater), written as a SatNOGS DB export, one second apart.
//
//   ksy_beacons COUNT FILE

#include "Ax25Header.h"
#include "share/SidsForm.h"
#include "telemetry/BeaconFrame.h"
#include "telemetry/Generator.h"
#include "telemetry/TextFormat.h"
#include "telemetry/TimeIndex.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <string>

using namespace kestrel;

namespace {

const std::int64_t kStart = utcMilliseconds(SystemTime{2026, 12, 0, 9, 9, 0, 0, 0});

// A UI frame's header with one digipeater: the source's last-address bit moves
// to the repeater's address.
std::string withDigipeater(std::string header) {
    header[13] = static_cast<char>(header[13] & ~1);
    std::string repeater;
    for (char c : std::string("WIDE1 "))
        repeater.push_back(static_cast<char>(c << 1));
    repeater.push_back(static_cast<char>(0x60 | (1 << 1) | 1));  // SSID 1, last address
    return header.insert(14, repeater);
}

void setFloats(BeaconRecord& r, float f, double d) {
    r.setBx(f);
    r.setBy(f);
    r.setBz(f);
    r.setLatitude(d);
    r.setLongitude(d);
    r.setAltitude(d);
    r.setVelocity(d);
}

// Edge values, one set per beacon in turn; the rest keep the generator's.
void edges(BeaconRecord& r, unsigned set) {
    constexpr float kInfF = std::numeric_limits<float>::infinity();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    switch (set) {
    case 0:  // every counter and unsigned value at its largest
        r.setFlightTime(0xFFFFFFFFu);
        r.setVbat(65535);
        r.setIin(65535);
        r.setIsys(65535);
        for (std::size_t i = 0; i < kIsunCount; ++i)
            r.setIsun(i, 65535);
        for (std::size_t i = 0; i < kFotoCount; ++i)
            r.setFoto(i, 65535);
        r.setBoots(std::numeric_limits<std::int32_t>::max());
        r.setLastBootCause(255);
        r.setTransponderTime(65535);
        for (std::size_t i = 0; i < kStatusByteCount; ++i)
            r.setStatusByte(i, 0xFF);
        r.setTcpuRaw(32767);
        r.setTpsu(32767);
        r.setToutMax(32767);
        r.setToutMin(32767);
        break;
    case 1:  // the signed ones at their smallest, temperatures below zero
        r.setTcpuRaw(-32768);
        r.setTpsu(-5);
        r.setToutMin(-32768);
        r.setToutMax(-1);
        r.setBoots(std::numeric_limits<std::int32_t>::min());
        r.setFlightTime(0);
        for (std::size_t i = 0; i < kStatusByteCount; ++i)  // 0x80 first, 0x01 last: each bit once
            r.setStatusByte(i, static_cast<std::uint8_t>(0x80 >> i));
        break;
    case 2:  // GPS on, with a position; transponder on
        r.setGpsOn(1);
        r.setTransponderOn(1);
        r.setLatitude(-33.865143);
        r.setLongitude(151.2099);
        r.setAltitude(412345.678);
        r.setVelocity(7660.25);
        break;
    case 3:  // flags that are neither 0 nor 1 count as off
        r.setGpsOn(255);
        r.setTransponderOn(2);
        r.setBoots(-1);
        break;
    case 4:  // numbers that are no number, and zeros with a sign
        r.setBx(std::nanf(""));
        r.setBy(kInfF);
        r.setBz(-kInfF);
        r.setLatitude(-kInf);
        r.setLongitude(kInf);
        r.setAltitude(std::nan(""));
        r.setVelocity(-0.0);
        break;
    case 5:  // the extremes of the floats
        r.setBx(std::numeric_limits<float>::max());
        r.setBy(-std::numeric_limits<float>::denorm_min());
        r.setBz(-0.0f);
        r.setLatitude(std::numeric_limits<double>::denorm_min());
        r.setLongitude(-std::numeric_limits<double>::max());
        r.setAltitude(1e-300);
        r.setVelocity(123456789.123456789);
        break;
    case 6:  // no number in any float, one with the sign bit set
        setFloats(r, std::nanf(""), -std::nan(""));
        break;
    case 7: setFloats(r, kInfF, kInf); break;
    case 8: setFloats(r, -kInfF, -kInf); break;
    default:  // the generator's own values
        break;
    }
}

constexpr unsigned kEdgeSets = 12;  // 9 above, 3 of the generator's own

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: ksy_beacons COUNT FILE\n");
        return 2;
    }
    const long count = std::atol(argv[1]);
    std::ofstream out(argv[2], std::ios::binary);
    TestGenerator generator;
    const std::string header = sim::ax25UiHeader();
    const std::string digipeated = withDigipeater(header);
    for (long i = 0; i < count; ++i) {
        generator.Init(static_cast<std::uint32_t>(i * 997 + 13));
        BeaconRecord r = generator.TestRecord;
        edges(r, static_cast<unsigned>(i / 2 % kEdgeSets));  // each set in both forms
        r.setMilliseconds(static_cast<std::uint32_t>(i));    // no two beacons alike
        std::string frame = buildBeaconFrame(generator.HeaderValue, r);
        if (i % 2 == 1)
            frame = (i % 10 == 3 ? digipeated : header) + frame;
        // One second apart, as the export writes times (UTC, to the second).
        const SystemTime t = utcFromMilliseconds(kStart + i * 1000);
        const std::string stamp = formatDate(t) + " " + formatTime(t);
        out << stamp << "|" << HexUpper(frame) << "\n";
    }
    return out ? 0 : 1;
}
