#include "LargeTextView.h"

#include "LargeTextAccessible.h"
#include "TextFindBar.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cctype>
#include <climits>
#include <functional>

namespace treelark {

namespace {

// Lines longer than this get column checkpoints, so painting a screenful of a huge
// single-line document does not walk the line from its start each time.
constexpr qint64 kLongLine = 64 * 1024;
constexpr qint64 kCheckpointStep = 4096;
// The first scan is small so the first screen does not wait for the whole index.
constexpr qint64 kFirstScan = 256 * 1024;
constexpr qint64 kLargestScan = 8 * 1024 * 1024;

inline char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

struct FoldedHash {
    std::size_t operator()(char c) const { return std::hash<char>()(foldAscii(c)); }
};
struct FoldedEqual {
    bool operator()(char a, char b) const { return foldAscii(a) == foldAscii(b); }
};

template <typename It>
It searchFolded(It first, It last, It needleFirst, It needleLast)
{
    const std::boyer_moore_horspool_searcher<It, FoldedHash, FoldedEqual> searcher(needleFirst, needleLast);
    return std::search(first, last, searcher);
}

int toInt(qint64 v) { return int(std::clamp<qint64>(v, 0, INT_MAX)); }

bool isWordByte(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 0x80 || std::isalnum(u) || c == '_' || c == '-' || c == '.' || c == ':';
}

} // namespace

LargeTextView::LargeTextView(QWidget* parent) : QAbstractScrollArea(parent)
{
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Base);

    m_findBar = new TextFindBar(this);
    m_findBar->hide();
    connect(m_findBar, &TextFindBar::searchRequested, this, [this](const QString& what, bool backwards) {
        bool wrapped = false;
        const bool found = find(what, backwards, &wrapped);
        m_findBar->setOutcome(found, wrapped);
    });
    connect(m_findBar, &TextFindBar::closed, this, [this] { setFocus(); });

    auto addAction = [this](const QString& text, const QKeySequence& keys, auto slot) {
        auto* a = new QAction(text, this);
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(a, &QAction::triggered, this, slot);
        QAbstractScrollArea::addAction(a);
    };
    addAction(tr("&Copy"), QKeySequence::Copy, [this] { copy(); });
    addAction(tr("Select &All"), QKeySequence::SelectAll, [this] { selectAll(); });
    addAction(tr("&Find..."), QKeySequence::Find, [this] { showFindBar(); });
    addAction(tr("Find &Next"), QKeySequence::FindNext, [this] { m_findBar->search(false); });
    addAction(tr("Find &Previous"), QKeySequence::FindPrevious, [this] { m_findBar->search(true); });
    setContextMenuPolicy(Qt::ActionsContextMenu);

    m_autoScroll.setInterval(50);
    connect(&m_autoScroll, &QTimer::timeout, this, &LargeTextView::autoScroll);
    updateMetrics();
    installLargeTextAccessibility();
}

LargeTextView::~LargeTextView() { stopIndexing(); }

void LargeTextView::stopIndexing()
{
    if (m_indexer.joinable()) {
        m_stopIndexer = true;
        m_indexer.join();
    }
    m_stopIndexer = false;
}

void LargeTextView::setText(QByteArray utf8)
{
    stopIndexing();
    ++m_generation;
    m_text = std::move(utf8);
    m_starts.assign(1, 0);
    m_starts.shrink_to_fit();
    m_longLines.clear();
    m_widest = 0;
    m_anchor = m_cursor = 0;
    m_wantedColumn = -1;

    // The first screenful is indexed here, so the window never shows up empty; the rest
    // is found on a worker while the window is already usable.
    const qint64 size = m_text.size();
    const qint64 first = std::min(size, kFirstScan);
    LineScan head = scanLines(m_text.constData(), 0, 0, first, first == size);
    m_indexed = 0;
    m_indexDone = false;
    takeScan(m_generation, std::move(head), first, first == size);

    if (first < size) {
        const QByteArray text = m_text; // shared, not copied: the bytes are never changed
        const quint64 generation = m_generation;
        const qint64 resumeLine = m_starts.back();
        m_indexer = std::thread([this, text, generation, first, resumeLine] {
            const qint64 n = text.size();
            qint64 from = first, line = resumeLine, step = kFirstScan * 4;
            while (from < n && !m_stopIndexer.load(std::memory_order_relaxed)) {
                const qint64 to = std::min(n, from + step);
                LineScan scan = scanLines(text.constData(), line, from, to, to == n);
                if (!scan.starts.empty())
                    line = scan.starts.back();
                QMetaObject::invokeMethod(
                    this, [this, generation, s = std::move(scan), to, done = to == n]() mutable {
                        takeScan(generation, std::move(s), to, done);
                    },
                    Qt::QueuedConnection);
                from = to;
                step = std::min(step * 2, kLargestScan);
            }
        });
    }
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    updateScrollBars();
    viewport()->update();
}

