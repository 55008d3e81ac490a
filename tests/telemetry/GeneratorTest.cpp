// The generator's values are recomputed here from its definition (hand-worked
// draws of the 32-bit LCG), never taken from the code under test.
#include "telemetry/Generator.h"

#include "support/ExpectedBeacon.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

using kestrel::RandomSequence;
using kestrel::TestGenerator;

namespace {

constexpr uint32_t kMul = 134775813u;

// Inverse of the LCG multiplier modulo 2^32 (Newton iteration on an odd number).
uint32_t inverseMul() {
    uint32_t x = kMul;
    for (int i = 0; i < 5; ++i)
        x *= 2u - kMul * x;
    return x;
}

// A state from which the k-th next draw of Random(n) yields d.
uint32_t stateYieldingAtDraw(int k, uint32_t n, uint32_t d) {
    uint64_t lo = ((static_cast<uint64_t>(d) << 32) + n - 1) / n;  // smallest s with s*n>>32 == d
    uint32_t s = static_cast<uint32_t>(lo);
    const uint32_t inv = inverseMul();
    for (int i = 0; i < k; ++i)
        s = (s - 1u) * inv;
    return s;
}

template <typename T>
T readLE(const std::string& bytes, std::size_t offset) {
    T v;
    std::memcpy(&v, bytes.data() + offset, sizeof v);  // test host is little-endian
    return v;
}

std::string recordOf(const TestGenerator& g) {
    return std::string(reinterpret_cast<const char*>(g.TestRecord.bytes().data()), g.TestRecord.bytes().size());
}

// 22 draws per record: Vbat, Iin, Isys, 3 Isun, 3 B, Long, Lat, Alt, Vel, Tpsu,
// ToutMin, ToutMax, 6 Foto.
constexpr int kToutMinDraw = 15;
constexpr int kBxDraw = 7;

}  // namespace

TEST(RandomSequence, StartsAtZeroAndFollowsTheLcg) {
    RandomSequence r;
    // state 1, then 134775814, ...: worked by hand from state*134775813+1.
    EXPECT_EQ(r.Random(600), 0u);
    EXPECT_EQ(r.State, 1u);
    EXPECT_EQ(r.Random(10), 0u);
    EXPECT_EQ(r.State, 134775814u);
    const std::vector<uint32_t> rest = {0, 81, 109, 268, 318, 161, 372};
    const std::vector<uint32_t> ns = {1, 400, 400, 400, 1000, 1000, 1000};
    for (std::size_t i = 0; i < ns.size(); ++i)
        EXPECT_EQ(r.Random(ns[i]), rest[i]) << "draw " << i + 3;
}

TEST(RandomSequence, RandomOfOneIsZeroButStillAdvances) {
    RandomSequence a, b;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(a.Random(1), 0u);
        b.Random(1000);
    }
    EXPECT_EQ(a.State, b.State);
    EXPECT_NE(a.State, 0u);
}

TEST(RandomSequence, StreamTicksDrawARecordThenAByte) {
    TestGenerator g;
    for (std::size_t k = 0; k < 300; ++k) {
        g.Init(0);
        const uint8_t b = g.RandomByte();
        if (k < kestrel::expected::kFirstStreamBytes.size()) {
            EXPECT_EQ(b, kestrel::expected::kFirstStreamBytes[k]);
        }
        EXPECT_EQ(b, kestrel::expected::streamByte(k)) << k;
    }
}

TEST(RandomSequence, RandomByteNeverYields255) {
    TestGenerator g;
    std::set<int> seen;
    for (int i = 0; i < 200000; ++i)
        seen.insert(g.RandomByte());
    EXPECT_EQ(seen.size(), 255u);
    EXPECT_EQ(*seen.rbegin(), 254);
    EXPECT_EQ(*seen.begin(), 0);
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(kestrel::roundHalfEven(-29.5), -30.0);
    EXPECT_EQ(kestrel::roundHalfEven(-28.5), -28.0);
    EXPECT_EQ(kestrel::roundHalfEven(2.5), 2.0);
    EXPECT_EQ(kestrel::roundHalfEven(1.5), 2.0);
    EXPECT_EQ(kestrel::roundHalfEven(0.5), 0.0);
    EXPECT_EQ(kestrel::roundHalfEven(-20.1), -20.0);
    EXPECT_EQ(kestrel::roundHalfEven(1.4999), 1.0);
}

TEST(TestGenerator, FlightTimeIsTheTickCountInWholeSecondsToNearest) {
    struct Case {
        uint32_t tick, seconds;
    };
    for (auto c : {Case{1500, 2}, Case{2500, 2}, Case{500, 0}, Case{1499, 1}, Case{3500, 4}, Case{0, 0},
                   Case{4294967295u, 4294967}}) {
        TestGenerator g;
        g.Init(c.tick);
        const std::string rec = recordOf(g);
        EXPECT_EQ(readLE<uint32_t>(rec, 0), c.seconds) << c.tick;
        EXPECT_EQ(readLE<uint32_t>(rec, 4), c.tick);
    }
}

TEST(TestGenerator, OuterTemperaturesFromGivenDraws) {
    struct Case {
        uint32_t draw;
        int16_t value;
    };
    for (auto c : {Case{5, -30}, Case{15, -28}, Case{25, -28}, Case{95, -20}, Case{99, -20}, Case{0, -30}}) {
        TestGenerator g;
        g.Rng.State = stateYieldingAtDraw(kToutMinDraw, 100, c.draw);
        g.Init(0);
        EXPECT_EQ(readLE<int16_t>(recordOf(g), 79), c.value) << "ToutMin from draw " << c.draw;

        // ToutMax takes the next draw with the same formula.
        TestGenerator h;
        h.Rng.State = stateYieldingAtDraw(kToutMinDraw + 1, 100, c.draw);
        h.Init(0);
        EXPECT_EQ(readLE<int16_t>(recordOf(h), 77), c.value) << "ToutMax from draw " << c.draw;
    }
}

TEST(TestGenerator, MagneticFieldSpansFiftyDownToMinus49_9) {
    for (auto [draw, value] : {std::pair{0u, 50.0f}, std::pair{999u, -49.9f}, std::pair{500u, 0.0f}}) {
        TestGenerator g;
        g.Rng.State = stateYieldingAtDraw(kBxDraw, 1000, draw);
        g.Init(0);
        EXPECT_EQ(readLE<float>(recordOf(g), 29), value) << draw;
    }
}

TEST(TestGenerator, FirstFrameAfterStartUpIsTheKnownBeacon) {
    TestGenerator g;
    g.Init(123456);
    g.FillBuffer();

    const std::string e = kestrel::expected::firstBeacon(123456);
    ASSERT_EQ(e.size(), 131u);
    EXPECT_EQ(g.TestFrame, e);
    EXPECT_EQ(g.HeaderValue, 135);
}

TEST(TestGenerator, EachFillDrawsAFreshRecord) {
    TestGenerator g;
    g.Init(1000);
    g.FillBuffer();
    const std::string first = g.TestFrame;
    g.Init(1010);
    g.FillBuffer();
    EXPECT_NE(g.TestFrame, first);
    EXPECT_EQ(readLE<uint16_t>(g.TestFrame, 20), 6930);  // second record: Vbat = 6500 + 430
    EXPECT_EQ(readLE<uint32_t>(g.TestFrame, 4), 1u);     // FlightTime may repeat within a second
    EXPECT_EQ(g.TestFrame.size(), 131u);
}
