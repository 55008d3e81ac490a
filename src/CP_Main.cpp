#include "CP_Main.h"

#include "gui/ExceptionReport.h"
#include "gui/SignalClose.h"
#include "serial/CPortSetup.h"

#include <QAction>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <locale>

namespace kestrel {
namespace {

// Designed sizes (pixels).
constexpr int kClientWidth = 965;   // outer 981 x 627 with the platform's frame
constexpr int kClientHeight = 589;
constexpr int kTopBandHeight = 97;
constexpr int kStatusBarHeight = 19;
constexpr int kGroupInsetTop = 15;  // below a group box's caption line
constexpr int kGroupInset = 2;

// One receive event keeps the loop at most this long; the rest of the waiting
// bytes are taken right after the loop has run timers and painting.
constexpr auto kReceiveSlice = std::chrono::milliseconds(50);
// Bytes taken from the port in one read. A read per byte costs several system
// calls each and cannot keep up with a fast line.
constexpr int32_t kReadChunk = 4096;

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

std::string JoinPath(const std::string& dir, const char* name) {
    std::string path = dir;
    if (path.empty() || path.back() != kPathSeparator)
        path += kPathSeparator;
    return path + name;
}

}  // namespace

QString JoinLines(const std::vector<std::string>& lines) {
    QString text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i)
            text += QChar('\n');
        text += QString::fromLatin1(lines[i].data(), qsizetype(lines[i].size()));
    }
    return text;
}

TForm1::TForm1(QWidget* parent, TForm1Seams seams)
    : QWidget(parent),
      clock_(seams.clock ? *seams.clock : systemClock()),
      fileSystem_(seams.fileSystem ? *seams.fileSystem : systemFileSystem()),
      archive_(fileSystem_, clock_),
      decoder_(clock_, *this, archive_),
      finder_(*this) {
    setObjectName(QStringLiteral("Form1"));
    buildControls();
    buildActions();
    designPortSettings();
    SetBeforeMessageHook([this] { FlushReceiveView(); });
    signalCloser_ = std::make_unique<TSignalCloser>(this);
    Guarded([this] { FormCreate(this); });
}

TForm1::~TForm1() {
    SetBeforeMessageHook(nullptr);
    // The port goes before the panes its handler writes to.
    CPort.OnRxChar = nullptr;
    try {
        CPort.ClosePort();
    } catch (...) {
    }
}

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
    MemoRX->setMode(TRxPane::Mode::Text);
    MemoRX->setToolTip(QStringLiteral("TNC RX"));
    MEMORXHEX = new TRxPane(GroupBox1);
    MEMORXHEX->setObjectName(QStringLiteral("MEMORXHEX"));
    MEMORXHEX->setMode(TRxPane::Mode::Hex);
    MEMORXHEX->setToolTip(QStringLiteral("TNC RX HEX"));
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
    for (QLabel*& panel : StatusPanels) {
        panel = new QLabel(StatusBar1);
        panel->setFixedWidth(100);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        StatusBar1->addWidget(panel);
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
}

