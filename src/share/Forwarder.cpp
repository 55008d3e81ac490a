// The forwarder's sending thread and the owner's calls into it (see
// Forwarder.h): outcomes, waits, notices, and the rejects file.

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
#include <thread>
#include <utility>

namespace kestrel {

namespace {

// An outbox that holds nothing unsent is emptied once it has grown this much.
constexpr std::uint64_t kCompactSize = 1 << 20;
// Enough of an answer to say why, on one line of the rejects file.
constexpr std::size_t kAnswerKept = 2000;
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

// Answers that say "not now": the frame is tried again.
bool Temporary(int status) {
    return status == 408 || status == 425 || status == 429 || (status >= 500 && status < 600);
}

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::optional<std::chrono::milliseconds> RetryAfterWait(const std::string& value, const SystemTime& utcNow) {
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
    // IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT".
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
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
    const std::int64_t wait = utcMilliseconds(at) - utcMilliseconds(utcNow);
    return std::chrono::milliseconds(std::max<std::int64_t>(wait, 0));
}

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
    bool refusalSaid = false, tlsSaid = false, outboxSaid = false, answerSaid = false, failedSaid = false,
         rejectsSaid = false, redirectSaid = false, syncSaid = false;

    // The station takes the notices at its next tick and writes them down.
    void say(std::string text) { notices.push_back(std::move(text)); }
    void notice(bool& said, std::string text) {
        if (said)
            return;
        said = true;
        say(std::move(text));
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
    }
};

Forwarder::Forwarder(std::unique_ptr<IHttpTransport> transport, std::string outboxPath, std::string rejectsPath,
                     ForwarderOptions options, IFileSystem& fs, IClock& clock)
    : shared_(std::make_unique<Shared>(std::move(transport), std::move(outboxPath), std::move(rejectsPath),
                                       std::move(options), fs, clock)) {}

Forwarder::~Forwarder() { Stop(); }

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
                  " of the outbox moved to " + s.outbox.DamagedPath() + " and not sent");
        s.state.queued = s.outbox.Waiting();
    }
    thread_ = std::thread([this] { run(); });
}

void Forwarder::Submit(const std::string& form) {
    Shared& s = *shared_;
    std::lock_guard lock(s.mutex);
    s.outbox.Add(s.options.url, form);
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
    while (!s.stop) {
        s.outbox.WriteHeld();
        s.outboxHealth();
        const OutboxRecord* front = s.outbox.Front();
        if (!front) {
            s.outbox.Compact(kCompactSize);
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
        const bool answered = result.kind == HttpResult::Kind::Answered;
        const int status = answered ? result.status : 0;
        const bool refused = status >= 400 && status < 500 && !Temporary(status);
        bool rejectsFailed = false;
        if (refused) {
            // The sending thread's own file: written without the lock.
            const std::string line = UtcText(s.clock.utcNow()) + '\t' + std::to_string(status) + '\t' + s.options.url +
                                     '\t' + record.form + '\t' + OneLine(result.body) + '\n';
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
        if ((status >= 200 && status < 300) || refused) {
            // The server has had its say on this frame: marked, off the queue,
            // and the next one goes at once.
            s.outbox.Settle(record.id, refused);
            ++(refused ? s.state.refused : s.state.sent);
            s.state.offline = false;
            s.state.refusedLast = refused;
            retry = s.options.firstRetry;
            if (rejectsFailed)
                s.notice(s.rejectsSaid, "Cannot write the rejects file " + s.rejectsPath +
                                            "; refused frames stay in the Telemetry archive only");
            if (refused) {
                std::string answer = OneLine(result.body);
                if (answer.size() > 200)
                    answer = answer.substr(0, 200) + "...";
                s.notice(s.refusalSaid, "The telemetry server refused a frame (HTTP " + httpStatusText(status) +
                                            (answer.empty() ? "" : ": " + answer) + "); it is kept in " +
                                            s.rejectsPath + " and not sent again");
            }
            s.outboxHealth();
            continue;
        }
        s.state.offline = true;
        const std::string waiting = "; frames wait in " + s.outbox.Path();
        if (result.kind == HttpResult::Kind::Tls)
            s.notice(s.tlsSaid, "Telemetry is not forwarded: " + result.detail + waiting);
        else if (result.kind == HttpResult::Kind::Failed)
            s.notice(s.failedSaid, "Telemetry is not forwarded: " + result.detail + waiting);
        else if (answered && status >= 300 && status < 400)
            s.notice(s.redirectSaid, "The telemetry server at " + s.options.url + " answered HTTP " +
                                         std::to_string(status) + " (moved" +
                                         (result.location.empty() ? "" : " to " + OneLine(result.location)) +
                                         "); frames are not sent anywhere else: correct the Url in [Share]" + waiting);
        else if (answered && !Temporary(status))
            s.notice(s.answerSaid,
                     "The telemetry server at " + s.options.url + " answered HTTP " + httpStatusText(status) + waiting);
        std::chrono::milliseconds wait = retry;
        if (answered && Temporary(status))
            if (const auto asked = RetryAfterWait(result.retryAfter, s.clock.utcNow()))
                wait = std::min(*asked, s.options.longestRetry);
        s.outboxHealth();
        pause(wait);
        retry = std::min(retry * 2, s.options.longestRetry);
    }
    s.done = true;
    s.finished.notify_all();
}

}  // namespace kestrel
