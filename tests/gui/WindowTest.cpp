// The main window: its design, start-up, shut-down, Clear, the trim tick and
// the receive path, run offscreen against a pseudo-terminal.
//
// In order: the design shown; each shortcut reaching its action; received bytes
// through panes, status, Memo1 and archive; Clear; Memo2's font; a failing
// purge; the trim; a failing RawByteLog's one report; SIGTERM; the setup
// dialog.

#include "CP_Main.h"
#include "station/FontFit.h"
#include "trends/TrendWindow.h"
#include "GuiTestSupport.h"
#include "support/Beacons.h"
#include "telemetry/BeaconFrame.h"
#include "telemetry/InOutError.h"

#include <QAction>
#include <QGroupBox>
#include <QStatusBar>
#include <QFontInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <map>

#include <sys/file.h>

namespace kestrel {
namespace {

using test::filesIn;
using test::readFile;
using test::WaitUntil;

class WindowTest : public ::testing::Test {
protected:
    void writeSettings() { test::writeFile(dir / "RS232Settings.ini", test::SettingsFor(pty.PortName())); }

    void start() {
        form = std::make_unique<TForm1>();
        form->show();
        QApplication::setActiveWindow(form.get());
        QCoreApplication::processEvents();
    }

    // Writes bytes to the port and waits until the RawByteLog holds all bytes
    // sent so far.
    void feed(const std::string& bytes) {
        sent += bytes;
        pty.Send(bytes);
        const std::string log = form->TelemetryArchive().RawByteLogPath();
        ASSERT_TRUE(WaitUntil([&] { return readFile(log).size() == sent.size(); }))
            << readFile(log).size() << " of " << sent.size() << " bytes logged";
        // Then the display tick paints them.
        ASSERT_TRUE(WaitUntil([&] { return !form->DisplayPending(); }));
    }

    QString status() const { return form->StatusPanels[0]->text(); }

    test::WorkingDir dir;
    test::MessageRecorder messages;
    test::Pty pty;
    std::unique_ptr<TForm1> form;
    std::string sent;
};

// The window shows its design, control by control.
TEST_F(WindowTest, WindowShowsItsDesign) {
    writeSettings();
    start();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("KESTREL telemetry decoder (UART/RS232) V1.83"));
    EXPECT_EQ(form->objectName(), QString::fromLatin1(design::kFormName));
    EXPECT_EQ(form->font().pixelSize(), design::kWindowFont.pixelHeight);
    EXPECT_TRUE(form->font().bold());
    const design::Layout layout = design::LayoutWindow(form->width(), form->height());
    for (std::size_t i = 0; i < design::kControls.size(); ++i) {
        const design::Control& c = design::kControls[i];
        QWidget* w = form->Controls[i];
        EXPECT_EQ(w->objectName(), QString::fromLatin1(c.name));
        EXPECT_EQ(w->toolTip(), QString::fromLatin1(c.hint)) << c.name;
        const design::Rect& r = layout[i];
        EXPECT_EQ(w->geometry(), QRect(r.left, r.top, r.width, r.height)) << c.name;
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            EXPECT_EQ(button->text(), QString::fromLatin1(c.caption));
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            EXPECT_EQ(group->title(), QString::fromLatin1(c.caption));
        } else if (auto* pane = qobject_cast<QPlainTextEdit*>(w)) {
            EXPECT_EQ(pane->isReadOnly(), c.kind == design::Kind::InfoText) << c.name;
            const QString heading = QString::fromLatin1(design::Heading(design::ControlId(i)));
            EXPECT_TRUE(heading.isEmpty() || pane->toPlainText() == heading + '\n') << c.name;
        }
        EXPECT_TRUE(c.font == design::Use::WindowFont || (QFontInfo(w->font()).fixedPitch() && !w->font().bold()))
            << c.name;
    }
    const QStringList info = form->Memo2->toPlainText().split('\n');
    ASSERT_EQ(info.size(), qsizetype(design::kInfoLines.size()));
    for (std::size_t i = 0; i < design::kInfoLines.size(); ++i)
        EXPECT_EQ(info[qsizetype(i)], QString::fromLatin1(design::kInfoLines[i]));
    EXPECT_TRUE(form->StatusBar1->toolTip().isEmpty());
    for (std::size_t i = 0; i < form->StatusPanels.size(); ++i)
        EXPECT_EQ(form->StatusPanels[i]->mapTo(form->StatusBar1, QPoint()).x(), int(i) * design::kStatusPanelWidth);
    for (QLabel* panel : form->StatusPanels)
        EXPECT_EQ(panel->width(), design::kStatusPanelWidth);

