// The trend window's canvas: layout, live updates and the display list (see
// TrendView.h).
//
// Sections:
//   Samples           a beacon added, what it damages, clearing
//   What is shown     size, tab, real time, the station, the pointer, zoom
//                     to a pass and back, the status text
//   Layout            the plot rectangles, the folded time axis, pixel
//                     columns, value axes, the map
//   The readout       the nearest sample under the pointer
//   The display list  the plots, the time axis, the readout, the map

#include "plot/TrendView.h"

#include "plot/Coastline.h"
#include "plot/Scale.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrel::plot {
namespace {

constexpr Rgb kCanvas{239, 239, 239}, kPanel{255, 255, 255}, kFrame{200, 200, 200}, kGrid{232, 232, 232},
    kBreak{244, 244, 244}, kAxisText{64, 64, 64}, kTitle{32, 32, 32}, kHair{150, 150, 150};
constexpr std::array<Rgb, 5> kPalette{{{32, 159, 223}, {120, 180, 50}, {240, 150, 20}, {109, 95, 213}, {191, 89, 62}}};
constexpr Rgb kOcean{219, 233, 244}, kLand{241, 236, 217}, kCoast{168, 159, 134}, kGraticule{197, 213, 226},
    kMapFrame{138, 154, 168}, kOldTrack{127, 159, 191}, kNewTrack{208, 48, 32}, kStation{32, 110, 40};

// Text is laid out before it is measured by a toolkit: widths are reckoned
// from a typical character of the 11-pixel font.
constexpr float kCharWidth = 6.5f;
float textWidth(std::string_view s) {
    std::size_t chars = 0;
    for (unsigned char c : s)
        chars += (c & 0xC0) != 0x80;  // UTF-8: count characters, not bytes
    return float(chars) * kCharWidth;
}

Rgb seriesColor(int series) {
    int index = 0;
    for (int i = 0; i < series; ++i)
        index += kTrendSeries[std::size_t(i)].chart == kTrendSeries[std::size_t(series)].chart;
    return kPalette[std::size_t(index) % kPalette.size()];
}

// The least height between two value labels (11-pixel text).
constexpr float kValueLabelRoom = 14;
// The least width of a pass that shows times of day of its own.
constexpr float kTimeLabelRoom = 40;

constexpr float kEmpty = std::numeric_limits<float>::infinity();

std::string degrees(double v, char positive, char negative) {
    const std::string n = formatValue(std::abs(v), 0);
    return v == 0 ? "0\u00b0" : n + "\u00b0" + (v > 0 ? positive : negative);
}

}  // namespace

TrendView::TrendView() = default;

// ---- Samples -------------------------------------------------------------------

bool TrendView::addBeacon(const BeaconLogEntry& entry) {
    const std::size_t before = samples_.size();
    std::array<ValueAxis, kTrendChartCount> axesBefore;
    for (int c = 0; c < kTrendChartCount; ++c)
        axesBefore[std::size_t(c)] = valueAxis(c);
    const bool inPlace = samples_.add(entry);
    if (samples_.size() == before)
        return false;  // no time: not shown
    readoutStale_ = displayStale_ = true;
    if (!inPlace || axisStale_) {
        axisStale_ = tracksStale_ = damageAll_ = true;
        return true;
    }
    const std::size_t k = samples_.size() - 1;
    const TrendSample& s = samples_.samples()[k];
    const auto pass = static_cast<std::uint32_t>(samples_.passes().size() - 1);
    const int zp = zoomPass();
    if (zp >= 0 && std::uint32_t(zp) != pass) {
        damageAll_ = damageAll_ || tab_ == TrendTab::GroundTrack;
        return tab_ == TrendTab::GroundTrack;  // off the zoomed pass: only the counts change
    }
    if (s.t > axisEnd_) {
        axisStale_ = tracksStale_ = damageAll_ = true;  // past the axis: it moves
        return true;
    }
    addToColumns(k, pass);
    if (zp >= 0)
        for (int c = 0; c < kTrendChartCount; ++c) {
            const auto r = samples_.range(c, k, k + 1);
            zoomRanges_[std::size_t(c)] = {std::min(zoomRanges_[std::size_t(c)].first, r.first),
                                           std::max(zoomRanges_[std::size_t(c)].second, r.second)};
        }
    if (s.gps && !tracksStale_)
        tracks_.add({s.latitude, s.longitude}, int(pass));
    // Only the beacon's pixel column changed, unless a value axis moved, the
    // map is shown or a readout may have moved.
    bool axesMoved = false;
    for (int c = 0; c < kTrendChartCount; ++c)
        axesMoved = axesMoved || !(valueAxis(c) == axesBefore[std::size_t(c)]);
    if (axesMoved || tab_ != TrendTab::Plots || readout_) {
        damageAll_ = true;
    } else if (!damageAll_) {
        const auto& segs = axis_.segments();
        const AxisSegment& seg = segs.size() == 1 ? segs[0] : segs[std::min<std::size_t>(pass, segs.size() - 1)];
        const float x = std::floor(float(seg.x0 + double(s.t - seg.t0) * (seg.x1 - seg.x0) / double(seg.t1 - seg.t0)));
        for (int c = 0; c < kTrendChartCount; ++c) {
            const RectF r = plotRect(c);
            // The column and its neighbours, which the lines join.
            damageRects_.push_back({r.left + x - 2, r.top, 5, r.height + 1});
        }
        // Many beacons between two paints (a hidden window, a burst): all.
        if (damageRects_.size() > 64) {
            damageAll_ = true;
            damageRects_.clear();
        }
    }
    return true;
}

