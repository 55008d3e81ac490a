#pragma once
// TComPort: the serial-port component (settings, settings file, engine, event
// thread). No toolkit dependency; the platform sits behind ComDevice.h and
// ProfileStore.h, delivery to the main thread behind MainThreadMailbox.h.
//
// Thread safety
// - The main thread (the one that owns the port) runs every public operation
//   and setter, LoadSettingsFile/SaveSettingsFile, OpenPort/ClosePort, and,
//   under smWindowSync and smThreadSync, every event handler (OnRxChar, ...):
//   they run inside MainThreadMailbox::ServicePending/ServiceUntil on it.
// - The event thread (TComThread, one per open port with non-empty Events)
//   only waits for line events on the device and hands each to the main
//   thread through the mailbox, blocking until the main thread picks it up
//   (smWindowSync) or has run it (smThreadSync). Under smNone it runs the
//   per-event actions (and so the handlers) itself; handlers must then be
//   safe on that thread.
// - While the port is open nothing the event thread reads changes: the device
//   object, Events and SyncMethod are fixed until ClosePort has joined the
//   thread. No locks are needed in the engine for that reason.
// - ClosePort keeps servicing the mailbox while it waits for the event thread,
//   so a thread blocked in a delivery can always finish.
// - An exception escaping a handler run by the dispatch goes to the
//   application's exception report (HandlerExceptions.h), never to the event
//   thread.
// - Under smThreadSync the event thread waits for the handlers to finish, so
//   a handler must not close the port there (it would wait for itself);
//   under smWindowSync it may.
//
// Sections:
//   Enumerations and their text forms  baud rates, stop and data bits, parity,
//                                      flow control, events, ...
//   The exception                      EComPort and its codes
//   Sub-objects                        parity, flow control, time-outs, buffer
//   Event handler types                what OnRxChar and the others take
//   The component                      TCustomComPort and TComPort

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "serial/ComDevice.h"
#include "serial/MainThreadMailbox.h"
#include "serial/ProfileStore.h"

namespace kestrel {

// ---- Enumerations and their text forms ---------------------------------------

enum TBaudRate {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TSyncMethod { smThreadSync, smWindowSync, smNone };

// Line events in declaration order; OS codes by ComEventCode().
enum TComEvent { evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full };
enum TComError { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };

inline constexpr std::array<TBaudRate, 16> kAllBaudRates{brCustom, br110,    br300,    br600,   br1200,  br2400,
                                                         br4800,   br9600,   br14400,  br19200, br38400, br56000,
                                                         br57600,  br115200, br128000, br256000};
inline constexpr std::array<TStopBits, 3> kAllStopBits{sbOneStopBit, sbOne5StopBits, sbTwoStopBits};
inline constexpr std::array<TDataBits, 4> kAllDataBits{dbFive, dbSix, dbSeven, dbEight};
inline constexpr std::array<TParityBits, 5> kAllParityBits{prNone, prOdd, prEven, prMark, prSpace};
inline constexpr std::array<TFlowControl, 4> kAllFlowControls{fcHardware, fcSoftware, fcNone, fcCustom};
// The order in which the events of one wake-up are acted on.
inline constexpr std::array<TComEvent, 10> kEventDispatchOrder{evError, evRxChar, evTxEmpty, evBreak, evRing,
                                                               evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};

std::string BaudRateText(TBaudRate value);
std::string StopBitsText(TStopBits value);
std::string DataBitsText(TDataBits value);
std::string ParityText(TParityBits value);
std::string FlowControlText(TFlowControl value);

// Case-insensitive (ASCII letters); unknown texts give br9600, sbOneStopBit,
// dbEight, prNone and fcCustom.
TBaudRate BaudRateFromText(const std::string& text);
TStopBits StopBitsFromText(const std::string& text);
TDataBits DataBitsFromText(const std::string& text);
TParityBits ParityFromText(const std::string& text);
TFlowControl FlowControlFromText(const std::string& text);

// Bits per second of a fixed rate; 0 for brCustom.
int32_t BaudRateValue(TBaudRate value);

// A set of enumeration values, one bit each.
template <typename E>
class TEnumSet {
public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> values) {
        for (E v : values)
            bits_ |= bit(v);
    }
    constexpr bool Contains(E v) const { return (bits_ & bit(v)) != 0; }
    constexpr TEnumSet& Include(E v) {
        bits_ |= bit(v);
        return *this;
    }
    constexpr TEnumSet& Exclude(E v) {
        bits_ &= ~bit(v);
        return *this;
    }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr uint32_t Bits() const { return bits_; }
    constexpr bool operator==(const TEnumSet&) const = default;

private:
    static constexpr uint32_t bit(E v) { return 1u << static_cast<unsigned>(v); }
    uint32_t bits_ = 0;
};

using TComEvents = TEnumSet<TComEvent>;
using TComErrors = TEnumSet<TComError>;

inline constexpr TComEvents kAllComEvents{evRxChar, evTxEmpty, evRxFlag, evRing, evBreak,
                                          evCTS,    evDSR,     evError,  evRLSD, evRx80Full};

uint32_t ComEventCode(TComEvent event);    // the OS code (evRxChar 0x0001, ...)
uint32_t EventsToMask(TComEvents events);  // OR of the codes
TComEvents EventsFromMask(uint32_t mask);
TComErrors ErrorsFromMask(uint32_t ceMask);  // kCe... bits to the set

// ---- The exception --------------------------------------------------------------

inline constexpr int CError_OpenFailed = 1;
inline constexpr int CError_WriteFailed = 2;
inline constexpr int CError_ReadFailed = 3;
inline constexpr int CError_PurgeFailed = 5;
inline constexpr int CError_SetStateFailed = 7;
inline constexpr int CError_TimeoutsFailed = 8;
inline constexpr int CError_SetupComFailed = 9;
inline constexpr int CError_ClearComFailed = 10;
inline constexpr int CError_ModemStatFailed = 11;
inline constexpr int CError_ConnChangeProp = 14;
inline constexpr int CError_StoreFailed = 16;
inline constexpr int CError_LoadFailed = 17;
inline constexpr int CError_RegFailed = 23;

// The row text of an error code ("Unable to open com port", ...); empty for
// codes outside the table.
std::string ComErrorText(int errorCode);

class EComPort : public std::runtime_error {
public:
    // systemErrorCode -1: the error has no OS code and the text no suffix;
    // otherwise the text ends in " (win error code: N)".
    explicit EComPort(int errorCode, int systemErrorCode = -1);

