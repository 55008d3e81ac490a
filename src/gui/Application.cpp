// The Qt application object and its last net for exceptions (see
// Application.h).

#include "gui/Application.h"

#include "gui/QtReport.h"

namespace kestrel {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) { InstallQtReport(); }

TApplication::~TApplication() { RemoveQtReport(); }

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCurrentException();
        return true;
    }
}

}  // namespace kestrel
