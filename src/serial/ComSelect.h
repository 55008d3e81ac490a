#pragma once
// TComSelect: what a drop-down list bound to one setting of a port knows
// without a toolkit: the lists, the pending values and how they go to and
// from the port. The setup dialogs of both front ends build on it.

#include "serial/CPort.h"

#include <array>
#include <string>
#include <vector>

namespace kestrel {

enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

class TComSelect {
public:
    // The list for a setting; cpPort asks the system (and may raise code 23).
    static std::vector<std::string> ItemsFor(TComProperty property, const std::string& currentPort);

    std::vector<std::string> Items;  // shared with the combo's list
    TComProperty ComProperty = cpNone;
    TCustomComPort* ComPort = nullptr;  // not owned
    bool AutoApply = false;
    // The port a cpPort list is filled for before a port is attached (so the
    // port now set can be listed).
    std::string CurrentPortHint;

    // Pending values, all zero at the start.
    std::string Port;
    TBaudRate BaudRate = brCustom;
    TDataBits DataBits = dbFive;
    TStopBits StopBits = sbOneStopBit;
    TParityBits Parity = prNone;
    TFlowControl FlowControl = fcHardware;

    // Fills Items for ComProperty.
    void FillItems();
    // The text of the port's current value of the setting.
    std::string PortValueText() const;
    // First item equal to text without regard to case, or -1.
    int Find(const std::string& text) const;
    // The item to select for the port's current value (-1: none); a found item
    // becomes the pending value.
    int ReadFromPort();
    // The operator selected item index (-1: nothing).
    void SelectionChanged(int index);
    // Sets the one setting on the attached port from the pending value.
    void ApplyToPort();

private:
    void SetPending(const std::string& text);
};

// OK in a setup dialog: every list's choice set on its port, in the order
// given, in one settings update (an open port takes them in one pass).
void ApplyChoices(TCustomComPort& port, const std::array<TComSelect*, 6>& choices);

}  // namespace kestrel
