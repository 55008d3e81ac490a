// The TCP line against a listener of the test's own on 127.0.0.1.

#include "kiss/KissDeframer.h"
#include "kiss/KissTcpClient.h"

#include "support/Beacons.h"
#include "support/TestMailbox.h"
#include "support/TcpListener.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

using namespace kestrel;
using namespace kestrel::test;
using namespace std::chrono_literals;

namespace {

class KissTcpClientTest : public ::testing::Test {
protected:
    TestMailbox mailbox;
    KissTcpClient line{&mailbox};
    std::string received;
    std::vector<bool> freshReads;  // newConnection of each read that got bytes
    std::vector<KissTcpClient::State> states;
    bool reading = true;

    void SetUp() override {
        line.OnRxBytes = [this] {
            if (!reading)
                return;
            char buf[1000];
            bool fresh = false;
            while (std::size_t n = line.Read(buf, sizeof buf, &fresh)) {
                received.append(buf, n);
                freshReads.push_back(fresh);
            }
        };
        line.OnStateChange = [this](KissTcpClient::State s, const std::string&) { states.push_back(s); };
    }
    bool until(const std::function<bool()>& cond, std::chrono::milliseconds limit = 8000ms) {
        return eventually(mailbox, cond, limit);
    }
    bool connected() { return line.GetState() == KissTcpClient::State::Connected; }
    std::string sentToTnc(Listener& tnc, std::size_t size) {
        std::string got;
        until([&] {
            got += tnc.receiveSome();
            return got.size() >= size;
        });
        return got;
    }
};

std::string pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>(i * 31 + i / 251);
    return s;
}

double processCpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

TEST_F(KissTcpClientTest, ReceivesAndSends) {
    Listener tnc;
    line.Open("127.0.0.1", tnc.port());
    ASSERT_TRUE(until([&] { return tnc.accept(); }));
    ASSERT_TRUE(until([&] { return connected(); }));

    // More than the line holds for the main thread: it must stop reading and
    // go on once the main thread has caught up, losing nothing.
    const std::string big = pattern(KissTcpClient::kMaxQueued * 3 + 12345);
    reading = false;
    std::thread sender([&] { tnc.send(big); });
    EXPECT_TRUE(until([&] { return line.BytesWaiting() >= KissTcpClient::kMaxQueued; }));
    mailbox.ServiceUntil([] { return false; }, 200ms);
    EXPECT_LE(line.BytesWaiting(), KissTcpClient::kMaxQueued + 64 * 1024);
    reading = true;
    line.OnRxBytes();
    EXPECT_TRUE(until([&] { return received.size() == big.size(); }));
    sender.join();
    EXPECT_TRUE(received == big);
    EXPECT_TRUE(freshReads.front());

    const std::string frame = EncodeKissDataFrame(escapedBeacon(1));
    ASSERT_TRUE(line.Write(frame));
    EXPECT_EQ(sentToTnc(tnc, frame.size()), frame);
}

TEST_F(KissTcpClientTest, ReconnectsWhenThePeerGoesAwayAndComesBack) {
    Listener tnc;
    line.Open("127.0.0.1", tnc.port());
    ASSERT_TRUE(until([&] { return tnc.accept(); }));
    ASSERT_TRUE(until([&] { return connected(); }));
    tnc.send("first");
    ASSERT_TRUE(until([&] { return received == "first"; }));

    for (bool reset : {false, true}) {
        tnc.dropClient(reset);
        ASSERT_TRUE(until([&] { return line.GetState() == KissTcpClient::State::Lost; })) << "reset " << reset;
        EXPECT_FALSE(line.StateDetail().empty());
        EXPECT_FALSE(line.Write("x")) << "nothing is queued while not connected";
        ASSERT_TRUE(until([&] { return tnc.accept(); })) << "tries again by itself";
        ASSERT_TRUE(until([&] { return connected(); }));
    }
    tnc.send("third");
    ASSERT_TRUE(until([&] { return received == "firstthird"; }));
    EXPECT_TRUE(freshReads.back()) << "a new connection's bytes start a new KISS stream";
    EXPECT_EQ(line.Connections(), 3u);
    ASSERT_TRUE(line.Write("up"));
    EXPECT_EQ(sentToTnc(tnc, 2), "up");
}

TEST_F(KissTcpClientTest, WaitsQuietlyForATncThatIsNotThereYet) {
    int port;
    {
        Listener probe;  // a port nobody listens on once it is closed
        port = probe.port();
    }
    line.Open("127.0.0.1", port);
    ASSERT_TRUE(until([&] { return !line.StateDetail().empty(); }));
    EXPECT_EQ(line.GetState(), KissTcpClient::State::Connecting);

    const double cpu0 = processCpuSeconds();
    mailbox.ServiceUntil([] { return false; }, 2500ms);
    EXPECT_LT(processCpuSeconds() - cpu0, 0.1) << "no busy loop between tries";

    Listener tnc(port);
    ASSERT_TRUE(until([&] { return tnc.accept(); }));
    EXPECT_TRUE(until([&] { return connected(); }));
    line.Close();
    EXPECT_EQ(line.GetState(), KissTcpClient::State::Closed);
    EXPECT_EQ(states.front(), KissTcpClient::State::Connecting);
}
