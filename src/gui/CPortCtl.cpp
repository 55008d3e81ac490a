// TComComboBox: a Qt drop-down list over a TComSelect (see CPortCtl.h).

#include "gui/CPortCtl.h"

#include "gui/Latin1.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>

namespace kestrel {
namespace {

// The list to a screen reader: named by its label (its accessible name) and
// valued by its choice. Qt's own names a list on Linux by its choice, which
// leaves six lists of a dialog told apart by nothing but their values.
class TComComboBoxAccessible : public QAccessibleWidget {
public:
    explicit TComComboBoxAccessible(TComComboBox* combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {
        addControllingSignal(QStringLiteral("currentIndexChanged(int)"));
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return combo()->currentText();
        return QAccessibleWidget::text(t);
    }
    // The drop-down list.
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(combo()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && child->object() == combo()->view() ? 0 : -1;
    }
    QStringList actionNames() const override { return {showMenuAction()}; }
    void doAction(const QString& name) override {
        if (name == showMenuAction())
            combo()->showPopup();
    }

private:
    TComComboBox* combo() const { return static_cast<TComComboBox*>(widget()); }
};

QAccessibleInterface* ComboBoxAccessibleFactory(const QString& /*className*/, QObject* object) {
    if (auto* combo = qobject_cast<TComComboBox*>(object))
        return new TComComboBoxAccessible(combo);
    return nullptr;
}

}  // namespace

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(false);  // drop-down list: only listed items can be picked
    connect(this, &QComboBox::activated, this, [this](int index) { select_.SelectionChanged(index); });
    static const bool accessible = [] {
        QAccessible::installFactory(ComboBoxAccessibleFactory);
        return true;
    }();
    (void)accessible;
}

void TComComboBox::syncItems() {
    clear();
    for (const std::string& item : select_.Items)
        addItem(Latin1(item));
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
    return Latin1(currentText());
}

void TComComboBox::SetText(const std::string& value) {
    const int index = select_.Find(value);
    if (index >= 0)
        setCurrentIndex(index);
}

}  // namespace kestrel
