#pragma once
// The Qt presenter of the application's report: its boxes are QMessageBox with
// the application's title (the queue is station/Report.h), and a test hook in
// their place.

#include "station/Report.h"

#include <QString>

#include <functional>
#include <string>

namespace kestrel {

// The report's text as a QString (Latin-1), full stop included.
QString ReportText(const std::string& what);

// Installs the boxes as the application's report; an empty call removes them.
void InstallQtReport();
void RemoveQtReport();

// Test hook: replaces the message boxes. The presenter runs where the box would
// run its modal loop; an empty function restores the real boxes.
using TMessagePresenter = std::function<void(TMessageKind, const QString& title, const QString& text)>;
void SetMessagePresenter(TMessagePresenter presenter);

}  // namespace kestrel
