// TStationDialog on Qt: the station dialog built from its design, each
// field a plain Qt control; what it decides is the engine's.

#include "gui/StationDialog.h"

#include "gui/Latin1.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

namespace kestrel {
namespace {

TStationDialogDriver gStationDriver;
const design::StationDialogDesign& kStationDesign = design::kStationDialog;

void Place(QWidget* w, const design::Rect& r) { w->setGeometry(r.left, r.top, r.width, r.height); }

}  // namespace

TStationDialog::TStationDialog(StationDialogModel& model, QWidget* parent) : QDialog(parent), model_(model) {
    const design::SetupDialog& setup = design::kSetupDialog;  // the same font
    setObjectName(QStringLiteral("StationDialog"));
    setWindowTitle(QString::fromLatin1(kStationDesign.caption));
    QFont f(QString::fromLatin1(setup.fontFace));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(setup.fontPoints);
    setFont(f);
    setFixedSize(kStationDesign.clientWidth, kStationDesign.clientHeight);

    for (const design::Labelled& g : {kStationDesign.lineGroup, kStationDesign.shareGroup, kStationDesign.folderGroup})
        Place(new QGroupBox(QString::fromLatin1(g.text), this), g.rect);
    // In tab order, as the design lists them.
    for (const auto& d : kStationDesign.fields) {
        auto* label = new QLabel(QString::fromLatin1(d.label.text), this);
        Place(label, d.label.rect);
        QWidget* w = nullptr;
        if (d.field == StationField::Source || d.field == StationField::Port) {
            auto* combo = new QComboBox(this);
            (d.field == StationField::Source ? Source : Port) = combo;
            w = combo;
        } else {
            auto* edit = new QLineEdit(this);
            if (d.field == StationField::Host)
                Host = edit;
            else if (d.field == StationField::TcpPort)
                TcpPort = edit;
            else
                Share[std::size_t(d.field) - std::size_t(StationField::Url)] = edit;
            w = edit;
        }
        Place(w, d.box);
        label->setBuddy(w);
    }
    for (const char* source : kStationDesign.sources)
        Source->addItem(QString::fromLatin1(source));
    Port->setEditable(true);  // a device the list cannot name is typed
    for (const std::string& port : model_.ports)
        Port->addItem(Latin1(port));

    auto* note = new QLabel(QString::fromLatin1(kStationDesign.shareNote.text), this);
    note->setWordWrap(true);
    note->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Place(note, kStationDesign.shareNote.rect);
    Folder = new QLineEdit(QFile::decodeName(model_.folder.c_str()), this);  // the system's spelling
    Folder->setReadOnly(true);
    Place(Folder, kStationDesign.folder);
    OpenFolder = new QPushButton(QString::fromLatin1(kStationDesign.openFolder.text), this);
    Place(OpenFolder, kStationDesign.openFolder.rect);
    Message = new QLabel(this);
    Message->setObjectName(QStringLiteral("Message"));
    Message->setWordWrap(true);
    Message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette red = Message->palette();
    red.setColor(QPalette::WindowText, Qt::darkRed);
    Message->setPalette(red);
    Place(Message, kStationDesign.message);
    Ok = new QPushButton(QString::fromLatin1(kStationDesign.ok.text), this);
    Place(Ok, kStationDesign.ok.rect);
    Ok->setDefault(true);
    Cancel = new QPushButton(QString::fromLatin1(kStationDesign.cancel.text), this);
    Place(Cancel, kStationDesign.cancel.rect);

    const StationForm& form = model_.form;
    Source->setCurrentIndex(int(form.source));
    Port->setCurrentText(Latin1(form.port));
    Host->setText(Latin1(form.host));
    TcpPort->setText(Latin1(form.tcpPort));
    const std::array<const std::string*, 5> share{&form.url, &form.noradId, &form.callsign, &form.latitude,
                                                  &form.longitude};
    for (std::size_t i = 0; i < Share.size(); ++i)
        Share[i]->setText(Latin1(*share[i]));
    say(model_.notice);
    sourceChanged();

    connect(Source, &QComboBox::currentIndexChanged, this, [this] { sourceChanged(); });
    connect(OpenFolder, &QPushButton::clicked, this, [this] { openFolderClicked(); });
    connect(Ok, &QPushButton::clicked, this, [this] { okClicked(); });
    connect(Cancel, &QPushButton::clicked, this, &QDialog::reject);
}

StationForm TStationDialog::form() const {
    StationForm f;
    f.source = LineSourceSettings::Kind(std::max(0, Source->currentIndex()));
    f.port = Latin1(Port->currentText().trimmed());
    f.host = Latin1(Host->text().trimmed());
    f.tcpPort = Latin1(TcpPort->text().trimmed());
    const std::array<std::string*, 5> share{&f.url, &f.noradId, &f.callsign, &f.latitude, &f.longitude};
    for (std::size_t i = 0; i < Share.size(); ++i)
        *share[i] = Latin1(Share[i]->text().trimmed());
    return f;
}

QWidget* TStationDialog::field(StationField f) const {
    switch (f) {
    case StationField::None: return nullptr;
    case StationField::Source: return Source;
    case StationField::Port: return Port;
    case StationField::Host: return Host;
    case StationField::TcpPort: return TcpPort;
    default: return Share[std::size_t(f) - std::size_t(StationField::Url)];
    }
}

void TStationDialog::sourceChanged() {
    const bool tcp = Source->currentIndex() == int(LineSourceSettings::KissTcp);
    Port->setEnabled(!tcp);
    Host->setEnabled(tcp);
    TcpPort->setEnabled(tcp);
}

void TStationDialog::say(const std::string& text) { Message->setText(Latin1(text)); }

void TStationDialog::okClicked() {
    const StationFormProblem problem = model_.apply(form());
    if (!problem) {
        accept();
        return;
    }
    say(problem.text);
    if (QWidget* w = field(problem.field))
        w->setFocus();
}

void TStationDialog::openFolderClicked() {
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(model_.folder.c_str()))))
        say("No file manager opened " + model_.folder + "; open it by hand");
}

void SetStationDialogDriver(TStationDialogDriver driver) { gStationDriver = std::move(driver); }

void RunStationDialog(StationDialogModel& model, QWidget* parent) {
    TStationDialog dialog(model, parent);
    if (gStationDriver)
        gStationDriver(dialog);
    else
        dialog.exec();
}

}  // namespace kestrel
