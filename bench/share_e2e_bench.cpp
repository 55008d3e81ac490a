// The running program forwarding 200 beacons while the server goes away for
// 30 s and the program is killed (SIGKILL) three times and started again:
// how many beacons never reached the server, how many came twice, and how
// long after decoding each beacon was on the server while it was up.
//
// Beacons go in at four a second over a pseudo-terminal; before each kill the
// test waits until the program has decoded what was sent, so every beacon
// counts. Kills: while online, during the outage, while catching up after it.
#include "SimPort.h"
#include "share/SidsForm.h"
#include "support/Child.h"
#include "support/Eventually.h"
#include "support/ExpectedBeacon.h"
#include "support/Files.h"
#include "support/SidsServer.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using namespace kestrel;
using namespace kestrel::test;
using namespace std::chrono;

namespace {

// Lines of all BeaconTextLogs, after their four header lines.
std::size_t Decoded(const fs::path& work) {
    std::size_t n = 0;
    for (const auto& f : filesIn(work / "Telemetry" / "Decoded")) {
        const std::string text = readFile(f);
        const auto lines = std::count(text.begin(), text.end(), '\n');
        n += lines > 4 ? std::size_t(lines - 4) : 0;
    }
    return n;
}

system_clock::time_point FromTimestamp(const std::string& ts) {
    std::tm tm{};
    std::istringstream in(ts);
    in >> std::get_time(&tm, "%Y-%m-%dT%H:%M:%S");
    const int ms = std::stoi(ts.substr(20, 3));
    return system_clock::from_time_t(timegm(&tm)) + milliseconds(ms);
}

}  // namespace

int main() {
    ScratchDir scratch("kestrel-share-e2e-bench");
    const fs::path work = scratch / "station";
    fs::create_directories(work);
    SidsServer server;
    sim::SimPort pty = sim::SimPort::createPty();
    sim::writeSettingsIni(work.string(), pty.portName(), 9600);
    std::ofstream(work / "RS232Settings.ini", std::ios::binary | std::ios::app)
        << "[Share]\r\nUrl=" << server.url()
        << "\r\nNoradId=99999\r\nCallsign=N0CALL\r\nLatitude=49.73145\r\nLongitude=8.95564\r\n";

    std::unique_ptr<Child> decoder;
    int runs = 0;
    auto start = [&] {
        decoder = std::make_unique<Child>(std::vector<std::string>{KESTREL_DECODER}, work,
                                          scratch / ("decoder" + std::to_string(++runs) + ".out"), true);
        eventually([&] { return pty.peerConfigured(); }, seconds(30));
    };
    constexpr int kBeacons = 200;
    const int outageFrom = 50, outageTo = 170;  // 120 beacons at 4 a second: 30 s
    const int kills[] = {30, 100, 175};
    std::map<std::string, int> index;  // hex -> beacon number
    std::vector<bool> online(kBeacons);
    start();
    for (int i = 0; i < kBeacons; ++i) {
        if (i == outageFrom)
            server.goDown();
        if (i == outageTo)
            server.comeUp();
        if (std::find(std::begin(kills), std::end(kills), i) != std::end(kills)) {
            if (!eventually([&] { return Decoded(work) == std::size_t(i); }, seconds(10),
                            [] { std::this_thread::sleep_for(milliseconds(10)); }))
                std::printf("only %zu of %d beacons decoded before a kill\n", Decoded(work), i);
            kill(decoder->pid(), SIGKILL);
            decoder->waitExit(seconds(5));
            start();
        }
        const std::string beacon = expected::firstBeacon(1000 + 1100 * std::uint32_t(i));
        index[HexUpper(beacon)] = i;
        online[std::size_t(i)] = i < outageFrom;
        for (std::size_t sent = 0; sent < beacon.size();)
            sent += pty.writeSome(beacon.data() + sent, beacon.size() - sent);
        std::this_thread::sleep_for(milliseconds(250));
    }
    eventually([&] { return server.taken().size() >= std::size_t(kBeacons); }, seconds(60));
    decoder->terminate();

    std::vector<int> seen(kBeacons);
    std::vector<double> latency;
    for (const auto& s : server.received()) {
        if (s.answered / 100 != 2)
            continue;
        const int i = index.at(s.fields.at("frame"));
        if (++seen[std::size_t(i)] == 1 && online[std::size_t(i)] &&
            std::find(std::begin(kills), std::end(kills), i) == std::end(kills))
            latency.push_back(duration<double, std::milli>(s.at - FromTimestamp(s.fields.at("timestamp"))).count());
    }
    const int lost = int(std::count(seen.begin(), seen.end(), 0));
    int twice = 0;
    for (int n : seen)
        twice += n > 1 ? n - 1 : 0;
    std::sort(latency.begin(), latency.end());
    std::printf(
        "%d beacons, a 30 s outage, 3 kill -9 restarts: %d decoded, %d lost, %d duplicates "
        "(goal: 0 lost, at most 3 duplicates)\n",
        kBeacons, int(Decoded(work)), lost, twice);
    std::printf(
        "decoding to on the server, %zu beacons while it was up: median %.0f ms, longest %.0f ms "
        "(goal < 2000; the timestamp has milliseconds, the clocks are one)\n",
        latency.size(), latency[latency.size() / 2], latency.back());
    return lost != 0 || twice > 3 || latency.back() >= 2000;
}