    int32_t ErrorCode;
    int32_t SystemErrorCode;
};

// ---- Sub-objects -----------------------------------------------------------------

class TCustomComPort;

// Each sub-object belongs to its port: its setters store and hand the change
// to the driver. A copy is a detached value (no port), for whole-object
// assignment through the port's SetParity/SetFlowControl/... .
class TComParity {
public:
    TComParity() = default;
    TComParity(const TComParity& other);
    TComParity& operator=(const TComParity& other);  // copies the values, applies once

    TParityBits Bits() const { return bits_; }
    bool Check() const { return check_; }
    bool Replace() const { return replace_; }
    char ReplaceChar() const { return replaceChar_; }
    void SetBits(TParityBits value);
    void SetCheck(bool value);
    void SetReplace(bool value);
    void SetReplaceChar(char value);

private:
    friend class TCustomComPort;
    explicit TComParity(TCustomComPort* port) : port_(port) {}
    void changed();
    TCustomComPort* port_ = nullptr;
    TParityBits bits_ = prNone;
    bool check_ = false;
    bool replace_ = false;
    char replaceChar_ = 0;
};

class TComFlowControl {
public:
    TComFlowControl() = default;
    TComFlowControl(const TComFlowControl& other);
    TComFlowControl& operator=(const TComFlowControl& other);

    // The combined value: fcHardware, fcSoftware, fcNone or fcCustom.
    TFlowControl FlowControl() const;
    // fcCustom changes nothing; the others set ControlRTS, OutCTSFlow and both
    // XonXoff flags. The line settings are applied in every case.
    void SetFlowControl(TFlowControl value);

