#include "telemetry/FrameFinder.h"

#include "telemetry/InOutError.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace kestrel;

namespace {

class RecordingHost : public IFrameFinderHost {
public:
    std::string status;
    std::string rawLog;
    std::vector<BeaconRecord> decoded;
    std::vector<RawFrame> rawCopies;
    const FrameFinder* finder = nullptr;
    std::function<void()> onDecode;  // may throw
    bool rawLogFails = false;

    void setReceiveStatus(std::string_view text) override { status = text; }
    void writeRawByte(std::uint8_t b) override {
        if (rawLogFails) throw EInOutError::fromCode(kIoFileNotOpen);
        rawLog.push_back(static_cast<char>(b));
    }
    void decodeFrame() override {
        decoded.push_back(finder->CurrentRecord());
        rawCopies.push_back(finder->RawFrameCopy());
        if (onDecode) onDecode();
    }
};

class FrameFinderTest : public ::testing::Test {
protected:
    RecordingHost host;
    FrameFinder finder{host};

    void SetUp() override { host.finder = &finder; }

    void feed(std::string_view bytes) {
        for (char c : bytes) finder.aRXBufferAnalyse2Execute(static_cast<std::uint8_t>(c));
    }

    static std::string frameWithFlightTime(std::uint32_t t) {
        BeaconRecord r = test::exampleRecord();
        r.setFlightTime(t);
        return buildBeaconFrame(kTestFrameHeader, r);
    }
};

}  // namespace

TEST_F(FrameFinderTest, FindsAFrameOnItsLastByte) {
    const std::string frame = frameWithFlightTime(1);
    feed(frame.substr(0, 130));
    EXPECT_TRUE(host.decoded.empty());
    EXPECT_EQ(host.status, "N=130");
    feed(frame.substr(130));
    ASSERT_EQ(host.decoded.size(), 1u);
    EXPECT_EQ(host.status, "N=131");
    EXPECT_EQ(host.decoded[0], BeaconRecord::fromBytes(frame.data() + 4));
    EXPECT_EQ(std::string(host.rawCopies[0].begin(), host.rawCopies[0].begin() + 131), frame);
    EXPECT_EQ(host.rawCopies[0][131], 0);
    EXPECT_EQ(finder.ReceiveBufferLength(), 0);
    EXPECT_EQ(finder.CurrentRecord().FlightTime(), 1u);
    feed("x");
    EXPECT_EQ(host.status, "N=1");
    EXPECT_EQ(host.rawLog, frame + "x");
}

TEST_F(FrameFinderTest, FindsFramesAfterNoiseAndBackToBack) {
    std::string noise;
    for (int i = 0; i < 400; ++i) noise.push_back(static_cast<char>(i * 7));
    feed(noise);
    feed(frameWithFlightTime(1));
    feed(frameWithFlightTime(2));
    feed(std::string(19, '\0'));  // zero bytes are ordinary bytes
    feed(frameWithFlightTime(3));
    ASSERT_EQ(host.decoded.size(), 3u);
    EXPECT_EQ(host.decoded[0].FlightTime(), 1u);
    EXPECT_EQ(host.decoded[1].FlightTime(), 2u);
    EXPECT_EQ(host.decoded[2].FlightTime(), 3u);
    EXPECT_EQ(finder.ReceiveBufferLength(), 0);
    EXPECT_EQ(host.rawLog.size(), 400u + 3 * 131 + 19);
}

TEST_F(FrameFinderTest, NoiseCountsUpToOneHundredFiftyAndKeepsTheLast149) {
    std::string noise;
    for (int i = 0; i < 300; ++i) noise.push_back(static_cast<char>('a' + i % 26));
    feed(noise.substr(0, 149));
    EXPECT_EQ(host.status, "N=149");
    feed(noise.substr(149, 1));
    EXPECT_EQ(host.status, "N=150");
    feed(noise.substr(150));
    EXPECT_EQ(host.status, "N=150");
    EXPECT_EQ(finder.ReceiveBuffer(), std::string_view(noise).substr(300 - 149));
}

