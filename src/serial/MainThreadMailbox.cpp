// The mailbox between an event thread and the main thread: queued deliveries,
// the sender's wait for pick-up or completion, and the main thread's service.

#include "serial/MainThreadMailbox.h"

#include <atomic>

#include "serial/HandlerExceptions.h"

namespace kestrel {

struct MainThreadMailbox::Delivery {
    std::function<void()> action;
    Release release;
    bool released = false;  // guarded by the mailbox mutex
};

void MainThreadMailbox::Send(std::function<void()> action, Release release) {
    auto d = std::make_shared<Delivery>();
    d->action = std::move(action);
    d->release = release;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(d);
        ++generation_;
    }
    changed_.notify_all();
    Wake();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return d->released; });
}

void MainThreadMailbox::Post(std::function<void()> action) {
    auto d = std::make_shared<Delivery>();
    d->action = std::move(action);
    d->release = Release::PickedUp;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(d));
        ++generation_;
    }
    changed_.notify_all();
    Wake();
}

std::shared_ptr<MainThreadMailbox::Delivery> MainThreadMailbox::takeNext() {
    std::lock_guard lock(mutex_);
    if (queue_.empty())
        return nullptr;
    auto d = queue_.front();
    queue_.pop_front();
    return d;
}

int MainThreadMailbox::ServicePending() {
    std::size_t n;
    {
        std::lock_guard lock(mutex_);
        n = queue_.size();
    }
    int run = 0;
    for (; n > 0; --n) {
        auto d = takeNext();
        if (!d)
            break;
        auto releaseSender = [&] {
            {
                std::lock_guard lock(mutex_);
                d->released = true;
            }
            changed_.notify_all();
        };
        if (d->release == Release::PickedUp)
            releaseSender();
        try {
            d->action();
        } catch (...) {
            ReportCurrentException();
        }
        if (d->release == Release::Done)
            releaseSender();
        ++run;
    }
    return run;
}

bool MainThreadMailbox::ServiceUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    using clock = std::chrono::steady_clock;
    const bool bounded = limit != std::chrono::milliseconds::max();
    const auto deadline = bounded ? clock::now() + limit : clock::time_point::max();
    for (;;) {
        // Taken before looking, so that a change made while we look still wakes us.
        unsigned long seen;
        {
            std::lock_guard lock(mutex_);
            seen = generation_;
        }
        ServicePending();
        if (done())
            return true;
        std::unique_lock lock(mutex_);
        auto woken = [&] { return generation_ != seen || !queue_.empty(); };
        if (!bounded) {
            changed_.wait(lock, woken);
        } else if (!changed_.wait_until(lock, deadline, woken)) {
            lock.unlock();
            ServicePending();
            return done();
        }
    }
}

void MainThreadMailbox::Notify() {
    {
        std::lock_guard lock(mutex_);
        ++generation_;
    }
    changed_.notify_all();
}

std::size_t MainThreadMailbox::Pending() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

namespace {
std::atomic<MainThreadMailbox*> g_applicationMailbox{nullptr};
}

void SetApplicationMailbox(MainThreadMailbox* mailbox) { g_applicationMailbox.store(mailbox); }
MainThreadMailbox* ApplicationMailbox() { return g_applicationMailbox.load(); }

}  // namespace kestrel
