#pragma once
// The simulator's end of the serial line: the master side of a pseudo-terminal
// pair whose slave the decoder opens, a real serial device, or a TCP port on
// 127.0.0.1 serving one client at a time, as a software TNC's KISS port does.

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel::sim {

class SimPort {
public:
    // Creates a pseudo-terminal pair. The simulator keeps a slave descriptor of
    // its own open, so the master sees no hang-up while the decoder is not
    // connected, and sets the slave raw (no echo, no line editing).
    static SimPort createPty();
    // Opens a serial device raw at the given rate (bits per second).
    static SimPort openDevice(const std::string& path, int baud);
    // Listens on 127.0.0.1:port (0: an ephemeral one; portName() tells).
    static SimPort listenTcp(int port);

    SimPort(SimPort&& other) noexcept;
    SimPort& operator=(SimPort&&) = delete;
    SimPort(const SimPort&) = delete;
    ~SimPort();

    // The port name to give the decoder: the pty slave's path or the device.
    const std::string& portName() const { return portName_; }
    bool isPty() const { return slaveFd_ >= 0; }
    bool isTcp() const { return listenFd_ >= 0; }
    int tcpPort() const { return tcpPort_; }
    // The line's descriptor; -1 while a TCP port has no client.
    int fd() const { return fd_; }

    // True once someone else has opened the pty slave and set its line
    // parameters (the decoder does so when it opens the port), or while a TCP
    // client is connected (one waiting is accepted here). Always true for a
    // device.
    bool peerConfigured();

    // Writes without blocking; returns the number of bytes accepted (fewer when
    // the line's queue is full, for instance while nobody reads the slave).
    std::size_t writeSome(const void* data, std::size_t size);
    // Waits up to timeoutMs until the decoder has read everything sent into a
    // pty (closing the master would discard it); true when nothing is left.
    bool drain(int timeoutMs) const;
    // Reads what is waiting, without blocking; 0 when nothing is.
    std::size_t readSome(void* data, std::size_t size);

private:
    SimPort(int fd, int slaveFd, std::string name) : fd_(fd), slaveFd_(slaveFd), portName_(std::move(name)) {}
    void dropClient();

    int fd_ = -1;
    int slaveFd_ = -1;
    int listenFd_ = -1;
    int tcpPort_ = 0;
    std::string portName_;
};

// Points the decoder in dir at port through dir/RS232Settings.ini: the [CPort]
// keys of the line (8 data bits, no parity, one stop bit, no flow control),
// and Source=Serial in a [Line] section that is there. Every other section,
// key and comment of the file stays; a new file has CR LF line ends. Returns
// the file's path; throws std::runtime_error on failure.
std::string writeSettingsIni(const std::string& dir, const std::string& port, int baud);
// The same for a KISS line: [CPort] as above and [Line] Source "Serial KISS"
// on the serial port, or, for a TCP port, [Line] alone with Source "KISS TCP",
// Host 127.0.0.1 and its TcpPort.
std::string writeKissSettingsIni(const std::string& dir, const SimPort& port, int baud);

}  // namespace kestrel::sim
