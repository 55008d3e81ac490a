#pragma once
// Shared fixtures of the telemetry tests: a settable clock, the worked-example
// record and a scratch directory.

#include "telemetry/BeaconFrame.h"
#include "telemetry/Clock.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace kestrel::test {

class FixedClock : public IClock {
public:
    SystemTime utc{2024, 3, 2, 5, 14, 15, 7, 250};
    SystemTime local{2024, 3, 2, 5, 15, 15, 7, 250};
    std::uint32_t ticks = 0;
    int utcReads = 0;

    SystemTime utcNow() override {
        ++utcReads;
        return utc;
    }
    SystemTime localNow() override { return local; }
    std::uint32_t tickCount() override { return ticks; }
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
    for (std::size_t i = 0; i < 3; ++i) r.setIsun(i, isun[i]);
    const std::uint16_t foto[] = {1, 22, 333, 4000, 555, 6};
    for (std::size_t i = 0; i < 6; ++i) r.setFoto(i, foto[i]);
    const std::uint8_t status[] = {0x01, 0x00, 0x0A, 0xFF, 0x00, 0x00, 0x10, 0x80};
    for (std::size_t i = 0; i < 8; ++i) r.setStatusByte(i, status[i]);
    return r;
}

// A fresh directory below the system's temporary folder, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() / ("kestrel-test-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace kestrel::test
