#pragma once
// The beacon as it travels on the serial line: "Bb", a 16-bit header word, the
// 106-byte telemetry record and the trailer marker. All numbers little-endian,
// packed; fields are read and written by copying bytes, so odd offsets and the
// host's byte order do not matter.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

inline constexpr std::string_view TrailerMarker = " NORTHERN SKY BEACON ";
inline constexpr std::string_view BeaconStartBytes = "Bb";

inline constexpr std::size_t kTrailerMarkerSize = 21;
inline constexpr std::size_t kBeaconRecordSize = 106;
inline constexpr std::size_t kBeaconFrameSize = 131;
// The frame plus the byte that followed its marker, as kept in a RawFrameFile.
inline constexpr std::size_t kRawFrameSize = 132;

// Offsets within a frame.
inline constexpr std::size_t kFrameHeaderOffset = 2;
inline constexpr std::size_t kFrameRecordOffset = 4;
inline constexpr std::size_t kFrameMarkerOffset = 110;

// The header word the test generator sends.
inline constexpr std::uint16_t kTestFrameHeader = 135;

static_assert(TrailerMarker.size() == kTrailerMarkerSize);
static_assert(kFrameMarkerOffset == kFrameRecordOffset + kBeaconRecordSize);
static_assert(kBeaconFrameSize == kFrameMarkerOffset + kTrailerMarkerSize);

// Offsets of the record's fields within the record.
namespace RecordOffset {
inline constexpr std::size_t FlightTime = 0;        // uint32
inline constexpr std::size_t Milliseconds = 4;      // uint32
inline constexpr std::size_t StatusBytes = 8;       // 8 x uint8
inline constexpr std::size_t Vbat = 16;             // uint16
inline constexpr std::size_t Iin = 18;              // uint16
inline constexpr std::size_t Isys = 20;             // uint16
inline constexpr std::size_t Isun = 22;             // 3 x uint16
inline constexpr std::size_t Spare28 = 28;          // uint8, unused
inline constexpr std::size_t Bx = 29;               // float32
inline constexpr std::size_t By = 33;               // float32
inline constexpr std::size_t Bz = 37;               // float32
inline constexpr std::size_t Longitude = 41;        // float64
inline constexpr std::size_t Latitude = 49;         // float64
inline constexpr std::size_t Altitude = 57;         // float64
inline constexpr std::size_t Velocity = 65;         // float64
inline constexpr std::size_t TcpuRaw = 73;          // int16
inline constexpr std::size_t Tpsu = 75;             // int16
inline constexpr std::size_t ToutMax = 77;          // int16
inline constexpr std::size_t ToutMin = 79;          // int16
inline constexpr std::size_t Boots = 81;            // int32
inline constexpr std::size_t LastBootCause = 85;    // uint8
inline constexpr std::size_t Spare86 = 86;          // 4 x uint8, unused
inline constexpr std::size_t GpsOn = 90;            // uint8
inline constexpr std::size_t TransponderTime = 91;  // uint16
inline constexpr std::size_t TransponderOn = 93;    // uint8
inline constexpr std::size_t Foto = 94;             // 6 x uint16
}  // namespace RecordOffset

inline constexpr std::size_t kStatusByteCount = 8;
inline constexpr std::size_t kIsunCount = 3;
inline constexpr std::size_t kFotoCount = 6;

// The 106 record bytes with typed access. A default record is all zeros.
class BeaconRecord {
public:
    using Bytes = std::array<std::uint8_t, kBeaconRecordSize>;

    BeaconRecord() = default;
    explicit BeaconRecord(const Bytes& bytes) : bytes_(bytes) {}
    // Copies kBeaconRecordSize bytes from data.
    static BeaconRecord fromBytes(const void* data);

    const Bytes& bytes() const { return bytes_; }
    Bytes& bytes() { return bytes_; }

    std::uint32_t FlightTime() const { return u32(RecordOffset::FlightTime); }
    std::uint32_t Milliseconds() const { return u32(RecordOffset::Milliseconds); }
    std::uint8_t StatusByte(std::size_t i) const { return u8(RecordOffset::StatusBytes + i); }  // i 0..7
    std::uint16_t Vbat() const { return u16(RecordOffset::Vbat); }
    std::uint16_t Iin() const { return u16(RecordOffset::Iin); }
    std::uint16_t Isys() const { return u16(RecordOffset::Isys); }
    std::uint16_t Isun(std::size_t i) const { return u16(RecordOffset::Isun + 2 * i); }  // i 0..2
    float Bx() const { return f32(RecordOffset::Bx); }
    float By() const { return f32(RecordOffset::By); }
    float Bz() const { return f32(RecordOffset::Bz); }
    double Longitude() const { return f64(RecordOffset::Longitude); }
    double Latitude() const { return f64(RecordOffset::Latitude); }
    double Altitude() const { return f64(RecordOffset::Altitude); }
    double Velocity() const { return f64(RecordOffset::Velocity); }
    std::int16_t TcpuRaw() const { return i16(RecordOffset::TcpuRaw); }
    std::int16_t Tpsu() const { return i16(RecordOffset::Tpsu); }
    std::int16_t ToutMax() const { return i16(RecordOffset::ToutMax); }
    std::int16_t ToutMin() const { return i16(RecordOffset::ToutMin); }
    std::int32_t Boots() const { return i32(RecordOffset::Boots); }
    std::uint8_t LastBootCause() const { return u8(RecordOffset::LastBootCause); }
    std::uint8_t GpsOn() const { return u8(RecordOffset::GpsOn); }
    std::uint16_t TransponderTime() const { return u16(RecordOffset::TransponderTime); }
    std::uint8_t TransponderOn() const { return u8(RecordOffset::TransponderOn); }
    std::uint16_t Foto(std::size_t i) const { return u16(RecordOffset::Foto + 2 * i); }  // i 0..5

