// What a huge answer costs the forwarding: posts a form to URL (a server that
// answers with a 100 MB body, such as bench/huge_answer_peer.py) COUNT times
// through the platform's transport, and prints the CPU time this process
// spent per answer and as a share of one core over the attempts. Built for
// Linux (libcurl) and Windows (WinHTTP, run under Wine). Fails when an
// answer costs more than 1 % of a core.
//
//   bench_share_answer URL [COUNT]

#include "share/HttpTransport.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

double CpuSeconds() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& f) {
        return double((std::uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
#else
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_share_answer URL [COUNT]\n");
        return 2;
    }
    const int count = argc > 2 ? std::atoi(argv[2]) : 5;
    auto transport = kestrel::CreateHttpTransport();
    kestrel::HttpRequest request;
    request.url = argv[1];
    request.form = "noradID=99999&frame=4262";
    double worst = 0;
    for (int i = 0; i < count; ++i) {
        const double cpu0 = CpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        const kestrel::HttpResult r = transport->post(request);
        if (r.kind != kestrel::HttpResult::Kind::Answered) {
            std::printf("answer %d: none: %s\n", i + 1, r.detail.c_str());
            return 1;
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double cpu = CpuSeconds() - cpu0;
        // The share of a core over the 30 s an attempt may take at most.
        const double share = cpu / 30.0 * 100;
        worst = std::max(worst, share);
        std::printf("answer %d: HTTP %d, %zu bytes kept%s, %.1f ms, CPU %.1f ms (%.3f %% of a core over 30 s)\n", i + 1,
                    r.status, r.body.size(), r.bodyCut ? " (cut)" : "", wall * 1000, cpu * 1000, share);
    }
    std::printf("worst: %.3f %% of a core (goal < 1 %%)\n", worst);
    return worst < 1.0 ? 0 : 1;
}
