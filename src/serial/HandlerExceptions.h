#pragma once
// The port handlers' catcher: what a port event handler (OnRxChar, ...)
// throws is caught by the component's event dispatch and handed here, to the
// one handler the application installs (station/Report.h routes it into the
// application's report), never to the event thread.

#include <exception>
#include <functional>

namespace kestrel {

using ExceptionReportHandler = std::function<void(std::exception_ptr)>;

// Replaces the handler; an empty function restores the default (the text on
// standard error). Safe to call from any thread.
void SetExceptionReportHandler(ExceptionReportHandler handler);

// Hands an exception to the installed handler. Never throws: a handler that
// fails itself is ignored. The handler runs on the main thread (the one that
// started the program): a report from another thread, such as the event
// thread of a port with SyncMethod smNone, is posted to the application's
// mailbox and returns at once, or goes to standard error when there is none,
// so that a message box never opens off the main thread.
void ReportException(std::exception_ptr error) noexcept;

// Convenience for catch blocks: ReportException(std::current_exception()).
void ReportCurrentException() noexcept;

}  // namespace kestrel
