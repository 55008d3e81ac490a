#include "win32/Win32Form.h"

#include "Version.h"
#include "station/Report.h"
#include "win32/Win32Report.h"
#include "win32/Win32Setup.h"
#include "win32/Win32Util.h"

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>

namespace kestrel {
namespace {

using win32::Scaled;

// Designed sizes (pixels at 96 dpi), as the Qt window has them.
constexpr int kClientWidth = 965;  // outer 981 x 627 with the frame
constexpr int kClientHeight = 589;
constexpr int kTopBandHeight = 97;
constexpr int kStatusBarHeight = 19;
constexpr int kGroupInsetTop = 15;  // below a group box's caption line
constexpr int kGroupInset = 2;
constexpr int kStatusPanelWidth = 100;

constexpr const wchar_t* kWindowClass = L"TForm1";

StationSeams EngineSeams(MainThreadMailbox& mailbox) {
    StationSeams s;
    s.mailbox = &mailbox;
    return s;
}

// The pane's text with '\n' line breaks, as the engine takes it.
std::string PaneText(HWND pane) {
    std::wstring text = win32::WindowText(pane);
    text.erase(std::remove(text.begin(), text.end(), L'\r'), text.end());
    return win32::Narrow(text);
}

}  // namespace

TForm1::TForm1(HINSTANCE instance)
    : station_(*this, EngineSeams(mailbox_)), CPort(station_.CPort), instance_(instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);  // a second window finds it registered

    const DWORD style = WS_OVERLAPPEDWINDOW;  // sizeable
    RECT r{0, 0, Scaled(kClientWidth), Scaled(kClientHeight)};
    AdjustWindowRectEx(&r, style, FALSE, 0);
    CreateWindowExW(0, kWindowClass, win32::Widen(kMainCaption).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                    r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance, this);
    if (!Handle)
        throw std::runtime_error("The main window cannot be created");
    mailbox_.SetWindow(Handle);
    SetReportOwner(Handle);
    buildControls();

    ACCEL keys[] = {
        {FVIRTKEY | FCONTROL, 'T', idTest},
        {FVIRTKEY | FCONTROL | FALT, 'M', idM4},
        {FVIRTKEY, VK_F9, idTNCSend},
        {FVIRTKEY | FALT, 'C', idClear},  // "&Clear"
    };
    accelerators_ = CreateAcceleratorTableW(keys, static_cast<int>(std::size(keys)));

    SetTimer(Handle, tmTimer1, 1000, nullptr);
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
}

void TForm1::Show(int showCommand) {
    ShowWindow(Handle, showCommand);
    UpdateWindow(Handle);
    SetFocus(Memo2);  // first in the tab order
}

bool TForm1::PreTranslate(MSG& msg) {
    if (msg.hwnd != Handle && !IsChild(Handle, msg.hwnd))
        return false;
    // Whichever control has the focus.
    if (TranslateAcceleratorW(Handle, accelerators_, &msg))
        return true;
    return IsDialogMessageW(Handle, &msg) != FALSE;
}

// ---- Controls ----------------------------------------------------------------

