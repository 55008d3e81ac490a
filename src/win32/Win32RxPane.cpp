// The Win32 receive pane: draws the model's rows in view and maps the
// keyboard and the mouse to it (see Win32RxPane.h).
//
// In order: the window class and attaching; the model fed (append, trim,
// clear); the model fitted to the client area and the scroll bar kept with it;
// painting the rows in view and the caret; the scroll bar's requests; cut and
// paste; keys and typed characters handed to the model; the context menu; the
// message procedure.

#include "win32/Win32RxPane.h"

#include "station/RxPaneKeys.h"
#include "win32/Win32Util.h"

#include <windowsx.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {
namespace {

std::wstring Shown(std::string_view line) {
    std::wstring s(line.size(), L' ');
    for (std::size_t i = 0; i < line.size(); ++i)
        s[i] = wchar_t(PaneGlyph(line[i]));
    return s;
}

bool Held(int key) { return GetKeyState(key) < 0; }

// The pane's keys by the names the rule (station/RxPaneKeys.h) knows.
std::optional<PaneEditKey> EditKeyOf(WPARAM key) {
    switch (key) {
    case VK_LEFT: return PaneEditKey::Left;
    case VK_RIGHT: return PaneEditKey::Right;
    case VK_UP: return PaneEditKey::Up;
    case VK_DOWN: return PaneEditKey::Down;
    case VK_PRIOR: return PaneEditKey::PageUp;
    case VK_NEXT: return PaneEditKey::PageDown;
    case VK_HOME: return PaneEditKey::Home;
    case VK_END: return PaneEditKey::End;
    case VK_DELETE: return PaneEditKey::Delete;
    case VK_BACK: return PaneEditKey::Backspace;
    case VK_INSERT: return PaneEditKey::Insert;
    case 'A': return PaneEditKey::A;
    case 'C': return PaneEditKey::C;
    case 'V': return PaneEditKey::V;
    case 'X': return PaneEditKey::X;
    default: return std::nullopt;  // Enter comes as the character CR
    }
}

}  // namespace

void TWin32RxPane::Register(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = win32::WindowProcOf<TWin32RxPane, &TWin32RxPane::window_, &TWin32RxPane::message>;
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
    // text: the pane's margins are those of the system's text controls.
    RECT text = client;
    if (HWND probe = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_MULTILINE, 0, 0, client.right, client.bottom,
                                     window_, nullptr, nullptr, nullptr)) {
        SendMessageW(probe, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        SendMessageW(probe, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text));
        DestroyWindow(probe);
    }
    textLeft_ = text.left;
    RECT outer{};
    GetWindowRect(window_, &outer);
    model_.setColumns(std::min(design::PaneColumns(MulDiv(outer.right - outer.left, 96, win32::ScreenDpi()),
                                                   MulDiv(cellWidth_, 96, win32::ScreenDpi())),
                               int(text.right - text.left) / cellWidth_));
    model_.setRows(std::max<int>(1, client.bottom / lineHeight_));
    showChanges();
}

void TWin32RxPane::syncScrollBar() {
    const int max = std::max(0, model_.maxTop() + model_.rows() - 1), page = model_.rows(), pos = model_.top();
    if (max == shownMax_ && page == shownPage_ && pos == shownPos_)
        return;
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

void TWin32RxPane::showChanges(bool scrollBar) {
    if (!window_)
        return;
    if (scrollBar)
        syncScrollBar();
    const RxPaneModel::Repaint r = model_.takeRepaint();
    if (r.all) {
        InvalidateRect(window_, nullptr, FALSE);
    } else {
        if (r.scrollLines > 0)
            ScrollWindowEx(window_, 0, -r.scrollLines * lineHeight_, nullptr, nullptr, nullptr, nullptr, SW_INVALIDATE);
        RECT client{};
        GetClientRect(window_, &client);
        client.top = r.firstRow * lineHeight_;
        if (client.top < client.bottom)
            InvalidateRect(window_, &client, FALSE);
    }
    placeCaret();
}

// The system caret, while the pane has the focus and the caret is in view.
void TWin32RxPane::placeCaret() {
    if (!caretMade_)
        return;
    const std::optional<RxPaneModel::Cell> cell = model_.caretCell();
    if (cell) {
        // After blanks that hang past the edge the caret stays at the edge.
        SetCaretPos(textLeft_ + std::min(cell->column, model_.columns()) * cellWidth_, cell->row * lineHeight_);
        if (!caretShown_)
            caretShown_ = ShowCaret(window_) != FALSE;
    } else if (caretShown_) {
        HideCaret(window_);
        caretShown_ = false;
    }
}

void TWin32RxPane::paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window_, &ps);
    paintOn(dc, ps.rcPaint);
    EndPaint(window_, &ps);
}

