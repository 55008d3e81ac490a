#pragma once
// The application's report queue: every error a handler lets escape, and the
// plain message boxes, shown one at a time through the presenter the front
// end installs (gui/QtReport.h, win32/Win32Report.h); toolkit-free.
//
// Every entry from the event loop (port events, actions, timers, keys,
// buttons) ends in Guarded() or in the front end's last net, so no exception
// crosses the toolkit. The report never stacks: while a box is up, a repeat of
// its text is dropped and a different text waits until the box is dismissed
// (a log that cannot be written would otherwise open one nested box per
// received byte). Main thread only.

#include <exception>
#include <functional>
#include <string>
#include <string_view>

namespace kestrel {

enum class TMessageKind { Error, Information };

// The text as the report shows it: a full stop is appended when the last
// character sorts after "." (letters and digits do, ")" does not).
std::string FormatReportText(std::string_view what);

// Shows one box and returns when it is dismissed (it may run a nested loop).
// None installed: the text goes to standard error.
using TReportPresenter = std::function<void(TMessageKind kind, const std::string& text)>;
void SetReportPresenter(TReportPresenter presenter);

// Installs presenter as the application's report and routes there what the
// serial component's event dispatch catches; an empty one removes both.
void InstallApplicationReport(TReportPresenter presenter);

// Shows what in the error report (adds the full stop itself).
void ShowException(const std::string& what);
// The same for what the station has written down already (station/
// Notices.h): not written to standard error again (unless it never shows),
// and one raised while a box with the same text is up is a new occurrence,
// not a repeat of the failure: it shows again once that box is closed.
void ShowNotice(const std::string& what);
// The report for the exception being handled (call inside a catch block).
void ShowCurrentException();
// Where an error the report shows is written down besides the box: the
// station's notices (standard error and the station log); none: standard
// error alone. Notices are written down where they are raised.
void SetErrorNotices(std::function<void(const std::string& text)> say);
// A plain message box ("RS232 error. Check settings.").
void ShowMessage(const std::string& text);

// A close request (the window, a signal, the session's end) wins over every
// report: from here on no box opens, and what is up or still waiting is only
// written to standard error. The front end dismisses the box that is up.
void CloseReports();
// Writes the reports waiting behind the box that is up to standard error as
// never shown, and drops them: the program is shutting down and may end from
// inside that box's loop.
void DropWaitingReports();
// The session's end was called off: boxes may open again.
void ReopenReports();
bool ReportsClosed();
// Asked right before a box opens: true when a close request already waits in
// the toolkit's queue (it may have arrived while the previous box was up).
void SetPendingCloseProbe(std::function<bool()> probe);

// Runs f; an escaping exception goes to the report and f's remaining steps
// are skipped.
template <class F>
void Guarded(F&& f) noexcept {
    try {
        f();
    } catch (...) {
        ShowCurrentException();
    }
}

// Runs right before any box opens, so that what the window has queued is shown
// (a byte shown before an error stays shown while the box is up). The hook
// installed last is the one that runs, and only its owner removes it.
class TBeforeMessageHook {
public:
    explicit TBeforeMessageHook(std::function<void()> hook);
    ~TBeforeMessageHook();
    TBeforeMessageHook(const TBeforeMessageHook&) = delete;
    TBeforeMessageHook& operator=(const TBeforeMessageHook&) = delete;
};

}  // namespace kestrel
