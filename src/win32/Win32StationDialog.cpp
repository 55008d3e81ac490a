// TStationDialog on Win32: the station dialog built from its design; what it
// decides is the engine's.

#include "win32/Win32StationDialog.h"

#include "station/Report.h"
#include "win32/Win32Util.h"

#include <commctrl.h>
#include <shellapi.h>

namespace kestrel {
namespace {

const design::StationDialogDesign& kStationDesign = design::kStationDialog;
constexpr int kFieldId = 200;  // a field's control: kFieldId + its StationField
constexpr int kOpenFolderId = 300;
constexpr int kStationDroppedHeight = 160;  // a list's height when it is open

int IdOf(StationField f) { return kFieldId + int(f); }

}  // namespace

void TStationDialog::build(HWND dialog) {
    Handle = dialog;
    using win32::Scaled;
    const design::SetupDialog& setup = design::kSetupDialog;  // the same font
    SetWindowTextW(dialog, win32::Widen(kStationDesign.caption).c_str());
    font_ = win32::MakeFont(win32::Widen(setup.fontFace).c_str(), MulDiv(setup.fontPoints, 96, 72), false, false);
    auto make = [&](DWORD exStyle, const wchar_t* cls, const std::wstring& text, DWORD style, design::Rect r, int id) {
        HWND c = CreateWindowExW(exStyle, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, Scaled(r.left),
                                 Scaled(r.top), Scaled(r.width), Scaled(r.height), dialog,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        return c;
    };
    const StationForm& form = model_.form;
    // By StationField: none for None and Source.
    const std::array<const std::string*, 10> texts{nullptr,        nullptr,        &form.port,    &form.host,
                                                   &form.tcpPort,  &form.url,      &form.noradId, &form.callsign,
                                                   &form.latitude, &form.longitude};
    // Creation order is the tab order: the fields, Open, OK, Cancel.
    for (const auto& d : kStationDesign.fields) {
        make(0, L"STATIC", win32::Widen(d.label.text), SS_LEFT, d.label.rect, -1);
        const std::size_t i = std::size_t(d.field);
        design::Rect box = d.box;
        HWND w = nullptr;
        if (d.field == StationField::Source || d.field == StationField::Port) {
            box.height = kStationDroppedHeight;
            const DWORD kind = d.field == StationField::Source ? CBS_DROPDOWNLIST : CBS_DROPDOWN | CBS_AUTOHSCROLL;
            w = make(0, WC_COMBOBOXW, L"", kind | WS_VSCROLL | WS_TABSTOP, box, IdOf(d.field));
        } else {
            w = make(WS_EX_CLIENTEDGE, WC_EDITW, win32::Widen(*texts[i]), ES_AUTOHSCROLL | WS_TABSTOP, box,
                     IdOf(d.field));
        }
        Fields[i] = w;
    }
    HWND source = Fields[std::size_t(StationField::Source)];
    for (const char* s : kStationDesign.sources)
        SendMessageW(source, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(win32::Widen(s).c_str()));
    SendMessageW(source, CB_SETCURSEL, WPARAM(form.source), 0);
    HWND port = Fields[std::size_t(StationField::Port)];
    for (const std::string& p : model_.ports)
        SendMessageW(port, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(win32::Widen(p).c_str()));
    SetWindowTextW(port, win32::Widen(form.port).c_str());

    make(0, L"STATIC", win32::Widen(kStationDesign.shareNote.text), SS_LEFT, kStationDesign.shareNote.rect, -1);
    Folder =
        make(WS_EX_CLIENTEDGE, WC_EDITW, L"", ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP, kStationDesign.folder, -1);
    SetWindowTextA(Folder, model_.folder.c_str());  // the system's own spelling of the path
    OpenFolder = make(0, WC_BUTTONW, win32::Widen(kStationDesign.openFolder.text), BS_PUSHBUTTON | WS_TABSTOP,
                      kStationDesign.openFolder.rect, kOpenFolderId);
    make(0, WC_BUTTONW, win32::Widen(kStationDesign.ok.text), BS_DEFPUSHBUTTON | WS_TABSTOP, kStationDesign.ok.rect,
         IDOK);
    make(0, WC_BUTTONW, win32::Widen(kStationDesign.cancel.text), BS_PUSHBUTTON | WS_TABSTOP,
         kStationDesign.cancel.rect, IDCANCEL);
    Message = make(0, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kStationDesign.message, -1);
    say(model_.notice);
    // Last, so that they lie below what they frame.
    for (const design::Labelled& g :
         {kStationDesign.lineGroup, kStationDesign.shareGroup, kStationDesign.folderGroup}) {
        HWND group = make(0, WC_BUTTONW, win32::Widen(g.text), BS_GROUPBOX, g.rect, -1);
        SetWindowPos(group, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    sourceChanged();

    RECT r{0, 0, Scaled(kStationDesign.clientWidth), Scaled(kStationDesign.clientHeight)};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE)));
    const int w = r.right - r.left, h = r.bottom - r.top;
    SetWindowPos(dialog, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w,
                 h, SWP_NOZORDER | SWP_NOACTIVATE);
}

StationForm TStationDialog::form() const {
    auto text = [&](StationField f) {
        std::string t = win32::Narrow(win32::WindowText(Fields[std::size_t(f)]));
        const auto first = t.find_first_not_of(" \t");
        return first == std::string::npos ? std::string() : t.substr(first, t.find_last_not_of(" \t") - first + 1);
    };
    StationForm f;
    const LRESULT source = SendMessageW(Fields[std::size_t(StationField::Source)], CB_GETCURSEL, 0, 0);
    f.source = LineSourceSettings::Kind(source < 0 ? 0 : source);
    f.port = text(StationField::Port);
    f.host = text(StationField::Host);
    f.tcpPort = text(StationField::TcpPort);
    f.url = text(StationField::Url);
    f.noradId = text(StationField::NoradId);
    f.callsign = text(StationField::Callsign);
    f.latitude = text(StationField::Latitude);
    f.longitude = text(StationField::Longitude);
    return f;
}

void TStationDialog::sourceChanged() {
    const bool tcp = SendMessageW(Fields[std::size_t(StationField::Source)], CB_GETCURSEL, 0, 0) ==
                     LRESULT(LineSourceSettings::KissTcp);
    EnableWindow(Fields[std::size_t(StationField::Port)], !tcp);
    EnableWindow(Fields[std::size_t(StationField::Host)], tcp);
    EnableWindow(Fields[std::size_t(StationField::TcpPort)], tcp);
}

void TStationDialog::say(const std::string& text) { SetWindowTextW(Message, win32::Widen(text).c_str()); }

void TStationDialog::okClicked() {
    const StationFormProblem problem = model_.apply(form());
    if (!problem) {
        EndDialog(Handle, IDOK);
        return;
    }
    say(problem.text);
    if (problem.field != StationField::None)
        SetFocus(Fields[std::size_t(problem.field)]);
}

void TStationDialog::openFolderClicked() {
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteA(Handle, "open", model_.folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result <= 32)
        say("No file manager opened " + model_.folder + "; open it in Explorer by hand");
}

INT_PTR CALLBACK TStationDialog::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TStationDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
    try {
        switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            self = reinterpret_cast<TStationDialog*>(lParam);
            self->build(dialog);
            SetFocus(self->Fields[std::size_t(StationField::Source)]);
            return FALSE;  // focus set here
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (!self)
                return FALSE;
            if (id == IDOK) {
                self->okClicked();
                return TRUE;
            }
            if (id == IDCANCEL) {  // Esc and the close box come as IDCANCEL
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            if (id == kOpenFolderId && HIWORD(wParam) == BN_CLICKED) {
                self->openFolderClicked();
                return TRUE;
            }
            if (id == IdOf(StationField::Source) && HIWORD(wParam) == CBN_SELCHANGE) {
                self->sourceChanged();
                return TRUE;
            }
            return FALSE;
        }
        case WM_CTLCOLORSTATIC:
            if (self && reinterpret_cast<HWND>(lParam) == self->Message)
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

bool TStationDialog::ShowModal(HWND owner) {
    const INT_PTR result = win32::ShowDialogWithoutTemplate(owner, DialogProc, reinterpret_cast<LPARAM>(this));
    Handle = nullptr;
    return result == IDOK;
}

}  // namespace kestrel
