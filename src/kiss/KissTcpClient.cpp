// The KISS-over-TCP client: its reader thread (connect, wait, receive, send,
// reconnect) and the main thread's side of the queues between them.
//
// Sections:
//   Main thread    Open, Close, the queues read and written
//   Reader thread  connecting, serving the socket, waiting out a retry,
//                  delivering states and "bytes waiting" to the main thread

#include "kiss/KissTcpClient.h"

#include "kiss/TcpStream.h"
#include "serial/MainThreadMailbox.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace kestrel {

namespace {
constexpr std::size_t kIoBlock = 64 * 1024;

int milliseconds(std::chrono::steady_clock::duration d) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, 60 * 60 * 1000));
}
}  // namespace

const char* KissTcpClientStateText(KissTcpClient::State state) {
    switch (state) {
    case KissTcpClient::State::Connecting: return "connecting";
    case KissTcpClient::State::Connected: return "connected";
    case KissTcpClient::State::Lost: return "connection lost";
    case KissTcpClient::State::Closed: break;
    }
    return "closed";
}

KissTcpClient::KissTcpClient(MainThreadMailbox* mailbox) : mailbox_(mailbox) {}

KissTcpClient::~KissTcpClient() { Close(); }

// ---- Main thread ---------------------------------------------------------------------

void KissTcpClient::Open(const std::string& host, int port) {
    Close();
    MainThreadMailbox* mailbox = mailbox_ ? mailbox_ : ApplicationMailbox();
    if (!mailbox)
        throw std::logic_error("KissTcpClient: no mailbox to deliver to");
    active_ = mailbox;
    stream_ = CreateTcpStream();
    host_ = host;
    port_ = port;
    state_ = State::Connecting;
    detail_.clear();
    lastReadConnection_ = 0;
    {
        std::lock_guard lock(mutex_);
        rx_.clear();
        rxSize_ = rxOffset_ = 0;
        tx_.clear();
        stop_ = connected_ = rxNotified_ = finished_ = false;
        connection_ = 0;
    }
    threadState_ = State::Closed;
    threadDetail_.clear();
    thread_ = std::thread([this] { run(); });
}

void KissTcpClient::Close() {
    if (!thread_.joinable() || closing_)
        return;
    closing_ = true;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    stream_->Wake();
    // The thread may be blocked handing us a delivery: take them (they do
    // nothing now) until it has seen the stop.
    active_->ServiceUntil([this] {
        std::lock_guard lock(mutex_);
        return finished_;
    });
    thread_.join();
    stream_.reset();
    {
        std::lock_guard lock(mutex_);
        rx_.clear();
        rxSize_ = rxOffset_ = 0;
        tx_.clear();
    }
    state_ = State::Closed;
    detail_.clear();
    closing_ = false;
}

std::size_t KissTcpClient::BytesWaiting() const {
    std::lock_guard lock(mutex_);
    return rxSize_;
}

std::size_t KissTcpClient::Read(char* buffer, std::size_t size, bool* newConnection) {
    if (newConnection)
        *newConnection = false;
    bool wake = false;
    std::size_t n = 0;
    {
        std::lock_guard lock(mutex_);
        if (rx_.empty() || size == 0)
            return 0;
        Chunk& front = rx_.front();
        if (newConnection)
            *newConnection = front.connection != lastReadConnection_;
        lastReadConnection_ = front.connection;
        n = std::min(size, front.bytes.size() - rxOffset_);
        std::memcpy(buffer, front.bytes.data() + rxOffset_, n);
        rxOffset_ += n;
        wake = rxSize_ >= kMaxQueued && rxSize_ - n < kMaxQueued;
        rxSize_ -= n;
        if (rxOffset_ == front.bytes.size()) {
            rx_.pop_front();
            rxOffset_ = 0;
        }
    }
    if (wake)
        stream_->Wake();  // the reader stopped reading while the queue was full
    return n;
}

bool KissTcpClient::Write(std::string_view bytes) {
    if (!thread_.joinable())
        return false;
    {
        std::lock_guard lock(mutex_);
        if (!connected_ || tx_.size() + bytes.size() > kMaxQueued)
            return false;
        tx_.append(bytes);
    }
    stream_->Wake();
    return true;
}

std::uint64_t KissTcpClient::Connections() const {
    std::lock_guard lock(mutex_);
    return connection_;
}

