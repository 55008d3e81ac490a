// win32_probe.exe: what a screen reader and the system see of a running
// program's window, for the window tests driven from Linux (they run it under
// Wine beside the program). Output is UTF-8, a line a window.
//
//   win32_probe.exe tree CAPTION    every child window of the top-level window
//                                   with that caption: class, control id, its
//                                   text (WM_GETTEXT), and the accessible
//                                   object's name, role and value (MSAA)
//   win32_probe.exe focus CAPTION   the class and text of the focused window
//   win32_probe.exe lines CAPTION N the first line in view of its Nth receive
//                                   pane (0: the text pane, 1: hex), then its
//                                   displayed lines, each with its length in
//                                   characters, as an edit control tells them
//
// Exit status 2 when the window is not there.

#include <windows.h>

#include <oleacc.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& w) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(std::size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

// Line breaks and tabs written out, so that a window is one line.
std::string Escaped(const std::wstring& w) {
    std::wstring out;
    for (wchar_t c : w)
        out += c == L'\r'   ? std::wstring(L"\\r")
               : c == L'\n' ? std::wstring(L"\\n")
               : c == L'\t' ? L"\\t"
                            : std::wstring(1, c);
    return Utf8(out);
}

std::wstring TextOf(HWND w) {
    const LRESULT n = SendMessageW(w, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(std::size_t(n > 0 ? n : 0) + 1, L'\0');
    const LRESULT got = SendMessageW(w, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(std::size_t(got > 0 ? got : 0));
    return text;
}

std::wstring ClassOf(HWND w) {
    wchar_t name[256] = {};
    GetClassNameW(w, name, 256);
    return name;
}

// The client's accessible object as a screen reader gets it.
std::string Accessible(HWND w) {
    IAccessible* acc = nullptr;
    // The interface's id as the compiler knows it (the import library's is a
    // thunk, not the GUID).
    const HRESULT hr =
        AccessibleObjectFromWindow(w, DWORD(OBJID_CLIENT), __uuidof(IAccessible), reinterpret_cast<void**>(&acc));
    if (FAILED(hr) || !acc) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "-(%08lx)\t-\t-", (unsigned long)hr);
        return buf;
    }
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    std::string out;
    BSTR name = nullptr, value = nullptr;
    out += SUCCEEDED(acc->get_accName(self, &name)) && name ? Escaped(name) : "-";
    VARIANT role;
    VariantInit(&role);
    wchar_t roleText[128] = L"-";
    if (SUCCEEDED(acc->get_accRole(self, &role)) && role.vt == VT_I4)
        GetRoleTextW(DWORD(role.lVal), roleText, 128);
    out += "\t" + Utf8(roleText);
    out += "\t" + (SUCCEEDED(acc->get_accValue(self, &value)) && value ? Escaped(value) : std::string("-"));
    SysFreeString(name);
    SysFreeString(value);
    acc->Release();
    return out;
}

std::vector<HWND> Children(HWND top) {
    std::vector<HWND> all;
    EnumChildWindows(
        top,
        [](HWND w, LPARAM p) {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: win32_probe.exe tree|focus|lines CAPTION [N]\n", stderr);
        return 2;
    }
    const std::wstring command = argv[1];
    HWND top = FindWindowW(nullptr, argv[2]);
    if (!top) {
        std::fputs("no such window\n", stderr);
        return 2;
    }
    CoInitialize(nullptr);
    if (command == L"tree") {
        std::printf("%s\t\t%s\n", Utf8(ClassOf(top)).c_str(), Accessible(top).c_str());
        for (HWND w : Children(top))
            std::printf("%s\t%d\t%s\t%s\n", Utf8(ClassOf(w)).c_str(), GetDlgCtrlID(w), Accessible(w).c_str(),
                        Escaped(TextOf(w)).c_str());
    } else if (command == L"focus") {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &info) || !info.hwndFocus)
            return 2;
        std::printf("%s\t%s\n", Utf8(ClassOf(info.hwndFocus)).c_str(), Escaped(TextOf(info.hwndFocus)).c_str());
    } else if (command == L"lines" && argc > 3) {
        int wanted = _wtoi(argv[3]);
        for (HWND w : Children(top)) {
            if (ClassOf(w) != L"KestrelRxPane" || wanted-- > 0)
                continue;
            // Integer messages and WM_GETTEXT only: the system carries those
            // between processes whatever the window's class; each bounded, so
            // that a busy program cannot hold the probe.
            const auto ask = [w](UINT msg, WPARAM wp) {
                DWORD_PTR r = 0;
                return SendMessageTimeoutW(w, msg, wp, 0, SMTO_ABORTIFHUNG, 5000, &r) ? LRESULT(r) : LRESULT(-1);
            };
            std::printf("first in view %d\n", int(ask(EM_GETFIRSTVISIBLELINE, 0)));
            const std::wstring text = TextOf(w);
            const int count = int(ask(EM_GETLINECOUNT, 0));
            for (int i = 0; i < count; ++i) {
                const LRESULT start = ask(EM_LINEINDEX, WPARAM(i));
                const LRESULT length = start < 0 ? -1 : ask(EM_LINELENGTH, WPARAM(start));
                if (length < 0 || std::size_t(start) > text.size())
                    break;
                const std::wstring line = text.substr(std::size_t(start), std::size_t(length));
                std::printf("%d\t%s\n", int(line.size()), Escaped(line).c_str());
            }
        }
    } else {
        return 2;
    }
    CoUninitialize();
    return 0;
}
