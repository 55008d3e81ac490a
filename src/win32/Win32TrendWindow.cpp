// The trend window on Win32 (see Win32TrendWindow.h).
//
// Sections:
//   The window  its controls and layout, beacons fed live, a file opened
//   Messages    the window's and the canvas's messages, painting the display
//               list from the off-screen bitmap
//   Commands    the tool bar: open an archive or a file, save a PNG

#include "win32/Win32TrendWindow.h"

#include "plot/TrendDesign.h"
#include "station/Report.h"
#include "win32/Win32DisplayList.h"
#include "win32/Win32Util.h"

#include <commctrl.h>
#include <commdlg.h>
#include <initguid.h>  // the WIC class and format identifiers, defined here
#include <shlobj.h>
#include <wincodec.h>
#include <windowsx.h>

#include <cmath>
#include <optional>
#include <stdexcept>
#include <vector>

namespace kestrel {
namespace {

namespace td = plot::design;  // the trend window's (design:: is the main window's)
using win32::Scaled;

constexpr int kFirstButton = 100;
constexpr int kOtherTab = 99;  // Ctrl+Tab

// The canvas's keys as the view names them.
std::optional<plot::TrendKey> TrendKeyOf(WPARAM key) {
    using plot::TrendKey;
    switch (key) {
    case VK_LEFT: return TrendKey::Left;
    case VK_RIGHT: return TrendKey::Right;
    case VK_UP: return TrendKey::Up;
    case VK_DOWN: return TrendKey::Down;
    case VK_HOME: return TrendKey::Home;
    case VK_END: return TrendKey::End;
    case VK_PRIOR: return TrendKey::PageUp;
    case VK_NEXT: return TrendKey::PageDown;
    case VK_RETURN: return TrendKey::Enter;
    case VK_ESCAPE: return TrendKey::Escape;
    }
    return std::nullopt;
}

// Writes a bitmap as a PNG through the system's imaging component; the
// reason when it cannot.
std::string SavePng(HBITMAP bitmap, const std::wstring& path) {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    struct Release {
        void operator()(IUnknown* p) const { p->Release(); }
    };
    std::string error;
    IWICImagingFactory* factory = nullptr;
    IWICBitmap* source = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    IPropertyBag2* properties = nullptr;
    UINT width = 0, height = 0;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(hr))
        hr = factory->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapIgnoreAlpha, &source);
    if (SUCCEEDED(hr))
        hr = source->GetSize(&width, &height);
    if (SUCCEEDED(hr))
        hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr))
        hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
    if (FAILED(hr) && error.empty() && stream)
        error = "cannot write the file";
    if (SUCCEEDED(hr))
        hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
    if (SUCCEEDED(hr))
        hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr))
        hr = encoder->CreateNewFrame(&frame, &properties);
    if (SUCCEEDED(hr))
        hr = frame->Initialize(properties);
    if (SUCCEEDED(hr))
        hr = frame->SetSize(width, height);
    if (SUCCEEDED(hr))
        hr = frame->SetPixelFormat(&format);
    if (SUCCEEDED(hr))
        hr = frame->WriteSource(source, nullptr);
    if (SUCCEEDED(hr))
        hr = frame->Commit();
    if (SUCCEEDED(hr))
        hr = encoder->Commit();
    for (IUnknown* p : std::initializer_list<IUnknown*>{properties, frame, encoder, stream, source, factory})
        if (p)
            Release()(p);
    if (FAILED(hr) && error.empty())
        error = "the picture could not be encoded (error 0x" + [hr] {
            char buf[16];
            wsprintfA(buf, "%08lX", static_cast<unsigned long>(hr));
            return std::string(buf);
        }() + ")";
    if (SUCCEEDED(init))
        CoUninitialize();
    return error;
}

