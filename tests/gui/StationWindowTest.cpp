// The station dialog in the Qt window (F3): sharing and a KISS TCP line set
// through its fields, found in the settings file and in use. Why a port
// failed, in sight: in the setup dialog as it opens, and a status panel's
// whole text on a click.

#include "CP_Main.h"
#include "GuiTestSupport.h"
#include "gui/StationDialog.h"
#include "kiss/KissDeframer.h"
#include "share/SidsForm.h"
#include "support/Beacons.h"
#include "support/SidsServer.h"
#include "support/TcpListener.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolTip>

namespace kestrel {
namespace {

using test::readFile;
using test::WaitUntil;
using namespace std::chrono_literals;

class StationWindowTest : public ::testing::Test {
protected:
    void start(const std::string& settings) {
        test::writeFile(dir / "RS232Settings.ini", settings);
        form = std::make_unique<TForm1>();
        form->show();
        QApplication::setActiveWindow(form.get());
        QCoreApplication::processEvents();
    }
    ~StationWindowTest() override { SetStationDialogDriver(nullptr); }

    test::WorkingDir dir;
    test::MessageRecorder messages;
    std::unique_ptr<TForm1> form;
};

TEST_F(StationWindowTest, SharingAndAKissTcpLineSetInTheDialogAreStoredAndInUse) {
    test::Listener tnc;
    test::SidsServer server;
    start("; my station\r\n" + test::SettingsFor("/dev/kestrel-no-such-tty"));
    int shown = 0;
    SetStationDialogDriver([&](TStationDialog& d) {
        ++shown;
        EXPECT_NE(d.Message->text().toStdString().find("no such device"), std::string::npos)
            << "why the port failed, as the dialog opens";
        d.Source->setCurrentIndex(int(LineSourceSettings::KissTcp));
        EXPECT_FALSE(d.Port->isEnabled());
        d.TcpPort->setText(QString::number(tnc.port()));
        const char* share[] = {"", "12345", "N0CALL", "50.1", "-8.25"};
        d.Share[0]->setText(QString::fromStdString(server.url()));
        for (std::size_t i = 1; i < d.Share.size(); ++i)
            d.Share[i]->setText(QString::fromLatin1(share[i]));
        QTest::mouseClick(d.Ok, Qt::LeftButton);
        EXPECT_NE(d.Message->text().indexOf(QStringLiteral("N0CALL")), -1) << "the placeholder callsign refused";
        EXPECT_EQ(d.focusWidget(), d.Share[2]);
        d.Share[2]->setText(QStringLiteral("DL1ABC"));
        QTest::mouseClick(d.Ok, Qt::LeftButton);
        EXPECT_EQ(d.result(), int(QDialog::Accepted)) << d.Message->text().toStdString();
        return d.result();
    });
    QTest::keyClick(form.get(), Qt::Key_F3);
    ASSERT_EQ(shown, 1);

    const std::string ini = readFile(dir / "RS232Settings.ini");
    EXPECT_EQ(ini.rfind("; my station\r\n", 0), 0u) << ini;
    EXPECT_NE(ini.find("[Line]\r\nSource=KISS TCP\r\nHost=127.0.0.1\r\nTcpPort=" + std::to_string(tnc.port())),
              std::string::npos)
        << ini;
    EXPECT_NE(ini.find("[Share]\r\nUrl=" + server.url() + "\r\nNoradId=12345\r\nCallsign=DL1ABC\r\n"),
              std::string::npos)
        << ini;

    // In use: the TNC reached, and its beacon forwarded.
    ASSERT_TRUE(WaitUntil([&] { return tnc.accept(); }));
    const std::string frame = test::ax25UiHeader() + test::escapedBeacon(4);
    tnc.send(EncodeKissDataFrame(frame));
    ASSERT_TRUE(WaitUntil([&] { return !server.taken().empty(); }, 20s));
    EXPECT_EQ(server.taken().front(), HexUpper(frame));
    ASSERT_EQ(messages.texts(), std::vector<QString>{QStringLiteral("RS232 error. Check settings.")})
        << "the start-up's alone";
}

TEST_F(StationWindowTest, WhyThePortFailedIsShownInTheSetupDialogAndOnAClick) {
    start(test::SettingsFor("/dev/kestrel-no-such-tty"));
    QLabel* panel = form->StatusPanels[1];
    ASSERT_TRUE(WaitUntil([&] { return !panel->toolTip().isEmpty(); }));
    QTest::mouseClick(panel, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([] { return QToolTip::isVisible(); }, 2s));
    EXPECT_EQ(QToolTip::text(), panel->toolTip());
    EXPECT_NE(QToolTip::text().indexOf(QStringLiteral("no such device")), -1);

    test::DialogDriver driver([](TComSetupFrm& d) {
        EXPECT_TRUE(d.Notice && d.Notice->text() == QStringLiteral("/dev/kestrel-no-such-tty: no such device"));
        EXPECT_EQ(d.height(), design::kSetupDialog.clientHeight + design::kSetupDialog.noticeHeight);
        return int(QDialog::Rejected);
    });
    QTest::mouseClick(form->bSettings, Qt::LeftButton);
}

}  // namespace
}  // namespace kestrel