TEST_F(FrameFinderTest, DamagedFramesAreCutWithoutDecoding) {
    const std::string good = frameWithFlightTime(9);
    std::string lost = good;
    lost.erase(50, 1);
    std::string added = good;
    added.insert(50, "!");
    // Noise first, so the short frame's marker lands at position 111 or later.
    feed(std::string(40, 'n'));
    feed(added);
    EXPECT_TRUE(host.decoded.empty());
    EXPECT_EQ(finder.ReceiveBufferLength(), 0);  // cut through the marker at once
    feed(std::string(40, 'n'));
    feed(lost);
    EXPECT_TRUE(host.decoded.empty());
    EXPECT_EQ(finder.ReceiveBufferLength(), 0);
    feed(good);
    ASSERT_EQ(host.decoded.size(), 1u);
    EXPECT_EQ(host.decoded[0].FlightTime(), 9u);
}

TEST_F(FrameFinderTest, EarlyMarkerStaysUntilTrimmedAndDoesNotBlockTheNextFrame) {
    // The tail of a beacon whose start was missed: marker at position 100.
    feed(std::string(99, 't'));
    feed(TrailerMarker);
    feed(std::string(20, 'u'));  // length 140: marker at 100 is left alone
    EXPECT_EQ(finder.ReceiveBufferLength(), 140);
    feed(frameWithFlightTime(5));
    ASSERT_EQ(host.decoded.size(), 1u);
    EXPECT_EQ(host.decoded[0].FlightTime(), 5u);
}

TEST_F(FrameFinderTest, LoneMarkerIsCutSilently) {
    feed(std::string(120, 'z'));
    feed(TrailerMarker);
    EXPECT_TRUE(host.decoded.empty());
    EXPECT_EQ(host.status, "N=141");
    EXPECT_EQ(finder.ReceiveBufferLength(), 0);
}

TEST_F(FrameFinderTest, ResetEmptiesTheBufferButKeepsTheCopies) {
    feed(frameWithFlightTime(4));
    feed("Bb");
    finder.aRXBufferInitExecute();
    EXPECT_EQ(finder.ReceiveBufferLength(), 0);
    EXPECT_EQ(finder.CurrentRecord().FlightTime(), 4u);
    EXPECT_EQ(host.status, "N=2");
    // A beacon cut in half by the reset is not decoded; the next one is.
    const std::string frame = frameWithFlightTime(6);
    feed(frame.substr(0, 60));
    finder.aRXBufferInitExecute();
    feed(frame.substr(60));
    EXPECT_EQ(host.decoded.size(), 1u);
    feed(frameWithFlightTime(7));
    ASSERT_EQ(host.decoded.size(), 2u);
    EXPECT_EQ(host.decoded[1].FlightTime(), 7u);
}

TEST_F(FrameFinderTest, FailedDecodeStillCutsTheFrameAndTrims) {
    host.onDecode = [] { throw EInOutError::fromCode(kIoFileAccessDenied); };
    const std::string frame = frameWithFlightTime(8);
    feed(std::string(18, 'n'));  // buffer reaches 149 on the frame's last byte
    EXPECT_THROW(feed(frame), EInOutError);
    EXPECT_EQ(host.decoded.size(), 1u);
    EXPECT_EQ(finder.ReceiveBufferLength(), 0);
    feed("a");  // the frame is not found a second time
    EXPECT_EQ(host.decoded.size(), 1u);
    EXPECT_EQ(host.status, "N=1");

    // A store that keeps failing: every frame is still decoded exactly once and
    // the buffer stays bounded.
    std::string stream;
    for (std::uint32_t t = 10; t < 15; ++t) stream += std::string(t * 5, 'n') + frameWithFlightTime(t);
    int failures = 0;
    for (char c : stream) {
        try {
            finder.aRXBufferAnalyse2Execute(static_cast<std::uint8_t>(c));
        } catch (const EInOutError&) {
            ++failures;
        }
        ASSERT_LE(finder.ReceiveBufferLength(), 149);
    }
    EXPECT_EQ(failures, 5);
    ASSERT_EQ(host.decoded.size(), 6u);
    EXPECT_EQ(host.decoded[5].FlightTime(), 14u);
}

TEST_F(FrameFinderTest, FailedRawLogWriteKeepsTheByteOut) {
    feed("abc");
    host.rawLogFails = true;
    EXPECT_THROW(feed("d"), EInOutError);
    EXPECT_EQ(finder.ReceiveBuffer(), "abc");
    EXPECT_EQ(host.status, "N=3");
}
