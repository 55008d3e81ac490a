// The station's line: the serial port (plain or KISS) and the KISS-over-TCP
// line behind one interface (see Line.h).

#include "station/Line.h"

#include "kiss/KissDeframer.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <stdexcept>

namespace kestrel {

void StationLine::send(const std::string& bytes) { write(kiss_ ? EncodeKissDataFrame(bytes) : bytes); }

// ---- Serial port ---------------------------------------------------------------

void DesignPortSettings(TComPort& port, MainThreadMailbox* mailbox) {
    port.SetName("CPort");
    port.SetPort("COM4");
    port.SetBaudRate(br9600);
    port.SetDataBits(dbEight);
    port.Parity().SetBits(prNone);
    port.SetStopBits(sbOneStopBit);
    TComFlowControl& flow = port.FlowControl();
    flow.SetOutCTSFlow(false);
    flow.SetOutDSRFlow(false);
    flow.SetControlDTR(dtrDisable);
    flow.SetControlRTS(rtsDisable);
    flow.SetXonXoffOut(false);
    flow.SetXonXoffIn(false);
    TComTimeouts& timeouts = port.Timeouts();
    timeouts.SetReadInterval(100);
    timeouts.SetReadTotalMultiplier(100);
    timeouts.SetReadTotalConstant(100);
    timeouts.SetWriteTotalMultiplier(1000);
    timeouts.SetWriteTotalConstant(1000);
    port.SetEvents(kAllComEvents);
    port.SetSyncMethod(smWindowSync);
    port.SetMailbox(mailbox);
}

template <class F>
std::int32_t SerialLine::unlessLost(F&& call) {
    try {
        return call();
    } catch (const EComPort&) {
        // A failing call on a device that still answers is an error to
        // report; on one that went away it is the loss.
        if (port_.EventThreadActive() && !port_.DeviceGone())
            throw;
        retry_.lost();
        return 0;
    }
}

std::int32_t SerialLine::bytesWaiting() {
    return unlessLost([&] { return port_.BytesWaiting(); });
}

std::int32_t SerialLine::read(std::string& chunk, std::int32_t count, bool& fresh) {
    fresh = false;
    return unlessLost([&] { return port_.ReadBytes(chunk, count); });
}

void SerialLine::purge() {
    if (!retry_.isLost())  // a lost port has nothing queued to discard
        port_.PurgeBuffers(true, true);
}

void SerialLine::closeForSettings() {
    retry_.cancel();
    port_.ClosePort();
}

// ---- KISS over TCP -------------------------------------------------------------

TcpKissLine::TcpKissLine(const LineSourceSettings& settings, MainThreadMailbox* mailbox,
                         std::function<void()> onReceived, DisplayQueue& display, Continuation& continuation)
    : StationLine(true),
      client_(mailbox),
      host_(settings.host),
      port_(settings.port),
      display_(display),
      continuation_(continuation) {
    client_.OnRxBytes = std::move(onReceived);
    client_.OnStateChange = [this](KissTcpClient::State s, const std::string& detail) { stateChanged(s, detail); };
}

TcpKissLine::~TcpKissLine() {
    // Nothing the reader still delivers may reach a half-destroyed engine.
    client_.OnRxBytes = nullptr;
    client_.OnStateChange = nullptr;
}

std::int32_t TcpKissLine::bytesWaiting() {
    // A count, not a read: saturate rather than wrap (the read takes a chunk).
    return static_cast<std::int32_t>(std::min<std::size_t>(client_.BytesWaiting(), INT32_MAX));
}

std::int32_t TcpKissLine::read(std::string& chunk, std::int32_t count, bool& fresh) {
    chunk.resize(std::size_t(count));
    fresh = false;
    const std::size_t n = client_.Read(chunk.data(), chunk.size(), &fresh);
    chunk.resize(n);
    return static_cast<std::int32_t>(n);
}

void TcpKissLine::write(const std::string& bytes) {
    if (!client_.Write(bytes))
        throw std::runtime_error("The TNC at " + client_.Address() + " is not connected");
}

void TcpKissLine::stateChanged(KissTcpClient::State state, const std::string& detail) {
    switch (state) {
    case KissTcpClient::State::Connected:
        reported_ = false;
        display_.post(StatusSource::Line, "TNC online");
        break;
    case KissTcpClient::State::Connecting: display_.post(StatusSource::Line, "TNC offline"); break;
    case KissTcpClient::State::Lost:
        display_.post(StatusSource::Line, "TNC lost");
        if (!reported_) {
            reported_ = true;
            continuation_.report("The TNC at " + client_.Address() + " went away" +
                                 (detail.empty() ? std::string() : " (" + detail + ")") + "; connecting again every " +
                                 std::to_string(std::chrono::seconds(KissTcpClient::kRetryInterval).count()) + " s");
        }
        break;
    case KissTcpClient::State::Closed: display_.post(StatusSource::Line, {}); break;
    }
}

std::unique_ptr<StationLine> ChooseLine(const LineSourceSettings& settings, TComPort& port, MainThreadMailbox* mailbox,
                                        std::function<void()> onReceived, DisplayQueue& display,
                                        Continuation& continuation) {
    if (settings.kind == LineSourceSettings::KissTcp)
        return std::make_unique<TcpKissLine>(settings, mailbox, std::move(onReceived), display, continuation);
    return std::make_unique<SerialLine>(port, settings.kind == LineSourceSettings::SerialKiss, display, continuation);
}

}  // namespace kestrel
