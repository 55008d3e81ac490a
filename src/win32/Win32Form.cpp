// The Win32 main window: its controls built from the window's design, its
// messages, timers and accelerators, each handler one line into the engine.
//
// Sections:
//   The window  its class, creation and start-up, the message loop's hook for
//               the accelerators and dialog keys
//   Controls    the controls, hints, status panels and the accelerator table
//               from the design; the layout
//   Messages    the window's messages, the close request, commands, timers,
//               and what the panes' subclass takes first (the send pane's keys)
//   Handlers    start-up, buttons and timers
//   The view    IStationView: panes, status panels, Memo1, the send pane, the
//               trend window, dismissing boxes on a close

#include "win32/Win32Form.h"

#include "Utf16Win32.h"
#include "Version.h"
#include "station/FontFit.h"
#include "station/Report.h"
#include "win32/Win32Report.h"
#include "win32/Win32Setup.h"
#include "win32/Win32StationDialog.h"
#include "win32/Win32Util.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <utility>

namespace kestrel {
namespace {

using win32::Scaled;

constexpr const wchar_t* kWindowClass = L"TForm1";

StationSeams EngineSeams(MainThreadMailbox& mailbox) {
    StationSeams s;
    s.mailbox = &mailbox;
    return s;
}

// The first font of the design's list that shows these lines whole in a
// band of width x height, whatever fonts the system has (a face it lacks is
// measured as the one it gives instead, which is not the face asked for).
HFONT FittedFont(const std::vector<std::string>& lines, int width, int height) {
    HDC dc = GetDC(nullptr);
    auto measure = [dc, &lines](const design::FontRequest& request) {
        design::TextExtent e;
        HFONT font = win32::MakeFont(request);
        const HGDIOBJ old = SelectObject(dc, font);
        wchar_t face[LF_FACESIZE] = {};
        GetTextFaceW(dc, LF_FACESIZE, face);
        e.available = lstrcmpiW(face, win32::Widen(request.face).c_str()) == 0;
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc, &metrics);
        e.lineHeight = MulDiv(metrics.tmHeight, 96, win32::ScreenDpi());
        for (const std::string& line : lines) {
            const std::wstring text = win32::Widen(line);
            SIZE size{};
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
            e.width = std::max(e.width, static_cast<int>(MulDiv(size.cx, 96, win32::ScreenDpi())));
        }
        SelectObject(dc, old);
        DeleteObject(font);
        return e;
    };
    const design::FontRequest chosen = design::FitFont(design::kWindowFont, design::kInfoFontFaces,
                                                       static_cast<int>(lines.size()), width, height, measure);
    ReleaseDC(nullptr, dc);
    return win32::MakeFont(chosen);
}

// The receive panes' font: the first of the design's faces the system has
// (under Wine the Linux program's stand-in), else the design's as the
// system gives it.
HFONT PaneFont() {
    HDC dc = GetDC(nullptr);
    design::FontRequest chosen = design::kPaneFont;
    for (const char* face : design::kPaneFontFaces) {
        design::FontRequest request = design::kPaneFont;
        request.face = face;
        HFONT font = win32::MakeFont(request);
        const HGDIOBJ old = SelectObject(dc, font);
        wchar_t got[LF_FACESIZE] = {};
        GetTextFaceW(dc, LF_FACESIZE, got);
        SelectObject(dc, old);
        DeleteObject(font);
        if (lstrcmpiW(got, win32::Widen(face).c_str()) == 0) {
            chosen = request;
            break;
        }
    }
    ReleaseDC(nullptr, dc);
    return win32::MakeFont(chosen);
}

constexpr int kEditMargins = 8;  // an edit control's left and right margins, and some room

// Memo2's font: its four lines in the designed band.
HFONT InfoFont() {
    const design::Rect band = design::LayoutWindow(design::kClientWidth, design::kClientHeight)[design::Memo2];
    return FittedFont(std::vector<std::string>(design::kInfoLines.begin(), design::kInfoLines.end()),
                      band.width - kEditMargins, band.height);
}

// Memo1's font: a beacon's lines, none wrapped, in the designed pane less its
// sunken edge and scroll bar.
HFONT DecodedFont() {
    const design::Rect pane = design::LayoutWindow(design::kClientWidth, design::kClientHeight)[design::Memo1];
    constexpr int kEdge = 4;  // WS_EX_CLIENTEDGE, both sides
    return FittedFont(design::DecodedSampleLines(),
                      pane.width - kEdge - GetSystemMetrics(SM_CXVSCROLL) * 96 / win32::ScreenDpi() - kEditMargins,
                      pane.height - kEdge);
}

// The pane's text with '\n' line breaks, as the engine takes it.
std::string PaneText(HWND pane) {
    std::wstring text = win32::WindowText(pane);
    text.erase(std::remove(text.begin(), text.end(), L'\r'), text.end());
    return win32::Narrow(text);
}

}  // namespace

