#pragma once
// Hands work from a port's event thread to the main thread.
//
// Send() (event thread) queues a delivery, calls Wake() and blocks: until the
// main thread has picked the delivery up (PickedUp: the sender is released
// before the action runs, so it can go back to waiting on the device), or
// until the action has finished (Done). The main thread runs deliveries in
// ServicePending(); ServiceUntil() does the same while it waits for something
// else, which is how ClosePort waits for an event thread that may at that
// moment be blocked in Send() without deadlocking against it.
//
// A window layer derives from this and implements Wake() by posting an event
// to an object living on the main thread whose handler calls ServicePending().
// Wake() may find the queue already drained (ServiceUntil got there first);
// ServicePending() then simply does nothing.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace kestrel {

class MainThreadMailbox {
public:
    enum class Release { PickedUp, Done };

    MainThreadMailbox() = default;
    MainThreadMailbox(const MainThreadMailbox&) = delete;
    MainThreadMailbox& operator=(const MainThreadMailbox&) = delete;
    virtual ~MainThreadMailbox() = default;

    // Any thread but the main thread (which would wait for itself). An exception escaping the action goes to
    // the application's exception report on the main thread, never back here.
    void Send(std::function<void()> action, Release release);

    // Any thread: queues the action and returns at once, without waiting for
    // the main thread (for work nobody waits on, such as a report).
    void Post(std::function<void()> action);

    // Main thread: runs the deliveries queued at the moment of the call, one at
    // a time, releasing each sender as described above. Re-entrant: an action
    // that pumps events may service later deliveries itself. Returns the
    // number of deliveries run.
    int ServicePending();

    // Main thread: services deliveries until done() holds, re-checking it
    // whenever a delivery arrives or Notify() is called. Returns done()'s last
    // value: false only when `limit` ran out first.
    bool ServiceUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::milliseconds::max());

    // Any thread: wakes ServiceUntil so that it re-checks its condition.
    void Notify();

    // Number of deliveries queued and not yet picked up.
    std::size_t Pending() const;

protected:
    // Called on the sending thread after a delivery was queued.
    virtual void Wake() = 0;

private:
    struct Delivery;
    std::shared_ptr<Delivery> takeNext();

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<Delivery>> queue_;
    unsigned long generation_ = 0;
};

// The mailbox ports use when none was given to them: the window layer installs
// its own at start-up. Not owned; set it before opening a port.
void SetApplicationMailbox(MainThreadMailbox* mailbox);
MainThreadMailbox* ApplicationMailbox();

}  // namespace kestrel
