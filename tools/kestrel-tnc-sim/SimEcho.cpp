// What the decoder sends back to the simulator, shown as text and hex, with any
// beacon in it found and decoded.

#include "SimEcho.h"

#include "telemetry/Clock.h"
#include "telemetry/Decoder.h"

#include <cstdio>

namespace kestrel::sim {

std::string describeReceived(std::string_view bytes) {
    std::string text = "\"";
    std::string hex;
    char buf[8];
    for (unsigned char c : bytes) {
        switch (c) {
        case '\r': text += "\\r"; break;
        case '\n': text += "\\n"; break;
        case '\t': text += "\\t"; break;
        case '\\': text += "\\\\"; break;
        case '"': text += "\\\""; break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                text += static_cast<char>(c);
            } else {
                std::snprintf(buf, sizeof buf, "\\x%02X", c);
                text += buf;
            }
        }
        std::snprintf(buf, sizeof buf, hex.empty() ? "%02X" : " %02X", c);
        hex += buf;
    }
    return text + "\"  [" + hex + "]";
}

void EchoDecoder::feed(std::string_view bytes) {
    for (unsigned char c : bytes) {
        const FoundFrame* frame = finder_.aRXBufferAnalyse2Execute(c);
        if (!frame)
            continue;
        ++count_;
        if (found_)
            found_(decodedInfoLines(frame->record, count_, systemClock().localNow()));
    }
}

}  // namespace kestrel::sim
