// The forwarder's sending thread and the owner's calls into it (see
// Forwarder.h): outcomes, waits, notices, and the rejects file.
//
// Sections:
//   Outcomes         what an answer means: sent, tried again, refused, and
//                    what a station must mend
//   Waits            a server's Retry-After, as seconds or as a date
//   Shared state     what the thread and the owner share: the transport, the
//                    outboxes, the notices said once
//   The owner        adopting earlier outboxes, Start, Submit, State,
//                    TakeNotices, Stop (the thread joined)
//   Sending thread   run: the next frame, its attempt, the waits between

#include "share/Forwarder.h"

#include "share/HttpUrl.h"
#include "telemetry/TimeIndex.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

namespace kestrel {

namespace {

// An outbox that holds nothing unsent is emptied once it has grown this much.
constexpr std::uint64_t kCompactSize = 1 << 20;
// Enough of an answer to say why, on one line of the rejects file.
constexpr std::size_t kAnswerKept = 2000;
// How a refused frame goes out again once the fault is mended.
constexpr const char* kRequeueAdvice = "kestrel-redecode --requeue-rejects queues it again once the fault is mended";
// How often frames held in memory are tried again while nothing else happens.
constexpr std::chrono::milliseconds kHeldRetry{2000};

std::string OneLine(std::string text) {
    if (text.size() > kAnswerKept)
        text.resize(kAnswerKept);
    for (char& c : text)
        if (c == '\r' || c == '\n' || c == '\t')
            c = ' ';
    return text;
}

std::string UtcText(const SystemTime& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02uZ", unsigned(t.year), unsigned(t.month),
                  unsigned(t.day), unsigned(t.hour), unsigned(t.minute), unsigned(t.second));
    return buf;
}

// ---- Outcomes -----------------------------------------------------------------------

// Answers that say "not now": the frame is tried again.
bool Temporary(int status) {
    return status == 408 || status == 425 || status == 429 || (status >= 500 && status < 600);
}

// How an attempt went, for what follows it.
enum class Verdict {
    Sent,
    Rejected,     // the frame itself is bad: 400, 413, 422
    Temporary,    // not now: 408, 425, 429, 5xx
    Redirect,     // never followed
    Way,          // the station's settings or the way is wrong: 401, 403, 404, 405, 407, a proxy's refusal
    Unknown,      // an answer of no known class
    NotAnswered,  // no answer at all
};

Verdict Judge(const HttpResult& r) {
    if (r.kind != HttpResult::Kind::Answered)
        return Verdict::NotAnswered;
    const int status = r.status;
    if (Temporary(status))
        return Verdict::Temporary;
    if (r.fromProxy || status == 401 || status == 403 || status == 404 || status == 405 || status == 407)
        return Verdict::Way;
    if (status >= 200 && status < 300)
        return Verdict::Sent;  // a body cut short after the head changes nothing
    if (status == 400 || status == 413 || status == 422)
        return Verdict::Rejected;
    if (status >= 300 && status < 400)
        return Verdict::Redirect;
    return Verdict::Unknown;
}

// What a 401, 403, 404, 405 or 407 means for the station, and what to mend.
std::string WayAdvice(int status) {
    switch (status) {
    case 401: return " (Unauthorized): the server wants to know who sends; check the token or key in the Url";
    case 403: return " (Forbidden): the server takes no frames from this station; check the token or key in the Url";
    case 404: return " (Not Found): there is no such place on the server; check the Url's path";
    case 405: return " (Method Not Allowed): that address takes no frames; check the Url's path";
    case 407: return " (Proxy Authentication Required): the proxy wants credentials; " + HttpProxyAdvice();
    default: return {};
    }
}

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

}  // namespace

// ---- Waits --------------------------------------------------------------------------

