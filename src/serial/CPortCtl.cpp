#include "serial/CPortCtl.h"

#include "serial/PortList.h"

namespace kestrel {
namespace {

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    auto up = [](unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (up(static_cast<unsigned char>(a[i])) != up(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

template <typename Array, typename ToText>
std::vector<std::string> Texts(const Array& values, ToText toText) {
    std::vector<std::string> items;
    for (auto v : values)
        items.push_back(toText(v));
    return items;
}

}  // namespace

std::vector<std::string> TComSelect::ItemsFor(TComProperty property, const std::string& currentPort) {
    switch (property) {
    case cpPort: return EnumComPorts(currentPort);
    case cpBaudRate: return Texts(kAllBaudRates, BaudRateText);
    case cpDataBits: return Texts(kAllDataBits, DataBitsText);
    case cpStopBits: return Texts(kAllStopBits, StopBitsText);
    case cpParity: return Texts(kAllParityBits, ParityText);
    case cpFlowControl: return Texts(kAllFlowControls, FlowControlText);
    case cpNone: break;
    }
    return {};
}

void TComSelect::FillItems() { Items = ItemsFor(ComProperty, ComPort ? ComPort->Port() : CurrentPortHint); }

std::string TComSelect::PortValueText() const {
    if (!ComPort)
        return {};
    switch (ComProperty) {
    case cpPort: return ComPort->Port();
    case cpBaudRate: return BaudRateText(ComPort->BaudRate());
    case cpDataBits: return DataBitsText(ComPort->DataBits());
    case cpStopBits: return StopBitsText(ComPort->StopBits());
    case cpParity: return ParityText(ComPort->Parity().Bits());
    case cpFlowControl: return FlowControlText(ComPort->FlowControl().FlowControl());
    case cpNone: break;
    }
    return {};
}

int TComSelect::Find(const std::string& text) const {
    for (std::size_t i = 0; i < Items.size(); ++i)
        if (SameText(Items[i], text))
            return static_cast<int>(i);
    return -1;
}

void TComSelect::SetPending(const std::string& text) {
    switch (ComProperty) {
    case cpPort: Port = text; break;
    case cpBaudRate: BaudRate = BaudRateFromText(text); break;
    case cpDataBits: DataBits = DataBitsFromText(text); break;
    case cpStopBits: StopBits = StopBitsFromText(text); break;
    case cpParity: Parity = ParityFromText(text); break;
    case cpFlowControl: FlowControl = FlowControlFromText(text); break;
    case cpNone: break;
    }
}

int TComSelect::ReadFromPort() {
    if (!ComPort)
        return -1;
    const int index = Find(PortValueText());
    if (index >= 0)
        SetPending(Items[static_cast<std::size_t>(index)]);
    return index;
}

void TComSelect::SelectionChanged(int index) {
    if (index >= 0 && index < static_cast<int>(Items.size()))
        SetPending(Items[static_cast<std::size_t>(index)]);
    else if (ComProperty == cpPort)
        Port.clear();
    if (AutoApply)
        ApplyToPort();
}

void TComSelect::ApplyToPort() {
    if (!ComPort)
        return;
    switch (ComProperty) {
    case cpPort:
        // No port picked while the current one is not listed: keep the old
        // name rather than leave the port without one.
        if (!Port.empty())
            ComPort->SetPort(Port);
        break;
    case cpBaudRate: ComPort->SetBaudRate(BaudRate); break;
    case cpDataBits: ComPort->SetDataBits(DataBits); break;
    case cpStopBits: ComPort->SetStopBits(StopBits); break;
    case cpParity: ComPort->Parity().SetBits(Parity); break;
    case cpFlowControl: ComPort->FlowControl().SetFlowControl(FlowControl); break;
    case cpNone: break;
    }
}

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
