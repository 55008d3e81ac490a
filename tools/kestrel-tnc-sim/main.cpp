// kestrel-tnc-sim: a simulated TNC. It offers the decoder a serial line (a
// pseudo-terminal, or a real device), sends beacons or replays a recorded raw
// log into it, and shows whatever the decoder sends back.
//
// In order: the usage text; the command line; the Simulator (the line opened,
// beacons or a replayed log sent at the chosen pace, what comes back shown);
// main.

#include "SimBeacons.h"
#include "SimEcho.h"
#include "SimPort.h"

#include "kiss/KissDeframer.h"
#include "station/CommandLine.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <string>

using namespace kestrel;
using namespace kestrel::sim;

namespace {

const char* const kUsage = R"(Usage: kestrel-tnc-sim [options]

A simulated TNC for the KESTREL telemetry decoder. It creates a pseudo-terminal
pair (or opens a serial device), prints the port name to give the decoder, and
sends beacons with varying telemetry into the line, or replays a recorded
RawByteLog. Whatever the decoder sends back (typed text, F9, Ctrl+T beacons) is
printed as text and hex; beacons in it are decoded. Stops on Ctrl+C or SIGTERM.

Line:
  --device PATH        use this serial device instead of a pseudo-terminal
  --baud N             baud rate for the device and the settings file (default 9600)
  --write-ini DIR      point the decoder in DIR at the port: sets the port's keys
                       in DIR/RS232Settings.ini, keeps every other setting
  --no-wait            send at once; by default a pseudo-terminal waits until the
                       decoder has opened the port
  --tcp PORT           be a software TNC's KISS port instead: listen on
                       127.0.0.1:PORT (0: any free port) and serve one client at
                       a time, in KISS framing (implies --kiss)

KISS (as software TNCs hand out packets):
  --kiss               wrap what is sent in KISS data frames for port 0, each
                       with an AX.25 header in front of the beacon; every second
                       beacon's telemetry then holds 0xC0 and 0xDB, which KISS
                       escapes. What comes back is de-framed before decoding.
  --kiss-other-ports   mix in frames for other TNC ports (copies of the beacon,
                       which must not be decoded), command frames and garbage
                       between frames
  --escape-bytes       every second beacon holds 0xC0 and 0xDB also without --kiss

Beacons (the default):
  --interval SECONDS   time between beacons (default 2)
  --count N            send N beacons, then stop (0: send none, only listen and
                       show what the decoder sends; default: run until stopped)
  --noise N            up to N random bytes of line noise after each beacon (default 0)
  --damage PERCENT     share of beacons sent with a byte lost or added (default 0)
  --seed N             seed of the telemetry's jitter; equal seeds, equal beacons (default 1)

Replay:
  --replay FILE        send the bytes of FILE (a RawByteLog) instead of beacons
  --rate BYTES_PER_S   replay speed (default 960, about 9600 baud)

Output:
  --sent-log FILE      write a copy of every byte sent to FILE
  --quiet              do not print each beacon sent
  -h, --help           show this help
  --version            show the version

Example (the decoder then runs in /tmp/station):
  kestrel-tnc-sim --write-ini /tmp/station --interval 1 --noise 20 --damage 10
)";

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) { g_stop = 1; }

struct Options {
    std::string device;
    int baud = 9600;
    std::string iniDir;
    bool wait = true;
    int tcpPort = -1;
    bool kiss = false;
    bool kissOtherPorts = false;
    double interval = 2.0;
    long count = -1;
    BeaconOptions beacons;
    std::string replay;
    double rate = 960;
    std::string sentLog;
    bool quiet = false;
};

[[noreturn]] void usageError(const std::string& msg) {
    std::cerr << "kestrel-tnc-sim: " << msg << "\nUsage: kestrel-tnc-sim [options]  (see --help)\n";
    std::exit(2);
}

