// Hands what a port event handler threw to the installed handler, on the main
// thread (see HandlerExceptions.h).

#include "serial/HandlerExceptions.h"

#include <cstdio>
#include <mutex>
#include <thread>

#include "serial/MainThreadMailbox.h"

namespace kestrel {

namespace {

// Static initialisation runs on the thread that starts the program.
const std::thread::id gMainThread = std::this_thread::get_id();

std::mutex& handlerMutex() {
    static std::mutex m;
    return m;
}

ExceptionReportHandler& handlerSlot() {
    static ExceptionReportHandler h;
    return h;
}

void reportToStderr(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "unknown exception\n");
    }
}

}  // namespace

void SetExceptionReportHandler(ExceptionReportHandler handler) {
    std::lock_guard lock(handlerMutex());
    handlerSlot() = std::move(handler);
}

void ReportException(std::exception_ptr error) noexcept {
    if (!error)
        return;
    if (std::this_thread::get_id() != gMainThread) {
        try {
            if (MainThreadMailbox* mailbox = ApplicationMailbox()) {
                mailbox->Post([error] { ReportException(error); });
                return;
            }
        } catch (...) {
            // No room to post it: standard error still takes it.
        }
        reportToStderr(error);
        return;
    }
    ExceptionReportHandler handler;
    {
        std::lock_guard lock(handlerMutex());
        handler = handlerSlot();
    }
    try {
        if (handler)
            handler(error);
        else
            reportToStderr(error);
    } catch (...) {
        // The report is the last stop; nothing may escape it.
    }
}

void ReportCurrentException() noexcept { ReportException(std::current_exception()); }

}  // namespace kestrel
