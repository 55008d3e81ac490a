// The test beacon generator: the program's pseudo-random sequence, the
// synthetic record it refreshes and the frame and bytes it sends.

#include "telemetry/Generator.h"

#include <cmath>

namespace kestrel {

uint32_t RandomSequence::Random(uint32_t n) {
    State = State * 134775813u + 1u;  // wraps modulo 2^32
    return static_cast<uint32_t>((static_cast<uint64_t>(State) * n) >> 32);
}

double roundHalfEven(double v) {
    double r = std::round(v);  // halves away from zero
    if (std::fabs(v - std::trunc(v)) == 0.5)
        r = 2.0 * std::round(v / 2.0);
    return r;
}

void TestGenerator::Init(uint32_t tickCountMs) {
    HeaderValue = kTestFrameHeader;

    auto& r = TestRecord;
    r.setMilliseconds(tickCountMs);
    r.setFlightTime(static_cast<uint32_t>(roundHalfEven(tickCountMs / 1000.0)));

    // The order of the draws below is part of the sequence every run repeats.
    r.setVbat(static_cast<uint16_t>(6500 + Rng.Random(600)));
    r.setIin(static_cast<uint16_t>(1000 + Rng.Random(10)));
    r.setIsys(static_cast<uint16_t>(200 + Rng.Random(1)));
    for (std::size_t i = 0; i < kIsunCount; ++i)
        r.setIsun(i, static_cast<uint16_t>(Rng.Random(400)));
    r.setU8(RecordOffset::Spare28, 3);
    r.setBx(static_cast<float>(50.0 - Rng.Random(1000) / 10.0));
    r.setBy(static_cast<float>(50.0 - Rng.Random(1000) / 10.0));
    r.setBz(static_cast<float>(50.0 - Rng.Random(1000) / 10.0));
    r.setLongitude(Rng.Random(1) + (-23.9333));
    r.setLatitude(Rng.Random(1) + 54.9);
    r.setAltitude(400000.0 + Rng.Random(100));
    r.setVelocity(1000.0 + Rng.Random(10));
    r.setTcpuRaw(static_cast<int16_t>(0xBFCF));
    r.setTpsu(static_cast<int16_t>(Rng.Random(10) + 14));
    r.setToutMin(static_cast<int16_t>(roundHalfEven(Rng.Random(100) / 10.0 - 30)));  // draws before ToutMax
    r.setToutMax(static_cast<int16_t>(roundHalfEven(Rng.Random(100) / 10.0 - 30)));
    r.setBoots(12);
    r.setLastBootCause(1);
    const uint8_t spare[4] = {1, 1, 0, 1};
    for (std::size_t i = 0; i < 4; ++i)
        r.setU8(RecordOffset::Spare86 + i, spare[i]);
    r.setGpsOn(0);
    r.setTransponderTime(0);
    r.setTransponderOn(0);
    for (std::size_t i = 0; i < kFotoCount; ++i)
        r.setFoto(i, static_cast<uint16_t>(Rng.Random(1000)));
}

void TestGenerator::FillBuffer() { TestFrame = buildBeaconFrame(HeaderValue, TestRecord); }

}  // namespace kestrel