void TWin32RxPane::paintOn(HDC dc, const RECT& area) {
    RECT client{};
    GetClientRect(window_, &client);
    HGDIOBJ old = SelectObject(dc, font_ ? static_cast<HGDIOBJ>(font_) : GetStockObject(SYSTEM_FIXED_FONT));
    const COLORREF back = GetSysColor(COLOR_WINDOW), text = GetSysColor(COLOR_WINDOWTEXT);
    std::vector<INT> advances;
    for (int row = 0, y = 0; y < client.bottom; ++row, y += lineHeight_) {
        if (y + lineHeight_ <= area.top || y >= area.bottom)
            continue;
        const std::wstring shown = Shown(model_.rowText(row));
        advances.assign(shown.size(), cellWidth_);
        RECT band{client.left, y, client.right, y + lineHeight_};
        // One call draws the line and clears its band.
        SetBkColor(dc, back);
        SetTextColor(dc, text);
        ExtTextOutW(dc, textLeft_, y, ETO_OPAQUE | ETO_CLIPPED, &band, shown.c_str(), UINT(shown.size()),
                    advances.data());
        const RxPaneModel::Columns sel = model_.rowSelection(row);
        if (sel.first == sel.last)
            continue;
        RECT marked{textLeft_ + sel.first * cellWidth_, y, textLeft_ + sel.last * cellWidth_, y + lineHeight_};
        SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
        SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
        ExtTextOutW(dc, marked.left, y, ETO_OPAQUE | ETO_CLIPPED, &marked, shown.c_str() + sel.first,
                    UINT(sel.last - sel.first), advances.data());
    }
    SelectObject(dc, old);
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

void TWin32RxPane::cut() {
    if (!model_.hasSelection())
        return;
    copy();
    model_.erase(false);
    showChanges();
}

void TWin32RxPane::paste() {
    if (!OpenClipboard(window_))
        return;
    std::u16string text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* units = static_cast<const char16_t*>(GlobalLock(data))) {
            text = units;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    RxPanePaste(model_, text);
    showChanges();
}

// The editing and cursor keys as the rule has them; false for keys the pane
// leaves alone.
bool TWin32RxPane::keyDown(WPARAM key) {
    const auto name = EditKeyOf(key);
    return name && edited(RxPaneEditKey(model_, *name, Held(VK_CONTROL), Held(VK_SHIFT)));
}

void TWin32RxPane::typed(wchar_t character) {
    const char16_t unit = char16_t(character);
    edited(RxPaneType(model_, std::u16string_view(&unit, 1)));
}

bool TWin32RxPane::edited(PaneEditResult result) {
    switch (result) {
    case PaneEditResult::NotMine: return false;
    case PaneEditResult::Copy: copy(); return true;
    case PaneEditResult::Cut: cut(); return true;
    case PaneEditResult::Paste: paste(); return true;
    case PaneEditResult::Beep: MessageBeep(MB_OK); return true;
    case PaneEditResult::Done: showChanges(); return true;
    }
    return false;
}

void TWin32RxPane::contextMenu(LPARAM point) {
    HMENU menu = CreatePopupMenu();
    const auto items = RxPaneMenu(model_, IsClipboardFormatAvailable(CF_UNICODETEXT));
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].separatorBefore)
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        const std::wstring label = win32::Widen(items[i].label) + L"\tCtrl+" + wchar_t(items[i].ctrlLetter);
        AppendMenuW(menu, MF_STRING | (items[i].enabled ? 0 : MF_GRAYED), i + 1, label.c_str());
    }
    POINT at{GET_X_LPARAM(point), GET_Y_LPARAM(point)};
    if (at.x == -1 && at.y == -1) {  // from the keyboard
        at = POINT{0, 0};
        ClientToScreen(window_, &at);
    }
    const UINT chosen = UINT(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, window_, nullptr));
    DestroyMenu(menu);
    if (chosen > 0 && chosen <= items.size())
        edited(RxPaneMenuChosen(model_, items[chosen - 1].command));
}

