// The exception report and the Qt mailbox of the serial component.

#include "GuiTestSupport.h"
#include "gui/QtMailbox.h"
#include "serial/HandlerExceptions.h"

#include <QTimer>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace kestrel {
namespace {

TEST(ExceptionReport, GuardedSkipsTheRestAndTheApplicationCatchesWhatEscapesAHandler) {
    test::MessageRecorder messages;
    bool after = false;
    Guarded([&] {
        throw std::runtime_error("Broken");
        after = true;
    });
    EXPECT_FALSE(after);

    QObject target;
    QTimer::singleShot(0, &target, [] { throw std::runtime_error("From a timer"); });
    ASSERT_TRUE(test::WaitUntil([&] { return messages.shown.size() == 2; }));
    EXPECT_EQ(messages.texts(), (std::vector<QString>{QStringLiteral("Broken."), QStringLiteral("From a timer.")}));

    ReportException(std::make_exception_ptr(std::runtime_error("From the port")));
    EXPECT_EQ(messages.texts().back(), QStringLiteral("From the port."));
}

TEST(QtMailbox, ReleasesTheEventThreadBeforeTheActionRunsOnTheMainThread) {
    test::MessageRecorder messages;
    TQtMailbox mailbox;
    std::atomic<bool> released{false};
    std::thread::id actionThread;
    bool sawRelease = false;
    std::thread sender([&] {
        mailbox.Send(
            [&] {
                actionThread = std::this_thread::get_id();
                // The sender is free by now: wait (bounded) for its mark.
                sawRelease = test::WaitUntil([&] { return released.load(); }, std::chrono::seconds(5));
                throw std::runtime_error("Action failed");
            },
            MainThreadMailbox::Release::PickedUp);
        released = true;
    });
    ASSERT_TRUE(test::WaitUntil([&] { return !messages.shown.empty(); }));
    sender.join();
    EXPECT_EQ(actionThread, std::this_thread::get_id());
    EXPECT_TRUE(sawRelease);
    EXPECT_EQ(messages.texts(), std::vector<QString>{QStringLiteral("Action failed.")});
}

}  // namespace
}  // namespace kestrel
