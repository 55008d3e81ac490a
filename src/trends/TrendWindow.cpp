#include "trends/TrendWindow.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QElapsedTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPixmap>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <optional>
#include <cmath>
#include <limits>
#include <tuple>

namespace kestrel {
namespace {

// The date-time axis shows its values in local time; placing each beacon at
// the instant whose local time reads its UTC time makes the labels read UTC.
// That instant is the UTC one less the zone's offset there. Each look at the
// zone reads the system's time-zone file, and the window takes every beacon
// as it is decoded, shown or not: the offset is looked up once per hour of
// the readings, and again at most once a minute, so that a change of the
// zone or of summer time still applies.
std::optional<qint64> axisTime(const SystemTime& t) {
    const QDate date(t.year, t.month, t.day);
    const QTime time(t.hour, t.minute, t.second, t.millisecond);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    const qint64 utc = QDateTime(date, time, Qt::UTC).toMSecsSinceEpoch();
    constexpr qint64 kHour = 3600 * 1000;
    const qint64 hour = utc >= 0 ? utc / kHour : (utc - kHour + 1) / kHour;
    static qint64 cachedHour = std::numeric_limits<qint64>::min();
    static qint64 offset = 0;
    static QElapsedTimer sinceLook;
    if (hour != cachedHour || !sinceLook.isValid() || sinceLook.hasExpired(60 * 1000)) {
        const QDateTime local(date, QTime(t.hour, 0), Qt::LocalTime);
        if (!local.isValid())
            return std::nullopt;
        offset = QDateTime(date, QTime(t.hour, 0), Qt::UTC).toMSecsSinceEpoch() - local.toMSecsSinceEpoch();
        cachedHour = hour;
        sinceLook.start();
    }
    return utc - offset;
}

QDateTimeAxis* timeAxis(QChart* chart) { return qobject_cast<QDateTimeAxis*>(chart->axes(Qt::Horizontal).value(0)); }

QValueAxis* valueAxis(QChart* chart) { return qobject_cast<QValueAxis*>(chart->axes(Qt::Vertical).value(0)); }

}  // namespace

TTrendWindow::TTrendWindow(QWidget* parent) : QWidget(parent) {
    setWindowTitle(tr("KESTREL telemetry trends"));

    auto* toolBar = new QToolBar(this);
    toolBar->addAction(tr("Open log..."), this, &TTrendWindow::askOpenLog);
    toolBar->addAction(tr("Open archive..."), this, &TTrendWindow::askOpenArchive);
    toolBar->addAction(tr("Save as PNG..."), this, &TTrendWindow::askSavePng);

    chartArea_ = new QWidget(this);
    auto* grid = new QGridLayout(chartArea_);
    grid->setContentsMargins(0, 0, 0, 0);
    for (int c = 0; c < kTrendChartCount; ++c) {
        auto* chart = new QChart;
        chart->setTitle(tr(kTrendChartTitles[std::size_t(c)]));
        chart->legend()->setAlignment(Qt::AlignBottom);
        auto* x = new QDateTimeAxis;
        x->setTitleText(tr("Receive time (UTC)"));
        x->setTickCount(5);
        chart->addAxis(x, Qt::AlignBottom);
        auto* y = new QValueAxis;
        chart->addAxis(y, Qt::AlignLeft);
        charts_.push_back(chart);
        auto* view = new QChartView(chart, chartArea_);
        view->setRenderHint(QPainter::Antialiasing);
        view->setMinimumSize(420, 300);
        grid->addWidget(view, c / 2, c % 2);
    }
    // Each field's series holds all of its points and names it in the legend,
    // but draws no line: the lines are drawn pass by pass by series of the
    // same colour that the legend leaves out, so that they break between passes.
    for (int i = 0; i < kTrendSeriesCount; ++i) {
        auto* s = new QLineSeries;
        s->setName(QString::fromUtf8(kTrendSeries[std::size_t(i)].name));
        QChart* chart = charts_[std::size_t(kTrendSeries[std::size_t(i)].chart)];
        chart->addSeries(s);
        s->attachAxis(timeAxis(chart));
        s->attachAxis(valueAxis(chart));
        colors_[std::size_t(i)] = s->color();
        QPen hidden = s->pen();
        hidden.setColor(Qt::transparent);
        s->setPen(hidden);
        for (QLegendMarker* marker : chart->legend()->markers(s)) {
            marker->setPen(QPen(colors_[std::size_t(i)]));
            marker->setBrush(colors_[std::size_t(i)]);
        }
        series_[std::size_t(i)] = s;
    }

    status_ = new QLabel(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(toolBar);
    layout->addWidget(chartArea_, 1);
    layout->addWidget(status_);
    resize(1200, 800);
    updateRanges();
    updateStatus();
}

void TTrendWindow::addBeacon(const BeaconRecord& record, const SystemTime& utc) {
    append(beaconLogEntry(record, utc));
    if (!stale_)
        updateStatus();
}

void TTrendWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    ensureCurrent();
}

void TTrendWindow::ensureCurrent() const {
    if (stale_)
        const_cast<TTrendWindow*>(this)->rebuild();
}

int TTrendWindow::openLog(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        lastProblem_ = tr("cannot read %1").arg(QDir::toNativeSeparators(path));
        updateStatus();
        return -1;
    }
    const QByteArray bytes = file.readAll();
    const BeaconTextLogContents log = parseBeaconTextLog(std::string_view(bytes.constData(), bytes.size()));
    skipped_ += static_cast<int>(log.skippedLines);
    addEntries(log.entries);
    return static_cast<int>(log.skippedLines);
}