// ---- What assistive technology asks ----------------------------------------------
//
// The pane answers as the system's multi-line edit control does, so that a
// screen reader's edit support reads it: its text with CR LF line breaks,
// the selection, the displayed lines and the first in view, offsets counted
// in that text (a line break two characters).

// The edit control's offset of a place in the model's text, and back.
std::size_t TWin32RxPane::editOffset(RxPaneModel::Pos pos) const {
    const std::string& t = model_.text();
    pos = std::min(pos, t.size());
    return pos + std::size_t(std::count(t.begin(), t.begin() + std::ptrdiff_t(pos), '\n'));
}

RxPaneModel::Pos TWin32RxPane::modelPos(std::size_t offset) const {
    const std::string& t = model_.text();
    RxPaneModel::Pos pos = 0;
    for (std::size_t at = 0; pos < t.size() && at < offset; ++pos)
        at += t[pos] == '\n' ? 2 : 1;
    return pos;
}

LRESULT TWin32RxPane::accessibility(UINT msg, WPARAM wParam, LPARAM lParam) {
    const std::string& t = model_.text();
    const auto lineAt = [&](LPARAM offset) {  // -1: the caret's
        return model_.lineOf(offset < 0 ? model_.caret() : modelPos(std::size_t(offset)));
    };
    switch (msg) {
    case WM_GETTEXTLENGTH: return LRESULT(editOffset(t.size()));
    case WM_GETTEXT: {
        auto* out = reinterpret_cast<wchar_t*>(lParam);
        if (!out || wParam == 0)
            return 0;
        std::size_t n = 0;
        for (std::size_t i = 0; i < t.size() && n + 1 < wParam; ++i) {
            if (t[i] == '\n') {
                if (n + 2 >= wParam)
                    break;
                out[n++] = L'\r';
            }
            out[n++] = wchar_t(static_cast<unsigned char>(t[i]));
        }
        out[n] = L'\0';
        return LRESULT(n);
    }
    case EM_GETSEL: {
        const auto from = DWORD(editOffset(std::min(model_.anchor(), model_.caret())));
        const auto to = DWORD(editOffset(std::max(model_.anchor(), model_.caret())));
        if (wParam)
            *reinterpret_cast<DWORD*>(wParam) = from;
        if (lParam)
            *reinterpret_cast<DWORD*>(lParam) = to;
        return MAKELRESULT(std::min<DWORD>(from, 0xFFFF), std::min<DWORD>(to, 0xFFFF));
    }
    case EM_SETSEL: {
        const auto end = [&](LPARAM v) { return v < 0 ? t.size() : modelPos(std::size_t(v)); };
        if (LPARAM(wParam) < 0)  // -1: nothing selected, the caret stays
            model_.select(model_.caret(), model_.caret());
        else
            model_.select(end(LPARAM(wParam)), end(lParam));
        showChanges();
        return 0;
    }
    case EM_GETLINECOUNT: return model_.lineCount();
    case EM_GETFIRSTVISIBLELINE: return model_.top();
    case EM_LINEFROMCHAR: return lineAt(LPARAM(wParam));
    case EM_LINEINDEX: {
        const int line = LPARAM(wParam) < 0 ? model_.lineOf(model_.caret()) : int(wParam);
        return line < model_.lineCount() ? LRESULT(editOffset(model_.positionAt(line, 0))) : -1;
    }
    case EM_LINELENGTH: return LRESULT(model_.line(lineAt(LPARAM(wParam))).size());
    case EM_GETLINE: {
        auto* out = reinterpret_cast<wchar_t*>(lParam);
        if (!out || int(wParam) >= model_.lineCount())
            return 0;
        const std::string_view line = model_.line(int(wParam));
        const std::size_t n = std::min<std::size_t>(line.size(), *reinterpret_cast<const WORD*>(out));
        for (std::size_t i = 0; i < n; ++i)
            out[i] = wchar_t(static_cast<unsigned char>(line[i]));
        return LRESULT(n);  // not ended by a zero, as the edit control's
    }
    }
    return -1;
}