// ---- The window ------------------------------------------------------------------

TForm1::TForm1(HINSTANCE instance)
    : station_(*this, EngineSeams(mailbox_)), CPort(station_.CPort), instance_(instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;  // the layout spans the whole window
    wc.lpfnWndProc = win32::WindowProcOf<TForm1, &TForm1::Handle, &TForm1::handle>;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);  // a second window finds it registered
    TWin32RxPane::Register(instance);

    const DWORD style = WS_OVERLAPPEDWINDOW;  // sizeable
    RECT r{0, 0, Scaled(design::kClientWidth), Scaled(design::kClientHeight)};
    AdjustWindowRectEx(&r, style, FALSE, 0);
    CreateWindowExW(0, kWindowClass, win32::Widen(kMainCaption).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                    r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance, this);
    if (!Handle)
        throw std::runtime_error("The main window cannot be created");
    mailbox_.SetWindow(Handle);
    SetReportOwner(Handle);
    buildControls();
    // The station dialog from the window without a menu bar: beside F3, in
    // the window's system menu.
    if (HMENU system = GetSystemMenu(Handle, FALSE)) {
        AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
        const std::wstring item = win32::Widen(design::kActions[design::aStation].caption) + L"\tF3";
        AppendMenuW(system, MF_STRING, kStationMenuItem, item.c_str());
    }

    trends_ = std::make_unique<TWin32TrendWindow>(instance, false);
    buildAccelerators();

    SetTimer(Handle, tmTimer1, design::kTimer1Interval, nullptr);
    Guarded([this] { FormCreate(); });
}

TForm1::~TForm1() {
    mailbox_.SetWindow(nullptr);
    SetReportOwner(nullptr);
    if (Handle && IsWindow(Handle)) {
        SetWindowLongPtrW(Handle, GWLP_USERDATA, 0);
        DestroyWindow(Handle);
    }
    if (accelerators_)
        DestroyAcceleratorTable(accelerators_);
    if (windowFont_)
        DeleteObject(windowFont_);
    if (paneFont_)
        DeleteObject(paneFont_);
    if (infoFont_)
        DeleteObject(infoFont_);
    if (decodedFont_)
        DeleteObject(decodedFont_);
}

void TForm1::Show(int showCommand) {
    ShowWindow(Handle, showCommand);
    UpdateWindow(Handle);
    SetFocus(Memo2);  // first in the tab order
}

bool TForm1::PreTranslate(MSG& msg) {
    if (trends_ && trends_->PreTranslate(msg))
        return true;
    if (msg.hwnd != Handle && !IsChild(Handle, msg.hwnd))
        return false;
    // Whichever control has the focus.
    if (TranslateAcceleratorW(Handle, accelerators_, &msg))
        return true;
    return IsDialogMessageW(Handle, &msg) != FALSE;
}

// ---- Controls ----------------------------------------------------------------