double number(const std::string& opt, const char* text, double lo, double hi) {
    // from_chars: a "." whatever the locale, as every tool writes numbers.
    const std::string_view s(text);
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || !(v >= lo && v <= hi))
        usageError("bad value '" + std::string(text) + "' for " + opt);
    return v;
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::cout << kUsage;
            std::exit(0);
        }
        if (a == "--version") {
            std::cout << VersionText("kestrel-tnc-sim");
            std::exit(0);
        }
        if (a == "--no-wait") {
            o.wait = false;
            continue;
        }
        if (a == "--quiet") {
            o.quiet = true;
            continue;
        }
        if (a == "--kiss") {
            o.kiss = true;
            continue;
        }
        if (a == "--kiss-other-ports") {
            o.kiss = o.kissOtherPorts = true;
            continue;
        }
        if (a == "--escape-bytes") {
            o.beacons.escapeBytes = true;
            continue;
        }
        static const char* const kValueOptions[] = {"--device",   "--tcp",    "--baud",  "--write-ini",
                                                    "--interval", "--count",  "--noise", "--damage",
                                                    "--seed",     "--replay", "--rate",  "--sent-log"};
        if (std::find(std::begin(kValueOptions), std::end(kValueOptions), a) == std::end(kValueOptions))
            usageError(a.rfind("-", 0) == 0 ? "unknown option " + a : "unexpected argument " + a);
        if (i + 1 >= argc)
            usageError(a + " needs a value");
        const char* v = argv[++i];
        if (a == "--device")
            o.device = v;
        else if (a == "--tcp")
            o.tcpPort = static_cast<int>(number(a, v, 0, 65535));
        else if (a == "--baud")
            o.baud = static_cast<int>(number(a, v, 50, 4000000));
        else if (a == "--write-ini")
            o.iniDir = v;
        else if (a == "--interval")
            o.interval = number(a, v, 0.01, 86400);
        else if (a == "--count")
            o.count = static_cast<long>(number(a, v, 0, 1e9));
        else if (a == "--noise")
            o.beacons.noiseBytes = static_cast<unsigned>(number(a, v, 0, 100000));
        else if (a == "--damage")
            o.beacons.damagePercent = static_cast<unsigned>(number(a, v, 0, 100));
        else if (a == "--seed")
            o.beacons.seed = static_cast<uint32_t>(number(a, v, 0, 4294967295.0));
        else if (a == "--replay")
            o.replay = v;
        else if (a == "--rate")
            o.rate = number(a, v, 1, 1e7);
        else if (a == "--sent-log")
            o.sentLog = v;
        else
            usageError("unknown option " + a);
    }
    if (o.tcpPort >= 0) {
        if (!o.device.empty())
            usageError("--tcp and --device exclude each other");
        o.kiss = true;
    }
    if (o.kiss)
        o.beacons.escapeBytes = true;
    return o;
}

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

class Simulator {
public:
    Simulator(const Options& o, SimPort& port)
        : o_(o),
          port_(port),
          beacons_(o.beacons),
          kiss_(o.kissOtherPorts, o.beacons.seed + 1),
          echo_([](const std::vector<std::string>& lines) {
              std::printf("<- beacon found in what the decoder sent:\n");
              for (const auto& l : lines)
                  std::printf("     %s\n", l.c_str());
          }) {
        if (!o.sentLog.empty()) {
            sentLog_.open(o.sentLog, std::ios::binary | std::ios::trunc);
            if (!sentLog_)
                throw std::runtime_error("cannot write " + o.sentLog);
        }
        if (!o.replay.empty()) {
            std::ifstream in(o.replay, std::ios::binary);
            if (!in)
                throw std::runtime_error("cannot read " + o.replay);
            replayData_.assign(std::istreambuf_iterator<char>(in), {});
        }
    }

