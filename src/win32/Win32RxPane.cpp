// The Win32 receive pane: draws the model's lines in view (see Win32RxPane.h).

#include "win32/Win32RxPane.h"

#include <windowsx.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kestrel {
namespace {

enum MenuCommand : UINT { kCopy = 1, kSelectAll };

std::wstring Shown(std::string_view line) {
    std::wstring s(line.size(), L' ');
    for (std::size_t i = 0; i < line.size(); ++i)
        s[i] = wchar_t(PaneGlyph(line[i]));
    return s;
}

}  // namespace

void TWin32RxPane::Register(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32513));  // the I-beam
    wc.lpszClassName = kClassName;
    RegisterClassExW(&wc);  // a second registration fails harmlessly
}

void TWin32RxPane::Attach(HWND window, HFONT font) {
    window_ = window;
    font_ = font;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    fitToClient();
}

LRESULT CALLBACK TWin32RxPane::Proc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TWin32RxPane*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(window, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        return DefWindowProcW(window, msg, wParam, lParam);
    }
    return self->message(msg, wParam, lParam);
}

void TWin32RxPane::appendText(std::string_view text) {
    if (text.empty())
        return;
    model_.append(text);
    showChanges(!model_.following());
}

void TWin32RxPane::trimToLines(int maxLines) {
    model_.trim(maxLines);
    showChanges();
}

void TWin32RxPane::clear() {
    model_.clear();
    showChanges();
}

void TWin32RxPane::fitToClient() {
    if (!window_)
        return;
    HDC dc = GetDC(window_);
    HGDIOBJ old = SelectObject(dc, font_ ? static_cast<HGDIOBJ>(font_) : GetStockObject(SYSTEM_FIXED_FONT));
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SIZE zero{};
    GetTextExtentPoint32W(dc, L"0", 1, &zero);
    SelectObject(dc, old);
    ReleaseDC(window_, dc);
    cellWidth_ = std::max<int>(1, zero.cx);
    lineHeight_ = std::max<int>(1, tm.tmHeight);
    RECT client{};
    GetClientRect(window_, &client);
    // Where a multi-line edit control of this size and font would put its
    // text: the pane wraps its lines at the same width as the panes before it.
    RECT text = client;
    if (HWND probe = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_MULTILINE, 0, 0, client.right, client.bottom,
                                     window_, nullptr, nullptr, nullptr)) {
        SendMessageW(probe, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        SendMessageW(probe, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text));
        DestroyWindow(probe);
    }
    textLeft_ = text.left;
    model_.setColumns((text.right - text.left) / cellWidth_);
    model_.setRows(std::max<int>(1, client.bottom / lineHeight_));
    showChanges();
}

void TWin32RxPane::showChanges(bool scrollBar) {
    if (!window_)
        return;
    const int max = std::max(0, model_.lineCount() - 1), page = model_.rows(), pos = model_.top();
    if (scrollBar && (max != shownMax_ || page != shownPage_ || pos != shownPos_)) {
        SCROLLINFO si{};
        si.cbSize = sizeof si;
        // Always shown, so the wrap width never changes under the text.
        si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
        si.nMax = max;
        si.nPage = UINT(page);
        si.nPos = pos;
        SetScrollInfo(window_, SB_VERT, &si, TRUE);
        shownMax_ = max, shownPage_ = page, shownPos_ = pos;
    }
    const RxPaneModel::Repaint r = model_.takeRepaint();
    if (r.all) {
        InvalidateRect(window_, nullptr, FALSE);
        return;
    }
    if (r.scrollLines > 0)
        ScrollWindowEx(window_, 0, -r.scrollLines * lineHeight_, nullptr, nullptr, nullptr, nullptr, SW_INVALIDATE);
    RECT client{};
    GetClientRect(window_, &client);
    client.top = r.firstRow * lineHeight_;
    if (client.top < client.bottom)
        InvalidateRect(window_, &client, FALSE);
}

void TWin32RxPane::paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window_, &ps);
    RECT client{};
    GetClientRect(window_, &client);
    HGDIOBJ old = SelectObject(dc, font_ ? static_cast<HGDIOBJ>(font_) : GetStockObject(SYSTEM_FIXED_FONT));
    const COLORREF back = GetSysColor(COLOR_WINDOW), text = GetSysColor(COLOR_WINDOWTEXT);
    std::vector<INT> advances;
    const int top = model_.top();
    int y = 0;
    for (int i = top; i < model_.lineCount() && y < client.bottom; ++i, y += lineHeight_) {
        if (y + lineHeight_ <= ps.rcPaint.top || y >= ps.rcPaint.bottom)
            continue;
        const std::wstring shown = Shown(model_.line(i));
        advances.assign(shown.size(), cellWidth_);
        RECT band{client.left, y, client.right, y + lineHeight_};
        // One call draws the line and clears its band.
        SetBkColor(dc, back);
        SetTextColor(dc, text);
        ExtTextOutW(dc, textLeft_, y, ETO_OPAQUE | ETO_CLIPPED, &band, shown.c_str(), UINT(shown.size()),
                    advances.data());
        const RxPaneModel::Columns sel = model_.selectedColumns(i);
        if (sel.first == sel.last)
            continue;
        RECT marked{textLeft_ + sel.first * cellWidth_, y, textLeft_ + sel.last * cellWidth_, y + lineHeight_};
        SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
        SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
        ExtTextOutW(dc, marked.left, y, ETO_OPAQUE | ETO_CLIPPED, &marked, shown.c_str() + sel.first,
                    UINT(sel.last - sel.first), advances.data());
    }
    if (y < client.bottom) {
        RECT rest{client.left, y, client.right, client.bottom};
        SetBkColor(dc, back);
        ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rest, nullptr, 0, nullptr);
    }
    SelectObject(dc, old);
    EndPaint(window_, &ps);
}

