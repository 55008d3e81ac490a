// The engine of TComPort: opening and closing the device, handing the settings
// to the driver, the event thread and the delivery of its events.
//
// Sections:
//   Event codes              the device's events as the component's, their names
//   The event thread         TComThread: waits on the device, hands each event
//                            to the main thread and waits for its pick-up
//   Construction             the component and its sub-objects
//   Open and close           OpenPort, ClosePort and the thread's start and stop
//   Applying the settings    line settings, time-outs and buffers to the driver
//   Transfers                reads, writes, purges, modem signals
//   Event dispatch           an event on the main thread, turned into handlers
//   Handler calls            each handler called with its arguments, guarded

#include "serial/CPort.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "serial/HandlerExceptions.h"

namespace kestrel {

namespace {

// Every device failure leaves the engine here, with the platform's error
// turned into its Windows number.
EComPort deviceError(int code, int deviceResult) { return EComPort(code, WindowsErrorCode(deviceResult)); }

}  // namespace

// ---- Event codes -------------------------------------------------------------------

uint32_t ComEventCode(TComEvent event) {
    switch (event) {
    case evRxChar: return kEvRxChar;
    case evTxEmpty: return kEvTxEmpty;
    case evRxFlag: return kEvRxFlag;
    case evRing: return kEvRing;
    case evBreak: return kEvBreak;
    case evCTS: return kEvCts;
    case evDSR: return kEvDsr;
    case evError: return kEvErr;
    case evRLSD: return kEvRlsd;
    case evRx80Full: return kEvRx80Full;
    }
    return 0;
}

uint32_t EventsToMask(TComEvents events) {
    uint32_t mask = 0;
    for (TComEvent e : kEventDispatchOrder)
        if (events.Contains(e))
            mask |= ComEventCode(e);
    return mask;
}

TComEvents EventsFromMask(uint32_t mask) {
    TComEvents events;
    for (TComEvent e : kEventDispatchOrder)
        if (mask & ComEventCode(e))
            events.Include(e);
    return events;
}

TComErrors ErrorsFromMask(uint32_t ceMask) {
    TComErrors errors;
    if (ceMask & kCeFrame)
        errors.Include(ceFrame);
    if (ceMask & kCeRxParity)
        errors.Include(ceRxParity);
    if (ceMask & kCeOverrun)
        errors.Include(ceOverrun);
    if (ceMask & kCeBreak)
        errors.Include(ceBreak);
    if (ceMask & kCeIoe)
        errors.Include(ceIO);
    if (ceMask & kCeMode)
        errors.Include(ceMode);
    if (ceMask & kCeRxOver)
        errors.Include(ceRxOver);
    if (ceMask & kCeTxFull)
        errors.Include(ceTxFull);
    return errors;
}

// ---- The event thread -------------------------------------------------------------

// Like the latency timer of a USB serial adapter: bytes that trickle in one at a
// time are passed on in small batches, so a slow line costs the main thread a
// hundred wake-ups a second instead of one per byte.
constexpr auto kRxLatency = std::chrono::milliseconds(8);

class TComThread {
public:
    TComThread(TCustomComPort& port, std::unique_ptr<ComEventWaiter> waiter, MainThreadMailbox* mailbox)
        : port_(port), waiter_(std::move(waiter)), mailbox_(mailbox) {}

    ~TComThread() {
        if (thread_.joinable())
            thread_.join();
    }

    void Start() {
        thread_ = std::thread([this] { Execute(); });
    }
    void SetStopSignal() { waiter_->Stop(); }
    bool Finished() const { return finished_.load(); }
    void WaitFor() {
        if (thread_.joinable())
            thread_.join();
    }

private:
    void Execute() {
        for (;;) {
            uint32_t mask = 0;
            const ComWaitResult r = waiter_->Wait(mask);
            if (r == ComWaitResult::Events) {
                if (mask & kEvRxChar)
                    std::this_thread::sleep_for(kRxLatency);
                events_ = EventsFromMask(mask);
                port_.dispatchLineEvents(events_);
            } else if (r != ComWaitResult::Nothing) {
                break;
            }
        }
        // Results ignored: the device may be gone already.
        port_.device_->SetEventMask(0);
        port_.device_->Purge(kPurgeTxClear | kPurgeRxClear);
        finished_.store(true);
        if (mailbox_)
            mailbox_->Notify();
    }

