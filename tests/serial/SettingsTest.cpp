// Settings of TComPort: text forms, combined flow control, what a change hands
// to the driver, the settings file.
//
// In order: text forms, error texts, defaults, flow control and buffer rules;
// what each setting hands to the fake device, opening and its failures;
// then, under its marker, the settings file.

#include <gtest/gtest.h>

#include "ComPortError.h"
#include "support/FakeComDevice.h"
#include "support/Files.h"
#include "serial/CPort.h"
#include "serial/ProfileStore.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace kestrel {
namespace {

using test::FakeComDevice;
using test::FakeDeviceLog;

using test::comPortError;

TEST(ComPortTexts, TablesInEnumerationOrder) {
    std::vector<std::string> rates;
    for (TBaudRate r : kAllBaudRates)
        rates.push_back(BaudRateText(r));
    EXPECT_EQ(rates, (std::vector<std::string>{"Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400",
                                               "19200", "38400", "56000", "57600", "115200", "128000", "256000"}));
    EXPECT_EQ(BaudRateValue(br256000), 256000);
    EXPECT_EQ(StopBitsText(sbOne5StopBits), "1.5");
    EXPECT_EQ(DataBitsText(dbFive), "5");
    EXPECT_EQ(ParityText(prSpace), "Space");
    EXPECT_EQ(FlowControlText(fcCustom), "Custom");
    for (TBaudRate r : kAllBaudRates)
        EXPECT_EQ(BaudRateFromText(BaudRateText(r)), r);
    for (TFlowControl f : kAllFlowControls)
        EXPECT_EQ(FlowControlFromText(FlowControlText(f)), f);
}

TEST(ComPortTexts, FromTextIgnoresCaseAndFallsBack) {
    EXPECT_EQ(BaudRateFromText("cUSTOM"), brCustom);
    EXPECT_EQ(BaudRateFromText("19200"), br19200);
    EXPECT_EQ(BaudRateFromText("12345"), br9600);
    EXPECT_EQ(BaudRateFromText(""), br9600);
    EXPECT_EQ(StopBitsFromText("1.5"), sbOne5StopBits);
    EXPECT_EQ(StopBitsFromText("3"), sbOneStopBit);
    EXPECT_EQ(DataBitsFromText("9"), dbEight);
    EXPECT_EQ(DataBitsFromText("7"), dbSeven);
    EXPECT_EQ(ParityFromText("none"), prNone);
    EXPECT_EQ(ParityFromText("NONE"), prNone);
    EXPECT_EQ(ParityFromText("mark"), prMark);
    EXPECT_EQ(ParityFromText("?"), prNone);
    EXPECT_EQ(FlowControlFromText("software"), fcSoftware);
    EXPECT_EQ(FlowControlFromText("RTS/CTS"), fcCustom);
}

TEST(ComPortErrors, MessagesAndSuffix) {
    EComPort open(CError_OpenFailed, 2);
    EXPECT_STREQ(open.what(), "Unable to open com port (win error code: 2)");
    EXPECT_EQ(open.ErrorCode, 1);
    EXPECT_EQ(open.SystemErrorCode, 2);
    EComPort store(CError_StoreFailed);
    EXPECT_STREQ(store.what(), "Failed to store settings");
    EXPECT_EQ(store.SystemErrorCode, -1);
    EXPECT_STREQ(EComPort(CError_RegFailed, 5).what(), "Registry error (win error code: 5)");
    EXPECT_STREQ(EComPort(CError_TimeoutsFailed, -7).what(), "SetCommTimeouts failed (win error code: -7)");
    EXPECT_EQ(ComErrorText(CError_ConnChangeProp), "Cannot set property while connected");
    EXPECT_EQ(ComErrorText(CError_LoadFailed), "Failed to load settings");
}

TEST(ComPortDefaults, ComponentDefaults) {
    TComPort p;
    EXPECT_FALSE(p.Connected());
    EXPECT_EQ(p.BaudRate(), br9600);
    EXPECT_EQ(p.CustomBaudRate(), 9600);
    EXPECT_EQ(p.Port(), "COM1");
    EXPECT_EQ(p.Parity().Bits(), prNone);
    EXPECT_EQ(p.StopBits(), sbOneStopBit);
    EXPECT_EQ(p.DataBits(), dbEight);
    EXPECT_EQ(p.Events(), kAllComEvents);
    EXPECT_EQ(EventsToMask(p.Events()), 0x05FFu);
    EXPECT_EQ(p.Buffer().InputSize(), 1024);
    EXPECT_EQ(p.FlowControl().FlowControl(), fcNone);
    EXPECT_EQ(p.FlowControl().XonChar(), 17);
    EXPECT_EQ(p.FlowControl().XoffChar(), 19);
    EXPECT_EQ(p.Timeouts().ReadInterval(), -1);
    EXPECT_EQ(p.Timeouts().WriteTotalMultiplier(), 100);
    EXPECT_EQ(p.Timeouts().WriteTotalConstant(), 1000);
    EXPECT_EQ(p.SyncMethod(), smThreadSync);
}

TEST(ComPortFlowControl, CombinedValueFollowsTheFourRules) {
    TComPort p;
    TComFlowControl& f = p.FlowControl();
    f.SetFlowControl(fcHardware);
    EXPECT_EQ(f.ControlRTS(), rtsHandshake);
    EXPECT_TRUE(f.OutCTSFlow());
    EXPECT_EQ(f.FlowControl(), fcHardware);
    f.SetControlDTR(dtrEnable);  // DTR and DSR flow take no part
    f.SetOutDSRFlow(true);
    EXPECT_EQ(f.FlowControl(), fcHardware);
    f.SetFlowControl(fcSoftware);
    EXPECT_EQ(f.ControlRTS(), rtsDisable);
    EXPECT_FALSE(f.OutCTSFlow());
    EXPECT_TRUE(f.XonXoffIn());
    EXPECT_TRUE(f.XonXoffOut());
    EXPECT_EQ(f.FlowControl(), fcSoftware);
    f.SetXonXoffIn(false);
    EXPECT_EQ(f.FlowControl(), fcCustom);
    f.SetFlowControl(fcNone);
    EXPECT_EQ(f.FlowControl(), fcNone);
    EXPECT_EQ(f.ControlDTR(), dtrEnable);
    f.SetControlRTS(rtsEnable);
    EXPECT_EQ(f.FlowControl(), fcCustom);
    f.SetFlowControl(fcCustom);  // leaves every field
    EXPECT_EQ(f.ControlRTS(), rtsEnable);
    EXPECT_EQ(f.FlowControl(), fcCustom);
}

TEST(ComPortBuffer, OddPositiveSizesAreLoweredByOne) {
    TComPort p;
    p.Buffer().SetInputSize(1025);
    p.Buffer().SetOutputSize(1);
    EXPECT_EQ(p.Buffer().InputSize(), 1024);
    EXPECT_EQ(p.Buffer().OutputSize(), 0);
    p.Buffer().SetInputSize(-3);
    EXPECT_EQ(p.Buffer().InputSize(), -3);
    TComBuffer b;
    b.SetInputSize(4097);
    p.SetBuffer(b);
    EXPECT_EQ(p.Buffer().InputSize(), 4096);
}

TEST(ComPortLifetime, HoldersAreToldWhenThePortGoes) {
    std::vector<std::string> told;
    auto port = std::make_unique<TComPort>();
    port->AddFreeNotification([&](TCustomComPort& p) { told.push_back("first " + p.Port()); });
    const int removed = port->AddFreeNotification([&](TCustomComPort&) { told.push_back("removed"); });
    port->AddFreeNotification([&](TCustomComPort&) { told.push_back("second"); });
    port->RemoveFreeNotification(removed);
    port.reset();
    EXPECT_EQ(told, (std::vector<std::string>{"first COM1", "second"}));
}

// A port on the recording device, opened without an event thread.
class FakePortTest : public ::testing::Test {
protected:
    FakeDeviceLog log;
    TComPort port{std::make_unique<FakeComDevice>(log)};
    void SetUp() override {
        port.SetEvents({});
        port.SetPort("COM4");
    }
    void open() {
        port.OpenPort();
        log.calls.clear();
    }
};

TEST_F(FakePortTest, OpenAppliesEverythingInOrderThenReadsTheModemLines) {
    port.OpenPort();
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(log.calls,
              (std::vector<std::string>{"Open COM4", "SetupBuffers", "SetLineState", "SetTimeouts", "ModemStatus"}));
    port.OpenPort();  // already open: nothing
    EXPECT_EQ(log.count("Open"), 1);
}

TEST_F(FakePortTest, MainWindowSettingsGiveTheExpectedControlBlock) {
    port.Timeouts().SetReadInterval(100);
    port.Timeouts().SetReadTotalMultiplier(100);
    port.Timeouts().SetReadTotalConstant(100);
    port.Timeouts().SetWriteTotalMultiplier(1000);
    open();
    const ComLineState& s = log.lastLine;
    EXPECT_EQ(s.BaudRate, 9600u);
    EXPECT_EQ(s.Flags, kDcbBinary);
    EXPECT_EQ(s.XonLim, 256);
    EXPECT_EQ(s.XoffLim, 256);
    EXPECT_EQ(s.ByteSize, 8);
    EXPECT_EQ(s.Parity, kParityNone);
    EXPECT_EQ(s.StopBits, kOneStopBit);
    EXPECT_EQ(s.XonChar, 0x11);
    EXPECT_EQ(s.XoffChar, 0x13);
    EXPECT_EQ(s.EvtChar, 0);
    EXPECT_EQ(log.lastTimeouts.ReadIntervalTimeout, 100u);
    EXPECT_EQ(log.lastTimeouts.WriteTotalTimeoutMultiplier, 1000u);
    EXPECT_EQ(log.lastTimeouts.WriteTotalTimeoutConstant, 1000u);
    EXPECT_EQ(log.lastBuffersIn, 1024u);
}

TEST_F(FakePortTest, FlagsOfEveryLineSetting) {
    open();
    port.BeginSettingsUpdate();
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(250000);
    port.SetDataBits(dbSeven);
    port.SetStopBits(sbTwoStopBits);
    port.Parity().SetBits(prMark);
    port.Parity().SetCheck(true);
    port.Parity().SetReplace(true);
    port.Parity().SetReplaceChar('?');
    port.SetDiscardNull(true);
    port.SetEventChar('\n');
    port.FlowControl().SetFlowControl(fcHardware);
    port.FlowControl().SetControlDTR(dtrHandshake);
    port.FlowControl().SetOutDSRFlow(true);
    port.FlowControl().SetDSRSensitivity(true);
    port.FlowControl().SetTxContinueOnXoff(true);
    port.Timeouts().SetReadInterval(-1);
    EXPECT_EQ(log.calls.size(), 0u);  // nothing reaches the driver during an update
    port.EndSettingsUpdate();
    EXPECT_EQ(log.calls, (std::vector<std::string>{"SetupBuffers", "SetLineState", "SetTimeouts"}));
    const ComLineState& s = log.lastLine;
    EXPECT_EQ(s.BaudRate, 250000u);
    EXPECT_EQ(s.ByteSize, 7);
    EXPECT_EQ(s.StopBits, kTwoStopBits);
    EXPECT_EQ(s.Parity, kParityMark);
    EXPECT_EQ(s.Flags, kDcbBinary | kDcbNull | kDcbOutxCtsFlow | kDcbOutxDsrFlow | kDcbDtrControlHandshake |
                           kDcbRtsControlHandshake | kDcbDsrSensitivity | kDcbTxContinueOnXoff | kDcbParity |
                           kDcbErrorChar);
    EXPECT_EQ(s.ErrorChar, '?');
    EXPECT_EQ(s.EvtChar, '\n');
    EXPECT_EQ(log.lastTimeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
}

TEST_F(FakePortTest, SettersCompareFirstAndApplyOnlyTheirOwnStep) {
    open();
    port.SetBaudRate(br9600);
    port.Parity().SetBits(prNone);
    port.Timeouts().SetWriteTotalConstant(1000);
    port.Buffer().SetInputSize(1025);  // stored as 1024: unchanged
    EXPECT_TRUE(log.calls.empty());
    port.SetBaudRate(br19200);
    port.Timeouts().SetReadTotalConstant(5);
    port.Buffer().SetOutputSize(2048);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"SetLineState", "SetTimeouts", "SetupBuffers"}));
    log.calls.clear();
    port.FlowControl().SetFlowControl(fcNone);  // the combined setter applies in every case
    EXPECT_EQ(log.calls, (std::vector<std::string>{"SetLineState"}));
    port.EndSettingsUpdate();  // depth 0 already: nothing
    EXPECT_EQ(log.calls.size(), 1u);
}

