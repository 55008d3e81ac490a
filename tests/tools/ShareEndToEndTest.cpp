// The real program forwarding what it decodes to the test server: live, and
// across an outage ended by kill -9 and a restart.
#include "SimPort.h"
#include "share/SidsForm.h"
#include "support/Child.h"
#include "support/Eventually.h"
#include "support/ExpectedBeacon.h"
#include "support/Files.h"
#include "support/SidsServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

namespace fs = std::filesystem;
using namespace kestrel;
using namespace kestrel::test;
using namespace std::chrono_literals;

namespace {

std::size_t Queued(const fs::path& outbox) {
    const std::string text = readFile(outbox);
    std::size_t n = 0;
    for (std::size_t p = 0; (p = text.find("Q ", p)) != std::string::npos; ++p)
        if (p == 0 || text[p - 1] == '\n')
            ++n;
    return n;
}

}  // namespace

TEST(ShareEndToEnd, BeaconsReachTheServerLiveAndAfterAKillAndARestart) {
    ScratchDir scratch("kestrel-share-e2e");
    const fs::path work = scratch / "station";
    fs::create_directories(work);
    SidsServer server;
    sim::SimPort pty = sim::SimPort::createPty();
    sim::writeSettingsIni(work.string(), pty.portName(), 9600);
    {
        std::ofstream ini(work / "RS232Settings.ini", std::ios::binary | std::ios::app);
        ini << "[Share]\r\nUrl=" << server.url()
            << "\r\nNoradId=99999\r\nCallsign=N0CALL\r\nLatitude=-33.86\r\nLongitude=8.95564\r\n";
    }
    auto start = [&](const char* out) {
        auto decoder = std::make_unique<Child>(std::vector<std::string>{KESTREL_DECODER}, work, scratch / out, true);
        EXPECT_TRUE(eventually([&] { return pty.peerConfigured() || !decoder->running(); }, 30s));
        return decoder;
    };
    auto send = [&](const std::string& bytes) {
        for (std::size_t sent = 0; sent < bytes.size();)
            sent += pty.writeSome(bytes.data() + sent, bytes.size() - sent);
    };
    std::vector<std::string> beacons;
    for (uint32_t ms : {1500, 2600, 3700, 4800})
        beacons.push_back(expected::firstBeacon(ms));
    auto hex = [&](std::size_t from, std::size_t to) {
        std::vector<std::string> v;
        for (std::size_t i = from; i <= to; ++i)
            v.push_back(HexUpper(beacons[i]));
        return v;
    };

    auto decoder = start("decoder1.out");
    ASSERT_TRUE(decoder->running()) << readFile(scratch / "decoder1.out");
    send("noise" + beacons[0] + "more noise");
    ASSERT_TRUE(eventually([&] { return server.taken().size() == 1; }, 10s)) << readFile(scratch / "decoder1.out");
    EXPECT_EQ(server.taken(), hex(0, 0));
    const SidsServer::Submission first = server.received().front();
    EXPECT_TRUE(first.problems.empty()) << first.problems.front() << "\n" << first.request;
    EXPECT_EQ(first.fields.at("latitude"), "33.86000S");
    std::cout << "The request as the server saw it:\n" << first.request << "\n";

    // Offline: two beacons wait in the outbox when the program is killed.
    server.goDown();
    send(beacons[1] + beacons[2]);
    const fs::path outbox = work / "Telemetry" / "share" / "outbox.txt";
    ASSERT_TRUE(eventually([&] { return Queued(outbox) == 3; }, 10s)) << readFile(outbox);
    kill(decoder->pid(), SIGKILL);
    decoder->waitExit(5s);

    server.comeUp();
    decoder = start("decoder2.out");
    ASSERT_TRUE(eventually([&] { return server.taken().size() == 3; }, 20s)) << readFile(scratch / "decoder2.out");
    send(beacons[3]);
    ASSERT_TRUE(eventually([&] { return server.taken().size() == 4; }, 10s));
    EXPECT_EQ(decoder->terminate(), 0) << readFile(scratch / "decoder2.out");
    EXPECT_EQ(server.taken(), hex(0, 3));  // in order, none twice
    for (const auto& s : server.received())
        EXPECT_TRUE(s.problems.empty()) << s.request;
}

// Two programs on one station folder, each on a TNC of its own, both forward;
// the first is killed with frames waiting and the second sends them too.
TEST(ShareEndToEnd, TwoProgramsOnOneFolderForwardAllWhenOneIsKilled) {
    ScratchDir scratch("kestrel-share-two");
    const fs::path work = scratch / "station";
    fs::create_directories(work);
    SidsServer server;
    server.goDown();
    sim::SimPort ptys[2] = {sim::SimPort::createPty(), sim::SimPort::createPty()};
    std::unique_ptr<Child> decoders[2];
    for (int i = 0; i < 2; ++i) {  // the settings name the second one's port only once the first has read them
        sim::writeSettingsIni(work.string(), ptys[i].portName(), 9600);
        std::ofstream(work / "RS232Settings.ini", std::ios::binary | std::ios::app)
            << "[Share]\r\nUrl=" << server.url()
            << "\r\nNoradId=99999\r\nCallsign=N0CALL\r\nLatitude=-33.86\r\nLongitude=8.95564\r\n";
        decoders[i] = std::make_unique<Child>(std::vector<std::string>{KESTREL_DECODER}, work,
                                              scratch / ("decoder" + std::to_string(i) + ".out"), true);
        ASSERT_TRUE(eventually([&] { return ptys[i].peerConfigured(); }, 30s))
            << readFile(scratch / ("decoder" + std::to_string(i) + ".out"));
    }
    std::vector<std::string> sent;
    for (uint32_t ms = 1000; ms < 5000; ms += 1000) {
        const std::string beacon = expected::firstBeacon(ms);
        sent.push_back(HexUpper(beacon));
        sim::SimPort& pty = ptys[ms / 1000 % 2];
        for (std::size_t done = 0; done < beacon.size();)
            done += pty.writeSome(beacon.data() + done, beacon.size() - done);
    }
    const fs::path share = work / "Telemetry" / "share";
    ASSERT_TRUE(
        eventually([&] { return Queued(share / "outbox.txt") == 2 && Queued(share / "outbox-2.txt") == 2; }, 20s));
    kill(decoders[0]->pid(), SIGKILL);  // the first, holding kestrel.lock
    decoders[0]->waitExit(5s);
    server.comeUp();
    ASSERT_TRUE(eventually([&] { return server.taken().size() == 4; }, 30s)) << readFile(scratch / "decoder1.out");
    std::vector<std::string> taken = server.taken();
    std::sort(taken.begin(), taken.end());
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(taken, sent);
    EXPECT_TRUE(eventually([&] { return !fs::exists(share / "outbox.txt"); }));  // taken over and removed
    EXPECT_EQ(decoders[1]->terminate(), 0) << readFile(scratch / "decoder1.out");
    EXPECT_EQ(server.received().size(), 4u);
}