TrendView::Damage TrendView::takeDamage() {
    Damage d{damageAll_, std::move(damageRects_)};
    damageAll_ = false;
    damageRects_.clear();
    return d;
}

void TrendView::samplesChanged() { axisStale_ = tracksStale_ = readoutStale_ = displayStale_ = damageAll_ = true; }

void TrendView::clear() {
    samples_.clear();
    zoomT_.reset();
    cursorT_.reset();
    samplesChanged();
}

// ---- What is shown ----------------------------------------------------------------

void TrendView::setSize(int width, int height) {
    // Smaller, the plots would have no room inside their titles and labels;
    // a toolkit shows the top left of the canvas then.
    width = std::max(width, kMinimumWidth);
    height = std::max(height, kMinimumHeight);
    if (width == width_ && height == height_)
        return;
    width_ = width;
    height_ = height;
    samplesChanged();
}

void TrendView::setTab(TrendTab tab) {
    if (tab == tab_)
        return;
    tab_ = tab;
    readoutStale_ = displayStale_ = damageAll_ = true;
}

void TrendView::setRealTime(bool on) {
    if (on == realTime_)
        return;
    realTime_ = on;
    samplesChanged();
}

void TrendView::setStation(std::optional<GeoPoint> station) {
    station_ = station;
    displayStale_ = damageAll_ = true;
}

bool TrendView::pointerMoved(float x, float y) {
    if (pointer_ && pointer_->x == x && pointer_->y == y)
        return false;
    pointer_ = PointF{x, y};
    if (tab_ != TrendTab::Plots)
        return false;
    if (cursorT_) {  // the pointer reads out instead of the keys
        cursorT_.reset();
        displayStale_ = damageAll_ = true;
    }
    const std::optional<Readout> before = readout_;
    readoutStale_ = true;
    findReadout();
    const bool changed = before.has_value() != readout_.has_value() ||
                         (before && (before->series != readout_->series || before->sample != readout_->sample));
    if (changed)
        displayStale_ = damageAll_ = true;
    return changed;
}

bool TrendView::pointerLeft() {
    pointer_.reset();
    const bool had = readout_.has_value();
    readout_.reset();
    if (had)
        displayStale_ = damageAll_ = true;
    return had;
}

bool TrendView::doubleClicked(float x, float y) {
    if (tab_ != TrendTab::Plots)
        return false;
    if (zoomT_)
        return back();
    for (int c = 0; c < kTrendChartCount; ++c) {
        const RectF r = plotRect(c);
        if (!r.contains(x, y))
            continue;
        samples_.settle();
        const int p = samples_.passAt(axis().timeAt(x - r.left));
        if (p < 0)
            return false;
        zoomT_ = samples_.passes()[std::size_t(p)].t0;
        samplesChanged();
        return true;
    }
    return false;
}

bool TrendView::back() {
    if (!zoomT_)
        return false;
    zoomT_.reset();
    samplesChanged();
    return true;
}

int TrendView::zoomPass() const { return zoomT_ ? samples_.passAt(*zoomT_) : -1; }

bool TrendView::key(TrendKey key) {
    if (tab_ != TrendTab::Plots)
        return false;
    axis();  // settled, laid out
    const auto [firstPass, endPass] = shownPasses();
    if (firstPass >= endPass)
        return false;
    const auto& passes = samples_.passes();
    const std::size_t lo = passes[firstPass].first, hi = passes[endPass - 1].end;
    const bool had = cursorT_.has_value();
    std::size_t at = had ? std::clamp(cursorSample(), lo, hi - 1) : hi - 1;
    const auto passOf = [&](std::size_t k) { return std::size_t(samples_.passAt(samples_.samples()[k].t)); };
    switch (key) {
    case TrendKey::Left: at = had && at > lo ? at - 1 : at; break;
    case TrendKey::Right: at = had && at + 1 < hi ? at + 1 : at; break;
    case TrendKey::Home: at = lo; break;
    case TrendKey::End: at = hi - 1; break;
    case TrendKey::PageUp: {
        const std::size_t p = passOf(at);
        at = at > passes[p].first || p == firstPass ? passes[p].first : passes[p - 1].first;
        break;
    }
    case TrendKey::PageDown: {
        const std::size_t p = passOf(at);
        at = p + 1 < endPass ? passes[p + 1].first : hi - 1;
        break;
    }
    case TrendKey::Up: cursorChart_ = (cursorChart_ + kTrendChartCount - 1) % kTrendChartCount; break;
    case TrendKey::Down: cursorChart_ = (cursorChart_ + 1) % kTrendChartCount; break;
    case TrendKey::Enter:
        if (zoomT_)
            return back();
        zoomT_ = passes[passOf(at)].t0;
        cursorT_ = samples_.samples()[at].t;
        samplesChanged();
        return true;
    case TrendKey::Escape:
        if (zoomT_)
            return back();
        if (!had)
            return false;
        cursorT_.reset();
        readoutStale_ = displayStale_ = damageAll_ = true;
        return true;
    }
    cursorT_ = samples_.samples()[at].t;
    pointer_.reset();
    readoutStale_ = displayStale_ = damageAll_ = true;
    return true;
}

