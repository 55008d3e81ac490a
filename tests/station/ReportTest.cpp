// The application-wide report: its text, that it never stacks, and the hook
// that runs before every box.

#include "station/Report.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace kestrel {
namespace {

struct Boxes {
    Boxes() {
        SetReportPresenter([this](TMessageKind kind, const std::string& text) {
            shown.push_back(text);
            kinds.push_back(kind);
            if (onShow)
                onShow();
        });
    }
    ~Boxes() { SetReportPresenter(nullptr); }
    std::vector<std::string> shown;
    std::vector<TMessageKind> kinds;
    std::function<void()> onShow;
};

TEST(Report, AppendsAFullStopAfterLettersAndDigitsOnly) {
    EXPECT_EQ(FormatReportText("Disk full"), "Disk full.");
    EXPECT_EQ(FormatReportText("I/O error 103"), "I/O error 103.");
    EXPECT_EQ(FormatReportText("(win error code: 2)"), "(win error code: 2)");
    EXPECT_EQ(FormatReportText("Stop!"), "Stop!");
    EXPECT_EQ(FormatReportText("caf\xE9"), "caf\xE9.");
    EXPECT_EQ(FormatReportText(""), "");
}

TEST(Report, NeverStacksAndShowsADifferentErrorAfterTheFirst) {
    Boxes boxes;
    int depth = 0, deepest = 0;
    boxes.onShow = [&] {
        deepest = std::max(deepest, ++depth);
        if (boxes.shown.size() == 1)
            for (const char* t : {"First", "Second", "First", "Second"})
                ShowException(t);
        --depth;
    };
    ShowException("First");
    EXPECT_EQ(boxes.shown, (std::vector<std::string>{"First.", "Second."}));
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(boxes.kinds[0], TMessageKind::Error);
    ShowException("First");
    EXPECT_EQ(boxes.shown.size(), 3u) << "once dismissed, the same error shows again";

    Guarded([] { throw std::runtime_error("Broken"); });
    ShowMessage("Plain");
    EXPECT_EQ(boxes.shown.back(), "Plain");
    EXPECT_EQ(boxes.kinds.back(), TMessageKind::Information);
    EXPECT_EQ(boxes.shown[3], "Broken.");
}

// A notice (written down already) raised again while its own box is up is a
// new occurrence: it shows once more after that box, once.
TEST(Report, ANoticeRaisedAgainWhileItsBoxIsUpShowsOnceMoreAfterIt) {
    Boxes boxes;
    boxes.onShow = [&] {
        if (boxes.shown.size() == 1)
            for (int i = 0; i < 3; ++i)
                ShowNotice("Port COM7 lost");
    };
    ShowNotice("Port COM7 lost");
    EXPECT_EQ(boxes.shown, (std::vector<std::string>{"Port COM7 lost.", "Port COM7 lost."}));
}

TEST(Report, ACloseRequestWinsOverTheBoxUpAndEveryReportBehindIt) {
    Boxes boxes;
    std::string dropped;
    boxes.onShow = [&] {
        ShowException("Waiting");
        CloseReports();  // the close arrives while the first box is up
        // Shut-down (the Windows program ends from inside the box's loop).
        testing::internal::CaptureStderr();
        DropWaitingReports();
        dropped = testing::internal::GetCapturedStderr();
    };
    ShowException("Up");
    ShowException("Later");
    ShowMessage("Plain");
    ReopenReports();
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"Up."});
    EXPECT_EQ(dropped, "kestrel-decoder: (closing, not shown) Waiting.\n") << "written down, once";
}

TEST(Report, OnlyTheOwnerOfTheBeforeMessageHookRemovesIt) {
    Boxes boxes;
    int first = 0, second = 0;
    auto hook = std::make_unique<TBeforeMessageHook>([&] { ++first; });
    {
        TBeforeMessageHook later([&] { ++second; });
        hook.reset();  // no longer the owner: leaves the later hook in place
        ShowMessage("x");
    }
    ShowMessage("y");
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
}

}  // namespace
}  // namespace kestrel
