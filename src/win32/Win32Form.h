#pragma once
// TForm1: the main window on Win32, plain controls of the system. It builds
// the controls, owns the timers and the accelerator table, and shows what the
// station engine (station/Station.h) hands it; each handler keeps the name of
// its operation and calls the engine, as the Qt window does.

#include "station/Station.h"
#include "station/WindowDesign.h"
#include "win32/Win32Mailbox.h"
#include "win32/Win32RxPane.h"
#include "win32/Win32TrendWindow.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrel {

class TForm1 : private IStationView {
public:
    // Command identifiers of the buttons and of the actions with shortcuts.
    enum Command : WORD {
        idSettings = 1001,
        idClear,
        idClearTNC,
        idTest = 1101,
        idM4,
        idTNCSend,
        idTrends,  // F2: the trend window
    };
    // Timer identifiers.
    enum TimerId : UINT_PTR { tmTimer1 = 1, tmTimerX, tmDisplay, tmContinue };
    static constexpr UINT kContinueMessage = WM_APP + 2;

    // Builds the window and its controls and runs start-up (FormCreate); the
    // window is shown afterwards with Show().
    explicit TForm1(HINSTANCE instance);
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    void Show(int showCommand);
    // The accelerator table (Ctrl+T, Ctrl+Alt+M, F9, Alt+C) and the dialog
    // keys (Tab between controls); true when msg was handled.
    bool PreTranslate(MSG& msg);

    HWND Handle = nullptr;
    // ---- Controls, in the order of the design ----
    HWND GroupBox2 = nullptr;
    RECT Panel1{};  // a panel without bevel: only the place of the two buttons
    HWND bSettings = nullptr;
    HWND bClear = nullptr;
    HWND Memo2 = nullptr;
    HWND GroupBox3 = nullptr;
    HWND MemoTX = nullptr;
    HWND bClearTNC = nullptr;
    HWND GroupBox1 = nullptr;
    TWin32RxPane MemoRX;
    TWin32RxPane MEMORXHEX;
    HWND Memo1 = nullptr;
    HWND StatusBar1 = nullptr;
    HWND Hints = nullptr;  // the tooltip control that shows the hints
    // Every control above, in the order of design::ControlId (none for Panel1).
    std::array<HWND, design::kControlCount> Controls{};

private:
    TWin32Mailbox mailbox_;  // declared before the engine: the port's close services it
    Station station_;

public:
    TComPort& CPort;

    // ---- Handlers ----
    void FormCreate();
    void FormClose();
    void bClearClick();
    void bSettingsClick();
    void Timer1Timer();
    void aInitExecute();
    void aFillBufferExecute();
    void aTestExecute();
    void aM4Execute();
    void TimerXTimer();
    void aTNCSendExecute();
    void bClearTNCClick();
    // Sends one typed character at once (the key rule: typedKey).
    void MemoTXKeyPress(char& Key);

    Station& Engine() { return station_; }
    // The trend window of this session's beacons (F2), fed as they are decoded.
    TWin32TrendWindow& Trends() { return *trends_; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK PaneProc(HWND pane, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT paneMessage(HWND pane, UINT message, WPARAM wParam, LPARAM lParam);
    void buildControls();
    HWND makeControl(design::ControlId id);
    void layoutControls();
    void addHint(HWND control, std::wstring text);
    // A key in the send pane through the engine's rule; true when the pane
    // may handle it (a failed send is reported, and not inserted).
    bool typedKey(PaneKey key, char32_t character);
    // The command of an action with a shortcut, or 0.
    static WORD ActionCommand(std::string_view action);
    void command(WORD id);
    void timer(UINT_PTR id);
    void closeWindow();

    // IStationView
    void appendReceived(RxPane pane, std::string_view text) override;
    void showStatus(int panel, std::string_view text, std::string_view tip) override;
    bool statusTextFits(std::string_view text) override;
    void showDecodedText(std::string_view text) override;
    void clearPanes() override;
    void trimPanes() override;
    void showMessage(const std::string& text) override;
    void setStreamTimer(bool on) override;
    void continueSoon() override;
    void displaySoon() override;
    void beep() override;
    void beaconDecoded(const BeaconRecord& record, const SystemTime& utc) override;

    HINSTANCE instance_;
    std::unique_ptr<TWin32TrendWindow> trends_;
    HACCEL accelerators_ = nullptr;
    HFONT windowFont_ = nullptr;
    HFONT paneFont_ = nullptr;
    HFONT infoFont_ = nullptr;  // Memo2's, chosen by what it measures
    std::vector<std::wstring> hintTexts_;
    std::array<std::wstring, design::kStatusPanels> statusTips_;  // what each panel's tooltip points to
    HWND lastFocus_ = nullptr;  // the control that had the focus when the window was deactivated
};

}  // namespace kestrel