void TrendView::setFocused(bool focused) {
    if (focused == focused_)
        return;
    focused_ = focused;
    displayStale_ = damageAll_ = true;
}

// The cursor's sample: the first at its time (samples in time order).
std::size_t TrendView::cursorSample() const { return std::min(samples_.lowerBound(*cursorT_), samples_.size() - 1); }

// The series of the cursor's plot read out on the canvas: the first with a value.
int TrendView::cursorSeries(std::size_t sample) const {
    int first = -1;
    for (int i = 0; i < kTrendSeriesCount; ++i)
        if (kTrendSeries[std::size_t(i)].chart == cursorChart_) {
            if (first < 0)
                first = i;
            if (std::isfinite(samples_.samples()[sample].values[std::size_t(i)]))
                return i;
        }
    return first;
}

std::string TrendView::statusText() const {
    const std::size_t n = samples_.size(), p = samples_.passes().size();
    if (n == 0)
        return "No beacons yet";
    std::string s = std::to_string(n) + (n == 1 ? " beacon" : " beacons");
    if (samples_.sorted())
        s += " in " + std::to_string(p) + (p == 1 ? " pass" : " passes");
    if (cursorT_ && samples_.sorted() && tab_ == TrendTab::Plots) {
        // The keyboard's cursor: its beacon and the plot's values.
        const std::size_t k = cursorSample();
        const TrendSample& b = samples_.samples()[k];
        s = "Beacon " + std::to_string(k + 1) + " of " + std::to_string(n) + ", pass " +
            std::to_string(samples_.passAt(b.t) + 1) + " of " + std::to_string(p) + ", " + formatDateTime(b.t) +
            " UTC:";
        const char* separator = " ";
        for (const TrendSeriesInfo& info : kTrendSeries) {
            if (info.chart != cursorChart_)
                continue;
            const float v = b.values[std::size_t(&info - kTrendSeries.data())];
            s += separator + std::string(info.name) + " " + formatValue(v, info.decimals) + " " + info.unit;
            separator = ", ";
        }
        return s + (zoomT_ ? " (Enter or Esc: all passes)" : " (Enter: zoom to its pass)");
    }
    if (const int z = zoomPass(); z >= 0)
        s += "; pass " + std::to_string(z + 1) + " of " + std::to_string(p) + " (double-click or Esc: all passes)";
    else if (tab_ == TrendTab::Plots)
        s += realTime_ ? "; real time" : "; passes side by side (double-click one to zoom)";
    if (focused_ && tab_ == TrendTab::Plots)
        s += "; arrow keys: beacon by beacon";
    return s;
}

std::string TrendView::summary() const {
    const std::size_t n = samples_.size();
    if (tab_ == TrendTab::GroundTrack)
        return "Ground track of " + std::to_string(n) + (n == 1 ? " beacon" : " beacons");
    std::string s = "Battery voltage, currents, temperatures and magnetic field";
    if (n == 0 || !samples_.sorted())
        return s + (n == 0 ? ": no beacons yet" : "");
    const std::size_t p = samples_.passes().size();
    return s + " of " + std::to_string(n) + (n == 1 ? " beacon" : " beacons") + " in " + std::to_string(p) +
           (p == 1 ? " pass" : " passes") + ", " + formatDateTime(samples_.samples().front().t) + " to " +
           formatDateTime(samples_.samples().back().t) + " UTC";
}

// ---- Layout ------------------------------------------------------------------------

RectF TrendView::plotRect(int chart) const {
    const float cw = float(width_ - 3 * kMargin) / 2, ch = float(height_ - 3 * kMargin) / 2;
    const float left = kMargin + float(chart % 2) * (cw + kMargin), top = kMargin + float(chart / 2) * (ch + kMargin);
    return {std::floor(left + kPlotLeft), std::floor(top + kPlotTop), std::floor(cw - kPlotLeft - kPlotRight),
            std::floor(ch - kPlotTop - kPlotBottom)};
}

int TrendView::columnCount() const { return std::max(1, int(plotRect(0).width)); }

