// The forwarder against the test server: what arrives, in which order, and
// what happens when the server is away, refuses, or cannot be trusted.
#include "share/Forwarder.h"
#include "share/Outbox.h"
#include "share/SidsForm.h"
#include "support/Eventually.h"
#include "support/Files.h"
#include "support/ForwardingFileSystem.h"
#include "support/SidsServer.h"

#include "telemetry/InOutError.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace kestrel;
using namespace kestrel::test;
using namespace std::chrono_literals;

namespace {

std::string Form(int i) {
    SidsFrame f;
    f.noradId = 99999;
    f.source = "N0CALL";
    f.utc = SystemTime{2026, 12, 3, 9, 8, 57, 0, std::uint16_t(i % 1000)};
    const std::string bytes = "Bb frame " + std::to_string(i);
    f.frame = bytes;
    f.latitude = 49.73145;
    f.longitude = 8.95564;
    return FormEncode(SidsFields(f));
}

std::string Hex(int i) { return HexUpper("Bb frame " + std::to_string(i)); }

std::vector<std::string> Hexes(int from, int to) {
    std::vector<std::string> v;
    for (int i = from; i <= to; ++i)
        v.push_back(Hex(i));
    return v;
}

// A forwarder on a scratch outbox, retrying quickly.
struct Station {
    Station(const ScratchDir& dir, std::string url, std::string caFile = {}, IFileSystem& fs = systemFileSystem(),
            std::chrono::milliseconds longestRetry = 100ms) {
        ForwarderOptions o;
        o.url = std::move(url);
        o.caFile = std::move(caFile);
        o.firstRetry = 20ms;
        o.longestRetry = longestRetry;
        forwarder = std::make_unique<Forwarder>(CreateHttpTransport(), outbox(dir), rejects(dir), o, fs);
        forwarder->Start();
    }
    static std::string outbox(const ScratchDir& dir) { return (dir / "share" / "outbox.txt").string(); }
    static std::string rejects(const ScratchDir& dir) { return (dir / "share" / "rejects.txt").string(); }
    static std::size_t waiting(const ScratchDir& dir) {
        Outbox box(systemFileSystem(), outbox(dir));
        box.Open();
        return box.Waiting();
    }
    std::unique_ptr<Forwarder> forwarder;
};

// The system's file system on which the outbox cannot be opened or written
// while `full` says so.
struct FullDisk : ForwardingFileSystem {
    std::atomic<bool> full{false};
    FileHandle openOrCreate(const std::string& p) override {
        if (full)
            throw EInOutError::fromCode(kIoDiskFull);
        return target_.openOrCreate(p);
    }
    void write(FileHandle f, const void* data, std::size_t size) override {
        if (full)
            throw EInOutError::fromCode(kIoDiskFull);
        target_.write(f, data, size);
    }
};

bool Settled(Forwarder& f) { return f.State().queued == 0; }

}  // namespace

TEST(Forwarder, SendsEachFrameWithEveryFieldInOrder) {
    ScratchDir dir;
    SidsServer server;
    {
        Station station(dir, server.url());
        for (int i = 1; i <= 3; ++i)
            station.forwarder->Submit(Form(i));
        ASSERT_TRUE(eventually([&] { return server.taken().size() == 3; }, 10s));
        EXPECT_TRUE(eventually([&] { return station.forwarder->State().sent == 3; }));
    }
    EXPECT_EQ(server.taken(), Hexes(1, 3));
    for (const auto& s : server.received()) {
        EXPECT_TRUE(s.problems.empty()) << s.problems.front() << "\n" << s.request;
        EXPECT_EQ(s.fields.at("latitude"), "49.73145N");
    }
    EXPECT_EQ(Station::waiting(dir), 0u);
}

TEST(Forwarder, AnOutageDelaysFramesButLosesAndRepeatsNone) {
    ScratchDir dir;
    SidsServer server;
    Station station(dir, server.url());
    server.goDown();
    for (int i = 1; i <= 3; ++i)
        station.forwarder->Submit(Form(i));
    ASSERT_TRUE(eventually([&] { return station.forwarder->State().offline; }));
    server.comeUp();
    server.answer(SidsServer::Answer::ServerError);
    for (int i = 4; i <= 5; ++i)
        station.forwarder->Submit(Form(i));
    ASSERT_TRUE(eventually([&] { return server.received().size() >= 2; }));
    server.answer(SidsServer::Answer::Created);
    ASSERT_TRUE(eventually([&] { return Settled(*station.forwarder); }, 10s));
    EXPECT_EQ(server.taken(), Hexes(1, 5));
    EXPECT_FALSE(station.forwarder->State().offline);
    EXPECT_TRUE(station.forwarder->TakeNotices().empty());  // quietly
}

