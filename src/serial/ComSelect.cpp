#include "serial/ComSelect.h"

#include "serial/AsciiCase.h"
#include "serial/PortList.h"

namespace kestrel {
namespace {

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
        if (SameTextAscii(Items[i], text))
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

void ApplyChoices(TCustomComPort& port, const std::array<TComSelect*, 6>& choices) {
    TSettingsUpdate update(port);
    for (TComSelect* choice : choices)
        choice->ApplyToPort();
    update.Commit();
}

}  // namespace kestrel