const TimeAxis& TrendView::axis() {
    if (axisStale_) {
        layoutAxis();
        rebuildColumns();
        axisStale_ = false;
    }
    return axis_;
}

std::pair<std::size_t, std::size_t> TrendView::shownPasses() const {
    const int z = zoomPass();
    if (z >= 0)
        return {std::size_t(z), std::size_t(z) + 1};
    return {0, samples_.passes().size()};
}

void TrendView::layoutAxis() {
    samples_.settle();
    const auto& passes = samples_.passes();
    axis_ = TimeAxis();
    if (passes.empty())
        return;
    const std::int64_t interval = samples_.typicalInterval();
    const std::int64_t pad = interval > 0 ? std::max<std::int64_t>(interval / 2, 1000) : 30'000;
    const double width = columnCount();
    const auto [first, end] = shownPasses();
    // Live beacons come after the last: leave them a little room, so that the
    // axis does not move at every one.
    const bool live = end == passes.size();
    std::vector<TimeSpan> spans;
    std::int64_t total = 0;
    if (realTime_ || end - first == 1) {
        const std::int64_t t0 = passes[first].t0, t1 = passes[end - 1].t1;
        const std::int64_t margin = std::max((t1 - t0) / 50, pad);
        spans.push_back({t0 - margin, t1 + margin});
        total = t1 - t0;
    } else {
        for (std::size_t p = first; p < end; ++p) {
            spans.push_back({passes[p].t0 - pad, passes[p].t1 + pad});
            total += passes[p].t1 - passes[p].t0 + 2 * pad;
        }
    }
    if (live)
        spans.back().t1 += total / 33;
    axis_ = spans.size() == 1 ? TimeAxis::real(spans[0], 0, width) : TimeAxis::folded(spans, 0, width, kBreakWidth);
    // A live beacon up to here lands on this axis; none does when the newest
    // pass is not shown.
    axisEnd_ = live ? spans.back().t1 - pad : std::numeric_limits<std::int64_t>::min();
    if (zoomT_)
        for (int c = 0; c < kTrendChartCount; ++c)
            zoomRanges_[std::size_t(c)] = samples_.range(c, passes[first].first, passes[end - 1].end);
}

void TrendView::rebuildColumns() {
    const int cols = columnCount();
    cells_.assign(std::size_t(kTrendSeriesCount) * std::size_t(cols), Cell{kEmpty, kEmpty, kEmpty, -kEmpty, 0, 0});
    if (axis_.empty())
        return;
    const auto [first, end] = shownPasses();
    const auto& passes = samples_.passes();
    for (std::size_t p = first; p < end; ++p)
        for (std::size_t k = passes[p].first; k < passes[p].end; ++k)
            addToColumns(k, std::uint32_t(p));
}

void TrendView::addToColumns(std::size_t k, std::uint32_t pass) {
    const int cols = columnCount();
    const TrendSample& s = samples_.samples()[k];
    const auto& segments = axis_.segments();
    const auto [first, end] = shownPasses();
    const AxisSegment& seg = segments.size() == 1 ? segments[0] : segments[std::min(pass - first, segments.size() - 1)];
    const double x = seg.x0 + double(s.t - seg.t0) * (seg.x1 - seg.x0) / double(seg.t1 - seg.t0);
    const int col = std::clamp(int(x), 0, cols - 1);
    for (std::size_t i = 0; i < std::size_t(kTrendSeriesCount); ++i) {
        const float v = s.values[i];
        if (!std::isfinite(v))
            continue;
        Cell& c = cells_[i * std::size_t(cols) + std::size_t(col)];
        if (c.min > c.max) {
            c = {v, v, v, v, pass, pass};
        } else {
            c.last = v;
            c.min = std::min(c.min, v);
            c.max = std::max(c.max, v);
            c.lastPass = pass;
        }
    }
}

std::pair<double, double> TrendView::valueRange(int chart) const {
    return zoomT_ ? zoomRanges_[std::size_t(chart)] : samples_.range(chart);
}

TrendView::ValueAxis TrendView::valueAxis(int chart) const {
    const RectF r = plotRect(chart);
    const auto [lo, hi] = valueRange(chart);
    const ValueTicks vt = niceTicks(lo, hi, std::clamp(int(r.height / 36), 2, 8));
    return {vt.lo, vt.hi, r.top, r.height};
}

PointF TrendView::pointOf(int series, std::size_t sample) {
    const int chart = kTrendSeries[std::size_t(series)].chart;
    const TrendSample& s = samples_.samples()[sample];
    return {plotRect(chart).left + float(axis().x(s.t)), valueAxis(chart).y(s.values[std::size_t(series)])};
}

RectF TrendView::map() const {
    const RectF room{kMargin + 40.f, kMargin + 4.f, float(width_ - 2 * kMargin - 40),
                     float(height_ - 2 * kMargin - 48)};
    return mapRect(room);
}

