// Arbitrary bytes from a software TNC's KISS port over TCP, split into the
// connections the line hands them in (each piece: a length byte, then that
// many bytes; the de-framer starts afresh at each new connection, as the
// receive path does). Beyond the sanitizers it checks that every frame handed
// on stands whole, as sent, inside one connection: a frame cut off by a lost
// connection never goes on with the bytes of the next.

#include "kiss/KissDeframer.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    KissDeframer deframer;
    std::uint64_t frames = 0;
    for (std::size_t at = 0; at < size;) {
        const std::size_t length = data[at++];
        const std::string connection(reinterpret_cast<const char*>(data) + at, std::min(length, size - at));
        at += connection.size();
        deframer.Reset();
        deframer.Feed(connection, [&](std::string_view frame) {
            check(frame.size() <= kKissMaxFrameContents);
            // As sent: FEND, the data command of port 0, the escaped contents, FEND.
            check(connection.find(EncodeKissDataFrame(frame)) != std::string::npos);
            ++frames;
        });
    }
    deframer.Finish();
    check(deframer.Counters().frames == frames);
    return 0;
}
