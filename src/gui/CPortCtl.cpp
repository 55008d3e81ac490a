// TComComboBox: a Qt drop-down list over a TComSelect (see CPortCtl.h).

#include "gui/CPortCtl.h"

namespace kestrel {

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(false);  // drop-down list: only listed items can be picked
    connect(this, &QComboBox::activated, this, [this](int index) { select_.SelectionChanged(index); });
}

void TComComboBox::syncItems() {
    clear();
    for (const std::string& item : select_.Items)
        addItem(QString::fromLatin1(item.data(), qsizetype(item.size())));
    setCurrentIndex(-1);
}

void TComComboBox::SetComProperty(TComProperty value) {
    select_.ComProperty = value;
    select_.FillItems();
    syncItems();
    if (select_.Items.empty())
        return;
    if (!select_.ComPort)
        setCurrentIndex(0);
    else
        ReadFromPort();
}

void TComComboBox::SetComPort(TCustomComPort* value) {
    if (value == select_.ComPort)
        return;
    select_.ComPort = value;
    if (value)
        ReadFromPort();
    else if (count() > 0)
        setCurrentIndex(0);
}

void TComComboBox::ReadFromPort() { setCurrentIndex(select_.ReadFromPort()); }

std::string TComComboBox::Text() const {
    if (currentIndex() < 0)
        return {};
    return currentText().toLatin1().toStdString();
}

void TComComboBox::SetText(const std::string& value) {
    const int index = select_.Find(value);
    if (index >= 0)
        setCurrentIndex(index);
}

}  // namespace kestrel