TEST(Forwarder, ARefusedFrameIsKeptAsideOnceWhileLaterFramesGoOn) {
    ScratchDir dir;
    SidsServer server;
    server.refuseFrame(Hex(2));
    server.refuseFrame(Hex(3));
    {
        Station station(dir, server.url());
        for (int i = 1; i <= 4; ++i)
            station.forwarder->Submit(Form(i));
        ASSERT_TRUE(eventually([&] { return Settled(*station.forwarder); }, 10s));
        const auto notices = station.forwarder->TakeNotices();
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_NE(notices[0].find("HTTP 400 Bad Request"), std::string::npos) << notices[0];
        EXPECT_NE(notices[0].find("not valid for this satellite"), std::string::npos) << notices[0];
        EXPECT_EQ(station.forwarder->State().refused, 2u);
    }
    EXPECT_EQ(server.taken(), (std::vector<std::string>{Hex(1), Hex(4)}));
    EXPECT_EQ(server.received().size(), 4u);  // each refused one asked once
    const std::string rejects = readFile(Station::rejects(dir));
    EXPECT_NE(rejects.find("\t400\t"), std::string::npos) << rejects;
    EXPECT_NE(rejects.find(Hex(3)), std::string::npos);
    EXPECT_EQ(Station::waiting(dir), 0u);
}

TEST(Forwarder, AServerItCannotTrustGetsNothingAndTheFramesWait) {
    ScratchDir dir;
    SidsServer server(TestPki::Make(dir.path(), "team"));
    const TestPki stranger = TestPki::Make(dir.path(), "stranger");
    for (const std::string& caFile : {std::string(), stranger.caCert}) {  // the system's alone, or the wrong one
        Station station(dir, server.url(), caFile);
        if (caFile.empty())
            station.forwarder->Submit(Form(1));
        ASSERT_TRUE(eventually([&] { return station.forwarder->State().offline; }, 10s));
        const auto notices = station.forwarder->TakeNotices();
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_NE(notices[0].find("certificate"), std::string::npos) << notices[0];
    }
    EXPECT_TRUE(server.received().empty());
    EXPECT_EQ(Station::waiting(dir), 1u);
    // Trusting the team's authority, the frame that waited goes out.
    Station station(dir, server.url(), (dir / "team" / "ca.pem").string());
    ASSERT_TRUE(eventually([&] { return server.taken().size() == 1; }, 10s));
    EXPECT_TRUE(server.received().front().problems.empty());
}

TEST(Forwarder, ShutDownLeavesAnUnansweredFrameInTheOutbox) {
    ScratchDir dir;
    SidsServer server;
    server.answer(SidsServer::Answer::Never);
    Station station(dir, server.url());
    station.forwarder->Submit(Form(1));
    ASSERT_TRUE(eventually([&] { return server.received().size() == 1; }, 10s));
    const auto start = std::chrono::steady_clock::now();
    station.forwarder->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);  // bounded, not timed: the bound is 1 s
    EXPECT_EQ(Station::waiting(dir), 1u);
}

// Queued for an address since corrected: they go to the new one.
TEST(Forwarder, TenThousandQueuedGoOutInOrderAfterARestart) {
    ScratchDir dir;
    SidsServer server;
    constexpr int kQueued = 10000;
    {
        Outbox box(systemFileSystem(), Station::outbox(dir));
        box.Open();
        for (int i = 1; i <= kQueued; ++i)
            box.Add(Form(i));
        box.Settle(box.Front()->id, false);
    }
    Station station(dir, server.url());
    ASSERT_TRUE(eventually([&] { return Settled(*station.forwarder); }, 100s));
    EXPECT_EQ(server.taken(), Hexes(2, kQueued));
}

