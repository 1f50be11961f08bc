#include "LargeTextAccessible.h"

#include "LargeTextView.h"
#include "TextLineIndex.h"

#include <QScrollBar>

#include <algorithm>
#include <cctype>
#include <climits>

namespace treelark {

namespace {

// Big enough that the table stays small (16 entries a megabyte), small enough that
// counting within one block is quick.
constexpr qint64 kBlock = 64 * 1024;

bool isWordByte(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 0x80 || std::isalnum(u) || c == '_';
}

int clampInt(qint64 v) { return int(std::clamp<qint64>(v, 0, INT_MAX)); }

} // namespace

void Utf16Offsets::reset(const char* data, qint64 size)
{
    m_data = data;
    m_size = size;
    m_blockChars.assign(1, 0);
}

qint64 Utf16Offsets::unitsIn(const char* from, const char* to)
{
    qint64 units = 0;
    for (const char* p = from; p < to; ++p) {
        const unsigned char b = static_cast<unsigned char>(*p);
        // every lead byte starts a character; a four-byte one needs a surrogate pair
        units += ((b & 0xC0) != 0x80) + (b >= 0xF0);
    }
    return units;
}

void Utf16Offsets::fillTo(qint64 block)
{
    while (qint64(m_blockChars.size()) <= block) {
        const qint64 from = (qint64(m_blockChars.size()) - 1) * kBlock;
        const qint64 to = std::min(m_size, from + kBlock);
        m_blockChars.push_back(m_blockChars.back() + unitsIn(m_data + from, m_data + to));
    }
}

qint64 Utf16Offsets::toChar(qint64 byte)
{
    byte = std::clamp<qint64>(byte, 0, m_size);
    const qint64 block = byte / kBlock;
    fillTo(block);
    return m_blockChars[size_t(block)] + unitsIn(m_data + block * kBlock, m_data + byte);
}

qint64 Utf16Offsets::toByte(qint64 character)
{
    if (character <= 0)
        return 0;
    const qint64 lastBlock = m_size / kBlock;
    // fill until a block starts past the character (or the text ends)
    while (m_blockChars.back() <= character && qint64(m_blockChars.size()) - 1 < lastBlock)
        fillTo(qint64(m_blockChars.size()));
    auto it = std::upper_bound(m_blockChars.begin(), m_blockChars.end(), character);
    const qint64 block = qint64(it - m_blockChars.begin()) - 1;
    qint64 units = m_blockChars[size_t(block)];
    qint64 pos = block * kBlock;
    while (pos < m_size) {
        const unsigned char b = static_cast<unsigned char>(m_data[pos]);
        if ((b & 0xC0) != 0x80) {
            if (units >= character)
                break;
            units += 1 + (b >= 0xF0);
        }
        ++pos;
    }
    return pos;
}

LargeTextAccessible::LargeTextAccessible(LargeTextView* view) : QAccessibleWidget(view, QAccessible::EditableText) {}

LargeTextView* LargeTextAccessible::view() const { return static_cast<LargeTextView*>(widget()); }

Utf16Offsets& LargeTextAccessible::offsets() const
{
    // the view's text never changes in place, only by setText, which bumps its generation
    if (m_generation != view()->m_generation) {
        m_generation = view()->m_generation;
        m_offsets.reset(view()->bytes().constData(), view()->bytes().size());
    }
    return m_offsets;
}

qint64 LargeTextAccessible::byteAt(int offset) const { return offsets().toByte(offset); }
int LargeTextAccessible::charAt(qint64 byte) const { return clampInt(offsets().toChar(byte)); }

void* LargeTextAccessible::interface_cast(QAccessible::InterfaceType t)
{
    if (t == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
}

QAccessible::State LargeTextAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.multiLine = true;
    s.selectableText = true;
    s.focusable = true;
    return s;
}

QString LargeTextAccessible::text(QAccessible::Text t) const
{
    // the value is the text itself, which may be huge: readers take it through the
    // text interface by ranges instead
    if (t == QAccessible::Name && QAccessibleWidget::text(t).isEmpty())
        return view()->window()->windowTitle();
    return QAccessibleWidget::text(t);
}

void LargeTextAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex == 0 && selectionCount() == 1) {
        *startOffset = charAt(view()->selectionStart());
        *endOffset = charAt(view()->selectionEnd());
    }
}

int LargeTextAccessible::selectionCount() const { return view()->selectionEnd() > view()->selectionStart() ? 1 : 0; }

void LargeTextAccessible::addSelection(int startOffset, int endOffset) { setSelection(0, startOffset, endOffset); }

void LargeTextAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        view()->setSelection(view()->cursorPosition(), view()->cursorPosition());
}

void LargeTextAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex != 0)
        return;
    view()->setSelection(byteAt(startOffset), byteAt(endOffset));
    view()->ensureVisible(view()->cursorPosition());
}

int LargeTextAccessible::cursorPosition() const { return charAt(view()->cursorPosition()); }

void LargeTextAccessible::setCursorPosition(int position)
{
    const qint64 pos = byteAt(position);
    view()->setSelection(pos, pos);
    view()->ensureVisible(pos);
}