TEST_F(FakePortTest, ChangesOnAClosedPortAreOnlyStored) {
    port.SetBaudRate(br115200);
    port.Timeouts().SetReadInterval(5);
    port.BeginSettingsUpdate();
    port.EndSettingsUpdate();
    EXPECT_TRUE(log.calls.empty());
    open();
    port.OpenPort();
    EXPECT_TRUE(log.calls.empty());
}

TEST_F(FakePortTest, PortChangeReopensAnOpenPort) {
    open();
    port.SetPort("COM4");
    EXPECT_TRUE(log.calls.empty());
    port.SetPort("COM5");
    EXPECT_EQ(log.calls.front(), "Purge 3");
    EXPECT_EQ(log.count("Close"), 1);
    EXPECT_EQ(log.count("Open COM5"), 1);
    EXPECT_TRUE(port.Connected());
}

TEST_F(FakePortTest, SyncMethodCannotChangeWhileConnected) {
    port.SetSyncMethod(smWindowSync);
    open();
    EComPort e = comPortError([&] { port.SetSyncMethod(smNone); });
    EXPECT_EQ(e.ErrorCode, CError_ConnChangeProp);
    EXPECT_STREQ(e.what(), "Cannot set property while connected");
    EXPECT_EQ(port.SyncMethod(), smWindowSync);
    port.SetSyncMethod(smWindowSync);  // equal: no error
    port.ClosePort();
    port.SetSyncMethod(smNone);
    EXPECT_EQ(port.SyncMethod(), smNone);
}

