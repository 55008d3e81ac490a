// The simulated TNC's parts: its pseudo-terminal, the settings file it
// writes, and the beacons it sends.

#include "SimBeacons.h"
#include "SimEcho.h"
#include "SimPort.h"
#include "support/Files.h"
#include "support/Pty.h"

#include "telemetry/Generator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <unistd.h>

using namespace kestrel;
using namespace kestrel::sim;
using kestrel::test::openAsDecoder;
using kestrel::test::readFor;

namespace {

struct Sent {
    std::string stream;
    long beacons = 0, damaged = 0;
    std::vector<BeaconRecord> records;  // of the undamaged beacons
};

Sent transmit(BeaconOptions opt, int beacons) {
    BeaconSource src(opt);
    Sent s;
    for (int i = 0; i < beacons; ++i) {
        const auto tx = src.nextTransmission(2.0 * i);
        s.stream += tx.bytes;
        ++s.beacons;
        s.damaged += tx.damaged;
        if (!tx.damaged)
            s.records.push_back(tx.record);
    }
    return s;
}

uint32_t countFound(const std::string& stream) {
    EchoDecoder d(nullptr);
    d.feed(stream);
    return d.beaconsFound();
}

// The Vbat lines the program's decoder shows for the beacons in the stream.
std::vector<std::string> vbatLinesFound(const std::string& stream) {
    std::vector<std::string> found;
    EchoDecoder d([&](const std::vector<std::string>& lines) {
        for (const auto& l : lines)
            if (l.rfind("Vbat = ", 0) == 0)
                found.push_back(l);
    });
    d.feed(stream);
    return found;
}

}  // namespace

TEST(SimPort, PtyCarriesBytesBothWaysAndNoticesTheDecoderOpening) {
    SimPort port = SimPort::createPty();
    ASSERT_EQ(port.portName().rfind("/dev/pts/", 0), 0u) << port.portName();
    EXPECT_TRUE(port.isPty());

    // Nobody else holds the slave yet: reading finds nothing instead of a hang-up.
    char buf[16];
    EXPECT_EQ(port.readSome(buf, sizeof buf), 0u);
    EXPECT_FALSE(port.peerConfigured());

    int dec = openAsDecoder(port.portName());
    ASSERT_GE(dec, 0);
    EXPECT_TRUE(port.peerConfigured());

    const std::string beacon = "Bb\x87" + std::string(1, '\0') + "\r\n\xff";
    EXPECT_EQ(port.writeSome(beacon.data(), beacon.size()), beacon.size());
    EXPECT_EQ(readFor(dec, beacon.size()), beacon);  // raw: no CR/LF translation, no echo
    EXPECT_TRUE(port.drain(1000));
    EXPECT_EQ(port.writeSome("unread", 6), 6u);
    EXPECT_FALSE(port.drain(60));
    EXPECT_EQ(readFor(dec, 6), "unread");

    ASSERT_EQ(write(dec, "AT\r", 3), 3);
    EXPECT_EQ(readFor(port.fd(), 3, std::chrono::seconds(2)), "AT\r");

    // The decoder going away leaves the simulator's line usable.
    close(dec);
    EXPECT_EQ(port.readSome(buf, sizeof buf), 0u);
    EXPECT_EQ(port.writeSome("x", 1), 1u);
}

TEST(SimPort, OpeningAMissingDeviceFailsWithItsName) {
    try {
        SimPort::openDevice("/nonexistent/ttyS99", 9600);
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/ttyS99"), std::string::npos);
    }
    EXPECT_THROW(SimPort::openDevice("/dev/null", 12345), std::runtime_error);
}

TEST(SimPort, SettingsFilePointsTheDecoderAtThePort) {
    kestrel::test::ScratchDir scratch("kestrel-sim-ini");
    const auto& dir = scratch.path();
    std::string path = writeSettingsIni(dir.string(), "/dev/pts/7", 19200);
    EXPECT_EQ(path, (dir / "RS232Settings.ini").string());
    EXPECT_EQ(kestrel::test::readFile(path),
              "[CPort]\r\nPort=/dev/pts/7\r\nBaudRate=19200\r\nStopBits=1\r\nDataBits=8\r\n"
              "Parity=None\r\nFlowControl=None\r\n");
    EXPECT_THROW(writeSettingsIni("/nonexistent/dir", "/dev/pts/7", 9600), std::runtime_error);
}