std::optional<SystemTime> ParseHttpDate(const std::string& value) {
    // IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT".
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::string v = Trim(value);
    char weekday[4] = "", month[4] = "", zone[4] = "";
    unsigned day = 0, year = 0, hour = 0, minute = 0, second = 0;
    int used = 0;
    if (std::sscanf(v.c_str(), "%3[A-Za-z], %2u %3[A-Za-z] %4u %2u:%2u:%2u %3[A-Z]%n", weekday, &day, month, &year,
                    &hour, &minute, &second, zone, &used) != 8 ||
        std::size_t(used) != v.size() || std::strcmp(zone, "GMT") != 0)
        return std::nullopt;
    const auto m = std::find_if(std::begin(kMonths), std::end(kMonths),
                                [&](const char* name) { return std::strcmp(name, month) == 0; });
    if (m == std::end(kMonths) || day < 1 || day > 31 || year < 1970 || year > 9999 || hour > 23 || minute > 59 ||
        second > 60)
        return std::nullopt;
    SystemTime at;
    at.year = std::uint16_t(year);
    at.month = std::uint16_t(m - std::begin(kMonths) + 1);
    at.day = std::uint16_t(day);
    at.hour = std::uint16_t(hour);
    at.minute = std::uint16_t(minute);
    at.second = std::uint16_t(second);
    return at;
}

std::optional<std::chrono::milliseconds> RetryAfterWait(const std::string& value, const SystemTime& now) {
    const std::string v = Trim(value);
    if (v.empty())
        return std::nullopt;
    if (std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        std::uint64_t seconds = 0;
        auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), seconds);
        if (ec == std::errc::result_out_of_range || seconds > 365u * 86400)
            return std::chrono::milliseconds(365LL * 86400 * 1000);  // a long time: the caller caps it
        return std::chrono::milliseconds(static_cast<std::int64_t>(seconds) * 1000);
    }
    const std::optional<SystemTime> at = ParseHttpDate(v);
    if (!at)
        return std::nullopt;
    const std::int64_t wait = utcMilliseconds(*at) - utcMilliseconds(now);
    return std::chrono::milliseconds(std::max<std::int64_t>(wait, 0));
}

// ---- Shared state -------------------------------------------------------------------

struct Forwarder::Shared {
    Shared(std::unique_ptr<IHttpTransport> t, std::string outboxPath, std::string rejects, ForwarderOptions o,
           IFileSystem& f, IClock& c)
        : transport(std::move(t)),
          fs(f),
          clock(c),
          outbox(f, std::move(outboxPath)),
          rejectsPath(std::move(rejects)),
          options(std::move(o)) {}

    std::unique_ptr<IHttpTransport> transport;
    IFileSystem& fs;
    IClock& clock;
    Outbox outbox;
    std::vector<std::unique_ptr<Outbox>> adopted;  // the sending thread's; oldest first
    const std::string rejectsPath;
    const ForwarderOptions options;

    mutable std::mutex mutex;
    std::condition_variable wake;
    ForwarderState state;
    bool stop = false;
    bool done = false;
    bool syncDue = false;
    std::condition_variable finished;
    std::vector<std::string> notices;
    bool refusalSaid = false, tlsSaid = false, outboxSaid = false, failedSaid = false, rejectsSaid = false,
         syncSaid = false;
    std::set<std::string> answersSaid;  // each status (and who gave it) said once