TEST_F(FakePortTest, FailuresWhileOpeningCarryTheirCodes) {
    log.failures["Open"] = 2;
    EXPECT_EQ(comPortError([&] { port.OpenPort(); }).SystemErrorCode, 2);
    EXPECT_FALSE(port.Connected());

    log.failures.clear();
    log.failures["SetLineState"] = 22;
    EComPort e = comPortError([&] { port.OpenPort(); });
    EXPECT_EQ(e.ErrorCode, CError_SetStateFailed);
    EXPECT_EQ(e.SystemErrorCode, WindowsErrorCode(22));  // the platform's error in its Windows number
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(log.count("Close"), 1);  // the device was closed again

    log.failures = {{"SetupBuffers", 1}};
    EXPECT_EQ(comPortError([&] { port.OpenPort(); }).ErrorCode, CError_SetupComFailed);
    log.failures = {{"SetTimeouts", 1}};
    EXPECT_EQ(comPortError([&] { port.OpenPort(); }).ErrorCode, CError_TimeoutsFailed);
    EXPECT_FALSE(port.Connected());

    log.failures = {{"ModemStatus", 5}};
    EXPECT_EQ(comPortError([&] { port.OpenPort(); }).ErrorCode, CError_ModemStatFailed);
    EXPECT_TRUE(port.Connected());  // the final read leaves the port open
}

