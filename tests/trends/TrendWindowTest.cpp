// The trend window on Qt, offscreen: it draws the fixed sample as its
// reference pictures (docs/trends.png, docs/ground-track.png, and at its least
// size docs/trends-min.png) within a small tolerance, takes live beacons, and
// says what it could not read.
//
// KESTREL_UPDATE_PICTURES=1 writes the pictures into docs/ instead of
// comparing; either way they are written to build/pictures/.

#include "trends/TrendWindow.h"

#include "plot/TrendDesign.h"
#include "share/ShareSettings.h"
#include "support/Files.h"
#include "support/Fixtures.h"
#include "support/PictureCompare.h"
#include "support/TrendSample.h"
#include "telemetry/Archive.h"

#include <QApplication>
#include <QDir>
#include <QAction>
#include <QImage>
#include <QSet>
#include <QTest>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <regex>

using namespace kestrel;

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "trend-window-tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
    }
    void TearDown() override { delete app_; }

private:
    QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const gQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Saves the window (tool bar, tabs, canvas, status line, as the Windows
// picture shows it) to build/pictures/NAME and compares it with docs/NAME.
// Every number drawn has a "." whatever the locale (the suite draws these
// pictures again under a decimal-comma one, as a user's session may be).
void expectPointsOnly(TTrendWindow& w) {
    if (const char* all = std::getenv("LC_ALL"); all && std::string(all) == "de_DE.UTF-8") {
        ASSERT_STREQ(std::localeconv()->decimal_point, ",") << "the locale is missing: nothing proved";
    }
    std::size_t numbers = 0;
    for (const std::string& text : w.view().display().texts) {
        EXPECT_FALSE(std::regex_search(text, std::regex(R"(\d,\d)"))) << text;
        numbers += std::regex_search(text, std::regex(R"(\d\.\d)"));
    }
    EXPECT_GT(numbers, 0u);
}

void expectPicture(TTrendWindow& w, const char* name) {
    QDir().mkpath(QStringLiteral(KESTREL_PICTURE_DIR));
    const QString made = QStringLiteral(KESTREL_PICTURE_DIR "/") + name;
    const QString reference = QStringLiteral(KESTREL_SOURCE_DIR "/docs/") + name;
    QApplication::processEvents();
    ASSERT_TRUE(w.grab().save(made, "PNG"));
    if (qEnvironmentVariable("KESTREL_UPDATE_PICTURES") == QLatin1String("1")) {
        ASSERT_TRUE(w.grab().save(reference, "PNG"));
    }
    const test::PictureDifference d = test::comparePictures(QImage(made), QImage(reference));
    EXPECT_TRUE(d.sameSize && d.share <= test::kPictureTolerance)
        << name << ": " << d.describe() << "; compare " << made.toStdString() << " with " << reference.toStdString();
}

}  // namespace

TEST(TrendWindow, DrawsTheFixedSampleAsItsReferencePictures) {
    test::ScratchDir dir;
    test::writeTrendSample(dir.path() / "station");
    TTrendWindow w;
    w.resize(plot::design::kClientWidth, plot::design::kClientHeight);
    // The station's position comes from the opened folder's settings file.
    EXPECT_EQ(w.open(QString::fromStdString((dir.path() / "station").string())), 0);
    ASSERT_TRUE(ShareSettings::InFolder((dir.path() / "station").string()).hasPosition)
        << "the sample's [Share] has Latitude and Longitude";
    w.show();
    QApplication::processEvents();
    EXPECT_EQ(w.statusText(),
              QStringLiteral("264 beacons in 4 passes; passes side by side (double-click one to zoom)"));

    // The pointer on the 31st beacon of the second pass: its battery voltage read out.
    const QPointF at = [&] {
        const plot::PointF p = w.view().pointOf(0, test::kTrendSampleBeaconsPerPass + 30);
        return QPointF(p.x, p.y);
    }();
    QTest::mouseMove(w.canvas(), at.toPoint());
    QApplication::processEvents();
    ASSERT_TRUE(w.view().readout());
    EXPECT_EQ(w.view().readout()->sample, std::size_t(test::kTrendSampleBeaconsPerPass + 30));
    expectPicture(w, "trends.png");
    expectPointsOnly(w);

    w.view().setTab(plot::TrendTab::GroundTrack);
    w.canvas()->update();
    expectPicture(w, "ground-track.png");
    expectPointsOnly(w);

    const auto png = dir.path() / "saved.png";  // the tool bar's Save as PNG: the canvas
    ASSERT_TRUE(w.savePng(QString::fromStdString(png.string())));
    EXPECT_EQ(QImage(QString::fromStdString(png.string())).size(), w.canvas()->size());
}

