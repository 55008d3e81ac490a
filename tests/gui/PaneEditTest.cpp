// The receive panes in the window, run offscreen against a pseudo-terminal:
// the operator types into each while bytes arrive, and a copy of a pane at
// 400 lines a second holds every line since the last trim.

#include "CP_Main.h"
#include "GuiTestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <thread>

namespace kestrel {
namespace {

using test::WaitUntil;

class PaneEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::writeFile(dir / "RS232Settings.ini", test::SettingsFor(pty.PortName()));
        form = std::make_unique<TForm1>();
        form->show();
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        form->Timer1->stop();  // the test ticks
    }
    // Bytes from the TNC, once the pane shows them.
    void receive(TRxPane* pane, const std::string& bytes, const QString& shownAs) {
        pty.Send(bytes);
        ASSERT_TRUE(WaitUntil([&] { return pane->toPlainText().endsWith(shownAs); })) << bytes;
    }

    test::WorkingDir dir;
    test::MessageRecorder messages;
    test::Pty pty;
    std::unique_ptr<TForm1> form;
};

TEST_F(PaneEditTest, TypedTextStaysWhereTypedReceivedBytesGoToTheEndAndTheTrimTakesBoth) {
    for (TRxPane* pane : {form->MemoRX, form->MEMORXHEX}) {
        const bool hex = pane == form->MEMORXHEX;
        const auto shown = [hex](const std::string& line) {
            QString s;
            for (char c : line + "\r")
                s += hex ? QString::asprintf("%02X ", static_cast<unsigned char>(c))
                         : QString(QChar(c == '\r' ? '\n' : c));
            return s;
        };
        form->bClear->click();
        receive(pane, "L01\r", shown("L01"));
        QTest::mouseClick(pane->viewport(), Qt::LeftButton, {}, QPoint(1, 1));  // before "L01"
        QTest::keyClick(pane, Qt::Key_End);
        for (char c : std::string(" hellp")) {  // a key, then bytes
            QTest::keyClick(pane, c);
            receive(pane, std::string("L0") + c + "\r", shown(std::string("L0") + c));
        }
        QTest::keyClick(pane, Qt::Key_Backspace);
        QTest::keyClick(pane, 'o');
        QTest::keyClick(pane, Qt::Key_Left, Qt::ShiftModifier);
        QTest::keyClick(pane, Qt::Key_Left, Qt::ShiftModifier);
        QTest::keyClick(pane, Qt::Key_Delete);
        QTest::keyClick(pane, Qt::Key_Return);
        QString expected = hex ? "4C 30 31 0D  hel\n" : "L01 hel\n\n";
        for (char c : std::string(" hellp"))
            expected += shown(std::string("L0") + c);
        EXPECT_EQ(pane->toPlainText(), expected);

        std::string more;
        for (int i = 10; i < 80; ++i)
            more += "L" + std::to_string(i) + "\r";
        receive(pane, more, shown("L79"));
        form->Timer1Timer(form->Timer1);
        EXPECT_EQ(pane->displayedLineCount(), 20);
        EXPECT_FALSE(pane->toPlainText().contains("hel")) << "the typed line went with the oldest";
        EXPECT_TRUE(pane->toPlainText().endsWith(shown("L79")));
    }
    EXPECT_EQ(pty.Receive(), "") << "nothing typed goes to the line";
    EXPECT_TRUE(messages.shown.empty());
}

// A writer sends "S00000" lines at 400 a second; the test copies the text pane
// (Ctrl+A, Ctrl+C) every 200 ms while the window ticks as it does.
TEST_F(PaneEditTest, CopyAtFourHundredLinesASecondHoldsEveryLineSinceTheTrim) {
    form->Timer1->start();
    std::atomic<bool> stop = false;
    std::thread writer([&] {
        // Paced by the clock, not by the sleeps: on a busy machine a sleep
        // overshoots, and the line would run slower than 400 lines a second.
        const auto start = std::chrono::steady_clock::now();
        char line[16];
        for (int n = 0; !stop;) {
            const auto due =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                    .count() *
                400 / 1000;
            std::string burst;
            for (; n < due; ++n) {
                std::snprintf(line, sizeof line, "S%05d\r", n);
                burst += line;
            }
            if (!burst.empty())
                pty.Send(burst);
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    });
    form->MemoRX->setFocus();
    // Copies from the first line on: before it, an empty pane is right.
    ASSERT_TRUE(WaitUntil([&] { return form->MemoRX->toPlainText().contains(QLatin1String("S0")); }));
    std::vector<QStringList> copies;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3200) {
        QTest::qWait(200);
        QTest::keyClick(form->MemoRX, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(form->MemoRX, Qt::Key_C, Qt::ControlModifier);
        QStringList lines = QApplication::clipboard()->text().split('\n');
        lines.removeAll(QStringLiteral("TNC RX"));
        if (!lines.isEmpty() && lines.back().size() < 6)
            lines.removeLast();  // a line still coming in
        copies.push_back(lines);
    }
    stop = true;
    writer.join();

    qsizetype fullest = 0;
    for (std::size_t i = 0; i < copies.size(); ++i) {
        const QStringList& lines = copies[i];
        ASSERT_FALSE(lines.isEmpty());
        for (qsizetype k = 1; k < lines.size(); ++k)
            ASSERT_EQ(lines[k].mid(1).toInt(), lines[k - 1].mid(1).toInt() + 1) << "copy " << i << " line " << k;
        if (i > 0 && lines.front() == copies[i - 1].front()) {  // no trim between: nothing went
            EXPECT_GE(lines.size(), copies[i - 1].size());
        }
        fullest = std::max(fullest, lines.size());
    }
    EXPECT_GT(fullest, 200) << "a second's lines, not a tail of them";
}

}  // namespace
}  // namespace kestrel
