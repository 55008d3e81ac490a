// The frame finder: frames found on their last byte, after noise and back to
// back, damaged ones and lone markers cut, the buffer's bound, and recorded
// bytes finding what byte-by-byte finds.

#include "telemetry/FrameFinder.h"

#include "telemetry/InOutError.h"

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace kestrel;

namespace {

// What the receive path does with the finder: each byte in, the status
// panel's "N=" from the length after it, and each frame found kept (and
// handed to onDecode, which may throw).
class FrameFinderTest : public ::testing::Test {
protected:
    FrameFinder finder;
    std::string status;
    std::vector<BeaconRecord> decoded;
    std::vector<RawFrame> rawCopies;
    std::function<void()> onDecode;

    void analyse(std::uint8_t b) {
        const FoundFrame* f = finder.aRXBufferAnalyse2Execute(b);
        status = "N=" + std::to_string(finder.lengthAfterLastByte());
        if (!f)
            return;
        decoded.push_back(f->record);
        rawCopies.push_back(f->raw);
        if (onDecode)
            onDecode();
    }
    void feed(std::string_view bytes) {
        for (char c : bytes)
            analyse(static_cast<std::uint8_t>(c));
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
    EXPECT_TRUE(decoded.empty());
    EXPECT_EQ(status, "N=130");
    feed(frame.substr(130));
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_EQ(status, "N=131");
    EXPECT_EQ(decoded[0], BeaconRecord::fromBytes(frame.data() + 4));
    EXPECT_EQ(std::string(rawCopies[0].begin(), rawCopies[0].begin() + 131), frame);
    EXPECT_EQ(rawCopies[0][131], 0);
    EXPECT_EQ(finder.ReceiveBufferLength(), 0);
    EXPECT_EQ(finder.CurrentRecord().FlightTime(), 1u);
    feed("x");
    EXPECT_EQ(status, "N=1");
    EXPECT_EQ(finder.LastRxByte(), 'x');
}

TEST_F(FrameFinderTest, FindsFramesAfterNoiseAndBackToBack) {
    std::string noise;
    for (int i = 0; i < 400; ++i)
        noise.push_back(static_cast<char>(i * 7));
    feed(noise);
    feed(frameWithFlightTime(1));
    feed(frameWithFlightTime(2));
    feed(std::string(19, '\0'));  // zero bytes are ordinary bytes
    feed(frameWithFlightTime(3));
    ASSERT_EQ(decoded.size(), 3u);
    EXPECT_EQ(decoded[0].FlightTime(), 1u);
    EXPECT_EQ(decoded[1].FlightTime(), 2u);
    EXPECT_EQ(decoded[2].FlightTime(), 3u);
    EXPECT_EQ(finder.ReceiveBufferLength(), 0);
}

TEST_F(FrameFinderTest, NoiseCountsUpToOneHundredFiftyAndKeepsTheLast149) {
    std::string noise;
    for (int i = 0; i < 300; ++i)
        noise.push_back(static_cast<char>('a' + i % 26));
    feed(noise.substr(0, 149));
    EXPECT_EQ(status, "N=149");
    feed(noise.substr(149, 1));
    EXPECT_EQ(status, "N=150");
    feed(noise.substr(150));
    EXPECT_EQ(status, "N=150");
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
    EXPECT_TRUE(decoded.empty());
    EXPECT_EQ(finder.ReceiveBufferLength(), 0);  // cut through the marker at once
    feed(std::string(40, 'n'));
    feed(lost);
    EXPECT_TRUE(decoded.empty());
    EXPECT_EQ(finder.ReceiveBufferLength(), 0);
    feed(good);
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_EQ(decoded[0].FlightTime(), 9u);
}

TEST_F(FrameFinderTest, EarlyMarkerStaysUntilTrimmedAndDoesNotBlockTheNextFrame) {
    // The tail of a beacon whose start was missed: marker at position 100.
    feed(std::string(99, 't'));
    feed(TrailerMarker);
    feed(std::string(20, 'u'));  // length 140: marker at 100 is left alone
    EXPECT_EQ(finder.ReceiveBufferLength(), 140);
    feed(frameWithFlightTime(5));
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_EQ(decoded[0].FlightTime(), 5u);
}

TEST_F(FrameFinderTest, LoneMarkerIsCutSilently) {
    feed(std::string(120, 'z'));
    feed(TrailerMarker);
    EXPECT_TRUE(decoded.empty());
    EXPECT_EQ(status, "N=141");
    EXPECT_EQ(finder.ReceiveBufferLength(), 0);
}

TEST_F(FrameFinderTest, ResetEmptiesTheBufferButKeepsTheCopies) {
    feed(frameWithFlightTime(4));
    feed("Bb");
    finder.aRXBufferInitExecute();
    EXPECT_EQ(finder.ReceiveBufferLength(), 0);
    EXPECT_EQ(finder.CurrentRecord().FlightTime(), 4u);
    EXPECT_EQ(status, "N=2");
    // A beacon cut in half by the reset is not decoded; the next one is.
    const std::string frame = frameWithFlightTime(6);
    feed(frame.substr(0, 60));
    finder.aRXBufferInitExecute();
    feed(frame.substr(60));
    EXPECT_EQ(decoded.size(), 1u);
    feed(frameWithFlightTime(7));
    ASSERT_EQ(decoded.size(), 2u);
    EXPECT_EQ(decoded[1].FlightTime(), 7u);
}

TEST_F(FrameFinderTest, FailedDecodeStillCutsTheFrameAndTrims) {
    onDecode = [] { throw EInOutError::fromCode(kIoFileAccessDenied); };
    const std::string frame = frameWithFlightTime(8);
    feed(std::string(18, 'n'));  // buffer reaches 149 on the frame's last byte
    EXPECT_THROW(feed(frame), EInOutError);
    EXPECT_EQ(decoded.size(), 1u);
    EXPECT_EQ(finder.ReceiveBufferLength(), 0);
    feed("a");  // the frame is not found a second time
    EXPECT_EQ(decoded.size(), 1u);
    EXPECT_EQ(status, "N=1");

    // A store that keeps failing: every frame is still decoded exactly once and
    // the buffer stays bounded.
    std::string stream;
    for (std::uint32_t t = 10; t < 15; ++t)
        stream += std::string(t * 5, 'n') + frameWithFlightTime(t);
    int failures = 0;
    for (char c : stream) {
        try {
            analyse(static_cast<std::uint8_t>(c));
        } catch (const EInOutError&) {
            ++failures;
        }
        ASSERT_LE(finder.ReceiveBufferLength(), 149);
    }
    EXPECT_EQ(failures, 5);
    ASSERT_EQ(decoded.size(), 6u);
    EXPECT_EQ(decoded[5].FlightTime(), 14u);
}

TEST_F(FrameFinderTest, RecordedBytesFindWhatByteByByteFinds) {
    // Noise, frames back to back, damaged frames, lone and early markers,
    // markers sharing a blank, a marker inside a record, a cut-off last frame.
    std::mt19937 rng(3);
    std::string stream;
    const auto noise = [&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            stream.push_back(static_cast<char>(rng() % 4 ? rng() : ' '));
    };
    BeaconRecord inner = test::exampleRecord();
    std::copy(TrailerMarker.begin(), TrailerMarker.end(), inner.bytes().begin() + 40);
    for (std::uint32_t t = 0; t < 300; ++t) {
        std::string frame = frameWithFlightTime(t);
        switch (rng() % 8) {
        case 0: frame.erase(rng() % 110 + 2, 1); break;
        case 1: frame.insert(rng() % 110 + 2, 1, 'B'); break;
        case 2: frame = std::string(rng() % 140, 'n') + std::string(TrailerMarker); break;
        case 3:  // markers sharing a blank, the first one early
            frame = std::string(rng() % 20 + 80, 'n') + std::string(TrailerMarker) +
                    std::string(TrailerMarker).substr(1) + std::string(40, 'm');
            break;
        case 4: frame = frame.substr(rng() % 131); break;
        case 5:
            inner.setFlightTime(t);  // every frame differs
            frame = buildBeaconFrame(kTestFrameHeader, inner);
            break;
        default: break;
        }
        stream += frame;
        noise(rng() % 3 ? 0 : rng() % 200);
    }
    stream += frameWithFlightTime(999).substr(0, 100);

    feed(stream);
    for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{150}, stream.size()}) {
        FrameFinder bulk;
        std::vector<BeaconRecord> bulkDecoded;
        std::vector<RawFrame> bulkRaw;
        // Nothing at all, before any byte (a frame of no bytes), changes nothing.
        EXPECT_EQ(bulk.analyseRecordedBytes(nullptr, 0).markers, 0u);
        std::size_t markers = 0;
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            const std::string_view part = std::string_view(stream).substr(at, chunk);
            const auto& found =
                bulk.analyseRecordedBytes(reinterpret_cast<const std::uint8_t*>(part.data()), part.size());
            markers += found.markers;
            for (const auto& located : found.frames) {
                bulkDecoded.push_back(located.frame.record);
                bulkRaw.push_back(located.frame.raw);
                // Where it lies: the frame's last byte is the one before `end`.
                const std::string_view frameBytes(reinterpret_cast<const char*>(located.frame.raw.data()), 131);
                EXPECT_TRUE(std::string_view(stream).substr(0, at + located.end).ends_with(frameBytes));
            }
        }
        SCOPED_TRACE(chunk);
        EXPECT_EQ(bulkDecoded, decoded);
        EXPECT_EQ(bulkRaw, rawCopies);
        EXPECT_EQ(bulk.ReceiveBuffer(), finder.ReceiveBuffer());
        EXPECT_GT(markers, decoded.size());
        EXPECT_EQ(bulk.lengthAfterLastByte(), 0) << "only the live path shows a length";
    }
    ASSERT_GT(decoded.size(), 80u);
}
