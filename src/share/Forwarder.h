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
// Outboxes taken over (ForwarderOptions::adoption) are the sending thread's
// alone: found, read, sent oldest first before the own one's frames, and
// removed once nothing in them waits. Their reading and the search for them
// happen without the lock.
//
// Outcomes: a 2xx marks the frame sent (also when its body breaks off). 400,
// 413 and 422 say the frame itself is bad: it goes to the rejects file with
// the answer, is marked refused and not sent again (kestrel-redecode
// --requeue-rejects queues such frames again). 408, 425, 429 and 5xx are
// temporary: the same frame is tried again, after the answer's Retry-After
// (seconds or an HTTP date, at most 5 minutes) when it asks for longer than
// the usual wait. Answers that say the station's settings or the way is wrong
// (401, 403, 404, 405, a proxy's 407 or refusal) keep the frames waiting, as
// do a redirect (3xx, never followed) and an answer of no known class; each is
// said once, with what to mend, and shown while it lasts. Anything else
// (time-outs, refused or broken connections, failed name look-ups, untrusted
// certificates, other failures) is tried again as well. The wait is 2 s, then
// twice as long each time up to 5 minutes; a success starts it at 2 s again.
// Besides those answers, only what waiting will not cure is said, once: an
// untrusted certificate, a failure of another kind (an address libcurl or
// WinHTTP cannot use), and an outbox that cannot be written (frames are then
// held in memory, sent all the same, and written to the outbox as soon as it
// can be). No Url's query (where tokens go) is written to a file or a notice.

#include "share/HttpTransport.h"
#include "share/Outbox.h"
#include "telemetry/Clock.h"
#include "telemetry/FileSystem.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kestrel {

// Outboxes that no running program sends (a dead program's), taken over by
// this forwarder: found and locked by adopt(), let go by release(). Called
// from the sending thread only.
class IOutboxAdoption {
public:
    virtual ~IOutboxAdoption() = default;
    // The outboxes newly this forwarder's to send (their locks taken).
    virtual std::vector<std::string> adopt() = 0;
    // Done with one (sent, or the forwarder stops): its lock is let go.
    virtual void release(const std::string& path) = 0;
};

struct ForwarderOptions {
    // Where every frame goes, those that waited from an earlier run included:
    // a corrected address takes them too.
    std::string url;
    std::string caFile;
    std::chrono::milliseconds firstRetry{2000};
    std::chrono::milliseconds longestRetry{300000};
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds totalTimeout{30000};
    // Where to look for outboxes left by programs that ended (none: only the
    // own one is sent), and how often.
    std::shared_ptr<IOutboxAdoption> adoption;
    std::chrono::milliseconds adoptionCheck{5000};
};

struct ForwarderState {
    std::uint64_t sent = 0;     // taken by the server since Start()
    std::uint64_t refused = 0;  // refused for good since Start()
    std::size_t queued = 0;     // waiting, the one in flight and those taken over included
    std::size_t held = 0;       // of those, the ones only in memory (the outbox cannot be written)
    bool offline = false;       // the last attempt failed and will be repeated
    bool refusedLast = false;   // the last frame answered was refused
    // What keeps the frames waiting that waiting will not cure, while it
    // lasts: a sentence, and a few words for a status panel ("Share: HTTP
    // 404", "Proxy: HTTP 407"). Empty otherwise.
    std::string fault;
    std::string faultText;
};

// An HTTP date (IMF-fixdate, "Wed, 09 Dec 2026 08:57:00 GMT"); nothing when
// the text is not one.
std::optional<SystemTime> ParseHttpDate(const std::string& value);
// The wait a Retry-After value asks for (delta-seconds, or an HTTP date
// against now: the server's own Date where it gave one, so that a station
// clock ahead of the server's does not shorten it); nothing when it is
// neither. A date in the past asks for no wait.
std::optional<std::chrono::milliseconds> RetryAfterWait(const std::string& value, const SystemTime& now);

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
    static void Adopt(Shared& s, std::unique_lock<std::mutex>& lock);
    std::unique_ptr<Shared> shared_;
    std::thread thread_;
};

}  // namespace kestrel