TEST_F(FakePortTest, AFailedAbortStillClosesThePortBeforeItIsReported) {
    log.scriptedEvents = true;  // with an event thread to stop
    port.SetEvents({evRxChar});
    port.SetSyncMethod(smNone);
    open();
    log.failures["Purge"] = 6;
    EXPECT_EQ(comPortError([&] { port.ClosePort(); }).ErrorCode, CError_PurgeFailed);
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(port.EventThreadActive());
    EXPECT_EQ(log.count("Close"), 1);
    log.failures.clear();
    port.OpenPort();  // and it opens again
    EXPECT_TRUE(port.Connected());
}

TEST_F(FakePortTest, ClosingFromABeforeCloseHandlerRunsTheCloseOnce) {
    open();
    int closes = 0;
    port.OnBeforeClose = [&](TCustomComPort& p) { p.ClosePort(); };
    port.OnAfterClose = [&](TCustomComPort&) { ++closes; };
    port.ClosePort();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(log.count("Close"), 1);
}

TEST_F(FakePortTest, FailedReadLeavesNoStaleText) {
    open();
    log.failures["Read"] = 5;
    std::string text = "old";
    EXPECT_EQ(comPortError([&] { port.ReadBytes(text, 4); }).ErrorCode, CError_ReadFailed);
    EXPECT_EQ(text, "");
}

