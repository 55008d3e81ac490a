// The port setup dialog and its port-bound lists.

#include "GuiTestSupport.h"
#include "gui/QtMailbox.h"
#include "gui/CPortSetup.h"
#include "serial/PortListPosix.h"

#include <QPushButton>

namespace kestrel {
namespace {

std::vector<std::string> Items(const TComComboBox* combo) { return combo->Select().Items; }

void Pick(TComComboBox* combo, const std::string& text) {
    const int index = combo->Select().Find(text);
    ASSERT_GE(index, 0) << text;
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

// Counts how the settings reach the driver of an open port.
class CountingPort : public TComPort {
public:
    int allSettings = 0;
    int lineSettingsAlone = 0;

protected:
    void ApplyAllSettings() override {
        ++allSettings;
        insideAll_ = true;
        TComPort::ApplyAllSettings();
        insideAll_ = false;
    }
    void ApplyLineSettings() override {
        if (!insideAll_ && Connected() && SettingsUpdateDepth() == 0)
            ++lineSettingsAlone;
        TComPort::ApplyLineSettings();
    }

private:
    bool insideAll_ = false;
};

class DialogTest : public ::testing::Test {
protected:
    DialogTest() {
        port.SetPort(pty.PortName());
        port.SetSyncMethod(smWindowSync);
        port.SetMailbox(&mailbox);
    }
    TQtMailbox mailbox;
    test::Pty pty;
    CountingPort port;
};

TEST_F(DialogTest, OpensWithEveryListOnThePortsCurrentValue) {
    bool ran = false;
    test::DialogDriver driver([&](TComSetupFrm& d) -> int {
        ran = true;
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Setup"));
        EXPECT_TRUE(d.Button1->isDefault());
        const auto ports = Items(d.Combo1);
        EXPECT_NE(std::find(ports.begin(), ports.end(), pty.PortName()), ports.end());
        EXPECT_EQ(d.Combo1->Text(), pty.PortName());
        const auto rates = Items(d.Combo2);
        EXPECT_EQ(rates.size(), 16u);
        if (rates.size() != 16u)
            return int(QDialog::Rejected);
        EXPECT_EQ(rates.front(), "Custom");
        EXPECT_EQ(rates[1], "110");
        EXPECT_EQ(rates.back(), "256000");
        EXPECT_EQ(Items(d.Combo3), (std::vector<std::string>{"5", "6", "7", "8"}));
        EXPECT_EQ(Items(d.Combo4), (std::vector<std::string>{"1", "1.5", "2"}));
        EXPECT_EQ(Items(d.Combo5), (std::vector<std::string>{"None", "Odd", "Even", "Mark", "Space"}));
        EXPECT_EQ(Items(d.Combo6), (std::vector<std::string>{"Hardware", "Software", "None", "Custom"}));
        EXPECT_EQ(d.Combo2->Text(), "9600");
        EXPECT_EQ(d.Combo3->Text(), "8");
        EXPECT_EQ(d.Combo4->Text(), "1");
        EXPECT_EQ(d.Combo5->Text(), "None");
        EXPECT_EQ(d.Combo6->Text(), "None");
        return int(QDialog::Rejected);
    });
    RunSetupDialog(port);
    EXPECT_TRUE(ran);
}

TEST_F(DialogTest, CancelAfterChangingEveryListLeavesThePortAsItWas) {
    test::DialogDriver driver([&](TComSetupFrm& d) -> int {
        Pick(d.Combo2, "19200");
        Pick(d.Combo3, "7");
        Pick(d.Combo4, "2");
        Pick(d.Combo5, "Even");
        Pick(d.Combo6, "Hardware");
        return int(QDialog::Rejected);
    });
    RunSetupDialog(port);
    EXPECT_EQ(port.Port(), pty.PortName());
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_EQ(port.Parity().Bits(), prNone);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
}

TEST_F(DialogTest, OkAppliesEveryChoiceToAnOpenPortInOneUpdate) {
    port.OpenPort();
    const int before = port.allSettings;
    test::DialogDriver driver([&](TComSetupFrm& d) -> int {
        Pick(d.Combo2, "115200");
        Pick(d.Combo3, "7");
        Pick(d.Combo4, "1.5");
        Pick(d.Combo5, "odd");
        Pick(d.Combo6, "Software");
        return int(QDialog::Accepted);
    });
    RunSetupDialog(port);
    EXPECT_EQ(port.BaudRate(), br115200);
    EXPECT_EQ(port.DataBits(), dbSeven);
    EXPECT_EQ(port.StopBits(), sbOne5StopBits);
    EXPECT_EQ(port.Parity().Bits(), prOdd);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcSoftware);
    EXPECT_EQ(port.allSettings, before + 1);
    EXPECT_EQ(port.lineSettingsAlone, 0);
    EXPECT_TRUE(port.Connected());
    port.ClosePort();
}

TEST_F(DialogTest, CustomFlowControlShowsCustomAndOkLeavesItsFields) {
    port.FlowControl().SetOutCTSFlow(true);  // CTS without RTS handshake: no named setting
    port.FlowControl().SetControlDTR(dtrHandshake);
    ASSERT_EQ(port.FlowControl().FlowControl(), fcCustom);
    test::DialogDriver driver([&](TComSetupFrm& d) -> int {
        EXPECT_EQ(d.Combo6->Text(), "Custom");
        return int(QDialog::Accepted);
    });
    RunSetupDialog(port);
    EXPECT_TRUE(port.FlowControl().OutCTSFlow());
    EXPECT_EQ(port.FlowControl().ControlRTS(), rtsDisable);
    EXPECT_EQ(port.FlowControl().ControlDTR(), dtrHandshake);
}

TEST_F(DialogTest, OkWithTheCurrentPortUnlistedAndNonePickedKeepsItsName) {
    port.SetPort("COM4");
    test::DialogDriver driver([&](TComSetupFrm& d) -> int {
        EXPECT_EQ(d.Combo1->Text(), "") << "nothing selected";
        Pick(d.Combo2, "4800");
        return int(QDialog::Accepted);
    });
    RunSetupDialog(port);
    EXPECT_EQ(port.Port(), "COM4");
    EXPECT_EQ(port.BaudRate(), br4800);

    test::DialogDriver picking([&](TComSetupFrm& d) -> int {
        Pick(d.Combo1, d.Combo1->Select().Items.at(0));
        return int(QDialog::Accepted);
    });
    const std::vector<std::string> listed = EnumComPorts("COM4");
    if (listed.empty())
        GTEST_SKIP() << "this machine lists no serial port to pick";
    RunSetupDialog(port);
    EXPECT_EQ(port.Port(), listed.front());
}

TEST(ComComboBox, TextSelectsListedItemsOnlyAndPortDetachSelectsTheFirst) {
    TComComboBox combo;
    combo.SetComProperty(cpParity);
    EXPECT_EQ(combo.Text(), "None") << "no port: the first item";
    combo.SetText("even");
    EXPECT_EQ(combo.Text(), "Even");
    combo.SetText("Sometimes");
    EXPECT_EQ(combo.Text(), "Even");
    TComPort port;
    port.Parity().SetBits(prSpace);
    combo.SetComPort(&port);
    EXPECT_EQ(combo.Text(), "Space");
    EXPECT_EQ(combo.Select().Parity, prSpace);
    combo.SetComPort(nullptr);
    EXPECT_EQ(combo.Text(), "None");
    combo.SetComProperty(cpNone);
    EXPECT_EQ(combo.count(), 0);
}

// A fake tty class folder: entries with and without a device behind them.
class PortListTest : public ::testing::Test {
protected:
    void entry(const std::string& name, bool device, const char* type = nullptr) {
        std::filesystem::create_directories(dir.path() / "class" / name);
        if (device)
            std::filesystem::create_directories(dir.path() / "class" / name / "device");
        if (type)
            test::writeFile(dir.path() / "class" / name / "type", type);
        std::filesystem::create_directories(dir.path() / "dev");
        test::writeFile(dir.path() / "dev" / name, "");
    }
    std::vector<std::string> list(const std::string& current) {
        return EnumComPortsFrom((dir.path() / "class").string(), (dir.path() / "dev").string(), current);
    }
    test::WorkingDir dir;
};

TEST_F(PortListTest, ListsDevicesWithHardwareSortedWithoutRegardToCase) {
    entry("ttyS0", true, "4\n");
    entry("ttyS1", true, "0\n");  // registered, no hardware
    entry("ttyUSB0", true);
    entry("ttyACM10", true);
    entry("ttyACM2", true);
    entry("tty1", false);  // a virtual console
    EXPECT_EQ(list(""), (std::vector<std::string>{"ttyACM10", "ttyACM2", "ttyS0", "ttyUSB0"}));
}

TEST_F(PortListTest, AddsTheCurrentPortOnlyWhenItIsATerminal) {
    entry("ttyS0", true, "4");
    test::Pty pty;
    EXPECT_EQ(list(pty.PortName()), (std::vector<std::string>{pty.PortName(), "ttyS0"}));
    EXPECT_EQ(list("ttyS0"), std::vector<std::string>{"ttyS0"}) << "listed once";
    EXPECT_EQ(list((dir.path() / "dev" / "ttyS0").string()).size(), 1u) << "a plain file is no terminal";
    EXPECT_EQ(list("COM4"), std::vector<std::string>{"ttyS0"});
}

TEST_F(PortListTest, UnreadableSourceIsARegistryError) {
    try {
        EnumComPortsFrom((dir.path() / "missing").string(), "/dev", "");
        FAIL() << "no error";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode, 23);
        EXPECT_EQ(std::string(e.what()), "Registry error (win error code: 2)");
    }
}

TEST(PortNames, SortCaseInsensitivelyLikeTheDialog) {
    std::vector<std::string> names{"COM2", "com3", "COM10", "COM1"};
    SortPortNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM10", "COM2", "com3"}));
}

}  // namespace
}  // namespace kestrel
