#include "serial/ExceptionReport.h"

#include <cstdio>
#include <mutex>

namespace kestrel {

namespace {

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
    if (!error) return;
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
