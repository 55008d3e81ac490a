#pragma once
// The trend window on Win32: a top-level window class of its own with the
// tool bar, tabs and status line of the trend window's design
// (plot/TrendDesign.h) around a double-buffered canvas that draws what the
// plot design (plot/TrendView.h) lays out, as the Qt window does; what each
// beacon, file and command does is the window's model's
// (plot/TrendWindowModel.h). The main window feeds it every decoded beacon
// (addBeacon) and shows it on F2; kestrel-trends.exe opens it on a folder or
// file and ends with it.

#include "plot/TrendWindowModel.h"
#include "telemetry/BeaconFrame.h"
#include "telemetry/Clock.h"

#include <windows.h>

#include <array>
#include <filesystem>
#include <optional>
#include <string>

namespace kestrel {

class TWin32TrendWindow {
public:
    static constexpr const wchar_t* kClassName = L"KestrelTrends";
    static constexpr const wchar_t* kCanvasClassName = L"KestrelTrendCanvas";

    // Creates the window, hidden. endsProgram: closing it ends the message
    // loop (kestrel-trends.exe); otherwise closing only hides it.
    TWin32TrendWindow(HINSTANCE instance, bool endsProgram);
    ~TWin32TrendWindow();
    TWin32TrendWindow(const TWin32TrendWindow&) = delete;
    TWin32TrendWindow& operator=(const TWin32TrendWindow&) = delete;

    void Show(int showCommand = SW_SHOWNORMAL);
    HWND Handle() const { return window_; }
    // For the message loop: the window's shortcuts and Tab from control to
    // control; true when the message was taken.
    bool PreTranslate(MSG& msg);

    // One beacon as it was decoded, received at utc.
    void addBeacon(const BeaconRecord& record, const SystemTime& utc);
    // A station folder, Telemetry/ or Decoded/ folder, a BeaconTextLog or a CSV.
    void open(const std::filesystem::path& path);
    // The beacons of the station's earlier runs: all its BeaconTextLogs but
    // this run's own, whose beacons come live.
    void openEarlier(const std::filesystem::path& station, const std::filesystem::path& thisRunsLog);
    void setStation(std::optional<plot::GeoPoint> station);
    plot::TrendView& view() { return model_.view(); }
    std::wstring statusText() const;

private:
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT canvasMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void build();
    void layout();
    void paintCanvas();
    void repaint(const plot::RectF& r);
    void changed();
    void updateStatus();
    void showTab(int tab);
    void command(int id);
    void askOpenArchive();
    void askOpenFile();
    void askSavePng();
    float scale() const;

    HINSTANCE instance_;
    bool endsProgram_;
    HWND window_ = nullptr;
    HWND canvas_ = nullptr;
    HWND tabs_ = nullptr;
    HWND status_ = nullptr;
    HWND hints_ = nullptr;
    std::array<HWND, 4> buttons_{};
    HFONT font_ = nullptr;
    HACCEL accelerators_ = nullptr;
    HBITMAP buffer_ = nullptr;  // the canvas drawn off screen, then copied
    SIZE bufferSize_{};
    bool tracking_ = false;  // asked for WM_MOUSELEAVE
    plot::TrendWindowModel model_;
    std::array<std::wstring, 4> hintTexts_;
};

}  // namespace kestrel