    // The station takes the notices at its next tick and writes them down.
    void say(std::string text) { notices.push_back(std::move(text)); }
    void notice(bool& said, std::string text) {
        if (said)
            return;
        said = true;
        say(std::move(text));
    }
    // What keeps frames waiting that waiting alone will not cure: said once
    // and shown while it lasts. Anything else clears it.
    void standing(Verdict verdict, const HttpResult& r) {
        const std::string waiting = "; frames wait in " + outbox.Path();
        // The number for the status bar; a sentence gives its words too.
        const std::string status = std::to_string(r.status), said = httpStatusText(r.status);
        const std::string server = "The telemetry server at " + MaskedUrl(options.url) + " answered HTTP ";
        std::string sentence, text = "Share: HTTP " + status;
        switch (verdict) {
        case Verdict::NotAnswered:
            if (r.kind != HttpResult::Kind::Tls && r.kind != HttpResult::Kind::Failed)
                break;
            sentence = "Telemetry is not forwarded: " + r.detail + waiting;
            notice(r.kind == HttpResult::Kind::Tls ? tlsSaid : failedSaid, sentence);
            text = "Share offline";
            break;
        case Verdict::Redirect:
            sentence = server + status + " (moved" +
                       (r.location.empty() ? "" : " to " + MaskedUrl(OneLine(r.location))) +
                       "); frames are not sent anywhere else: correct the Url in [Share]" + waiting;
            break;
        case Verdict::Way:
            if (r.fromProxy && r.status != 407) {
                sentence = "The proxy refused the way to " + MaskedUrl(options.url) + " (HTTP " + said +
                           "); check the proxy setting: " + HttpProxyAdvice() + waiting;
                text = "Proxy: HTTP " + status;
            } else {
                sentence =
                    (r.status == 407 ? "The proxy on the way to " + MaskedUrl(options.url) + " answered HTTP " + status
                                     : server + status) +
                    WayAdvice(r.status) + waiting + ", and go out once that is mended and the program started again";
                if (r.status == 407)
                    text = "Proxy: HTTP 407";
            }
            break;
        case Verdict::Unknown:
            sentence = server + said + ", an answer this program does not know what to make of" + waiting;
            break;
        default: break;
        }
        if (sentence.empty()) {
            state.fault.clear();
            state.faultText.clear();
            return;
        }
        if (verdict != Verdict::NotAnswered && answersSaid.insert(text).second)
            say(sentence);
        state.fault = sentence;
        state.faultText = text;
    }
    // Whether the outbox keeps up: said when frames start being held in
    // memory, and again when they are all written after all.
    void outboxHealth() {
        const std::size_t held = outbox.Held();
        if (held && !outboxSaid) {
            outboxSaid = true;
            say(outbox.Problem() + "; frames are still sent, and held in memory (lost if the program ends) until " +
                "the outbox can be written");
        } else if (!held && outboxSaid && outbox.Problem().empty()) {
            outboxSaid = false;
            say("the outbox " + outbox.Path() + " can be written again; no frame is held in memory");
        }
        state.held = held;
        state.queued = outbox.Waiting();
        for (const auto& box : adopted)
            state.queued += box->Waiting();
    }
    // The outbox whose frame goes next: those taken over first.
    Outbox& next() {
        for (const auto& box : adopted)
            if (box->Front())
                return *box;
        return outbox;
    }
    // An outbox taken over that nothing waits in any longer: removed (but
    // for damaged lines that could not be copied aside yet), and let go.
    void letGo(Outbox& box, bool remove) {
        if (remove)
            box.Compact(0);
        const std::string path = box.Path();
        remove = remove && box.IsOpen() && box.Size() == 0 && !box.DamagedUnsaved();
        std::erase_if(adopted, [&](const auto& b) { return b.get() == &box; });  // closes it
        if (remove)
            fs.removeFile(path);
        options.adoption->release(path);
    }
};

Forwarder::Forwarder(std::unique_ptr<IHttpTransport> transport, std::string outboxPath, std::string rejectsPath,
                     ForwarderOptions options, IFileSystem& fs, IClock& clock)
    : shared_(std::make_unique<Shared>(std::move(transport), std::move(outboxPath), std::move(rejectsPath),
                                       std::move(options), fs, clock)) {}

Forwarder::~Forwarder() { Stop(); }

// ---- The owner ----------------------------------------------------------------------

// Outboxes that programs which ended left behind: locked, then read without
// the lock (a large one takes a moment), then queued before the own frames.
void Forwarder::Adopt(Shared& s, std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    std::vector<std::pair<std::unique_ptr<Outbox>, bool>> found;  // and whether it was read
    for (const std::string& path : s.options.adoption->adopt()) {
        auto box = std::make_unique<Outbox>(s.fs, path);
        const bool read = box->Open();
        found.emplace_back(std::move(box), read);
    }
    lock.lock();
    for (auto& [box, read] : found) {
        Outbox& b = *box;
        s.adopted.push_back(std::move(box));
        if (b.Damaged())
            s.say(std::to_string(b.Damaged()) + " damaged line" + (b.Damaged() == 1 ? "" : "s") + " of " + b.Path() +
                  " copied to " + b.DamagedPath() + " and not sent");
        if (b.Front())
            s.say(std::to_string(b.Waiting()) + " frame" + (b.Waiting() == 1 ? "" : "s") +
                  " left by a program that ended on this station folder (" + b.Path() + ") are sent by this one");
        else  // an outbox that cannot be read stays where it is, for the next look
            s.letGo(b, read);
    }
    s.outboxHealth();
}