QString LargeTextAccessible::text(int startOffset, int endOffset) const
{
    const qint64 from = byteAt(startOffset);
    const qint64 to = endOffset < 0 ? view()->bytes().size() : byteAt(endOffset);
    if (to <= from)
        return QString();
    return QString::fromUtf8(view()->bytes().constData() + from, to - from);
}

std::pair<qint64, qint64> LargeTextAccessible::unitAround(qint64 byte, QAccessible::TextBoundaryType boundary) const
{
    const QByteArray& text = view()->bytes();
    const qint64 size = text.size();
    byte = std::clamp<qint64>(byte, 0, size);
    switch (boundary) {
    case QAccessible::CharBoundary: {
        const qint64 start = byte < size ? byte : previousCharacter(text, byte);
        return {start, nextCharacter(text, start)};
    }
    case QAccessible::WordBoundary: {
        if (byte >= size || !isWordByte(text.at(byte)))
            return unitAround(byte, QAccessible::CharBoundary);
        qint64 start = byte, end = byte;
        while (start > 0 && isWordByte(text.at(start - 1)))
            --start;
        while (end < size && isWordByte(text.at(end)))
            ++end;
        return {start, end};
    }
    case QAccessible::SentenceBoundary:
    case QAccessible::ParagraphBoundary:
    case QAccessible::LineBoundary: {
        // Lines still being indexed are not known yet; the text up to the indexed part
        // is, and readers ask around the caret, which is always in it.
        LargeTextView* v = view();
        if (v->lineCount() <= 0)
            return {0, size};
        const qint64 line = v->lineOf(byte);
        const qint64 end = line + 1 < qint64(v->m_starts.size()) ? v->lineStart(line + 1) : size;
        return {v->lineStart(line), end};
    }
    case QAccessible::NoBoundary:
        break;
    }
    return {0, size};
}

QString LargeTextAccessible::unitText(std::pair<qint64, qint64> unit, int* startOffset, int* endOffset) const
{
    *startOffset = charAt(unit.first);
    *endOffset = charAt(unit.second);
    return QString::fromUtf8(view()->bytes().constData() + unit.first, unit.second - unit.first);
}

QString LargeTextAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                                          int* endOffset) const
{
    return unitText(unitAround(byteAt(offset), boundaryType), startOffset, endOffset);
}

QString LargeTextAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                              int* startOffset, int* endOffset) const
{
    const auto here = unitAround(byteAt(offset), boundaryType);
    if (here.first <= 0) {
        *startOffset = *endOffset = -1;
        return QString();
    }
    return unitText(unitAround(previousCharacter(view()->bytes(), here.first), boundaryType), startOffset, endOffset);
}

QString LargeTextAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                                             int* endOffset) const
{
    const auto here = unitAround(byteAt(offset), boundaryType);
    if (here.second >= view()->bytes().size()) {
        *startOffset = *endOffset = -1;
        return QString();
    }
    return unitText(unitAround(here.second, boundaryType), startOffset, endOffset);
}

int LargeTextAccessible::characterCount() const { return clampInt(offsets().characterCount()); }

QRect LargeTextAccessible::characterRect(int offset) const
{
    LargeTextView* v = view();
    if (v->lineCount() <= 0)
        return QRect();
    const qint64 pos = byteAt(offset);
    const qint64 line = v->lineOf(pos);
    const qint64 column = v->columnAt(line, pos);
    const QPoint local((column - v->horizontalScrollBar()->value()) * v->m_charWidth,
                       (line - v->firstVisibleLine()) * v->m_lineHeight);
    return QRect(v->viewport()->mapToGlobal(local), QSize(v->m_charWidth, v->m_lineHeight));
}

int LargeTextAccessible::offsetAtPoint(const QPoint& point) const
{
    LargeTextView* v = view();
    const QPoint local = v->viewport()->mapFromGlobal(point);
    if (!v->viewport()->rect().contains(local))
        return -1;
    return charAt(v->positionAt(local));
}

void LargeTextAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    view()->ensureVisible(byteAt(endIndex));
    view()->ensureVisible(byteAt(startIndex));
}

QString LargeTextAccessible::attributes(int offset, int* startOffset, int* endOffset) const
{
    // one font, one colour: the whole text is a single run
    Q_UNUSED(offset);
    *startOffset = 0;
    *endOffset = characterCount();
    return QString();
}

void LargeTextAccessible::caretMoved(LargeTextView* view)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(view);
    auto* text = iface ? iface->textInterface() : nullptr;
    if (!text)
        return;
    QAccessibleTextCursorEvent event(view, text->cursorPosition());
    QAccessible::updateAccessibility(&event);
    int start = 0, end = 0;
    text->selection(0, &start, &end);
    QAccessibleTextSelectionEvent selection(view, start, end);
    QAccessible::updateAccessibility(&selection);
}

namespace {

QAccessibleInterface* largeTextFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("treelark::LargeTextView") && object && object->isWidgetType())
        return new LargeTextAccessible(static_cast<LargeTextView*>(object));
    return nullptr;
}

} // namespace

void installLargeTextAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(largeTextFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace treelark
