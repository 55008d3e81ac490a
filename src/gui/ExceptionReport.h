#pragma once
// The Qt face of the application-wide report (station/Report.h): the message
// boxes, the application object whose notify() is the last net for exceptions
// thrown from any event handler, and a test hook in place of the boxes.

#include "station/Report.h"

#include <QApplication>
#include <QString>

#include <functional>
#include <string>

namespace kestrel {

// The report's text as a QString (Latin-1), full stop included.
QString ReportText(const std::string& what);

// Test hook: replaces the message boxes. The presenter runs where the box would
// run its modal loop; an empty function restores the real boxes.
using TMessagePresenter = std::function<void(TMessageKind, const QString& title, const QString& text)>;
void SetMessagePresenter(TMessagePresenter presenter);

// The application object; it installs the boxes as the report's presenter and
// routes what the port's event dispatch catches to the report.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace kestrel
