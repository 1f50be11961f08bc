// What a document means, independent of how it is written: every element and attribute
// by expanded name ({namespace}local), attribute values, text, comments and processing
// instructions, in document order. A tree and the same tree saved and read again must
// give the same text; prefixes, declarations and layout may differ. (Blanks in text count
// as layout here: the loader still drops blank runs between elements and entities.)
#pragma once

#include "treelark/dom.h"

#include <QRegularExpression>
#include <QStringList>

namespace testsupport {

// The next node in document order below `top` (top itself excluded), or null.
inline treelark::DOMNode following(const treelark::DOMNode& cur, const treelark::DOMNode& top)
{
    treelark::DOMNode next = cur.firstChild();
    for (treelark::DOMNode up = cur; next.isNull() && !up.isNull() && up != top; up = up.parentNode())
        next = up.nextSibling();
    return next;
}

inline QString expandedName(const treelark::DOMNode& n)
{
    return QLatin1Char('{') + n.namespaceURI() + QLatin1Char('}') + n.baseName();
}

// withText false leaves out text, comments and instructions: only names and attributes.
inline QString meaningOf(const treelark::DOMNode& top, bool withText = true)
{
    using namespace treelark;
    QString out;
    QString text; // adjacent text and CDATA read back as one run
    auto flushText = [&] {
        text.remove(QRegularExpression(QStringLiteral("\\s")));
        if (!text.isEmpty() && withText)
            out += QStringLiteral("T:") + text + QLatin1Char('\n');
        text.clear();
    };
    DOMNode n = top.firstChild();
    while (!n.isNull()) {
        const int type = n.nodeType();
        if (type == NODE_TEXT || type == NODE_CDATA_SECTION) {
            text += n.nodeValue();
        } else {
            flushText();
            if (type == NODE_ELEMENT) {
                QStringList attrs;
                DOMNamedNodeMap map = n.attributes();
                for (qint64 i = 0; i < map.length(); ++i) {
                    DOMNode a = map.item(i);
                    if (a.namespaceURI() != QLatin1String("http://www.w3.org/2000/xmlns/"))
                        attrs << expandedName(a) + QLatin1Char('=') + a.value();
                }
                attrs.sort();
                out += QStringLiteral("E:") + expandedName(n) + QLatin1Char(' ') + attrs.join(QLatin1Char(' '))
                    + QLatin1Char('\n');
            } else if (!withText) {
            } else if (type == NODE_COMMENT) {
                out += QStringLiteral("C:") + n.nodeValue() + QLatin1Char('\n');
            } else if (type == NODE_PROCESSING_INSTRUCTION) {
                out += QStringLiteral("P:") + n.nodeName() + QLatin1Char(' ') + n.nodeValue() + QLatin1Char('\n');
            }
        }
        DOMNode next = type == NODE_ELEMENT ? n.firstChild() : DOMNode();
        if (!next.isNull()) {
            n = next;
            continue;
        }
        if (type == NODE_ELEMENT)
            out += QStringLiteral("/E\n");
        // climb out of every element this was the last child of
        while (n.nextSibling().isNull()) {
            n = n.parentNode();
            if (n.isNull() || n == top)
                break;
            flushText();
            out += QStringLiteral("/E\n");
        }
        if (n.isNull() || n == top)
            break;
        n = n.nextSibling();
    }
    flushText();
    return out;
}

} // namespace testsupport
