#pragma once
// The test beacon generator's core: the program's pseudo-random sequence and
// the synthetic TestRecord/TestFrame it sends out of the port. No clock is read
// here; the caller passes the millisecond tick count, so runs are repeatable.

#include "telemetry/BeaconFrame.h"

#include <cstdint>
#include <string>

namespace kestrel {

// 32-bit linear congruential sequence. It starts at state 0 and is never seeded
// from anything, so every run of the program draws the same values.
class RandomSequence {
public:
    explicit RandomSequence(uint32_t state = 0) : State(state) {}

    // An integer from 0 to n - 1 (0 for n = 0 or 1); every call advances the
    // sequence, Random(1) included.
    uint32_t Random(uint32_t n);

    uint32_t State;
};

// Round to nearest with halves to the even neighbour, as the record's integer
// fields are filled (-29.5 -> -30, -28.5 -> -28, 2.5 -> 2).
double roundHalfEven(double v);

// The generator state the main window holds: all zero until the first fill.
class TestGenerator {
public:
    // Fills the TestRecord and the header value from the tick count and 22
    // draws of the sequence (aInit).
    void Init(uint32_t tickCountMs);
    // Builds the 131-byte TestFrame from them (aFillBuffer).
    void FillBuffer();
    // One byte of the random-byte stream: 0 to 254, never 255.
    uint8_t RandomByte() { return static_cast<uint8_t>(Rng.Random(255)); }

    RandomSequence Rng;
    BeaconRecord TestRecord;
    uint16_t HeaderValue = 0;
    std::string TestFrame;
};

}  // namespace kestrel