    bool OutCTSFlow() const { return outCTSFlow_; }
    bool OutDSRFlow() const { return outDSRFlow_; }
    TDTRFlowControl ControlDTR() const { return controlDTR_; }
    TRTSFlowControl ControlRTS() const { return controlRTS_; }
    bool XonXoffOut() const { return xonXoffOut_; }
    bool XonXoffIn() const { return xonXoffIn_; }
    bool DSRSensitivity() const { return dsrSensitivity_; }
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    char XonChar() const { return xonChar_; }
    char XoffChar() const { return xoffChar_; }
    void SetOutCTSFlow(bool value);
    void SetOutDSRFlow(bool value);
    void SetControlDTR(TDTRFlowControl value);
    void SetControlRTS(TRTSFlowControl value);
    void SetXonXoffOut(bool value);
    void SetXonXoffIn(bool value);
    void SetDSRSensitivity(bool value);
    void SetTxContinueOnXoff(bool value);
    void SetXonChar(char value);
    void SetXoffChar(char value);

private:
    friend class TCustomComPort;
    explicit TComFlowControl(TCustomComPort* port) : port_(port) {}
    template <typename T>
    void set(T& field, T value);
    void changed();
    void copyValues(const TComFlowControl& other);
    TCustomComPort* port_ = nullptr;
    bool outCTSFlow_ = false;
    bool outDSRFlow_ = false;
    TDTRFlowControl controlDTR_ = dtrDisable;
    TRTSFlowControl controlRTS_ = rtsDisable;
    bool xonXoffOut_ = false;
    bool xonXoffIn_ = false;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = false;
    char xonChar_ = 17;
    char xoffChar_ = 19;
};

class TComTimeouts {
public:
    TComTimeouts() = default;
    TComTimeouts(const TComTimeouts& other);
    TComTimeouts& operator=(const TComTimeouts& other);

    // Milliseconds; -1 means MAXDWORD to the driver.
    int32_t ReadInterval() const { return readInterval_; }
    int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
    int32_t ReadTotalConstant() const { return readTotalConstant_; }
    int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
    int32_t WriteTotalConstant() const { return writeTotalConstant_; }
    void SetReadInterval(int32_t value);
    void SetReadTotalMultiplier(int32_t value);
    void SetReadTotalConstant(int32_t value);
    void SetWriteTotalMultiplier(int32_t value);
    void SetWriteTotalConstant(int32_t value);

private:
    friend class TCustomComPort;
    explicit TComTimeouts(TCustomComPort* port) : port_(port) {}
    void set(int32_t& field, int32_t value);
    TCustomComPort* port_ = nullptr;
    int32_t readInterval_ = -1;
    int32_t readTotalMultiplier_ = 0;
    int32_t readTotalConstant_ = 0;
    int32_t writeTotalMultiplier_ = 100;
    int32_t writeTotalConstant_ = 1000;
};

class TComBuffer {
public:
    TComBuffer() = default;
    TComBuffer(const TComBuffer& other);
    TComBuffer& operator=(const TComBuffer& other);

    int32_t InputSize() const { return inputSize_; }
    int32_t OutputSize() const { return outputSize_; }
    // An odd positive size is stored lowered by one.
    void SetInputSize(int32_t value);
    void SetOutputSize(int32_t value);

private:
    friend class TCustomComPort;
    explicit TComBuffer(TCustomComPort* port) : port_(port) {}
    void set(int32_t& field, int32_t value);
    TCustomComPort* port_ = nullptr;
    int32_t inputSize_ = 1024;
    int32_t outputSize_ = 1024;
};

// ---- Event handler types ----------------------------------------------------------

using TNotifyEvent = std::function<void(TCustomComPort& Sender)>;
using TRxCharEvent = std::function<void(TCustomComPort& Sender, int32_t Count)>;
using TRxBufEvent = std::function<void(TCustomComPort& Sender, const char* Buffer, int32_t Count)>;
using TComSignalEvent = std::function<void(TCustomComPort& Sender, bool OnOff)>;
using TComErrorEvent = std::function<void(TCustomComPort& Sender, TComErrors Errors)>;

class TComThread;

// ---- The component -----------------------------------------------------------------

class TCustomComPort {
public:
    // device: the OS device to use; none gives the platform's (CreateComDevice).
    explicit TCustomComPort(std::unique_ptr<ComDevice> device = nullptr);
    TCustomComPort(const TCustomComPort&) = delete;
    TCustomComPort& operator=(const TCustomComPort&) = delete;
    virtual ~TCustomComPort();  // closes the port first