void TrendView::rebuildTracks() {
    tracksStale_ = false;
    samples_.settle();
    tracks_ = TrackBuilder(map());
    const auto& passes = samples_.passes();
    for (std::size_t p = 0; p < passes.size(); ++p)
        for (std::size_t k = passes[p].first; k < passes[p].end; ++k) {
            const TrendSample& s = samples_.samples()[k];
            if (s.gps)
                tracks_.add({s.latitude, s.longitude}, int(p));
        }
}

// ---- The readout -----------------------------------------------------------------------

std::optional<Readout> TrendView::readout() {
    axis();
    if (readoutStale_)
        findReadout();
    return readout_;
}

void TrendView::findReadout() {
    readoutStale_ = false;
    readout_.reset();
    if (tab_ != TrendTab::Plots)
        return;
    if (cursorT_ && !pointer_) {
        const TimeAxis& a = axis();
        if (a.empty())
            return;
        const std::size_t k = cursorSample();
        const int series = cursorSeries(k);
        const RectF r = plotRect(cursorChart_);
        const float v = samples_.samples()[k].values[std::size_t(series)];
        readout_ = Readout{series,
                           k,
                           {r.left + float(a.x(samples_.samples()[k].t)),
                            std::isfinite(v) ? valueAxis(cursorChart_).y(v) : r.top + r.height / 2}};
        return;
    }
    if (!pointer_)
        return;
    const TimeAxis& a = axis();
    if (a.empty())
        return;
    const float px = pointer_->x, py = pointer_->y;
    int chart = -1;
    for (int c = 0; c < kTrendChartCount && chart < 0; ++c)
        if (plotRect(c).contains(px, py))
            chart = c;
    if (chart < 0)
        return;
    const RectF r = plotRect(chart);
    constexpr float kReach = 12;
    const auto [firstPass, endPass] = shownPasses();
    const auto& passes = samples_.passes();
    const std::size_t lo = std::max(passes[firstPass].first, samples_.lowerBound(a.timeAt(px - r.left - kReach)));
    const std::size_t hi = std::min(passes[endPass - 1].end, samples_.lowerBound(a.timeAt(px - r.left + kReach) + 1));
    // Many samples under the pointer (a year on a few hundred pixels): those
    // nearest in time to it are enough.
    constexpr std::size_t kMostLooked = 20'000;
    std::size_t from = lo, to = hi;
    if (hi > lo + kMostLooked) {
        const std::size_t mid = std::clamp(samples_.lowerBound(a.timeAt(px - r.left)), lo, hi);
        from = std::max(lo, mid - std::min(mid, kMostLooked / 2));
        to = std::min(hi, from + kMostLooked);
    }
    const ValueAxis va = valueAxis(chart);
    float best = kReach * kReach * 4;
    for (std::size_t k = from; k < to; ++k) {
        const TrendSample& s = samples_.samples()[k];
        const float x = r.left + float(a.x(s.t));
        const float dx = x - px;
        for (int i = 0; i < kTrendSeriesCount; ++i) {
            const float v = s.values[std::size_t(i)];
            if (kTrendSeries[std::size_t(i)].chart != chart || !std::isfinite(v))
                continue;
            const float y = va.y(v);
            const float d = dx * dx + (y - py) * (y - py);
            if (d < best) {
                best = d;
                readout_ = Readout{i, k, {x, y}};
            }
        }
    }
}

// ---- The display list ----------------------------------------------------------------------

const DisplayList& TrendView::display() {
    if (tab_ == TrendTab::Plots)
        axis();
    if (tab_ == TrendTab::GroundTrack && tracksStale_)
        rebuildTracks();
    if (readoutStale_)
        findReadout();
    if (!displayStale_)
        return list_;
    displayStale_ = false;
    list_.clear();
    list_.width = width_;
    list_.height = height_;
    list_.fillRect({0, 0, float(width_), float(height_)}, kCanvas);
    if (tab_ == TrendTab::Plots)
        emitPlots();
    else
        emitMap();
    return list_;
}

void TrendView::emitPlots() {
    for (int c = 0; c < kTrendChartCount; ++c)
        emitPlot(c);
    emitReadout();
    emitFocus();
}

// With the keyboard's focus, a dotted frame round the plot the keys read out.
void TrendView::emitFocus() {
    if (!focused_)
        return;
    const RectF r = plotRect(cursorChart_);
    const float left = r.left - kPlotLeft + 2.5f, top = r.top - kPlotTop + 2.5f;
    const float right = r.right() + kPlotRight - 2.5f, bottom = r.bottom() + kPlotBottom - 2.5f;
    list_.line(left, top, right, top, kHair, 1, true);
    list_.line(right, top, right, bottom, kHair, 1, true);
    list_.line(right, bottom, left, bottom, kHair, 1, true);
    list_.line(left, bottom, left, top, kHair, 1, true);
}

