#pragma once
// TComComboBox: a drop-down list bound to one setting of a port.

#include "serial/ComSelect.h"

#include <QComboBox>

#include <string>
#include <vector>

namespace kestrel {

class TComComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TComComboBox(QWidget* parent = nullptr);

    TComProperty ComProperty() const { return select_.ComProperty; }
    void SetComProperty(TComProperty value);
    TCustomComPort* ComPort() const { return select_.ComPort; }
    void SetComPort(TCustomComPort* value);
    bool AutoApply() const { return select_.AutoApply; }
    void SetAutoApply(bool value) { select_.AutoApply = value; }
    void SetCurrentPortHint(const std::string& port) { select_.CurrentPortHint = port; }

    // The selected item's text, or empty when nothing is selected.
    std::string Text() const;
    // Selects the item with that text; changes nothing when there is none.
    void SetText(const std::string& value);

    void ReadFromPort();
    void ApplyToPort() { select_.ApplyToPort(); }

    const TComSelect& Select() const { return select_; }
    TComSelect& Select() { return select_; }

private:
    void syncItems();
    TComSelect select_;
};

}  // namespace kestrel