    for (const design::Action& a : design::kActions) {
        EXPECT_EQ(form->ActionList1[a.id]->objectName(), QString::fromLatin1(a.name));
        EXPECT_EQ(form->ActionList1[a.id]->text(), QString::fromLatin1(a.caption));
    }

    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_EQ(form->Timer1->interval(), design::kTimer1Interval);
    EXPECT_FALSE(form->TimerX->isActive());
    EXPECT_EQ(form->TimerX->interval(), design::kTimerXInterval);

    for (std::size_t i = 0; i + 1 < design::kTabOrder.size(); ++i) {
        QWidget* next = form->Controls[design::kTabOrder[i]]->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus)
            next = next->nextInFocusChain();
        EXPECT_EQ(next, form->Controls[design::kTabOrder[i + 1]]) << design::kControls[design::kTabOrder[i]].name;
    }
}

// Each designed shortcut, pressed in a receive pane, in Memo1 and in the send
// pane, reaches its action and nothing else; what the action does is the
// engine's (StationTest.EveryActionRunsByItsId).
TEST_F(WindowTest, EachDesignedShortcutReachesItsActionWhicheverControlHasTheFocus) {
    writeSettings();
    start();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    const std::map<design::ActionId, QString> keys{{design::aTNCSend, QStringLiteral("F9")},
                                                   {design::aTest, QStringLiteral("Ctrl+T")},
                                                   {design::aM4, QStringLiteral("Ctrl+Alt+M")},
                                                   {design::aTrends, QStringLiteral("F2")},
                                                   {design::aStation, QStringLiteral("F3")}};
    std::array<int, design::kActionCount> triggered{};
    for (const design::Action& a : design::kActions) {
        EXPECT_EQ(a.shortcut.any(), keys.count(a.id) == 1) << a.name;
        // Counted only: the engine's work (a beacon out, the stream on) would
        // not change what this proves.
        form->ActionList1[a.id]->disconnect();
        QObject::connect(form->ActionList1[a.id], &QAction::triggered, [&, id = a.id] { ++triggered[id]; });
    }
    for (QWidget* focus : {static_cast<QWidget*>(form->MemoRX), static_cast<QWidget*>(form->Memo1),
                           static_cast<QWidget*>(form->MemoTX)}) {
        focus->setFocus();
        for (const auto& [id, key] : keys) {
            triggered.fill(0);
            QTest::keySequence(focus, QKeySequence(key));
            for (const design::Action& a : design::kActions)
                EXPECT_EQ(triggered[a.id], a.id == id ? 1 : 0)
                    << key.toStdString() << " in " << focus->objectName().toStdString() << ": " << a.name;
        }
    }
    EXPECT_TRUE(form->MemoTX->toPlainText().isEmpty()) << "shortcuts are not inserted";
}

