#pragma once
// The application-wide exception report and the plain message box.
//
// Every entry from the event loop (port events, actions, timers, keys, buttons)
// ends in Guarded() or in TApplication::notify(), so no exception crosses Qt.
// The report is a modal box with an error icon, titled with the application's
// title. It never stacks: while one is on screen, a repeat of its text is
// dropped and a different text waits until the box is dismissed (a log that
// cannot be written would otherwise open one nested box per received byte).

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>
#include <string>

namespace kestrel {

// The text as the report shows it: a full stop is appended when the last
// character sorts after "." (letters and digits do, ")" does not).
QString ReportText(const std::string& what);

enum class TMessageKind { Error, Information };

// Shows text in the report (adds the full stop itself).
void ShowException(const std::string& what);
// The report for the exception being handled (call inside a catch block).
void ShowCurrentException();
// A plain message box ("RS232 error. Check settings.").
void ShowMessage(const QString& text);

// Runs f; an escaping exception goes to the report and f's remaining steps are
// skipped.
template <class F>
void Guarded(F&& f) noexcept {
    try {
        f();
    } catch (...) {
        ShowCurrentException();
    }
}

// Test hook: replaces the message boxes. The presenter runs where the box would
// run its modal loop; an empty function restores the real boxes.
using TMessagePresenter = std::function<void(TMessageKind, const QString& title, const QString& text)>;
void SetMessagePresenter(TMessagePresenter presenter);

// Called right before a box opens, so the window can show what it has queued
// (a byte shown before an error stays shown while the box is up).
void SetBeforeMessageHook(std::function<void()> hook);

// The application object: its notify() is the last net for exceptions thrown
// from any event handler.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace kestrel