void RegisterClasses(HINSTANCE instance, WNDPROC window, WNDPROC canvas) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = window;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = TWin32TrendWindow::kClassName;
    RegisterClassExW(&wc);  // a second registration fails harmlessly
    // A double-click zooms; a new size lays out the whole canvas anew, so
    // all of it is painted again.
    wc.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = canvas;
    wc.hIcon = nullptr;
    wc.hbrBackground = nullptr;  // the canvas covers every pixel
    wc.lpszClassName = TWin32TrendWindow::kCanvasClassName;
    RegisterClassExW(&wc);
}

}  // namespace

// ---- The window ------------------------------------------------------------------------

TWin32TrendWindow::TWin32TrendWindow(HINSTANCE instance, bool endsProgram)
    : instance_(instance), endsProgram_(endsProgram) {
    RegisterClasses(
        instance, win32::WindowProcOf<TWin32TrendWindow, &TWin32TrendWindow::window_, &TWin32TrendWindow::handle>,
        win32::WindowProcOf<TWin32TrendWindow, &TWin32TrendWindow::canvas_, &TWin32TrendWindow::canvasMessage>);
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    RECT r{0, 0, Scaled(td::kClientWidth), Scaled(td::kClientHeight)};
    AdjustWindowRectEx(&r, style, FALSE, 0);
    CreateWindowExW(0, kClassName, toUtf16(td::kCaption).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                    r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance, this);
    if (!window_)
        throw std::runtime_error("The trend window cannot be created");
    build();
}

TWin32TrendWindow::~TWin32TrendWindow() {
    if (window_ && IsWindow(window_)) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
    if (buffer_)
        DeleteObject(buffer_);
    if (font_)
        DeleteObject(font_);
    if (accelerators_)
        DestroyAcceleratorTable(accelerators_);
}

void TWin32TrendWindow::build() {
    font_ = win32::MakeFont(L"Tahoma", 13, false, false);
    HDC dc = GetDC(window_);
    const HGDIOBJ old = SelectObject(dc, font_);
    hints_ =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance_, nullptr);
    for (int c = 0; c < td::kCommandCount; ++c) {
        const td::ToolButton& b = td::kToolButtons[std::size_t(c)];
        const std::wstring caption = toUtf16(b.caption);
        SIZE size{};
        GetTextExtentPoint32W(dc, caption.c_str(), int(caption.size()), &size);
        HWND button = CreateWindowExW(
            0, WC_BUTTONW, caption.c_str(),
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | (b.toggle ? BS_AUTOCHECKBOX | BS_PUSHLIKE : BS_PUSHBUTTON), 0, 0,
            size.cx + Scaled(24), 0, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstButton + c)),
            instance_, nullptr);
        SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        buttons_[std::size_t(c)] = button;
        hintTexts_[std::size_t(c)] = toUtf16(td::HintWithKey(b));
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = window_;
        tool.uId = reinterpret_cast<UINT_PTR>(button);
        tool.lpszText = hintTexts_[std::size_t(c)].data();
        SendMessageW(hints_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    SelectObject(dc, old);
    ReleaseDC(window_, dc);

    tabs_ = CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | TCS_TABS, 0,
                            0, 0, 0, window_, nullptr, instance_, nullptr);
    SendMessageW(tabs_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    for (std::size_t t = 0; t < td::kTabs.size(); ++t) {
        std::wstring text = toUtf16(td::kTabs[t]);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = text.data();
        SendMessageW(tabs_, TCM_INSERTITEMW, t, reinterpret_cast<LPARAM>(&item));
    }
    CreateWindowExW(0, kCanvasClassName, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 0, 0, window_, nullptr,
                    instance_, this);
    status_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, window_,
                              nullptr, instance_, nullptr);
    SendMessageW(status_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    // The buttons' Ctrl+letters and Ctrl+Tab, wherever the focus is.
    std::vector<ACCEL> keys;
    for (int c = 0; c < td::kCommandCount; ++c)
        keys.push_back({FVIRTKEY | FCONTROL, WORD(td::kToolButtons[std::size_t(c)].key), WORD(kFirstButton + c)});
    keys.push_back({FVIRTKEY | FCONTROL, VK_TAB, kOtherTab});
    accelerators_ = CreateAcceleratorTableW(keys.data(), int(keys.size()));
    layout();
    updateStatus();
}