void TrendView::emitPlot(int chart) {
    const RectF r = plotRect(chart);
    const RectF panel{r.left - kPlotLeft, r.top - kPlotTop, r.width + kPlotLeft + kPlotRight,
                      r.height + kPlotTop + kPlotBottom};
    list_.fillRect(panel, kPanel);
    list_.text(panel.left + panel.width / 2, panel.top + 6, kTrendChartTitles[std::size_t(chart)], HAlign::Center,
               VAlign::Top, kTitle, 12, true);
    // The legend: a swatch and the name of each series, centred in a row.
    std::vector<int> series;
    float legendWidth = 0;
    for (int i = 0; i < kTrendSeriesCount; ++i)
        if (kTrendSeries[std::size_t(i)].chart == chart) {
            series.push_back(i);
            legendWidth += 16 + textWidth(kTrendSeries[std::size_t(i)].name) + 12;
        }
    float lx = panel.left + (panel.width - legendWidth) / 2;
    for (int i : series) {
        list_.fillRect({lx, panel.top + 27, 12, 3}, seriesColor(i));
        list_.text(lx + 16, panel.top + 28.5f, kTrendSeries[std::size_t(i)].name, HAlign::Left, VAlign::Middle,
                   kAxisText);
        lx += 16 + textWidth(kTrendSeries[std::size_t(i)].name) + 12;
    }

    const TimeAxis& a = axis_;
    if (a.empty()) {
        list_.frameRect(r, kFrame);
        list_.text(r.left + r.width / 2, r.top + r.height / 2, "No beacons yet", HAlign::Center, VAlign::Middle,
                   kAxisText);
        return;
    }
    // Breaks between passes: a lighter band.
    const auto& segs = a.segments();
    if (a.breakWidth() >= TimeAxis::kMarkedBreak)
        for (std::size_t s = 0; s + 1 < segs.size(); ++s)
            list_.fillRect({r.left + float(segs[s].x1), r.top, float(segs[s + 1].x0 - segs[s].x1), r.height}, kBreak);

    // Values: grid lines and labels.
    const auto [vlo, vhi] = valueRange(chart);
    const ValueTicks vt = niceTicks(vlo, vhi, std::clamp(int(r.height / 36), 2, 8));
    const ValueAxis va = valueAxis(chart);
    const auto yOf = [&va](double v) { return va.y(v); };
    // A label where it keeps clear of the one below (a plot too low for
    // every tick's label names every other).
    float lastLabelY = std::numeric_limits<float>::infinity();
    for (double v : vt.at) {
        const float y = std::round(yOf(v)) + 0.5f;
        list_.line(r.left, y, r.right(), y, kGrid);
        if (lastLabelY - y < kValueLabelRoom)
            continue;
        list_.text(r.left - 6, y, formatValue(v, vt.decimals), HAlign::Right, VAlign::Middle, kAxisText);
        lastLabelY = y;
    }
    emitTimeAxis(r);
    list_.frameRect(r, kFrame);

    // The series, from the columns: each column's first, lowest, highest and
    // last value, joined to the next column of the same pass.
    const int cols = columnCount();
    for (int i : series) {
        bool open = false;
        std::uint32_t lastPass = 0;
        for (int col = 0; col < cols; ++col) {
            const Cell& c = cells_[std::size_t(i) * std::size_t(cols) + std::size_t(col)];
            if (c.min > c.max)
                continue;
            if (!open || lastPass != c.firstPass) {
                if (open)
                    list_.endPolyline();
                list_.beginPolyline(seriesColor(i), 1, true);
                open = true;
            }
            const float x = r.left + float(col) + 0.5f;
            list_.addPoint(x, yOf(c.first));
            if (c.min < c.max) {
                list_.addPoint(x, yOf(c.first - c.min < c.max - c.first ? c.min : c.max));
                list_.addPoint(x, yOf(c.first - c.min < c.max - c.first ? c.max : c.min));
            }
            if (c.last != c.first || c.min < c.max)
                list_.addPoint(x, yOf(c.last));
            lastPass = c.lastPass;
        }
        if (open)
            list_.endPolyline();
    }
}