void Forwarder::Start() {
    if (thread_.joinable())
        return;
    Shared& s = *shared_;
    {
        std::lock_guard lock(s.mutex);
        if (!s.outbox.Open())
            s.notice(s.outboxSaid, s.outbox.Problem() + "; frames are still sent, and held in memory (lost if the " +
                                       "program ends) until the outbox can be written");
        if (s.outbox.Damaged())
            s.say(std::to_string(s.outbox.Damaged()) + " damaged line" + (s.outbox.Damaged() == 1 ? "" : "s") +
                  " of the outbox copied to " + s.outbox.DamagedPath() + " and not sent");
        if (s.outbox.DamagedUnsaved())
            s.say(s.outbox.Problem() + "; they stay in the outbox until they can be copied, and the waiting frames " +
                  "are sent meanwhile");
        s.state.queued = s.outbox.Waiting();
    }
    thread_ = std::thread([this] { run(); });
}

void Forwarder::Submit(const std::string& form) {
    Shared& s = *shared_;
    std::lock_guard lock(s.mutex);
    s.outbox.Add(form);
    s.syncDue = true;
    s.outboxHealth();
    s.wake.notify_one();
}

ForwarderState Forwarder::State() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->state;
}

std::vector<std::string> Forwarder::TakeNotices() {
    std::lock_guard lock(shared_->mutex);
    return std::exchange(shared_->notices, {});
}

void Forwarder::Stop(std::chrono::milliseconds wait) {
    if (!thread_.joinable())
        return;
    Shared& s = *shared_;
    {
        std::unique_lock lock(s.mutex);
        s.stop = true;
        s.wake.notify_one();
        // A request about to be answered may still be marked sent; one that
        // is not is cut off and its frame waits for the next start.
        if (!s.finished.wait_for(lock, wait, [&] { return s.done; }))
            s.transport->cancel();
    }
    // The thread holds the outbox until it ends: nothing of it may outlive
    // the stop (on Windows the next opener of the file would be refused).
    thread_.join();
    s.outbox.Close();
}

// ---- Sending thread -----------------------------------------------------------------

