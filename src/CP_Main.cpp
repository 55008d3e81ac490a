// TForm1 on Qt: the main window's controls built from the window's design,
// its actions, timers and the view the engine paints through; each handler is
// one line into the engine.
//
// Sections:
//   Controls and actions  the controls, timers and ActionList1 from the design
//   Handlers              start-up, the close request, buttons and timers
//   The view              IStationView: panes, status panels, Memo1, the send
//                         pane, the trend window, dismissing boxes on a close
//   Keys of the send pane Qt's key events turned into the engine's PaneKey

#include "CP_Main.h"

#include "station/FontFit.h"

#include "gui/Latin1.h"
#include "gui/QtReport.h"
#include "gui/SignalClose.h"
#include "trends/TrendWindow.h"
#include "gui/CPortSetup.h"
#include "gui/StationDialog.h"

#include <QAction>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>
#include <QStatusBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace kestrel {
namespace {

QFont FontOf(const design::FontRequest& request) {
    QFont f(QString::fromLatin1(request.face));
    f.setStyleHint(request.fixedPitch ? QFont::TypeWriter : QFont::SansSerif);
    f.setFixedPitch(request.fixedPitch);
    f.setPixelSize(request.pixelHeight);
    f.setBold(request.bold);
    return f;
}

// The first font of the design's list that shows these lines whole in a
// band of width x height, whatever fonts the system has.
QFont FittedFont(const std::vector<std::string>& lines, int width, int height) {
    auto measure = [&lines](const design::FontRequest& request) {
        if (!QFontDatabase::hasFamily(QString::fromLatin1(request.face)))
            return design::TextExtent{};
        const QFontMetrics metrics(FontOf(request));
        int widest = 0;
        for (const std::string& line : lines)
            widest = std::max(widest, metrics.horizontalAdvance(Latin1(line)));
        return design::TextExtent{true, widest, metrics.lineSpacing()};
    };
    return FontOf(
        design::FitFont(design::kWindowFont, design::kInfoFontFaces, int(lines.size()), width, height, measure));
}

// Memo2's font: its four lines in the designed band.
QFont InfoFont(const QPlainTextEdit* memo) {
    const design::Rect band = design::LayoutWindow(design::kClientWidth, design::kClientHeight)[design::Memo2];
    const int margin = int(std::ceil(memo->document()->documentMargin()));
    return FittedFont(std::vector<std::string>(design::kInfoLines.begin(), design::kInfoLines.end()),
                      band.width - 2 * margin, band.height - 2 * margin);
}

// Memo1's font: a beacon's lines, none wrapped, in the designed pane less its
// frame, scroll bar and margins (and a pixel for the caret).
QFont DecodedFont(const QPlainTextEdit* memo) {
    const design::Rect pane = design::LayoutWindow(design::kClientWidth, design::kClientHeight)[design::Memo1];
    const int inside = 2 * (memo->frameWidth() + int(std::ceil(memo->document()->documentMargin())));
    return FittedFont(design::DecodedSampleLines(),
                      pane.width - inside - memo->verticalScrollBar()->sizeHint().width() - 1, pane.height - inside);
}

QKeySequence KeysOf(const design::Shortcut& s) {
    if (!s.any())
        return {};
    const int key = s.function ? Qt::Key_F1 + s.function - 1 : Qt::Key_A + (s.letter - 'A');
    return QKeySequence(key | (s.ctrl ? int(Qt::CTRL) : 0) | (s.alt ? int(Qt::ALT) : 0));
}

QRect RectOf(const design::Rect& r) { return QRect(r.left, r.top, r.width, r.height); }

// A status panel's text starts this far inside its frame.
constexpr int kStatusIndent = 2;

StationSeams EngineSeams(const TForm1Seams& seams, MainThreadMailbox& mailbox) {
    StationSeams s;
    s.clock = seams.clock;
    s.fileSystem = seams.fileSystem;
    s.mailbox = &mailbox;
    return s;
}

}  // namespace

// ---- Controls and actions ------------------------------------------------------

TForm1::TForm1(QWidget* parent, TForm1Seams seams)
    : QWidget(parent), station_(*this, EngineSeams(seams, mailbox_)), CPort(station_.CPort) {
    setObjectName(QString::fromLatin1(design::kFormName));
    buildControls();
    buildActions();
    signalCloser_ = std::make_unique<TSignalCloser>(this);
    Guarded([this] { FormCreate(this); });
}

TForm1::~TForm1() = default;

