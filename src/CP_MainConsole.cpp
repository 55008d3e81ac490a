// The TNC send pane and the test beacon generator of TForm1.

#include "CP_Main.h"

namespace kestrel {

void TForm1::aInitExecute(QObject* /*Sender*/) {}

void TForm1::aFillBufferExecute(QObject* /*Sender*/) {}

void TForm1::aTestExecute(QObject* /*Sender*/) {}

void TForm1::aM4Execute(QObject* /*Sender*/) {}

void TForm1::TimerXTimer(QObject* /*Sender*/) {}

void TForm1::aTNCSendExecute(QObject* /*Sender*/) {}

void TForm1::bClearTNCClick(QObject* /*Sender*/) {}

void TForm1::MemoTXKeyPress(QObject* /*Sender*/, char& /*Key*/) {}

}  // namespace kestrel
