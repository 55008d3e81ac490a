#include "telemetry/Generator.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace kestrel {

uint32_t RandomSequence::Random(uint32_t n) {
    State = State * 134775813u + 1u;  // wraps modulo 2^32
    return static_cast<uint32_t>((static_cast<uint64_t>(State) * n) >> 32);
}

double roundHalfEven(double v) {
    double r = std::round(v);  // halves away from zero
    if (std::fabs(v - std::trunc(v)) == 0.5) r = 2.0 * std::round(v / 2.0);
    return r;
}

namespace {

template <typename T>
void putLE(std::array<uint8_t, kTestRecordSize>& rec, std::size_t offset, T value) {
    using U = std::conditional_t<sizeof(T) == 8, uint64_t,
              std::conditional_t<sizeof(T) == 4, uint32_t,
              std::conditional_t<sizeof(T) == 2, uint16_t, uint8_t>>>;
    U bits = std::bit_cast<U>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) rec[offset + i] = static_cast<uint8_t>(bits >> (8 * i));
}

}  // namespace

void TestGenerator::Init(uint32_t tickCountMs) {
    HeaderValue = kTestHeaderValue;
    StartText = "Bb";
    MarkerText = " NORTHERN SKY BEACON ";

    auto& r = TestRecord;
    putLE<uint32_t>(r, 4, tickCountMs);
    putLE<uint32_t>(r, 0, static_cast<uint32_t>(roundHalfEven(tickCountMs / 1000.0)));

    // The order of the draws below is part of the sequence every run repeats.
    putLE<uint16_t>(r, 16, static_cast<uint16_t>(6500 + Rng.Random(600)));
    putLE<uint16_t>(r, 18, static_cast<uint16_t>(1000 + Rng.Random(10)));
    putLE<uint16_t>(r, 20, static_cast<uint16_t>(200 + Rng.Random(1)));
    for (std::size_t off : {22, 24, 26}) putLE<uint16_t>(r, off, static_cast<uint16_t>(Rng.Random(400)));
    r[28] = 3;
    for (std::size_t off : {29, 33, 37})
        putLE<float>(r, off, static_cast<float>(50.0 - Rng.Random(1000) / 10.0));
    putLE<double>(r, 41, Rng.Random(1) + (-23.9333));
    putLE<double>(r, 49, Rng.Random(1) + 54.9);
    putLE<double>(r, 57, 400000.0 + Rng.Random(100));
    putLE<double>(r, 65, 1000.0 + Rng.Random(10));
    putLE<uint16_t>(r, 73, 0xBFCF);
    putLE<int16_t>(r, 75, static_cast<int16_t>(Rng.Random(10) + 14));
    putLE<int16_t>(r, 79, static_cast<int16_t>(roundHalfEven(Rng.Random(100) / 10.0 - 30)));  // ToutMin draws first
    putLE<int16_t>(r, 77, static_cast<int16_t>(roundHalfEven(Rng.Random(100) / 10.0 - 30)));
    putLE<int32_t>(r, 81, 12);
    r[85] = 1;
    r[86] = 1;
    r[87] = 1;
    r[88] = 0;
    r[89] = 1;
    r[90] = 0;
    putLE<uint16_t>(r, 91, 0);
    r[93] = 0;
    for (std::size_t i = 0; i < 6; ++i) putLE<uint16_t>(r, 94 + 2 * i, static_cast<uint16_t>(Rng.Random(1000)));
}

void TestGenerator::FillBuffer() {
    TestFrame.clear();
    TestFrame += StartText;
    TestFrame += static_cast<char>(HeaderValue & 0xFF);
    TestFrame += static_cast<char>(HeaderValue >> 8);
    TestFrame.append(reinterpret_cast<const char*>(TestRecord.data()), TestRecord.size());
    TestFrame += MarkerText;
}

}  // namespace kestrel