int TTrendWindow::openArchive(const QString& dir) {
    const QString decoded = QDir(dir).filePath(QStringLiteral("Telemetry/Decoded"));
    if (!QFileInfo(decoded).isDir()) {
        lastProblem_ = tr("no Telemetry/Decoded folder in %1").arg(QDir::toNativeSeparators(dir));
        updateStatus();
        return -1;
    }
    QStringList paths;
    QDirIterator it(decoded, {QStringLiteral("*.txt")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << it.next();
    paths.sort();

    std::vector<BeaconLogEntry> entries;
    int skipped = 0, unreadable = 0;
    for (const QString& path : paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            ++unreadable;
            continue;
        }
        const QByteArray bytes = file.readAll();
        const std::string_view text(bytes.constData(), bytes.size());
        // Other text files in the folder are no concern of ours.
        if (!QFileInfo(path).fileName().startsWith(QLatin1String("KR7_beacon_")) && !looksLikeBeaconTextLog(text))
            continue;
        BeaconTextLogContents log = parseBeaconTextLog(text);
        skipped += static_cast<int>(log.skippedLines);
        entries.insert(entries.end(), log.entries.begin(), log.entries.end());
    }
    if (unreadable > 0)
        lastProblem_ = QStringLiteral("%1 of the logs could not be read").arg(unreadable);
    skipped_ += skipped;
    addEntries(entries);
    return skipped;
}

bool TTrendWindow::savePng(const QString& path) {
    ensureCurrent();
    if (layout())
        layout()->activate();
    const bool saved = chartArea_->grab().save(path, "PNG");
    if (!saved) {
        lastProblem_ = tr("cannot write %1").arg(QDir::toNativeSeparators(path));
        updateStatus();
    }
    return saved;
}

void TTrendWindow::clear() {
    samples_.clear();
    skipped_ = 0;
    lastProblem_.clear();
    rebuild();
}

QList<QLineSeries*> TTrendWindow::series() const {
    ensureCurrent();
    return {series_.begin(), series_.end()};
}

QLineSeries* TTrendWindow::series(const QString& name) const {
    ensureCurrent();
    for (QLineSeries* s : series_)
        if (s->name() == name)
            return s;
    return nullptr;
}

void TTrendWindow::addEntries(const std::vector<BeaconLogEntry>& entries) {
    for (const auto& e : entries) {
        if (const auto t = axisTime(e.utc))
            samples_.add(*t, e);
    }
    rebuild();
}

void TTrendWindow::append(const BeaconLogEntry& entry) {
    const auto t = axisTime(entry.utc);
    if (!t)
        return;
    const bool inOrder = samples_.add(*t, entry);
    if (!isVisible() || stale_) {
        stale_ = true;
        return;
    }
    if (!inOrder) {
        rebuild();
        return;
    }
    if (lines_.empty() || samples_.lastStartsLine()) {
        rebuild();  // a new pass: a new line
        return;
    }
    const TrendSamples::Sample& sample = samples_.samples().back();
    for (std::size_t i = 0; i < series_.size(); ++i)
        if (std::isfinite(sample.values[i])) {
            series_[i]->append(double(sample.x), sample.values[i]);
            lines_.back()[i]->append(double(sample.x), sample.values[i]);
        }
    // The axes follow a few times a second, not at every beacon of a burst.
    if (!axesTimer_) {
        axesTimer_ = new QTimer(this);
        axesTimer_->setSingleShot(true);
        axesTimer_->setInterval(250);
        connect(axesTimer_, &QTimer::timeout, this, [this] { updateRanges(); });
    }
    if (!axesTimer_->isActive())
        axesTimer_->start();
}

void TTrendWindow::rebuild() {
    stale_ = false;
    // Lines join the points in the order they are held: keep them in time order.
    samples_.sortByTime();
    const auto& all = samples_.samples();
    for (std::size_t i = 0; i < series_.size(); ++i) {
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(all.size()));
        // A value that is no number cannot be drawn; its point is left out.
        for (const TrendSamples::Sample& s : all)
            if (std::isfinite(s.values[i]))
                points.append(QPointF(double(s.x), s.values[i]));
        series_[i]->replace(points);
    }
    for (const auto& line : lines_)
        for (QLineSeries* s : line) {
            s->chart()->removeSeries(s);
            delete s;
        }
    lines_.clear();
    std::vector<std::size_t> starts = samples_.lineStarts();
    starts.push_back(all.size());
    for (std::size_t l = 0; l + 1 < starts.size(); ++l) {
        auto& line = lines_.emplace_back();
        for (std::size_t i = 0; i < series_.size(); ++i) {
            QList<QPointF> points;
            for (std::size_t k = starts[l]; k < starts[l + 1]; ++k)
                if (std::isfinite(all[k].values[i]))
                    points.append(QPointF(double(all[k].x), all[k].values[i]));
            auto* s = new QLineSeries;
            s->setColor(colors_[i]);
            QChart* chart = series_[i]->chart();
            chart->addSeries(s);
            s->attachAxis(timeAxis(chart));
            s->attachAxis(valueAxis(chart));
            for (QLegendMarker* marker : chart->legend()->markers(s))
                marker->setVisible(false);
            s->replace(points);
            line[i] = s;
        }
    }
    updateRanges();
    updateStatus();
}