// ---- Reader thread -------------------------------------------------------------------

bool KissTcpClient::stopping() const {
    std::lock_guard lock(mutex_);
    return stop_;
}

void KissTcpClient::run() {
    std::string failure;  // why the latest try failed
    while (!stopping()) {
        deliverState(State::Connecting, failure);
        std::string why;
        if (connect(why)) {
            {
                std::lock_guard lock(mutex_);
                ++connection_;
                connected_ = true;
            }
            deliverState(State::Connected, "");
            why = serve();
            {
                std::lock_guard lock(mutex_);
                connected_ = false;
                tx_.clear();
            }
            stream_->Disconnect();
            if (stopping())
                break;
            deliverState(State::Lost, why);
            failure.clear();
        } else {
            stream_->Disconnect();
            if (stopping())
                break;
            failure = why;
            deliverState(State::Connecting, failure);
        }
        if (!waitOrStop(kRetryInterval))
            break;
    }
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    active_->Notify();
}

bool KissTcpClient::connect(std::string& why) {
    using Clock = std::chrono::steady_clock;
    int error = stream_->BeginConnect(host_, port_);
    auto deadline = Clock::now() + kConnectTimeout;
    while (error == 0) {
        if (stopping())
            return false;
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            error = stream_->TimedOutError();
            break;
        }
        if (stream_->Wait(false, false, milliseconds(left)) & TcpStream::kWritable) {
            error = stream_->ConnectResult();
            if (error == 0)
                return true;
            if (stream_->TryNextAddress()) {
                error = 0;
                deadline = Clock::now() + kConnectTimeout;
            }
        }
    }
    why = stream_->ErrorText(error);
    return false;
}

std::string KissTcpClient::serve() {
    std::vector<char> block(kIoBlock);
    std::string sending;
    for (;;) {
        bool wantRead, wantWrite;
        {
            std::lock_guard lock(mutex_);
            if (stop_)
                return {};
            wantRead = rxSize_ < kMaxQueued;
            wantWrite = !tx_.empty();
        }
        const unsigned ready = stream_->Wait(wantRead, wantWrite, -1);
        if (ready & TcpStream::kReadable) {
            const auto r = stream_->Receive(block.data(), block.size());
            if (r.bytes > 0) {
                {
                    std::lock_guard lock(mutex_);
                    if (rx_.empty() || rx_.back().connection != connection_ || rx_.back().bytes.size() >= kIoBlock)
                        rx_.push_back({connection_, {}});
                    rx_.back().bytes.append(block.data(), r.bytes);
                    rxSize_ += r.bytes;
                }
                notifyRx();
            } else if (!r.again) {
                return r.error ? stream_->ErrorText(r.error) : "closed by the peer";
            }
        }
        if (ready & TcpStream::kWritable) {
            {
                std::lock_guard lock(mutex_);
                sending.assign(tx_, 0, kIoBlock);
            }
            if (sending.empty())
                continue;
            const auto r = stream_->Send(sending.data(), sending.size());
            if (r.bytes > 0) {
                std::lock_guard lock(mutex_);
                tx_.erase(0, r.bytes);
            } else if (!r.again) {
                return stream_->ErrorText(r.error);
            }
        }
    }
}

bool KissTcpClient::waitOrStop(std::chrono::steady_clock::duration d) {
    const auto deadline = std::chrono::steady_clock::now() + d;
    for (;;) {
        if (stopping())
            return false;
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            return true;
        stream_->Wait(false, false, milliseconds(left));
    }
}

void KissTcpClient::deliverState(State state, const std::string& detail) {
    if (state == threadState_ && detail == threadDetail_)
        return;
    threadState_ = state;
    threadDetail_ = detail;
    active_->Send(
        [this, state, detail] {
            if (closing_)
                return;
            state_ = state;
            detail_ = detail;
            if (OnStateChange)
                OnStateChange(state, detail);
        },
        MainThreadMailbox::Release::PickedUp);
}

void KissTcpClient::notifyRx() {
    {
        std::lock_guard lock(mutex_);
        if (rxNotified_)
            return;
        rxNotified_ = true;
    }
    active_->Send(
        [this] {
            {
                std::lock_guard lock(mutex_);
                rxNotified_ = false;
            }
            if (!closing_ && OnRxBytes)
                OnRxBytes();
        },
        MainThreadMailbox::Release::PickedUp);
}

}  // namespace kestrel