    // Settings. Every setter compares first; an equal value does nothing.
    bool Connected() const { return connected_; }
    void SetConnected(bool value);  // true: OpenPort, false: ClosePort
    TBaudRate BaudRate() const { return baudRate_; }
    void SetBaudRate(TBaudRate value);
    int32_t CustomBaudRate() const { return customBaudRate_; }
    void SetCustomBaudRate(int32_t value);
    const std::string& Port() const { return port_; }
    void SetPort(const std::string& value);  // an open port closes and reopens
    TComParity& Parity() { return parity_; }
    const TComParity& Parity() const { return parity_; }
    void SetParity(const TComParity& value) { parity_ = value; }
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits value);
    TDataBits DataBits() const { return dataBits_; }
    void SetDataBits(TDataBits value);
    bool DiscardNull() const { return discardNull_; }
    void SetDiscardNull(bool value);
    char EventChar() const { return eventChar_; }
    void SetEventChar(char value);
    TComEvents Events() const { return events_; }
    void SetEvents(TComEvents value) { events_ = value; }  // takes effect at the next OpenPort
    TComBuffer& Buffer() { return buffer_; }
    const TComBuffer& Buffer() const { return buffer_; }
    void SetBuffer(const TComBuffer& value) { buffer_ = value; }
    TComFlowControl& FlowControl() { return flowControl_; }
    const TComFlowControl& FlowControl() const { return flowControl_; }
    void SetFlowControl(const TComFlowControl& value) { flowControl_ = value; }
    TComTimeouts& Timeouts() { return timeouts_; }
    const TComTimeouts& Timeouts() const { return timeouts_; }
    void SetTimeouts(const TComTimeouts& value) { timeouts_ = value; }
    TSyncMethod SyncMethod() const { return syncMethod_; }
    void SetSyncMethod(TSyncMethod value);  // code 14 while connected

    // The component's name: the section of the settings file.
    const std::string& Name() const { return name_; }
    void SetName(const std::string& value) { name_ = value; }

    // Where smWindowSync/smThreadSync deliveries go; none (the default) means
    // the application's mailbox (ApplicationMailbox()). Not owned.
    void SetMailbox(MainThreadMailbox* mailbox) { mailbox_ = mailbox; }
    MainThreadMailbox* Mailbox() const;
    // The settings-file access; none (the default) means the platform's store.
    void SetProfileStore(std::shared_ptr<ProfileStore> store) { profileStore_ = std::move(store); }

    // What the last LoadSettingsFile could not take as written, one line each
    // ("BaudRate=250000 is not understood; 9600 is used instead", or why the
    // file was not read at all).
    const std::vector<std::string>& SettingsFileNotes() const { return settingsNotes_; }
    // Why the last SaveSettingsFile that failed did not write the file, in the
    // system's words ("" when the store cannot tell).
    std::string SettingsStoreProblem() { return profileStore().WhyNotWritten(); }

    void BeginSettingsUpdate();
    void EndSettingsUpdate();  // at depth 0 again: ApplyAllSettings
    int32_t SettingsUpdateDepth() const { return updateDepth_; }

    // Operations (main thread).
    void OpenPort();
    // A failed abort (code 5) is raised only once the port is closed.
    void ClosePort();
    int32_t BytesWaiting();
    int32_t ReadBytes(std::string& text, int32_t count);  // text ends up exactly as long as the result
    int32_t WriteText(const std::string& text);
    void PurgeBuffers(bool Input, bool Output);
    void LoadSettingsFile(const std::string& path);  // code 17 on failure
    void SaveSettingsFile(const std::string& path);  // code 16 on failure

    // Modem-signal read (GetCommModemStatus); code 11 on failure. A device
    // without modem lines reads as all off.
    uint32_t ModemSignals();
    // An event thread was started by this open (stays true until ClosePort).
    bool EventThreadRunning() const { return eventThreadRunning_; }
    // The event thread is still waiting for line events (false once it gave up
    // on a hung-up device or was stopped).
    bool EventThreadActive() const;
    // The open device no longer answers (unplugged, hung up): asks the
    // device, never throws. False on a closed port.
    bool DeviceGone();

    // Objects that keep a pointer to the port (the setup dialog's combo boxes)
    // are told when it is destroyed. Returns a handle for removal.
    using TFreeNotification = std::function<void(TCustomComPort& port)>;
    int AddFreeNotification(TFreeNotification notification);
    void RemoveFreeNotification(int handle);

