// The settings of TComPort: text forms, setters and the settings file.
//
// Sections:
//   Text forms     the settings' names in the settings file and the dialog
//   EComPort       the error codes' texts and messages
//   Sub-objects    parity, flow control, time-outs, buffer: setters that tell
//                  the port a setting changed
//   Port settings  the component's own setters
//   Settings file  LoadSettingsFile and SaveSettingsFile, and the notes on
//                  what a file held that is not used as written

#include <cstdio>

#include "serial/AsciiCase.h"
#include "serial/CPort.h"

namespace kestrel {

// ---- Text forms ----------------------------------------------------------------------

namespace {

constexpr std::array<const char*, 16> kBaudRateTexts{"Custom", "110",    "300",    "600",   "1200",  "2400",
                                                     "4800",   "9600",   "14400",  "19200", "38400", "56000",
                                                     "57600",  "115200", "128000", "256000"};
constexpr std::array<int32_t, 16> kBaudRateValues{0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                                  14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
constexpr std::array<const char*, 3> kStopBitsTexts{"1", "1.5", "2"};
constexpr std::array<const char*, 4> kDataBitsTexts{"5", "6", "7", "8"};
constexpr std::array<const char*, 5> kParityTexts{"None", "Odd", "Even", "Mark", "Space"};
constexpr std::array<const char*, 4> kFlowControlTexts{"Hardware", "Software", "None", "Custom"};

template <typename E, std::size_t N>
std::string textOf(const std::array<const char*, N>& table, E value) {
    const auto i = static_cast<std::size_t>(value);
    return i < N ? table[i] : "";
}

template <typename E, std::size_t N>
E fromText(const std::array<const char*, N>& table, const std::string& text, E fallback) {
    for (std::size_t i = 0; i < N; ++i)
        if (SameTextAscii(table[i], text))
            return static_cast<E>(i);
    return fallback;
}

}  // namespace

std::string BaudRateText(TBaudRate value) { return textOf(kBaudRateTexts, value); }
std::string StopBitsText(TStopBits value) { return textOf(kStopBitsTexts, value); }
std::string DataBitsText(TDataBits value) { return textOf(kDataBitsTexts, value); }
std::string ParityText(TParityBits value) { return textOf(kParityTexts, value); }
std::string FlowControlText(TFlowControl value) { return textOf(kFlowControlTexts, value); }

TBaudRate BaudRateFromText(const std::string& text) { return fromText(kBaudRateTexts, text, br9600); }
TStopBits StopBitsFromText(const std::string& text) { return fromText(kStopBitsTexts, text, sbOneStopBit); }
TDataBits DataBitsFromText(const std::string& text) { return fromText(kDataBitsTexts, text, dbEight); }
TParityBits ParityFromText(const std::string& text) { return fromText(kParityTexts, text, prNone); }
TFlowControl FlowControlFromText(const std::string& text) { return fromText(kFlowControlTexts, text, fcCustom); }

int32_t BaudRateValue(TBaudRate value) {
    const auto i = static_cast<std::size_t>(value);
    return i < kBaudRateValues.size() ? kBaudRateValues[i] : 0;
}

// ---- EComPort ----------------------------------------------------------------------

std::string ComErrorText(int errorCode) {
    switch (errorCode) {
    case CError_OpenFailed: return "Unable to open com port";
    case CError_WriteFailed: return "WriteFile function failed";
    case CError_ReadFailed: return "ReadFile function failed";
    case CError_PurgeFailed: return "PurgeComm function failed";
    case CError_SetStateFailed: return "SetCommState function failed";
    case CError_TimeoutsFailed: return "SetCommTimeouts failed";
    case CError_SetupComFailed: return "SetupComm function failed";
    case CError_ClearComFailed: return "ClearCommError function failed";
    case CError_ModemStatFailed: return "GetCommModemStatus function failed";
    case CError_ConnChangeProp: return "Cannot set property while connected";
    case CError_StoreFailed: return "Failed to store settings";
    case CError_LoadFailed: return "Failed to load settings";
    case CError_RegFailed: return "Registry error";
    default: return "";
    }
}

namespace {
std::string comPortMessage(int errorCode, int systemErrorCode) {
    std::string text = ComErrorText(errorCode);
    if (systemErrorCode != -1) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, " (win error code: %d)", systemErrorCode);
        text += suffix;
    }
    return text;
}
}  // namespace