void TForm1::buildControls() {
    windowFont_ = win32::MakeFont(L"MS Sans Serif", 14, true, false);
    paneFont_ = win32::MakeFont(L"Consolas", 14, false, true);
    auto make = [&](DWORD exStyle, const wchar_t* cls, const wchar_t* text, DWORD style, WORD id, HFONT font) {
        HWND c = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, 0, 0, 0, 0,
                                 Handle, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), instance_, nullptr);
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        return c;
    };
    const DWORD pane = WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | ES_NOHIDESEL;

    // Creation order is the tab order: the top band, the receive group, the
    // send group; the group boxes last, below what they frame.
    Memo2 = make(0, WC_EDITW,
                 L"Send the archived telemetry folder contents to: \r\n"
                 L"telemetry@kestrel.example.org\r\n"
                 L"\r\n"
                 L"73, KESTREL team",
                 WS_TABSTOP | ES_MULTILINE | ES_READONLY, 0, windowFont_);
    bSettings = make(0, WC_BUTTONW, L"Settings", WS_TABSTOP | BS_PUSHBUTTON, idSettings, windowFont_);
    bClear = make(0, WC_BUTTONW, L"&Clear", WS_TABSTOP | BS_PUSHBUTTON, idClear, windowFont_);
    Memo1 = make(WS_EX_CLIENTEDGE, WC_EDITW, L"", pane | ES_OEMCONVERT, 0, windowFont_);
    MemoRX = TWin32RxPane(make(WS_EX_CLIENTEDGE, WC_EDITW, L"TNC RX\r\n", pane, 0, paneFont_),
                          TWin32RxPane::Lines::Wrapped);
    // Two hex digits and a blank per byte, in a fixed-pitch font.
    MEMORXHEX = TWin32RxPane(make(WS_EX_CLIENTEDGE, WC_EDITW, L"TNC RX HEX\r\n", pane, 0, paneFont_),
                             TWin32RxPane::Lines::Uniform);
    bClearTNC = make(0, WC_BUTTONW, L"Clear", WS_TABSTOP | BS_PUSHBUTTON, idClearTNC, windowFont_);
    MemoTX = make(0, WC_EDITW, L"", pane, 0, paneFont_);
    GroupBox3 = make(0, WC_BUTTONW, L"TNC send", BS_GROUPBOX, 0, windowFont_);  // over the band's right part
    GroupBox2 = make(0, WC_BUTTONW, L"", BS_GROUPBOX, 0, windowFont_);
    GroupBox1 = make(0, WC_BUTTONW, L"", BS_GROUPBOX, 0, windowFont_);

    StatusBar1 = CreateWindowExW(0, STATUSCLASSNAMEW, nullptr,
                                 WS_CHILD | WS_VISIBLE | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER, 0, 0, 0,
                                 0, Handle, nullptr, instance_, nullptr);
    SendMessageW(StatusBar1, WM_SETFONT, reinterpret_cast<WPARAM>(windowFont_), FALSE);
    int edges[4];
    for (int i = 0; i < 4; ++i)
        edges[i] = Scaled(kStatusPanelWidth * (i + 1));
    SendMessageW(StatusBar1, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(edges));

    // The send pane sees typed characters first; every pane keeps Tab and Esc
    // for the window rather than for itself.
    for (HWND edit : {Memo2, Memo1, MemoRX.Handle(), MEMORXHEX.Handle(), MemoTX})
        SetWindowSubclass(edit, PaneProc, 1, reinterpret_cast<DWORD_PTR>(this));

    Hints = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle, nullptr, instance_,
                            nullptr);
    hintTexts_.reserve(6);
    addHint(bSettings, L"RS232 port settings");
    addHint(MemoTX, L"Any text (including Esc and Ctrl chars) to send to the TNC");
    addHint(bClearTNC, L"Clear the TNC send  field");
    addHint(MemoRX.Handle(), L"TNC RX");
    addHint(MEMORXHEX.Handle(), L"TNC RX HEX");
    addHint(Memo1, L"Decoded info");

    layoutControls();
}