// A rate limit delays frames as long as the server asks, and loses none.
TEST(Forwarder, ATemporaryRefusalWaitsAsAskedAndLosesNothing) {
    ScratchDir dir;
    SidsServer server;
    server.answer(SidsServer::Answer::TooManyRequests);
    server.retryAfter("1");
    Station station(dir, server.url(), {}, systemFileSystem(), 5s);
    for (int i = 1; i <= 3; ++i)
        station.forwarder->Submit(Form(i));
    ASSERT_TRUE(eventually([&] { return server.received().size() >= 2; }, 10s));
    server.answer(SidsServer::Answer::Created);
    ASSERT_TRUE(eventually([&] { return Settled(*station.forwarder); }, 10s));
    const auto got = server.received();
    // Without the header the next try would come after 20 ms.
    EXPECT_GE(got[1].at - got[0].at, 900ms);
    EXPECT_EQ(server.taken(), Hexes(1, 3));
    EXPECT_EQ(station.forwarder->State().refused, 0u);
    EXPECT_TRUE(station.forwarder->TakeNotices().empty());
    EXPECT_FALSE(std::filesystem::exists(Station::rejects(dir)));
}

TEST(Forwarder, ARedirectIsNotFollowedAndSaidOnce) {
    ScratchDir dir;
    SidsServer server;
    server.answer(SidsServer::Answer::Moved);
    Station station(dir, server.url());
    station.forwarder->Submit(Form(1));
    station.forwarder->Submit(Form(2));
    ASSERT_TRUE(eventually([&] { return server.received().size() >= 3; }, 10s));
    const auto notices = station.forwarder->TakeNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("HTTP 301 (moved to /api/moved/)"), std::string::npos) << notices[0];
    EXPECT_TRUE(station.forwarder->State().offline);
    server.answer(SidsServer::Answer::Created);
    ASSERT_TRUE(eventually([&] { return Settled(*station.forwarder); }, 10s));
    EXPECT_EQ(server.taken(), Hexes(1, 2));
    for (const auto& s : server.received())
        EXPECT_TRUE(s.problems.empty()) << s.request;  // each one a POST to the same place
}

// A share folder that cannot be written, at start-up or later: frames are
// still sent, held in memory, and written once it can be.
TEST(Forwarder, FramesTheOutboxCannotTakeAreHeldAndWrittenLater) {
    ScratchDir dir;
    SidsServer server;
    server.goDown();
    FullDisk disk;
    disk.full = true;
    Station station(dir, server.url(), {}, disk);
    station.forwarder->Submit(Form(1));
    station.forwarder->Submit(Form(2));
    EXPECT_EQ(station.forwarder->State().held, 2u);
    const auto notices = station.forwarder->TakeNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("held in memory"), std::string::npos) << notices[0];
    disk.full = false;  // written without another frame coming
    ASSERT_TRUE(eventually([&] { return station.forwarder->State().held == 0; }, 10s));
    EXPECT_EQ(Station::waiting(dir), 2u);
    server.comeUp();
    ASSERT_TRUE(eventually([&] { return Settled(*station.forwarder); }, 10s));
    EXPECT_EQ(server.taken(), Hexes(1, 2));
    station.forwarder->Stop();
    EXPECT_EQ(Station::waiting(dir), 0u);
}

namespace {

// Every file below dir, read whole.
std::string AllFiles(const ScratchDir& dir) {
    std::string all;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path()))
        if (e.is_regular_file())
            all += readFile(e.path()) + "\n";
    return all;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& l : lines)
        all += l + "\n";
    return all;
}

}  // namespace

