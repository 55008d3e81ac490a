#include "gui/ExceptionReport.h"

#include <QMessageBox>

namespace kestrel {
namespace {

TMessagePresenter gPresenter;

QString Latin1(const std::string& s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }

void PresentBox(TMessageKind kind, const std::string& text) {
    const QString title = QCoreApplication::applicationName();
    if (gPresenter) {
        gPresenter(kind, title, Latin1(text));
        return;
    }
    QMessageBox box(kind == TMessageKind::Error ? QMessageBox::Critical : QMessageBox::Information, title,
                    Latin1(text), QMessageBox::Ok);
    box.exec();
}

}  // namespace

QString ReportText(const std::string& what) { return Latin1(FormatReportText(what)); }

void SetMessagePresenter(TMessagePresenter presenter) { gPresenter = std::move(presenter); }

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) { InstallApplicationReport(PresentBox); }

TApplication::~TApplication() { InstallApplicationReport(nullptr); }

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCurrentException();
        return true;
    }
}

}  // namespace kestrel