bool TWin32TrendWindow::PreTranslate(MSG& msg) {
    if (!window_ || (msg.hwnd != window_ && !IsChild(window_, msg.hwnd)))
        return false;
    if (TranslateAcceleratorW(window_, accelerators_, &msg))
        return true;
    return IsDialogMessageW(window_, &msg) != FALSE;  // Tab from control to control
}

float TWin32TrendWindow::scale() const { return float(win32::ScreenDpi()) / 96.f; }

void TWin32TrendWindow::layout() {
    if (!status_)
        return;
    RECT client{};
    GetClientRect(window_, &client);
    const int band = Scaled(td::kToolBarHeight), tabHeight = Scaled(td::kTabHeight);
    int x = Scaled(4);
    for (HWND b : buttons_) {
        RECT r{};
        GetWindowRect(b, &r);
        MoveWindow(b, x, Scaled(3), r.right - r.left, band - Scaled(6), TRUE);
        x += r.right - r.left + Scaled(4);
    }
    SendMessageW(status_, WM_SIZE, 0, 0);
    RECT s{};
    GetWindowRect(status_, &s);
    const int statusHeight = s.bottom - s.top;
    MoveWindow(tabs_, 0, band, client.right, tabHeight, TRUE);
    const int top = band + tabHeight;
    const int height = std::max(0, int(client.bottom) - top - statusHeight);
    MoveWindow(canvas_, 0, top, client.right, height, TRUE);
    view().setSize(int(float(client.right) / scale()), int(float(height) / scale()));
}

void TWin32TrendWindow::Show(int showCommand) {
    ShowWindow(window_, IsIconic(window_) ? SW_RESTORE : showCommand);
    SetForegroundWindow(window_);
    if (!IsChild(window_, GetFocus()))
        SetFocus(buttons_[0]);  // first in the tab order, as on Qt
    changed();
}

void TWin32TrendWindow::addBeacon(const BeaconRecord& record, const SystemTime& utc) {
    const plot::TrendView::Damage d = model_.addBeacon(record, utc, IsWindowVisible(window_) != FALSE);
    if (d.all)
        InvalidateRect(canvas_, nullptr, FALSE);
    for (const plot::RectF& r : d.rects)
        repaint(r);
    if (d.all || !d.rects.empty())
        updateStatus();
}

// A part of the canvas in the list's pixels, painted again; a pixel more on
// each side for the rounding of the screen's scale.
void TWin32TrendWindow::repaint(const plot::RectF& r) {
    const float s = scale();
    const RECT area{LONG(std::floor(r.left * s)) - 1, LONG(std::floor(r.top * s)) - 1,
                    LONG(std::ceil(r.right() * s)) + 1, LONG(std::ceil(r.bottom() * s)) + 1};
    InvalidateRect(canvas_, &area, FALSE);
}

void TWin32TrendWindow::open(const std::filesystem::path& path) {
    model_.open(path);
    changed();
}

void TWin32TrendWindow::openEarlier(const std::filesystem::path& station, const std::filesystem::path& thisRunsLog) {
    model_.openEarlier(station, thisRunsLog);
    changed();
}

void TWin32TrendWindow::setStation(std::optional<plot::GeoPoint> station) {
    model_.setStation(station);
    changed();
}

void TWin32TrendWindow::changed() {
    view().takeDamage();  // all of it
    InvalidateRect(canvas_, nullptr, FALSE);
    updateStatus();
}

std::wstring TWin32TrendWindow::statusText() const { return win32::WindowText(status_); }

void TWin32TrendWindow::updateStatus() {
    const std::wstring shown = toUtf16(model_.statusText());
    SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(shown.c_str()));
    SetWindowTextW(status_, shown.c_str());
    // What a screen reader calls the canvas: what it shows.
    SetWindowTextW(canvas_, toUtf16(view().summary()).c_str());
}

