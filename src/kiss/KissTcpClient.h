#pragma once
// A software TNC's KISS port as the station's line: a TCP client that keeps
// itself connected. A reader thread connects (without blocking on a silent
// host), waits on the socket and a stop signal, queues what arrives and hands
// "bytes waiting" to the main thread through a MainThreadMailbox, as the
// serial port's event thread does; it notices the peer going away and
// connects again every kRetryInterval. Everything else runs on the main
// thread: BytesWaiting(), Read() and Write(), and the two callbacks. The
// reader waits for the main thread to pick each delivery up, so the main
// thread must keep servicing the mailbox (its event loop does) for the line
// to go on receiving and sending.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace kestrel {

class MainThreadMailbox;
class TcpStream;

class KissTcpClient {
public:
    enum class State {
        Closed,      // not opened, or closed
        Connecting,  // trying; the detail says why the last try failed
        Connected,
        Lost,  // the peer went away; the next try comes after kRetryInterval
    };

    static constexpr auto kRetryInterval = std::chrono::seconds(2);
    static constexpr auto kConnectTimeout = std::chrono::seconds(5);
    // Received bytes held for the main thread at most; beyond it the line is
    // not read until the main thread catches up (TCP then holds the peer back).
    static constexpr std::size_t kMaxQueued = 1 << 20;

    // Deliveries go to `mailbox`; none: the application's (ApplicationMailbox()).
    explicit KissTcpClient(MainThreadMailbox* mailbox = nullptr);
    ~KissTcpClient();
    KissTcpClient(const KissTcpClient&) = delete;
    KissTcpClient& operator=(const KissTcpClient&) = delete;

    // Main thread, as deliveries of the mailbox: bytes are waiting (drain with
    // Read() until BytesWaiting() is 0; a new call comes for bytes that arrive
    // afterwards), and the connection's state changed (with the OS's text for
    // a failed try or a lost connection, empty otherwise). Set before Open().
    std::function<void()> OnRxBytes;
    std::function<void(State state, const std::string& detail)> OnStateChange;

    // Starts connecting to host:port and returns at once; an open line is
    // closed first. Throws std::logic_error when there is no mailbox.
    void Open(const std::string& host, int port);
    // Stops the reader thread and drops the connection and any bytes waiting.
    // Safe to call from the callbacks and when not open.
    void Close();
    bool IsOpen() const { return thread_.joinable(); }

    // As last delivered to the main thread.
    State GetState() const { return state_; }
    const std::string& StateDetail() const { return detail_; }
    std::string Address() const { return host_ + ":" + std::to_string(port_); }

    // Received bytes not yet read, of this connection and the ones before it.
    std::size_t BytesWaiting() const;
    // Up to `size` waiting bytes into `buffer`, never from two connections at
    // once; returns the count. *newConnection (when given) tells whether these
    // are the first bytes read of their connection: a KISS deframer must then
    // start afresh (KissDeframer::Reset), as a frame cut off by a lost
    // connection does not go on in the next one.
    std::size_t Read(char* buffer, std::size_t size, bool* newConnection = nullptr);
    // Queues `bytes` to be sent; false, with nothing queued, while the line is
    // not connected or the queue is over kMaxQueued. Bytes queued when the
    // connection drops are lost with it.
    bool Write(std::string_view bytes);

    // Connections made since Open().
    std::uint64_t Connections() const;

private:
    struct Chunk {
        std::uint64_t connection;
        std::string bytes;
    };

    void run();
    // True once connected; otherwise `why` holds the error (empty on a stop).
    bool connect(std::string& why);
    // Until the connection ends: why it ended, empty on a stop.
    std::string serve();
    bool stopping() const;
    bool waitOrStop(std::chrono::steady_clock::duration d);
    void deliverState(State state, const std::string& detail);
    void notifyRx();

    MainThreadMailbox* mailbox_;           // as given
    MainThreadMailbox* active_ = nullptr;  // the one of this Open()
    std::unique_ptr<TcpStream> stream_;
    std::thread thread_;
    std::string host_;
    int port_ = 0;

    // Main thread only.
    State state_ = State::Closed;
    std::string detail_;
    std::uint64_t lastReadConnection_ = 0;
    bool closing_ = false;

    // Shared with the reader thread.
    mutable std::mutex mutex_;
    std::deque<Chunk> rx_;
    std::size_t rxSize_ = 0;
    std::size_t rxOffset_ = 0;  // of rx_.front()
    std::string tx_;
    bool stop_ = false;
    bool connected_ = false;
    bool rxNotified_ = false;  // a "bytes waiting" delivery not yet run
    bool finished_ = false;
    std::uint64_t connection_ = 0;
    // Reader thread only.
    State threadState_ = State::Closed;
    std::string threadDetail_;
};

const char* KissTcpClientStateText(KissTcpClient::State state);

}  // namespace kestrel
