// kiss_direwolf_check [BEACONS]: beacons through a real software TNC and back.
// Debian's gen_packets turns each beacon into AX.25 audio (1200 baud AFSK),
// direwolf decodes the audio from its standard input and hands the packets
// out on its KISS TCP port, where KissTcpClient, KissDeframer and the frame
// finder must find every beacon, byte for byte. Skips (exit 0) when direwolf
// is not installed; prints what direwolf delivered.
//
// In order: beacons made and turned into audio; direwolf started on a free
// port; the KISS client collecting what it delivers; the comparison, byte for
// byte.

#include "kiss/KissDeframer.h"
#include "kiss/KissTcpClient.h"

#include "support/Beacons.h"
#include "support/Eventually.h"
#include "support/Files.h"
#include "support/Fixtures.h"
#include "support/TestMailbox.h"
#include "telemetry/Generator.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace kestrel;
using namespace kestrel::test;
using namespace std::chrono_literals;

namespace {

constexpr int kSampleRate = 44100;

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (::access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

// A beacon gen_packets can carry: its message text holds a byte that is no
// printable character as "<0xNN>", and a line of more than about 400
// characters is cut. So the record is printable bytes with the hard ones
// placed in it: FEND and FESC (KISS escapes them), the bytes of their
// escapes, zero bytes, CR and LF.
std::string beaconFor(std::uint32_t n, RandomSequence& rng) {
    BeaconRecord r;
    for (auto& b : r.bytes()) {
        do
            b = static_cast<std::uint8_t>(0x21 + rng.Random(0x7F - 0x21));
        while (b == '<');
    }
    r.setFlightTime(100000 + n);  // a zero byte
    r.setBz(-6.0f);               // 00 00 C0 C0
    r.setStatusByte(7, 0xDB);
    r.setU8(RecordOffset::Spare28, 0xC0);
    r.setU8(RecordOffset::Spare86, kKissTfend);
    r.setU8(RecordOffset::Spare86 + 1, kKissTfesc);
    r.setU8(RecordOffset::GpsOn, 1);
    r.setU8(RecordOffset::TransponderOn, n % 2);
    r.setU16(RecordOffset::Foto, 0x0A0D);
    return buildBeaconFrame(kTestFrameHeader, r);
}

std::string messageText(const std::string& beacon) {
    std::string text = "KESTRL>KR7:";
    char esc[8];
    for (char c : beacon) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b > 0x20 && b < 0x7F && b != '<') {
            text += c;
        } else {
            std::snprintf(esc, sizeof esc, "<0x%02x>", b);
            text += esc;
        }
    }
    return text;  // no line end: gen_packets would put it into the packet
}

// The samples of a WAV file (its "data" chunk).
std::string wavSamples(const std::string& wav) {
    for (std::size_t at = 12; at + 8 <= wav.size();) {
        const std::uint32_t size = static_cast<std::uint8_t>(wav[at + 4]) |
                                   static_cast<std::uint8_t>(wav[at + 5]) << 8 |
                                   static_cast<std::uint8_t>(wav[at + 6]) << 16 |
                                   static_cast<std::uint32_t>(static_cast<std::uint8_t>(wav[at + 7])) << 24;
        if (wav.compare(at, 4, "data") == 0)
            return wav.substr(at + 8, size);
        at += 8 + size + (size & 1);
    }
    return {};
}