TEST(FakePortLifetime, APortWhoseAbortFailsIsStillReleasedWhenDestroyed) {
    FakeDeviceLog log;
    {
        TComPort port{std::make_unique<FakeComDevice>(log)};
        port.SetEvents({});
        port.OpenPort();
        log.failures["Purge"] = 6;
    }
    EXPECT_EQ(log.count("Close"), 1);
}

// ---- Settings file -------------------------------------------------------------------

class SettingsFileTest : public FakePortTest {
protected:
    test::ScratchDir dir;
    std::string ini = (dir / "RS232Settings.ini").string();
};

TEST_F(SettingsFileTest, StoresTheBasicGroup) {
    port.SaveSettingsFile(ini);
    EXPECT_EQ(
        test::readFile(ini),
        "[CPort]\r\nPort=COM4\r\nBaudRate=9600\r\nStopBits=1\r\nDataBits=8\r\nParity=None\r\nFlowControl=None\r\n");
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(31250);
    port.FlowControl().SetFlowControl(fcHardware);
    port.SaveSettingsFile(ini);
    const std::string text = test::readFile(ini);
    EXPECT_NE(text.find("BaudRate=Custom\r\n"), std::string::npos);
    EXPECT_NE(text.find("CustomBaudRate=31250\r\n"), std::string::npos);
    EXPECT_NE(text.find("FlowControl=Hardware\r\n"), std::string::npos);
}

TEST_F(SettingsFileTest, StoringTwiceKeepsOneSectionAndTheRestOfTheFile) {
    test::writeFile(ini, "[Station]\r\nCall=XX0XX\r\n");
    port.SaveSettingsFile(ini);
    port.SetPort("ttyUSB0");
    port.SaveSettingsFile(ini);
    const std::string text = test::readFile(ini);
    EXPECT_EQ(text.find("[CPort]"), text.rfind("[CPort]"));
    EXPECT_EQ(text.find("\nPort="), text.rfind("\nPort="));
    EXPECT_NE(text.find("Port=ttyUSB0"), std::string::npos);
    EXPECT_EQ(text.find("COM4"), std::string::npos);
    EXPECT_NE(text.find("[Station]\r\nCall=XX0XX\r\n"), std::string::npos);
}

TEST_F(SettingsFileTest, TheSectionIsStoredInOneWrite) {
    struct CountingStore final : ProfileStore {
        int writes = 0;
        ProfileKeys keys;
        std::string ReadString(const std::string&, const std::string&, const std::string&,
                               const std::string& d) override {
            return d;
        }
        bool WriteString(const std::string&, const std::string&, const std::string& k, const std::string& v) override {
            ++writes;
            keys.emplace_back(k, v);
            return true;
        }
        bool WriteStrings(const std::string&, const std::string&, const ProfileKeys& k) override {
            ++writes;
            keys = k;
            return true;
        }
    };
    auto store = std::make_shared<CountingStore>();
    port.SetProfileStore(store);
    port.SaveSettingsFile(ini);
    EXPECT_EQ(store->writes, 1);
    EXPECT_EQ(store->keys.size(), 6u);
}