TEST_F(WindowTest, ReceivedBytesReachPanesStatusDecoderAndArchive) {
    writeSettings();
    start();
    ASSERT_TRUE(messages.shown.empty());
    ASSERT_TRUE(form->CPort.Connected());
    const std::string frame = test::sampleBeacon(4242);
    feed(std::string("ab\r\n", 4) + frame);
    EXPECT_EQ(form->BeaconCounter(), 1);
    EXPECT_EQ(status(), QStringLiteral("N=135"));
    EXPECT_TRUE(form->MemoRX->toPlainText().startsWith(QStringLiteral("TNC RX\nab\nBb")));
    EXPECT_TRUE(form->MEMORXHEX->toPlainText().startsWith(QStringLiteral("TNC RX HEX\n61 62 0D 0A 42 62 87 00 ")));
    const int decodedLines = form->Memo1->toPlainText().split('\n').size();
    EXPECT_TRUE(decodedLines == 21 || decodedLines == 25) << decodedLines;

    feed("z");
    EXPECT_EQ(status(), QStringLiteral("N=1"));

    // The session's trend window has the beacon.
    EXPECT_EQ(form->Trends()->beaconCount(), 1);
    QTest::keyClick(form->MemoRX, Qt::Key_F2);
    EXPECT_TRUE(form->Trends()->isVisible());

    const auto frames = filesIn(dir / "Telemetry" / "raw_data");
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(readFile(frames[0]), frame + std::string(1, '\0'));
    const auto logs = filesIn(dir / "Telemetry" / "Decoded");
    ASSERT_EQ(logs.size(), 1u);
    const std::string log = readFile(logs[0]);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5) << "four header lines and the beacon's";
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(WindowTest, ClearEmptiesThePanesAndTheBufferButKeepsTheStatus) {
    writeSettings();
    start();
    feed(test::sampleBeacon(1) + "0123456789");
    ASSERT_FALSE(form->Memo1->toPlainText().isEmpty());
    ASSERT_EQ(status(), QStringLiteral("N=10"));
    form->bClear->click();
    EXPECT_TRUE(form->Memo1->toPlainText().isEmpty());
    EXPECT_TRUE(form->MemoRX->toPlainText().isEmpty()) << "\"TNC RX\" goes too";
    EXPECT_TRUE(form->MEMORXHEX->toPlainText().isEmpty());
    EXPECT_EQ(status(), QStringLiteral("N=10"));
    feed("A");
    EXPECT_EQ(form->MemoRX->toPlainText(), QStringLiteral("A"));
    EXPECT_EQ(form->MEMORXHEX->toPlainText(), QStringLiteral("41 "));
}

// Memo2's lines, and a beacon's in Memo1 (its widest too), whole and all in
// view at the designed size.
TEST_F(WindowTest, InfoTextShowsItsLinesWholeWithTheFontsTheSystemHas) {
    start();
    QStringList lines;
    for (const std::string& line : design::DecodedSampleLines())
        lines << QString::fromLatin1(line);
    form->Memo1->setPlainText(lines.join(QChar('\n')));
    QApplication::processEvents();
    for (const QPlainTextEdit* memo : {form->Memo2, form->Memo1}) {
        for (QTextBlock b = memo->document()->begin(); b.isValid(); b = b.next())
            EXPECT_EQ(b.layout()->lineCount(), 1) << b.text().toStdString();
        EXPECT_EQ(memo->verticalScrollBar()->maximum(), 0) << memo->font().family().toStdString();
    }
}

TEST_F(WindowTest, ClearWithThePortClosedReportsThePurgeErrorAndClearsNothing) {
    start();  // port missing
    messages.shown.clear();
    form->bClear->click();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].kind, TMessageKind::Error);
    EXPECT_TRUE(messages.shown[0].text.startsWith(QStringLiteral("PurgeComm function failed")));
    EXPECT_EQ(messages.shown[0].title, QCoreApplication::applicationName());
    EXPECT_EQ(form->MemoRX->toPlainText(), QStringLiteral("TNC RX\n"));
}

TEST_F(WindowTest, TickTrimsBothPanesToTheNewestTwentyLines) {
    writeSettings();
    start();
    std::string lines;
    for (int i = 1; i <= 24; ++i)
        lines += "L" + std::to_string(i) + "\r";
    feed(lines);
    EXPECT_EQ(form->MemoRX->displayedLineCount(), 25) << "\"TNC RX\" and 24 received lines";
    form->Timer1Timer(form->Timer1);
    EXPECT_EQ(form->MemoRX->displayedLineCount(), 20);
    EXPECT_TRUE(form->MemoRX->toPlainText().startsWith(QStringLiteral("L5\n")));
    EXPECT_LE(form->MEMORXHEX->displayedLineCount(), 20);
    EXPECT_TRUE(form->MEMORXHEX->toPlainText().endsWith(QStringLiteral("32 34 0D ")));
    form->Timer1Timer(form->Timer1);
    EXPECT_EQ(form->MemoRX->displayedLineCount(), 20) << "twenty lines stay";
}