// At the least size every plot keeps a true axis (the magnetic field crosses
// zero): docs/trends-min.png.
TEST(TrendWindow, AtItsLeastSizeDrawsTheSampleAsItsReferencePicture) {
    test::ScratchDir dir;
    test::writeTrendSample(dir.path() / "station");
    TTrendWindow w;
    EXPECT_EQ(w.open(QString::fromStdString((dir.path() / "station").string())), 0);
    w.show();
    w.resize(plot::design::kMinimumWidth, plot::design::kMinimumHeight);
    expectPicture(w, "trends-min.png");
}

// Without a pointer: Tab reaches every button, the tabs and the canvas; the
// buttons' shortcuts; in the canvas the keys read the beacons out.
TEST(TrendWindow, EverythingByKeyboard) {
    test::ScratchDir dir;
    test::writeTrendSample(dir.path() / "station");
    TTrendWindow w;
    w.open(QString::fromStdString((dir.path() / "station").string()));
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QSet<QWidget*> reached;
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w, Qt::Key_Tab);
        reached.insert(QApplication::focusWidget());
    }
    EXPECT_EQ(reached.size(), 6) << "four buttons, the tabs, the canvas";
    EXPECT_TRUE(reached.contains(w.canvas()));
    int shortcuts = 0;
    for (const QAction* a : w.findChildren<QAction*>())
        for (const plot::design::ToolButton& b : plot::design::kToolButtons)
            shortcuts += a->text() == QString::fromUtf8(b.caption) &&
                         a->shortcut() == QKeySequence(QStringLiteral("Ctrl+%1").arg(QChar(b.key)));
    EXPECT_EQ(shortcuts, plot::design::kCommandCount) << "each button's Ctrl+letter";

    w.canvas()->setFocus();
    QTest::keyClick(w.canvas(), Qt::Key_Left);
    EXPECT_TRUE(w.statusText().startsWith(QStringLiteral("Beacon 264 of 264, pass 4 of 4,")))
        << w.statusText().toStdString();
    QTest::keyClick(w.canvas(), Qt::Key_Return);
    EXPECT_TRUE(w.view().zoomed());
    QTest::keyClick(w.canvas(), Qt::Key_Escape);
    EXPECT_FALSE(w.view().zoomed());
    QTest::keyClick(w.canvas(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(w.view().realTime());
    QTest::keyClick(w.canvas(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(w.view().tab(), plot::TrendTab::GroundTrack);
}

TEST(TrendWindow, TakesLiveBeaconsAndSaysWhatItCouldNotRead) {
    TTrendWindow w;
    w.show();
    // An hour apart: the typical interval, so one pass.
    for (std::uint16_t h = 10; h < 13; ++h)
        w.addBeacon(test::exampleRecord(), {2024, 3, 0, 5, h, 15, 7, 0});
    EXPECT_EQ(w.beaconCount(), 3);
    EXPECT_TRUE(w.statusText().startsWith(QStringLiteral("3 beacons in 1 pass;")));

    test::ScratchDir dir;
    const auto log = dir.path() / "KR7_beacon_2024_03_05_070000_UTC.txt";
    std::ofstream(log, std::ios::binary) << beaconTextLogHeader()
                                         << beaconTextLogLine(test::exampleRecord(), {2024, 3, 0, 5, 7, 0, 0, 0})
                                         << "86400\t6850\tbroken\r\n";
    EXPECT_EQ(w.open(QString::fromStdString(log.string())), 1);
    EXPECT_EQ(w.open(QString::fromStdString((dir.path() / "missing.txt").string())), -1);
    EXPECT_EQ(w.beaconCount(), 4);
    EXPECT_NE(w.statusText().indexOf(QStringLiteral("1 unparseable line skipped; cannot read")), -1)
        << w.statusText().toStdString();
}