void TrendView::emitTimeAxis(const RectF& r) {
    const TimeAxis& a = axis_;
    const auto& segs = a.segments();
    const float labelY = r.bottom() + 4, dateY = r.bottom() + 19;
    // "UTC" ends left of the axis: the time labels keep clear of it.
    list_.text(r.left - 6, labelY, "UTC", HAlign::Right, VAlign::Top, kAxisText);
    float lastLabelEnd = r.left - 6;
    // A label centred under x fits after the one that ends at `end` and
    // inside the panel; `end` moves past it.
    const auto fits = [&r](float x, const std::string& text, float& end) {
        const float half = textWidth(text) / 2;
        if (x - half < end + 6 || x + half > r.right() + kPlotRight)
            return false;
        end = x + half;
        return true;
    };
    const auto label = [&](float x, const std::string& text) {
        list_.text(x, labelY, text, HAlign::Center, VAlign::Top, kAxisText);
    };
    const auto tick = [&](float x) {
        list_.line(x, r.top, x, r.bottom(), kGrid);
        list_.line(x, r.bottom(), x, r.bottom() + 3, kFrame);
    };
    // Breaks: two slanted strokes across the axis line.
    if (a.breakWidth() >= TimeAxis::kMarkedBreak)
        for (std::size_t s = 0; s + 1 < segs.size(); ++s) {
            const float xb = r.left + float(segs[s].x1 + segs[s + 1].x0) / 2;
            list_.line(xb - 4, r.bottom() + 4, xb, r.bottom() - 4, kAxisText);
            list_.line(xb, r.bottom() + 4, xb + 4, r.bottom() - 4, kAxisText);
        }

    // Passes too narrow for times of day of their own (many passes side by
    // side): the days (or months, or years) instead, each named where the
    // first pass of it starts, and the dates the axis spans below.
    std::size_t roomy = 0;
    for (const AxisSegment& seg : segs)
        roomy += seg.x1 - seg.x0 >= kTimeLabelRoom;
    if (segs.size() > 1 && roomy * 2 < segs.size()) {
        std::vector<std::string> dates;
        dates.reserve(segs.size());
        for (const AxisSegment& seg : segs)
            dates.push_back(formatDate(seg.t0));
        // "yyyy-MM-dd" cut to the unit: the day, the month, the year.
        constexpr std::pair<TimeLabel, std::size_t> kUnits[] = {
            {TimeLabel::Days, 10}, {TimeLabel::Months, 7}, {TimeLabel::Years, 4}};
        for (const auto& [unit, keyLength] : kUnits) {
            // Where the unit changes: the first pass of each day (month, year).
            std::vector<std::size_t> starts;
            for (std::size_t s = 0; s < segs.size(); ++s)
                if (s == 0 || dates[s].compare(0, keyLength, dates[s - 1], 0, keyLength) != 0)
                    starts.push_back(s);
            std::vector<std::pair<float, std::string>> named;
            for (std::size_t s : starts) {
                const float x = std::round(r.left + float(segs[s].x0)) + 0.5f;
                std::string text = formatTime(segs[s].t0, unit);
                if (fits(x, text, lastLabelEnd))
                    named.emplace_back(x, std::move(text));
            }
            // Fine units as long as at least half of them can be named.
            if (named.size() * 2 < starts.size() && unit != TimeLabel::Years) {
                lastLabelEnd = r.left - 6;
                continue;
            }
            for (const auto& [x, text] : named) {
                tick(x);
                label(x, text);
            }
            break;
        }
        const std::string from = formatDate(a.first()), to = formatDate(a.last());
        list_.text(r.left + r.width / 2, dateY, from == to ? from : from + " \u2013 " + to, HAlign::Center, VAlign::Top,
                   kAxisText);
        return;
    }

    // Times of day within each pass (or along the one real-time axis), and
    // the date under the first pass and under each that starts another day,
    // where it fits.
    float lastDateEnd = -1e9f;
    std::string lastDate;
    for (const AxisSegment& seg : segs) {
        const float x0 = r.left + float(seg.x0), x1 = r.left + float(seg.x1);
        const TimeTicks tt = timeTicks(seg.t0, seg.t1, int((x1 - x0) / 40));
        for (std::int64_t t : tt.at) {
            const float x = std::round(r.left + float(a.x(t))) + 0.5f;
            tick(x);
            if (const std::string text = formatTime(t, tt.label); fits(x, text, lastLabelEnd))
                label(x, text);
        }
        std::string date = formatDate(seg.t0);
        const std::string endDate = formatDate(seg.t1);
        if (endDate != date)
            date += " \u2013 " + endDate;
        const float mid = (x0 + x1) / 2, half = textWidth(date) / 2;
        if (date != lastDate && mid - half >= lastDateEnd + 10 && half * 2 <= std::max(x1 - x0, 70.f)) {
            list_.text(mid, dateY, date, HAlign::Center, VAlign::Top, kAxisText);
            lastDateEnd = mid + half;
            lastDate = endDate;
        }
    }
}

void TrendView::emitReadout() {
    if (!readout_)
        return;
    const Readout& ro = *readout_;
    const TrendSeriesInfo& info = kTrendSeries[std::size_t(ro.series)];
    const RectF r = plotRect(info.chart);
    const TrendSample& s = samples_.samples()[ro.sample];
    const Rgb color = seriesColor(ro.series);
    list_.line(ro.at.x, r.top, ro.at.x, r.bottom(), kHair, 1, true);
    list_.marker(ro.at.x, ro.at.y, Marker::Circle, 9, color, kPanel);
    const std::string value =
        std::string(info.name) + " " + formatValue(s.values[std::size_t(ro.series)], info.decimals) + " " + info.unit;
    const std::string time = formatDateTime(s.t);
    const float w = std::max(textWidth(value), textWidth(time)) + 12, h = 34;
    float bx = ro.at.x + 10, by = ro.at.y - h - 8;
    if (bx + w > r.right())
        bx = ro.at.x - 10 - w;
    if (by < r.top)
        by = ro.at.y + 10;
    bx = std::max(bx, r.left);
    by = std::min(by, r.bottom() - h);
    list_.fillRect({bx, by, w, h}, kPanel);
    list_.frameRect({bx, by, w, h}, color);
    list_.text(bx + 6, by + 4, value, HAlign::Left, VAlign::Top, kTitle, 11, true);
    list_.text(bx + 6, by + 18, time, HAlign::Left, VAlign::Top, kAxisText);
}

