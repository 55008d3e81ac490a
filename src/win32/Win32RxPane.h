#pragma once
// A receive pane on a multi-line EDIT control: takes received text in batches
// and keeps a bounded tail. Lines are counted as the control displays them
// (wrapped), from EM_GETLINECOUNT and EM_LINEINDEX.
//
// After each insertion the oldest displayed lines beyond a margin are cut.
// The control fills its lines greedily from their start, so cutting at a
// displayed line start moves no later wrap: at every trim the pane shows
// exactly the newest lines that byte-by-byte appends would show.

#include <windows.h>

#include <string_view>

namespace kestrel {

class TWin32RxPane {
public:
    static constexpr int kTrimLines = 20;
    static constexpr int kKeepLines = 2 * kTrimLines;

    TWin32RxPane() = default;
    explicit TWin32RxPane(HWND edit);
    HWND Handle() const { return edit_; }

    // Inserts text (Latin-1, '\n' line breaks) at the end and cuts old lines
    // beyond the margin.
    void appendText(std::string_view text);
    // Displayed lines; an empty last line does not count.
    int displayedLineCount() const;
    // Deletes first displayed lines until at most maxLines remain.
    void trimToLines(int maxLines);
    void clear();

private:
    HWND edit_ = nullptr;
};

}  // namespace kestrel
