#pragma once
// The forwarder: sends each frame of the outbox to the telemetry server, one
// at a time and in the order received, from a thread of its own.
//
// Threads. Start(), Submit(), State(), TakeNotices() and Stop() belong to one
// thread, the owner's (the window's). All but Stop() never wait for the
// network nor for the disk's sync: they take a lock that the sending thread
// holds only while it touches the outbox's records or the queue, never during
// a request, a sync or a write of the rejects file. Submit() appends to the
// outbox file; the sending thread posts, marks frames sent or refused, syncs
// and empties the outbox. Stop() lets a request in flight finish for at most
// the time it is given, then cancels it (both transports end a cancelled
// request at once) and waits for the thread to end; it returns with the
// outbox's file closed, so another opener (the next start) finds it free. A
// frame cut off stays in the outbox, and the next start sends it again.
//
// Outcomes: a 2xx marks the frame sent. 408, 425, 429 and 5xx are temporary:
// the same frame is tried again, after the answer's Retry-After (seconds or
// an HTTP date, at most 5 minutes) when it gives one. Other 4xx refuse it for
// good: it goes to the rejects file with the answer, is marked refused and not
// sent again. A redirect (3xx) is never followed: the frame waits, and the
// operator is told once where the server points. Anything else (time-outs,
// refused or broken connections, failed name look-ups, untrusted
// certificates, other answers, other failures) is tried again as well. Without
// a Retry-After the wait is 2 s, then twice as long each time up to 5
// minutes; a success starts it at 2 s again. Only what waiting will not cure
// is said, once: an untrusted certificate, a redirect, an answer of no known
// class, a failure of another kind (an address libcurl or WinHTTP cannot
// use), and an outbox that cannot be written (frames are then held in memory,
// sent all the same, and written to the outbox as soon as it can be).

#include "share/HttpTransport.h"
#include "share/Outbox.h"
#include "telemetry/Clock.h"
#include "telemetry/FileSystem.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kestrel {

struct ForwarderOptions {
    // Where every frame goes, those that waited from an earlier run included:
    // a corrected address takes them too.
    std::string url;
    std::string caFile;
    std::chrono::milliseconds firstRetry{2000};
    std::chrono::milliseconds longestRetry{300000};
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds totalTimeout{30000};
};

struct ForwarderState {
    std::uint64_t sent = 0;     // taken by the server since Start()
    std::uint64_t refused = 0;  // refused for good since Start()
    std::size_t queued = 0;     // waiting, the one in flight included
    std::size_t held = 0;       // of those, the ones only in memory (the outbox cannot be written)
    bool offline = false;       // the last attempt failed and will be repeated
    bool refusedLast = false;   // the last frame answered was refused
};

// The wait a Retry-After value asks for (delta-seconds, or an IMF-fixdate
// such as "Wed, 09 Dec 2026 08:57:00 GMT" against utcNow); nothing when it is
// neither. A date in the past asks for no wait.
std::optional<std::chrono::milliseconds> RetryAfterWait(const std::string& value, const SystemTime& utcNow);

class Forwarder {
public:
    Forwarder(std::unique_ptr<IHttpTransport> transport, std::string outboxPath, std::string rejectsPath,
              ForwarderOptions options = {}, IFileSystem& fs = systemFileSystem(), IClock& clock = systemClock());
    ~Forwarder();  // Stop() with the shut-down bound
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;

    static constexpr std::chrono::milliseconds kShutDownWait{1000};

    // Reads the outbox once (what was not acknowledged goes first, oldest
    // first) and starts sending. An outbox that cannot be read or written
    // yet is said in the notices and tried again with each frame submitted.
    void Start();
    // Queues a frame's form and appends it to the outbox. A frame the outbox
    // cannot take is held in memory and sent all the same.
    void Submit(const std::string& form);
    ForwarderState State() const;
    // What the operator should be told, each thing once: the first refusal,
    // the faults waiting will not cure, an outbox or rejects file that
    // cannot be written, damaged outbox lines moved aside.
    std::vector<std::string> TakeNotices();
    // Returns with the thread ended and the outbox's file closed.
    void Stop(std::chrono::milliseconds wait = kShutDownWait);

private:
    struct Shared;
    void run();
    std::unique_ptr<Shared> shared_;
    std::thread thread_;
};

}  // namespace kestrel
