#pragma once
// TComSetupFrm: the modal dialog in which the operator picks port, baud rate,
// data bits, stop bits, parity and flow control; and RunSetupDialog, which
// shows it for a port and applies the choices on OK.

#include "serial/CPort.h"
#include "gui/CPortCtl.h"

#include <QDialog>

#include <array>
#include <functional>
#include <string>

class QGroupBox;
class QLabel;
class QPushButton;

namespace kestrel {

class TComSetupFrm : public QDialog {
    Q_OBJECT
public:
    // currentPort: lets the port list hold the port now set (see EnumComPorts);
    // notice: why the port could not be opened, shown below the buttons ("":
    // none). Raises what filling the port list raises.
    explicit TComSetupFrm(const std::string& currentPort, const std::string& notice = {}, QWidget* parent = nullptr);

    QGroupBox* GroupBox1;
    TComComboBox* Combo1;      // cpPort
    TComComboBox* Combo2;      // cpBaudRate
    TComComboBox* Combo3;      // cpDataBits
    TComComboBox* Combo4;      // cpStopBits
    TComComboBox* Combo5;      // cpParity
    TComComboBox* Combo6;      // cpFlowControl
    QPushButton* Button1;      // OK
    QPushButton* Button2;      // Cancel
    QLabel* Notice = nullptr;  // why the port failed, when it did

    // The six combos in the order Port, BaudRate, DataBits, StopBits, Parity,
    // FlowControl.
    std::array<TComComboBox*, 6> Combos() const { return {Combo1, Combo2, Combo3, Combo4, Combo5, Combo6}; }
};

// Shows the dialog for port (with notice, why the port failed, when there is
// one) and, on OK, applies all six choices in one settings update. Raises
// "Registry error" (code 23) when the port list cannot be read; the dialog is
// then not shown and the port not touched.
void RunSetupDialog(TCustomComPort& port, const std::string& notice = {});

// Test hook: runs in place of the dialog's modal loop and returns its result
// (QDialog::Accepted or Rejected). An empty function restores exec().
using TSetupDialogDriver = std::function<int(TComSetupFrm&)>;
void SetSetupDialogDriver(TSetupDialogDriver driver);

}  // namespace kestrel
