#include "CP_Main.h"

#include "gui/ExceptionReport.h"
#include "gui/SignalClose.h"
#include "trends/TrendWindow.h"
#include "serial/CPortSetup.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>

namespace kestrel {
namespace {

// Designed sizes (pixels).
constexpr int kClientWidth = 965;   // outer 981 x 627 with the platform's frame
constexpr int kClientHeight = 589;
constexpr int kTopBandHeight = 97;
constexpr int kStatusBarHeight = 19;
constexpr int kGroupInsetTop = 15;  // below a group box's caption line
constexpr int kGroupInset = 2;

QFont WindowFont() {
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(14);
    f.setBold(true);
    return f;
}

QFont PaneFont() {
    QFont f(QStringLiteral("Consolas"));
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    f.setPixelSize(14);
    f.setBold(false);
    return f;
}

}  // namespace

namespace {
StationSeams EngineSeams(const TForm1Seams& seams, MainThreadMailbox& mailbox) {
    StationSeams s;
    s.clock = seams.clock;
    s.fileSystem = seams.fileSystem;
    s.mailbox = &mailbox;
    return s;
}
}  // namespace

TForm1::TForm1(QWidget* parent, TForm1Seams seams)
    : QWidget(parent), station_(*this, EngineSeams(seams, mailbox_)), CPort(station_.CPort) {
    setObjectName(QStringLiteral("Form1"));
    buildControls();
    buildActions();
    signalCloser_ = std::make_unique<TSignalCloser>(this);
    Guarded([this] { FormCreate(this); });
}

TForm1::~TForm1() = default;

void TForm1::buildControls() {
    setWindowTitle(QString::fromLatin1(kCaption));
    setFont(WindowFont());
    resize(kClientWidth, kClientHeight);

    GroupBox2 = new QGroupBox(this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    Panel1 = new QFrame(GroupBox2);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameShape(QFrame::NoFrame);
    bSettings = new QPushButton(QStringLiteral("Settings"), Panel1);
    bSettings->setObjectName(QStringLiteral("bSettings"));
    bSettings->setToolTip(QStringLiteral("RS232 port settings"));
    bSettings->setGeometry(16, 0, 75, 25);
    bClear = new QPushButton(QStringLiteral("&Clear"), Panel1);
    bClear->setObjectName(QStringLiteral("bClear"));
    bClear->setGeometry(17, 32, 73, 33);

    Memo2 = new QPlainTextEdit(GroupBox2);
    Memo2->setObjectName(QStringLiteral("Memo2"));
    Memo2->setReadOnly(true);
    Memo2->setFrameShape(QFrame::NoFrame);
    Memo2->setTabChangesFocus(true);
    {
        QPalette pal = Memo2->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::Button));
        Memo2->setPalette(pal);
    }
    Memo2->setPlainText(QStringLiteral("Send the archived telemetry folder contents to: \n"
                                       "telemetry@kestrel.example.org\n"
                                       "\n"
                                       "73, KESTREL team"));

    GroupBox3 = new QGroupBox(QStringLiteral("TNC send"), this);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    MemoTX = new QPlainTextEdit(GroupBox3);
    MemoTX->setObjectName(QStringLiteral("MemoTX"));
    MemoTX->setFrameShape(QFrame::NoFrame);
    MemoTX->setFont(PaneFont());
    MemoTX->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoTX->setTabChangesFocus(true);
    MemoTX->setToolTip(QStringLiteral("Any text (including Esc and Ctrl chars) to send to the TNC"));
    MemoTX->setGeometry(8, 18, 385, 71);
    MemoTX->installEventFilter(this);
    bClearTNC = new QPushButton(QStringLiteral("Clear"), GroupBox3);
    bClearTNC->setObjectName(QStringLiteral("bClearTNC"));
    bClearTNC->setToolTip(QStringLiteral("Clear the TNC send  field"));
    bClearTNC->setGeometry(399, 17, 67, 73);

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    MemoRX = new TRxPane(GroupBox1);
    MemoRX->setObjectName(QStringLiteral("MemoRX"));
    MemoRX->setToolTip(QStringLiteral("TNC RX"));
    MEMORXHEX = new TRxPane(GroupBox1);
    MEMORXHEX->setObjectName(QStringLiteral("MEMORXHEX"));
    MEMORXHEX->setToolTip(QStringLiteral("TNC RX HEX"));
    MEMORXHEX->setCellChars(3);
    for (TRxPane* pane : {MemoRX, MEMORXHEX}) {
        pane->setFont(PaneFont());
        pane->setTabChangesFocus(true);
    }
    MemoRX->setPlainText(QStringLiteral("TNC RX\n"));
    MEMORXHEX->setPlainText(QStringLiteral("TNC RX HEX\n"));
    Memo1 = new QPlainTextEdit(GroupBox1);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setToolTip(QStringLiteral("Decoded info"));
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setTabChangesFocus(true);
    Memo1->document()->setUndoRedoEnabled(false);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setToolTip(QStringLiteral("Ctrl+G: trends of the telemetry received"));
    for (QLabel*& panel : StatusPanels) {
        panel = new QLabel(StatusBar1);
        panel->setFixedWidth(100);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        StatusBar1->addWidget(panel);
    }

