#include "gui/ExceptionReport.h"

#include "serial/ExceptionReport.h"

#include <QMessageBox>

#include <deque>
#include <stdexcept>

namespace kestrel {
namespace {

TMessagePresenter gPresenter;
std::function<void()> gBeforeMessage;

struct ReportState {
    bool showing = false;
    QString current;
    std::deque<QString> waiting;  // different texts raised while a box was up
};
ReportState gReport;
constexpr std::size_t kMaxWaiting = 8;

QString Title() { return QCoreApplication::applicationName(); }

void Present(TMessageKind kind, const QString& text) {
    if (gBeforeMessage)
        gBeforeMessage();
    if (gPresenter) {
        gPresenter(kind, Title(), text);
        return;
    }
    QMessageBox box(kind == TMessageKind::Error ? QMessageBox::Critical : QMessageBox::Information,
                    Title(), text, QMessageBox::Ok);
    box.exec();
}

}  // namespace

QString ReportText(const std::string& what) {
    QString text = QString::fromLatin1(what.data(), qsizetype(what.size()));
    if (!what.empty() && static_cast<unsigned char>(what.back()) > static_cast<unsigned char>('.'))
        text += QChar('.');
    return text;
}

void ShowException(const std::string& what) {
    const QString text = ReportText(what);
    if (gReport.showing) {
        if (text == gReport.current)
            return;
        for (const QString& w : gReport.waiting)
            if (w == text)
                return;
        if (gReport.waiting.size() < kMaxWaiting)
            gReport.waiting.push_back(text);
        return;
    }
    gReport.showing = true;
    gReport.current = text;
    try {
        Present(TMessageKind::Error, text);
        while (!gReport.waiting.empty()) {
            gReport.current = gReport.waiting.front();
            gReport.waiting.pop_front();
            Present(TMessageKind::Error, gReport.current);
        }
    } catch (...) {
        // A failing box must not leave the report blocked for good.
    }
    gReport.showing = false;
    gReport.current.clear();
    gReport.waiting.clear();
}

void ShowCurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException("Unknown error");
    }
}

void ShowMessage(const QString& text) {
    try {
        Present(TMessageKind::Information, text);
    } catch (...) {
    }
}

void SetMessagePresenter(TMessagePresenter presenter) { gPresenter = std::move(presenter); }
void SetBeforeMessageHook(std::function<void()> hook) { gBeforeMessage = std::move(hook); }

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // What the port's event dispatch catches comes here too.
    SetExceptionReportHandler([](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (...) {
            ShowCurrentException();
        }
    });
}

TApplication::~TApplication() { SetExceptionReportHandler(nullptr); }

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCurrentException();
        return true;
    }
}

}  // namespace kestrel
