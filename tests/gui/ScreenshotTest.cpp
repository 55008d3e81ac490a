// The main window as docs/screenshot.png shows it: nine beacons of the
// simulated satellite, received from a pseudo-terminal under a fixed clock,
// drawn offscreen and compared with the picture within a small tolerance.
//
// KESTREL_UPDATE_PICTURES=1 writes the picture into docs/ instead of
// comparing; either way it is written to build/pictures/.

#include "CP_Main.h"
#include "GuiTestSupport.h"
#include "SimBeacons.h"
#include "support/PictureCompare.h"

#include <QApplication>
#include <QDir>

namespace kestrel {

TEST(Screenshot, TheWindowReceivingTheSimulatedSatellite) {
    test::WorkingDir dir;
    test::MessageRecorder messages;
    test::Pty pty;
    test::writeFile(dir / "RS232Settings.ini", test::SettingsFor(pty.PortName()));
    test::FixedClock clock;
    clock.utc = {2026, 12, 3, 9, 4, 16, 40, 0};
    clock.local = clock.utc;
    TForm1 form(nullptr, TForm1Seams{&clock, nullptr});
    form.show();
    QApplication::setActiveWindow(&form);
    QCoreApplication::processEvents();

    sim::BeaconSource source(sim::BeaconOptions{});
    std::string sent;
    for (int i = 0; i < 9; ++i)
        sent += source.nextTransmission(2.0 * i).bytes;
    pty.Send(sent);
    const std::string log = form.TelemetryArchive().RawByteLogPath();
    ASSERT_TRUE(test::WaitUntil([&] { return test::readFile(log).size() == sent.size(); }));
    ASSERT_TRUE(test::WaitUntil([&] { return !form.DisplayPending(); }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(messages.shown.empty());

    QDir().mkpath(QStringLiteral(KESTREL_PICTURE_DIR));
    const QString made = QStringLiteral(KESTREL_PICTURE_DIR "/screenshot.png");
    const QString reference = QStringLiteral(KESTREL_SOURCE_DIR "/docs/screenshot.png");
    ASSERT_TRUE(form.grab().save(made, "PNG"));
    if (qEnvironmentVariable("KESTREL_UPDATE_PICTURES") == QLatin1String("1")) {
        ASSERT_TRUE(form.grab().save(reference, "PNG"));
    }
    const test::PictureDifference d = test::comparePictures(QImage(made), QImage(reference));
    EXPECT_TRUE(d.sameSize && d.share <= test::kPictureTolerance)
        << d.describe() << "; compare " << made.toStdString() << " with " << reference.toStdString();
}

}  // namespace kestrel