void Forwarder::run() {
    Shared& s = *shared_;
    std::unique_lock lock(s.mutex);
    std::chrono::milliseconds retry = s.options.firstRetry;
    // Waits until stop or until `until`, trying held frames again meanwhile.
    const auto pause = [&](std::chrono::milliseconds wait) {
        const auto until = std::chrono::steady_clock::now() + wait;
        while (!s.stop) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= until)
                break;
            const auto step =
                s.outbox.Held() ? std::min<std::chrono::steady_clock::duration>(until - now, kHeldRetry) : until - now;
            s.wake.wait_for(lock, step, [&] { return s.stop; });
            if (s.outbox.Held()) {
                s.outbox.WriteHeld();
                s.outboxHealth();
            }
        }
    };
    auto adoptAt = std::chrono::steady_clock::now();
    while (!s.stop) {
        if (s.options.adoption && std::chrono::steady_clock::now() >= adoptAt) {
            Adopt(s, lock);
            adoptAt = std::chrono::steady_clock::now() + s.options.adoptionCheck;
            continue;
        }
        s.outbox.WriteHeld();
        s.outboxHealth();
        Outbox& box = s.next();
        const OutboxRecord* front = box.Front();
        if (!front) {
            s.outbox.Compact(kCompactSize);
            if (s.options.adoption)
                s.wake.wait_until(lock, adoptAt, [&] { return s.stop || s.outbox.Front(); });
            else
                s.wake.wait(lock, [&] { return s.stop || s.outbox.Front(); });
            continue;
        }
        const OutboxRecord record = *front;
        if (std::exchange(s.syncDue, false)) {
            // A power cut keeps what waits. Submit() goes on appending meanwhile:
            // the handle stays open as long as the outbox.
            const FileHandle file = s.outbox.SyncHandle();
            lock.unlock();
            std::string failed;
            try {
                if (file != kNoFile)
                    s.fs.sync(file);
            } catch (const std::exception& e) {
                failed = e.what();
            }
            lock.lock();
            if (!failed.empty())
                s.notice(s.syncSaid, "Cannot sync the outbox " + s.outbox.Path() + " to the disk: " + failed +
                                         "; a power cut may lose the frames waiting in it");
        }
        lock.unlock();
        HttpRequest request;
        request.url = s.options.url;
        request.form = record.form;
        request.caFile = s.options.caFile;
        request.connectTimeout = s.options.connectTimeout;
        request.totalTimeout = s.options.totalTimeout;
        const HttpResult result = s.transport->post(request);
        const Verdict verdict = Judge(result);
        const bool settled = verdict == Verdict::Sent || verdict == Verdict::Rejected;
        bool rejectsFailed = false;
        if (verdict == Verdict::Rejected) {
            // The sending thread's own file: written without the lock. The
            // Url is there to tell where it went, without its query.
            const std::string line = UtcText(s.clock.utcNow()) + '\t' + std::to_string(result.status) + '\t' +
                                     MaskedUrl(s.options.url) + '\t' + record.form + '\t' + OneLine(result.body) + '\n';
            try {
                const FileHandle file = s.fs.openOrCreate(s.rejectsPath);
                try {
                    s.fs.write(file, line.data(), line.size());
                } catch (...) {
                    s.fs.close(file);
                    throw;
                }
                s.fs.close(file);
            } catch (const std::exception&) {
                rejectsFailed = true;
            }
        }
        lock.lock();
        if (result.kind == HttpResult::Kind::Cancelled)
            break;
        const bool refused = verdict == Verdict::Rejected;
        if (settled) {
            // The server has had its say on this frame: marked, off the queue,
            // and the next one goes at once.
            box.Settle(record.id, refused);
            if (&box != &s.outbox && !box.Front())
                s.letGo(box, true);
            ++(refused ? s.state.refused : s.state.sent);
            s.state.offline = false;
            s.state.refusedLast = refused;
            s.state.fault.clear();
            s.state.faultText.clear();
            retry = s.options.firstRetry;
            if (rejectsFailed)
                s.notice(s.rejectsSaid, "Cannot write the rejects file " + s.rejectsPath +
                                            "; refused frames stay in the Telemetry archive only");
            if (refused) {
                std::string answer = OneLine(result.body);
                if (answer.size() > 200)
                    answer = answer.substr(0, 200) + "...";
                s.notice(s.refusalSaid, "The telemetry server refused a frame (HTTP " + httpStatusText(result.status) +
                                            (answer.empty() ? "" : ": " + answer) + "); it is kept in " +
                                            s.rejectsPath + " (" + kRequeueAdvice + ")");
            }
            s.outboxHealth();
            continue;
        }
        s.state.offline = true;
        s.standing(verdict, result);
        std::chrono::milliseconds wait = retry;
        if (verdict == Verdict::Temporary) {
            // Never sooner than the usual wait, whatever the answer asks:
            // "0" or a date gone by would have every frame sent at once, again
            // and again. A date is the server's, judged by the server's clock.
            const SystemTime now = ParseHttpDate(result.date).value_or(s.clock.utcNow());
            if (const auto asked = RetryAfterWait(result.retryAfter, now))
                wait = std::max(retry, std::min(*asked, s.options.longestRetry));
        }
        s.outboxHealth();
        pause(wait);
        retry = std::min(retry * 2, s.options.longestRetry);
    }
    while (!s.adopted.empty())
        s.letGo(*s.adopted.back(), false);  // sent by the next one to take them over
    s.done = true;
    s.finished.notify_all();
}

}  // namespace kestrel