HWND TForm1::makeControl(design::ControlId id) {
    using design::Kind;
    const design::Control& c = design::kControls[std::size_t(id)];
    const DWORD pane = WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | ES_NOHIDESEL;
    const wchar_t* cls = WC_BUTTONW;
    DWORD exStyle = 0, style = 0;
    WORD command = 0;
    std::wstring text = win32::Widen(c.caption);
    switch (c.kind) {
    case Kind::GroupBox: style = BS_GROUPBOX; break;
    case Kind::Panel: return nullptr;  // a panel without bevel: only a place
    case Kind::Button:
        style = WS_TABSTOP | BS_PUSHBUTTON;
        command = id == design::bSettings ? idSettings : id == design::bClear ? idClear : idClearTNC;
        break;
    case Kind::InfoText: {
        cls = WC_EDITW;
        style = WS_TABSTOP | ES_MULTILINE | ES_READONLY;
        std::string lines;
        for (const char* line : design::kInfoLines)
            lines += (lines.empty() ? "" : "\n") + std::string(line);
        text = win32::WidenLines(lines);
        break;
    }
    case Kind::SendPane:
        cls = WC_EDITW;
        style = pane;
        break;
    case Kind::ReceivePane:
        cls = TWin32RxPane::kClassName;
        exStyle = WS_EX_CLIENTEDGE;
        style = WS_TABSTOP | WS_VSCROLL;
        text.clear();
        break;
    case Kind::DecodedPane:
        cls = WC_EDITW;
        exStyle = WS_EX_CLIENTEDGE;
        style = pane | ES_OEMCONVERT;
        break;
    case Kind::StatusBar:
        cls = STATUSCLASSNAMEW;
        style = CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER;
        break;
    }
    HWND w = CreateWindowExW(exStyle, cls, text.c_str(), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, 0, 0, 0, 0,
                             Handle, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(command)), instance_, nullptr);
    const HFONT font = id == design::Memo2               ? infoFont_
                       : id == design::Memo1             ? decodedFont_
                       : c.font == design::Use::PaneFont ? paneFont_
                                                         : windowFont_;
    SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    Controls[std::size_t(id)] = w;
    return w;
}

void TForm1::buildControls() {
    windowFont_ = win32::MakeFont(design::kWindowFont);
    paneFont_ = PaneFont();
    infoFont_ = InfoFont();
    decodedFont_ = DecodedFont();
    // Creation order is the tab order; the group boxes come last, below what
    // they frame, the send group's first as it lies over the top band.
    for (design::ControlId id : design::kTabOrder)
        makeControl(id);
    for (design::ControlId id : {design::GroupBox3, design::GroupBox2, design::GroupBox1, design::StatusBar1})
        makeControl(id);
    GroupBox2 = Controls[design::GroupBox2];
    bSettings = Controls[design::bSettings];
    bClear = Controls[design::bClear];
    Memo2 = Controls[design::Memo2];
    GroupBox3 = Controls[design::GroupBox3];
    MemoTX = Controls[design::MemoTX];
    bClearTNC = Controls[design::bClearTNC];
    GroupBox1 = Controls[design::GroupBox1];
    for (auto [pane, id] : {std::pair{&MemoRX, design::MemoRX}, std::pair{&MEMORXHEX, design::MEMORXHEX}}) {
        pane->Attach(Controls[id], paneFont_);
        pane->appendText(std::string(design::Heading(id)) + '\n');
    }
    Memo1 = Controls[design::Memo1];
    StatusBar1 = Controls[design::StatusBar1];
    int edges[design::kStatusPanels];
    for (int i = 0; i < design::kStatusPanels; ++i)
        edges[i] = Scaled(design::kStatusPanelWidth * (i + 1));
    SendMessageW(StatusBar1, SB_SETPARTS, design::kStatusPanels, reinterpret_cast<LPARAM>(edges));

    // The send pane sees typed characters first; every pane keeps Esc for the
    // window rather than for itself.
    for (HWND edit : {Memo2, Memo1, MemoRX.Handle(), MEMORXHEX.Handle(), MemoTX})
        SetWindowSubclass(edit, PaneProc, 1, reinterpret_cast<DWORD_PTR>(this));

    Hints =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle, nullptr, instance_, nullptr);
    hintTexts_.reserve(design::kControlCount);
    for (std::size_t i = 0; i < design::kControls.size(); ++i)
        if (*design::kControls[i].hint && Controls[i])
            addHint(Controls[i], win32::Widen(design::kControls[i].hint));
    // A status panel's tooltip is whatever the engine gives it (none while
    // empty); the panels stay where they are, whatever the window's width.
    for (int panel = 0; panel < design::kStatusPanels; ++panel) {
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_SUBCLASS;
        tool.hwnd = StatusBar1;
        tool.uId = UINT_PTR(panel);
        SendMessageW(StatusBar1, SB_GETRECT, WPARAM(panel), reinterpret_cast<LPARAM>(&tool.rect));
        tool.lpszText = statusTips_[std::size_t(panel)].data();
        SendMessageW(Hints, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    PanelTip =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle, nullptr, instance_, nullptr);
    TTTOOLINFOW tip{};
    tip.cbSize = sizeof tip;
    tip.uFlags = TTF_TRACK | TTF_ABSOLUTE;
    tip.hwnd = Handle;
    tip.uId = 1;
    tip.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(PanelTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tip));
    SendMessageW(PanelTip, TTM_SETMAXTIPWIDTH, 0, Scaled(480));  // longer texts wrap

    layoutControls();
}