void TTrendWindow::updateRanges() {
    qint64 first, last;
    if (samples_.size() == 0) {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        last = axisTime({static_cast<std::uint16_t>(now.date().year()), static_cast<std::uint16_t>(now.date().month()),
                         0, static_cast<std::uint16_t>(now.date().day()), static_cast<std::uint16_t>(now.time().hour()),
                         static_cast<std::uint16_t>(now.time().minute()), 0, 0})
                   .value_or(now.toMSecsSinceEpoch());
        first = last - 3600 * 1000;
    } else {
        std::tie(first, last) = samples_.timeRange();
    }
    const qint64 span = last - first;
    const QString format = span > 3LL * 86400 * 1000  ? QStringLiteral("yyyy-MM-dd")
                           : span > 3LL * 3600 * 1000 ? QStringLiteral("MM-dd HH:mm")
                                                      : QStringLiteral("HH:mm:ss");

    for (int c = 0; c < kTrendChartCount; ++c) {
        auto [lo, hi] = samples_.range(c);
        if (!(lo <= hi)) {
            lo = 0;
            hi = 1;
        }
        const double pad = hi > lo ? (hi - lo) * 0.05 : std::max(1.0, std::abs(hi) * 0.05);
        QChart* chart = charts_[c];
        timeAxis(chart)->setFormat(format);
        timeAxis(chart)->setRange(QDateTime::fromMSecsSinceEpoch(first), QDateTime::fromMSecsSinceEpoch(last));
        valueAxis(chart)->setRange(lo - pad, hi + pad);
        valueAxis(chart)->applyNiceNumbers();
    }
}

void TTrendWindow::updateStatus() {
    const auto count = [](int n, const char* one, const char* many) {
        return QString::fromLatin1(n == 1 ? one : many).arg(n);
    };
    QString text = count(beaconCount(), "%1 beacon", "%1 beacons");
    if (skipped_ > 0)
        text += count(skipped_, ", %1 unparseable line skipped", ", %1 unparseable lines skipped");
    if (!lastProblem_.isEmpty())
        text += QStringLiteral("; ") + lastProblem_;
    status_->setText(text);
}

void TTrendWindow::askOpenLog() {
    const QString path = QFileDialog::getOpenFileName(this, tr("Open a BeaconTextLog"), QString(),
                                                      tr("BeaconTextLogs (KR7_beacon_*.txt);;All files (*)"));
    if (!path.isEmpty())
        openLog(path);
}

void TTrendWindow::askOpenArchive() {
    const QString dir = QFileDialog::getExistingDirectory(this, tr("Open an archive (the folder holding Telemetry)"));
    if (!dir.isEmpty())
        openArchive(dir);
}

void TTrendWindow::askSavePng() {
    QString path = QFileDialog::getSaveFileName(this, tr("Save the plot as PNG"), QStringLiteral("trends.png"),
                                                tr("PNG images (*.png)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
        path += QLatin1String(".png");
    savePng(path);
}

}  // namespace kestrel
