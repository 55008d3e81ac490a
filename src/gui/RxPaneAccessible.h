#pragma once
// A receive pane to assistive technology through Qt's accessibility (AT-SPI
// on Linux): an editable multi-line text named as its heading, whose text,
// caret, selection and characters' places come from the pane's model, and
// which edits as typing does. Received bytes are told to a screen reader at
// most once a tick (the pane calls notice()), not at every burst.

#include <QAccessibleWidget>

namespace kestrel {

class TRxPane;

class TRxPaneAccessible : public QAccessibleWidget,
                          public QAccessibleTextInterface,
                          public QAccessibleEditableTextInterface {
public:
    explicit TRxPaneAccessible(TRxPane* pane);

    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;

    // QAccessibleTextInterface
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                             int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                            int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

    // QAccessibleEditableTextInterface
    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString& text) override;
    void replaceText(int startOffset, int endOffset, const QString& text) override;

private:
    TRxPane* pane() const;
    // The unit of the boundary type that holds offset: [first, second).
    std::pair<int, int> unitAt(int offset, QAccessible::TextBoundaryType type) const;
};

// Makes the interface for every TRxPane; installed once with
// QAccessible::installFactory.
QAccessibleInterface* RxPaneAccessibleFactory(const QString& className, QObject* object);

}  // namespace kestrel
