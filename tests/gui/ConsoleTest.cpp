// The TNC send pane and the test beacon generator, run offscreen with the
// port on a pseudo-terminal; what the TNC would receive is read from its end.

#include "CP_Main.h"
#include "trends/TrendWindow.h"
#include "support/ExpectedBeacon.h"
#include "GuiTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstring>

namespace kestrel {
namespace {

using test::WaitUntil;

const QString kStartUpError = QStringLiteral("RS232 error. Check settings.");

class ConsoleTest : public ::testing::Test {
protected:
    void start(bool portWorks = true, IClock* withClock = nullptr) {
        test::writeFile(dir / "RS232Settings.ini",
                        test::SettingsFor(portWorks ? pty.PortName() : std::string("/nonexistent/tty")));
        TForm1Seams seams;
        seams.clock = withClock ? withClock : &clock;
        form = std::make_unique<TForm1>(nullptr, seams);
        form->show();
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        form->MemoTX->setFocus();
    }

    // Everything the TNC received so far, once at least n bytes are there.
    const std::string& received(std::size_t n) {
        WaitUntil([&] {
            got += pty.Receive();
            return got.size() >= n;
        });
        return got;
    }

    // Ends with F9 on an empty pane: the lone CR then marks the end of what
    // went out before it, so nothing stray can hide behind a bounded wait.
    std::string receivedUpToMarker() {
        form->MemoTX->clear();
        QTest::keyClick(form->MemoTX, Qt::Key_F9);
        WaitUntil([&] {
            got += pty.Receive();
            return !got.empty() && got.back() == '\r';
        });
        EXPECT_FALSE(got.empty());
        return got.substr(0, got.size() - 1);
    }

