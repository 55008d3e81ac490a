// The decoder: the readable lines of a beacon's telemetry.

#include "telemetry/Decoder.h"

#include "telemetry/TextFormat.h"

namespace kestrel {

std::vector<std::string> decodedInfoLines(const BeaconRecord& r, std::uint32_t beaconCounter,
                                          const SystemTime& localTime) {
    std::vector<std::string> lines;
    lines.reserve(25);
    lines.push_back("Received ZZ0KR beacon packets= " + formatUnsigned(beaconCounter));

    std::string received = "Received:  " + formatDate(localTime);
    // At midnight the date stands alone.
    if (localTime.hour != 0 || localTime.minute != 0 || localTime.second != 0)
        received += " " + formatTime(localTime);
    lines.push_back(std::move(received));

    lines.push_back("Flight time = " + formatUnsigned(r.FlightTime(), 3) + " s");
    lines.push_back("Vbat = " + formatUnsigned(r.Vbat(), 4) + " mV");
    lines.push_back("Iin = " + formatUnsigned(r.Iin(), 4) + " mA");
    lines.push_back("Isys = " + formatUnsigned(r.Isys(), 4) + " mA");
    lines.push_back("Isun(1..3) = [" + formatUnsigned(r.Isun(0), 4) + "  " + formatUnsigned(r.Isun(1), 4) + "  " +
                    formatUnsigned(r.Isun(2), 4) + "] mA");

    std::string foto = "Foto(1..6)=[";
    for (std::size_t i = 0; i < kFotoCount; ++i)
        foto += formatUnsigned(r.Foto(i), 3) + " ";
    lines.push_back(foto + "]");

    std::string status = "Status=";
    for (std::size_t i = 0; i < kStatusByteCount; ++i)
        status += "0x" + formatHex2(r.StatusByte(i)) + " ";
    lines.push_back(std::move(status));

    lines.push_back("Bx = " + formatFixedPane(r.Bx(), 1) + " uT");
    lines.push_back("By = " + formatFixedPane(r.By(), 1) + " uT");
    lines.push_back("Bz = " + formatFixedPane(r.Bz(), 1) + " uT");
    lines.push_back("Tcpu = " + formatFixedPane(r.TcpuCelsius(), 1) + " C");
    lines.push_back("Tpsu = " + formatSigned(r.Tpsu(), 2) + " C");
    lines.push_back("Tout_min = " + formatSigned(r.ToutMin(), 2) + " C");
    lines.push_back("Tout_max = " + formatSigned(r.ToutMax(), 2) + " C");
    lines.push_back("Boots = " + formatSigned(r.Boots()));
    lines.push_back("Last boot cause = " + formatSigned(r.LastBootCause()));
    lines.emplace_back();

    if (r.gpsIsOn()) {
        lines.emplace_back("GPS ON");
        lines.push_back("lattitude = " + formatFixedPane(r.Latitude(), 6) + " deg");
        lines.push_back("longitude = " + formatFixedPane(r.Longitude(), 6) + " deg");
        lines.push_back("altitude = " + formatFixedPane(r.Altitude(), 0) + " ");
        lines.push_back("velocity = " + formatFixedPane(r.Velocity(), 0) + " ");
    } else {
        lines.emplace_back("GPS OFF");
    }
    lines.emplace_back(r.transponderIsOn() ? "Linear transponder ON" : "Linear transponder OFF");
    return lines;
}

std::vector<std::string> Decoder::aDecodeTelemetry1Execute(const BeaconRecord& currentRecord, const SystemTime& utc) {
    // The counter wraps like the 32-bit integer it is.
    beaconCounter_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(beaconCounter_) + 1u);
    return decodedInfoLines(currentRecord, static_cast<std::uint32_t>(beaconCounter_), clock_.localTime(utc));
}

}  // namespace kestrel