void TForm1::addHint(HWND control, const wchar_t* text) {
    hintTexts_.emplace_back(text);
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
    const int w = MulDiv(client.right, 96, win32::ScreenDpi());
    const int h = MulDiv(client.bottom, 96, win32::ScreenDpi());
    auto place = [](HWND c, int x, int y, int cw, int ch) {
        MoveWindow(c, Scaled(x), Scaled(y), Scaled(std::max(0, cw)), Scaled(std::max(0, ch)), TRUE);
    };
    place(GroupBox2, 0, 0, w, kTopBandHeight);
    const int bandInner = kTopBandHeight - kGroupInsetTop - kGroupInset;
    Panel1 = RECT{kGroupInset, kGroupInsetTop, kGroupInset + 111, kGroupInsetTop + bandInner};
    place(bSettings, Panel1.left + 16, Panel1.top, 75, 25);
    place(bClear, Panel1.left + 17, Panel1.top + 32, 73, 33);
    place(Memo2, kGroupInset + 111, kGroupInsetTop, 368, bandInner);
    place(GroupBox3, 480, 0, 481, kTopBandHeight);
    place(MemoTX, 488, 18, 385, 71);
    place(bClearTNC, 879, 17, 67, 73);

    const int paneTop = kTopBandHeight;
    const int paneHeight = std::max(0, h - kTopBandHeight - kStatusBarHeight);
    place(GroupBox1, 0, paneTop, 961, paneHeight);
    const int inner = paneHeight - kGroupInsetTop - kGroupInset;
    place(MemoRX.Handle(), kGroupInset, paneTop + kGroupInsetTop, 343, inner);
    place(MEMORXHEX.Handle(), kGroupInset + 343, paneTop + kGroupInsetTop, 265, inner);
    const int memo1Left = kGroupInset + 343 + 265;
    place(Memo1, memo1Left, paneTop + kGroupInsetTop, 961 - kGroupInset - memo1Left, inner);
    MoveWindow(StatusBar1, 0, client.bottom - Scaled(kStatusBarHeight), client.right, Scaled(kStatusBarHeight), TRUE);
}

// ---- Messages ----------------------------------------------------------------

LRESULT CALLBACK TForm1::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->Handle = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TForm1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    // Nothing throws through the system's dispatch.
    try {
        return self->handle(message, wParam, lParam);
    } catch (...) {
        ShowCurrentException();
        return 0;
    }
}

LRESULT TForm1::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        if (StatusBar1)
            layoutControls();
        return 0;
    case WM_COMMAND:
        // Buttons (BN_CLICKED) and the accelerator table (1).
        if ((lParam && HIWORD(wParam) == BN_CLICKED) || (!lParam && HIWORD(wParam) == 1))
            command(LOWORD(wParam));
        return 0;
    case WM_TIMER:
        timer(wParam);
        return 0;
    case TWin32Mailbox::kMessage:
        Guarded([this] { mailbox_.ServicePending(); });
        return 0;
    case kContinueMessage:
        // Input, painting and the timers come first: a stream that never
        // pauses must not freeze the window.
        if (HIWORD(GetQueueStatus(QS_INPUT | QS_PAINT | QS_TIMER)))
            SetTimer(Handle, tmContinue, USER_TIMER_MINIMUM, nullptr);
        else
            Guarded([this] { station_.continueReceive(); });
        return 0;
    case WM_CLOSE:
        closeWindow();
        return 0;
    case WM_QUERYENDSESSION:
        // The session may end: no box may stand in the way.
        CloseReports();
        DismissModals();
        return TRUE;
    case WM_ENDSESSION:
        // The process may end without another message: shut down now.
        if (wParam)
            Guarded([this] { FormClose(); });
        else
            ReopenReports();  // called off: the program goes on
        return 0;
    case WM_DESTROY:
        KillTimer(Handle, tmTimer1);
        KillTimer(Handle, tmTimerX);
        KillTimer(Handle, tmDisplay);
        KillTimer(Handle, tmContinue);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(Handle, message, wParam, lParam);
}

void TForm1::closeWindow() {
    CloseReports();  // no report opens from here on, not even one queued before
    if (TModalScope::Depth() > 0) {
        // A box or the dialog is up with its own loop: dismiss it first.
        CloseAfterModals(Handle);
        return;
    }
    Guarded([this] { FormClose(); });
    DestroyWindow(Handle);
}