void TrendView::emitMap() {
    const RectF m = map();
    list_.fillRect(m, kOcean);
    // The land, polygon by polygon.
    const Coastline& coast = coastline();
    std::vector<PointF> ring;
    std::size_t point = 0, ringIndex = 0;
    for (std::size_t p = 0; p < coast.polygonCount; ++p) {
        list_.beginPolygon(kLand, kCoast);
        for (std::size_t r = 0; r < coast.polygons[p]; ++r, ++ringIndex) {
            ring.clear();
            for (std::size_t i = 0; i < coast.rings[ringIndex]; ++i, ++point)
                ring.push_back(project({coast.points[2 * point + 1] / 100.0, coast.points[2 * point] / 100.0}, m));
            list_.addRing(ring.data(), ring.size());
        }
        list_.endPolygon();
    }
    // Every 30 degrees.
    for (int lon = -150; lon <= 150; lon += 30) {
        const float x = std::round(project({0, double(lon)}, m).x) + 0.5f;
        list_.line(x, m.top, x, m.bottom(), kGraticule, 1, true);
        list_.text(x, m.bottom() + 4, degrees(lon, 'E', 'W'), HAlign::Center, VAlign::Top, kAxisText);
    }
    for (int lat = -60; lat <= 60; lat += 30) {
        const float y = std::round(project({double(lat), 0}, m).y) + 0.5f;
        list_.line(m.left, y, m.right(), y, kGraticule, 1, true);
        list_.text(m.left - 6, y, degrees(lat, 'N', 'S'), HAlign::Right, VAlign::Middle, kAxisText);
    }
    list_.frameRect(m, kMapFrame);

    // Older passes faint, the newest (or the zoomed one) strong, on top.
    const int zp = zoomPass();
    const int strong = zp >= 0 ? zp : int(samples_.passes().size()) - 1;
    for (int pass : {-1, strong})
        for (const TrackBuilder::Line& l : tracks_.lines()) {
            if ((pass < 0) == (l.pass == strong))
                continue;
            list_.beginPolyline(pass < 0 ? kOldTrack : kNewTrack, pass < 0 ? 1 : 2);
            for (const PointF& q : l.points)
                list_.addPoint(q.x, q.y);
            list_.endPolyline();
        }
    const float legendY = m.bottom() + 22;
    if (station_) {
        const PointF q = project(*station_, m);
        list_.marker(q.x, q.y, Marker::Triangle, 11, kStation, {255, 255, 255});
        list_.text(q.x + 8, q.y, "Station", HAlign::Left, VAlign::Middle, kStation, 11, true);
    }
    // The newest position of the shown passes.
    const auto [firstPass, endPass] = shownPasses();
    std::size_t gpsCount = 0;
    const TrendSample* newest = nullptr;
    if (firstPass < endPass) {
        const auto& passes = samples_.passes();
        for (std::size_t k = passes[firstPass].first; k < passes[endPass - 1].end; ++k)
            if (samples_.samples()[k].gps) {
                ++gpsCount;
                newest = &samples_.samples()[k];
            }
    }
    std::string legend;
    if (newest) {
        const PointF q = project({newest->latitude, newest->longitude}, m);
        list_.marker(q.x, q.y, Marker::Circle, 11, kNewTrack, kNewTrack);
        list_.text(q.x + 9, q.y - 9, formatTime(newest->t, TimeLabel::Seconds), HAlign::Left, VAlign::Middle, kNewTrack,
                   11, true);
        legend = "Newest position " + formatDateTime(newest->t) +
                 " UTC: " + formatValue(std::abs(newest->latitude), 2) + "\u00b0" + (newest->latitude < 0 ? "S" : "N") +
                 " " + formatValue(std::abs(newest->longitude), 2) + "\u00b0" + (newest->longitude < 0 ? "W" : "E") +
                 "; " + std::to_string(gpsCount) + (gpsCount == 1 ? " position" : " positions");
    } else {
        legend = samples_.size() == 0 ? "No beacons yet" : "No GPS positions: the receiver was off";
    }
    if (!station_)
        legend += "; no station position ([Share] Latitude, Longitude)";
    list_.text(m.left + m.width / 2, legendY, legend, HAlign::Center, VAlign::Top, kAxisText);
}

}  // namespace kestrel::plot