void LargeTextView::takeScan(quint64 generation, LineScan scan, qint64 scannedTo, bool done)
{
    if (generation != m_generation)
        return;
    const qint64 known = lineCount();
    m_starts.insert(m_starts.end(), scan.starts.begin(), scan.starts.end());
    m_indexed = scannedTo;
    m_widest = std::max(m_widest, scan.widestBound);
    if (done) {
        m_indexDone = true;
        m_starts.shrink_to_fit();
    }
    updateScrollBars();
    // repaint only when the new lines can be on screen
    if (known < firstVisibleLine() + visibleLineCount() || done)
        viewport()->update();
    if (done)
        emit indexingFinished();
}

qint64 LargeTextView::lineCount() const
{
    // while indexing, the last start found begins a line whose end is not known yet
    return m_indexDone ? qint64(m_starts.size()) : qint64(m_starts.size()) - 1;
}

qint64 LargeTextView::lineEnd(qint64 line) const
{
    qint64 end = line + 1 < qint64(m_starts.size()) ? m_starts[size_t(line + 1)] - 1 : m_text.size();
    if (end > lineStart(line) && m_text.at(end - 1) == '\r')
        --end;
    return end;
}

qint64 LargeTextView::lineOf(qint64 pos) const
{
    auto it = std::upper_bound(m_starts.begin(), m_starts.end(), pos);
    const qint64 line = qint64(it - m_starts.begin()) - 1;
    return std::clamp<qint64>(line, 0, std::max<qint64>(0, lineCount() - 1));
}

QString LargeTextView::lineText(qint64 line) const
{
    if (line < 0 || line >= lineCount())
        return QString();
    return QString::fromUtf8(m_text.constData() + lineStart(line), lineEnd(line) - lineStart(line));
}

qint64 LargeTextView::firstVisibleLine() const { return verticalScrollBar()->value(); }

int LargeTextView::visibleLineCount() const { return std::max(1, viewport()->height() / m_lineHeight); }

const std::vector<LargeTextView::Checkpoint>* LargeTextView::checkpoints(qint64 line)
{
    const qint64 b = lineStart(line), e = lineEnd(line);
    if (e - b < kLongLine)
        return nullptr;
    auto it = m_longLines.find(line);
    if (it != m_longLines.end())
        return &it->second;
    std::vector<Checkpoint> marks;
    marks.reserve(size_t((e - b) / kCheckpointStep + 2));
    const char* text = m_text.constData() + b;
    qint64 offset = 0, column = 0;
    marks.push_back({0, 0});
    while (offset < e - b) {
        qint64 next = std::min(e - b, offset + kCheckpointStep);
        while (next < e - b && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80)
            ++next;
        column = advanceColumns(text + offset, next - offset, column);
        offset = next;
        marks.push_back({offset, column});
    }
    // the index only had an estimate of this line's width
    m_widest = std::max(m_widest, column);
    return &m_longLines.emplace(line, std::move(marks)).first->second;
}

qint64 LargeTextView::columnAt(qint64 line, qint64 pos)
{
    const qint64 b = lineStart(line);
    pos = std::clamp(pos, b, lineEnd(line));
    qint64 from = 0, column = 0;
    if (const auto* marks = checkpoints(line)) {
        auto it = std::upper_bound(marks->begin(), marks->end(), pos - b,
                                   [](qint64 v, const Checkpoint& c) { return v < c.offset; });
        --it;
        from = it->offset;
        column = it->column;
    }
    return advanceColumns(m_text.constData() + b + from, pos - b - from, column);
}

ColumnHit LargeTextView::hitInLine(qint64 line, qint64 column)
{
    const qint64 b = lineStart(line), len = lineEnd(line) - b;
    qint64 from = 0, startColumn = 0;
    if (const auto* marks = checkpoints(line)) {
        auto it = std::upper_bound(marks->begin(), marks->end(), column,
                                   [](qint64 v, const Checkpoint& c) { return v < c.column; });
        --it;
        from = it->offset;
        startColumn = it->column;
    }
    ColumnHit hit = offsetAtColumn(m_text.constData() + b + from, len - from, column, startColumn);
    hit.offset += from;
    return hit;
}

