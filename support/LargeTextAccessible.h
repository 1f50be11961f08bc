// What assistive technology reads of a LargeTextView: its text, caret and selection,
// line by line, in the character offsets the accessibility bus speaks. The view holds
// UTF-8 bytes of any size, so nothing here converts the whole text up front: offsets
// are mapped through a table of block starts filled only as far as a request reaches.
#pragma once

#include <QAccessibleWidget>

#include <vector>

namespace treelark {

class LargeTextView;

// Maps byte offsets of a UTF-8 text to UTF-16 offsets and back, lazily. The text is
// taken to be valid UTF-8 (the view shows text we wrote ourselves); a stray byte counts
// as no character, so offsets drift by one per invalid byte at worst.
class Utf16Offsets {
public:
    void reset(const char* data, qint64 size);
    qint64 toChar(qint64 byte);
    qint64 toByte(qint64 character);
    qint64 characterCount() { return toChar(m_size); }

private:
    void fillTo(qint64 block);
    static qint64 unitsIn(const char* from, const char* to);

    const char* m_data = nullptr;
    qint64 m_size = 0;
    std::vector<qint64> m_blockChars{0}; // UTF-16 units before each block's first byte
};

class LargeTextAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit LargeTextAccessible(LargeTextView* view);

    void* interface_cast(QAccessible::InterfaceType t) override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;

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

    // Tells the bus where the caret went; cheap when no reader listens.
    static void caretMoved(LargeTextView* view);

private:
    LargeTextView* view() const;
    Utf16Offsets& offsets() const;
    qint64 byteAt(int offset) const;
    int charAt(qint64 byte) const;
    // The unit around `byte` (a line, a word, a character) as byte offsets.
    std::pair<qint64, qint64> unitAround(qint64 byte, QAccessible::TextBoundaryType boundary) const;
    QString unitText(std::pair<qint64, qint64> unit, int* startOffset, int* endOffset) const;

    mutable Utf16Offsets m_offsets;
    mutable quint64 m_generation = ~quint64(0);
};

// Registers the interface for every LargeTextView; safe to call more than once.
void installLargeTextAccessibility();

} // namespace treelark