// A wrong path, token or proxy is the station's to mend: the frames wait,
// what to mend is said once per answer, and they all go out once the Url is
// corrected at a restart. The Url's token is in no file and no notice.
TEST(Forwarder, AnswersThatBlameTheSettingsKeepFramesWaitingUntilTheUrlIsMended) {
    ScratchDir dir;
    SidsServer server;
    std::atomic<int> status{404};
    server.answerPosts([&](const SidsServer::Submission& s) {
        const bool right = s.request.rfind("POST /api/telemetry/?token=", 0) == 0;
        return SidsServer::Reply{right ? 201 : status.load(), "", "{\"detail\": \"no\"}"};
    });
    server.refuseFrame(Hex(3));
    std::string notices;
    {
        Station station(dir, server.url() + "v2/?token=SECRET7#SECRET8");
        for (int i = 1; i <= 3; ++i)
            station.forwarder->Submit(Form(i));
        for (const int s : {404, 401, 403, 405, 407}) {
            status = s;
            const std::string text = (s == 407 ? "Proxy: HTTP " : "Share: HTTP ") + std::to_string(s);
            ASSERT_TRUE(eventually([&] { return station.forwarder->State().faultText == text; }, 10s));
            const std::size_t asked = server.received().size();
            ASSERT_TRUE(eventually([&] { return server.received().size() > asked; }, 10s));  // asked again
            const ForwarderState state = station.forwarder->State();
            EXPECT_EQ(state.queued, 3u);
            EXPECT_NE(state.fault.find(s == 407 ? "proxy" : "Url"), std::string::npos) << state.fault;
            const std::vector<std::string> said = station.forwarder->TakeNotices();
            ASSERT_EQ(said.size(), 1u) << Joined(said);  // once, however often it is answered
            EXPECT_EQ(said[0], state.fault);
            notices += said[0] + "\n";
        }
        EXPECT_NE(notices.find("HTTP 404 (Not Found): there is no such place on the server; check the Url's path"),
                  std::string::npos)
            << notices;
        EXPECT_NE(notices.find(server.url() + "v2/?token=***"), std::string::npos) << notices;
    }
    Station station(dir, server.url() + "?token=SECRET7");
    ASSERT_TRUE(eventually([&] { return Settled(*station.forwarder); }, 10s));
    EXPECT_EQ(server.taken(), (std::vector<std::string>{Hex(1), Hex(2)}));
    EXPECT_EQ(station.forwarder->State().refused, 1u);  // a bad frame is the frame's fault
    notices += Joined(station.forwarder->TakeNotices());
    station.forwarder->Stop();
    EXPECT_NE(readFile(Station::rejects(dir)).find(Hex(3)), std::string::npos);
    EXPECT_EQ((AllFiles(dir) + notices).find("SECRET"), std::string::npos) << AllFiles(dir) << notices;
}

// "Retry-After: 0", a date gone by, or a station clock ahead of the server's
// never make the wait shorter than the usual one.
TEST(Forwarder, RetryAfterNeverShortensTheUsualWait) {
    ScratchDir dir;
    SidsServer server;
    std::atomic<int> asked{0};
    server.answerPosts([&](const SidsServer::Submission&) {
        switch (asked++) {
        case 0:
        case 1: return SidsServer::Reply{429, "Retry-After: 0\r\n", ""};
        case 2: return SidsServer::Reply{503, "Retry-After: Wed, 09 Dec 2020 08:00:00 GMT\r\n", ""};
        // A second later by the server's clock, which is years behind this one.
        case 3:
            return SidsServer::Reply{
                429, "Date: Wed, 09 Dec 2020 08:00:00 GMT\r\nRetry-After: Wed, 09 Dec 2020 08:00:01 GMT\r\n", ""};
        default: return SidsServer::Reply{201, "", ""};
        }
    });
    ForwarderOptions o;
    o.url = server.url();
    o.firstRetry = 100ms;
    Forwarder forwarder(CreateHttpTransport(), Station::outbox(dir), Station::rejects(dir), o);
    forwarder.Start();
    forwarder.Submit(Form(1));
    ASSERT_TRUE(eventually([&] { return Settled(forwarder); }, 20s));
    const auto got = server.received();
    ASSERT_EQ(got.size(), 5u);
    for (std::size_t i = 1; i < 4; ++i)  // 100, 200 and 400 ms at least
        EXPECT_GE(got[i].at - got[i - 1].at, 100ms * (1 << (i - 1)) - 10ms) << i;
    EXPECT_GE(got[4].at - got[3].at, 990ms);
}

// The server took the frame when it said 201: a body that breaks off after
// the head does not have it sent again.
TEST(Forwarder, A201WhoseBodyBreaksOffCountsAsSent) {
    ScratchDir dir;
    SidsServer server;
    server.answerPosts([](const SidsServer::Submission&) { return SidsServer::Reply{201, "", "{\"id\": 1", true}; });
    Station station(dir, server.url());
    for (int i = 1; i <= 3; ++i)
        station.forwarder->Submit(Form(i));
    ASSERT_TRUE(eventually([&] { return Settled(*station.forwarder); }, 10s));
    EXPECT_EQ(server.received().size(), 3u);
    EXPECT_EQ(station.forwarder->State().sent, 3u);
}
