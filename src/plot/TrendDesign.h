#pragma once
// The trend window as designed, without a toolkit: caption, size, the tool
// bar's commands, the tabs, the bands around the canvas. Both front ends (Qt
// and Win32) build their trend window from it; what the canvas shows is
// TrendView's.

#include <array>
#include <string>

namespace kestrel::plot::design {

inline constexpr const char* kCaption = "KESTREL telemetry trends";
inline constexpr int kClientWidth = 1200;
inline constexpr int kClientHeight = 720;                        // fits a 768-pixel screen with the frame
inline constexpr int kMinimumWidth = 640, kMinimumHeight = 420;  // the least client area

enum Command { OpenArchive, OpenFile, SavePng, RealTime, kCommandCount };
struct ToolButton {
    const char* caption;
    const char* hint;
    bool toggle;  // a check button
    char key;     // with Ctrl, wherever the focus is in the window
};
inline constexpr std::array<ToolButton, kCommandCount> kToolButtons{{
    {"Open archive...", "Every BeaconTextLog below a station folder (the one holding Telemetry)", false, 'O'},
    {"Open log or CSV...", "One BeaconTextLog, or a CSV written by kestrel-redecode --csv", false, 'L'},
    {"Save as PNG...", "The plots or the map as shown, as a PNG picture", false, 'S'},
    {"Real time", "Show the hours between passes as they were instead of folding them", true, 'R'},
}};
// A button's hint as shown, with its shortcut: "... (Ctrl+O)".
inline std::string HintWithKey(const ToolButton& b) { return std::string(b.hint) + " (Ctrl+" + b.key + ")"; }
// Besides: Tab from button to button, to the tabs and to the canvas; Ctrl+Tab
// the other tab; in the canvas the arrow keys, Page Up and Down, Home, End,
// Enter and Esc are the plots' (plot::TrendKey).
// The canvas's two views, in the order of plot::TrendTab.
inline constexpr std::array<const char*, 2> kTabs{"Plots", "Ground track"};

// Heights of the bands above and below the canvas, in pixels at 96 dpi.
inline constexpr int kToolBarHeight = 30;
inline constexpr int kTabHeight = 26;
inline constexpr int kStatusHeight = 22;

}  // namespace kestrel::plot::design