int run(const std::vector<std::string>& argv, int stdinFd, const std::string& outputFile, pid_t* pid = nullptr,
        const std::string& workingDir = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!workingDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    if (stdinFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t child = 0;
    const int r = posix_spawnp(&child, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0)
        return -1;
    if (pid) {
        *pid = child;
        return 0;
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// direwolf takes KISS ports up to 49151 only, so no ephemeral one.
int freeLocalPort() {
    for (int port = 20000 + ::getpid() % 20000; port < 49151; ++port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (free)
            return port;
    }
    return 8001;
}

std::string hex(std::string_view bytes) {
    std::string out;
    char b[4];
    for (char c : bytes) {
        std::snprintf(b, sizeof b, "%02X ", static_cast<std::uint8_t>(c));
        out += b;
    }
    if (!out.empty())
        out.pop_back();
    return out;
}

// Connections direwolf has accepted on its KISS port, from /proc/net/tcp.
int clientsOf(int port) {
    std::ifstream tcp("/proc/net/tcp");
    std::string line;
    std::getline(tcp, line);
    int clients = 0;
    while (std::getline(tcp, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        const auto colon = local.find(':');
        if (colon != std::string::npos && std::stoi(local.substr(colon + 1), nullptr, 16) == port && state == "01")
            ++clients;
    }
    return clients;
}

int fail(const std::string& why, const std::string& log) {
    std::fprintf(stderr, "FAIL: %s\n--- direwolf's output:\n%s\n", why.c_str(), readFile(log).c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 12;
    if (!onPath("direwolf") || !onPath("gen_packets")) {
        std::printf("SKIP: direwolf is not installed (Debian package direwolf: direwolf, gen_packets)\n");
        return 0;
    }
    std::signal(SIGPIPE, SIG_IGN);
    char dirTemplate[] = "/tmp/kestrel-direwolf-XXXXXX";
    if (!::mkdtemp(dirTemplate))
        return 1;
    const std::string dir = dirTemplate;
    const std::string log = dir + "/direwolf.log";

    // The audio: each beacon's packet, a moment of silence after each, and a
    // second at the end so that the last packet is decoded before the end.
    RandomSequence rng(2024);
    std::vector<std::string> beacons;
    std::string samples;
    for (int i = 0; i < count; ++i) {
        beacons.push_back(beaconFor(static_cast<std::uint32_t>(i), rng));
        const std::string msg = dir + "/msg.txt", wav = dir + "/packet.wav";
        std::ofstream(msg, std::ios::binary) << messageText(beacons.back());
        if (run({"gen_packets", "-r", std::to_string(kSampleRate), "-o", wav, msg}, -1, dir + "/gen_packets.log") != 0)
            return fail("gen_packets failed: " + readFile(dir + "/gen_packets.log"), log);
        samples += wavSamples(readFile(wav));
        samples.append(kSampleRate * 2 * 3 / 10, '\0');
    }
    samples.append(kSampleRate * 2, '\0');

    const int port = freeLocalPort();
    const std::string conf = dir + "/direwolf.conf";
    std::ofstream(conf) << "ADEVICE stdin null\nCHANNEL 0\nMYCALL N0CALL\nMODEM 1200\nKISSPORT " << port
                        << "\nAGWPORT 0\n";
    int audio[2];
    if (::pipe(audio) != 0)
        return 1;
    ::fcntl(audio[1], F_SETFD, FD_CLOEXEC);
    pid_t direwolf = 0;
    if (run({"direwolf", "-c", conf, "-t", "0", "-q", "hd", "-n", "1", "-r", std::to_string(kSampleRate), "-b", "16",
             "-"},
            audio[0], log, &direwolf) != 0)
        return fail("cannot start direwolf", log);
    ::close(audio[0]);

    TestMailbox mailbox;
    KissTcpClient line(&mailbox);
    KissDeframer deframer;
    CollectingHost host;
    std::vector<std::string> contents;
    std::uint64_t lineBytes = 0;
    line.OnRxBytes = [&] {
        char buf[4096];
        bool fresh = false;
        while (std::size_t n = line.Read(buf, sizeof buf, &fresh)) {
            if (fresh)
                deframer.Reset();
            lineBytes += n;
            deframer.Feed({buf, n}, [&](std::string_view f) {
                contents.emplace_back(f);
                host.feed(f);
            });
        }
    };
    line.Open("127.0.0.1", port);
    if (!eventually(
            mailbox, [&] { return line.GetState() == KissTcpClient::State::Connected; }, 20000ms)) {
        ::kill(direwolf, SIGTERM);
        return fail("no connection to direwolf's KISS port " + std::to_string(port), log);
    }

    // And the program itself, as an operator runs it against direwolf. direwolf
    // hands a packet only to the clients attached at that moment.
    const std::string station = dir + "/station";
    std::filesystem::create_directories(station);
    std::ofstream(station + "/RS232Settings.ini", std::ios::binary)
        << SettingsFor("/nonexistent/tty") << "[Line]\r\nSource=KISS TCP\r\nHost=127.0.0.1\r\nTcpPort=" << port
        << "\r\n";
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    pid_t decoder = 0;
    if (run({KESTREL_DECODER}, -1, dir + "/decoder.log", &decoder, station) != 0)
        return fail("cannot start " + std::string(KESTREL_DECODER), log);
    if (!eventually([&] { return clientsOf(port) >= 2; }, 20000ms)) {
        ::kill(decoder, SIGTERM);
        ::kill(direwolf, SIGTERM);
        return fail("the program did not connect to direwolf:\n" + readFile(dir + "/decoder.log"), log);
    }

    const auto start = std::chrono::steady_clock::now();
    std::thread feeder([&] {
        for (std::size_t at = 0; at < samples.size();) {
            const ssize_t n = ::write(audio[1], samples.data() + at, samples.size() - at);
            if (n <= 0)
                break;
            at += static_cast<std::size_t>(n);
        }
        ::close(audio[1]);
    });
    // direwolf ends at the end of its input; the line then sees it go.
    eventually(
        mailbox, [&] { return line.GetState() != KissTcpClient::State::Connected; }, 120000ms);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    feeder.join();
    line.Close();
    ::kill(direwolf, SIGTERM);
    ::waitpid(direwolf, nullptr, 0);

    // The program's archive: every beacon once, byte for byte, and the line's
    // KISS stream as it came.
    const auto rawFrames = [&] { return filesIn(station + "/Telemetry/raw_data"); };
    eventually([&] { return rawFrames().size() >= beacons.size(); }, 10000ms);
    ::kill(decoder, SIGTERM);
    int decoderStatus = 0;
    ::waitpid(decoder, &decoderStatus, 0);
    std::vector<std::string> archived, expected;
    for (const auto& f : rawFrames())
        archived.push_back(readFile(f));
    for (const auto& b : beacons)
        expected.push_back(b + '\0');
    std::sort(archived.begin(), archived.end());
    std::sort(expected.begin(), expected.end());
    const auto textLogs = filesIn(station + "/Telemetry/Decoded");
    const std::string text = textLogs.size() == 1 ? readFile(textLogs[0]) : std::string();
    const auto textLines = std::count(text.begin(), text.end(), '\n');
    const auto rawLogs = rawByteLogsIn(station + "/Telemetry");
    const std::uintmax_t rawLogBytes = rawLogs.size() == 1 ? std::filesystem::file_size(rawLogs[0]) : 0;
    std::printf(
        "program:  exit %d, %zu RawFrameFiles (%s), %ld BeaconTextLog lines, RawByteLog %ju bytes "
        "(the KISS stream: %s)\n",
        WIFEXITED(decoderStatus) ? WEXITSTATUS(decoderStatus) : -1, archived.size(),
        archived == expected ? "every beacon, byte for byte" : "NOT the beacons sent", static_cast<long>(textLines),
        rawLogBytes, rawLogBytes == lineBytes ? "as many bytes as the test's own client got" : "DIFFERS");
    if (!WIFEXITED(decoderStatus) || WEXITSTATUS(decoderStatus) != 0 || archived != expected ||
        textLines != static_cast<long>(4 + beacons.size()) || rawLogBytes != lineBytes)
        return fail("the program did not archive every beacon:\n" + readFile(dir + "/decoder.log"), log);

    std::size_t identical = 0, escaped = 0;
    for (std::size_t i = 0; i < beacons.size(); ++i) {
        if (i < host.frames.size() && host.frames[i] == rawFrameOf(beacons[i]))
            ++identical;
        for (char c : beacons[i])
            escaped += static_cast<std::uint8_t>(c) == kKissFend || static_cast<std::uint8_t>(c) == kKissFesc;
    }
    std::uint64_t contentBytes = 0;
    for (const auto& c : contents)
        contentBytes += c.size();
    const double audioSeconds = samples.size() / 2.0 / kSampleRate;
    std::printf("direwolf: %d beacons sent as %.1f s of 1200 baud AFSK audio, decoded in %.1f s\n", count, audioSeconds,
                seconds);
    std::printf(
        "KISS TCP: %llu bytes, %zu data frames for port 0 (%llu bytes of contents, %zu FEND/FESC in the "
        "beacons escaped), %llu frames dropped\n",
        static_cast<unsigned long long>(lineBytes), contents.size(), static_cast<unsigned long long>(contentBytes),
        escaped,
        static_cast<unsigned long long>(deframer.Counters().otherPort + deframer.Counters().otherCommand +
                                        deframer.Counters().damaged()));
    if (!contents.empty()) {
        const std::string& c = contents.front();
        const std::size_t header = c.size() >= kBeaconFrameSize ? c.size() - kBeaconFrameSize : 0;
        std::printf("frame contents: %zu bytes = AX.25 header %zu bytes [%s] + information field %zu bytes%s\n",
                    c.size(), header, hex(c.substr(0, header)).c_str(), c.size() - header,
                    c.substr(header) == beacons.front() ? " (the beacon, unchanged)" : " (NOT the beacon)");
    }
    std::printf("frame finder: %zu of %d beacons found, %zu byte-identical\n", host.frames.size(), count, identical);
    if (identical != beacons.size() || host.frames.size() != beacons.size())
        return fail("not every beacon came through unchanged", log);
    std::filesystem::remove_all(dir);
    std::printf("PASS\n");
    return 0;
}
