// The beacon frame and record: little-endian fields at odd offsets, the
// flags, access past the end refused, a frame built for the generator.

#include "telemetry/BeaconFrame.h"

#include <gtest/gtest.h>

using namespace kestrel;

TEST(BeaconRecord, ReadsLittleEndianFieldsAtOddOffsets) {
    BeaconRecord::Bytes b{};
    b[RecordOffset::FlightTime] = 0x78;
    b[RecordOffset::FlightTime + 1] = 0x56;
    b[RecordOffset::FlightTime + 2] = 0x34;
    b[RecordOffset::FlightTime + 3] = 0x12;
    b[RecordOffset::Tpsu] = 0xFB;  // -5 as int16
    b[RecordOffset::Tpsu + 1] = 0xFF;
    b[RecordOffset::Vbat] = 0xFF;  // 65535 as uint16
    b[RecordOffset::Vbat + 1] = 0xFF;
    b[RecordOffset::TcpuRaw] = 0xCF;  // -16433
    b[RecordOffset::TcpuRaw + 1] = 0xBF;
    // 1.0f = 0x3F800000 at offset 29 (odd)
    b[RecordOffset::Bx + 2] = 0x80;
    b[RecordOffset::Bx + 3] = 0x3F;
    // -2.0 = 0xC000000000000000 at offset 41
    b[RecordOffset::Longitude + 7] = 0xC0;
    b[RecordOffset::Boots] = 0xFE;  // -2 as int32
    b[RecordOffset::Boots + 1] = 0xFF;
    b[RecordOffset::Boots + 2] = 0xFF;
    b[RecordOffset::Boots + 3] = 0xFF;
    b[RecordOffset::Foto + 10] = 0x34;  // Foto 6
    b[RecordOffset::Foto + 11] = 0x12;

    const BeaconRecord r(b);
    EXPECT_EQ(r.FlightTime(), 0x12345678u);
    EXPECT_EQ(r.Tpsu(), -5);
    EXPECT_EQ(r.Vbat(), 65535);
    EXPECT_EQ(r.TcpuRaw(), -16433);
    EXPECT_NEAR(r.TcpuCelsius(), -11.80, 0.005);
    EXPECT_EQ(r.Bx(), 1.0f);
    EXPECT_EQ(r.Longitude(), -2.0);
    EXPECT_EQ(r.Boots(), -2);
    EXPECT_EQ(r.Foto(5), 0x1234);
}

TEST(BeaconRecord, FlagsAreOnOnlyAtOne) {
    BeaconRecord r;
    for (int v : {0, 2, 255}) {
        r.setGpsOn(static_cast<std::uint8_t>(v));
        r.setTransponderOn(static_cast<std::uint8_t>(v));
        EXPECT_FALSE(r.gpsIsOn()) << v;
        EXPECT_FALSE(r.transponderIsOn()) << v;
    }
    r.setGpsOn(1);
    r.setTransponderOn(1);
    EXPECT_TRUE(r.gpsIsOn());
    EXPECT_TRUE(r.transponderIsOn());
}

TEST(BeaconRecord, RefusesAccessPastTheEnd) {
    BeaconRecord r;
    EXPECT_THROW(r.u16(105), std::out_of_range);
    EXPECT_THROW(r.setU32(103, 1), std::out_of_range);
    EXPECT_NO_THROW(r.setU16(104, 1));
}

TEST(BeaconFrame, BuildsStartBytesHeaderRecordAndMarker) {
    BeaconRecord r;
    r.setFlightTime(7);
    const std::string frame = buildBeaconFrame(kTestFrameHeader, r);
    ASSERT_EQ(frame.size(), kBeaconFrameSize);
    EXPECT_EQ(frame.substr(0, 2), "Bb");
    EXPECT_EQ(static_cast<std::uint8_t>(frame[2]), 0x87);
    EXPECT_EQ(static_cast<std::uint8_t>(frame[3]), 0x00);
    EXPECT_EQ(static_cast<std::uint8_t>(frame[4]), 7);
    EXPECT_EQ(frame.substr(110), " NORTHERN SKY BEACON ");
    EXPECT_EQ(BeaconRecord::fromBytes(frame.data() + kFrameRecordOffset), r);
}