EComPort::EComPort(int errorCode, int systemErrorCode)
    : std::runtime_error(comPortMessage(errorCode, systemErrorCode)),
      ErrorCode(errorCode),
      SystemErrorCode(systemErrorCode) {}

// ---- Sub-objects -------------------------------------------------------------------

TComParity::TComParity(const TComParity& other)
    : bits_(other.bits_), check_(other.check_), replace_(other.replace_), replaceChar_(other.replaceChar_) {}

TComParity& TComParity::operator=(const TComParity& other) {
    if (this == &other)
        return *this;
    bits_ = other.bits_;
    check_ = other.check_;
    replace_ = other.replace_;
    replaceChar_ = other.replaceChar_;
    changed();
    return *this;
}

void TComParity::changed() {
    if (port_)
        port_->ApplyLineSettings();
}

void TComParity::SetBits(TParityBits value) {
    if (bits_ == value)
        return;
    bits_ = value;
    changed();
}
void TComParity::SetCheck(bool value) {
    if (check_ == value)
        return;
    check_ = value;
    changed();
}
void TComParity::SetReplace(bool value) {
    if (replace_ == value)
        return;
    replace_ = value;
    changed();
}
void TComParity::SetReplaceChar(char value) {
    if (replaceChar_ == value)
        return;
    replaceChar_ = value;
    changed();
}

TComFlowControl::TComFlowControl(const TComFlowControl& other) { copyValues(other); }

TComFlowControl& TComFlowControl::operator=(const TComFlowControl& other) {
    if (this == &other)
        return *this;
    copyValues(other);
    changed();
    return *this;
}

void TComFlowControl::copyValues(const TComFlowControl& o) {
    outCTSFlow_ = o.outCTSFlow_;
    outDSRFlow_ = o.outDSRFlow_;
    controlDTR_ = o.controlDTR_;
    controlRTS_ = o.controlRTS_;
    xonXoffOut_ = o.xonXoffOut_;
    xonXoffIn_ = o.xonXoffIn_;
    dsrSensitivity_ = o.dsrSensitivity_;
    txContinueOnXoff_ = o.txContinueOnXoff_;
    xonChar_ = o.xonChar_;
    xoffChar_ = o.xoffChar_;
}

void TComFlowControl::changed() {
    if (port_)
        port_->ApplyLineSettings();
}

template <typename T>
void TComFlowControl::set(T& field, T value) {
    if (field == value)
        return;
    field = value;
    changed();
}

TFlowControl TComFlowControl::FlowControl() const {
    if (controlRTS_ == rtsHandshake && outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_)
        return fcHardware;
    if (controlRTS_ == rtsDisable && !outCTSFlow_ && xonXoffIn_ && xonXoffOut_)
        return fcSoftware;
    if (controlRTS_ == rtsDisable && !outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_)
        return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value) {
    if (value != fcCustom) {
        controlRTS_ = rtsDisable;
        outCTSFlow_ = false;
        xonXoffIn_ = false;
        xonXoffOut_ = false;
        if (value == fcHardware) {
            controlRTS_ = rtsHandshake;
            outCTSFlow_ = true;
        } else if (value == fcSoftware) {
            xonXoffIn_ = true;
            xonXoffOut_ = true;
        }
    }
    changed();
}

void TComFlowControl::SetOutCTSFlow(bool value) { set(outCTSFlow_, value); }
void TComFlowControl::SetOutDSRFlow(bool value) { set(outDSRFlow_, value); }
void TComFlowControl::SetControlDTR(TDTRFlowControl value) { set(controlDTR_, value); }
void TComFlowControl::SetControlRTS(TRTSFlowControl value) { set(controlRTS_, value); }
void TComFlowControl::SetXonXoffOut(bool value) { set(xonXoffOut_, value); }
void TComFlowControl::SetXonXoffIn(bool value) { set(xonXoffIn_, value); }
void TComFlowControl::SetDSRSensitivity(bool value) { set(dsrSensitivity_, value); }
void TComFlowControl::SetTxContinueOnXoff(bool value) { set(txContinueOnXoff_, value); }
void TComFlowControl::SetXonChar(char value) { set(xonChar_, value); }
void TComFlowControl::SetXoffChar(char value) { set(xoffChar_, value); }

