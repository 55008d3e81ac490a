#pragma once
// The generator's first beacon and random bytes after start-up, worked out by
// hand from its definition (32-bit LCG from state 0, state*134775813+1, upper
// 32 bits of state*n). Shared by the core and the window tests; it never calls
// the code under test.

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::expected {

// The 131 bytes of the first Ctrl+T for a given tick count. Its 22 draws:
// 0 0 0 81 109 268 318 161 372 0 0 47 0 8 5 29 917 367 774 327 697 844.
inline std::string firstBeacon(uint32_t tickMs) {
    std::string e = "Bb";
    e += '\x87';
    e += '\0';
    auto put = [&e](const void* p, std::size_t n) { e.append(static_cast<const char*>(p), n); };
    auto u8 = [&](uint8_t v) { put(&v, 1); };
    auto u16 = [&](uint16_t v) { put(&v, 2); };
    auto u32 = [&](uint32_t v) { put(&v, 4); };
    auto f32 = [&](float v) { put(&v, 4); };
    auto f64 = [&](double v) { put(&v, 8); };
    // Whole seconds to nearest, halves to even.
    uint32_t secs = tickMs / 1000, rest = tickMs % 1000;
    if (rest > 500 || (rest == 500 && secs % 2 == 1))
        ++secs;
    u32(secs);
    u32(tickMs);
    for (int i = 0; i < 8; ++i)
        u8(0);
    u16(6500);
    u16(1000);
    u16(200);
    u16(81);
    u16(109);
    u16(268);
    u8(3);
    f32(static_cast<float>(50 - 31.8));
    f32(static_cast<float>(50 - 16.1));
    f32(static_cast<float>(50 - 37.2));
    f64(-23.9333);
    f64(54.9);
    f64(400047);
    f64(1000);
    u16(0xBFCF);
    u16(22);                          // Tpsu 8 + 14
    u16(static_cast<uint16_t>(-27));  // ToutMax: 2.9 - 30
    u16(static_cast<uint16_t>(-30));  // ToutMin: 0.5 - 30, half to even
    u32(12);
    u8(1);
    u8(1);
    u8(1);
    u8(0);
    u8(1);
    u8(0);
    u16(0);
    u8(0);
    for (uint16_t f : {917, 367, 774, 327, 697, 844})
        u16(f);
    e += " NORTHERN SKY BEACON ";
    return e;
}

// The random-byte stream from start-up: each tick refreshes the record (22
// draws), then draws Random(255).
inline const std::vector<uint8_t> kFirstStreamBytes = {183, 2, 86, 40, 208, 184, 40, 124, 160, 208, 68, 180};

}  // namespace kestrel::expected

namespace kestrel::expected {

// The k-th byte (from 0) of the random-byte stream, recomputed with a plain
// LCG of its own: each tick takes 22 draws for the record, then Random(255).
inline uint8_t streamByte(std::size_t k) {
    uint32_t state = 0;
    auto draw = [&state](uint32_t n) {
        state = state * 134775813u + 1u;
        return static_cast<uint32_t>((static_cast<uint64_t>(state) * n) >> 32);
    };
    uint32_t b = 0;
    for (std::size_t tick = 0; tick <= k; ++tick) {
        for (int i = 0; i < 22; ++i)
            draw(1);  // the range does not change how the state moves
        b = draw(255);
    }
    return static_cast<uint8_t>(b);
}

}  // namespace kestrel::expected
