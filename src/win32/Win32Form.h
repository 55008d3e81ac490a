#pragma once
// TForm1: the main window on Win32, plain controls of the system. It builds
// the controls and the accelerator table from the window's design, owns the
// timers, and shows what the station engine (station/Station.h) hands it;
// each handler is one call into the engine, as in the Qt window.

#include "station/Station.h"
#include "station/WindowDesign.h"
#include "win32/Win32Mailbox.h"
#include "win32/Win32RxPane.h"
#include "win32/Win32TrendWindow.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

class TForm1 : private IStationView {
public:
    // Command identifiers of the buttons; an action's is kActionCommands
    // plus its design::ActionId.
    enum Command : WORD { idSettings = 1001, idClear, idClearTNC };
    static constexpr WORD kActionCommands = 1100;
    // Timer identifiers.
    enum TimerId : UINT_PTR { tmTimer1 = 1, tmTimerX, tmDisplay, tmContinue, tmPanelTip };
    // The window's system menu item that opens the station dialog.
    static constexpr UINT kStationMenuItem = 0x1100;
    static constexpr UINT kContinueMessage = WM_APP + 2;

    // Builds the window and its controls and runs start-up (FormCreate); the
    // window is shown afterwards with Show().
    explicit TForm1(HINSTANCE instance);
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    void Show(int showCommand);
    // The accelerator table (the actions' shortcuts and Alt+C) and the dialog
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
    HWND Hints = nullptr;     // the tooltip control that shows the hints
    HWND PanelTip = nullptr;  // a status panel's whole text, shown on a click
    // Every control above, in the order of design::ControlId (none for Panel1).
    std::array<HWND, design::kControlCount> Controls{};

private:
    TWin32Mailbox mailbox_;  // declared before the engine: the port's close services it
    Station station_;

public:
    TComPort& CPort;

    // ---- Handlers ----
    void FormCreate();
    void bClearClick();
    void bSettingsClick();
    void bClearTNCClick();
    void Timer1Timer();
    void TimerXTimer();

    Station& Engine() { return station_; }
    // The trend window of this session's beacons (F2), fed as they are decoded.
    TWin32TrendWindow& Trends() { return *trends_; }

private:
    static LRESULT CALLBACK PaneProc(HWND pane, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT paneMessage(HWND pane, UINT message, WPARAM wParam, LPARAM lParam);
    void buildControls();
    HWND makeControl(design::ControlId id);
    void layoutControls();
    void addHint(HWND control, std::wstring text);
    void buildAccelerators();
    void command(WORD id);
    void timer(UINT_PTR id);
    void closeWindow();
    void statusPanelClick(int panel);

    // IStationView
    void appendReceived(RxPane pane, std::string_view text) override;
    void showStatus(int panel, std::string_view text, std::string_view tip) override;
    bool statusTextFits(std::string_view text) override;
    std::string decodedText() override;
    void editDecodedText(const DecodedEdit& edit) override;
    void clearPanes() override;
    void trimPanes() override;
    std::string sendPaneText() override;
    void insertInSendPane(std::string_view text) override;
    void showTrends(std::optional<StationPosition> station) override;
    void loadEarlierBeacons(const std::string& stationFolder, const std::string& thisRunsLog) override;
    bool dismissModals() override;
    void setStreamTimer(bool on) override;
    void continueSoon() override;
    void displaySoon() override;
    void beep() override;
    void beaconDecoded(const BeaconRecord& record, const SystemTime& utc) override;
    void runStationDialog(StationDialogModel& model) override;

    HINSTANCE instance_;
    std::unique_ptr<TWin32TrendWindow> trends_;
    HACCEL accelerators_ = nullptr;
    HFONT windowFont_ = nullptr;
    HFONT paneFont_ = nullptr;
    HFONT infoFont_ = nullptr;     // Memo2's, chosen by what it measures
    HFONT decodedFont_ = nullptr;  // Memo1's, likewise
    std::vector<std::wstring> hintTexts_;
    std::array<std::wstring, design::kStatusPanels> statusTips_;  // what each panel's tooltip points to
    HWND lastFocus_ = nullptr;  // the control that had the focus when the window was deactivated
};

}  // namespace kestrel
