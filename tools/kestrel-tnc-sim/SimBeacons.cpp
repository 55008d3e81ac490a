// The simulator's traffic: beacons with varying telemetry, noise and damage
// between and inside them, and the KISS wrapping a software TNC adds.

#include "SimBeacons.h"
#include "Ax25Header.h"

#include "kiss/KissDeframer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrel::sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kOrbitSeconds = 5520;  // about 92 minutes at 400 km
constexpr double kSpinSeconds = 40;     // one turn of the slow tumble
constexpr double kInclinationDeg = 51.6;

template <typename T>
T clampTo(double v) {
    return static_cast<T>(std::clamp(std::lround(v), static_cast<long>(std::numeric_limits<T>::min()),
                                     static_cast<long>(std::numeric_limits<T>::max())));
}

}  // namespace

BeaconSource::BeaconSource(const BeaconOptions& options) : options_(options), rng_(options.seed) {}

BeaconRecord BeaconSource::record(double t) {
    BeaconRecord r;
    const double flight = options_.startFlightTime + t;
    const double phase = 2 * kPi * std::fmod(flight, kOrbitSeconds) / kOrbitSeconds;
    // Sunlit for about 60 % of the orbit; the sun's strength on the panels
    // follows the spin.
    const double sunElevation = std::sin(phase);
    const bool sunlit = sunElevation > -0.3;
    const double spin = 2 * kPi * std::fmod(flight, kSpinSeconds) / kSpinSeconds;
    auto jitter = [this](int spread) { return static_cast<int>(draw(2 * spread + 1)) - spread; };

    r.setFlightTime(static_cast<uint32_t>(flight));
    r.setMilliseconds(static_cast<uint32_t>(std::fmod(flight * 1000.0, 4294967296.0)));
    if (draw(20) == 0)
        r.setStatusByte(draw(8), static_cast<uint8_t>(1 + draw(255)));

    const double charge = sunlit ? 0.5 + 0.5 * sunElevation : 0.2;
    r.setVbat(clampTo<uint16_t>(6900 + 300 * charge + jitter(15)));
    double panel[3];
    for (int i = 0; i < 3; ++i) {
        double s = std::cos(spin + i * 2 * kPi / 3);
        panel[i] = sunlit ? std::max(0.0, s) * (0.4 + 0.6 * std::clamp(sunElevation + 0.3, 0.0, 1.0)) : 0.0;
        r.setIsun(i, clampTo<uint16_t>(380 * panel[i] + (panel[i] > 0 ? jitter(5) : 0)));
    }
    r.setIin(clampTo<uint16_t>((panel[0] + panel[1] + panel[2]) * 360 + jitter(4)));
    r.setIsys(clampTo<uint16_t>(205 + jitter(12)));
    r.setU8(RecordOffset::Spare28, 3);

    // Field of roughly 25 to 45 microtesla, turning with the spin.
    const double field = 35 + 10 * std::cos(2 * phase);
    r.setBx(static_cast<float>(std::round(10 * field * std::cos(spin)) / 10 + jitter(3) / 10.0));
    r.setBy(static_cast<float>(std::round(10 * field * std::sin(spin)) / 10 + jitter(3) / 10.0));
    r.setBz(static_cast<float>(std::round(10 * 20 * std::sin(phase)) / 10 + jitter(3) / 10.0));

    // A circular orbit under a turning earth.
    const double lat = kInclinationDeg * std::sin(phase);
    double lon = std::fmod(
        -23.9333 + std::atan2(std::cos(kInclinationDeg * kPi / 180) * std::sin(phase), std::cos(phase)) * 180 / kPi -
            flight * 360.0 / 86164.0,
        360.0);
    if (lon > 180)
        lon -= 360;
    if (lon < -180)
        lon += 360;
    r.setLatitude(lat);
    r.setLongitude(lon);
    r.setAltitude(400000 + 1500 * std::sin(phase + 1) + draw(50));
    r.setVelocity(7660 + 8 * std::cos(phase + 1) + draw(3));
    r.setGpsOn(draw(10) < 8 ? 1 : 0);

    const double warmth = sunlit ? 1.0 : 0.0;
    const double tcpu = 18 + 10 * warmth + jitter(2);
    r.setTcpuRaw(clampTo<int16_t>((tcpu - 36.53) * 340));
    r.setTpsu(clampTo<int16_t>(15 + 8 * warmth + jitter(1)));
    const int toutMin = static_cast<int>(std::lround(-25 + 40 * warmth * (0.5 + 0.5 * sunElevation))) + jitter(2);
    r.setToutMin(static_cast<int16_t>(toutMin));
    r.setToutMax(static_cast<int16_t>(toutMin + 3 + static_cast<int>(draw(6))));
    r.setBoots(12);
    r.setLastBootCause(1);
    r.setU8(RecordOffset::Spare86, 1);
    r.setU8(RecordOffset::Spare86 + 1, 1);
    r.setU8(RecordOffset::Spare86 + 2, 0);
    r.setU8(RecordOffset::Spare86 + 3, 1);

    // The transponder runs over the second half of each orbit.
    const bool transponder = phase > kPi;
    r.setTransponderOn(transponder ? 1 : 0);
    r.setTransponderTime(transponder ? static_cast<uint16_t>((phase - kPi) / (2 * kPi) * kOrbitSeconds) : 0);
    for (int i = 0; i < 6; ++i) {
        double s = std::cos(spin + i * kPi / 3);
        r.setFoto(i, clampTo<uint16_t>(sunlit ? std::max(0.0, s) * 3800 + draw(40) : draw(8)));
    }
    return r;
}

