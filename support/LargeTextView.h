// A read-only view of a text of any size: it keeps the UTF-8 bytes as given, finds the
// line starts once (on a worker thread, a screenful first) and lays out only the lines
// on screen. No wrapping; both scroll bars; selection, copy and find.
#pragma once

#include "TextLineIndex.h"

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QTimer>

#include <atomic>
#include <thread>
#include <unordered_map>
#include <vector>

namespace treelark {

class TextFindBar;

class LargeTextView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit LargeTextView(QWidget* parent = nullptr);
    ~LargeTextView() override;

    void setText(QByteArray utf8);
    void setPlainText(const QString& text) { setText(text.toUtf8()); }
    const QByteArray& bytes() const { return m_text; }

    // Lines known so far; all of them once indexComplete().
    qint64 lineCount() const;
    bool indexComplete() const { return m_indexed == m_text.size() && m_indexDone; }
    QString lineText(qint64 line) const;
    qint64 firstVisibleLine() const;
    int visibleLineCount() const;

    // Selection as byte offsets into bytes(); the cursor is where the caret is.
    void setSelection(qint64 anchor, qint64 cursor);
    qint64 cursorPosition() const { return m_cursor; }
    qint64 selectionStart() const { return std::min(m_anchor, m_cursor); }
    qint64 selectionEnd() const { return std::max(m_anchor, m_cursor); }
    QString selectedText() const;
    void selectAll();
    void copy() const;

    // Selects the next (or previous) occurrence of `what` after (before) the selection,
    // starting over at the other end when there is none. ASCII letters match either case.
    // Returns false, leaving the selection, when the text has none at all; `wrapped`
    // tells whether the search went round the end.
    bool find(const QString& what, bool backwards = false, bool* wrapped = nullptr);
    void showFindBar();
    TextFindBar* findBar() const { return m_findBar; }

    // Scrolls so that the byte at `pos` is on screen.
    void ensureVisible(qint64 pos);

signals:
    void indexingFinished();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    friend class LargeTextAccessible;

    struct Checkpoint {
        qint64 offset; // from the line's start
        qint64 column;
    };

    void stopIndexing();
    void takeScan(quint64 generation, LineScan scan, qint64 scannedTo, bool done);
    void updateScrollBars();
    void updateMetrics();
    void placeFindBar();

    qint64 lineStart(qint64 line) const { return m_starts[size_t(line)]; }
    qint64 lineEnd(qint64 line) const; // before the line break ("\n" or "\r\n")
    qint64 lineOf(qint64 pos) const;
    qint64 columnAt(qint64 line, qint64 pos);
    ColumnHit hitInLine(qint64 line, qint64 column);
    const std::vector<Checkpoint>* checkpoints(qint64 line);
    qint64 positionAt(const QPoint& viewportPoint);
    void moveCursor(qint64 pos, bool extend, bool keepColumn = false);
    void drawLine(QPainter& p, qint64 line, int y, qint64 firstColumn, int columns);
    void autoScroll();

    QByteArray m_text;
    std::vector<qint64> m_starts{0};
    qint64 m_indexed = 0;     // bytes the line index covers
    bool m_indexDone = true;
    qint64 m_widest = 0;      // columns of the widest line (an upper bound)
    std::unordered_map<qint64, std::vector<Checkpoint>> m_longLines;

    std::thread m_indexer;
    std::atomic<bool> m_stopIndexer{false};
    quint64 m_generation = 0;

    qint64 m_anchor = 0;
    qint64 m_cursor = 0;
    qint64 m_wantedColumn = -1; // kept through up/down moves
    bool m_selecting = false;
    QPoint m_lastMouse;
    QTimer m_autoScroll;

    int m_lineHeight = 1;
    int m_charWidth = 1;
    int m_ascent = 0;
    TextFindBar* m_findBar = nullptr;
};

} // namespace treelark