    int run() {
        bool announced = false;
        bool started = false;
        while (!g_stop) {
            if (connected_ && port_.isTcp() && !port_.peerConfigured()) {
                // One client at a time: what was due for the one gone is dropped.
                std::printf("client went away; waiting for the next on %s ...\n", port_.portName().c_str());
                connected_ = false;
                pending_.clear();
                echoDeframer_.Reset();
            }
            if (!connected_) {
                connected_ = !o_.wait || port_.peerConfigured();
                if (connected_) {
                    if (announced)
                        std::printf("decoder connected\n");
                    // A later TCP client joins the running schedule.
                    if (!started)
                        start_ = Clock::now();
                    started = true;
                } else if (!announced) {
                    std::printf("waiting for the decoder to %s %s ...\n", port_.isTcp() ? "connect to" : "open",
                                port_.portName().c_str());
                    announced = true;
                }
            }
            if (connected_ && !sendDue())
                break;
            pollOnce();
        }
        flushPending();
        if (connected_ && !port_.drain(g_stop ? 500 : 5000))
            std::printf("(the decoder did not take all that was sent)\n");
        std::printf("stopped: %lu bytes sent, %ld beacons (%ld damaged), %lu bytes received\n", sentBytes_,
                    beaconsSent_, damagedSent_, receivedBytes_);
        return 0;
    }

private:
    // Sends what is due now; false once everything there is to send has gone.
    bool sendDue() {
        flushPending();
        if (!pending_.empty())
            return true;
        if (!o_.replay.empty()) {
            if (replayPos_ >= replayData_.size()) {
                std::printf("replay finished: %zu bytes\n", replayData_.size());
                return false;
            }
            auto due = static_cast<std::size_t>(secondsSince(start_) * o_.rate) + 1;
            if (due > replayData_.size())
                due = replayData_.size();
            if (due > replayPos_) {
                // A replayed log goes out as it was recorded, KISS framing included.
                pending_.assign(replayData_, replayPos_, due - replayPos_);
                replayPos_ = due;
                flushPending();
            }
            return true;
        }
        if (o_.count == 0)
            return true;  // listening only
        if (o_.count > 0 && beaconsSent_ >= o_.count)
            return false;
        const double t = secondsSince(start_);
        if (t < beaconsSent_ * o_.interval)
            return true;
        const BeaconSource::Transmission tx = beacons_.nextTransmission(beaconsSent_ * o_.interval);
        const BeaconRecord& r = tx.record;
        pending_ = o_.kiss ? kiss_.wrap(tx.bytes) : tx.bytes;
        ++beaconsSent_;
        damagedSent_ += tx.damaged;
        if (!o_.quiet)
            std::printf("-> beacon %ld: flight time %u s, Vbat %u mV, Iin %u mA, Tout %d..%d C, GPS %s%s (%zu bytes)\n",
                        beaconsSent_, r.FlightTime(), r.Vbat(), r.Iin(), r.ToutMin(), r.ToutMax(),
                        r.gpsIsOn() ? "on" : "off", tx.damaged ? ", DAMAGED" : "", pending_.size());
        flushPending();
        return true;
    }

    void flushPending() {
        while (!pending_.empty()) {
            std::size_t n = port_.writeSome(pending_.data(), pending_.size());
            if (n == 0) {
                if (!warnedFull_) {
                    std::printf("(the line is full: nobody reads the port; sending waits)\n");
                    warnedFull_ = true;
                }
                return;
            }
            warnedFull_ = false;
            if (sentLog_)
                sentLog_.write(pending_.data(), static_cast<std::streamsize>(n)).flush();
            sentBytes_ += n;
            pending_.erase(0, n);
        }
    }

    void pollOnce() {
        pollfd p{port_.fd(), POLLIN, 0};
        if (!pending_.empty())
            p.events |= POLLOUT;
        int r = ::poll(&p, 1, 20);
        if (r <= 0 || !(p.revents & POLLIN))
            return;
        char buf[512];
        std::size_t n = port_.readSome(buf, sizeof buf);
        if (n == 0)
            return;
        receivedBytes_ += n;
        std::printf("<- %zu bytes: %s\n", n, describeReceived({buf, n}).c_str());
        if (o_.kiss)
            echoDeframer_.Feed({buf, n}, [this](std::string_view frame) { echo_.feed(frame); });
        else
            echo_.feed({buf, n});
    }

    const Options& o_;
    SimPort& port_;
    BeaconSource beacons_;
    KissWrapper kiss_;
    KissDeframer echoDeframer_;
    EchoDecoder echo_;
    std::ofstream sentLog_;
    std::string replayData_;
    std::size_t replayPos_ = 0;
    std::string pending_;
    bool connected_ = false;
    bool warnedFull_ = false;
    Clock::time_point start_ = Clock::now();
    unsigned long sentBytes_ = 0, receivedBytes_ = 0;
    long beaconsSent_ = 0, damagedSent_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    Options o = parse(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        SimPort port = o.tcpPort >= 0     ? SimPort::listenTcp(o.tcpPort)
                       : o.device.empty() ? SimPort::createPty()
                                          : SimPort::openDevice(o.device, o.baud);
        std::printf("port: %s%s\n", port.portName().c_str(), o.kiss ? " (KISS)" : "");
        if (!o.iniDir.empty())
            std::printf("settings: %s\n", (o.kiss ? writeKissSettingsIni(o.iniDir, port, o.baud)
                                                  : writeSettingsIni(o.iniDir, port.portName(), o.baud))
                                              .c_str());
        Simulator sim(o, port);
        return sim.run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrel-tnc-sim: %s\n", e.what());
        return 1;
    }
}