void TForm1::command(WORD id) {
    switch (id) {
    case idSettings: Guarded([this] { bSettingsClick(); }); break;
    case idClear: Guarded([this] { bClearClick(); }); break;
    case idClearTNC: Guarded([this] { bClearTNCClick(); }); break;
    case idTest: Guarded([this] { aTestExecute(); }); break;
    case idM4: Guarded([this] { aM4Execute(); }); break;
    case idTNCSend: Guarded([this] { aTNCSendExecute(); }); break;
    }
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
    }
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
        if (msg && msg->message == WM_KEYDOWN && msg->wParam == VK_TAB)
            code &= ~static_cast<LRESULT>(DLGC_WANTALLKEYS | DLGC_WANTTAB);  // Tab moves on
        return code;
    }
    case WM_KEYDOWN:
        // A multi-line edit would close its parent on Esc; the character
        // still comes as WM_CHAR.
        if (wParam == VK_ESCAPE)
            return 0;
        break;
    case WM_CHAR:
        if (pane == MemoTX && wParam < 256) {
            char key = static_cast<char>(wParam);
            try {
                MemoTXKeyPress(key);
            } catch (...) {
                ShowCurrentException();
                return 0;  // a failed send is not inserted either
            }
        }
        if (wParam == 27)
            return 0;
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(pane, PaneProc, 1);
        break;
    }
    return DefSubclassProc(pane, message, wParam, lParam);
}

// ---- Start-up and shut-down -----------------------------------------------------

void TForm1::FormCreate() { station_.FormCreate(); }

void TForm1::FormClose() { station_.FormClose(); }

// ---- Buttons and timers ---------------------------------------------------------

void TForm1::bClearClick() { station_.bClearClick(); }

void TForm1::bSettingsClick() {
    station_.bSettingsClick([this] { RunSetupDialog(CPort, Handle); });
    SetFocus(bSettings);
}

void TForm1::Timer1Timer() { station_.Timer1Timer(); }

// ---- Test generator and TNC send pane -------------------------------------------

void TForm1::aInitExecute() { station_.aInitExecute(); }

void TForm1::aFillBufferExecute() { station_.aFillBufferExecute(); }

void TForm1::aTestExecute() { station_.aTestExecute(); }

void TForm1::aM4Execute() { station_.aM4Execute(); }

void TForm1::TimerXTimer() { station_.TimerXTimer(); }

void TForm1::MemoTXKeyPress(char& Key) { station_.MemoTXKeyPress(Key); }

void TForm1::aTNCSendExecute() { station_.aTNCSendExecute(PaneText(MemoTX)); }

void TForm1::bClearTNCClick() { SetWindowTextW(MemoTX, L""); }

// ---- The view -------------------------------------------------------------------

void TForm1::appendReceived(RxPane pane, std::string_view text) {
    (pane == RxPane::Text ? MemoRX : MEMORXHEX).appendText(text);
}

void TForm1::showStatus(StatusPanel panel, std::string_view text) {
    SendMessageW(StatusBar1, SB_SETTEXTW, WPARAM(panel), reinterpret_cast<LPARAM>(win32::Widen(text).c_str()));
}

void TForm1::showDecodedText(std::string_view text) {
    SetWindowTextW(Memo1, win32::WidenLines(text).c_str());
}

void TForm1::clearPanes() {
    SetWindowTextW(Memo1, L"");
    MEMORXHEX.clear();
    MemoRX.clear();
}

void TForm1::trimPanes() {
    MemoRX.trimToLines(TWin32RxPane::kTrimLines);
    MEMORXHEX.trimToLines(TWin32RxPane::kTrimLines);
}

void TForm1::showMessage(const std::string& text) { ShowMessage(text); }

void TForm1::setStreamTimer(bool on) {
    if (on)
        SetTimer(Handle, tmTimerX, 10, nullptr);
    else
        KillTimer(Handle, tmTimerX);
}

void TForm1::continueSoon() { PostMessageW(Handle, kContinueMessage, 0, 0); }

void TForm1::beep() { MessageBeep(MB_OK); }

void TForm1::displaySoon() {
    SetTimer(Handle, tmDisplay, static_cast<UINT>(Station::kDisplayInterval.count()), nullptr);
}

}  // namespace kestrel