void TForm1::buildAccelerators() {
    std::vector<ACCEL> keys;
    for (const design::Action& a : design::kActions) {
        const design::Shortcut& k = a.shortcut;
        if (k.any())
            keys.push_back({static_cast<BYTE>(FVIRTKEY | (k.ctrl ? FCONTROL : 0) | (k.alt ? FALT : 0)),
                            static_cast<WORD>(k.function ? VK_F1 + k.function - 1 : k.letter),
                            static_cast<WORD>(kActionCommands + a.id)});
    }
    const char clearKey = design::AcceleratorOf(design::kControls[design::bClear].caption);
    keys.push_back({FVIRTKEY | FALT, static_cast<WORD>(clearKey), idClear});
    accelerators_ = CreateAcceleratorTableW(keys.data(), static_cast<int>(keys.size()));
}

void TForm1::addHint(HWND control, std::wstring text) {
    hintTexts_.push_back(std::move(text));
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = Handle;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = hintTexts_.back().data();
    SendMessageW(Hints, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void TForm1::layoutControls() {
    RECT client{};
    GetClientRect(Handle, &client);
    // In designed pixels, scaled where the control is placed.
    const design::Layout layout = design::LayoutWindow(MulDiv(client.right, 96, win32::ScreenDpi()),
                                                       MulDiv(client.bottom, 96, win32::ScreenDpi()));
    const design::Rect panel = design::InWindow(layout, design::Panel1);
    Panel1 = RECT{panel.left, panel.top, panel.left + panel.width, panel.top + panel.height};
    for (int id = 0; id < design::kControlCount; ++id) {
        if (!Controls[std::size_t(id)])
            continue;
        const design::Rect r = design::InWindow(layout, design::ControlId(id));
        MoveWindow(Controls[std::size_t(id)], Scaled(r.left), Scaled(r.top), Scaled(r.width), Scaled(r.height), TRUE);
    }
    // The send group lies over the right part of the top band, but Memo2,
    // first in the tab order, lies above it in the z-order: Memo2 draws only
    // left of the group, so the group's frame stays whole.
    const design::Rect memo = design::InWindow(layout, design::Memo2);
    const design::Rect group = design::InWindow(layout, design::GroupBox3);
    const int visible = Scaled(group.left) - Scaled(memo.left);
    const bool covered = memo.left + memo.width > group.left;
    SetWindowRgn(Memo2, covered ? CreateRectRgn(0, 0, std::max(0, visible), Scaled(memo.height)) : nullptr, TRUE);
}

// ---- Messages ----------------------------------------------------------------

LRESULT TForm1::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        if (StatusBar1) {
            layoutControls();
            // The group boxes do not paint their inside and the window does not
            // clip its controls: repaint everything, the window first, so that
            // no old frame line stays and the status bar keeps its texts.
            RedrawWindow(Handle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        }
        return 0;
    case WM_ACTIVATE:
        // After a box or the dialog the control that had the focus gets it
        // back, not the window itself.
        if (LOWORD(wParam) == WA_INACTIVE) {
            const HWND focus = GetFocus();
            if (focus && IsChild(Handle, focus))
                lastFocus_ = focus;
        } else if (lastFocus_ && IsWindow(lastFocus_) && !HIWORD(wParam)) {
            SetFocus(lastFocus_);
            return 0;
        }
        break;
    case WM_SETFOCUS:
        if (lastFocus_ && IsWindow(lastFocus_))
            SetFocus(lastFocus_);
        return 0;
    case WM_COMMAND:
        // Buttons (BN_CLICKED) and the accelerator table (1).
        if ((lParam && HIWORD(wParam) == BN_CLICKED) || (!lParam && HIWORD(wParam) == 1))
            command(LOWORD(wParam));
        return 0;
    case WM_TIMER: timer(wParam); return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == kStationMenuItem) {
            Guarded([this] { station_.runAction(design::aStation); });
            return 0;
        }
        break;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->hwndFrom == StatusBar1 && header->code == NM_CLICK) {
            const auto item = reinterpret_cast<const NMMOUSE*>(lParam)->dwItemSpec;
            if (item >= 1 && item < design::kStatusPanels)
                statusPanelClick(static_cast<int>(item));
            return TRUE;
        }
        break;
    }
    case TWin32Mailbox::kMessage: Guarded([this] { mailbox_.ServicePending(); }); return 0;
    case kContinueMessage:
        // Input, painting and the timers come first: a stream that never
        // pauses must not freeze the window.
        if (HIWORD(GetQueueStatus(QS_INPUT | QS_PAINT | QS_TIMER)))
            SetTimer(Handle, tmContinue, USER_TIMER_MINIMUM, nullptr);
        else
            Guarded([this] { station_.continueReceive(); });
        return 0;
    case WM_CLOSE: closeWindow(); return 0;
    case WM_QUERYENDSESSION:
        // The session may end: no box may stand in the way.
        CloseReports();
        DismissModals();
        return TRUE;
    case WM_ENDSESSION:
        // The process may end without another message: shut down now.
        if (wParam)
            Guarded([this] { station_.FormClose(); });
        else
            ReopenReports();  // called off: the program goes on
        return 0;
    case WM_DESTROY:
        KillTimer(Handle, tmTimer1);
        KillTimer(Handle, tmTimerX);
        KillTimer(Handle, tmDisplay);
        KillTimer(Handle, tmContinue);
        KillTimer(Handle, tmPanelTip);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(Handle, message, wParam, lParam);
}

