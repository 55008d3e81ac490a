// KISS de-framing and encoding: escaped beacons reach the frame finder
// unchanged, what is not a whole data frame of port 0 is dropped and counted.

#include "kiss/KissDeframer.h"

#include "support/Beacons.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kestrel;
using namespace kestrel::test;

namespace {

class KissDeframerTest : public ::testing::Test {
protected:
    KissDeframer deframer;
    std::vector<std::string> frames;

    void feed(std::string_view bytes) {
        deframer.Feed(bytes, [this](std::string_view f) { frames.emplace_back(f); });
    }
};

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list)
        s.push_back(static_cast<char>(b));
    return s;
}

}  // namespace

TEST_F(KissDeframerTest, EscapedBeaconsReachTheFrameFinderUnchanged) {
    std::vector<std::string> beacons;
    std::string stream;
    for (std::uint32_t n = 1; n <= 3; ++n) {
        beacons.push_back(escapedBeacon(n));
        stream += EncodeKissDataFrame(ax25UiHeader() + beacons.back());
    }
    ASSERT_GT(stream.size(), 3 * (ax25UiHeader().size() + kBeaconFrameSize + 3))
        << "the escapes make the frames longer";

    // Every split: the whole stream at once, byte by byte, and in uneven reads.
    for (std::size_t chunk : {stream.size(), std::size_t{1}, std::size_t{7}, std::size_t{150}}) {
        KissDeframer d;
        CollectingHost host;
        for (std::size_t at = 0; at < stream.size(); at += chunk)
            d.Feed(std::string_view(stream).substr(at, chunk), [&](std::string_view f) { host.feed(f); });
        ASSERT_EQ(host.frames.size(), beacons.size()) << "chunk " << chunk;
        for (std::size_t i = 0; i < beacons.size(); ++i)
            EXPECT_EQ(host.frames[i], rawFrameOf(beacons[i]));
        EXPECT_EQ(d.Counters().frames, beacons.size());
        EXPECT_EQ(d.Counters().damaged(), 0u);
    }

    // Without de-framing the escaped beacons are not found.
    CollectingHost plain;
    plain.feed(stream);
    EXPECT_TRUE(plain.frames.empty());
}

TEST_F(KissDeframerTest, EncoderEscapesAndTheDeframerUndoesIt) {
    const std::string contents = bytes({0x01, 0xC0, 0xDB, 0xDC, 0xDD, 0x00});
    EXPECT_EQ(EncodeKissDataFrame(contents), bytes({0xC0, 0x00, 0x01, 0xDB, 0xDC, 0xDB, 0xDD, 0xDC, 0xDD, 0x00, 0xC0}));
    feed(EncodeKissDataFrame(contents));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], contents);
}

TEST_F(KissDeframerTest, DropsWhatIsNotAWholeDataFrameOfPortZero) {
    const std::string good = EncodeKissDataFrame("good");
    std::string port1 = good;
    port1[1] = 0x10;  // data frame, port 1
    feed("garbage before the first FEND");
    feed(good);
    feed(bytes({0xC0}));  // a lone FEND
    feed(port1);
    feed(bytes({0xC0, 0x01, 0x20, 0xC0}));                 // TXDELAY, a command
    feed(bytes({0xC0, 0x00, 'a', 0xDB, 'x', 'b', 0xC0}));  // invalid escape
    feed(bytes({0xC0, 0x00, 'a', 0xDB, 0xC0}));            // FESC before the end
    feed(bytes({0xC0, 0x00}) + std::string(kKissMaxFrameContents + 1, 'o') + bytes({0xC0}));
    feed(bytes({0xC0, 0x00}) + std::string(kKissMaxFrameContents, 'k') + bytes({0xC0}));
    feed(good);
    feed(bytes({0xC0, 0x00, 'c', 'u', 't'}));  // never ends
    deframer.Reset();
    feed(good);

    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0], "good");
    EXPECT_EQ(frames[1], std::string(kKissMaxFrameContents, 'k'));
    EXPECT_EQ(frames[3], "good");
    const KissCounters& c = deframer.Counters();
    EXPECT_EQ(c.frames, 4u);
    EXPECT_EQ(c.otherPort, 1u);
    EXPECT_EQ(c.otherCommand, 1u);
    EXPECT_EQ(c.badEscape, 2u);
    EXPECT_EQ(c.oversized, 1u);
    EXPECT_EQ(c.unterminated, 1u);
}

TEST_F(KissDeframerTest, TellsAKissStreamFromAPlainOne) {
    std::string kiss, plain;
    for (std::uint32_t n = 1; n <= 4; ++n) {
        kiss += EncodeKissDataFrame(ax25UiHeader() + escapedBeacon(n));
        plain += escapedBeacon(n) + "noise\r\n";
    }
    EXPECT_TRUE(LooksLikeKissStream(kiss));
    EXPECT_FALSE(LooksLikeKissStream(plain));
    EXPECT_FALSE(LooksLikeKissStream(std::string(1, '\xC0') + plain)) << "0xC0 in the beacons makes no frames";
    EXPECT_FALSE(LooksLikeKissStream(EncodeKissDataFrame("one frame only")));
}