QWidget* TForm1::makeControl(design::ControlId id) {
    using design::Kind;
    const design::Control& c = design::kControls[std::size_t(id)];
    QWidget* parent = c.parent == design::kWindow ? static_cast<QWidget*>(this) : Controls[std::size_t(c.parent)];
    QWidget* w = nullptr;
    switch (c.kind) {
    case Kind::GroupBox: w = new QGroupBox(QString::fromLatin1(c.caption), parent); break;
    case Kind::Panel: {
        auto* panel = new QFrame(parent);
        panel->setFrameShape(QFrame::NoFrame);
        w = panel;
        break;
    }
    case Kind::Button: w = new QPushButton(QString::fromLatin1(c.caption), parent); break;
    case Kind::InfoText: {
        auto* memo = new QPlainTextEdit(parent);
        memo->setReadOnly(true);
        memo->setFrameShape(QFrame::NoFrame);
        QPalette pal = memo->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::Button));
        memo->setPalette(pal);
        QStringList lines;
        for (const char* line : design::kInfoLines)
            lines << QString::fromLatin1(line);
        memo->setPlainText(lines.join(QChar('\n')));
        memo->setFont(InfoFont(memo));
        // The station dialog from the window without a menu bar: beside F3,
        // in the pane's context menu.
        memo->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(memo, &QWidget::customContextMenuRequested, this, [this, memo](const QPoint& at) {
            std::unique_ptr<QMenu> menu(memo->createStandardContextMenu());
            menu->addSeparator();
            menu->addAction(ActionList1[design::aStation]);
            menu->exec(memo->mapToGlobal(at));
        });
        w = memo;
        break;
    }
    case Kind::SendPane: {
        auto* memo = new QPlainTextEdit(parent);
        memo->setFrameShape(QFrame::NoFrame);
        memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        memo->installEventFilter(this);
        w = memo;
        break;
    }
    case Kind::ReceivePane: {
        auto* pane = new TRxPane(parent);
        pane->setAccessibleName(QString::fromLatin1(design::Heading(id)));  // what a screen reader calls it
        pane->setPlainText(std::string(design::Heading(id)) + '\n');
        w = pane;
        break;
    }
    case Kind::DecodedPane: {
        auto* memo = new QPlainTextEdit(parent);
        memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        memo->document()->setUndoRedoEnabled(false);
        w = memo;
        break;
    }
    case Kind::StatusBar: {
        auto* bar = new QStatusBar(parent);
        bar->setSizeGripEnabled(false);
        // Placed by hand, not through the bar's layout, which puts gaps
        // between its items: each panel starts where the one before ends.
        for (std::size_t i = 0; i < StatusPanels.size(); ++i) {
            QLabel* panel = StatusPanels[i] = new QLabel(bar);
            panel->setGeometry(int(i) * design::kStatusPanelWidth, 0, design::kStatusPanelWidth,
                               design::kControls[design::StatusBar1].rect.height);
            panel->setFrameShape(QFrame::Panel);
            panel->setFrameShadow(QFrame::Sunken);
            panel->setIndent(kStatusIndent);  // as statusTextFits measures it
            panel->installEventFilter(this);  // a click shows what the panel says whole
        }
        w = bar;
        break;
    }
    }
    w->setObjectName(QString::fromLatin1(c.name));
    if (*c.hint)
        w->setToolTip(QString::fromLatin1(c.hint));
    if (c.font == design::Use::PaneFont)
        w->setFont(TRxPane::designFont());
    // Tab moves on from every pane; in the send pane the key rule takes it
    // first (eventFilter), and only Shift+Tab leaves.
    if (auto* memo = qobject_cast<QPlainTextEdit*>(w))
        memo->setTabChangesFocus(true);
    return w;
}