BeaconSource::Transmission BeaconSource::nextTransmission(double t) {
    Transmission tx;
    tx.record = record(t);
    if (options_.escapeBytes && sent_ % 2 == 1) {
        tx.record.setBz(-6.0f);
        tx.record.setStatusByte(7, 0xDB);
    }
    ++sent_;
    std::string& out = tx.bytes;
    out = buildBeaconFrame(kTestFrameHeader, tx.record);
    tx.damaged = options_.damagePercent > 0 && draw(100) < options_.damagePercent;
    if (tx.damaged) {
        // Somewhere between the start bytes and the marker a byte goes missing
        // or an extra one slips in.
        std::size_t at = kFrameHeaderOffset + draw(kFrameMarkerOffset - kFrameHeaderOffset);
        if (draw(2) == 0)
            out.erase(at, 1);
        else
            out.insert(at, 1, static_cast<char>(draw(256)));
    }
    for (uint32_t n = options_.noiseBytes ? draw(options_.noiseBytes + 1) : 0; n > 0; --n)
        out += static_cast<char>(draw(256));
    return tx;
}

std::string KissWrapper::wrap(const std::string& packet) {
    const std::string info = ax25UiHeader() + packet;
    std::string out;
    if (otherPorts_ && rng_.Random(2) == 0) {
        // The same packet heard on another port.
        std::string other = EncodeKissDataFrame(info);
        other[1] = static_cast<char>((1 + rng_.Random(15)) << 4);
        out += other;
    }
    if (otherPorts_ && rng_.Random(3) == 0) {
        // TXDELAY, PERSIST or SLOTTIME for some port.
        out += static_cast<char>(kKissFend);
        out += static_cast<char>((rng_.Random(16) << 4) | (1 + rng_.Random(3)));
        out += static_cast<char>(rng_.Random(0xC0));  // needs no escape
        out += static_cast<char>(kKissFend);
    }
    out += EncodeKissDataFrame(info);
    // Garbage between frames, after a frame so that the stream still starts
    // with a FEND as a TNC's does.
    if (otherPorts_ && rng_.Random(2) == 0)
        for (uint32_t n = 1 + rng_.Random(24); n > 0; --n)
            out += static_cast<char>(rng_.Random(256));
    return out;
}

}  // namespace kestrel::sim
