// The trend window on Qt: tool bar, tabs, canvas and status line (see TrendWindow.h).

#include "trends/TrendWindow.h"

#include "plot/TrendDesign.h"
#include "trends/QtDisplayList.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QShortcut>
#include <QTabBar>
#include <QToolBar>
#include <QVBoxLayout>

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace kestrel {

namespace design = plot::design;

namespace {

// The canvas's keys as the view names them.
std::optional<plot::TrendKey> TrendKeyOf(int key) {
    using plot::TrendKey;
    switch (key) {
    case Qt::Key_Left: return TrendKey::Left;
    case Qt::Key_Right: return TrendKey::Right;
    case Qt::Key_Up: return TrendKey::Up;
    case Qt::Key_Down: return TrendKey::Down;
    case Qt::Key_Home: return TrendKey::Home;
    case Qt::Key_End: return TrendKey::End;
    case Qt::Key_PageUp: return TrendKey::PageUp;
    case Qt::Key_PageDown: return TrendKey::PageDown;
    case Qt::Key_Return:
    case Qt::Key_Enter: return TrendKey::Enter;
    case Qt::Key_Escape: return TrendKey::Escape;
    }
    return std::nullopt;
}

}  // namespace

// The canvas: draws the view's display list and hands it the pointer and the keys.
class TTrendCanvas : public QWidget {
public:
    TTrendCanvas(plot::TrendView& view, std::function<void()> changed, QWidget* parent)
        : QWidget(parent), view_(view), changed_(std::move(changed)) {
        setMouseTracking(true);
        setAttribute(Qt::WA_OpaquePaintEvent);  // the list covers every pixel
        setFocusPolicy(Qt::StrongFocus);
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
    void keyPressEvent(QKeyEvent* e) override {
        const auto key = TrendKeyOf(e->key());
        if (!key || (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
            return QWidget::keyPressEvent(e);
        if (view_.key(*key))
            changed_();
    }
    void focusInEvent(QFocusEvent* e) override {
        QWidget::focusInEvent(e);
        view_.setFocused(true);
        changed_();
    }
    void focusOutEvent(QFocusEvent* e) override {
        QWidget::focusOutEvent(e);
        view_.setFocused(false);
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
    std::vector<QWidget*> tabOrder;
    for (int c = 0; c < design::kCommandCount; ++c) {
        const design::ToolButton& b = design::kToolButtons[std::size_t(c)];
        QAction* a = toolBar->addAction(QString::fromUtf8(b.caption));
        a->setToolTip(QString::fromStdString(design::HintWithKey(b)));
        a->setCheckable(b.toggle);
        a->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_A + (b.key - 'A'))));
        a->setShortcutContext(Qt::WindowShortcut);
        if (handlers[c])
            connect(a, &QAction::triggered, this, handlers[c]);
        if (c == design::RealTime)
            realTime_ = a;
        // The buttons take the focus from the keyboard too.
        QWidget* button = toolBar->widgetForAction(a);
        button->setFocusPolicy(Qt::TabFocus);
        button->setAccessibleName(QString::fromUtf8(b.caption));
        tabOrder.push_back(button);
    }
    connect(realTime_, &QAction::toggled, this, [this](bool on) {
        view().setRealTime(on);
        changed();
    });
    tabs_ = new QTabBar(this);
    tabs_->setFixedHeight(design::kTabHeight);
    for (const char* tab : design::kTabs)
        tabs_->addTab(QString::fromUtf8(tab));
    tabs_->setFocusPolicy(Qt::TabFocus);
    connect(tabs_, &QTabBar::currentChanged, this, [this](int index) {
        view().setTab(index == 1 ? plot::TrendTab::GroundTrack : plot::TrendTab::Plots);
        changed();
    });
    auto* otherTab = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
    connect(otherTab, &QShortcut::activated, this, [this] { tabs_->setCurrentIndex(1 - tabs_->currentIndex()); });
    canvas_ = new TTrendCanvas(
        view(), [this] { changed(); }, this);
    tabOrder.push_back(tabs_);
    tabOrder.push_back(canvas_);
    for (std::size_t i = 0; i + 1 < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);
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

TTrendWindow::~TTrendWindow() {
    // The canvas tells the window and its view when it loses focus; closed by
    // QWidget's destructor it would lose it after both are gone.
    delete canvas_;
}

QWidget* TTrendWindow::canvas() const { return canvas_; }

void TTrendWindow::addBeacon(const BeaconRecord& record, const SystemTime& utc) {
    const plot::TrendView::Damage d = model_.addBeacon(record, utc, isVisible());
    if (d.all)
        canvas_->update();
    for (const plot::RectF& r : d.rects)
        canvas_->update(QRectF(r.left, r.top, r.width, r.height).toAlignedRect());
    if (d.all || !d.rects.empty())
        updateStatus();
}

void TTrendWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    changed();
}

void TTrendWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && view().back()) {
        changed();
        return;
    }
    QWidget::keyPressEvent(event);
}

int TTrendWindow::open(const QString& path) {
    const int skipped = model_.open(pathOf(path));
    changed();
    return skipped;
}

void TTrendWindow::openEarlier(const std::string& station, const std::string& thisRunsLog) {
    model_.openEarlier(station, thisRunsLog);
    changed();
}

bool TTrendWindow::savePng(const QString& path) {
    if (layout())
        layout()->activate();
    const bool saved = canvas_->grab().save(path, "PNG");
    if (saved)
        model_.saved();
    else
        model_.notSaved(QDir::toNativeSeparators(path).toStdString(), {});
    updateStatus();
    return saved;
}

void TTrendWindow::setStation(std::optional<plot::GeoPoint> station) {
    model_.setStation(station);
    changed();
}

void TTrendWindow::clear() {
    model_.clear();
    changed();
}

void TTrendWindow::changed() {
    view().takeDamage();  // all of it
    canvas_->update();
    updateStatus();
}

QString TTrendWindow::statusText() const { return status_->text(); }

void TTrendWindow::updateStatus() {
    const QString status = QString::fromStdString(model_.statusText());
    status_->setText(status);
    // A screen reader names the canvas with what it shows and reads the line
    // below as its description (the keyboard's cursor among it).
    canvas_->setAccessibleName(QString::fromStdString(view().summary()));
    canvas_->setAccessibleDescription(status);
}

void TTrendWindow::askOpenArchive() {
    const QString dir = QFileDialog::getExistingDirectory(this, tr("Open an archive (the folder holding Telemetry)"));
    if (!dir.isEmpty())
        open(dir);
}

void TTrendWindow::askOpenLog() {
    const QString path = QFileDialog::getOpenFileName(this, tr("Open a BeaconTextLog or a beacon CSV"), QString(),
                                                      tr("BeaconTextLogs and CSV (*.txt *.csv);;All files (*)"));
    if (!path.isEmpty())
        open(path);
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
