#pragma once
// TComSetupFrm on Win32: the modal dialog in which the operator picks port,
// baud rate, data bits, stop bits, parity and flow control, six drop-down
// lists each bound to one setting through a TComSelect; and RunSetupDialog,
// which shows it over the main window and applies the choices on OK.

#include "serial/ComSelect.h"

#include <windows.h>

#include <array>
#include <string>

namespace kestrel {

class TComSetupFrm {
public:
    // Fills the six lists for port; raises what filling the port list raises
    // (the dialog is then never shown). notice: why the port could not be
    // opened, shown below the buttons ("": none).
    explicit TComSetupFrm(TCustomComPort& port, std::string notice = {});

    // Runs the dialog modally over owner; true for OK.
    bool ShowModal(HWND owner);
    // Sets every setting from the pending values in one settings update.
    void ApplyToPort();

    std::array<TComSelect, 6> Selects;  // Combo1 .. Combo6: port, baud rate, data, stop, parity, flow control
    HWND Handle = nullptr;
    std::array<HWND, 6> Combos{};  // Combo1 .. Combo6
    HWND GroupBox1 = nullptr;
    HWND Button1 = nullptr;  // OK
    HWND Button2 = nullptr;  // Cancel
    HWND Notice = nullptr;   // why the port failed, when it did

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    void build(HWND dialog);
    void showSelection(int combo, int index);

    TCustomComPort& port_;
    std::string notice_;
    HFONT font_ = nullptr;
};

// Shows the dialog for port over owner (with notice, why the port failed, when
// there is one) and, on OK, applies all six choices in one settings update.
// Raises "Registry error" (code 23) when the port list cannot be read; the
// dialog is then not shown and the port not touched.
void RunSetupDialog(TCustomComPort& port, HWND owner, const std::string& notice = {});

}  // namespace kestrel