void TWin32TrendWindow::showTab(int tab) {
    SendMessageW(tabs_, TCM_SETCURSEL, WPARAM(tab), 0);
    view().setTab(tab == 1 ? plot::TrendTab::GroundTrack : plot::TrendTab::Plots);
    changed();
}

// ---- Messages ----------------------------------------------------------------------

LRESULT TWin32TrendWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE: layout(); return 0;
    case WM_GETMINMAXINFO: {
        // The design's least client area, as the Qt window keeps it.
        RECT least{0, 0, Scaled(td::kMinimumWidth), Scaled(td::kMinimumHeight)};
        AdjustWindowRectEx(&least, DWORD(GetWindowLongPtrW(window_, GWL_STYLE)), FALSE,
                           DWORD(GetWindowLongPtrW(window_, GWL_EXSTYLE)));
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = {least.right - least.left, least.bottom - least.top};
        return 0;
    }
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (HIWORD(wParam) == 1 && id == kOtherTab)  // an accelerator
            showTab(1 - int(SendMessageW(tabs_, TCM_GETCURSEL, 0, 0)));
        else if (HIWORD(wParam) == 1 && id >= kFirstButton && id < kFirstButton + td::kCommandCount)
            SendMessageW(buttons_[std::size_t(id - kFirstButton)], BM_CLICK, 0, 0);  // as clicked: a toggle toggles
        else if (HIWORD(wParam) == BN_CLICKED && id >= kFirstButton)
            command(id - kFirstButton);
        else if (id == IDCANCEL && view().back())  // Esc where the canvas does not take it
            changed();
        return 0;
    }
    case WM_NOTIFY: {
        const auto* n = reinterpret_cast<const NMHDR*>(lParam);
        if (n->hwndFrom == tabs_ && n->code == TCN_SELCHANGE)
            showTab(int(SendMessageW(tabs_, TCM_GETCURSEL, 0, 0)));
        return 0;
    }
    case WM_CLOSE:
        if (endsProgram_)
            DestroyWindow(window_);
        else
            ShowWindow(window_, SW_HIDE);  // the main window feeds it on
        return 0;
    case WM_DESTROY:
        if (endsProgram_)
            PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT TWin32TrendWindow::canvasMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const float s = scale();
    const float x = float(GET_X_LPARAM(lParam)) / s, y = float(GET_Y_LPARAM(lParam)) / s;
    switch (message) {
    case WM_ERASEBKGND: return 1;  // the paint covers every pixel
    case WM_PAINT: paintCanvas(); return 0;
    case WM_MOUSEMOVE:
        if (!tracking_) {
            TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, canvas_, 0};
            tracking_ = TrackMouseEvent(&t) != FALSE;
        }
        if (view().pointerMoved(x, y))
            InvalidateRect(canvas_, nullptr, FALSE);
        return 0;
    case WM_MOUSELEAVE:
        tracking_ = false;
        if (view().pointerLeft())
            InvalidateRect(canvas_, nullptr, FALSE);
        return 0;
    case WM_LBUTTONDOWN: SetFocus(canvas_); return 0;
    case WM_LBUTTONDBLCLK:
        if (view().doubleClicked(x, y))
            changed();
        return 0;
    // The arrows, and Enter and Esc, are the canvas's; Tab still moves on.
    case WM_GETDLGCODE: {
        const auto* msg = reinterpret_cast<const MSG*>(lParam);
        const bool enterOrEsc =
            msg && msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE);
        return DLGC_WANTARROWS | (enterOrEsc ? DLGC_WANTMESSAGE : 0);
    }
    case WM_KEYDOWN:
        if (const auto key = TrendKeyOf(wParam); key && GetKeyState(VK_CONTROL) >= 0 && view().key(*key))
            changed();
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        view().setFocused(message == WM_SETFOCUS);
        changed();
        return 0;
    }
    return DefWindowProcW(canvas_, message, wParam, lParam);
}