    // The panes' scroll bars in the flat look the program was designed with:
    // a receive pane's repaints at every insertion, and the default style's
    // gradients cost several times the text it scrolls.
    if (QStyle* flat = QStyleFactory::create(QStringLiteral("Windows"))) {
        flat->setParent(this);
        for (QPlainTextEdit* pane : {static_cast<QPlainTextEdit*>(MemoRX), static_cast<QPlainTextEdit*>(MEMORXHEX),
                                     Memo1, MemoTX})
            pane->verticalScrollBar()->setStyle(flat);
    }

    GroupBox3->raise();  // lies over the right part of the top band

    setTabOrder(Memo2, bSettings);
    setTabOrder(bSettings, bClear);
    setTabOrder(bClear, Memo1);
    setTabOrder(Memo1, MemoRX);
    setTabOrder(MemoRX, MEMORXHEX);
    setTabOrder(MEMORXHEX, bClearTNC);
    setTabOrder(bClearTNC, MemoTX);

    connect(bClear, &QPushButton::clicked, this, [this] { Guarded([this] { bClearClick(bClear); }); });
    connect(bSettings, &QPushButton::clicked, this, [this] { Guarded([this] { bSettingsClick(bSettings); }); });
    connect(bClearTNC, &QPushButton::clicked, this, [this] { Guarded([this] { bClearTNCClick(bClearTNC); }); });

    TimerX = new QTimer(this);
    TimerX->setObjectName(QStringLiteral("TimerX"));
    TimerX->setInterval(10);
    connect(TimerX, &QTimer::timeout, this, [this] { Guarded([this] { TimerXTimer(TimerX); }); });
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(Timer1); }); });
    Timer1->start();
    displayTimer_ = new QTimer(this);
    displayTimer_->setSingleShot(true);
    displayTimer_->setInterval(int(Station::kDisplayInterval.count()));
    connect(displayTimer_, &QTimer::timeout, this, [this] { Guarded([this] { station_.displayTick(); }); });

    layoutControls();
}

QAction* TForm1::addNamedAction(const char* name, const QKeySequence& shortcut,
                                void (TForm1::*handler)(QObject*)) {
    auto* action = new QAction(QString::fromLatin1(name), this);
    action->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        // Whichever control of the window has the focus.
        action->setShortcutContext(Qt::WindowShortcut);
    }
    addAction(action);
    connect(action, &QAction::triggered, this, [this, action, handler] {
        Guarded([this, action, handler] { (this->*handler)(action); });
    });
    ActionList1.push_back(action);
    return action;
}

void TForm1::buildActions() {
    aInit = addNamedAction("aInit", {}, &TForm1::aInitExecute);
    aFillBuffer = addNamedAction("aFillBuffer", {}, &TForm1::aFillBufferExecute);
    aRXBufferInit = addNamedAction("aRXBufferInit", {}, &TForm1::aRXBufferInitExecute);
    aRXBufferAnalyse2 = addNamedAction("aRXBufferAnalyse2", {}, &TForm1::aRXBufferAnalyse2Execute);
    aDecodeTelemetry1 = addNamedAction("aDecodeTelemetry1", {}, &TForm1::aDecodeTelemetry1Execute);
    aSaveTempFile = addNamedAction("aSaveTempFile", {}, &TForm1::aSaveTempFileExecute);
    aM4 = addNamedAction("aM4", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_M), &TForm1::aM4Execute);
    aTest = addNamedAction("aTest", QKeySequence(Qt::CTRL | Qt::Key_T), &TForm1::aTestExecute);
    aSaveBinFile = addNamedAction("aSaveBinFile", {}, &TForm1::aSaveBinFileExecute);
    aTNCSend = addNamedAction("aTNCSend", QKeySequence(Qt::Key_F9), &TForm1::aTNCSendExecute);

    trends_ = std::make_unique<TTrendWindow>();
    aTrends = new QAction(QStringLiteral("Trends"), this);
    aTrends->setObjectName(QStringLiteral("aTrends"));
    aTrends->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    aTrends->setShortcutContext(Qt::WindowShortcut);
    addAction(aTrends);
    connect(aTrends, &QAction::triggered, this, [this] {
        Guarded([this] {
            trends_->show();
            trends_->raise();
            trends_->activateWindow();
        });
    });
}

