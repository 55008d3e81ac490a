#include "serial/CPortSetup.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace kestrel {
namespace {

TSetupDialogDriver gDriver;

}  // namespace

TComSetupFrm::TComSetupFrm(const std::string& currentPort, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ComSetupFrm"));
    setWindowTitle(QStringLiteral("Setup"));
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(8);
    setFont(f);
    setFixedSize(231, 216);

    GroupBox1 = new QGroupBox(QStringLiteral(" Settings "), this);
    GroupBox1->setGeometry(8, 8, 217, 169);
    const char* labels[] = {"Port", "Baud rate", "Data bits", "Stop bits", "Parity", "Flow control"};
    const TComProperty properties[] = {cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl};
    TComComboBox* combos[6];
    for (int i = 0; i < 6; ++i) {
        auto* label = new QLabel(QString::fromLatin1(labels[i]), GroupBox1);
        label->move(8, 24 + 24 * i);
        auto* combo = new TComComboBox(GroupBox1);
        combo->setObjectName(QStringLiteral("Combo%1").arg(i + 1));
        combo->setGeometry(80, 16 + 24 * i, 129, 21);
        combo->SetCurrentPortHint(currentPort);
        combo->SetComProperty(properties[i]);
        combos[i] = combo;
    }
    Combo1 = combos[0];
    Combo2 = combos[1];
    Combo3 = combos[2];
    Combo4 = combos[3];
    Combo5 = combos[4];
    Combo6 = combos[5];

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setGeometry(70, 184, 75, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setGeometry(150, 184, 75, 25);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    for (int i = 0; i + 1 < 6; ++i)
        setTabOrder(combos[i], combos[i + 1]);
    setTabOrder(Combo6, Button1);
    setTabOrder(Button1, Button2);
}

void RunSetupDialog(TCustomComPort& port) {
    TComSetupFrm dialog(port.Port());
    for (TComComboBox* combo : dialog.Combos())
        combo->SetComPort(&port);
    for (TComComboBox* combo : dialog.Combos())
        combo->ReadFromPort();
    const int result = gDriver ? gDriver(dialog) : dialog.exec();
    if (result != QDialog::Accepted)
        return;
    port.BeginSettingsUpdate();
    try {
        for (TComComboBox* combo : dialog.Combos())
            combo->ApplyToPort();
    } catch (...) {
        port.EndSettingsUpdate();
        throw;
    }
    port.EndSettingsUpdate();
}

void SetSetupDialogDriver(TSetupDialogDriver driver) { gDriver = std::move(driver); }

}  // namespace kestrel