TComTimeouts::TComTimeouts(const TComTimeouts& o)
    : readInterval_(o.readInterval_),
      readTotalMultiplier_(o.readTotalMultiplier_),
      readTotalConstant_(o.readTotalConstant_),
      writeTotalMultiplier_(o.writeTotalMultiplier_),
      writeTotalConstant_(o.writeTotalConstant_) {}

TComTimeouts& TComTimeouts::operator=(const TComTimeouts& o) {
    if (this == &o)
        return *this;
    readInterval_ = o.readInterval_;
    readTotalMultiplier_ = o.readTotalMultiplier_;
    readTotalConstant_ = o.readTotalConstant_;
    writeTotalMultiplier_ = o.writeTotalMultiplier_;
    writeTotalConstant_ = o.writeTotalConstant_;
    if (port_)
        port_->ApplyTimeoutSettings();
    return *this;
}

void TComTimeouts::set(int32_t& field, int32_t value) {
    if (field == value)
        return;
    field = value;
    if (port_)
        port_->ApplyTimeoutSettings();
}

void TComTimeouts::SetReadInterval(int32_t value) { set(readInterval_, value); }
void TComTimeouts::SetReadTotalMultiplier(int32_t value) { set(readTotalMultiplier_, value); }
void TComTimeouts::SetReadTotalConstant(int32_t value) { set(readTotalConstant_, value); }
void TComTimeouts::SetWriteTotalMultiplier(int32_t value) { set(writeTotalMultiplier_, value); }
void TComTimeouts::SetWriteTotalConstant(int32_t value) { set(writeTotalConstant_, value); }

namespace {
int32_t evenSize(int32_t value) { return (value > 0 && value % 2 != 0) ? value - 1 : value; }
}  // namespace

TComBuffer::TComBuffer(const TComBuffer& o) : inputSize_(o.inputSize_), outputSize_(o.outputSize_) {}

TComBuffer& TComBuffer::operator=(const TComBuffer& o) {
    if (this == &o)
        return *this;
    inputSize_ = evenSize(o.inputSize_);
    outputSize_ = evenSize(o.outputSize_);
    if (port_)
        port_->ApplyBufferSizes();
    return *this;
}

void TComBuffer::set(int32_t& field, int32_t value) {
    value = evenSize(value);
    if (field == value)
        return;
    field = value;
    if (port_)
        port_->ApplyBufferSizes();
}

void TComBuffer::SetInputSize(int32_t value) { set(inputSize_, value); }
void TComBuffer::SetOutputSize(int32_t value) { set(outputSize_, value); }

// ---- Port settings -----------------------------------------------------------------

void TCustomComPort::SetConnected(bool value) {
    if (value)
        OpenPort();
    else
        ClosePort();
}

void TCustomComPort::SetBaudRate(TBaudRate value) {
    if (baudRate_ == value)
        return;
    baudRate_ = value;
    ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(int32_t value) {
    if (customBaudRate_ == value)
        return;
    customBaudRate_ = value;
    ApplyLineSettings();
}

void TCustomComPort::SetPort(const std::string& value) {
    if (port_ == value)
        return;
    port_ = value;
    if (connected_) {
        ClosePort();
        OpenPort();
    }
}

void TCustomComPort::SetStopBits(TStopBits value) {
    if (stopBits_ == value)
        return;
    stopBits_ = value;
    ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits value) {
    if (dataBits_ == value)
        return;
    dataBits_ = value;
    ApplyLineSettings();
}

void TCustomComPort::SetDiscardNull(bool value) {
    if (discardNull_ == value)
        return;
    discardNull_ = value;
    ApplyLineSettings();
}

void TCustomComPort::SetEventChar(char value) {
    if (eventChar_ == value)
        return;
    eventChar_ = value;
    ApplyLineSettings();
}

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
    if (syncMethod_ == value)
        return;
    if (connected_)
        throw EComPort(CError_ConnChangeProp);
    syncMethod_ = value;
}

void TCustomComPort::BeginSettingsUpdate() { ++updateDepth_; }

void TCustomComPort::EndSettingsUpdate() {
    if (updateDepth_ <= 0)
        return;
    if (--updateDepth_ == 0)
        ApplyAllSettings();
}

// ---- Settings file -----------------------------------------------------------------

ProfileStore& TCustomComPort::profileStore() {
    if (!profileStore_)
        profileStore_ = CreateProfileStore();
    return *profileStore_;
}

void TCustomComPort::SaveSettingsFile(const std::string& path) { StoreIniFile(path); }

