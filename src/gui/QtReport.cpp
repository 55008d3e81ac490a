// The Qt presenter of the application's report (see QtReport.h).

#include "gui/QtReport.h"

#include "gui/Latin1.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace kestrel {
namespace {

TMessagePresenter gPresenter;

void PresentBox(TMessageKind kind, const std::string& text) {
    const QString title = QCoreApplication::applicationName();
    if (gPresenter) {
        gPresenter(kind, title, Latin1(text));
        return;
    }
    QMessageBox box(kind == TMessageKind::Error ? QMessageBox::Critical : QMessageBox::Information, title, Latin1(text),
                    QMessageBox::Ok);
    box.exec();
}

}  // namespace

QString ReportText(const std::string& what) { return Latin1(FormatReportText(what)); }

void InstallQtReport() { InstallApplicationReport(PresentBox); }

void RemoveQtReport() { InstallApplicationReport(nullptr); }

void SetMessagePresenter(TMessagePresenter presenter) { gPresenter = std::move(presenter); }

}  // namespace kestrel