TEST(BeaconSource, EveryBeaconIsAFrameTheFinderTakes) {
    Sent s = transmit({}, 40);
    EXPECT_EQ(s.stream.size(), 40u * kBeaconFrameSize);
    EXPECT_EQ(countFound(s.stream), 40u);
}

TEST(BeaconSource, TelemetryIsPlausibleAndVaries) {
    BeaconOptions opt;
    BeaconSource src(opt);
    uint16_t vMin = 65535, vMax = 0;
    for (int i = 0; i < 3000; ++i) {
        double t = 2.0 * i;  // more than one orbit
        BeaconRecord r = src.record(t);
        EXPECT_EQ(r.FlightTime(), opt.startFlightTime + static_cast<uint32_t>(t));
        EXPECT_GE(r.Vbat(), 6800);
        EXPECT_LE(r.Vbat(), 7300);
        vMin = std::min(vMin, r.Vbat());
        vMax = std::max(vMax, r.Vbat());
        EXPECT_NEAR(r.Isys(), 205, 12);
        EXPECT_LE(std::abs(r.Latitude()), 51.6 + 1e-9);
        EXPECT_LE(std::abs(r.Longitude()), 180.0);
        EXPECT_NEAR(r.Altitude(), 400000, 1600);
        EXPECT_GE(r.ToutMax(), r.ToutMin());
        EXPECT_GT(r.TcpuCelsius(), 10);
        EXPECT_LT(r.TcpuCelsius(), 35);
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_LE(r.Isun(k), 400);
        ASSERT_FALSE(::testing::Test::HasFailure()) << "beacon at t=" << t;
    }
    EXPECT_GT(vMax - vMin, 150);
}

TEST(BeaconSource, EqualSeedsGiveEqualStreams) {
    BeaconOptions a, b;
    b.seed = 2;
    EXPECT_EQ(transmit(a, 5).stream, transmit(a, 5).stream);
    EXPECT_NE(transmit(a, 5).stream, transmit(b, 5).stream);
}

TEST(BeaconSource, DamagedBeaconsAreNotFoundAndNoiseHidesNone) {
    BeaconOptions opt;
    opt.damagePercent = 30;
    opt.noiseBytes = 60;
    Sent s = transmit(opt, 200);
    EXPECT_GT(s.damaged, 30);
    EXPECT_LT(s.damaged, 100);
    EXPECT_GT(s.stream.size(), 200u * kBeaconFrameSize + 200u * 10);
    EXPECT_EQ(countFound(s.stream), static_cast<uint32_t>(s.beacons - s.damaged));
    // The record reported with each transmission is the one on the line.
    std::vector<std::string> want;
    for (const auto& r : s.records)
        want.push_back("Vbat = " + std::to_string(r.Vbat()) + " mV");
    EXPECT_EQ(vbatLinesFound(s.stream), want);

    opt.damagePercent = 100;
    opt.noiseBytes = 0;
    EXPECT_EQ(countFound(transmit(opt, 20).stream), 0u);
}

TEST(SimEcho, ReceivedBytesShowAsTextAndHex) {
    EXPECT_EQ(describeReceived(std::string("AT\r\n\x1b\"\\", 7)), "\"AT\\r\\n\\x1B\\\"\\\\\"  [41 54 0D 0A 1B 22 5C]");
    EXPECT_EQ(describeReceived(std::string(1, '\0')), "\"\\x00\"  [00]");
}

TEST(SimEcho, ABeaconFromTheDecoderIsDecoded) {
    TestGenerator g;
    g.Init(5000);
    g.FillBuffer();
    std::vector<std::string> lines;
    int calls = 0;
    EchoDecoder d([&](const std::vector<std::string>& l) {
        lines = l;
        ++calls;
    });
    d.feed("AT\r");
    d.feed(g.TestFrame.substr(0, 60));
    EXPECT_EQ(calls, 0);
    d.feed(g.TestFrame.substr(60));
    EXPECT_EQ(calls, 1);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Isys = 0200 mA"), lines.end());
}
