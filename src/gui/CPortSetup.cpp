// TComSetupFrm on Qt: the setup dialog built from its design, and
// RunSetupDialog.

#include "gui/CPortSetup.h"

#include "gui/Latin1.h"

#include "station/WindowDesign.h"

#include <QGroupBox>
#include <QLabel>
#include <QPalette>
#include <QPushButton>

namespace kestrel {
namespace {

TSetupDialogDriver gSetupDriver;

}  // namespace

TComSetupFrm::TComSetupFrm(const std::string& currentPort, const std::string& notice, QWidget* parent)
    : QDialog(parent) {
    const design::SetupDialog& d = design::kSetupDialog;
    auto place = [](QWidget* w, const design::Rect& r) { w->setGeometry(r.left, r.top, r.width, r.height); };
    setObjectName(QStringLiteral("ComSetupFrm"));
    setWindowTitle(QString::fromLatin1(d.caption));
    QFont f(QString::fromLatin1(d.fontFace));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(d.fontPoints);
    setFont(f);
    setFixedSize(d.clientWidth, d.clientHeight + (notice.empty() ? 0 : d.noticeHeight));

    GroupBox1 = new QGroupBox(QString::fromLatin1(d.group.text), this);
    place(GroupBox1, d.group.rect);
    std::array<TComComboBox*, 6> combos{};
    for (int i = 0; i < 6; ++i) {
        auto* label = new QLabel(QString::fromLatin1(d.labels[std::size_t(i)]), GroupBox1);
        label->move(d.label(i).left, d.label(i).top);
        auto* combo = new TComComboBox(GroupBox1);
        combo->setObjectName(QStringLiteral("Combo%1").arg(i + 1));
        label->setBuddy(combo);
        combo->setAccessibleName(label->text());  // a screen reader names the list by its label
        place(combo, d.list(i));
        combo->SetCurrentPortHint(currentPort);
        combo->SetComProperty(d.properties[std::size_t(i)]);
        combos[std::size_t(i)] = combo;
    }
    Combo1 = combos[0];
    Combo2 = combos[1];
    Combo3 = combos[2];
    Combo4 = combos[3];
    Combo5 = combos[4];
    Combo6 = combos[5];

    Button1 = new QPushButton(QString::fromLatin1(d.ok.text), this);
    place(Button1, d.ok.rect);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    Button2 = new QPushButton(QString::fromLatin1(d.cancel.text), this);
    place(Button2, d.cancel.rect);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    if (!notice.empty()) {
        Notice = new QLabel(Latin1(notice), this);
        Notice->setObjectName(QStringLiteral("Notice"));
        Notice->setWordWrap(true);
        QPalette red = Notice->palette();
        red.setColor(QPalette::WindowText, Qt::darkRed);
        Notice->setPalette(red);
        place(Notice, d.notice);
    }

    for (std::size_t i = 0; i + 1 < combos.size(); ++i)
        setTabOrder(combos[i], combos[i + 1]);
    setTabOrder(Combo6, Button1);
    setTabOrder(Button1, Button2);
}

void RunSetupDialog(TCustomComPort& port, const std::string& notice) {
    TComSetupFrm dialog(port.Port(), notice);
    for (TComComboBox* combo : dialog.Combos())
        combo->SetComPort(&port);
    for (TComComboBox* combo : dialog.Combos())
        combo->ReadFromPort();
    const int result = gSetupDriver ? gSetupDriver(dialog) : dialog.exec();
    if (result != QDialog::Accepted)
        return;
    std::array<TComSelect*, 6> choices{};
    for (std::size_t i = 0; i < choices.size(); ++i)
        choices[i] = &dialog.Combos()[i]->Select();
    ApplyChoices(port, choices);
}

void SetSetupDialogDriver(TSetupDialogDriver driver) { gSetupDriver = std::move(driver); }

}  // namespace kestrel
