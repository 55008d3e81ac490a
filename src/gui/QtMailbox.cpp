// The serial component's main-thread mailbox on Qt: a posted event wakes the
// main thread to run the queued deliveries (see QtMailbox.h).

#include "gui/QtMailbox.h"

#include "station/Report.h"

#include <QCoreApplication>
#include <QEvent>

namespace kestrel {

TQtMailbox::TQtMailbox(QObject* parent) : QObject(parent) {}

TQtMailbox::~TQtMailbox() {
    if (ApplicationMailbox() == this)
        SetApplicationMailbox(nullptr);
}

int TQtMailbox::eventType() {
    static const int type = QEvent::registerEventType();
    return type;
}

void TQtMailbox::Wake() {
    // postEvent is safe from any thread; the event is handled on this object's
    // (the main) thread.
    QCoreApplication::postEvent(this, new QEvent(QEvent::Type(eventType())));
}

bool TQtMailbox::event(QEvent* e) {
    if (e->type() != eventType())
        return QObject::event(e);
    // Actions report their own errors; this is only the last net.
    Guarded([this] { ServicePending(); });
    return true;
}

}  // namespace kestrel
