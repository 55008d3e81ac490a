#pragma once
// What the decoder sends back to the simulated TNC: shown as text and hex, and
// any beacon in it (the decoder's Ctrl+T) found and decoded by the program's
// own frame finder and decoder.

#include "telemetry/FrameFinder.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::sim {

// One line for a chunk of received bytes: the text with control characters
// escaped (\r, \n, \t, \xNN), then the bytes in hex.
std::string describeReceived(std::string_view bytes);

class EchoDecoder {
public:
    // found is called with the decoded lines of every beacon in the stream.
    using FoundBeacon = std::function<void(const std::vector<std::string>& lines)>;
    explicit EchoDecoder(FoundBeacon found) : found_(std::move(found)) {}

    void feed(std::string_view bytes);
    uint32_t beaconsFound() const { return count_; }

private:
    FoundBeacon found_;
    FrameFinder finder_;
    uint32_t count_ = 0;
};

}  // namespace kestrel::sim