void TForm1::buildControls() {
    setWindowTitle(QString::fromLatin1(kCaption));
    setFont(FontOf(design::kWindowFont));
    resize(design::kClientWidth, design::kClientHeight);

    for (int id = 0; id < design::kControlCount; ++id)
        Controls[std::size_t(id)] = makeControl(design::ControlId(id));
    GroupBox2 = static_cast<QGroupBox*>(Controls[design::GroupBox2]);
    Panel1 = static_cast<QFrame*>(Controls[design::Panel1]);
    bSettings = static_cast<QPushButton*>(Controls[design::bSettings]);
    bClear = static_cast<QPushButton*>(Controls[design::bClear]);
    Memo2 = static_cast<QPlainTextEdit*>(Controls[design::Memo2]);
    GroupBox3 = static_cast<QGroupBox*>(Controls[design::GroupBox3]);
    MemoTX = static_cast<QPlainTextEdit*>(Controls[design::MemoTX]);
    bClearTNC = static_cast<QPushButton*>(Controls[design::bClearTNC]);
    GroupBox1 = static_cast<QGroupBox*>(Controls[design::GroupBox1]);
    MemoRX = static_cast<TRxPane*>(Controls[design::MemoRX]);
    MEMORXHEX = static_cast<TRxPane*>(Controls[design::MEMORXHEX]);
    Memo1 = static_cast<QPlainTextEdit*>(Controls[design::Memo1]);
    StatusBar1 = static_cast<QStatusBar*>(Controls[design::StatusBar1]);

    // The panes' scroll bars in the flat look the program was designed with:
    // a receive pane's repaints at every insertion, and the default style's
    // gradients cost several times the text it scrolls.
    if (QStyle* flat = QStyleFactory::create(QStringLiteral("Windows"))) {
        flat->setParent(this);
        for (QAbstractScrollArea* pane :
             {static_cast<QAbstractScrollArea*>(MemoRX), static_cast<QAbstractScrollArea*>(MEMORXHEX),
              static_cast<QAbstractScrollArea*>(Memo1), static_cast<QAbstractScrollArea*>(MemoTX)})
            pane->verticalScrollBar()->setStyle(flat);
    }
    Memo1->setFont(DecodedFont(Memo1));  // measured with the scroll bar it has

    GroupBox3->raise();  // lies over the right part of the top band
    for (std::size_t i = 0; i + 1 < design::kTabOrder.size(); ++i)
        setTabOrder(Controls[design::kTabOrder[i]], Controls[design::kTabOrder[i + 1]]);

    connect(bClear, &QPushButton::clicked, this, [this] { Guarded([this] { bClearClick(bClear); }); });
    connect(bSettings, &QPushButton::clicked, this, [this] { Guarded([this] { bSettingsClick(bSettings); }); });
    connect(bClearTNC, &QPushButton::clicked, this, [this] { Guarded([this] { bClearTNCClick(bClearTNC); }); });

    TimerX = new QTimer(this);
    TimerX->setObjectName(QStringLiteral("TimerX"));
    TimerX->setInterval(design::kTimerXInterval);
    connect(TimerX, &QTimer::timeout, this, [this] { Guarded([this] { TimerXTimer(TimerX); }); });
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(design::kTimer1Interval);
    connect(Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(Timer1); }); });
    Timer1->start();
    displayTimer_ = new QTimer(this);
    displayTimer_->setSingleShot(true);
    displayTimer_->setInterval(int(Station::kDisplayInterval.count()));
    connect(displayTimer_, &QTimer::timeout, this, [this] { Guarded([this] { station_.displayTick(); }); });

    layoutControls();
}

void TForm1::buildActions() {
    trends_ = std::make_unique<TTrendWindow>();
    for (const design::Action& a : design::kActions) {
        auto* action = ActionList1[a.id] = new QAction(QString::fromLatin1(a.caption), this);
        action->setObjectName(QString::fromLatin1(a.name));
        action->setShortcut(KeysOf(a.shortcut));
        action->setShortcutContext(Qt::WindowShortcut);  // whichever control has the focus
        addAction(action);
        connect(action, &QAction::triggered, this, [this, id = a.id] { Guarded([&] { station_.runAction(id); }); });
    }
}

void TForm1::layoutControls() {
    const design::Layout layout = design::LayoutWindow(width(), height());
    for (std::size_t i = 0; i < layout.size(); ++i)
        Controls[i]->setGeometry(RectOf(layout[i]));
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutControls();
}

// ---- Handlers ----------------------------------------------------------------

void TForm1::FormCreate(QObject* /*Sender*/) { station_.FormCreate(); }

void TForm1::closeEvent(QCloseEvent* event) {
    if (!station_.closeRequested()) {
        event->ignore();  // asked again once the boxes are gone
        return;
    }
    trends_->close();  // the program ends with its main window
    event->accept();
}

void TForm1::bClearClick(QObject* /*Sender*/) { station_.bClearClick(); }

void TForm1::bSettingsClick(QObject* /*Sender*/) {
    station_.bSettingsClick([this] { RunSetupDialog(CPort, station_.lineProblem()); });
    bSettings->setFocus();
}

void TForm1::bClearTNCClick(QObject* /*Sender*/) { MemoTX->clear(); }

void TForm1::Timer1Timer(QObject* /*Sender*/) { station_.Timer1Timer(); }

void TForm1::TimerXTimer(QObject* /*Sender*/) { station_.TimerXTimer(); }

// ---- The view ---------------------------------------------------------------

void TForm1::appendReceived(RxPane pane, std::string_view text) {
    (pane == RxPane::Text ? MemoRX : MEMORXHEX)->appendText(text);
}

void TForm1::showStatus(int panel, std::string_view text, std::string_view tip) {
    QLabel* label = StatusPanels[std::size_t(panel)];
    label->setText(Latin1(text));
    label->setToolTip(Latin1(tip));
}

