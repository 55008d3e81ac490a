// What forwarding costs: the start-up with 10,000 frames queued against none,
// the CPU a beacon costs (main thread and sending thread; the test server runs
// in a process of its own), and how soon a frame is taken after submission.
// Medians of several runs; fails when a goal is missed.
#include "share/Forwarder.h"
#include "share/Outbox.h"
#include "share/SidsForm.h"
#include "support/Files.h"
#include "support/SidsServer.h"

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <tuple>
#include <vector>

using namespace kestrel;
using namespace std::chrono;

namespace {

std::string Form(int i) {
    static const std::string frame(131, 'B');
    SidsFrame f;
    f.noradId = 99999;
    f.source = "N0CALL";
    f.utc = SystemTime{2026, 12, 3, 9, 8, 57, 0, std::uint16_t(i % 1000)};
    f.frame = frame;
    f.latitude = 49.73145;
    f.longitude = 8.95564;
    return FormEncode(SidsFields(f));
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Milliseconds from reading the outbox to a running forwarder.
double StartUp(int queued, const std::string& url) {
    test::ScratchDir dir("kestrel-share-bench");
    const std::string outbox = (dir / "outbox.txt").string();
    {
        Outbox box(systemFileSystem(), outbox);
        box.Open();
        for (int i = 1; i <= queued; ++i)
            box.Add(Form(i));
    }
    const auto t0 = steady_clock::now();
    ForwarderOptions o;
    o.url = url;
    Forwarder f(CreateHttpTransport(), outbox, (dir / "rejects.txt").string(), o);
    f.Start();
    const double ms = duration<double, std::milli>(steady_clock::now() - t0).count();
    f.Stop(milliseconds(0));
    return ms;
}

// Milliseconds of this process's CPU per beacon, 200 beacons 50 ms apart.
double CpuPerBeacon(const std::string& url, const std::string& caFile) {
    constexpr int kBeacons = 200;
    test::ScratchDir dir("kestrel-share-bench");
    ForwarderOptions o;
    o.url = url;
    o.caFile = caFile;
    Forwarder f(CreateHttpTransport(), (dir / "outbox.txt").string(), (dir / "rejects.txt").string(), o);
    f.Start();
    const double cpu0 = CpuSeconds();
    for (int i = 0; i < kBeacons; ++i) {
        f.Submit(Form(i));
        std::this_thread::sleep_for(milliseconds(50));
    }
    while (f.State().sent < kBeacons)
        std::this_thread::sleep_for(milliseconds(50));
    return (CpuSeconds() - cpu0) * 1000 / kBeacons;
}

}  // namespace

int main() {
    // The servers (HTTP, and HTTPS with a throw-away authority) in a child
    // process, started before this one has threads.
    test::ScratchDir pkiDir("kestrel-share-bench-pki");
    int pipeFd[2];
    if (pipe(pipeFd) != 0)
        return 2;
    const pid_t server = fork();
    if (server == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // gone with the bench
        test::SidsServer plain;
        test::SidsServer tls(test::TestPki::Make(pkiDir.path()));
        const std::string urls = plain.url() + " " + tls.url();
        (void)!write(pipeFd[1], urls.data(), urls.size());
        close(pipeFd[1]);
        for (;;)
            pause();
    }
    char buf[512];
    const ssize_t n = read(pipeFd[0], buf, sizeof buf);
    if (n <= 0)
        return 2;
    const std::string urls(buf, std::size_t(n));
    const std::string url = urls.substr(0, urls.find(' '));
    const std::string tlsUrl = urls.substr(urls.find(' ') + 1);
    int failed = 0;

    std::vector<double> none, full;
    for (int run = 0; run < 5; ++run) {
        none.push_back(StartUp(0, "http://127.0.0.1:9/"));
        full.push_back(StartUp(10000, "http://127.0.0.1:9/"));
    }
    const double extra = Median(full) - Median(none);
    std::printf("start-up: %.1f ms with none queued, %.1f ms with 10,000 queued: %.1f ms longer (goal < 1000)\n",
                Median(none), Median(full), extra);
    failed |= extra >= 1000;

    test::ScratchDir dir("kestrel-share-bench");
    ForwarderOptions options;
    options.url = url;
    Forwarder f(CreateHttpTransport(), (dir / "outbox.txt").string(), (dir / "rejects.txt").string(), options);
    f.Start();
    // Latency: one frame at a time, from submission to the server's 2xx.
    std::vector<double> latency;
    for (int i = 0; i < 50; ++i) {
        const auto t0 = steady_clock::now();
        f.Submit(Form(i));
        while (f.State().sent < std::uint64_t(i + 1))
            std::this_thread::sleep_for(microseconds(200));
        latency.push_back(duration<double, std::milli>(steady_clock::now() - t0).count());
        std::this_thread::sleep_for(milliseconds(20));
    }
    std::printf("submission to the server's answer: median %.2f ms, longest %.2f ms (goal < 2000)\n", Median(latency),
                *std::max_element(latency.begin(), latency.end()));
    failed |= *std::max_element(latency.begin(), latency.end()) >= 2000;

    f.Stop();

    // CPU: beacons 50 ms apart, nothing polling meanwhile; the server closes
    // each connection, so over HTTPS every beacon costs a whole handshake.
    for (const auto& [what, target, ca] : {std::tuple<const char*, std::string, std::string>{"HTTP", url, ""},
                                           {"HTTPS", tlsUrl, (pkiDir.path() / "ca" / "ca.pem").string()}}) {
        const double perBeaconMs = CpuPerBeacon(target, ca);
        std::printf(
            "CPU per beacon forwarded over %s: %.3f ms, %.3f %% of a core at a beacon a second "
            "(goal <= 1 %%)\n",
            what, perBeaconMs, perBeaconMs / 10);
        failed |= perBeaconMs / 10 > 1;
    }
    kill(server, SIGKILL);
    waitpid(server, nullptr, 0);
    return failed;
}