void TForm1::layoutControls() {
    const int w = width();
    const int h = height();
    GroupBox2->setGeometry(0, 0, w, kTopBandHeight);
    const int bandInner = kTopBandHeight - kGroupInsetTop - kGroupInset;
    Panel1->setGeometry(kGroupInset, kGroupInsetTop, 111, bandInner);
    Memo2->setGeometry(kGroupInset + 111, kGroupInsetTop, 368, bandInner);
    GroupBox3->setGeometry(480, 0, 481, kTopBandHeight);

    const int paneTop = kTopBandHeight;
    const int paneHeight = std::max(0, h - kTopBandHeight - kStatusBarHeight);
    GroupBox1->setGeometry(0, paneTop, 961, paneHeight);
    const int inner = std::max(0, paneHeight - kGroupInsetTop - kGroupInset);
    MemoRX->setGeometry(kGroupInset, kGroupInsetTop, 343, inner);
    MEMORXHEX->setGeometry(kGroupInset + 343, kGroupInsetTop, 265, inner);
    const int memo1Left = kGroupInset + 343 + 265;
    Memo1->setGeometry(memo1Left, kGroupInsetTop, std::max(0, 961 - kGroupInset - memo1Left), inner);
    StatusBar1->setGeometry(0, h - kStatusBarHeight, w, kStatusBarHeight);
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutControls();
}

// ---- Start-up and shut-down -------------------------------------------------

void TForm1::FormCreate(QObject* /*Sender*/) { station_.FormCreate(); }

void TForm1::FormClose(QObject* /*Sender*/) { station_.FormClose(); }

void TForm1::closeEvent(QCloseEvent* event) {
    Guarded([this] { FormClose(this); });
    trends_->close();  // the program ends with its main window
    event->accept();
}

// ---- Buttons and timers ----------------------------------------------------

void TForm1::bClearClick(QObject* /*Sender*/) { station_.bClearClick(); }

void TForm1::bSettingsClick(QObject* /*Sender*/) {
    station_.bSettingsClick([this] { RunSetupDialog(CPort); });
    bSettings->setFocus();
}

void TForm1::Timer1Timer(QObject* /*Sender*/) { station_.Timer1Timer(); }

// ---- Receive path -----------------------------------------------------------

void TForm1::aRXBufferInitExecute(QObject* /*Sender*/) { station_.aRXBufferInitExecute(); }

void TForm1::aRXBufferAnalyse2Execute(QObject* /*Sender*/) { station_.aRXBufferAnalyse2Execute(); }

void TForm1::aDecodeTelemetry1Execute(QObject* /*Sender*/) { station_.aDecodeTelemetry1Execute(); }

void TForm1::aSaveTempFileExecute(QObject* /*Sender*/) { station_.aSaveTempFileExecute(); }

void TForm1::aSaveBinFileExecute(QObject* /*Sender*/) { station_.aSaveBinFileExecute(); }

// ---- The view ---------------------------------------------------------------

void TForm1::appendReceived(RxPane pane, std::string_view text) {
    (pane == RxPane::Text ? MemoRX : MEMORXHEX)->appendText(text);
}

void TForm1::showStatus(StatusPanel panel, std::string_view text) {
    StatusPanels[std::size_t(panel)]->setText(QString::fromLatin1(text.data(), qsizetype(text.size())));
}

void TForm1::showDecodedText(std::string_view text) {
    Memo1->setPlainText(QString::fromLatin1(text.data(), qsizetype(text.size())));
}

void TForm1::clearPanes() {
    Memo1->clear();
    MEMORXHEX->clear();
    MemoRX->clear();
}

void TForm1::trimPanes() {
    MemoRX->trimToLines(TRxPane::kTrimLines);
    MEMORXHEX->trimToLines(TRxPane::kTrimLines);
}

void TForm1::showMessage(const std::string& text) { ShowMessage(text); }

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

bool TForm1::DisplayPending() const { return displayTimer_->isActive(); }

// ---- Keys of the send pane -------------------------------------------------

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == MemoTX && event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent*>(event)->text();
        if (text.size() == 1 && text[0].unicode() < 256) {
            char ch = static_cast<char>(text[0].unicode());
            try {
                MemoTXKeyPress(MemoTX, ch);
            } catch (...) {
                ShowCurrentException();
                return true;  // a failed send is not inserted either
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace kestrel
