// The trend window on Qt: tool bar, tabs, canvas and status line (see TrendWindow.h).

#include "trends/TrendWindow.h"

#include "plot/TrendDesign.h"
#include "plot/TrendFiles.h"
#include "telemetry/BeaconTextLogReader.h"
#include "trends/QtDisplayList.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTabBar>
#include <QToolBar>
#include <QVBoxLayout>

#include <filesystem>
#include <functional>

namespace kestrel {

namespace design = plot::design;

// The canvas: draws the view's display list and hands it the pointer.
class TTrendCanvas : public QWidget {
public:
    TTrendCanvas(plot::TrendView& view, std::function<void()> changed, QWidget* parent)
        : QWidget(parent), view_(view), changed_(std::move(changed)) {
        setMouseTracking(true);
        setAttribute(Qt::WA_OpaquePaintEvent);  // the list covers every pixel
        setFocusPolicy(Qt::ClickFocus);
    }

protected:
    void paintEvent(QPaintEvent* e) override {
        QPainter p(this);
        // A live beacon's columns: each rectangle drawn on its own, so that
        // only what lies in it is drawn.
        const plot::DisplayList& list = view_.display();
        for (const QRect& r : e->region()) {
            p.setClipRect(r);
            DrawDisplayList(p, list, {float(r.left()), float(r.top()), float(r.width()), float(r.height())});
        }
    }
    void resizeEvent(QResizeEvent*) override { view_.setSize(width(), height()); }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (view_.pointerMoved(float(e->position().x()), float(e->position().y())))
            update();
    }
    void leaveEvent(QEvent*) override {
        if (view_.pointerLeft())
            update();
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        if (view_.doubleClicked(float(e->position().x()), float(e->position().y())))
            changed_();
    }

private:
    plot::TrendView& view_;
    std::function<void()> changed_;
};

namespace {

std::filesystem::path pathOf(const QString& s) { return std::filesystem::path(s.toStdU16String()); }

}  // namespace

TTrendWindow::TTrendWindow(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QString::fromUtf8(design::kCaption));
    auto* toolBar = new QToolBar(this);
    toolBar->setFixedHeight(design::kToolBarHeight);
    void (TTrendWindow::*const handlers[])() = {&TTrendWindow::askOpenArchive, &TTrendWindow::askOpenLog,
                                                &TTrendWindow::askSavePng, nullptr};
    for (int c = 0; c < design::kCommandCount; ++c) {
        const design::ToolButton& b = design::kToolButtons[std::size_t(c)];
        QAction* a = toolBar->addAction(QString::fromUtf8(b.caption));
        a->setToolTip(QString::fromUtf8(b.hint));
        a->setCheckable(b.toggle);
        if (handlers[c])
            connect(a, &QAction::triggered, this, handlers[c]);
        if (c == design::RealTime)
            realTime_ = a;
    }
    connect(realTime_, &QAction::toggled, this, [this](bool on) {
        view_.setRealTime(on);
        changed();
    });
    tabs_ = new QTabBar(this);
    tabs_->setFixedHeight(design::kTabHeight);
    for (const char* tab : design::kTabs)
        tabs_->addTab(QString::fromUtf8(tab));
    connect(tabs_, &QTabBar::currentChanged, this, [this](int index) {
        view_.setTab(index == 1 ? plot::TrendTab::GroundTrack : plot::TrendTab::Plots);
        changed();
    });
    canvas_ = new TTrendCanvas(
        view_, [this] { changed(); }, this);
    status_ = new QLabel(this);
    status_->setFixedHeight(design::kStatusHeight);
    status_->setContentsMargins(6, 0, 6, 0);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolBar);
    layout->addWidget(tabs_);
    layout->addWidget(canvas_, 1);
    layout->addWidget(status_);
    setMinimumSize(design::kMinimumWidth, design::kMinimumHeight);
    resize(design::kClientWidth, design::kClientHeight);
    updateStatus();
}

TTrendWindow::~TTrendWindow() = default;

QWidget* TTrendWindow::canvas() const { return canvas_; }

void TTrendWindow::addBeacon(const BeaconRecord& record, const SystemTime& utc) {
    // Hidden, the window only keeps the sample: a live session must not pay
    // for plots nobody looks at.
    if (!view_.addBeacon(beaconLogEntry(record, utc)) || !isVisible())
        return;
    // Only what the beacon changed is painted again.
    const plot::TrendView::Damage d = view_.takeDamage();
    if (d.all)
        canvas_->update();
    for (const plot::RectF& r : d.rects)
        canvas_->update(QRectF(r.left, r.top, r.width, r.height).toAlignedRect());
    updateStatus();
}

void TTrendWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    changed();
}

void TTrendWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && view_.back()) {
        changed();
        return;
    }
    QWidget::keyPressEvent(event);
}

int TTrendWindow::opened(const plot::TrendLoad& load) {
    skipped_ += static_cast<int>(load.skipped);
    lastProblem_ = QString::fromStdString(load.problem);
    changed();
    return load.beacons == 0 && !load.problem.empty() ? -1 : static_cast<int>(load.skipped);
}

int TTrendWindow::openArchive(const QString& dir) { return opened(plot::openTrendArchive(view_, pathOf(dir))); }

int TTrendWindow::openLog(const QString& path) { return opened(plot::openTrendFile(view_, pathOf(path))); }

bool TTrendWindow::savePng(const QString& path) {
    if (layout())
        layout()->activate();
    const bool saved = canvas_->grab().save(path, "PNG");
    if (!saved) {
        lastProblem_ = tr("cannot write %1").arg(QDir::toNativeSeparators(path));
        updateStatus();
    }
    return saved;
}

void TTrendWindow::setStation(std::optional<plot::GeoPoint> station) {
    view_.setStation(station);
    changed();
}

void TTrendWindow::clear() {
    view_.clear();
    skipped_ = 0;
    lastProblem_.clear();
    changed();
}

void TTrendWindow::changed() {
    view_.takeDamage();  // all of it
    canvas_->update();
    updateStatus();
}

QString TTrendWindow::statusText() const { return status_->text(); }

void TTrendWindow::updateStatus() {
    QString text = QString::fromStdString(view_.statusText());
    if (skipped_ > 0)
        text += (skipped_ == 1 ? QStringLiteral("; %1 unparseable line skipped")
                               : QStringLiteral("; %1 unparseable lines skipped"))
                    .arg(skipped_);
    if (!lastProblem_.isEmpty())
        text += QStringLiteral("; ") + lastProblem_;
    status_->setText(text);
}

void TTrendWindow::askOpenArchive() {
    const QString dir = QFileDialog::getExistingDirectory(this, tr("Open an archive (the folder holding Telemetry)"));
    if (!dir.isEmpty())
        openArchive(dir);
}

void TTrendWindow::askOpenLog() {
    const QString path = QFileDialog::getOpenFileName(this, tr("Open a BeaconTextLog or a beacon CSV"), QString(),
                                                      tr("BeaconTextLogs and CSV (*.txt *.csv);;All files (*)"));
    if (!path.isEmpty())
        openLog(path);
}

void TTrendWindow::askSavePng() {
    QString path =
        QFileDialog::getSaveFileName(this, tr("Save as PNG"), QStringLiteral("trends.png"), tr("PNG images (*.png)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
        path += QLatin1String(".png");
    savePng(path);
}

}  // namespace kestrel