void TWin32RxPane::scrollBar(int request) {
    using Step = RxPaneModel::Step;
    switch (request) {
    case SB_LINEUP: model_.scroll(Step::LineUp); break;
    case SB_LINEDOWN: model_.scroll(Step::LineDown); break;
    case SB_PAGEUP: model_.scroll(Step::PageUp); break;
    case SB_PAGEDOWN: model_.scroll(Step::PageDown); break;
    case SB_TOP: model_.scroll(Step::Top); break;
    case SB_BOTTOM: model_.scroll(Step::End); break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
        SCROLLINFO si{};
        si.cbSize = sizeof si;
        si.fMask = SIF_TRACKPOS;
        GetScrollInfo(window_, SB_VERT, &si);
        model_.scrollTo(si.nTrackPos);
        break;
    }
    default: return;
    }
    showChanges();
}

RxPaneModel::Pos TWin32RxPane::positionAt(LPARAM point) const {
    return model_.positionAtPoint(GET_X_LPARAM(point) - textLeft_, GET_Y_LPARAM(point), cellWidth_, lineHeight_);
}

void TWin32RxPane::copy() const {
    if (!model_.hasSelection() || !OpenClipboard(window_))
        return;
    std::wstring text;
    for (char c : model_.selectedText()) {
        if (c == '\n')
            text += L'\r';
        text += wchar_t(static_cast<unsigned char>(c));
    }
    EmptyClipboard();
    if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t))) {
        std::copy_n(text.c_str(), text.size() + 1, static_cast<wchar_t*>(GlobalLock(memory)));
        GlobalUnlock(memory);
        if (!SetClipboardData(CF_UNICODETEXT, memory))
            GlobalFree(memory);
    }
    CloseClipboard();
}

LRESULT TWin32RxPane::message(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SETFONT:
        font_ = reinterpret_cast<HFONT>(wParam);
        fitToClient();
        return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(font_);
    case WM_SIZE: fitToClient(); return 0;
    case WM_ERASEBKGND: return 1;  // the paint covers every pixel
    case WM_PAINT: paint(); return 0;
    case WM_VSCROLL: scrollBar(LOWORD(wParam)); return 0;
    case WM_MOUSEWHEEL:
        model_.scrollBy(-GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA * 3);
        showChanges();
        return 0;
    case WM_GETDLGCODE: return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_LBUTTONDOWN: {
        SetFocus(window_);
        SetCapture(window_);
        model_.press(positionAt(lParam), (wParam & MK_SHIFT) != 0);
        showChanges();
        return 0;
    }
    case WM_MOUSEMOVE:
        if (GetCapture() != window_)
            return 0;
        {
            RECT client{};
            GetClientRect(window_, &client);
            model_.drag(GET_X_LPARAM(lParam) - textLeft_, GET_Y_LPARAM(lParam), cellWidth_, lineHeight_, client.bottom);
        }
        showChanges();
        return 0;
    case WM_LBUTTONUP:
        if (GetCapture() == window_)
            ReleaseCapture();
        return 0;
    case WM_KEYDOWN: {
        const bool ctrl = GetKeyState(VK_CONTROL) < 0;
        if (ctrl && (wParam == 'C' || wParam == VK_INSERT)) {
            copy();
            return 0;
        }
        if (ctrl && wParam == 'A') {
            model_.selectAll();
            showChanges();
            return 0;
        }
        const int before = model_.top();
        switch (wParam) {
        case VK_UP: scrollBar(SB_LINEUP); break;
        case VK_DOWN: scrollBar(SB_LINEDOWN); break;
        case VK_PRIOR: scrollBar(SB_PAGEUP); break;
        case VK_NEXT: scrollBar(SB_PAGEDOWN); break;
        case VK_HOME: scrollBar(SB_TOP); break;
        case VK_END: scrollBar(SB_BOTTOM); break;
        default: break;
        }
        if (model_.top() != before)
            return 0;
        break;
    }
    case WM_CONTEXTMENU: {
        HMENU menu = CreatePopupMenu();
        AppendMenuW(menu, MF_STRING | (model_.hasSelection() ? 0 : MF_GRAYED), kCopy, L"&Copy\tCtrl+C");
        AppendMenuW(menu, MF_STRING, kSelectAll, L"Select &All\tCtrl+A");
        POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (at.x == -1 && at.y == -1) {  // from the keyboard
            at = POINT{0, 0};
            ClientToScreen(window_, &at);
        }
        const UINT chosen =
            UINT(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, window_, nullptr));
        DestroyMenu(menu);
        if (chosen == kCopy)
            copy();
        else if (chosen == kSelectAll) {
            model_.selectAll();
            showChanges();
        }
        return 0;
    }
    default: break;
    }
    return DefWindowProcW(window_, msg, wParam, lParam);
}

}  // namespace kestrel
