#pragma once
// True when the Windows tests run under Wine, whose Win32 behaviour differs
// from Windows in places; tests of such behaviour skip with a message.

#include <windows.h>

namespace kestrel::test {

inline bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace kestrel::test