    // Processor temperature in degrees Celsius.
    double TcpuCelsius() const { return TcpuRaw() / 340.0 + 36.53; }
    // The flags count as on only when they hold exactly 1.
    bool gpsIsOn() const { return GpsOn() == 1; }
    bool transponderIsOn() const { return TransponderOn() == 1; }

    void setFlightTime(std::uint32_t v) { setU32(RecordOffset::FlightTime, v); }
    void setMilliseconds(std::uint32_t v) { setU32(RecordOffset::Milliseconds, v); }
    void setStatusByte(std::size_t i, std::uint8_t v) { setU8(RecordOffset::StatusBytes + i, v); }
    void setVbat(std::uint16_t v) { setU16(RecordOffset::Vbat, v); }
    void setIin(std::uint16_t v) { setU16(RecordOffset::Iin, v); }
    void setIsys(std::uint16_t v) { setU16(RecordOffset::Isys, v); }
    void setIsun(std::size_t i, std::uint16_t v) { setU16(RecordOffset::Isun + 2 * i, v); }
    void setBx(float v) { setF32(RecordOffset::Bx, v); }
    void setBy(float v) { setF32(RecordOffset::By, v); }
    void setBz(float v) { setF32(RecordOffset::Bz, v); }
    void setLongitude(double v) { setF64(RecordOffset::Longitude, v); }
    void setLatitude(double v) { setF64(RecordOffset::Latitude, v); }
    void setAltitude(double v) { setF64(RecordOffset::Altitude, v); }
    void setVelocity(double v) { setF64(RecordOffset::Velocity, v); }
    void setTcpuRaw(std::int16_t v) { setI16(RecordOffset::TcpuRaw, v); }
    void setTpsu(std::int16_t v) { setI16(RecordOffset::Tpsu, v); }
    void setToutMax(std::int16_t v) { setI16(RecordOffset::ToutMax, v); }
    void setToutMin(std::int16_t v) { setI16(RecordOffset::ToutMin, v); }
    void setBoots(std::int32_t v) { setI32(RecordOffset::Boots, v); }
    void setLastBootCause(std::uint8_t v) { setU8(RecordOffset::LastBootCause, v); }
    void setGpsOn(std::uint8_t v) { setU8(RecordOffset::GpsOn, v); }
    void setTransponderTime(std::uint16_t v) { setU16(RecordOffset::TransponderTime, v); }
    void setTransponderOn(std::uint8_t v) { setU8(RecordOffset::TransponderOn, v); }
    void setFoto(std::size_t i, std::uint16_t v) { setU16(RecordOffset::Foto + 2 * i, v); }

    // Raw access at any record offset, for the bytes without a name (28, 86..89).
    std::uint8_t u8(std::size_t offset) const { return bytes_.at(offset); }
    std::uint16_t u16(std::size_t offset) const;
    std::uint32_t u32(std::size_t offset) const;
    std::int16_t i16(std::size_t offset) const { return static_cast<std::int16_t>(u16(offset)); }
    std::int32_t i32(std::size_t offset) const { return static_cast<std::int32_t>(u32(offset)); }
    float f32(std::size_t offset) const;
    double f64(std::size_t offset) const;

    void setU8(std::size_t offset, std::uint8_t v) { bytes_.at(offset) = v; }
    void setU16(std::size_t offset, std::uint16_t v);
    void setU32(std::size_t offset, std::uint32_t v);
    void setI16(std::size_t offset, std::int16_t v) { setU16(offset, static_cast<std::uint16_t>(v)); }
    void setI32(std::size_t offset, std::int32_t v) { setU32(offset, static_cast<std::uint32_t>(v)); }
    void setF32(std::size_t offset, float v);
    void setF64(std::size_t offset, double v);

    friend bool operator==(const BeaconRecord&, const BeaconRecord&) = default;

private:
    Bytes bytes_{};
};

// A frame's 131 bytes plus the byte after its marker.
using RawFrame = std::array<std::uint8_t, kRawFrameSize>;

// Builds one 131-byte frame: "Bb", the header low byte first, the record, the marker.
std::string buildBeaconFrame(std::uint16_t header, const BeaconRecord& record);

}  // namespace kestrel
