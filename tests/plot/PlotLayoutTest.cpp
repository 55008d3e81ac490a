// The plot design's layout: nice ticks, the folded time axis, the trend
// view's passes, nearest point and zoom, and the map's projection with tracks
// broken at the date line.

#include "plot/Scale.h"
#include "plot/TimeAxis.h"
#include "plot/TrendView.h"

#include "telemetry/TimeIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

namespace kestrel::plot {
namespace {

const std::int64_t kStart = utcMilliseconds({2026, 12, 0, 8, 5, 30, 0, 0});
constexpr std::int64_t kOrbit = 95 * 60'000;

BeaconLogEntry beaconAt(std::int64_t ms, double vbat = 7100) {
    BeaconLogEntry e;
    e.utc = utcFromMilliseconds(ms);
    e.vbat = static_cast<std::uint16_t>(vbat);
    e.iin = 300;
    e.gpsOn = 1;
    e.latitude = 10;
    e.longitude = double((ms / 1000) % 360) - 180;
    return e;
}

// Four passes an orbit apart, 66 beacons 10 s apart each, the battery rising
// by a millivolt a beacon; the 31st beacon of the second pass a spike.
void fourPasses(TrendView& view) {
    for (int pass = 0; pass < 4; ++pass)
        for (int b = 0; b < 66; ++b)
            view.addBeacon(beaconAt(kStart + pass * kOrbit + b * 10'000, pass == 1 && b == 30 ? 7300 : 7100 + b));
}

std::size_t polylinesIn(const DisplayList& list, const RectF& r, Rgb color) {
    std::size_t n = 0;
    for (const Item& i : list.items)
        n += i.op == Op::Polyline && i.color == color && list.points[i.first].x >= r.left &&
             list.points[i.first].x < r.right() && list.points[i.first].y >= r.top - 0.5f &&
             list.points[i.first].y <= r.bottom() + 0.5f;
    return n;
}

bool shows(const DisplayList& list, const std::string& text) {
    const auto texts = list.shownTexts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST(Scale, ValueTicksAreRoundAndCoverTheData) {
    // 0.02 would need 7 ticks from 7.10 to 7.22: the next round step.
    const ValueTicks t = niceTicks(7.111, 7.207, 6);
    EXPECT_DOUBLE_EQ(t.step, 0.025);
    EXPECT_NEAR(t.lo, 7.1, 1e-9);
    EXPECT_NEAR(t.hi, 7.225, 1e-9);
    EXPECT_EQ(t.decimals, 3);
    EXPECT_EQ(t.at.size(), 6u);

    const ValueTicks wide = niceTicks(-41, 38, 5);
    EXPECT_EQ(wide.step, 25);
    EXPECT_EQ(wide.lo, -50);
    EXPECT_EQ(wide.hi, 50);

    const ValueTicks one = niceTicks(5, 5, 6);
    EXPECT_LT(one.lo, 5);
    EXPECT_GT(one.hi, 5);
    EXPECT_EQ(formatValue(-0.0001, 2), "0.00");
    EXPECT_EQ(formatValue(2.5, 1), "2.5");

    // Room for two labels and a range across zero: a third tick, not an
    // axis a thousand times too wide (or none at all).
    const ValueTicks across = niceTicks(-30, 25, 2);
    EXPECT_EQ(across.lo, -50);
    EXPECT_EQ(across.hi, 50);
    EXPECT_EQ(across.at.size(), 3u);
    EXPECT_EQ(niceTicks(-40, 40, 2).hi, 50);
    const ValueTicks two = niceTicks(0.1, 10.1, 2);
    EXPECT_EQ(two.at.size(), 2u) << "two ticks where two hold it truly";
    EXPECT_EQ(two.hi, 20);
}

// For ranges of every kind (across zero, far from it, narrow, flat, huge)
// and every room for labels: ticks at whole round steps that cover the data,
// with the data taking a fair share of the axis and the labels all different.
TEST(Scale, ValueTicksGiveATrueAxisForAnyRangeAndRoom) {
    std::mt19937_64 random(39);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int i = 0; i < 10'000; ++i) {
        const double size = std::pow(10.0, -3 + 9 * unit(random));
        const double centre = size * (i % 4 == 0 ? 0 : (unit(random) - 0.5) * std::pow(10.0, 4 * unit(random)));
        const double width = i % 7 == 0 ? 0 : size * unit(random);
        const double lo = centre - width * unit(random), hi = lo + width;
        const int room = 1 + i % 10;
        const ValueTicks t = niceTicks(lo, hi, room);
        SCOPED_TRACE("niceTicks(" + std::to_string(lo) + ", " + std::to_string(hi) + ", " + std::to_string(room) +
                     ") = " + std::to_string(t.lo) + ".." + std::to_string(t.hi));
        ASSERT_TRUE(std::isfinite(t.lo) && std::isfinite(t.hi) && t.lo < t.hi);
        const double axis = t.hi - t.lo;
        EXPECT_LE(t.lo, lo + 1e-3 * axis);
        EXPECT_GE(t.hi, hi - 1e-3 * axis);
        if (hi - lo > 1e-6 * std::max({1.0, std::abs(lo), std::abs(hi)})) {
            EXPECT_GE((hi - lo) / axis, 0.25) << "the data shows as a flat line on a far too wide axis";
        }
        ASSERT_GE(t.at.size(), 2u);
        EXPECT_LE(t.at.size(), std::size_t(std::max(room, 3)));
        const double mantissa = t.step / std::pow(10.0, std::floor(std::log10(t.step) + 1e-9));
        EXPECT_TRUE(std::abs(mantissa - 1) < 1e-6 || std::abs(mantissa - 2) < 1e-6 || std::abs(mantissa - 2.5) < 1e-6 ||
                    std::abs(mantissa - 5) < 1e-6)
            << "step " << t.step;
        for (std::size_t k = 1; k < t.at.size(); ++k) {
            EXPECT_NEAR(t.at[k] - t.at[k - 1], t.step, 1e-9 * axis);
            EXPECT_NE(formatValue(t.at[k], t.decimals), formatValue(t.at[k - 1], t.decimals));
        }
        if (HasFailure())
            return;
    }
}

// Where a text's capitals and digits show on the canvas: 7 pixels a
// character (the widest digit of either program's 11-pixel font), 9 pixels
// high about the middle of its line.
RectF textBox(const DisplayList& list, const Item& i) {
    const float w = 7.0f * float(list.texts[i.text].size()), h = 9;
    const float left = i.hAlign == HAlign::Left     ? i.rect.left
                       : i.hAlign == HAlign::Center ? i.rect.left - w / 2
                                                    : i.rect.left - w;
    const float middle = i.vAlign == VAlign::Top      ? i.rect.top + float(i.fontPx) / 2
                         : i.vAlign == VAlign::Middle ? i.rect.top
                                                      : i.rect.top - float(i.fontPx) / 2;
    return {left, middle - h / 2, w, h};
}

bool overlap(const RectF& a, const RectF& b) {
    return a.left < b.right() && b.left < a.right() && a.top < b.bottom() && b.top < a.bottom();
}

// Any canvas size from the least the view lays out, any range of values,
// passes of any length, folded or in real time: every value is drawn inside
// its plot, and no two labels beside or below a plot overlap ("UTC" among
// them).
TEST(TrendView, PlotsStayTrueAndLabelsApartAtAnySize) {
    std::mt19937_64 random(41);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int i = 0; i < 10'000; ++i) {
        TrendView view;
        // Every tenth the trend window's least canvas.
        const int width = i % 10 == 0 ? 640 : TrendView::kMinimumWidth + int(1300 * unit(random));
        const int height = i % 10 == 0 ? 342 : TrendView::kMinimumHeight + int(800 * unit(random));
        view.setSize(width, height);
        view.setRealTime(i % 3 == 0);
        const double size = std::pow(10.0, -2 + 6 * unit(random));
        const double lo = i % 2 ? -size * unit(random) : size * (unit(random) - 0.5) * 20;
        const double hi = i % 5 == 0 ? lo : lo + size * unit(random);
        const int passes = 1 + i % 4;
        const std::int64_t length = 10'000 + std::int64_t(7'200'000 * unit(random));
        for (int p = 0; p < passes; ++p)
            for (int b = 0; b < 3; ++b) {
                BeaconLogEntry e = beaconAt(kStart + p * kOrbit * (1 + i % 20) + b * length / 2);
                e.bx = e.by = e.bz = float(b == 0 ? lo : b == 1 ? hi : (lo + hi) / 2);
                view.addBeacon(e);
            }
        const DisplayList& list = view.display();
        const RectF r = view.plotRect(3);
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + ", " + std::to_string(passes) +
                     " passes of " + std::to_string(length) + " ms, field " + std::to_string(lo) + ".." +
                     std::to_string(hi));
        for (std::size_t k = 0; k < view.samples().size(); ++k) {
            const PointF at = view.pointOf(10, k);
            ASSERT_TRUE(at.y >= r.top - 0.5f && at.y <= r.bottom() + 0.5f) << "sample " << k << " at y " << at.y;
        }
        // The labels of the magnetic field's plot: left of it and below it.
        std::vector<RectF> labels;
        for (const Item& item : list.items)
            if (item.op == Op::Text && item.fontPx == 11 && !item.bold && item.rect.left > r.left - view.kPlotLeft &&
                item.rect.left < r.right() + view.kPlotRight && item.rect.top > r.top - 10)
                labels.push_back(textBox(list, item));
        for (std::size_t a = 0; a < labels.size(); ++a)
            for (std::size_t b = a + 1; b < labels.size(); ++b)
                ASSERT_FALSE(overlap(labels[a], labels[b]))
                    << "labels " << a << " and " << b << " of " << labels.size();
    }
}

TEST(Scale, TimeTicksFallOnWholeUnitsOfTheCalendar) {
    const TimeTicks hours = timeTicks(kStart, kStart + 5 * 3'600'000, 7);
    EXPECT_EQ(hours.step, 3'600'000);
    EXPECT_EQ(formatTime(hours.at.front(), hours.label), "06:00");
    const TimeTicks seconds = timeTicks(kStart, kStart + 60'000, 5);
    EXPECT_EQ(formatTime(seconds.at.front(), seconds.label), "05:30:00");
    const std::int64_t year = utcMilliseconds({2026, 1, 0, 1, 0, 0, 0, 0});
    const TimeTicks months = timeTicks(year + 1, year + 365LL * 86'400'000, 6);
    ASSERT_EQ(months.at.size(), 4u) << "quarters";
    EXPECT_EQ(formatTime(months.at.front(), months.label), "2026-04");
    EXPECT_EQ(formatTime(months.at.back(), months.label), "2027-01");
    EXPECT_EQ(formatDateTime(kStart), "2026-12-08 05:30:00");
}

TEST(TimeAxis, FoldedPassesShareTheWidthAndBreaksMapToTheirMiddle) {
    const TimeAxis a = TimeAxis::folded({{0, 600'000}, {6'000'000, 6'600'000}, {9'000'000, 10'200'000}}, 0, 412, 14);
    ASSERT_EQ(a.segments().size(), 3u);
    EXPECT_DOUBLE_EQ(a.segments()[0].x1 - a.segments()[0].x0, 96);
    EXPECT_DOUBLE_EQ(a.segments()[2].x1 - a.segments()[2].x0, 192) << "twice as long, twice as wide";
    EXPECT_DOUBLE_EQ(a.segments()[1].x0 - a.segments()[0].x1, 14);
    EXPECT_DOUBLE_EQ(a.x(3'000'000), 103) << "the hours between passes: the break's middle";
    EXPECT_EQ(a.timeAt(100), 600'000) << "in a break: the nearer edge";
    EXPECT_EQ(a.timeAt(a.x(6'300'000)), 6'300'000);

    const TimeAxis crowded = TimeAxis::folded(std::vector<TimeSpan>(301, {0, 1}), 0, 600, 14);
    EXPECT_LT(crowded.breakWidth(), TimeAxis::kMarkedBreak) << "breaks take at most a third of the width";

    const TimeAxis r = TimeAxis::real({1000, 3000}, 10, 200);
    EXPECT_DOUBLE_EQ(r.x(2000), 110);
}

TEST(TrendView, FoldedPassesFillTheWidthRealTimeShowsTheGaps) {
    TrendView view;
    view.setSize(1200, 760);
    fourPasses(view);
    const RectF vbat = view.plotRect(0);
    const auto& folded = view.axis().segments();
    ASSERT_EQ(folded.size(), 4u);
    double passWidth = 0;
    for (const AxisSegment& s : folded)
        passWidth += s.x1 - s.x0;
    EXPECT_GT(passWidth, 0.85 * vbat.width) << "the passes, not the gaps, take the width";
    const DisplayList& list = view.display();
    EXPECT_EQ(polylinesIn(list, vbat, {32, 159, 223}), 4u) << "one line per pass, broken between them";
    EXPECT_TRUE(shows(list, "2026-12-08")) << "the date under the first pass";
    EXPECT_TRUE(shows(list, "Battery voltage [V]"));
    EXPECT_TRUE(shows(list, "UTC"));

    view.setRealTime(true);
    const auto& real = view.axis().segments();
    ASSERT_EQ(real.size(), 1u);
    const double first = view.axis().x(kStart), last = view.axis().x(kStart + 65 * 10'000);
    EXPECT_LT(last - first, 0.05 * vbat.width) << "a pass is a sliver of five hours";
    EXPECT_EQ(polylinesIn(view.display(), vbat, {32, 159, 223}), 4u);
}

// Passes an orbit apart for `days` days, two beacons each, side by side:
// the texts below the battery's plot.
std::vector<std::string> timeLabelsOfManyPasses(int days) {
    TrendView view;
    view.setSize(1200, 760);
    for (std::int64_t t = kStart; t < kStart + days * 86'400'000LL; t += kOrbit) {
        view.addBeacon(beaconAt(t));
        view.addBeacon(beaconAt(t + 600'000));
    }
    const RectF r = view.plotRect(0);
    std::vector<std::string> labels;
    const DisplayList& list = view.display();
    for (const Item& i : list.items)
        if (i.op == Op::Text && i.rect.left < r.right() &&
            (i.rect.top == r.bottom() + 4 || i.rect.top == r.bottom() + 19))
            labels.push_back(list.texts[i.text]);
    return labels;
}

TEST(TrendView, ManyPassesSideBySideAreNamedByTheDaysTheyStart) {
    // A week: each day named under its first pass, the first (beside "UTC")
    // by the dates below.
    EXPECT_EQ(timeLabelsOfManyPasses(7), (std::vector<std::string>{"UTC", "12-09", "12-10", "12-11", "12-12", "12-13",
                                                                   "12-14", "12-15", "2026-12-08 \u2013 2026-12-15"}));
    // A quarter: too many days to name, the months instead.
    EXPECT_EQ(timeLabelsOfManyPasses(90),
              (std::vector<std::string>{"UTC", "2027-01", "2027-02", "2027-03", "2026-12-08 \u2013 2027-03-08"}));
}

TEST(TrendView, ThePointerReadsOutTheNearestPointAndDoubleClickZoomsToItsPass) {
    TrendView view;
    view.setSize(1200, 760);
    fourPasses(view);
    const RectF vbat = view.plotRect(0);
    // The spike, at the top of the plot.
    const std::int64_t t = kStart + kOrbit + 30 * 10'000;
    const float x = vbat.left + float(view.axis().x(t));
    ASSERT_TRUE(view.pointerMoved(x + 1, vbat.top + 3));
    const auto r = view.readout();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->series, 0);
    EXPECT_EQ(view.samples().samples()[r->sample].t, t);
    EXPECT_TRUE(shows(view.display(), "Vbat 7.300 V"));
    EXPECT_TRUE(shows(view.display(), "2026-12-08 07:10:00"));
    EXPECT_TRUE(view.pointerLeft());
    EXPECT_FALSE(shows(view.display(), "Vbat 7.300 V"));

    ASSERT_TRUE(view.doubleClicked(x, vbat.top + 5));
    EXPECT_TRUE(view.zoomed());
    ASSERT_EQ(view.axis().segments().size(), 1u);
    EXPECT_LE(view.axis().first(), kStart + kOrbit);
    EXPECT_GE(view.axis().first(), kStart + kOrbit - 60'000);
    EXPECT_NE(view.statusText().find("pass 2 of 4"), std::string::npos);
    EXPECT_TRUE(view.doubleClicked(x, vbat.top + 5)) << "and back";
    EXPECT_EQ(view.axis().segments().size(), 4u);
}

TEST(TrendView, TheKeysMoveACursorFromBeaconToBeaconReadOutAndZoomToItsPass) {
    TrendView view;
    view.setSize(1200, 760);
    fourPasses(view);
    ASSERT_TRUE(view.key(TrendKey::Left));
    EXPECT_EQ(view.readout()->sample, 263u) << "the first key: the newest beacon";
    EXPECT_EQ(view.statusText().rfind("Beacon 264 of 264, pass 4 of 4, 2026-12-08 10:25:50 UTC: Vbat 7.165 V", 0), 0u)
        << view.statusText();
    view.key(TrendKey::Home);
    view.key(TrendKey::PageDown);
    view.key(TrendKey::Right);
    view.key(TrendKey::Down);  // the currents read out
    EXPECT_EQ(view.readout()->sample, 67u);
    EXPECT_EQ(view.readout()->series, 1);
    EXPECT_NE(view.statusText().find("pass 2 of 4, 2026-12-08 07:05:10 UTC: Iin 300 mA, Isys 0 mA"), std::string::npos)
        << view.statusText();
    ASSERT_TRUE(view.key(TrendKey::Enter));
    EXPECT_TRUE(view.zoomed());
    view.key(TrendKey::End);
    EXPECT_EQ(view.readout()->sample, 131u) << "the zoomed pass's last";
    EXPECT_TRUE(view.key(TrendKey::Escape));
    EXPECT_FALSE(view.zoomed());
    EXPECT_TRUE(view.key(TrendKey::Escape));
    EXPECT_FALSE(view.readout()) << "the second Esc leaves the cursor";
    EXPECT_FALSE(view.key(TrendKey::Escape));

    const std::size_t dashed = [&] {
        std::size_t n = 0;
        for (const Item& i : view.display().items)
            n += i.op == Op::Line && i.dashed;
        return n;
    }();
    view.setFocused(true);
    std::size_t focused = 0;
    for (const Item& i : view.display().items)
        focused += i.op == Op::Line && i.dashed;
    EXPECT_EQ(focused, dashed + 4) << "a frame round the plot the keys read out";
    EXPECT_EQ(view.summary(),
              "Battery voltage, currents, temperatures and magnetic field of 264 beacons in 4 "
              "passes, 2026-12-08 05:30:00 to 2026-12-08 10:25:50 UTC");
}

TEST(TrendView, LiveBeaconsExtendTheNewestPassWithoutMovingTheAxis) {
    TrendView view;
    fourPasses(view);
    const std::vector<AxisSegment> before = view.axis().segments();
    const std::size_t points = view.display().points.size();
    view.addBeacon(beaconAt(kStart + 3 * kOrbit + 66 * 10'000, 7300));
    EXPECT_EQ(view.axis().segments().size(), before.size());
    EXPECT_EQ(view.axis().segments().back().t1, before.back().t1) << "within the room left after the last";
    EXPECT_GT(view.display().points.size(), points);
    EXPECT_NE(view.statusText().find("265 beacons in 4 passes"), std::string::npos);
    view.addBeacon(beaconAt(kStart + 5 * kOrbit));
    EXPECT_EQ(view.axis().segments().size(), 5u) << "a new pass";
}

TEST(GroundTrack, ProjectionIsEquirectangularAndTracksBreakAtTheDateLine) {
    const RectF m = mapRect({10, 10, 500, 200});
    EXPECT_FLOAT_EQ(m.width, 400);
    EXPECT_FLOAT_EQ(m.left, 60);
    const PointF centre = project({0, 0}, m), corner = project({90, -180}, m);
    EXPECT_FLOAT_EQ(centre.x, 260);
    EXPECT_FLOAT_EQ(centre.y, 110);
    EXPECT_FLOAT_EQ(corner.x, m.left);
    EXPECT_FLOAT_EQ(corner.y, m.top);

    TrackBuilder track(m);
    track.add({10, 170}, 0);
    track.add({12, -170}, 0);  // eastward over the date line
    track.add({14, -150}, 0);
    track.add({20, -140}, 1);  // another pass
    ASSERT_EQ(track.lines().size(), 3u);
    const auto& east = track.lines()[0].points;
    const auto& west = track.lines()[1].points;
    EXPECT_FLOAT_EQ(east.back().x, m.right());
    EXPECT_FLOAT_EQ(west.front().x, m.left);
    EXPECT_FLOAT_EQ(east.back().y, project({11, 180}, m).y) << "crossing half-way, at 11 degrees";
    EXPECT_FLOAT_EQ(west.front().y, east.back().y);
    EXPECT_EQ(track.lines()[2].pass, 1);
}

TEST(TrendView, TheMapShowsTracksTheNewestPositionAndTheStation) {
    TrendView view;
    view.setTab(TrendTab::GroundTrack);
    BeaconLogEntry off = beaconAt(kStart);
    off.gpsOn = 0;
    view.addBeacon(off);
    EXPECT_NE(view.display().shownTexts().back().find("No GPS positions"), std::string::npos);
    fourPasses(view);
    view.setStation(GeoPoint{49.7, 8.9});
    const DisplayList& list = view.display();
    EXPECT_TRUE(shows(list, "Station"));
    EXPECT_TRUE(shows(list, "60\u00b0N"));
    EXPECT_EQ(list.count(Op::Marker), 2u) << "the station and the newest position";
    EXPECT_GE(list.count(Op::Polygon), 100u) << "the land";
    EXPECT_GE(list.count(Op::Polyline), 4u) << "a track per pass at least";
    EXPECT_NE(list.shownTexts().back().find("264 positions"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::plot