void TForm1::closeWindow() {
    // Shut-down runs at once, also with a box or the setup dialog up (from
    // inside its loop), and then the process ends with its windows still up:
    // taking them down first gains nothing, and Wine without a window
    // manager waits 2 s for each window it unmaps.
    station_.closeRequested();
    std::fflush(nullptr);
    ExitProcess(0);
}

void TForm1::command(WORD id) {
    switch (id) {
    case idSettings: Guarded([this] { bSettingsClick(); }); return;
    case idClear: Guarded([this] { bClearClick(); }); return;
    case idClearTNC: Guarded([this] { bClearTNCClick(); }); return;
    }
    if (id >= kActionCommands && id < kActionCommands + design::kActionCount)
        Guarded([&] { station_.runAction(design::ActionId(id - kActionCommands)); });
}

void TForm1::timer(UINT_PTR id) {
    switch (id) {
    case tmTimer1: Guarded([this] { Timer1Timer(); }); break;
    case tmTimerX: Guarded([this] { TimerXTimer(); }); break;
    case tmDisplay:
        KillTimer(Handle, tmDisplay);
        Guarded([this] { station_.displayTick(); });
        break;
    case tmContinue:
        KillTimer(Handle, tmContinue);
        Guarded([this] { station_.continueReceive(); });
        break;
    case tmPanelTip:
        KillTimer(Handle, tmPanelTip);
        SendMessageW(PanelTip, TTM_TRACKACTIVATE, FALSE, 0);
        break;
    }
}

