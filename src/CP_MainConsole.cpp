// The TNC send pane and the test beacon generator of TForm1.

#include "CP_Main.h"

#include <QPlainTextEdit>
#include <QTimer>

namespace kestrel {

// ---- Test beacon generator -------------------------------------------------

void TForm1::aInitExecute(QObject* /*Sender*/) { generator_.Init(clock_.tickCount()); }

void TForm1::aFillBufferExecute(QObject* /*Sender*/) { generator_.FillBuffer(); }

void TForm1::aTestExecute(QObject* /*Sender*/) {
    aInitExecute(nullptr);
    aFillBufferExecute(nullptr);
    CPort.WriteText(generator_.TestFrame);
}

void TForm1::aM4Execute(QObject* /*Sender*/) {
    if (TimerX->isActive())
        TimerX->stop();
    else
        TimerX->start();
}

void TForm1::TimerXTimer(QObject* /*Sender*/) {
    // The stream is a background test signal: a closed or failing port must
    // not open a message box every 10 ms.
    try {
        aInitExecute(nullptr);
        const char b = static_cast<char>(generator_.RandomByte());
        CPort.WriteText(std::string(1, b));
    } catch (...) {
    }
}

// ---- TNC send pane ---------------------------------------------------------

void TForm1::MemoTXKeyPress(QObject* /*Sender*/, char& Key) { CPort.WriteText(std::string(1, Key)); }

void TForm1::aTNCSendExecute(QObject* /*Sender*/) {
    // The pane's lines go out separated by CR LF, as the TNC expects them.
    std::string text;
    const QByteArray plain = MemoTX->toPlainText().toLatin1();
    for (char c : plain) {
        if (c == '\n') text += '\r';
        text += c;
    }
    text += '\r';
    CPort.WriteText(text);
}

void TForm1::bClearTNCClick(QObject* /*Sender*/) { MemoTX->clear(); }

}  // namespace kestrel
