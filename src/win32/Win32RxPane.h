#pragma once
// A receive pane on a multi-line EDIT control: takes received text in batches
// and keeps a bounded tail. Lines are counted as the control displays them
// (wrapped), from EM_GETLINECOUNT and EM_LINEINDEX.
//
// After each insertion the oldest displayed lines beyond a margin are cut.
// The control fills its lines greedily from their start, so cutting at a
// displayed line start moves no later wrap: at every trim the pane shows
// exactly the newest lines that byte-by-byte appends would show.
//
// The control wraps a paragraph again from its start after every change, and
// the hex pane is one endless paragraph: a burst that alone would outgrow
// the kept lines is therefore cut before it goes in. Its lines are all the same
// number of equal units ("XX "), so the cut falls exactly where the pane
// would have put a line start.

#include "station/WindowDesign.h"

#include <windows.h>

#include <string_view>

namespace kestrel {

class TWin32RxPane {
public:
    static constexpr int kTrimLines = design::kTrimLines;
    static constexpr int kKeepLines = 2 * kTrimLines;

    enum class Lines { Wrapped, Uniform };  // Uniform: every full line holds the same text units

    TWin32RxPane() = default;
    TWin32RxPane(HWND edit, Lines lines);
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
    // The length of the pane's full lines when they are all alike, else 0.
    int uniformLineLength() const;
    bool replaceWithTail(std::string_view text);

    HWND edit_ = nullptr;
    Lines lines_ = Lines::Wrapped;
};

}  // namespace kestrel