LRESULT TWin32RxPane::message(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_GETTEXTLENGTH:
    case WM_GETTEXT:
    case EM_GETSEL:
    case EM_SETSEL:
    case EM_GETLINECOUNT:
    case EM_GETFIRSTVISIBLELINE:
    case EM_LINEFROMCHAR:
    case EM_LINEINDEX:
    case EM_LINELENGTH:
    case EM_GETLINE: return accessibility(msg, wParam, lParam);
    case WM_SETFONT:
        font_ = reinterpret_cast<HFONT>(wParam);
        fitToClient();
        return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(font_);
    case WM_SIZE: fitToClient(); return 0;
    case WM_ERASEBKGND: return 1;  // the paint covers every pixel
    case WM_PAINT: paint(); return 0;
    case WM_PRINTCLIENT: {
        RECT client{};
        GetClientRect(window_, &client);
        paintOn(reinterpret_cast<HDC>(wParam), client);
        return 0;
    }
    case WM_VSCROLL: scrollBar(LOWORD(wParam)); return 0;
    case WM_NCMOUSEMOVE:
    case WM_NCLBUTTONDOWN:
        // While the pane follows the end its scroll bar is only brought up to
        // date at the trim; once the pointer reaches for it, it must reach
        // everything.
        if (wParam == HTVSCROLL && model_.following())
            syncScrollBar();
        break;
    case WM_MOUSEWHEEL: {
        UINT lines = 3;
        SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
        // A page a notch when so set.
        model_.wheel(GET_WHEEL_DELTA_WPARAM(wParam), int(std::min<UINT>(lines, UINT(model_.rows()))));
        showChanges();
        return 0;
    }
    // Enter and the characters are the pane's; Tab still moves on (the
    // window's dialog navigation takes it).
    case WM_GETDLGCODE: return DLGC_WANTARROWS | DLGC_WANTCHARS | DLGC_WANTALLKEYS;
    case WM_SETFOCUS: {
        UINT width = 1;
        SystemParametersInfoW(SPI_GETCARETWIDTH, 0, &width, 0);
        caretMade_ = CreateCaret(window_, nullptr, int(std::max(1u, width)), lineHeight_) != FALSE;
        caretShown_ = false;
        // From the keyboard the caret goes to the end, where the bytes come in.
        if (Held(VK_TAB))
            model_.caretToEnd();
        showChanges();
        return 0;
    }
    case WM_KILLFOCUS:
        DestroyCaret();
        caretMade_ = caretShown_ = false;
        return 0;
    case WM_LBUTTONDOWN:
        SetFocus(window_);
        SetCapture(window_);
        model_.press(GET_X_LPARAM(lParam) - textLeft_, GET_Y_LPARAM(lParam), cellWidth_, lineHeight_,
                     (wParam & MK_SHIFT) != 0);
        showChanges();
        return 0;
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
    case WM_KEYDOWN:
        if (keyDown(wParam))
            return 0;
        break;
    case WM_CHAR: typed(wchar_t(wParam)); return 0;
    case WM_CONTEXTMENU: contextMenu(lParam); return 0;
    default: break;
    }
    return DefWindowProcW(window_, msg, wParam, lParam);
}

}  // namespace kestrel
