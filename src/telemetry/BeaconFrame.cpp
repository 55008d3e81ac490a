// Building and reading beacon frames and telemetry records byte by byte.

#include "telemetry/BeaconFrame.h"

#include <bit>
#include <cstring>
#include <stdexcept>

namespace kestrel {
namespace {

void checkRange(std::size_t offset, std::size_t size) {
    if (offset > kBeaconRecordSize || size > kBeaconRecordSize - offset)
        throw std::out_of_range("beacon record offset out of range");
}

}  // namespace

BeaconRecord BeaconRecord::fromBytes(const void* data) {
    BeaconRecord r;
    std::memcpy(r.bytes_.data(), data, kBeaconRecordSize);
    return r;
}

std::uint16_t BeaconRecord::u16(std::size_t offset) const {
    checkRange(offset, 2);
    return static_cast<std::uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
}

std::uint32_t BeaconRecord::u32(std::size_t offset) const {
    checkRange(offset, 4);
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v |= static_cast<std::uint32_t>(bytes_[offset + i]) << (8 * i);
    return v;
}

float BeaconRecord::f32(std::size_t offset) const { return std::bit_cast<float>(u32(offset)); }

double BeaconRecord::f64(std::size_t offset) const {
    checkRange(offset, 8);
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < 8; ++i)
        v |= static_cast<std::uint64_t>(bytes_[offset + i]) << (8 * i);
    return std::bit_cast<double>(v);
}

void BeaconRecord::setU16(std::size_t offset, std::uint16_t v) {
    checkRange(offset, 2);
    bytes_[offset] = static_cast<std::uint8_t>(v);
    bytes_[offset + 1] = static_cast<std::uint8_t>(v >> 8);
}

void BeaconRecord::setU32(std::size_t offset, std::uint32_t v) {
    checkRange(offset, 4);
    for (std::size_t i = 0; i < 4; ++i)
        bytes_[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void BeaconRecord::setF32(std::size_t offset, float v) { setU32(offset, std::bit_cast<std::uint32_t>(v)); }

void BeaconRecord::setF64(std::size_t offset, double v) {
    checkRange(offset, 8);
    const auto bits = std::bit_cast<std::uint64_t>(v);
    for (std::size_t i = 0; i < 8; ++i)
        bytes_[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

std::string buildBeaconFrame(std::uint16_t header, const BeaconRecord& record) {
    std::string frame;
    frame.reserve(kBeaconFrameSize);
    frame.append(BeaconStartBytes);
    frame.push_back(static_cast<char>(header & 0xFF));
    frame.push_back(static_cast<char>(header >> 8));
    frame.append(reinterpret_cast<const char*>(record.bytes().data()), kBeaconRecordSize);
    frame.append(TrailerMarker);
    return frame;
}

}  // namespace kestrel
