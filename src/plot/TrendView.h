#pragma once
// The trend window's canvas without a toolkit: the four plots (battery,
// currents, temperatures, magnetic field) against receive time in UTC, or the
// ground-track map, laid out for the canvas's size as a display list. It
// takes the beacons as they come, the pointer (the point nearest to it is
// read out with its time and value), a double-click (zoom to one pass and
// back) and the toggle between folded passes and real time. The toolkit
// draws the list and passes on its events, nothing else.
//
// Live beacons are cheap: one that extends the newest pass in time order
// updates only the pixel column it falls into; the columns are worked out
// again from all samples only when the axes move (a new pass, a resize, the
// newest beacon past the axis's end).

#include "plot/DisplayList.h"
#include "plot/GroundTrack.h"
#include "plot/TimeAxis.h"
#include "plot/TrendSamples.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::plot {

enum class TrendTab { Plots, GroundTrack };

// The keys of the canvas, as each toolkit names them to the view.
enum class TrendKey { Left, Right, Up, Down, Home, End, PageUp, PageDown, Enter, Escape };

// The point read out under the pointer.
struct Readout {
    int series = -1;
    std::size_t sample = 0;
    PointF at;  // on the canvas
};

class TrendView {
public:
    TrendView();

    // ---- Samples ----
    // One beacon as it was decoded; true when the picture changed.
    bool addBeacon(const BeaconLogEntry& entry);
    // For loading many at once: add to samples(), then samplesChanged().
    TrendSamples& samples() { return samples_; }
    const TrendSamples& samples() const { return samples_; }
    void samplesChanged();
    void clear();

    // ---- What is shown ----
    void setSize(int width, int height);
    int width() const { return width_; }
    int height() const { return height_; }
    void setTab(TrendTab tab);
    TrendTab tab() const { return tab_; }
    // Real time (true) or passes side by side with the gaps folded (false).
    void setRealTime(bool on);
    bool realTime() const { return realTime_; }
    // The station's own position on the map ([Share]), or none.
    void setStation(std::optional<GeoPoint> station);
    std::optional<GeoPoint> station() const { return station_; }

    // ---- The pointer; each true when the picture changed ----
    bool pointerMoved(float x, float y);
    bool pointerLeft();
    // In a plot: zoom to the pass under the pointer, or back when zoomed.
    bool doubleClicked(float x, float y);
    bool back();  // out of the zoom
    bool zoomed() const { return zoomT_.has_value(); }

    // ---- The keyboard; each true when the picture changed ----
    // In the plots: Left and Right move a cursor from beacon to beacon of the
    // shown passes (the first press puts it on the newest), Page Up and Page
    // Down to the start of a pass, Home and End to the first and the last;
    // Up and Down pick the plot whose values are read out; Enter zooms to the
    // cursor's pass and back; Esc leaves the zoom, else the cursor. The
    // cursor is read out as the pointer is, and in statusText().
    bool key(TrendKey key);
    // The canvas has the keyboard's focus: a frame round the plot the keys
    // read out shows it.
    void setFocused(bool focused);
    bool hasCursor() const { return cursorT_.has_value(); }

    // The display list for the canvas, laid out again as far as needed.
    const DisplayList& display();
    // What changed on the canvas since the last call: all of it, or only
    // these rectangles (a live beacon's pixel column in each plot), so that a
    // toolkit repaints only those.
    struct Damage {
        bool all = false;
        std::vector<RectF> rects;
    };
    Damage takeDamage();
    // A line for the window's status bar: beacons, passes, zoom; with the
    // keyboard's cursor, its beacon's time and the plot's values.
    std::string statusText() const;
    // What the canvas shows, in words, for a screen reader: the plots and the
    // beacons and times they cover, or the map's legend.
    std::string summary() const;

    // ---- For the tests and the bench ----
    const TimeAxis& axis();  // as laid out for the plots
    RectF plotRect(int chart) const;
    std::optional<Readout> readout();
    // Where a sample's value of a series is drawn on the canvas.
    PointF pointOf(int series, std::size_t sample);
    RectF map() const;

    // The least size the view lays out (a smaller canvas shows its top left).
    static constexpr int kMinimumWidth = 320, kMinimumHeight = 240;
    static constexpr int kMargin = 8;
    static constexpr int kPlotLeft = 56;  // room for the value labels
    static constexpr int kPlotRight = 14;
    static constexpr int kPlotTop = 42;     // title and legend
    static constexpr int kPlotBottom = 38;  // time labels and dates
    static constexpr double kBreakWidth = 14;

private:
    struct Cell {
        float first, last, min, max;
        std::uint32_t firstPass, lastPass;
    };

    void layoutAxis();
    void rebuildColumns();
    void addToColumns(std::size_t sample, std::uint32_t pass);
    void rebuildTracks();
    std::pair<std::size_t, std::size_t> shownPasses() const;  // [first, end) of passes() on the axis
    int zoomPass() const;
    std::pair<double, double> valueRange(int chart) const;
    // The value axis of a chart and the pixel row of a value on it.
    struct ValueAxis {
        double lo, hi;
        float top, height;
        float y(double v) const { return top + height - float((v - lo) / (hi - lo)) * height; }
        friend bool operator==(const ValueAxis&, const ValueAxis&) = default;
    };
    ValueAxis valueAxis(int chart) const;
    void emitPlots();
    void emitPlot(int chart);
    void emitTimeAxis(const RectF& r);
    void emitReadout();
    void emitFocus();
    std::size_t cursorSample() const;
    int cursorSeries(std::size_t sample) const;
    void emitMap();
    void findReadout();
    int columnCount() const;

    TrendSamples samples_;
    int width_ = 1200, height_ = 760;
    TrendTab tab_ = TrendTab::Plots;
    bool realTime_ = false;
    std::optional<GeoPoint> station_;
    std::optional<std::int64_t> zoomT_;  // the zoomed pass's first time
    std::optional<PointF> pointer_;
    std::optional<std::int64_t> cursorT_;  // the keyboard's cursor: its beacon's time
    int cursorChart_ = 0;                  // the plot it reads out
    bool focused_ = false;

    // Laid out: the axis and the columns (data values per pixel column).
    bool axisStale_ = true, tracksStale_ = true, displayStale_ = true;
    TimeAxis axis_;
    std::int64_t axisEnd_ = 0;  // the axis's last time: a live beacon past it moves the axis
    std::vector<Cell> cells_;   // [series * columns + column]
    std::array<std::pair<double, double>, kTrendChartCount> zoomRanges_{};
    TrackBuilder tracks_;
    std::optional<Readout> readout_;
    bool readoutStale_ = true;
    bool damageAll_ = true;
    std::vector<RectF> damageRects_;
    DisplayList list_;
};

}  // namespace kestrel::plot