void TForm1::designPortSettings() {
    CPort.SetName("CPort");
    CPort.SetPort("COM4");
    CPort.SetBaudRate(br9600);
    CPort.SetDataBits(dbEight);
    CPort.Parity().SetBits(prNone);
    CPort.SetStopBits(sbOneStopBit);
    TComFlowControl& flow = CPort.FlowControl();
    flow.SetOutCTSFlow(false);
    flow.SetOutDSRFlow(false);
    flow.SetControlDTR(dtrDisable);
    flow.SetControlRTS(rtsDisable);
    flow.SetXonXoffOut(false);
    flow.SetXonXoffIn(false);
    TComTimeouts& timeouts = CPort.Timeouts();
    timeouts.SetReadInterval(100);
    timeouts.SetReadTotalMultiplier(100);
    timeouts.SetReadTotalConstant(100);
    timeouts.SetWriteTotalMultiplier(1000);
    timeouts.SetWriteTotalConstant(1000);
    CPort.SetEvents(kAllComEvents);
    CPort.SetSyncMethod(smWindowSync);
    CPort.SetMailbox(&mailbox_);
    CPort.OnRxChar = [this](TCustomComPort& sender, int32_t count) { CPortRxByte(sender, count); };
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

void TForm1::FormCreate(QObject* /*Sender*/) {
    // 1. One number and date format for the whole process (the toolkit set the
    // user's locale): "." as the decimal separator everywhere.
    std::setlocale(LC_NUMERIC, "C");
    std::locale::global(std::locale::classic());
    // 2.
    baseDirectory_ = fileSystem_.currentDirectory();
    settingsFilePath_ = JoinPath(baseDirectory_, kSettingsFileName);
    // 3. Not guarded: a failure skips the rest of start-up.
    CPort.LoadSettingsFile(settingsFilePath_);
    // 4., 5.
    TimerX->stop();
    aRXBufferInitExecute(this);
    // 6. The run can go on without its files.
    try {
        archive_.openRunFiles(baseDirectory_);
    } catch (...) {
    }
    // 7.
    try {
        CPort.OpenPort();
    } catch (...) {
        ShowMessage(QStringLiteral("RS232 error. Check settings."));
    }
}

void TForm1::FormClose(QObject* /*Sender*/) {
    if (closed_)
        return;
    closed_ = true;
    try {
        archive_.closeRawByteLog();
    } catch (...) {
    }
    try {
        CPort.SaveSettingsFile(settingsFilePath_);
        CPort.ClosePort();
    } catch (...) {
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    Guarded([this] { FormClose(this); });
    event->accept();
}

// ---- Buttons and timers ----------------------------------------------------

void TForm1::bClearClick(QObject* Sender) {
    CPort.PurgeBuffers(true, true);
    dropReadBytes();
    Memo1->clear();
    decodedDirty_ = false;
    MEMORXHEX->clearAll();
    MemoRX->clearAll();
    aRXBufferInitExecute(Sender);
}

void TForm1::bSettingsClick(QObject* /*Sender*/) {
    TimerX->stop();
    CPort.ClosePort();
    dropReadBytes();
    RunSetupDialog(CPort);
    try {
        CPort.OpenPort();
    } catch (...) {
        ShowMessage(QStringLiteral("COM port error!"));
    }
}

void TForm1::Timer1Timer(QObject* /*Sender*/) {
    FlushReceiveView();
    MemoRX->trimToLines(TRxPane::kTrimLines);
    MEMORXHEX->trimToLines(TRxPane::kTrimLines);
}

// ---- Receive path -----------------------------------------------------------

void TForm1::CPortRxByte(TCustomComPort& /*Sender*/, int32_t /*Count*/) {
    // Whatever happens below, what was received so far is shown before the
    // loop (or an error report) gets control back.
    struct ShowOnExit {
        TForm1* form;
        ~ShowOnExit() { form->FlushReceiveView(); }
    } showOnExit{this};

    const auto sliceEnd = std::chrono::steady_clock::now() + kReceiveSlice;
    for (;;) {
        if (rxNext_ == rxChunk_.size()) {
            rxChunk_.clear();
            rxNext_ = 0;
            const int32_t waiting = CPort.BytesWaiting();
            if (waiting <= 0)
                break;
            if (CPort.ReadBytes(rxChunk_, std::min(waiting, kReadChunk)) <= 0)
                continue;
        }
        // Taken from the chunk before it is handled: a byte whose handling
        // fails is gone, the ones after it wait for the next event.
        const auto b = static_cast<unsigned char>(rxChunk_[rxNext_++]);
        MemoRX->appendByte(b);
        MEMORXHEX->appendByte(b);
        lastRxByte_.assign(1, static_cast<char>(b));
        aRXBufferAnalyse2Execute(this);
        if (MemoRX->flushDue() || MEMORXHEX->flushDue())
            FlushReceiveView();
        if (std::chrono::steady_clock::now() >= sliceEnd) {
            scheduleReceiveContinuation();
            break;
        }
    }
}

void TForm1::dropReadBytes() {
    rxChunk_.clear();
    rxNext_ = 0;
}

void TForm1::scheduleReceiveContinuation() {
    if (continuationPending_)
        return;
    continuationPending_ = true;
    QTimer::singleShot(0, this, [this] {
        continuationPending_ = false;
        Guarded([this] {
            if (!CPort.Connected())
                return;
            const int32_t count = CPort.BytesWaiting();
            if (count > 0 || rxNext_ < rxChunk_.size())
                CPortRxByte(CPort, count);
        });
    });
}

void TForm1::aRXBufferInitExecute(QObject* /*Sender*/) { finder_.aRXBufferInitExecute(); }

void TForm1::aRXBufferAnalyse2Execute(QObject* /*Sender*/) {
    if (lastRxByte_.size() != 1)
        return;
    finder_.aRXBufferAnalyse2Execute(static_cast<std::uint8_t>(lastRxByte_[0]));
}

void TForm1::aDecodeTelemetry1Execute(QObject* /*Sender*/) {
    decoder_.aDecodeTelemetry1Execute(finder_.CurrentRecord(), finder_.RawFrameCopy());
}

void TForm1::aSaveTempFileExecute(QObject* /*Sender*/) { archive_.aSaveTempFileExecute(finder_.CurrentRecord()); }

void TForm1::aSaveBinFileExecute(QObject* /*Sender*/) { archive_.aSaveBinFileExecute(finder_.RawFrameCopy()); }

void TForm1::setReceiveStatus(std::string_view text) {
    statusText_.assign(text);
    statusDirty_ = true;
}

void TForm1::writeRawByte(std::uint8_t byte) { archive_.appendRawByte(byte); }

void TForm1::decodeFrame() { aDecodeTelemetry1Execute(this); }

void TForm1::showDecodedInfo(const std::vector<std::string>& lines) {
    decodedLines_ = lines;
    decodedDirty_ = true;
}

void TForm1::FlushReceiveView() {
    MemoRX->flush();
    MEMORXHEX->flush();
    if (statusDirty_) {
        statusDirty_ = false;
        StatusPanels[0]->setText(QString::fromLatin1(statusText_.data(), qsizetype(statusText_.size())));
    }
    if (decodedDirty_) {
        decodedDirty_ = false;
        Memo1->setPlainText(JoinLines(decodedLines_));
    }
}

// ---- Keys of the send pane -------------------------------------------------

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == MemoTX && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        if (text.size() == 1 && text[0].unicode() < 256) {
            char ch = static_cast<char>(text[0].unicode());
            try {
                MemoTXKeyPress(MemoTX, ch);
            } catch (...) {
                ShowCurrentException();
                return true;  // a failed send is not inserted either
            }
            if (ch != static_cast<char>(text[0].unicode())) {
                QKeyEvent changed(QEvent::KeyPress, key->key(), key->modifiers(),
                                  QString(QChar(char16_t(static_cast<unsigned char>(ch)))),
                                  key->isAutoRepeat(), key->count());
                QCoreApplication::sendEvent(MemoTX, &changed);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace kestrel
