#pragma once
// The operating system's serial device as the port engine (CPort.cpp) uses it.
// The calls mirror the Win32 communications functions one by one, so that the
// engine decides codes, order and dispatch once and each platform file
// (ComDevicePosix.cpp, ComDeviceWin32.cpp) only carries out single calls.
//
// Every call returns 0 on success or the OS error of the failing call (errno
// on POSIX, GetLastError() on Windows). A device that is not open behaves like
// an invalid handle: every call except Open/Close fails with the OS error for
// a bad handle (EBADF, ERROR_INVALID_HANDLE).
//
// Threads: all calls come from the main thread, except that while an event
// thread runs it calls ComEventWaiter::Wait() and, on its way out,
// SetEventMask(0) and Purge(kPurgeTxClear | kPurgeRxClear) concurrently with
// the main thread's calls. Implementations must allow exactly that.

#include <cstdint>
#include <memory>
#include <string>

namespace kestrel {

// Device-control block, the fields of the Win32 DCB the engine fills.
struct ComLineState {
    uint32_t BaudRate = 0;  // bits per second
    uint32_t Flags = 0;     // kDcb... bits below
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8;  // 5..8
    uint8_t Parity = 0;    // kParity... below
    uint8_t StopBits = 0;  // kStopBits... below
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
};

inline constexpr uint32_t kDcbBinary = 0x0001;
inline constexpr uint32_t kDcbParity = 0x0002;  // parity checking
inline constexpr uint32_t kDcbOutxCtsFlow = 0x0004;
inline constexpr uint32_t kDcbOutxDsrFlow = 0x0008;
inline constexpr uint32_t kDcbDtrControlEnable = 0x0010;
inline constexpr uint32_t kDcbDtrControlHandshake = 0x0020;
inline constexpr uint32_t kDcbDtrControlMask = 0x0030;
inline constexpr uint32_t kDcbDsrSensitivity = 0x0040;
inline constexpr uint32_t kDcbTxContinueOnXoff = 0x0080;
inline constexpr uint32_t kDcbOutX = 0x0100;       // XON/XOFF on output
inline constexpr uint32_t kDcbInX = 0x0200;        // XON/XOFF on input
inline constexpr uint32_t kDcbErrorChar = 0x0400;  // replace parity errors
inline constexpr uint32_t kDcbNull = 0x0800;       // discard null bytes
inline constexpr uint32_t kDcbRtsControlEnable = 0x1000;
inline constexpr uint32_t kDcbRtsControlHandshake = 0x2000;
inline constexpr uint32_t kDcbRtsControlToggle = 0x3000;
inline constexpr uint32_t kDcbRtsControlMask = 0x3000;

inline constexpr uint8_t kParityNone = 0, kParityOdd = 1, kParityEven = 2, kParityMark = 3, kParitySpace = 4;
inline constexpr uint8_t kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2;

// Timeouts in milliseconds with the Win32 meaning; 0xFFFFFFFF is MAXDWORD.
struct ComTimeoutValues {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

inline constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

// What ClearCommError reports.
struct ComStatus {
    uint32_t Errors = 0;    // kCe... bits
    uint32_t InQueue = 0;   // bytes received and not yet read
    uint32_t OutQueue = 0;  // bytes not yet sent
};

inline constexpr uint32_t kCeRxOver = 0x0001, kCeOverrun = 0x0002, kCeRxParity = 0x0004, kCeFrame = 0x0008,
                          kCeBreak = 0x0010, kCeTxFull = 0x0100, kCeIoe = 0x0400, kCeMode = 0x8000;

// GetCommModemStatus bits.
inline constexpr uint32_t kMsCtsOn = 0x0010, kMsDsrOn = 0x0020, kMsRingOn = 0x0040, kMsRlsdOn = 0x0080;

// PurgeComm flags.
inline constexpr uint32_t kPurgeTxAbort = 0x0001, kPurgeRxAbort = 0x0002, kPurgeTxClear = 0x0004,
                          kPurgeRxClear = 0x0008;

// Line-event bits of SetCommMask/WaitCommEvent.
inline constexpr uint32_t kEvRxChar = 0x0001, kEvRxFlag = 0x0002, kEvTxEmpty = 0x0004, kEvCts = 0x0008, kEvDsr = 0x0010,
                          kEvRlsd = 0x0020, kEvBreak = 0x0040, kEvErr = 0x0080, kEvRing = 0x0100, kEvRx80Full = 0x0400;

enum class ComWaitResult {
    Events,   // mask holds the events seen
    Nothing,  // woke without a usable result (the overlapped result failed); wait again
    Stopped,  // the stop signal was set
    Failed,   // the wait itself failed or the device hung up: the event thread ends
};

// One event thread's wait: the device's line events together with the
// thread's StopSignal. Created on the main thread, waited on by the event
// thread, stopped from the main thread.
class ComEventWaiter {
public:
    virtual ~ComEventWaiter() = default;
    // Event thread. Blocks until an event of the current mask occurs or the
    // stop signal is set. Must not return Events or Nothing over and over
    // without anything happening on the line (no busy loop on a dead device).
    virtual ComWaitResult Wait(uint32_t& mask) = 0;
    // Any thread: sets the stop signal; this and every later Wait returns Stopped.
    virtual void Stop() = 0;
};

class ComDevice {
public:
    virtual ~ComDevice() = default;

    // CreateFileA("\\.\" + name, read/write, no sharing, overlapped). On POSIX a
    // name starting with "/" is a path, any other is looked up below /dev.
    virtual int Open(const std::string& portName) = 0;
    // CloseHandle; the device is then invalid again. Never fails.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    virtual int SetupBuffers(uint32_t inputSize, uint32_t outputSize) = 0;  // SetupComm
    virtual int SetLineState(const ComLineState& state) = 0;                // SetCommState
    virtual int SetTimeouts(const ComTimeoutValues& timeouts) = 0;          // SetCommTimeouts
    virtual int SetEventMask(uint32_t mask) = 0;                            // SetCommMask
    virtual int ClearError(ComStatus& status) = 0;                          // ClearCommError
    virtual int ModemStatus(uint32_t& status) = 0;                          // GetCommModemStatus
    virtual int Purge(uint32_t flags) = 0;                                  // PurgeComm

    // ReadFile/WriteFile, each with a request of its own, waited for until
    // done. Bounded by the timeouts; a transfer cut short by them succeeds with
    // the smaller count in `done`. EINTR and the like never surface.
    virtual int Read(char* buffer, uint32_t count, uint32_t& done) = 0;
    virtual int Write(const char* buffer, uint32_t count, uint32_t& done) = 0;

    // The wait of one event thread (its StopSignal included); nullptr with
    // `error` set when it cannot be created.
    virtual std::unique_ptr<ComEventWaiter> CreateEventWaiter(int& error) = 0;

    // Main thread, once a second while open: 0 while the device answers,
    // otherwise the OS error that says it went away. Where the event thread
    // already ends on a hang-up (POSIX) there is nothing more to ask.
    virtual int Probe() { return 0; }
};

// The Windows error number of a call's result, which is what EComPort
// carries: the result itself on Windows, the errno mapped on POSIX
// (SystemErrorPosix.h). Decisions on a result are made on the result itself.
int WindowsErrorCode(int deviceResult);

// The platform's device (ComDevicePosix.cpp or ComDeviceWin32.cpp).
std::unique_ptr<ComDevice> CreateComDevice();

}  // namespace kestrel
