#pragma once
// The station dialog on Win32: the line, sharing and the station folder,
// drawn from its design (station/StationDialog.h) with plain controls; OK
// hands the form to the engine and stays open with the reason when it is
// refused.

#include "station/StationDialog.h"

#include <windows.h>

#include <array>

namespace kestrel {

class TStationDialog {
public:
    explicit TStationDialog(StationDialogModel& model) : model_(model) {}

    // Runs the dialog modally over owner; true when OK was taken.
    bool ShowModal(HWND owner);

    HWND Handle = nullptr;
    // The field of each StationField, in its order (none for None).
    std::array<HWND, 10> Fields{};
    HWND Folder = nullptr, OpenFolder = nullptr, Message = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    void build(HWND dialog);
    StationForm form() const;
    void sourceChanged();
    void say(const std::string& text);
    void okClicked();
    void openFolderClicked();

    StationDialogModel& model_;
    HFONT font_ = nullptr;
};

}  // namespace kestrel
