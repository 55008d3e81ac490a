// Arbitrary bytes from a TNC in KISS mode on a serial line, as the receive
// path takes them: one byte at a time into the KISS de-framer, each data frame
// of port 0 into the frame finder and the decoder. Beyond the sanitizers it
// checks the frames handed on are bounded and counted, come back the same when
// sent again in KISS, and are the same when the bytes come in one piece.

#include "kiss/KissDeframer.h"
#include "telemetry/Decoder.h"
#include "telemetry/FrameFinder.h"
#include "support/Fixtures.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace kestrel;

void check(bool ok) {
    if (!ok)
        std::abort();
}

// Beacons go nowhere but through the decoder: the archive's own reading is
// fuzzed by the frame finder's target.
struct Beacons {
    test::FixedClock clock;
    Decoder decoder{clock};
    FrameFinder finder;
    void analyse(std::uint8_t b) {
        if (const FoundFrame* f = finder.aRXBufferAnalyse2Execute(b))
            decoder.aDecodeTelemetry1Execute(f->record, clock.utc);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    KissDeframer deframer;
    Beacons beacons;
    std::vector<std::string> frames;
    for (std::uint8_t b : bytes) {
        if (!deframer.Push(b))
            continue;
        const std::string frame(deframer.Frame());
        check(frame.size() <= kKissMaxFrameContents);
        frames.push_back(frame);
        for (char c : frame) {
            beacons.analyse(static_cast<std::uint8_t>(c));
            check(beacons.finder.ReceiveBufferLength() < FrameFinder::kTrimLimit);
        }
    }
    deframer.Finish();
    const KissCounters& k = deframer.Counters();
    check(k.frames == frames.size());
    check(k.skippedBytes <= size);

    // Sent again in KISS, every frame comes back as it was, and nothing else.
    std::string again;
    for (const auto& f : frames)
        again += EncodeKissDataFrame(f);
    KissDeframer second;
    std::vector<std::string> back;
    second.Feed(again, [&](std::string_view f) { back.emplace_back(f); });
    check(back == frames && second.Counters().damaged() == 0);

    // Bytes in one piece are de-framed as bytes one by one.
    KissDeframer whole;
    std::vector<std::string> fed;
    whole.Feed(bytes, [&](std::string_view f) { fed.emplace_back(f); });
    check(fed == frames);
    (void)LooksLikeKissStream(bytes);
    return 0;
}