TEST_F(SettingsFileTest, StoreFailureIsCode16) {
    EComPort e = comPortError([&] { port.SaveSettingsFile((dir / "missing/RS232Settings.ini").string()); });
    EXPECT_EQ(e.ErrorCode, CError_StoreFailed);
    EXPECT_STREQ(e.what(), "Failed to store settings");
}

TEST_F(SettingsFileTest, LoadsTextsWithTheirFallbacks) {
    port.SetCustomBaudRate(5000);
    test::writeFile(ini, "[cport]\r\nport=COM7\r\nBaudRate=custom\r\nStopBits=1.5\r\nDataBits=9\r\nParity=even\r\n");
    port.LoadSettingsFile(ini);
    EXPECT_EQ(port.Port(), "COM7");
    EXPECT_EQ(port.BaudRate(), brCustom);
    EXPECT_EQ(port.CustomBaudRate(), 9600);  // no key: 9600, not the old value
    EXPECT_EQ(port.StopBits(), sbOne5StopBits);
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.Parity().Bits(), prEven);

    test::writeFile(ini, "[CPort]\r\nBaudRate=Custom\r\nCustomBaudRate=0x7A12\r\n");
    port.LoadSettingsFile(ini);
    EXPECT_EQ(port.CustomBaudRate(), 31250);
    test::writeFile(ini, "[CPort]\r\nBaudRate=12345\r\nCustomBaudRate=777\r\n");
    port.LoadSettingsFile(ini);
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.CustomBaudRate(), 31250);  // read only for Custom
    test::writeFile(ini, "[CPort]\r\nBaudRate=19200\r\n");
    port.LoadSettingsFile(ini);
    EXPECT_EQ(port.BaudRate(), br19200);
}

TEST_F(SettingsFileTest, CrLfAndCrOnlyLineEndsReadAlikeAndStoreBackWithoutDuplicates) {
    for (const std::string end : {"\r", "\n", "\r\n"}) {
        SCOPED_TRACE(testing::PrintToString(end));
        test::writeFile(ini, "[Station]" + end + "Call=XX0XX" + end + "[CPort]" + end + "Port=ttyUSB1" + end +
                                 "BaudRate=19200" + end + "StopBits=2" + end + "DataBits=7" + end + "Parity=Even" +
                                 end + "FlowControl=Hardware" + end);
        TComPort loaded;
        loaded.LoadSettingsFile(ini);
        loaded.SaveSettingsFile(ini);
        TComPort reread;
        reread.LoadSettingsFile(ini);
        for (const TComPort* p : {&loaded, &reread}) {
            EXPECT_EQ(p->Port(), "ttyUSB1");
            EXPECT_EQ(p->BaudRate(), br19200);
            EXPECT_EQ(p->StopBits(), sbTwoStopBits);
            EXPECT_EQ(p->DataBits(), dbSeven);
            EXPECT_EQ(p->Parity().Bits(), prEven);
            EXPECT_EQ(p->FlowControl().FlowControl(), fcHardware);
        }
        const std::string text = test::readFile(ini);
        EXPECT_EQ(text.find("Port="), text.rfind("Port=")) << text;
        EXPECT_EQ(text.find("BaudRate="), text.rfind("BaudRate=")) << text;
        EXPECT_NE(text.find("Call=XX0XX"), std::string::npos);
    }
}

// Each value taken otherwise than written is noted once, with its key, its
// value and what is used instead; a Port value the reader had to cut is
// never written back cut.
TEST_F(SettingsFileTest, FallbacksAreNotedAndACutValueKeepsItsLine) {
    const std::string longPort(kProfileValueMax + 100, 'p');
    test::writeFile(ini, "[CPort]\r\nPort=" + longPort +
                             "\r\nBaudRate=Custom\r\nCustomBaudRate=115200abc\r\n"
                             "StopBits=\r\nDataBits=8\r\nParity=odd\r\nFlowControl=RTS/CTS\r\n");
    port.LoadSettingsFile(ini);
    const std::vector<std::string>& notes = port.SettingsFileNotes();
    ASSERT_EQ(notes.size(), 4u) << "the cut port, CustomBaudRate, StopBits and FlowControl";
    EXPECT_NE(notes[1].find("CustomBaudRate=115200abc"), std::string::npos);
    EXPECT_NE(notes[1].find("9600"), std::string::npos);
    EXPECT_NE(notes[2].find("StopBits="), std::string::npos);
    EXPECT_NE(notes[3].find("FlowControl=RTS/CTS"), std::string::npos);
    EXPECT_NE(notes[3].find("None"), std::string::npos);

    port.SaveSettingsFile(ini);
    EXPECT_NE(test::readFile(ini).find("Port=" + longPort + "\r\n"), std::string::npos);
    port.LoadSettingsFile(ini);
    EXPECT_EQ(port.SettingsFileNotes().size(), 1u) << "stored as understood, only the long port remains";
}