void LargeTextView::updateMetrics()
{
    const QFontMetrics fm(font());
    m_lineHeight = std::max(1, fm.height());
    m_charWidth = std::max(1, fm.horizontalAdvance(QLatin1Char('M')));
    m_ascent = fm.ascent();
    updateScrollBars();
}

void LargeTextView::updateScrollBars()
{
    const int rows = visibleLineCount();
    const int columns = std::max(1, viewport()->width() / m_charWidth);
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, toInt(lineCount() - rows));
    v->setPageStep(rows);
    v->setSingleStep(1);
    QScrollBar* h = horizontalScrollBar();
    h->setRange(0, toInt(m_widest + 1 - columns));
    h->setPageStep(columns);
    h->setSingleStep(1);
}

void LargeTextView::placeFindBar()
{
    const QSize hint = m_findBar->sizeHint();
    const QRect area = viewport()->geometry();
    const int width = std::min(area.width(), std::max(hint.width(), 320));
    m_findBar->setGeometry(area.right() - width + 1, area.top(), width, hint.height());
}

void LargeTextView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
    placeFindBar();
}

void LargeTextView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateMetrics();
}

void LargeTextView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void LargeTextView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void LargeTextView::scrollContentsBy(int, int) { viewport()->update(); }

void LargeTextView::paintEvent(QPaintEvent*)
{
    QPainter p(viewport());
    p.setFont(font());
    const qint64 first = firstVisibleLine();
    const qint64 firstColumn = horizontalScrollBar()->value();
    const int columns = viewport()->width() / m_charWidth + 2;
    const int rows = viewport()->height() / m_lineHeight + 1;
    const qint64 count = lineCount();
    for (int r = 0; r < rows && first + r < count; ++r)
        drawLine(p, first + r, r * m_lineHeight, firstColumn, columns);

    if (hasFocus() && lineCount() > 0) {
        const qint64 line = lineOf(m_cursor);
        const qint64 row = line - first;
        const qint64 x = (columnAt(line, m_cursor) - firstColumn) * m_charWidth;
        if (row >= 0 && row < rows && x >= 0 && x <= viewport()->width())
            p.fillRect(QRect(int(x), int(row * m_lineHeight), 1, m_lineHeight), palette().color(QPalette::Text));
    }
}

void LargeTextView::drawLine(QPainter& p, qint64 line, int y, qint64 firstColumn, int columns)
{
    const qint64 b = lineStart(line), e = lineEnd(line);
    const qint64 lastColumn = firstColumn + columns;

    // selection band first, so the text is drawn over it
    const qint64 selB = selectionStart(), selE = selectionEnd();
    const qint64 breakAt = line + 1 < qint64(m_starts.size()) ? m_starts[size_t(line + 1)] : m_text.size() + 1;
    if (selB < selE && selB < breakAt && selE > b) {
        const qint64 c0 = columnAt(line, std::max(selB, b));
        // a selected line break shows as one cell past the line's end
        const qint64 c1 = columnAt(line, std::min(selE, e)) + (selE > e && selE >= breakAt ? 1 : 0);
        const qint64 x0 = std::max(c0, firstColumn), x1 = std::min(c1, lastColumn);
        if (x1 > x0)
            p.fillRect(QRect(int((x0 - firstColumn) * m_charWidth), y, int((x1 - x0) * m_charWidth), m_lineHeight),
                       palette().color(QPalette::Highlight));
    }

    const ColumnHit start = hitInLine(line, firstColumn);
    const char* text = m_text.constData() + b;
    const qint64 len = e - b;
    qint64 i = start.offset, column = start.column;
    // a tab straddling the left edge leaves the column past firstColumn; that is blank
    QString run;
    qint64 runColumn = column;
    const QColor normal = palette().color(QPalette::Text);
    const QColor selected = palette().color(QPalette::HighlightedText);
    auto flush = [&](qint64 cells) {
        if (run.isEmpty())
            return;
        const int x = int((runColumn - firstColumn) * m_charWidth);
        // draw the run, then the part inside the selection again in the selection colour
        p.setPen(normal);
        p.drawText(x, y + m_ascent, run);
        if (selB < selE) {
            const qint64 c0 = selB <= b ? 0 : columnAt(line, selB);
            const qint64 c1 = selE >= e ? LLONG_MAX : columnAt(line, selE);
            const qint64 lo = std::max(c0, runColumn), hi = std::min(c1, runColumn + cells);
            if (hi > lo) {
                p.save();
                p.setClipRect(QRect(int((lo - firstColumn) * m_charWidth), y, int((hi - lo) * m_charWidth),
                                    m_lineHeight));
                p.setPen(selected);
                p.drawText(x, y + m_ascent, run);
                p.restore();
            }
        }
        run.clear();
    };
    while (i < len && column < lastColumn) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\t') {
            flush(run.size());
            column = (column / kTabWidth + 1) * kTabWidth;
            runColumn = column;
            ++i;
            continue;
        }
        if (c < 0x80) {
            if (run.isEmpty())
                runColumn = column;
            run.append(c < 0x20 || c == 0x7F ? QLatin1Char(' ') : QLatin1Char(char(c)));
            ++column;
            ++i;
            continue;
        }
        // Other characters take one cell each whatever the font makes of them, so they
        // are drawn one at a time at their column and the grid stays aligned.
        flush(run.size());
        qint64 j = i + 1;
        while (j < len && (static_cast<unsigned char>(text[j]) & 0xC0) == 0x80)
            ++j;
        run = QString::fromUtf8(text + i, j - i);
        runColumn = column;
        const qint64 cellColumn = column;
        flush(1);
        column = cellColumn + 1;
        runColumn = column;
        i = j;
    }
    flush(run.size());
}

