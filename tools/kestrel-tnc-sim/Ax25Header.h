#pragma once
// The AX.25 UI header a software TNC puts in front of the beacon: shared by
// the simulator's KISS modes and the tests that build KISS traffic themselves.

#include <string>

namespace kestrel::sim {

// Destination KR7, source KESTRL, UI frame, no layer 3: 16 bytes. Callsigns
// shifted left one bit, blank-padded to six, then the SSID byte; the source's
// has the last-address bit set.
inline std::string ax25UiHeader() {
    std::string h;
    for (char c : std::string("KR7   "))
        h.push_back(static_cast<char>(c << 1));
    h.push_back(static_cast<char>(0xE0));
    for (char c : std::string("KESTRL"))
        h.push_back(static_cast<char>(c << 1));
    h.push_back(static_cast<char>(0x61));
    h += "\x03\xF0";
    return h;
}

}  // namespace kestrel::sim
