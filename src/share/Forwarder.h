#pragma once
// The forwarder: sends each frame of the outbox to the telemetry server, one
// at a time and in the order received, from a thread of its own.
//
// Threads. Start(), Submit(), State(), TakeNotices() and Stop() belong to one
// thread, the owner's (the window's). They never wait for the network: they
// take a lock that the sending thread holds only while it touches the outbox
// or the queue, never during a request. The sending thread is the only one
// that posts, marks frames sent or refused, syncs and empties the outbox.
// Stop() lets a request in flight finish for at most the time it is given,
// then cuts it off and returns; the thread ends on its own (it keeps what it
// uses alive), and the frame stays in the outbox, so the next start sends it
// again.
//
// Outcomes: a 2xx marks the frame sent. A 4xx refuses it for good: it goes to
// the rejects file with the answer, is marked refused and not sent again.
// Anything else (5xx, time-outs, refused or broken connections, failed name
// look-ups, untrusted certificates, other answers, other failures) is tried
// again with the same frame first, after 2 s, then twice as long each time up
// to 5 minutes; a success starts the wait at 2 s again. Only what waiting
// will not cure is said, once: an untrusted certificate, an answer that is
// neither 2xx, 4xx nor 5xx, a failure of another kind (an address libcurl or
// WinHTTP cannot use).

#include "share/HttpTransport.h"
#include "share/Outbox.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
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
    bool offline = false;       // the last attempt failed and will be repeated
    bool refusedLast = false;   // the last frame answered was refused
};

class Forwarder {
public:
    Forwarder(std::unique_ptr<IHttpTransport> transport, std::string outboxPath, std::string rejectsPath,
              ForwarderOptions options = {});
    ~Forwarder();  // Stop() with the shut-down bound
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;

    static constexpr std::chrono::milliseconds kShutDownWait{1000};

    // Reads the outbox once (what was not acknowledged goes first, oldest
    // first) and starts sending. Throws std::runtime_error when the outbox
    // cannot be read or written; nothing is forwarded then.
    void Start();
    // Appends a frame's form to the outbox, then queues it. A frame the
    // outbox cannot take is still sent in this run (and said once in the
    // notices).
    void Submit(const std::string& form);
    ForwarderState State() const;
    // What the operator should be told, each thing once: the first refusal,
    // the faults waiting will not cure, an outbox or rejects file that
    // cannot be written.
    std::vector<std::string> TakeNotices();
    void Stop(std::chrono::milliseconds wait = kShutDownWait);

private:
    struct Shared;
    static void Run(std::shared_ptr<Shared> shared);
    std::shared_ptr<Shared> shared_;
    bool started_ = false;
};

}  // namespace kestrel