void TCustomComPort::LoadSettingsFile(const std::string& path) { LoadIniFile(path); }

void TCustomComPort::StoreIniFile(const std::string& path) {
    ProfileKeys keys;
    // A value the reader cut is never written back cut: its line stays whole.
    if (portCutOnLoad_.empty() || port_ != portCutOnLoad_)
        keys.emplace_back("Port", port_);
    keys.emplace_back("BaudRate", BaudRateText(baudRate_));
    if (baudRate_ == brCustom)
        keys.emplace_back("CustomBaudRate", std::to_string(customBaudRate_));
    keys.emplace_back("StopBits", StopBitsText(stopBits_));
    keys.emplace_back("DataBits", DataBitsText(dataBits_));
    keys.emplace_back("Parity", ParityText(parity_.Bits()));
    keys.emplace_back("FlowControl", FlowControlText(flowControl_.FlowControl()));
    // One write of the whole section: the file is read and replaced once.
    if (!profileStore().WriteStrings(path, name_, keys))
        throw EComPort(CError_StoreFailed);
}

namespace {

// value read for key is one its conversion knows, or the note that says what
// is used instead.
template <class T>
void NoteFallback(std::vector<std::string>& notes, const char* key, const std::string& value, T converted,
                  std::string (*toText)(T), const std::string& usedInstead) {
    if (!SameTextAscii(toText(converted), value))
        notes.push_back(std::string(key) + "=" + value + " is not understood; " + usedInstead + " is used instead");
}

}  // namespace

void TCustomComPort::LoadIniFile(const std::string& path) {
    ProfileStore& store = profileStore();
    auto read = [&](const char* key, const std::string& defaultValue) {
        return store.ReadString(path, name_, key, defaultValue);
    };
    settingsNotes_.clear();
    portCutOnLoad_.clear();
    if (std::string why = store.WhyUnreadable(path); !why.empty())
        settingsNotes_.push_back("the file " + why + "; the built-in settings are used");
    TSettingsUpdate update(*this);
    try {
        const std::string port = read("Port", port_);
        if (port.size() >= kProfileValueMax) {
            portCutOnLoad_ = port;
            settingsNotes_.push_back("Port= reaches the reader's limit of " + std::to_string(kProfileValueMax) +
                                     " characters; what fits is used, and the line is kept as it is");
        }
        SetPort(port);
        const std::string baud = read("BaudRate", BaudRateText(baudRate_));
        SetBaudRate(BaudRateFromText(baud));
        NoteFallback(settingsNotes_, "BaudRate", baud, baudRate_, BaudRateText, BaudRateText(baudRate_));
        if (baudRate_ == brCustom) {
            const std::string custom = read("CustomBaudRate", "9600");
            SetCustomBaudRate(ProfileIntegerFromText(custom, 9600));
            if (ProfileIntegerFromText(custom, 0) != ProfileIntegerFromText(custom, 1))
                settingsNotes_.push_back("CustomBaudRate=" + custom + " is not understood; 9600 is used instead");
        }
        const std::string stop = read("StopBits", StopBitsText(stopBits_));
        SetStopBits(StopBitsFromText(stop));
        NoteFallback(settingsNotes_, "StopBits", stop, stopBits_, StopBitsText, StopBitsText(stopBits_));
        const std::string data = read("DataBits", DataBitsText(dataBits_));
        SetDataBits(DataBitsFromText(data));
        NoteFallback(settingsNotes_, "DataBits", data, dataBits_, DataBitsText, DataBitsText(dataBits_));
        const std::string parity = read("Parity", ParityText(parity_.Bits()));
        parity_.SetBits(ParityFromText(parity));
        NoteFallback(settingsNotes_, "Parity", parity, parity_.Bits(), ParityText, ParityText(parity_.Bits()));
        const std::string flow = read("FlowControl", FlowControlText(flowControl_.FlowControl()));
        flowControl_.SetFlowControl(FlowControlFromText(flow));
        // An unknown text gives "Custom", which changes nothing.
        NoteFallback(settingsNotes_, "FlowControl", flow, FlowControlFromText(flow), FlowControlText,
                     FlowControlText(flowControl_.FlowControl()));
    } catch (...) {
        throw EComPort(CError_LoadFailed);  // the load failure is what the caller hears about
    }
    update.Commit();
}

}  // namespace kestrel
