// The TNC send pane and the test beacon generator of TForm1: one line each
// into the engine.

#include "CP_Main.h"

#include <QPlainTextEdit>

namespace kestrel {

// ---- Test beacon generator -------------------------------------------------

void TForm1::aInitExecute(QObject* /*Sender*/) { station_.aInitExecute(); }

void TForm1::aFillBufferExecute(QObject* /*Sender*/) { station_.aFillBufferExecute(); }

void TForm1::aTestExecute(QObject* /*Sender*/) { station_.aTestExecute(); }

void TForm1::aM4Execute(QObject* /*Sender*/) { station_.aM4Execute(); }

void TForm1::TimerXTimer(QObject* /*Sender*/) { station_.TimerXTimer(); }

// ---- TNC send pane ---------------------------------------------------------

void TForm1::MemoTXKeyPress(QObject* /*Sender*/, char& Key) { station_.MemoTXKeyPress(Key); }

void TForm1::aTNCSendExecute(QObject* /*Sender*/) {
    station_.aTNCSendExecute(MemoTX->toPlainText().toLatin1().toStdString());
}

void TForm1::bClearTNCClick(QObject* /*Sender*/) { MemoTX->clear(); }

}  // namespace kestrel