void TWin32TrendWindow::paintCanvas() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(canvas_, &ps);
    RECT client{};
    GetClientRect(canvas_, &client);
    RECT area = ps.rcPaint;
    if (!buffer_ || bufferSize_.cx != client.right || bufferSize_.cy != client.bottom) {
        if (buffer_)
            DeleteObject(buffer_);
        buffer_ = CreateCompatibleBitmap(dc, std::max<LONG>(1, client.right), std::max<LONG>(1, client.bottom));
        bufferSize_ = {client.right, client.bottom};
        area = client;  // a new buffer holds nothing yet
    }
    HDC memory = CreateCompatibleDC(dc);
    const HGDIOBJ old = SelectObject(memory, buffer_);
    // Only the part asked for (a live beacon's columns) is drawn again; the
    // rest of the buffer still holds it.
    IntersectClipRect(memory, area.left, area.top, area.right, area.bottom);
    // The list is in 96-dpi pixels: the screen's scale on top.
    SetGraphicsMode(memory, GM_ADVANCED);
    const float s = scale();
    const XFORM scaling{s, 0, 0, s, 0, 0};
    SetWorldTransform(memory, &scaling);
    const plot::RectF clip{float(area.left) / s - 1, float(area.top) / s - 1, float(area.right - area.left) / s + 2,
                           float(area.bottom - area.top) / s + 2};
    DrawDisplayList(memory, view().display(), clip);
    ModifyWorldTransform(memory, nullptr, MWT_IDENTITY);
    BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, memory, area.left, area.top,
           SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    EndPaint(canvas_, &ps);
}

// ---- Commands ----------------------------------------------------------------------

void TWin32TrendWindow::command(int id) {
    switch (id) {
    case td::OpenArchive: Guarded([this] { askOpenArchive(); }); break;
    case td::OpenFile: Guarded([this] { askOpenFile(); }); break;
    case td::SavePng: Guarded([this] { askSavePng(); }); break;
    case td::RealTime: {
        const bool on = SendMessageW(buttons_[td::RealTime], BM_GETCHECK, 0, 0) == BST_CHECKED;
        view().setRealTime(on);
        changed();
        break;
    }
    }
}

void TWin32TrendWindow::askOpenArchive() {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    BROWSEINFOW info{};
    info.hwndOwner = window_;
    info.lpszTitle = L"Open an archive (the folder holding Telemetry)";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    if (PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info)) {
        wchar_t path[MAX_PATH] = {};
        if (SHGetPathFromIDListW(chosen, path))
            open(std::filesystem::path(path));
        CoTaskMemFree(chosen);
    }
    if (SUCCEEDED(init))
        CoUninitialize();
}

void TWin32TrendWindow::askOpenFile() {
    wchar_t path[MAX_PATH] = {};
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window_;
    ofn.lpstrFilter = L"BeaconTextLogs and CSV (*.txt;*.csv)\0*.txt;*.csv\0All files (*.*)\0*.*\0";
    ofn.lpstrFile = path;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrTitle = L"Open a BeaconTextLog or a beacon CSV";
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (GetOpenFileNameW(&ofn))
        open(std::filesystem::path(path));
}

void TWin32TrendWindow::askSavePng() {
    wchar_t path[MAX_PATH] = L"trends.png";
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window_;
    ofn.lpstrFilter = L"PNG images (*.png)\0*.png\0";
    ofn.lpstrFile = path;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = L"png";
    ofn.lpstrTitle = L"Save as PNG";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetSaveFileNameW(&ofn))
        return;
    UpdateWindow(canvas_);  // the buffer holds what is shown
    const std::string error = buffer_ ? SavePng(buffer_, path) : "nothing is shown";
    if (error.empty())
        model_.saved();
    else
        model_.notSaved(win32::Narrow(path), error);
    updateStatus();
}

}  // namespace kestrel
