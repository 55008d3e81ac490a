#include "share/Forwarder.h"

#include "telemetry/Clock.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>
#include <utility>

namespace kestrel {

namespace {

// An outbox that holds nothing unsent is emptied once it has grown this much.
constexpr std::uint64_t kCompactSize = 1 << 20;
// Enough of an answer to say why, on one line of the rejects file.
constexpr std::size_t kAnswerKept = 2000;

std::string OneLine(std::string text) {
    if (text.size() > kAnswerKept)
        text.resize(kAnswerKept);
    for (char& c : text)
        if (c == '\r' || c == '\n' || c == '\t')
            c = ' ';
    return text;
}

std::string UtcText() {
    const SystemTime t = systemClock().utcNow();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02uZ", unsigned(t.year), unsigned(t.month),
                  unsigned(t.day), unsigned(t.hour), unsigned(t.minute), unsigned(t.second));
    return buf;
}

}  // namespace

struct Forwarder::Shared {
    Shared(std::unique_ptr<IHttpTransport> t, std::string outboxPath, std::string rejects, ForwarderOptions o)
        : transport(std::move(t)),
          outbox(std::move(outboxPath)),
          rejectsPath(std::move(rejects)),
          options(std::move(o)) {}

    std::unique_ptr<IHttpTransport> transport;
    Outbox outbox;
    const std::string rejectsPath;
    const ForwarderOptions options;

    mutable std::mutex mutex;
    std::condition_variable wake;
    std::deque<OutboxRecord> queue;
    ForwarderState state;
    bool stop = false;
    bool done = false;
    bool syncDue = false;
    std::condition_variable finished;
    std::vector<std::string> notices;
    bool refusalSaid = false, tlsSaid = false, outboxSaid = false, answerSaid = false, failedSaid = false,
         rejectsSaid = false;

    void notice(bool& said, std::string text) {
        if (said)
            return;
        said = true;
        std::fprintf(stderr, "kestrel-decoder: %s\n", text.c_str());
        notices.push_back(std::move(text));
    }
};

Forwarder::Forwarder(std::unique_ptr<IHttpTransport> transport, std::string outboxPath, std::string rejectsPath,
                     ForwarderOptions options)
    : shared_(std::make_shared<Shared>(std::move(transport), std::move(outboxPath), std::move(rejectsPath),
                                       std::move(options))) {}

Forwarder::~Forwarder() { Stop(); }

void Forwarder::Start() {
    std::vector<OutboxRecord> waiting = shared_->outbox.Open();
    {
        std::lock_guard lock(shared_->mutex);
        for (auto& r : waiting)
            shared_->queue.push_back(std::move(r));
        shared_->state.queued = shared_->queue.size();
    }
    std::thread(Run, shared_).detach();
    started_ = true;
}

void Forwarder::Submit(const std::string& form) {
    Shared& s = *shared_;
    std::lock_guard lock(s.mutex);
    OutboxRecord record;
    try {
        s.outbox.Append(record, s.options.url, form);
        s.syncDue = true;
    } catch (const std::exception& e) {
        s.notice(s.outboxSaid, std::string(e.what()) + "; frames are still sent, but lost if the program ends first");
        record.form = form;
    }
    s.queue.push_back(std::move(record));
    s.state.queued = s.queue.size();
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
    if (!started_)
        return;
    started_ = false;
    Shared& s = *shared_;
    std::unique_lock lock(s.mutex);
    s.stop = true;
    s.wake.notify_one();
    // A request about to be answered may still be marked sent; one that is
    // not is cut off and its frame waits for the next start.
    if (!s.finished.wait_for(lock, wait, [&] { return s.done; }))
        s.transport->cancel();
}

void Forwarder::Run(std::shared_ptr<Shared> shared) {
    Shared& s = *shared;
    std::unique_lock lock(s.mutex);
    std::chrono::milliseconds retry = s.options.firstRetry;
    while (!s.stop) {
        if (s.queue.empty()) {
            if (s.outbox.Size() >= kCompactSize) {
                try {
                    s.outbox.Clear();
                } catch (const std::exception& e) {
                    s.notice(s.outboxSaid, e.what());
                }
            }
            s.wake.wait(lock, [&] { return s.stop || !s.queue.empty(); });
            continue;
        }
        if (std::exchange(s.syncDue, false))
            s.outbox.Sync();  // a power cut keeps what waits
        const OutboxRecord record = s.queue.front();
        lock.unlock();
        HttpRequest request;
        request.url = s.options.url;
        request.form = record.form;
        request.caFile = s.options.caFile;
        request.connectTimeout = s.options.connectTimeout;
        request.totalTimeout = s.options.totalTimeout;
        const HttpResult result = s.transport->post(request);
        lock.lock();
        if (result.kind == HttpResult::Kind::Cancelled)
            break;
        const bool answered = result.kind == HttpResult::Kind::Answered;
        const int status = answered ? result.status : 0;
        // The server has had its say on this frame: marked, off the queue,
        // and the next one goes at once.
        const auto settle = [&](void (Outbox::*mark)(std::uint64_t), bool refused) {
            try {
                if (record.number)
                    (s.outbox.*mark)(record.number);
            } catch (const std::exception& e) {
                s.notice(s.outboxSaid, e.what());
            }
            s.queue.pop_front();
            ++(refused ? s.state.refused : s.state.sent);
            s.state.offline = false;
            s.state.refusedLast = refused;
            retry = s.options.firstRetry;
        };
        if (status >= 200 && status < 300) {
            settle(&Outbox::MarkSent, false);
        } else if (status >= 400 && status < 500) {
            {
                std::ofstream rejects(s.rejectsPath, std::ios::binary | std::ios::app);
                rejects << UtcText() << '\t' << status << '\t' << s.options.url << '\t' << record.form << '\t'
                        << OneLine(result.body) << '\n';
                if (!rejects.flush())
                    s.notice(s.rejectsSaid, "Cannot write the rejects file " + s.rejectsPath +
                                                "; refused frames stay in the Telemetry archive only");
            }
            settle(&Outbox::MarkRefused, true);
            std::string answer = OneLine(result.body);
            if (answer.size() > 200)
                answer = answer.substr(0, 200) + "...";
            s.notice(s.refusalSaid, "The telemetry server refused a frame (HTTP " + std::to_string(status) +
                                        (answer.empty() ? "" : ": " + answer) + "); it is kept in " + s.rejectsPath +
                                        " and not sent again");
        } else {
            s.state.offline = true;
            if (result.kind == HttpResult::Kind::Tls)
                s.notice(s.tlsSaid,
                         "Telemetry is not forwarded: " + result.detail + "; frames wait in " + s.outbox.Path());
            else if (result.kind == HttpResult::Kind::Failed)
                s.notice(s.failedSaid,
                         "Telemetry is not forwarded: " + result.detail + "; frames wait in " + s.outbox.Path());
            else if (answered && status < 500)
                s.notice(s.answerSaid, "The telemetry server at " + s.options.url + " answered HTTP " +
                                           std::to_string(status) + "; frames wait in " + s.outbox.Path());
            s.wake.wait_for(lock, retry, [&] { return s.stop; });
            retry = std::min(retry * 2, s.options.longestRetry);
        }
        s.state.queued = s.queue.size();
    }
    s.done = true;
    s.finished.notify_all();
}

}  // namespace kestrel
