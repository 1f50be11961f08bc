// An edited text node written so that only what the edit changed reads differently: the
// stretch before the first changed character and after the last one keep the file's own
// bytes (character and entity references, line ends), the changed middle is escaped
// anew. Replacing one word in a text must not turn its other references into characters.
#include "dom_internal.h"

#include <vector>

namespace treelark::detail {

namespace {

// One piece of the file's text and the UTF-8 it stands for: a reference, a line end
// ("\r\n" and "\r" read as "\n"), or one byte.
struct Piece {
    qsizetype rawFrom, rawTo;
    QByteArray meaning;
};

QByteArray utf8Of(uint code)
{
    const char32_t c = char32_t(code);
    return QString::fromUcs4(&c, 1).toUtf8();
}

// The meaning of a reference starting at raw[i] ('&'), or empty (and nothing consumed)
// when it is not one this writer can read (entity references stand in nodes of their own).
QByteArray reference(const QByteArray& raw, qsizetype i, qsizetype* end)
{
    const qsizetype semi = raw.indexOf(';', i);
    if (semi < 0 || semi - i > 12)
        return QByteArray();
    const QByteArray name = raw.mid(i + 1, semi - i - 1);
    *end = semi + 1;
    if (name == "amp") return "&";
    if (name == "lt") return "<";
    if (name == "gt") return ">";
    if (name == "quot") return "\"";
    if (name == "apos") return "'";
    bool ok = false;
    uint code = 0;
    if (name.startsWith("#x"))
        code = name.mid(2).toUInt(&ok, 16);
    else if (name.startsWith('#'))
        code = name.mid(1).toUInt(&ok, 10);
    return ok && code > 0 && code <= 0x10FFFF ? utf8Of(code) : QByteArray();
}

bool split(const QByteArray& raw, std::vector<Piece>& pieces)
{
    for (qsizetype i = 0; i < raw.size();) {
        Piece p{i, i + 1, QByteArray(1, raw[i])};
        if (raw[i] == '&') {
            qsizetype end = i;
            p.meaning = reference(raw, i, &end);
            if (p.meaning.isEmpty())
                return false;
            p.rawTo = end;
        } else if (raw[i] == '\r') {
            p.meaning = "\n";
            p.rawTo = i + 1 < raw.size() && raw[i + 1] == '\n' ? i + 2 : i + 1;
        }
        i = p.rawTo;
        pieces.push_back(std::move(p));
    }
    return true;
}

} // namespace

bool putEditedText(xmlOutputBufferPtr out, xmlNodePtr n, const QByteArray& source)
{
    quint64 at = 0, len = 0;
    if (n->type != XML_TEXT_NODE || isFormatting(n) || !tagSpan(n, &at, &len) || at + len > quint64(source.size()))
        return false;
    const QByteArray raw = QByteArray::fromRawData(source.constData() + at, qsizetype(len));
    std::vector<Piece> pieces;
    if (raw.contains('<') || !split(raw, pieces))
        return false;
    const QByteArray now = n->content ? QByteArray(reinterpret_cast<const char*>(n->content)) : QByteArray();
    // the pieces that still mean what they meant, from the front and from the back
    size_t front = 0;
    qsizetype same = 0;
    while (front < pieces.size() && now.mid(same).startsWith(pieces[front].meaning))
        same += pieces[front++].meaning.size();
    size_t back = pieces.size();
    qsizetype sameEnd = now.size();
    while (back > front && sameEnd - pieces[back - 1].meaning.size() >= same
           && QByteArrayView(now).sliced(0, sameEnd).endsWith(pieces[back - 1].meaning))
        sameEnd -= pieces[--back].meaning.size();
    const qsizetype rawMiddle = front < pieces.size() ? pieces[front].rawFrom : raw.size();
    const qsizetype rawBack = back < pieces.size() ? pieces[back].rawFrom : raw.size();
    xmlOutputBufferWrite(out, int(rawMiddle), raw.constData());
    const QByteArray middle = now.mid(same, sameEnd - same);
    // escaped as libxml2 escapes text; characters the output encoding lacks become references
    xmlOutputBufferWriteEscape(out, reinterpret_cast<const xmlChar*>(middle.constData()), nullptr);
    xmlOutputBufferWrite(out, int(raw.size() - rawBack), raw.constData() + rawBack);
    return true;
}

} // namespace treelark::detail