    TCustomComPort& port_;
    std::unique_ptr<ComEventWaiter> waiter_;
    MainThreadMailbox* mailbox_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
    TComEvents events_;  // the set decoded at the last wake-up
};

// ---- Construction ------------------------------------------------------------------

TCustomComPort::TCustomComPort(std::unique_ptr<ComDevice> device)
    : device_(device ? std::move(device) : CreateComDevice()) {}

TCustomComPort::~TCustomComPort() {
    try {
        ClosePort();
    } catch (...) {
        // A port that refused to close is torn down all the same.
    }
    if (eventThread_)
        stopEventThread();
    eventThreadRunning_ = false;
    if (device_->IsOpen())
        device_->Close();
    connected_ = false;
    auto notifications = std::move(freeNotifications_);
    for (auto& [handle, notify] : notifications) {
        try {
            notify(*this);
        } catch (...) {
            ReportCurrentException();
        }
    }
}

int TCustomComPort::AddFreeNotification(TFreeNotification notification) {
    const int handle = nextFreeNotification_++;
    freeNotifications_.emplace_back(handle, std::move(notification));
    return handle;
}

void TCustomComPort::RemoveFreeNotification(int handle) {
    std::erase_if(freeNotifications_, [&](const auto& entry) { return entry.first == handle; });
}

MainThreadMailbox* TCustomComPort::Mailbox() const { return mailbox_ ? mailbox_ : ApplicationMailbox(); }

bool TCustomComPort::EventThreadActive() const { return eventThread_ && !eventThread_->Finished(); }

bool TCustomComPort::DeviceGone() { return connected_ && device_ && device_->IsOpen() && device_->Probe() != 0; }

// ---- Open and close ----------------------------------------------------------------

void TCustomComPort::CreateHandle() {
    if (const int e = device_->Open(port_))
        throw deviceError(CError_OpenFailed, e);
}

void TCustomComPort::DestroyHandle() { device_->Close(); }

void TCustomComPort::OpenPort() {
    if (connected_)
        return;
    DoBeforeOpen();
    MainThreadMailbox* mailbox = nullptr;
    if (!events_.Empty() && syncMethod_ != smNone) {
        mailbox = Mailbox();
        if (!mailbox)
            throw std::logic_error("TComPort: no main-thread mailbox for event delivery");
    }
    CreateHandle();
    connected_ = true;
    try {
        ApplyAllSettings();
    } catch (...) {
        DestroyHandle();
        connected_ = false;
        throw;
    }
    if (!events_.Empty()) {
        int error = 0;
        auto waiter = device_->CreateEventWaiter(error);
        if (!waiter) {
            DestroyHandle();
            connected_ = false;
            throw deviceError(CError_OpenFailed, error);
        }
        device_->SetEventMask(EventsToMask(events_));
        eventThread_ = std::make_unique<TComThread>(*this, std::move(waiter), mailbox);
        openMailbox_ = mailbox;
        eventThreadRunning_ = true;
        eventThread_->Start();
    }
    DoAfterOpen();
    const uint32_t signals = ModemSignals();
    DoCTSChange((signals & kMsCtsOn) != 0);
    DoDSRChange((signals & kMsDsrOn) != 0);
    DoRLSDChange((signals & kMsRlsdOn) != 0);
}

void TCustomComPort::stopEventThread() {
    TComThread& thread = *eventThread_;
    thread.SetStopSignal();
    std::this_thread::yield();
    // The thread may be blocked handing us an event: keep taking deliveries
    // until it has seen its stop signal.
    if (openMailbox_)
        openMailbox_->ServiceUntil([&] { return thread.Finished(); });
    thread.WaitFor();
    eventThread_.reset();
    openMailbox_ = nullptr;
}

void TCustomComPort::ClosePort() {
    if (!connected_ || closing_)
        return;
    closing_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{closing_};
    DoCTSChange(false);
    DoDSRChange(false);
    DoRLSDChange(false);
    DoBeforeClose();
    // An abort that fails (on Windows after the adapter was pulled out) must
    // not keep the port connected for good: the close is finished first and
    // the failure reported afterwards.
    const int abortError = device_->Purge(kPurgeTxAbort | kPurgeRxAbort);
    if (eventThreadRunning_) {
        if (eventThread_)
            stopEventThread();
        eventThreadRunning_ = false;
    }
    DestroyHandle();
    connected_ = false;
    DoAfterClose();
    if (abortError)
        throw deviceError(CError_PurgeFailed, abortError);
}

// ---- Applying the settings -----------------------------------------------------------

ComLineState TCustomComPort::LineState() const {
    ComLineState s;
    s.BaudRate = static_cast<uint32_t>(baudRate_ == brCustom ? customBaudRate_ : BaudRateValue(baudRate_));
    uint32_t f = kDcbBinary;
    if (discardNull_)
        f |= kDcbNull;
    if (flowControl_.OutCTSFlow())
        f |= kDcbOutxCtsFlow;
    if (flowControl_.OutDSRFlow())
        f |= kDcbOutxDsrFlow;
    switch (flowControl_.ControlDTR()) {
    case dtrDisable: break;
    case dtrEnable: f |= kDcbDtrControlEnable; break;
    case dtrHandshake: f |= kDcbDtrControlHandshake; break;
    }
    switch (flowControl_.ControlRTS()) {
    case rtsDisable: break;
    case rtsEnable: f |= kDcbRtsControlEnable; break;
    case rtsHandshake: f |= kDcbRtsControlHandshake; break;
    case rtsToggle: f |= kDcbRtsControlToggle; break;
    }
    if (flowControl_.XonXoffOut())
        f |= kDcbOutX;
    if (flowControl_.XonXoffIn())
        f |= kDcbInX;
    if (flowControl_.DSRSensitivity())
        f |= kDcbDsrSensitivity;
    if (flowControl_.TxContinueOnXoff())
        f |= kDcbTxContinueOnXoff;
    const bool replace = parity_.Check() && parity_.Replace();
    if (parity_.Check())
        f |= kDcbParity;
    if (replace)
        f |= kDcbErrorChar;
    s.Flags = f;
    s.XonLim = static_cast<uint16_t>(buffer_.InputSize() / 4);
    s.XoffLim = s.XonLim;
    s.ByteSize = static_cast<uint8_t>(5 + static_cast<int>(dataBits_));
    s.Parity = static_cast<uint8_t>(parity_.Bits());
    s.StopBits = static_cast<uint8_t>(stopBits_);
    s.XonChar = flowControl_.XonChar();
    s.XoffChar = flowControl_.XoffChar();
    s.ErrorChar = replace ? parity_.ReplaceChar() : 0;
    s.EofChar = 0;
    s.EvtChar = eventChar_;
    return s;
}

ComTimeoutValues TCustomComPort::TimeoutValues() const {
    // -1 is MAXDWORD; the cast keeps the bit pattern.
    auto ms = [](int32_t v) { return static_cast<uint32_t>(v); };
    return {ms(timeouts_.ReadInterval()), ms(timeouts_.ReadTotalMultiplier()), ms(timeouts_.ReadTotalConstant()),
            ms(timeouts_.WriteTotalMultiplier()), ms(timeouts_.WriteTotalConstant())};
}

void TCustomComPort::ApplyAllSettings() {
    if (!applying())
        return;
    ApplyBufferSizes();
    ApplyLineSettings();
    ApplyTimeoutSettings();
}

void TCustomComPort::ApplyBufferSizes() {
    if (!applying())
        return;
    if (const int e = device_->SetupBuffers(static_cast<uint32_t>(buffer_.InputSize()),
                                            static_cast<uint32_t>(buffer_.OutputSize())))
        throw deviceError(CError_SetupComFailed, e);
}

void TCustomComPort::ApplyLineSettings() {
    if (!applying())
        return;
    if (const int e = device_->SetLineState(LineState()))
        throw deviceError(CError_SetStateFailed, e);
}

void TCustomComPort::ApplyTimeoutSettings() {
    if (!applying())
        return;
    if (const int e = device_->SetTimeouts(TimeoutValues()))
        throw deviceError(CError_TimeoutsFailed, e);
}

// ---- Transfers -----------------------------------------------------------------------

int32_t TCustomComPort::BytesWaiting() {
    ComStatus status;
    if (const int e = device_->ClearError(status))
        throw deviceError(CError_ClearComFailed, e);
    return static_cast<int32_t>(status.InQueue);
}

int32_t TCustomComPort::ReadBytes(std::string& text, int32_t count) {
    if (count <= 0) {
        text.clear();
        return 0;
    }
    text.resize(static_cast<std::size_t>(count));
    uint32_t done = 0;
    if (const int e = device_->Read(text.data(), static_cast<uint32_t>(count), done)) {
        text.clear();
        throw deviceError(CError_ReadFailed, e);
    }
    text.resize(done);
    return static_cast<int32_t>(done);
}

int32_t TCustomComPort::WriteText(const std::string& text) {
    if (text.empty())
        return 0;
    uint32_t done = 0;
    if (const int e = device_->Write(text.data(), static_cast<uint32_t>(text.size()), done))
        throw deviceError(CError_WriteFailed, e);
    return static_cast<int32_t>(done);
}

void TCustomComPort::PurgeBuffers(bool Input, bool Output) {
    uint32_t flags = 0;
    if (Input)
        flags |= kPurgeRxClear;
    if (Output)
        flags |= kPurgeTxClear;
    if (const int e = device_->Purge(flags))
        throw deviceError(CError_PurgeFailed, e);
}

uint32_t TCustomComPort::ModemSignals() {
    uint32_t status = 0;
    if (const int e = device_->ModemStatus(status))
        throw deviceError(CError_ModemStatFailed, e);
    return status;
}

// ---- Event dispatch ------------------------------------------------------------------

void TCustomComPort::runEventAction(TComEvent event) {
    try {
        switch (event) {
        case evRxChar: {
            const int32_t count = BytesWaiting();
            if (count > 0)
                DoRxChar(count);
            break;
        }
        case evTxEmpty: DoTxEmpty(); break;
        case evRxFlag: DoRxFlag(); break;
        case evRing: DoRing(); break;
        case evBreak: DoBreak(); break;
        case evCTS: DoCTSChange((ModemSignals() & kMsCtsOn) != 0); break;
        case evDSR: DoDSRChange((ModemSignals() & kMsDsrOn) != 0); break;
        case evRLSD: DoRLSDChange((ModemSignals() & kMsRlsdOn) != 0); break;
        case evError: {
            ComStatus status;
            if (const int e = device_->ClearError(status))
                throw deviceError(CError_ClearComFailed, e);
            const TComErrors errors = ErrorsFromMask(status.Errors);
            if (!errors.Empty())
                DoError(errors);
            break;
        }
        case evRx80Full: DoRx80Full(); break;
        }
    } catch (const EComPort&) {
        // A device that went away fails its status calls on every event:
        // its owner's loss check notices that once; it is no report.
        if (DeviceGone())
            return;
        throw;
    }
}

void TCustomComPort::dispatchLineEvents(TComEvents events) {
    auto guarded = [this](TComEvent e) {
        try {
            runEventAction(e);
        } catch (...) {
            ReportCurrentException();
        }
    };
    switch (syncMethod_) {
    case smWindowSync:
        for (TComEvent e : kEventDispatchOrder)
            if (events.Contains(e))
                openMailbox_->Send(
                    [this, e, guarded] {
                        if (connected_)
                            guarded(e);
                    },
                    MainThreadMailbox::Release::PickedUp);
        break;
    case smThreadSync:
        openMailbox_->Send(
            [this, events, guarded] {
                for (TComEvent e : kEventDispatchOrder)
                    if (connected_ && events.Contains(e))
                        guarded(e);
            },
            MainThreadMailbox::Release::Done);
        break;
    case smNone:
        for (TComEvent e : kEventDispatchOrder)
            if (events.Contains(e))
                guarded(e);
        break;
    }
}

// ---- Handler calls -------------------------------------------------------------------

void TCustomComPort::DoRxChar(int32_t count) {
    if (OnRxChar)
        OnRxChar(*this, count);
}
void TCustomComPort::DoTxEmpty() {
    if (OnTxEmpty)
        OnTxEmpty(*this);
}
void TCustomComPort::DoRxFlag() {
    if (OnRxFlag)
        OnRxFlag(*this);
}
void TCustomComPort::DoRing() {
    if (OnRing)
        OnRing(*this);
}
void TCustomComPort::DoBreak() {
    if (OnBreak)
        OnBreak(*this);
}
void TCustomComPort::DoRx80Full() {
    if (OnRx80Full)
        OnRx80Full(*this);
}
void TCustomComPort::DoCTSChange(bool onOff) {
    if (OnCTSChange)
        OnCTSChange(*this, onOff);
}
void TCustomComPort::DoDSRChange(bool onOff) {
    if (OnDSRChange)
        OnDSRChange(*this, onOff);
}
void TCustomComPort::DoRLSDChange(bool onOff) {
    if (OnRLSDChange)
        OnRLSDChange(*this, onOff);
}
void TCustomComPort::DoError(TComErrors errors) {
    if (OnError)
        OnError(*this, errors);
}
void TCustomComPort::DoBeforeOpen() {
    if (OnBeforeOpen)
        OnBeforeOpen(*this);
}
void TCustomComPort::DoAfterOpen() {
    if (OnAfterOpen)
        OnAfterOpen(*this);
}
void TCustomComPort::DoBeforeClose() {
    if (OnBeforeClose)
        OnBeforeClose(*this);
}
void TCustomComPort::DoAfterClose() {
    if (OnAfterClose)
        OnAfterClose(*this);
}

}  // namespace kestrel