// A RawByteLog that cannot be written fails every byte: the first report shows,
// further ones do not open inside it, and the byte is shown before the box.
// (Only its folder is taken: a Telemetry folder that cannot be made is said
// at start-up instead.)
TEST_F(WindowTest, FailingRawByteLogReportsOnceWhileTheBoxIsUp) {
    writeSettings();
    std::filesystem::create_directories(dir / "Telemetry");
    test::writeFile(dir / "Telemetry" / "raw_log", "no folder here");
    start();
    ASSERT_TRUE(form->CPort.Connected());
    int shownWhileUp = -1;
    QString paneAtReport;
    messages.onShow = [&](const test::ShownMessage&) {
        if (shownWhileUp >= 0)
            return;
        paneAtReport = form->MemoRX->toPlainText();
        // The box's own loop goes on handling port events.
        for (int i = 0; i < 3; ++i) {
            pty.Send("y");
            WaitUntil([&] { return form->MemoRX->toPlainText().count('y') == i + 1; });
        }
        ShowException("Another failure");
        shownWhileUp = static_cast<int>(messages.shown.size());
    };
    pty.Send("x");
    ASSERT_TRUE(WaitUntil([&] { return shownWhileUp >= 0; }));
    EXPECT_EQ(paneAtReport, QStringLiteral("TNC RX\nx"));
    EXPECT_EQ(shownWhileUp, 1);
    ASSERT_EQ(messages.shown.size(), 2u) << "the different error follows the dismissed one";
    const QString& first = messages.shown[0].text;
    EXPECT_TRUE(first.startsWith("RawByteLog ")) << "the box names the file that failed";
    EXPECT_TRUE(first.endsWith(" not written: " + ReportText(EInOutError::fromCode(kIoFileNotOpen).what())));
    EXPECT_EQ(messages.shown[1].text, QStringLiteral("Another failure."));
    EXPECT_EQ(form->Finder().ReceiveBufferLength(), 4) << "reception goes on while the log fails";
}

TEST_F(WindowTest, TermSignalClosesTheWindowAsTheOperatorWould) {
    writeSettings();
    start();
    feed("abc");
    ::raise(SIGTERM);
    ASSERT_TRUE(WaitUntil([&] { return form->Closed(); }));
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->CPort.Connected());
    EXPECT_NE(readFile(dir / "RS232Settings.ini").find("Port=" + pty.PortName()), std::string::npos);
    EXPECT_EQ(readFile(form->TelemetryArchive().RawByteLogPath()), "abc");
}

TEST_F(WindowTest, SettingsWithAWorkingPortOpensItWithoutAMessage) {
    writeSettings();
    {
        // Another program holds the port at start-up.
        const int holder = ::open(pty.PortName().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
        start();
        ::close(holder);
    }
    ASSERT_EQ(messages.texts(), std::vector<QString>{QStringLiteral("RS232 error. Check settings.")});
    ASSERT_FALSE(form->CPort.Connected());
    // The reason is longer than its panel: cut at a word, whole in the tooltip.
    QLabel* portPanel = form->StatusPanels[1];
    EXPECT_TRUE(portPanel->toolTip().endsWith(QStringLiteral(": in use by another program")))
        << portPanel->toolTip().toStdString();
    EXPECT_TRUE(portPanel->text().endsWith(QStringLiteral("...")));
    EXPECT_LE(portPanel->fontMetrics().horizontalAdvance(portPanel->text()), portPanel->contentsRect().width());
    test::DialogDriver driver([&](TComSetupFrm& dialog) -> int {
        const int index = dialog.Combo1->Select().Find(pty.PortName());
        EXPECT_GE(index, 0);
        dialog.Combo1->setCurrentIndex(index);
        emit dialog.Combo1->activated(index);
        return int(QDialog::Accepted);
    });
    form->bSettings->click();
    EXPECT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(form->CPort.Connected());
    EXPECT_EQ(form->CPort.Port(), pty.PortName());
    ASSERT_TRUE(WaitUntil([&] { return portPanel->text().isEmpty(); }));
    EXPECT_TRUE(portPanel->toolTip().isEmpty());
    form->close();
    EXPECT_NE(readFile(dir / "RS232Settings.ini").find("Port=" + pty.PortName() + "\r\n"), std::string::npos);
}

}  // namespace
}  // namespace kestrel
