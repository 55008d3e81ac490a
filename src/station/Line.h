#pragma once
// The station's line to the TNC behind one small interface: the serial port
// as it is, the serial port carrying KISS, or a software TNC's KISS port over
// TCP (the settings file's [Line] section chooses). On a KISS line everything
// sent goes out as one data frame for port 0, never as raw bytes into the
// TNC's framing.

#include "kiss/KissTcpClient.h"
#include "kiss/LineSource.h"
#include "serial/CPort.h"
#include "station/Continuation.h"
#include "station/DisplayQueue.h"
#include "station/PortRetry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kestrel {

class StationLine {
public:
    explicit StationLine(bool kiss) : kiss_(kiss) {}
    virtual ~StationLine() = default;
    StationLine(const StationLine&) = delete;
    StationLine& operator=(const StationLine&) = delete;

    // Start-up: raises when a serial port cannot be opened; a software TNC
    // that is not running yet is waited for.
    virtual void open() = 0;
    // Shut-down.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual std::int32_t bytesWaiting() = 0;
    // Up to count bytes into chunk (exactly as long as the result); fresh: the
    // first bytes of a new connection, so a KISS frame cut off by the old one
    // does not go on.
    virtual std::int32_t read(std::string& chunk, std::int32_t count, bool& fresh) = 0;
    // Clear: what the driver still queues is discarded.
    virtual void purge() = 0;
    // Around the setup dialog: the serial port is closed before it and opened
    // after it (raising when it cannot be); the TCP line is left alone.
    virtual void closeForSettings() = 0;
    virtual void reopenAfterSettings() = 0;
    // One trim tick; retryDue: every PortRetry::kRetryTicks.
    virtual void tick(bool retryDue) { (void)retryDue; }
    // A serial port that went away and is being tried again.
    virtual bool portLost() const { return false; }

    // Sends bytes as the line expects them.
    void send(const std::string& bytes);
    bool kiss() const { return kiss_; }

protected:
    virtual void write(const std::string& bytes) = 0;

private:
    bool kiss_;
};

// The port's settings as the window was designed; the settings file
// overrides what it holds.
void DesignPortSettings(TComPort& port, MainThreadMailbox* mailbox);

class SerialLine : public StationLine {
public:
    SerialLine(TComPort& port, bool kiss, DisplayQueue& display, Continuation& continuation)
        : StationLine(kiss), port_(port), retry_(port, display, continuation) {}

    void open() override { port_.OpenPort(); }
    void close() override { port_.ClosePort(); }
    bool isOpen() const override { return port_.Connected(); }
    std::int32_t bytesWaiting() override;
    std::int32_t read(std::string& chunk, std::int32_t count, bool& fresh) override;
    void purge() override;
    void closeForSettings() override;
    void reopenAfterSettings() override { port_.OpenPort(); }
    void tick(bool retryDue) override { retry_.tick(retryDue); }

    bool portLost() const override { return retry_.isLost(); }

protected:
    void write(const std::string& bytes) override { port_.WriteText(bytes); }

private:
    // A failed call whose port's event thread has ended means the device went
    // away: the port is lost, and the call reads as nothing.
    template <class F>
    std::int32_t unlessLost(F&& call);

    TComPort& port_;
    PortRetry retry_;
};

// A software TNC's KISS port as the station's line: the adapter between the
// engine and the TCP client (kiss/KissTcpClient.h) that keeps the connection.
class TcpKissLine : public StationLine {
public:
    TcpKissLine(const LineSourceSettings& settings, MainThreadMailbox* mailbox, std::function<void()> onReceived,
                DisplayQueue& display, Continuation& continuation);
    ~TcpKissLine() override;

    void open() override { client_.Open(host_, port_); }
    void close() override { client_.Close(); }
    bool isOpen() const override { return client_.IsOpen(); }
    std::int32_t bytesWaiting() override;
    std::int32_t read(std::string& chunk, std::int32_t count, bool& fresh) override;
    void purge() override {}  // no driver queue
    void closeForSettings() override {}
    void reopenAfterSettings() override {}  // the serial settings wait for the file

protected:
    void write(const std::string& bytes) override;

private:
    void stateChanged(KissTcpClient::State state, const std::string& detail);

    KissTcpClient client_;
    std::string host_;
    int port_;
    DisplayQueue& display_;
    Continuation& continuation_;
    bool reported_ = false;  // a lost connection is reported once until it is back
};

// The line the settings file's [Line] section chooses: the serial port, plain
// or KISS, or a software TNC's KISS port over TCP (onReceived: bytes came).
std::unique_ptr<StationLine> ChooseLine(const LineSourceSettings& settings, TComPort& port, MainThreadMailbox* mailbox,
                                        std::function<void()> onReceived, DisplayQueue& display,
                                        Continuation& continuation);

}  // namespace kestrel