bool TForm1::statusTextFits(std::string_view text) {
    const QLabel* label = StatusPanels[1];
    const int room = label->contentsRect().width() - 2 * label->margin() - label->indent();
    return label->fontMetrics().horizontalAdvance(Latin1(text)) <= room;
}

std::string TForm1::decodedText() { return Latin1(Memo1->toPlainText()); }

void TForm1::editDecodedText(const DecodedEdit& edit) {
    QTextCursor c(Memo1->document());  // not the operator's cursor
    c.setPosition(int(edit.at));
    c.setPosition(int(edit.at + edit.length), QTextCursor::KeepAnchor);
    c.insertText(Latin1(edit.text));
}

void TForm1::clearPanes() {
    Memo1->clear();
    MEMORXHEX->clear();
    MemoRX->clear();
}

void TForm1::trimPanes() {
    MemoRX->trimToLines(design::kTrimLines);
    MEMORXHEX->trimToLines(design::kTrimLines);
}

std::string TForm1::sendPaneText() { return Latin1(MemoTX->toPlainText()); }

void TForm1::insertInSendPane(std::string_view text) { MemoTX->insertPlainText(Latin1(text)); }

void TForm1::loadEarlierBeacons(const std::string& stationFolder, const std::string& thisRunsLog) {
    trends_->openEarlier(stationFolder, thisRunsLog);
}

void TForm1::showTrends(std::optional<StationPosition> station) {
    trends_->setStation(station ? std::optional<plot::GeoPoint>({station->latitude, station->longitude})
                                : std::nullopt);
    trends_->show();
    trends_->raise();
    trends_->activateWindow();
}

bool TForm1::dismissModals() {
    if (!QApplication::activeModalWidget())
        return false;
    while (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
        if (QApplication::activeModalWidget() == modal)
            break;
    }
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);  // once they have returned
    return true;
}

void TForm1::setStreamTimer(bool on) {
    if (on)
        TimerX->start();
    else
        TimerX->stop();
}

void TForm1::continueSoon() {
    // After the loop has run its timers and painting.
    QTimer::singleShot(0, this, [this] { Guarded([this] { station_.continueReceive(); }); });
}

void TForm1::displaySoon() { displayTimer_->start(); }

void TForm1::beep() { QApplication::beep(); }

void TForm1::beaconDecoded(const BeaconRecord& record, const SystemTime& utc) { trends_->addBeacon(record, utc); }

void TForm1::runStationDialog(StationDialogModel& model) { RunStationDialog(model, this); }

bool TForm1::DisplayPending() const { return displayTimer_->isActive(); }

// ---- Keys of the send pane -------------------------------------------------

namespace {

// The keys the send pane's rule names, by Qt's names.
std::optional<PaneKey> NamedKey(int key) {
    switch (key) {
    case Qt::Key_Tab: return PaneKey::Tab;
    case Qt::Key_Backtab: return PaneKey::Tab;  // Shift+Tab
    case Qt::Key_Return:
    case Qt::Key_Enter: return PaneKey::Enter;
    case Qt::Key_Backspace: return PaneKey::Backspace;
    case Qt::Key_Delete: return PaneKey::Delete;
    case Qt::Key_Escape: return PaneKey::Escape;
    default: return std::nullopt;
    }
}

}  // namespace

// A status panel clicked: its whole text (the tooltip) shown at once, and the
// engine told (the last run's shut-down failure goes).
void TForm1::statusPanelClick(int panel) {
    QLabel* label = StatusPanels[std::size_t(panel)];
    const QString tip = label->toolTip();
    Guarded([&] { station_.statusPanelClicked(panel); });
    if (!tip.isEmpty())
        QToolTip::showText(label->mapToGlobal(QPoint(0, 0)), tip, label);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    // On the release: a tooltip goes away at every press and release.
    if (event->type() == QEvent::MouseButtonRelease)
        for (int panel = 1; panel < design::kStatusPanels; ++panel)
            if (watched == StatusPanels[std::size_t(panel)]) {
                statusPanelClick(panel);
                return true;
            }
    if (watched == MemoTX && event->type() == QEvent::FocusIn) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason)
            MemoTX->moveCursor(QTextCursor::End);  // from the keyboard: the caret at the end, nothing selected
    }
    if (watched != MemoTX || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers();
    const auto typed =
        SendPaneInputOf(NamedKey(key->key()), key->key() == Qt::Key_Backtab || (mods & Qt::ShiftModifier),
                        mods & (Qt::ControlModifier | Qt::AltModifier), key->text().toStdU32String());
    if (!typed)
        return QWidget::eventFilter(watched, event);
    return !station_.MemoTXKey(typed->key, typed->character);
}

}  // namespace kestrel
