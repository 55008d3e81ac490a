#pragma once
// The main-thread mailbox of the serial component on Qt: Wake() posts an event
// to an object living on the main thread; its handler runs the queued
// deliveries. The event thread is released when the main thread picks the
// delivery up (the base class does the hand-shake).

#include "serial/MainThreadMailbox.h"

#include <QObject>

namespace kestrel {

class TQtMailbox : public QObject, public MainThreadMailbox {
public:
    // Must be created on the main thread.
    explicit TQtMailbox(QObject* parent = nullptr);
    ~TQtMailbox() override;

protected:
    void Wake() override;
    bool event(QEvent* e) override;

private:
    static int eventType();
};

}  // namespace kestrel
