#pragma once
// The main window and the setup dialog as designed, without a toolkit: every
// control's name, kind, parent, docking and designed rectangle, caption, hint
// and font; the timers; the receive panes' trim count and headings; the
// actions with their captions and shortcuts; the setup dialog's labels, lists
// and geometry. Both windows build their controls and shortcut tables from it.
// Sizes are pixels at 96 dots per inch; a docked control keeps its designed
// width (docked left) or height (docked top or bottom) and takes the rest from
// its parent.

#include "serial/ComSelect.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

namespace kestrel::design {

struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct FontRequest {
    const char* face;
    int pixelHeight;  // the character height
    bool bold;
    bool fixedPitch;
};
inline constexpr FontRequest kWindowFont{"MS Sans Serif", 14, true, false};
inline constexpr FontRequest kPaneFont{"Consolas", 14, false, true};
// The receive panes' faces, the first the system has: the design's, then a
// stand-in that Debian's package depends on (fonts-dejavu-core) and that Wine
// finds there too, so that both programs measure the same font.
inline constexpr std::array<const char*, 2> kPaneFontFaces{"Consolas", "DejaVu Sans Mono"};

// ---- Main window -------------------------------------------------------------------

inline constexpr const char* kFormName = "Form1";
inline constexpr int kClientWidth = 965;  // outer 981 x 627 with the platform's frame
inline constexpr int kClientHeight = 589;

enum class Kind { GroupBox, Panel, Button, InfoText, SendPane, ReceivePane, DecodedPane, StatusBar };
enum class Dock { None, Top, Bottom, Left, Fill };
enum class Use { WindowFont, PaneFont };

// In creation order; a parent comes before its children.
enum ControlId {
    GroupBox2,
    Panel1,
    bSettings,
    bClear,
    Memo2,
    GroupBox3,
    MemoTX,
    bClearTNC,
    GroupBox1,
    MemoRX,
    MEMORXHEX,
    Memo1,
    StatusBar1,
    kControlCount
};
inline constexpr int kWindow = -1;  // the parent of the window's own controls

struct Control {
    const char* name;
    Kind kind;
    int parent;  // a ControlId or kWindow
    Dock dock;
    Rect rect;  // designed, in the parent's client area
    const char* caption;
    const char* hint;
    Use font;
};

inline constexpr std::array<Control, kControlCount> kControls{{
    {"GroupBox2", Kind::GroupBox, kWindow, Dock::Top, {0, 0, 0, 97}, "", "", Use::WindowFont},
    {"Panel1", Kind::Panel, GroupBox2, Dock::Left, {0, 0, 111, 0}, "", "", Use::WindowFont},
    {"bSettings",
     Kind::Button,
     Panel1,
     Dock::None,
     {16, 0, 75, 25},
     "Settings",
     "RS232 port settings",
     Use::WindowFont},
    {"bClear", Kind::Button, Panel1, Dock::None, {17, 32, 73, 33}, "&Clear", "", Use::WindowFont},
    {"Memo2", Kind::InfoText, GroupBox2, Dock::Left, {0, 0, 368, 0}, "", "", Use::WindowFont},
    {"GroupBox3", Kind::GroupBox, kWindow, Dock::None, {480, 0, 481, 97}, "TNC send", "", Use::WindowFont},
    {"MemoTX",
     Kind::SendPane,
     GroupBox3,
     Dock::None,
     {8, 18, 385, 71},
     "",
     "Any text (including Esc and Ctrl chars) to send to the TNC",
     Use::PaneFont},
    {"bClearTNC",
     Kind::Button,
     GroupBox3,
     Dock::None,
     {399, 17, 67, 73},
     "Clear",
     "Clear the TNC send  field",
     Use::WindowFont},
    {"GroupBox1", Kind::GroupBox, kWindow, Dock::Left, {0, 0, 961, 0}, "", "", Use::WindowFont},
    {"MemoRX", Kind::ReceivePane, GroupBox1, Dock::Left, {0, 0, 343, 0}, "", "TNC RX", Use::PaneFont},
    {"MEMORXHEX", Kind::ReceivePane, GroupBox1, Dock::Left, {0, 0, 265, 0}, "", "TNC RX HEX", Use::PaneFont},
    {"Memo1", Kind::DecodedPane, GroupBox1, Dock::Fill, {}, "", "Decoded info", Use::WindowFont},
    {"StatusBar1", Kind::StatusBar, kWindow, Dock::Bottom, {0, 0, 0, 19}, "", "", Use::WindowFont},
}};

// Tab order: the top band, the receive group, the send group.
inline constexpr std::array<ControlId, 8> kTabOrder{Memo2,  bSettings, bClear,    Memo1,
                                                    MemoRX, MEMORXHEX, bClearTNC, MemoTX};

// A group box's client area starts below its caption line.
inline constexpr int kGroupInsetTop = 15;
inline constexpr int kGroupInset = 2;

// Memo2, line by line.
inline constexpr std::array<const char*, 4> kInfoLines{
    "Send the archived telemetry folder contents to: ", "telemetry@kestrel.example.org", "", "73, KESTREL team"};
// A receive pane wraps at as many cells of its font as its width holds less
// the frame, scroll bar and margins of a system text pane at 96 dpi (a
// sunken frame of 2 pixels a side, a scroll bar of 17, 4 pixels of margin a
// side and a pixel for the caret), so that both programs wrap alike
// whatever their own scroll bars measure; a window whose theme leaves less
// room takes fewer.
inline constexpr int kPaneChrome = 2 * 2 + 17 + 2 * 4 + 1;
constexpr int PaneColumns(int paneWidth, int cellWidth) {
    return std::max(1, (paneWidth - kPaneChrome) / std::max(1, cellWidth));
}
// The first line of each receive pane.
inline constexpr const char* kTextPaneHeading = "TNC RX";
inline constexpr const char* kHexPaneHeading = "TNC RX HEX";
// The heading of a control's pane ("" for the others).
constexpr const char* Heading(ControlId id) {
    return id == MemoRX ? kTextPaneHeading : id == MEMORXHEX ? kHexPaneHeading : "";
}

inline constexpr int kStatusPanels = 4;
inline constexpr int kStatusPanelWidth = 100;

// Timers, in milliseconds.
inline constexpr int kTimer1Interval = 1000;  // the receive panes' trim
inline constexpr int kTimerXInterval = 10;    // the random-byte stream
// Lines each receive pane keeps at the trim.
inline constexpr int kTrimLines = 20;

// ActionList1: the window's named operations, each run by the engine
// (Station::runAction) and each window's shortcut table built from this one
// list. An action's handler is its name with "Execute" (aTest: aTestExecute).
enum ActionId {
    aInit,
    aFillBuffer,
    aRXBufferInit,
    aRXBufferAnalyse2,
    aDecodeTelemetry1,
    aSaveTempFile,
    aM4,
    aTest,
    aSaveBinFile,
    aTNCSend,
    aTrends,   // the trend window of this session's beacons
    aStation,  // the station dialog: the line, sharing, the station folder
    kActionCount
};
struct Shortcut {
    bool ctrl = false, alt = false;
    char letter = 0;   // 'A' to 'Z', or
    int function = 0;  // F1 to F12
    bool any() const { return letter || function; }
};
struct Action {
    ActionId id;
    const char* name;
    const char* caption;
    Shortcut shortcut;
};
// In the order of ActionId. The shortcuts act whichever control has the focus;
// the trend window's is F2 and the station dialog's F3, not typed characters:
// every Ctrl+letter belongs to the TNC.
inline constexpr std::array<Action, kActionCount> kActions{{
    {aInit, "aInit", "aInit", {}},
    {aFillBuffer, "aFillBuffer", "aFillBuffer", {}},
    {aRXBufferInit, "aRXBufferInit", "aRXBufferInit", {}},
    {aRXBufferAnalyse2, "aRXBufferAnalyse2", "aRXBufferAnalyse2", {}},
    {aDecodeTelemetry1, "aDecodeTelemetry1", "aDecodeTelemetry1", {}},
    {aSaveTempFile, "aSaveTempFile", "aSaveTempFile", {}},
    {aM4, "aM4", "aM4", {true, true, 'M', 0}},
    {aTest, "aTest", "aTest", {true, false, 'T', 0}},
    {aSaveBinFile, "aSaveBinFile", "aSaveBinFile", {}},
    {aTNCSend, "aTNCSend", "aTNCSend", {false, false, 0, 9}},
    {aTrends, "aTrends", "Trends", {false, false, 0, 2}},
    {aStation, "aStation", "Station...", {false, false, 0, 3}},
}};
static_assert(
    [] {
        for (std::size_t i = 0; i < kActions.size(); ++i)
            if (kActions[i].id != ActionId(i))
                return false;
        return true;
    }(),
    "kActions in the order of ActionId");
// A caption's Alt accelerator letter ("&Clear": 'C'), or 0.
constexpr char AcceleratorOf(std::string_view caption) {
    const std::size_t at = caption.find('&');
    if (at == std::string_view::npos || at + 1 >= caption.size())
        return 0;
    const char c = caption[at + 1];
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

// Every control's rectangle in its parent's client area for a window whose
// client area is width x height.
using Layout = std::array<Rect, kControlCount>;
Layout LayoutWindow(int width, int height);
// A control's rectangle in the window's client area.
Rect InWindow(const Layout& layout, ControlId id);

// ---- Setup dialog -------------------------------------------------------------------

struct Labelled {
    const char* text;
    Rect rect;
};
struct SetupDialog {
    const char* caption = "Setup";
    const char* fontFace = "MS Sans Serif";
    int fontPoints = 8;
    int clientWidth = 231, clientHeight = 216;
    Labelled group{" Settings ", {8, 8, 217, 169}};
    // In the group: one label and one list per setting, in tab order.
    std::array<const char*, 6> labels{"Port", "Baud rate", "Data bits", "Stop bits", "Parity", "Flow control"};
    std::array<TComProperty, 6> properties{cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl};
    Rect label(int i) const { return {8, 24 + 24 * i, 70, 16}; }
    Rect list(int i) const { return {80, 16 + 24 * i, 129, 21}; }
    Labelled ok{"OK", {70, 184, 75, 25}};           // Button1, the default button
    Labelled cancel{"Cancel", {150, 184, 75, 25}};  // Button2
    // Why the port could not be opened, when it could not: below the buttons,
    // the dialog that much taller. Without one the dialog is as designed.
    Rect notice{8, 216, 215, 44};
    int noticeHeight = 48;
};
inline constexpr SetupDialog kSetupDialog{};

}  // namespace kestrel::design
