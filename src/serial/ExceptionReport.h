#pragma once
// The application's one exception report. Whatever escapes a handler that the
// event loop (or the port's event delivery) runs ends up here; the window layer
// installs a handler that shows the text in a message box.

#include <exception>
#include <functional>

namespace kestrel {

using ExceptionReportHandler = std::function<void(std::exception_ptr)>;

// Replaces the handler; an empty function restores the default (the text on
// standard error). Safe to call from any thread.
void SetExceptionReportHandler(ExceptionReportHandler handler);

// Hands an exception to the installed handler. Never throws: a handler that
// fails itself is ignored. Runs the handler on the calling thread: the main
// thread, except for a port with SyncMethod smNone, whose event thread
// reports its handlers' failures itself.
void ReportException(std::exception_ptr error) noexcept;

// Convenience for catch blocks: ReportException(std::current_exception()).
void ReportCurrentException() noexcept;

}  // namespace kestrel