    test::WorkingDir dir;
    test::MessageRecorder messages;
    test::Pty pty;
    test::FixedClock clock;
    std::unique_ptr<TForm1> form;
    std::string got;
};

TEST_F(ConsoleTest, TypedKeysGoOutAtOnceAndF9SendsThePaneWithACarriageReturn) {
    start();
    QTest::keyClick(form->MemoTX, 'A');
    QTest::keyClick(form->MemoTX, 'T');
    QTest::keyClick(form->MemoTX, Qt::Key_Return);
    EXPECT_EQ(received(3), "AT\r");
    EXPECT_EQ(form->MemoTX->toPlainText(), QStringLiteral("AT\n"));

    QTest::keyClick(form->MemoTX, Qt::Key_F9);
    EXPECT_EQ(received(8), "AT\rAT\r\n\r");
    QTest::keyClick(form->MemoTX, Qt::Key_F9);  // the pane keeps its text
    EXPECT_EQ(received(13), "AT\rAT\r\n\rAT\r\n\r");
    EXPECT_EQ(form->MemoTX->toPlainText(), QStringLiteral("AT\n"));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(ConsoleTest, ControlKeysAreSentAndThePaneStillEditsWithThem) {
    start();
    QTest::keyClick(form->MemoTX, 'x');
    QTest::keyClick(form->MemoTX, 'y');
    QTest::keyClick(form->MemoTX, Qt::Key_Backspace);
    QTest::keyClick(form->MemoTX, Qt::Key_Escape);
    // Ctrl+letter as a real keyboard delivers it: with its control character.
    QTest::sendKeyEvent(QTest::Click, form->MemoTX, Qt::Key_C, QStringLiteral("\x03"), Qt::ControlModifier);
    EXPECT_EQ(received(5), "xy\x08\x1b\x03");
    EXPECT_EQ(form->MemoTX->toPlainText(), QStringLiteral("x"));
    QTest::keyClick(form->MemoTX, Qt::Key_Home);
    QTest::keyClick(form->MemoTX, Qt::Key_Delete);  // types nothing: deletes forward, sends nothing
    EXPECT_TRUE(form->MemoTX->toPlainText().isEmpty());
    EXPECT_EQ(receivedUpToMarker(), "xy\x08\x1b\x03");
}

TEST_F(ConsoleTest, TabbingBackIntoThePaneKeepsItsTextAndPutsTheCaretAtTheEnd) {
    start();
    QTest::keyClicks(form->MemoTX, QStringLiteral("hello"));
    QTest::keyClick(form->MemoTX, Qt::Key_Home);
    QTest::keyClick(form->MemoTX, Qt::Key_Backtab, Qt::ShiftModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), form->MemoTX);
    QTest::keyClick(form->MemoTX, 'X');
    EXPECT_EQ(form->MemoTX->toPlainText(), QStringLiteral("helloX"));
}

// What only the window shows of the key rule: Tab is typed into the pane and
// keeps the focus there, Shift+Tab leaves, Ctrl+G goes to the TNC and opens
// nothing, and a character the line cannot carry is not shown.
TEST_F(ConsoleTest, TabAndCtrlGBelongToTheTncAndTheEuroSignIsNotShown) {
    start();
    QTest::keyClick(form->MemoTX, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form->MemoTX);
    QTest::sendKeyEvent(QTest::Click, form->MemoTX, Qt::Key_G, QStringLiteral("\x07"), Qt::ControlModifier);
    QTest::sendKeyEvent(QTest::Click, form->MemoTX, Qt::Key_unknown, QString(QChar(0x20AC)), Qt::NoModifier);
    EXPECT_EQ(received(2), "\t\x07");
    EXPECT_EQ(form->MemoTX->toPlainText(), QStringLiteral("\t"));
    EXPECT_FALSE(form->Trends()->isVisible());
    QTest::keyClick(form->MemoTX, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_NE(QApplication::focusWidget(), form->MemoTX);
    EXPECT_EQ(receivedUpToMarker(), "\t\x07");
}

TEST_F(ConsoleTest, PastedTextIsNotSentUntilF9) {
    start();
    QApplication::clipboard()->setText(QStringLiteral("hello\nworld"));
    form->MemoTX->paste();
    ASSERT_EQ(form->MemoTX->toPlainText(), QStringLiteral("hello\nworld"));
    QTest::keyClick(form->MemoTX, Qt::Key_F9);
    EXPECT_EQ(received(13), "hello\r\nworld\r");
}

TEST_F(ConsoleTest, ClearEmptiesThePaneAndSendsNothing) {
    start();
    form->MemoTX->setPlainText(QStringLiteral("ATZ"));
    QTest::mouseClick(form->bClearTNC, Qt::LeftButton);
    EXPECT_TRUE(form->MemoTX->toPlainText().isEmpty());
    EXPECT_EQ(receivedUpToMarker(), "");
}

TEST_F(ConsoleTest, ShortcutsRunTheirActionsAndAreNeitherSentNorInserted) {
    clock.ticks = 1500;
    start();
    QTest::keyClick(form->MemoTX, Qt::Key_T, Qt::ControlModifier);
    EXPECT_EQ(received(131), expected::firstBeacon(1500)) << "FlightTime 2 at 1500 ms";
    QTest::keyClick(form->MemoTX, Qt::Key_M, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_TRUE(form->TimerX->isActive());
    QTest::keyClick(form->MemoTX, Qt::Key_M, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_FALSE(form->TimerX->isActive());
    EXPECT_TRUE(form->MemoTX->toPlainText().isEmpty());
    // No Ctrl+T character (20), no Ctrl+Alt+M character: only the beacon.
    EXPECT_EQ(receivedUpToMarker(), expected::firstBeacon(1500));
}

TEST_F(ConsoleTest, WithThePortClosedATypedKeyShowsTheErrorAndIsNotInserted) {
    start(false);
    ASSERT_EQ(messages.texts(), std::vector<QString>{kStartUpError});
    QTest::keyClick(form->MemoTX, 'A');
    EXPECT_TRUE(form->MemoTX->toPlainText().isEmpty());
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[1].kind, TMessageKind::Error);
    EXPECT_FALSE(messages.shown[1].text.isEmpty());

    // F9 and Ctrl+T report the same way.
    QTest::keyClick(form->MemoTX, Qt::Key_F9);
    QTest::keyClick(form->MemoTX, Qt::Key_T, Qt::ControlModifier);
    ASSERT_EQ(messages.shown.size(), 4u);
    EXPECT_EQ(messages.shown[2].text, messages.shown[1].text);
    EXPECT_EQ(messages.shown[3].text, messages.shown[1].text);
}

}  // namespace
}  // namespace kestrel