qint64 LargeTextView::positionAt(const QPoint& pt)
{
    const qint64 count = lineCount();
    if (count <= 0)
        return 0;
    const qint64 line = std::clamp<qint64>(firstVisibleLine() + (pt.y() < 0 ? -1 : pt.y() / m_lineHeight), 0, count - 1);
    const qint64 column = std::max<qint64>(0, horizontalScrollBar()->value() + (pt.x() + m_charWidth / 2) / m_charWidth);
    return lineStart(line) + hitInLine(line, column).offset;
}

void LargeTextView::setSelection(qint64 anchor, qint64 cursor)
{
    const qint64 n = m_text.size();
    m_anchor = std::clamp<qint64>(anchor, 0, n);
    m_cursor = std::clamp<qint64>(cursor, 0, n);
    viewport()->update();
    LargeTextAccessible::caretMoved(this);
}

QString LargeTextView::selectedText() const
{
    return QString::fromUtf8(m_text.constData() + selectionStart(), selectionEnd() - selectionStart());
}

void LargeTextView::selectAll() { setSelection(0, m_text.size()); }

void LargeTextView::copy() const
{
    if (selectionEnd() > selectionStart())
        QGuiApplication::clipboard()->setText(selectedText());
}

void LargeTextView::ensureVisible(qint64 pos)
{
    if (lineCount() <= 0)
        return;
    const qint64 line = lineOf(pos);
    QScrollBar* v = verticalScrollBar();
    const int rows = visibleLineCount();
    if (line < v->value())
        v->setValue(toInt(line));
    else if (line >= v->value() + rows)
        v->setValue(toInt(line - rows + 1));
    const qint64 column = columnAt(line, pos);
    QScrollBar* h = horizontalScrollBar();
    const int columns = std::max(1, viewport()->width() / m_charWidth);
    const int margin = std::min(8, columns / 4);
    if (column < h->value())
        h->setValue(toInt(column - margin));
    else if (column >= h->value() + columns)
        h->setValue(toInt(column - columns + margin + 1));
}

void LargeTextView::moveCursor(qint64 pos, bool extend, bool keepColumn)
{
    if (!keepColumn)
        m_wantedColumn = -1;
    setSelection(extend ? m_anchor : pos, pos);
    ensureVisible(pos);
}

