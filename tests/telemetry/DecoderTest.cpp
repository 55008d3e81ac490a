// The decoder: the decoded pane's lines for worked and extreme records, and
// the count.

#include "telemetry/Decoder.h"

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <limits>

using namespace kestrel;

namespace {

const SystemTime kLocal{2024, 3, 2, 5, 15, 15, 7, 250};

TEST(DecodedInfoLines, WorkedExampleWithGpsOn) {
    const std::vector<std::string> expected = {
        "Received ZZ0KR beacon packets= 1",
        "Received:  2024-03-05 15:15:07",
        "Flight time = 86400 s",
        "Vbat = 6850 mV",
        "Iin = 0095 mA",
        "Isys = 0200 mA",
        "Isun(1..3) = [0120  0000  0385] mA",
        "Foto(1..6)=[001 022 333 4000 555 006 ]",
        "Status=0x01 0x00 0x0A 0xFF 0x00 0x00 0x10 0x80 ",
        "Bx = 12.5 uT",
        "By = -3.0 uT",
        "Bz = 0.0 uT",
        "Tcpu = 30.6 C",
        "Tpsu = 18 C",
        "Tout_min = -25 C",
        "Tout_max = -21 C",
        "Boots = 0",
        "Last boot cause = 0",
        "",
        "GPS ON",
        "lattitude = 54.900000 deg",
        "longitude = 23.933300 deg",
        "altitude = 400050 ",
        "velocity = 1005 ",
        "Linear transponder OFF",
    };
    EXPECT_EQ(decodedInfoLines(test::exampleRecord(), 1, kLocal), expected);
}

TEST(DecodedInfoLines, GeneratorLikeRecordWithGpsOff) {
    BeaconRecord r;
    r.setFlightTime(7);
    r.setVbat(6712);
    r.setIsys(200);
    r.setFoto(0, 5);
    r.setFoto(1, 1000);
    r.setTcpuRaw(-16433);
    r.setTpsu(123);
    r.setToutMin(-5);
    r.setToutMax(3);
    r.setBoots(12);
    r.setLastBootCause(1);
    r.setTransponderOn(1);
    const std::uint8_t status[] = {0x00, 0x01, 0x0A, 0xFF, 0, 0, 0, 0x80};
    for (std::size_t i = 0; i < 8; ++i)
        r.setStatusByte(i, status[i]);
    for (int gps : {0, 2, 255}) {
        r.setGpsOn(static_cast<std::uint8_t>(gps));
        const auto lines = decodedInfoLines(r, 4294967295u, kLocal);
        ASSERT_EQ(lines.size(), 21u) << gps;
        EXPECT_EQ(lines[0], "Received ZZ0KR beacon packets= 4294967295");
        EXPECT_EQ(lines[2], "Flight time = 007 s");
        EXPECT_EQ(lines[3], "Vbat = 6712 mV");
        EXPECT_EQ(lines[5], "Isys = 0200 mA");
        EXPECT_EQ(lines[7], "Foto(1..6)=[005 1000 000 000 000 000 ]");
        EXPECT_EQ(lines[8], "Status=0x00 0x01 0x0A 0xFF 0x00 0x00 0x00 0x80 ");
        EXPECT_EQ(lines[12], "Tcpu = -11.8 C");
        EXPECT_EQ(lines[13], "Tpsu = 123 C");
        EXPECT_EQ(lines[14], "Tout_min = -05 C");
        EXPECT_EQ(lines[15], "Tout_max = 03 C");
        EXPECT_EQ(lines[16], "Boots = 12");
        EXPECT_EQ(lines[17], "Last boot cause = 1");
        EXPECT_EQ(lines[19], "GPS OFF");
        EXPECT_EQ(lines[20], "Linear transponder ON");
    }
}

TEST(DecodedInfoLines, ExtremeValues) {
    BeaconRecord r;
    r.setVbat(65535);
    r.setIsun(0, 65535);
    r.setFoto(5, 65535);
    r.setFlightTime(4294967295u);
    r.setBoots(-2147483647 - 1);
    r.setTpsu(-32768);
    r.setBx(std::numeric_limits<float>::infinity());
    r.setBy(-std::numeric_limits<float>::infinity());
    r.setBz(std::numeric_limits<float>::quiet_NaN());
    r.setGpsOn(1);
    r.setLatitude(-std::numeric_limits<double>::quiet_NaN());
    r.setLongitude(-0.5);
    r.setAltitude(512.4);
    r.setVelocity(512.6);
    const auto lines = decodedInfoLines(r, 3, kLocal);
    ASSERT_EQ(lines.size(), 25u);
    EXPECT_EQ(lines[2], "Flight time = 4294967295 s");
    EXPECT_EQ(lines[3], "Vbat = 65535 mV");
    EXPECT_EQ(lines[6], "Isun(1..3) = [65535  0000  0000] mA");
    EXPECT_EQ(lines[7], "Foto(1..6)=[000 000 000 000 000 65535 ]");
    EXPECT_EQ(lines[9], "Bx = INF uT");
    EXPECT_EQ(lines[10], "By = -INF uT");
    EXPECT_EQ(lines[11], "Bz = NAN uT");
    EXPECT_EQ(lines[12], "Tcpu = 36.5 C");
    EXPECT_EQ(lines[13], "Tpsu = -32768 C");
    EXPECT_EQ(lines[16], "Boots = -2147483648");
    EXPECT_EQ(lines[20], "lattitude = -NAN deg");
    EXPECT_EQ(lines[21], "longitude = -0.500000 deg");
    EXPECT_EQ(lines[22], "altitude = 512 ");
    EXPECT_EQ(lines[23], "velocity = 513 ");
}

TEST(DecodedInfoLines, MidnightShowsTheDateAlone) {
    const BeaconRecord r;
    SystemTime t{2024, 1, 1, 9, 0, 0, 0, 999};
    EXPECT_EQ(decodedInfoLines(r, 1, t)[1], "Received:  2024-01-09");
    t.second = 1;
    EXPECT_EQ(decodedInfoLines(r, 1, t)[1], "Received:  2024-01-09 00:00:01");
}

TEST(Decoder, CountsAndGivesTheLinesInLocalTime) {
    test::FixedClock clock;
    Decoder decoder(clock);
    const BeaconRecord r = test::exampleRecord();
    decoder.aDecodeTelemetry1Execute(r, clock.utc);
    const std::vector<std::string> lines = decoder.aDecodeTelemetry1Execute(r, clock.utc);
    EXPECT_EQ(decoder.BeaconCounter(), 2);
    EXPECT_EQ(lines[0], "Received ZZ0KR beacon packets= 2");
    EXPECT_EQ(lines[1], "Received:  2024-03-05 15:15:07");  // local time, not UTC
    EXPECT_EQ(lines, decodedInfoLines(r, 2, clock.localTime(clock.utc)));
}

}  // namespace
