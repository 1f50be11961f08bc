// Where each line of a UTF-8 text starts, and how a byte position maps to a display
// column. Kept apart from the view so the index can be built off the GUI thread and
// checked on its own.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace treelark {

constexpr int kTabWidth = 8;

// What one scan over [from, to) of a text found. `starts` holds the offset just past
// every '\n' in the range; `widestBound` is an upper bound of the display columns of
// the lines that ended in the range (bytes, plus the room tabs may take).
struct LineScan {
    std::vector<qint64> starts;
    qint64 widestBound = 0;
};

// Scans bytes [from, to) of `text`; `lineStart` is where the line that `from` falls in
// began, so a line split over two scans is measured whole. With `atEnd`, `to` is the
// end of the text and the last line, which has no '\n', is measured too.
LineScan scanLines(const char* text, qint64 lineStart, qint64 from, qint64 to, bool atEnd);

// The column after `text[0, len)` starting at column `col`: one per character, tabs to
// the next multiple of kTabWidth.
qint64 advanceColumns(const char* text, qint64 len, qint64 col = 0);

// The first offset in [0, len) whose column (starting at `col`) reaches `target`, and
// the column there; `len` and its column when the text ends before. Never splits a
// character.
struct ColumnHit {
    qint64 offset;
    qint64 column;
};
ColumnHit offsetAtColumn(const char* text, qint64 len, qint64 target, qint64 col = 0);

// Start of the character before / after `pos` (UTF-8 continuation bytes skipped).
qint64 previousCharacter(const QByteArray& text, qint64 pos);
qint64 nextCharacter(const QByteArray& text, qint64 pos);

} // namespace treelark