void LargeTextView::keyPressEvent(QKeyEvent* event)
{
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const qint64 count = lineCount();
    if (count <= 0) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const qint64 line = lineOf(m_cursor);
    auto verticalMove = [&](qint64 lines) {
        if (m_wantedColumn < 0)
            m_wantedColumn = columnAt(line, m_cursor);
        const qint64 target = std::clamp<qint64>(line + lines, 0, count - 1);
        // a page move takes the view along, so the caret keeps its place on screen
        if (lines > 1 || lines < -1)
            verticalScrollBar()->setValue(toInt(verticalScrollBar()->value() + (target - line)));
        moveCursor(lineStart(target) + hitInLine(target, m_wantedColumn).offset, shift, true);
    };
    switch (event->key()) {
    case Qt::Key_Left:
        moveCursor(m_cursor == lineStart(line) && line > 0 ? lineEnd(line - 1) : previousCharacter(m_text, m_cursor), shift);
        break;
    case Qt::Key_Right:
        moveCursor(m_cursor >= lineEnd(line) && line + 1 < count ? lineStart(line + 1) : nextCharacter(m_text, m_cursor), shift);
        break;
    case Qt::Key_Up:
        if (ctrl) {
            verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
            return;
        }
        verticalMove(-1);
        break;
    case Qt::Key_Down:
        if (ctrl) {
            verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            return;
        }
        verticalMove(1);
        break;
    case Qt::Key_PageUp:
        verticalMove(-visibleLineCount());
        break;
    case Qt::Key_PageDown:
        verticalMove(visibleLineCount());
        break;
    case Qt::Key_Home:
        moveCursor(ctrl ? 0 : lineStart(line), shift);
        break;
    case Qt::Key_End:
        moveCursor(ctrl ? m_text.size() : lineEnd(line), shift);
        break;
    case Qt::Key_Escape:
        if (m_findBar->isVisible()) {
            m_findBar->hide();
            break;
        }
        [[fallthrough]];
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void LargeTextView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    const qint64 pos = positionAt(event->position().toPoint());
    m_wantedColumn = -1;
    setSelection((event->modifiers() & Qt::ShiftModifier) ? m_anchor : pos, pos);
    m_selecting = true;
    m_lastMouse = event->position().toPoint();
}

void LargeTextView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_selecting)
        return;
    m_lastMouse = event->position().toPoint();
    const bool outside = !viewport()->rect().contains(m_lastMouse);
    if (outside && !m_autoScroll.isActive())
        m_autoScroll.start();
    else if (!outside)
        m_autoScroll.stop();
    setSelection(m_anchor, positionAt(m_lastMouse));
}

void LargeTextView::autoScroll()
{
    if (!m_selecting) {
        m_autoScroll.stop();
        return;
    }
    const QRect r = viewport()->rect();
    if (m_lastMouse.y() < r.top())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (m_lastMouse.y() > r.bottom())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    if (m_lastMouse.x() < r.left())
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (m_lastMouse.x() > r.right())
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    setSelection(m_anchor, positionAt(m_lastMouse));
}

void LargeTextView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_selecting = false;
        m_autoScroll.stop();
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void LargeTextView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || lineCount() <= 0)
        return;
    const qint64 pos = positionAt(event->position().toPoint());
    const qint64 line = lineOf(pos);
    qint64 b = pos, e = pos;
    const qint64 lb = lineStart(line), le = lineEnd(line);
    while (b > lb && isWordByte(m_text.at(b - 1)))
        --b;
    while (e < le && isWordByte(m_text.at(e)))
        ++e;
    setSelection(b, e);
}

bool LargeTextView::find(const QString& what, bool backwards, bool* wrapped)
{
    if (wrapped)
        *wrapped = false;
    const QByteArray needle = what.toUtf8();
    if (needle.isEmpty() || needle.size() > m_text.size())
        return false;
    const char* begin = m_text.constBegin();
    const char* end = m_text.constEnd();
    qint64 at = -1;
    if (!backwards) {
        auto search = [&](qint64 from) {
            const char* hit = searchFolded(begin + from, end, needle.constBegin(), needle.constEnd());
            return hit == end ? qint64(-1) : qint64(hit - begin);
        };
        // from just past the start of the selection, so "next" never finds the same place
        const qint64 from = selectionEnd() > selectionStart() ? selectionStart() + 1 : m_cursor;
        at = search(std::min<qint64>(from, m_text.size()));
        if (at < 0 && (at = search(0)) >= 0 && wrapped)
            *wrapped = true;
    } else {
        using R = std::reverse_iterator<const char*>;
        auto search = [&](qint64 before) {
            // the match must end at or before `before`
            const R first(begin + before), last(begin);
            const R hit = searchFolded(first, last, R(needle.constEnd()), R(needle.constBegin()));
            return hit == last ? qint64(-1) : qint64(hit.base() - begin) - needle.size();
        };
        const qint64 before = selectionEnd() > selectionStart() ? selectionEnd() - 1 : m_cursor;
        at = search(std::max<qint64>(before, 0));
        if (at < 0 && (at = search(m_text.size())) >= 0 && wrapped)
            *wrapped = true;
    }
    if (at < 0)
        return false;
    m_wantedColumn = -1;
    setSelection(at, at + needle.size());
    ensureVisible(at + needle.size());
    ensureVisible(at);
    return true;
}

void LargeTextView::showFindBar()
{
    // what is selected on one line is what the user most likely wants to find
    const qint64 s = selectionStart(), e = selectionEnd();
    if (e > s && e - s < 256 && !m_text.mid(s, e - s).contains('\n'))
        m_findBar->setSearchText(selectedText());
    placeFindBar();
    m_findBar->open();
}

} // namespace treelark