    // Events; unassigned ones are skipped.
    TRxCharEvent OnRxChar;
    TRxBufEvent OnRxBuf;  // never fired: the handler reads the bytes itself
    TNotifyEvent OnTxEmpty, OnRxFlag, OnRing, OnBreak, OnRx80Full;
    TComSignalEvent OnCTSChange, OnDSRChange, OnRLSDChange;
    TComErrorEvent OnError;
    TNotifyEvent OnBeforeOpen, OnAfterOpen, OnBeforeClose, OnAfterClose;

protected:
    // Overridable steps.
    virtual void StoreIniFile(const std::string& path);
    virtual void LoadIniFile(const std::string& path);
    virtual void CreateHandle();
    virtual void DestroyHandle();
    virtual void ApplyAllSettings();
    virtual void ApplyBufferSizes();
    virtual void ApplyLineSettings();
    virtual void ApplyTimeoutSettings();
    virtual void DoRxChar(int32_t count);
    virtual void DoTxEmpty();
    virtual void DoRxFlag();
    virtual void DoRing();
    virtual void DoBreak();
    virtual void DoRx80Full();
    virtual void DoCTSChange(bool onOff);
    virtual void DoDSRChange(bool onOff);
    virtual void DoRLSDChange(bool onOff);
    virtual void DoError(TComErrors errors);
    virtual void DoBeforeOpen();
    virtual void DoAfterOpen();
    virtual void DoBeforeClose();
    virtual void DoAfterClose();

    // The device-control block ApplyLineSettings hands to the driver.
    ComLineState LineState() const;
    ComTimeoutValues TimeoutValues() const;
    ComDevice& Device() { return *device_; }

private:
    friend class TComParity;
    friend class TComFlowControl;
    friend class TComTimeouts;
    friend class TComBuffer;
    friend class TComThread;

    bool applying() const { return connected_ && updateDepth_ == 0; }
    ProfileStore& profileStore();
    void runEventAction(TComEvent event);        // the per-event action
    void dispatchLineEvents(TComEvents events);  // on the event thread
    void stopEventThread();

    std::unique_ptr<ComDevice> device_;
    std::unique_ptr<TComThread> eventThread_;
    bool eventThreadRunning_ = false;
    MainThreadMailbox* mailbox_ = nullptr;
    MainThreadMailbox* openMailbox_ = nullptr;  // the one the running thread uses
    std::shared_ptr<ProfileStore> profileStore_;
    std::vector<std::string> settingsNotes_;
    // A Port value the reader had to cut: while the port stays so, its line
    // in the file is left as it is.
    std::string portCutOnLoad_;
    int32_t updateDepth_ = 0;
    bool connected_ = false;
    bool closing_ = false;  // ClosePort is under way (an action may call it again)

    TBaudRate baudRate_ = br9600;
    int32_t customBaudRate_ = 9600;
    std::string port_ = "COM1";
    TComParity parity_{this};
    TStopBits stopBits_ = sbOneStopBit;
    TDataBits dataBits_ = dbEight;
    bool discardNull_ = false;
    char eventChar_ = 0;
    TComEvents events_ = kAllComEvents;
    TComBuffer buffer_{this};
    TComFlowControl flowControl_{this};
    TComTimeouts timeouts_{this};
    TSyncMethod syncMethod_ = smThreadSync;
    std::string name_ = "CPort";
    std::vector<std::pair<int, TFreeNotification>> freeNotifications_;
    int nextFreeNotification_ = 1;
};

// One settings update: every setting changed while it lasts reaches the port
// in one pass when it is committed (an open port then applies them to the
// device, which may raise). Left without a commit, because something raised
// on the way, it ends the update without raising, so the caller hears of the
// first failure.
class TSettingsUpdate {
public:
    explicit TSettingsUpdate(TCustomComPort& port) : port_(port) { port_.BeginSettingsUpdate(); }
    ~TSettingsUpdate() {
        if (committed_)
            return;
        try {
            port_.EndSettingsUpdate();
        } catch (...) {
        }
    }
    TSettingsUpdate(const TSettingsUpdate&) = delete;
    TSettingsUpdate& operator=(const TSettingsUpdate&) = delete;
    void Commit() {
        committed_ = true;
        port_.EndSettingsUpdate();
    }

private:
    TCustomComPort& port_;
    bool committed_ = false;
};

class TComPort : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;
};

}  // namespace kestrel
