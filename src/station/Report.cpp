// The application's report queue: one box at a time, repeats dropped (see
// Report.h).

#include "station/Report.h"

#include "serial/HandlerExceptions.h"

#include <cstdio>
#include <deque>
#include <stdexcept>

namespace kestrel {
namespace {

TReportPresenter gPresenter;
const TBeforeMessageHook* gHookOwner = nullptr;
std::function<void()> gHook;

struct Entry {
    std::string text;
    bool said = false;  // written to standard error already
};

struct ReportState {
    bool showing = false;
    std::string current;
    std::deque<Entry> waiting;  // different texts (and notices) raised while a box was up
};
ReportState gReport;
bool gClosed = false;
constexpr std::size_t kMaxWaiting = 8;

std::function<bool()> gPendingCloseProbe;
std::function<void(const std::string&)> gErrorNotices;

// An error not written down yet: to the station's notices, or standard error.
void Say(const std::string& text) {
    if (gErrorNotices)
        gErrorNotices(text);
    else
        std::fprintf(stderr, "kestrel-decoder: %s\n", text.c_str());
}

void Present(TMessageKind kind, const std::string& text, bool said = false) {
    if (!gClosed && gPendingCloseProbe && gPendingCloseProbe())
        gClosed = true;
    // Errors are written to standard error as well: a box may be closed
    // unread, and on a close request it does not open at all.
    if (gClosed) {
        if (kind == TMessageKind::Error && !said)
            Say("(closing, not shown) " + text);
        else
            std::fprintf(stderr, "kestrel-decoder: (closing, not shown) %s\n", text.c_str());
        return;
    }
    if (kind == TMessageKind::Error && !said)
        Say(text);
    if (gHook)
        gHook();
    if (gPresenter)
        gPresenter(kind, text);
    else if (kind != TMessageKind::Error)
        std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace

TBeforeMessageHook::TBeforeMessageHook(std::function<void()> hook) {
    gHookOwner = this;
    gHook = std::move(hook);
}

TBeforeMessageHook::~TBeforeMessageHook() {
    if (gHookOwner != this)
        return;
    gHookOwner = nullptr;
    gHook = nullptr;
}

std::string FormatReportText(std::string_view what) {
    std::string text(what);
    if (!what.empty() && static_cast<unsigned char>(what.back()) > static_cast<unsigned char>('.'))
        text += '.';
    return text;
}

void SetReportPresenter(TReportPresenter presenter) { gPresenter = std::move(presenter); }

void InstallApplicationReport(TReportPresenter presenter) {
    if (!presenter) {
        SetExceptionReportHandler(nullptr);
        SetReportPresenter(nullptr);
        return;
    }
    SetReportPresenter(std::move(presenter));
    SetExceptionReportHandler([](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (...) {
            ShowCurrentException();
        }
    });
}

namespace {

void ShowError(const std::string& what, bool notice) {
    std::string text = FormatReportText(what);
    if (gReport.showing) {
        if (text == gReport.current && !notice)
            return;
        for (const Entry& w : gReport.waiting)
            if (w.text == text)
                return;
        if (gReport.waiting.size() < kMaxWaiting)
            gReport.waiting.push_back({std::move(text), notice});
        return;
    }
    gReport.showing = true;
    gReport.current = text;
    try {
        Present(TMessageKind::Error, text, notice);
        while (!gReport.waiting.empty() && !gClosed) {
            const Entry next = gReport.waiting.front();
            gReport.waiting.pop_front();
            gReport.current = next.text;
            Present(TMessageKind::Error, next.text, next.said);
        }
    } catch (...) {
        // A failing box must not leave the report blocked for good.
    }
    DropWaitingReports();
    gReport.showing = false;
    gReport.current.clear();
}

}  // namespace

void ShowException(const std::string& what) { ShowError(what, false); }

void ShowNotice(const std::string& what) { ShowError(what, true); }

void SetErrorNotices(std::function<void(const std::string& text)> say) { gErrorNotices = std::move(say); }

void CloseReports() { gClosed = true; }
void DropWaitingReports() {
    for (const Entry& unshown : gReport.waiting) {
        if (unshown.said)
            std::fprintf(stderr, "kestrel-decoder: (closing, not shown) %s\n", unshown.text.c_str());
        else
            Say("(closing, not shown) " + unshown.text);
    }
    gReport.waiting.clear();
}
void ReopenReports() { gClosed = false; }
bool ReportsClosed() { return gClosed; }
void SetPendingCloseProbe(std::function<bool()> probe) { gPendingCloseProbe = std::move(probe); }

void ShowCurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException("Unknown error");
    }
}

void ShowMessage(const std::string& text) {
    try {
        Present(TMessageKind::Information, text);
    } catch (...) {
    }
}

}  // namespace kestrel
