#include "TextLineIndex.h"

#include <cstring>

namespace treelark {

namespace {

inline bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

qint64 tabsIn(const char* b, const char* e)
{
    qint64 n = 0;
    while (b < e) {
        const void* t = std::memchr(b, '\t', size_t(e - b));
        if (!t)
            break;
        ++n;
        b = static_cast<const char*>(t) + 1;
    }
    return n;
}

} // namespace

LineScan scanLines(const char* text, qint64 lineStart, qint64 from, qint64 to, bool atEnd)
{
    LineScan out;
    // a line of XML averages a few dozen bytes; reserving avoids regrowing a large vector
    out.starts.reserve(size_t((to - from) / 32 + 1));
    const char* p = text + from;
    const char* end = text + to;
    const char* line = text + lineStart;
    while (p < end) {
        const void* nl = std::memchr(p, '\n', size_t(end - p));
        if (!nl)
            break;
        const char* stop = static_cast<const char*>(nl);
        const qint64 bound = (stop - line) + (kTabWidth - 1) * tabsIn(line, stop);
        if (bound > out.widestBound)
            out.widestBound = bound;
        line = p = stop + 1;
        out.starts.push_back(p - text);
    }
    if (atEnd) {
        const qint64 bound = (end - line) + (kTabWidth - 1) * tabsIn(line, end);
        if (bound > out.widestBound)
            out.widestBound = bound;
    }
    return out;
}

qint64 advanceColumns(const char* text, qint64 len, qint64 col)
{
    for (qint64 i = 0; i < len; ++i) {
        const char c = text[i];
        if (c == '\t')
            col = (col / kTabWidth + 1) * kTabWidth;
        else if (!isContinuation(c))
            ++col;
    }
    return col;
}

ColumnHit offsetAtColumn(const char* text, qint64 len, qint64 target, qint64 col)
{
    qint64 i = 0;
    while (i < len && col < target) {
        const char c = text[i];
        col = c == '\t' ? (col / kTabWidth + 1) * kTabWidth : col + 1;
        ++i;
        while (i < len && isContinuation(text[i]))
            ++i;
    }
    return {i, col};
}

qint64 previousCharacter(const QByteArray& text, qint64 pos)
{
    if (pos <= 0)
        return 0;
    --pos;
    while (pos > 0 && isContinuation(text.at(pos)))
        --pos;
    return pos;
}

qint64 nextCharacter(const QByteArray& text, qint64 pos)
{
    const qint64 n = text.size();
    if (pos >= n)
        return n;
    ++pos;
    while (pos < n && isContinuation(text.at(pos)))
        ++pos;
    return pos;
}

} // namespace treelark
