#pragma once
// A receive pane on Win32: a window class of its own that draws the rows in
// view of its RxPaneModel with ExtTextOutW in the pane's fixed-pitch font,
// shows the system caret while it has the focus, and maps the keyboard and the
// mouse to the model: typing, Backspace and Delete, the cursor keys (with
// Shift to select), cut, copy and paste (keys or the context menu). What the
// pane holds, how it wraps and what the trim cuts is the model's; no text is
// laid out, and an update costs one invalidation and, when the line count
// moved, one scroll-bar change. To assistive technology it answers as a
// multi-line edit control: its text, selection and displayed lines.

#include "station/RxPaneKeys.h"
#include "station/RxPaneModel.h"

#include <windows.h>

#include <string_view>

namespace kestrel {

class TWin32RxPane {
public:
    static constexpr const wchar_t* kClassName = L"KestrelRxPane";
    static void Register(HINSTANCE instance);

    TWin32RxPane() = default;
    TWin32RxPane(const TWin32RxPane&) = delete;
    TWin32RxPane& operator=(const TWin32RxPane&) = delete;
    // Takes over a window of kClassName, drawing in font.
    void Attach(HWND window, HFONT font);
    HWND Handle() const { return window_; }

    // Text (Latin-1, '\n' line breaks) added at the end.
    void appendText(std::string_view text);
    // Deletes first displayed lines until at most maxLines remain.
    void trimToLines(int maxLines);
    void clear();
    const RxPaneModel& model() const { return model_; }
    void copy() const;
    void cut();
    void paste();

private:
    LRESULT message(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT accessibility(UINT message, WPARAM wParam, LPARAM lParam);
    std::size_t editOffset(RxPaneModel::Pos pos) const;
    RxPaneModel::Pos modelPos(std::size_t offset) const;
    bool keyDown(WPARAM key);
    void typed(wchar_t character);
    bool edited(PaneEditResult result);
    void contextMenu(LPARAM point);
    void fitToClient();
    void showChanges(bool scrollBar = true);
    void syncScrollBar();
    void placeCaret();
    void paint();
    void paintOn(HDC dc, const RECT& area);
    void scrollBar(int request);

    HWND window_ = nullptr;
    HFONT font_ = nullptr;
    RxPaneModel model_;
    int cellWidth_ = 8, lineHeight_ = 16, textLeft_ = 2;
    // What the scroll bar shows, so that it is only told of a change.
    int shownMax_ = -1, shownPage_ = -1, shownPos_ = -1;
    bool caretMade_ = false, caretShown_ = false;
};

}  // namespace kestrel