#ifndef _WIN32
TEST_F(SettingsFileTest, AFileThatIsNotReadSaysWhy) {
    ASSERT_EQ(mkfifo(ini.c_str(), 0644), 0);
    port.LoadSettingsFile(ini);
    ASSERT_EQ(port.SettingsFileNotes().size(), 1u);
    EXPECT_NE(port.SettingsFileNotes()[0].find("not a regular file"), std::string::npos);
    std::filesystem::remove(ini);
    test::writeFile(ini, "[CPort]\r\n");
    std::filesystem::resize_file(ini, 17 * 1024 * 1024);
    port.LoadSettingsFile(ini);
    ASSERT_EQ(port.SettingsFileNotes().size(), 1u);
    EXPECT_NE(port.SettingsFileNotes()[0].find("larger than 16 MB"), std::string::npos);
}
#endif

TEST_F(SettingsFileTest, CustomFlowControlLeavesTheFields) {
    port.FlowControl().SetControlRTS(rtsEnable);
    port.FlowControl().SetXonXoffIn(true);
    for (const char* text : {"Custom", "whatever"}) {
        test::writeFile(ini, std::string("[CPort]\r\nFlowControl=") + text + "\r\n");
        port.LoadSettingsFile(ini);
        EXPECT_EQ(port.FlowControl().ControlRTS(), rtsEnable);
        EXPECT_TRUE(port.FlowControl().XonXoffIn());
    }
    test::writeFile(ini, "[CPort]\r\nFlowControl=NONE\r\n");
    port.LoadSettingsFile(ini);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
}

TEST_F(SettingsFileTest, MissingFileKeepsEverySetting) {
    port.SetBaudRate(br57600);
    port.Parity().SetBits(prOdd);
    port.LoadSettingsFile((dir / "absent.ini").string());
    EXPECT_EQ(port.Port(), "COM4");
    EXPECT_EQ(port.BaudRate(), br57600);
    EXPECT_EQ(port.Parity().Bits(), prOdd);
}

TEST_F(SettingsFileTest, LoadIntoAnOpenPortAppliesOnceAndReopensOnlyForANewPort) {
    open();
    test::writeFile(ini, "[CPort]\r\nPort=COM4\r\nBaudRate=115200\r\nDataBits=7\r\nParity=Odd\r\n");
    port.LoadSettingsFile(ini);
    EXPECT_EQ(log.count("Open"), 0);
    EXPECT_EQ(log.count("SetLineState"), 1);
    EXPECT_EQ(log.lastLine.BaudRate, 115200u);
    log.calls.clear();
    test::writeFile(ini, "[CPort]\r\nPort=COM8\r\n");
    port.LoadSettingsFile(ini);
    EXPECT_EQ(log.count("Open COM8"), 1);
    EXPECT_TRUE(port.Connected());
}

TEST_F(SettingsFileTest, LoadFailureIsCode17AndEndsTheUpdate) {
    open();
    log.failures["Open"] = 2;
    test::writeFile(ini, "[CPort]\r\nPort=COM9\r\n");
    EComPort e = comPortError([&] { port.LoadSettingsFile(ini); });
    EXPECT_EQ(e.ErrorCode, CError_LoadFailed);
    EXPECT_STREQ(e.what(), "Failed to load settings");
    EXPECT_EQ(port.SettingsUpdateDepth(), 0);
}

}  // namespace
}  // namespace kestrel
