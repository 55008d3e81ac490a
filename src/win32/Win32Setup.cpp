// TComSetupFrm on Win32: the setup dialog built from its design, and
// RunSetupDialog.

#include "win32/Win32Setup.h"

#include "station/WindowDesign.h"

#include "station/Report.h"
#include "win32/Win32Report.h"
#include "win32/Win32Util.h"

#include <commctrl.h>

#include <cstddef>
#include <vector>

namespace kestrel {
namespace {

constexpr int kComboId = 100;             // Combo1; the others follow
constexpr int kSetupDroppedHeight = 200;  // a list's height when it is open
const design::SetupDialog& kSetupDesign = design::kSetupDialog;

}  // namespace

TComSetupFrm::TComSetupFrm(TCustomComPort& port, std::string notice) : port_(port), notice_(std::move(notice)) {
    // While the design data is read each list is filled and selects its
    // first item; then the port is attached and read, twice.
    for (std::size_t i = 0; i < Selects.size(); ++i) {
        Selects[i].ComProperty = kSetupDesign.properties[i];
        Selects[i].CurrentPortHint = port.Port();
        Selects[i].FillItems();
    }
    for (TComSelect& s : Selects)
        s.ComPort = &port;
    for (TComSelect& s : Selects)
        s.ReadFromPort();
}

void TComSetupFrm::showSelection(int combo, int index) {
    SendMessageW(Combos[static_cast<std::size_t>(combo)], CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void TComSetupFrm::build(HWND dialog) {
    Handle = dialog;
    using win32::Scaled;
    SetWindowTextW(dialog, win32::Widen(kSetupDesign.caption).c_str());
    font_ = win32::MakeFont(win32::Widen(kSetupDesign.fontFace).c_str(), MulDiv(kSetupDesign.fontPoints, 96, 72), false,
                            false);
    // The group's controls lie in the dialog's client area, offset by the group.
    const design::Rect g = kSetupDesign.group.rect;
    auto make = [&](const wchar_t* cls, const char* text, DWORD style, design::Rect r, int id) {
        HWND c = CreateWindowExW(0, cls, win32::Widen(text).c_str(), WS_CHILD | WS_VISIBLE | style, Scaled(r.left),
                                 Scaled(r.top), Scaled(r.width), Scaled(r.height), dialog,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        return c;
    };
    auto inGroup = [&](design::Rect r) { return design::Rect{g.left + r.left, g.top + r.top, r.width, r.height}; };
    // Tab order is creation order: the group's lists, then OK, then Cancel.
    for (int i = 0; i < 6; ++i) {
        make(L"STATIC", kSetupDesign.labels[std::size_t(i)], SS_LEFT, inGroup(kSetupDesign.label(i)), -1);
        design::Rect list = inGroup(kSetupDesign.list(i));
        list.height = kSetupDroppedHeight;
        HWND combo = make(WC_COMBOBOXW, "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | (i == 0 ? WS_GROUP : 0), list,
                          kComboId + i);
        Combos[static_cast<std::size_t>(i)] = combo;
        const TComSelect& s = Selects[static_cast<std::size_t>(i)];
        for (const std::string& item : s.Items)
            SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(win32::Widen(item).c_str()));
        showSelection(i, s.ComPort ? s.Find(s.PortValueText()) : (s.Items.empty() ? -1 : 0));
    }
    Button1 =
        make(L"BUTTON", kSetupDesign.ok.text, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, kSetupDesign.ok.rect, IDOK);
    Button2 = make(L"BUTTON", kSetupDesign.cancel.text, BS_PUSHBUTTON | WS_TABSTOP, kSetupDesign.cancel.rect, IDCANCEL);
    if (!notice_.empty())
        Notice = make(L"STATIC", notice_.c_str(), SS_LEFT | SS_NOPREFIX, kSetupDesign.notice, -1);
    // Last, so that it lies below the lists and labels it frames.
    GroupBox1 = make(L"BUTTON", kSetupDesign.group.text, BS_GROUPBOX, g, -1);
    SetWindowPos(GroupBox1, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    // The designed client size, centred on the screen.
    RECT r{0, 0, Scaled(kSetupDesign.clientWidth),
           Scaled(kSetupDesign.clientHeight + (Notice ? kSetupDesign.noticeHeight : 0))};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE)));
    const int w = r.right - r.left, h = r.bottom - r.top;
    SetWindowPos(dialog, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w,
                 h, SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK TComSetupFrm::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TComSetupFrm*>(GetWindowLongPtrW(dialog, DWLP_USER));
    try {
        switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            self = reinterpret_cast<TComSetupFrm*>(lParam);
            self->build(dialog);
            SetFocus(self->Combos[0]);
            return FALSE;  // focus set here
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (id == IDOK || id == IDCANCEL) {  // Esc and the close box come as IDCANCEL
                EndDialog(dialog, id);
                return TRUE;
            }
            if (self && HIWORD(wParam) == CBN_SELCHANGE && id >= kComboId && id < kComboId + 6) {
                const int index = static_cast<int>(SendMessageW(reinterpret_cast<HWND>(lParam), CB_GETCURSEL, 0, 0));
                self->Selects[static_cast<std::size_t>(id - kComboId)].SelectionChanged(index);
                return TRUE;
            }
            return FALSE;
        }
        case WM_CTLCOLORSTATIC:
            if (self && self->Notice && reinterpret_cast<HWND>(lParam) == self->Notice)
                return win32::NoticeColours(wParam);
            return FALSE;
        case WM_DESTROY:
            if (self && self->font_) {
                DeleteObject(self->font_);
                self->font_ = nullptr;
            }
            return FALSE;
        }
    } catch (...) {
        ShowCurrentException();
    }
    return FALSE;
}

bool TComSetupFrm::ShowModal(HWND owner) {
    const INT_PTR result = win32::ShowDialogWithoutTemplate(owner, DialogProc, reinterpret_cast<LPARAM>(this));
    Handle = nullptr;
    return result == IDOK;
}

void TComSetupFrm::ApplyToPort() {
    std::array<TComSelect*, 6> choices{};
    for (std::size_t i = 0; i < choices.size(); ++i)
        choices[i] = &Selects[i];
    ApplyChoices(port_, choices);
}

void RunSetupDialog(TCustomComPort& port, HWND owner, const std::string& notice) {
    TComSetupFrm dialog(port, notice);
    if (dialog.ShowModal(owner))
        dialog.ApplyToPort();
}

}  // namespace kestrel