// A status panel clicked: its whole text (the tooltip) shown at once for a
// while, and the engine told (the last run's shut-down failure goes).
void TForm1::statusPanelClick(int panel) {
    std::wstring tip = statusTips_[std::size_t(panel)];
    Guarded([&] { station_.statusPanelClicked(panel); });
    SendMessageW(PanelTip, TTM_TRACKACTIVATE, FALSE, 0);
    if (tip.empty())
        return;
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = Handle;
    tool.uId = 1;
    tool.lpszText = tip.data();
    SendMessageW(PanelTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    RECT part{};
    SendMessageW(StatusBar1, SB_GETRECT, WPARAM(panel), reinterpret_cast<LPARAM>(&part));
    POINT at{part.left, part.top};
    ClientToScreen(StatusBar1, &at);
    SendMessageW(PanelTip, TTM_TRACKPOSITION, 0, MAKELPARAM(at.x, std::max(0L, at.y - Scaled(40))));
    SendMessageW(PanelTip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
    SetTimer(Handle, tmPanelTip, 8000, nullptr);
}

LRESULT CALLBACK TForm1::PaneProc(HWND pane, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self) {
    try {
        return reinterpret_cast<TForm1*>(self)->paneMessage(pane, message, wParam, lParam);
    } catch (...) {
        ShowCurrentException();
        return 0;
    }
}

LRESULT TForm1::paneMessage(HWND pane, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_GETDLGCODE: {
        LRESULT code = DefSubclassProc(pane, message, wParam, lParam);
        const auto* msg = reinterpret_cast<const MSG*>(lParam);
        if (msg && msg->message == WM_KEYDOWN && msg->wParam == VK_TAB &&
            TabMovesFocus(pane == MemoTX, GetKeyState(VK_SHIFT) < 0))
            code &= ~static_cast<LRESULT>(DLGC_WANTALLKEYS | DLGC_WANTTAB);
        // Tabbing in must not select the send pane's text: the next key
        // would replace it.
        if (pane == MemoTX)
            code &= ~static_cast<LRESULT>(DLGC_HASSETSEL);
        return code;
    }
    case WM_SETFOCUS:
        if (pane == MemoTX && GetKeyState(VK_TAB) < 0) {  // from the keyboard: the caret at the end
            const LRESULT result = DefSubclassProc(pane, message, wParam, lParam);
            const int end = GetWindowTextLengthW(MemoTX);
            SendMessageW(MemoTX, EM_SETSEL, end, end);
            SendMessageW(MemoTX, EM_SCROLLCARET, 0, 0);
            return result;
        }
        break;
    case WM_KEYDOWN:
        // A multi-line edit would close its parent on Esc; the character
        // still comes as WM_CHAR.
        if (wParam == VK_ESCAPE)
            return 0;
        break;
    case WM_CHAR:
        if (pane == MemoTX && !station_.MemoTXKey(PaneKeyOfCharacter(char32_t(wParam)), char32_t(wParam)))
            return 0;
        if (wParam == 27)
            return 0;
        break;
    case WM_NCDESTROY: RemoveWindowSubclass(pane, PaneProc, 1); break;
    }
    return DefSubclassProc(pane, message, wParam, lParam);
}

// ---- Handlers -------------------------------------------------------------------

void TForm1::FormCreate() { station_.FormCreate(); }

void TForm1::bClearClick() { station_.bClearClick(); }

void TForm1::bSettingsClick() {
    station_.bSettingsClick([this] { RunSetupDialog(CPort, Handle, station_.lineProblem()); });
    SetFocus(bSettings);
}

void TForm1::bClearTNCClick() { SetWindowTextW(MemoTX, L""); }

void TForm1::Timer1Timer() { station_.Timer1Timer(); }

void TForm1::TimerXTimer() { station_.TimerXTimer(); }

// ---- The view -------------------------------------------------------------------

void TForm1::appendReceived(RxPane pane, std::string_view text) {
    (pane == RxPane::Text ? MemoRX : MEMORXHEX).appendText(text);
}

// The status bar's texts are the engine's, UTF-8 like every path in them.
void TForm1::showStatus(int panel, std::string_view text, std::string_view tip) {
    const std::wstring shown = toUtf16(text);
    SendMessageW(StatusBar1, SB_SETTEXTW, WPARAM(panel), reinterpret_cast<LPARAM>(shown.c_str()));
    std::wstring& stored = statusTips_[std::size_t(panel)];
    if (stored == toUtf16(tip))
        return;
    stored = toUtf16(tip);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = StatusBar1;
    tool.uId = UINT_PTR(panel);
    tool.lpszText = stored.data();
    SendMessageW(Hints, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

bool TForm1::statusTextFits(std::string_view text) {
    // The part less its sunken edges and the inset the bar draws its text at.
    constexpr int kTextInsets = 8;
    RECT part{};
    SendMessageW(StatusBar1, SB_GETRECT, 1, reinterpret_cast<LPARAM>(&part));
    const std::wstring wide = toUtf16(text);
    HDC dc = GetDC(StatusBar1);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(StatusBar1, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(StatusBar1, dc);
    return size.cx <= part.right - part.left - Scaled(kTextInsets);
}

std::string TForm1::decodedText() { return PaneText(Memo1); }

void TForm1::editDecodedText(const DecodedEdit& edit) {
    // The control's line breaks are CR LF: one character more per break. The
    // operator's selection and scroll position stay where they were.
    const auto start = static_cast<WPARAM>(edit.at + std::size_t(edit.firstLine));
    const auto end = static_cast<LPARAM>(start + edit.length + std::size_t(edit.lineCount - 1));
    DWORD selStart = 0, selEnd = 0;
    SendMessageW(Memo1, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart), reinterpret_cast<LPARAM>(&selEnd));
    const LRESULT firstVisible = SendMessageW(Memo1, EM_GETFIRSTVISIBLELINE, 0, 0);
    SendMessageW(Memo1, WM_SETREDRAW, FALSE, 0);
    SendMessageW(Memo1, EM_SETSEL, start, end);
    SendMessageW(Memo1, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(win32::WidenLines(edit.text).c_str()));
    SendMessageW(Memo1, EM_SETSEL, selStart, selEnd);
    SendMessageW(Memo1, EM_LINESCROLL, 0, firstVisible - SendMessageW(Memo1, EM_GETFIRSTVISIBLELINE, 0, 0));
    SendMessageW(Memo1, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(Memo1, nullptr, TRUE);
}

void TForm1::clearPanes() {
    SetWindowTextW(Memo1, L"");
    MEMORXHEX.clear();
    MemoRX.clear();
}

void TForm1::trimPanes() {
    MemoRX.trimToLines(design::kTrimLines);
    MEMORXHEX.trimToLines(design::kTrimLines);
}

std::string TForm1::sendPaneText() { return PaneText(MemoTX); }

void TForm1::insertInSendPane(std::string_view text) {
    SendMessageW(MemoTX, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(win32::WidenLines(text).c_str()));
}

void TForm1::loadEarlierBeacons(const std::string& stationFolder, const std::string& thisRunsLog) {
    // The system's own spelling of the paths (its code page).
    trends_->openEarlier(std::filesystem::path(stationFolder), std::filesystem::path(thisRunsLog));
}

void TForm1::showTrends(std::optional<StationPosition> station) {
    trends_->setStation(station ? std::optional<plot::GeoPoint>({station->latitude, station->longitude})
                                : std::nullopt);
    trends_->Show();
}

bool TForm1::dismissModals() {
    // Nothing to wait for: the process ends from inside a box's loop as well
    // (closeWindow), and no further box opens meanwhile.
    return false;
}

void TForm1::setStreamTimer(bool on) {
    if (on)
        SetTimer(Handle, tmTimerX, design::kTimerXInterval, nullptr);
    else
        KillTimer(Handle, tmTimerX);
}

void TForm1::continueSoon() { PostMessageW(Handle, kContinueMessage, 0, 0); }

void TForm1::beep() { MessageBeep(MB_OK); }

void TForm1::beaconDecoded(const BeaconRecord& record, const SystemTime& utc) { trends_->addBeacon(record, utc); }

void TForm1::runStationDialog(StationDialogModel& model) {
    TStationDialog dialog(model);
    dialog.ShowModal(Handle);
}

void TForm1::displaySoon() {
    SetTimer(Handle, tmDisplay, static_cast<UINT>(Station::kDisplayInterval.count()), nullptr);
}

}  // namespace kestrel
