#pragma once
// Shared pieces of the window tests: recorded message boxes, the setup dialog
// driven by the test, a bounded wait that runs the event loop; and the support
// library's working directory, pseudo-terminal and settings file.

#include "gui/QtReport.h"
#include "gui/CPortSetup.h"
#include "support/Eventually.h"
#include "support/Files.h"
#include "support/Fixtures.h"
#include "support/Pty.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace kestrel::test {

struct ShownMessage {
    TMessageKind kind;
    QString title;
    QString text;
};

// Records message boxes instead of showing them; onShow runs while the
// "box is up".
class MessageRecorder {
public:
    MessageRecorder() {
        ReopenReports();  // an earlier test's close request must not silence this one
        SetMessagePresenter([this](TMessageKind kind, const QString& title, const QString& text) {
            shown.push_back({kind, title, text});
            if (onShow)
                onShow(shown.back());
        });
    }
    ~MessageRecorder() { SetMessagePresenter(nullptr); }
    std::vector<QString> texts() const {
        std::vector<QString> t;
        for (const auto& m : shown)
            t.push_back(m.text);
        return t;
    }
    std::vector<ShownMessage> shown;
    std::function<void(const ShownMessage&)> onShow;
};

// eventually() with the event loop running meanwhile.
inline bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit = 10s) {
    return eventually(pred, limit, [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 20); });
}

// Runs the setup dialog through a test function instead of its modal loop.
class DialogDriver {
public:
    explicit DialogDriver(TSetupDialogDriver driver) { SetSetupDialogDriver(std::move(driver)); }
    ~DialogDriver() { SetSetupDialogDriver(nullptr); }
};

}  // namespace kestrel::test
