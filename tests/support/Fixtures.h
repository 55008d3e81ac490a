#pragma once
// Fixtures that suites share: a settable clock, the record of the archive's
// worked example, a settings file for a port.

#include "telemetry/BeaconFrame.h"
#include "telemetry/Clock.h"
#include "telemetry/TimeIndex.h"

#include <string>

namespace kestrel::test {

class FixedClock : public IClock {
public:
    SystemTime utc{2024, 3, 2, 5, 14, 15, 7, 250};
    SystemTime local{2024, 3, 2, 5, 15, 15, 7, 250};
    std::uint32_t ticks = 0;
    std::uint32_t ticksPerRead = 0;  // time passing as the code looks at it
    int utcReads = 0;

    SystemTime utcNow() override {
        ++utcReads;
        return utc;
    }
    SystemTime localNow() override { return local; }
    // As far from UTC as local is from utc.
    SystemTime localTime(const SystemTime& u) override {
        return utcFromMilliseconds(utcMilliseconds(u) + utcMilliseconds(local) - utcMilliseconds(utc));
    }
    std::uint32_t tickCount() override { return ticks += ticksPerRead; }
};

// The record of the archive's worked example.
inline BeaconRecord exampleRecord() {
    BeaconRecord r;
    r.setFlightTime(86400);
    r.setVbat(6850);
    r.setIin(95);
    r.setIsys(200);
    r.setBx(12.5f);
    r.setBy(-3.0f);
    r.setBz(0.0f);
    r.setLatitude(54.9);
    r.setLongitude(23.9333);
    r.setAltitude(400050.0);
    r.setVelocity(1005.0);
    r.setGpsOn(1);
    r.setTcpuRaw(-2000);
    r.setTpsu(18);
    r.setToutMin(-25);
    r.setToutMax(-21);
    r.setTransponderTime(0);
    r.setTransponderOn(0);
    const std::uint16_t isun[] = {120, 0, 385};
    for (std::size_t i = 0; i < 3; ++i)
        r.setIsun(i, isun[i]);
    const std::uint16_t foto[] = {1, 22, 333, 4000, 555, 6};
    for (std::size_t i = 0; i < 6; ++i)
        r.setFoto(i, foto[i]);
    const std::uint8_t status[] = {0x01, 0x00, 0x0A, 0xFF, 0x00, 0x00, 0x10, 0x80};
    for (std::size_t i = 0; i < 8; ++i)
        r.setStatusByte(i, status[i]);
    return r;
}

inline std::string SettingsFor(const std::string& port) {
    return "[CPort]\r\nPort=" + port +
           "\r\nBaudRate=9600\r\nStopBits=1\r\nDataBits=8\r\nParity=None\r\nFlowControl=None\r\n";
}

}  // namespace kestrel::test
