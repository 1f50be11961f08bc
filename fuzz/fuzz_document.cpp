// Fuzz target for the document core: a document is loaded from the input, edited by
// operations the input also chooses, undone and redone, saved, and read back.
// Input: document bytes, then optionally a NUL and operation bytes (no well-formed
// document holds a NUL); without one, the operations are drawn from the document itself.
// A DOMException is the DOM refusing an operation. Anything else escaping, a sanitizer
// report, or a saved document that does not load again or means something else than its
// tree (dom_meaning.h) is a finding. Input bytes are read in a fixed order (never two
// reads in one argument list) and nothing depends on pointer values, so a finding
// replays the same way under any compiler.
#include "treelark/ApXmlMgr.h"
#include "treelark/dCollection.h"
#include "treelark/dom.h"
#include "../tests/shared/dom_meaning.h"

#include <QByteArray>
#include <QStringList>

#include <libxml/xmlerror.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

using namespace treelark;

namespace {

// Edits stop growing the document past this many nodes, so that repeated copies cannot
// turn a small input into a slow one.
constexpr qint64 kMaxNodes = 20000;
constexpr int kMaxOperations = 96;
constexpr size_t kMaxPool = 64;

class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool empty() const { return m_pos >= m_size; }
    uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    size_t pick(size_t n) { return n ? byte() % n : 0; }
    bool flag() { return byte() & 1; }
    QByteArray take(size_t max)
    {
        const size_t n = std::min<size_t>(pick(max + 1), m_size - std::min(m_pos, m_size));
        QByteArray out(reinterpret_cast<const char*>(m_data + m_pos), qsizetype(n));
        m_pos += n;
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

using testsupport::following;

qint64 countNodes(const DOMNode& top, qint64 limit)
{
    qint64 n = 0;
    for (DOMNode cur = top; !cur.isNull() && n <= limit; cur = following(cur, top))
        ++n;
    return n;
}

struct Session {
    ApXmlMgr mgr;
    DOMDocumentPtr doc;
    DOMDocumentPtr foreign; // nodes of another document to move in
    DOMNodeList listed;     // a query's result, read again after later edits
    int edits = 0;
    std::vector<DOMNode> pool;
    size_t nextSlot = 0;
    QStringList names;

    void remember(const DOMNode& n)
    {
        if (n.isNull())
            return;
        if (pool.size() < kMaxPool)
            pool.push_back(n);
        else
            pool[nextSlot++ % kMaxPool] = n;
    }

    DOMNode any(Bytes& in) { return pool.empty() ? DOMNode() : pool[in.pick(pool.size())]; }

    // A name: usually one the document uses, sometimes one made from the input (which may
    // well be invalid, to see it refused cleanly).
    QString name(Bytes& in)
    {
        static const char* const fixed[] = {"a",       "b",       "TagName", "Name", "ApLayer", "x:y", "",
                                            "1bad",    "a b",     "xmlns",   "xmlns:x", "xmlns:p", "p:q", "xml:lang"};
        switch (in.pick(4)) {
        case 0:
            return QString::fromUtf8(in.take(12));
        case 1:
            return QString::fromLatin1(fixed[in.pick(std::size(fixed))]);
        default:
            return names.isEmpty() ? QStringLiteral("a") : names[qsizetype(in.pick(size_t(names.size())))];
        }
    }

    QString path(Bytes& in)
    {
        QStringList parts;
        if (in.flag()) {
            DOMNode n = any(in);
            const QString full = mgr.GetFullPath(n);
            if (!full.isEmpty())
                parts << full;
        }
        for (size_t i = 0, n = in.pick(4); i < n; ++i)
            parts << name(in);
        return parts.join(QLatin1Char('/'));
    }

    QString value(Bytes& in)
    {
        static const char* const uris[] = {"urn:x", "urn:p", "", "a b", "urn:a&b", "http://www.w3.org/2000/xmlns/",
                                           "http://www.w3.org/XML/1998/namespace"};
        if (in.flag())
            return QString::fromLatin1(uris[in.pick(std::size(uris))]);
        return QString::fromUtf8(in.take(16));
    }

    QString expression(Bytes& in)
    {
        static const char* const forms[] = {"//%1", "%1", "%1/%2", "//%1/%2", "/%1", "..", "*", "//*", "//", "/",
                                            "//%1/..", "@%1", "//%1[@%2]"};
        if (in.pick(8) == 0)
            return QString::fromUtf8(in.take(24));
        QString e = QString::fromLatin1(forms[in.pick(std::size(forms))]);
        if (e.contains(QLatin1String("%1")))
            e = e.arg(name(in));
        if (e.contains(QLatin1String("%2")))
            e = e.arg(name(in));
        return e;
    }

    bool roomFor(qint64 more) const { return countNodes(doc->asNode(), kMaxNodes) + more <= kMaxNodes; }
    void insertThenEdit(Bytes& in);

    void step(Bytes& in)
    {
        const uint8_t op = in.byte();
        static const bool trace = std::getenv("TREELARK_FUZZ_TRACE") != nullptr;
        if (trace)
            std::fprintf(stderr, "op %d\n", op % 18);
        switch (op % 18) {
        case 0: { // select with a location path
            DOMNode from = in.flag() ? doc->asNode() : any(in);
            const QString all = expression(in);
            const QString one = expression(in);
            if (from.isNull())
                break;
            DOMNodeList found = from.selectNodes(all);
            for (qint64 i = 0, n = std::min<qint64>(found.length(), 4); i < n; ++i)
                remember(found.item(i));
            listed = found;
            remember(from.selectSingleNode(one));
            break;
        }
        case 1: { // path insertion, maybe with attributes
            dCollection attrs;
            for (size_t i = 0, n = in.pick(3); i < n; ++i) {
                const QString v = QString::fromUtf8(in.take(6));
                attrs.Add(v, name(in));
            }
            const QString where = path(in);
            if (roomFor(8))
                remember(mgr.InsertNodeWithFullPath(where, attrs.Count() ? &attrs : nullptr));
            break;
        }
        case 2: { // delete
            DOMNode n = any(in);
            DOMNode parent = n.isNull() ? DOMNode() : n.parentNode();
            if (!parent.isNull())
                parent.removeChild(n);
            break;
        }
        case 3: { // copy and paste
            DOMNode src = any(in);
            DOMNode dst = any(in);
            if (!src.isNull() && !dst.isNull() && roomFor(countNodes(src, kMaxNodes)))
                remember(dst.appendChild(src.cloneNode(true)));
            break;
        }
        case 4: { // move (a tree drag)
            DOMNode src = any(in);
            DOMNode dst = any(in);
            if (!src.isNull() && !dst.isNull())
                dst.appendChild(src);
            break;
        }
        case 5: { // insert before a reference node, which may be anything at all
            DOMNode src = any(in);
            DOMNode ref = any(in);
            DOMNode parent = in.flag() && !ref.isNull() ? ref.parentNode() : any(in);
            const bool copy = in.flag();
            if (!src.isNull() && !parent.isNull())
                remember(parent.insertBefore(copy ? src.cloneNode(true) : src, ref));
            break;
        }
        case 6: // merge with itself
            if (roomFor(countNodes(doc->asNode(), kMaxNodes)))
                mgr.MergeAll(doc, nullptr, in.flag() ? QStringLiteral("TagName") : name(in));
            break;
        case 7: { // merge with a copy, or a copy of one branch into another
            if (!roomFor(countNodes(doc->asNode(), kMaxNodes)))
                break;
            if (in.flag()) {
                DOMDocumentPtr twin = DOMDocument::create();
                twin->setValidateOnParse(false);
                if (twin->loadXML(doc->saveToBytes()))
                    mgr.MergeAll(twin);
            } else {
                DOMNode target = any(in);
                DOMNode source = any(in);
                const QString key = name(in);
                if (!target.isNull() && !source.isNull())
                    mgr.UpdateAllNodes(target, source.cloneNode(true), key);
            }
            break;
        }
        case 8: { // set an attribute (or a namespace declaration)
            DOMNode n = any(in);
            const QString attr = name(in);
            const QString v = value(in);
            if (!n.isNull())
                n.setAttribute(attr, v);
            break;
        }
        case 9: { // remove an attribute, or hold one (or a child) to act on later
            DOMNode n = any(in);
            const int how = int(in.pick(4));
            const qint64 index = qint64(in.pick(4));
            const QString attr = how == 0 ? name(in) : QStringLiteral("TagName");
            if (n.isNull())
                break;
            if (how <= 1) {
                n.removeAttribute(attr);
            } else if (how == 2) {
                DOMNamedNodeMap map = n.attributes();
                if (!map.isNull())
                    remember(map.item(index));
            } else {
                remember(n.childNodes().item(index));
                remember(n.firstChild());
            }
            break;
        }
        case 10: { // replace the text
            DOMNode n = any(in);
            if (!n.isNull())
                n.setText(QString::fromUtf8(in.take(24)));
            break;
        }
        case 11: { // make a node and hang it somewhere
            static const int types[] = {NODE_ELEMENT, NODE_TEXT, NODE_CDATA_SECTION, NODE_COMMENT,
                                        NODE_PROCESSING_INSTRUCTION, NODE_ATTRIBUTE, NODE_DOCUMENT_FRAGMENT, 42};
            const int type = types[in.pick(std::size(types))];
            const QString madeName = name(in);
            DOMNode made = doc->createNode(type, madeName, QString());
            if (made.nodeType() != NODE_ELEMENT && made.nodeType() != NODE_ATTRIBUTE && made.nodeType() != NODE_DOCUMENT_FRAGMENT)
                made.setNodeValue(QString::fromUtf8(in.take(12)));
            remember(made);
            DOMNode parent = any(in);
            if (!parent.isNull())
                remember(parent.appendChild(made));
            break;
        }
        case 12: { // the queries the window uses
            QString n = name(in);
            mgr.TotalNodes();
            mgr.TotalNodesByName(n);
            remember(mgr.GetNodeByName(n));
            DOMNodeList all = mgr.GetNodesByName(n);
            if (!all.isNull())
                remember(all.item(qint64(in.pick(4))));
            const QString section = name(in);
            const QString attr = name(in);
            const QString v = name(in);
            remember(mgr.GetNodeByAttributeValue(section, attr, v));
            mgr.HasDuplicateNodeNames(any(in));
            break;
        }
        case 13: { // read a node every way the window does
            DOMNode n = in.flag() && !listed.isNull() ? listed.item(qint64(in.pick(4))) : any(in);
            if (n.isNull())
                break;
            n.xml();
            n.xmlLength();
            n.text();
            bool cut = false;
            n.textPrefix(qsizetype(in.pick(64)), &cut);
            n.nodeTypeString();
            DOMNamedNodeMap attrs = n.attributes();
            for (qint64 i = 0; !attrs.isNull() && i < std::min<qint64>(attrs.length(), 8); ++i)
                attrs.item(i).value();
            break;
        }
        case 14: { // replace the document element
            DOMNode n = any(in);
            const bool copy = in.flag();
            if (!n.isNull())
                doc->setDocumentElement(copy ? n.cloneNode(true) : n);
            break;
        }
        case 15: // a copy or a node of another document put in, then edited through its handle
            insertThenEdit(in);
            break;
        case 16: { // nodes moved out of the tree into a holder that may never go back in
            DOMNode holder = in.flag() ? doc->createElement(QStringLiteral("holder")) : any(in);
            DOMNode n = any(in);
            if (!holder.isNull() && !n.isNull())
                holder.appendChild(n);
            if (in.flag())
                remember(holder);
            break;
        }
        default: // save in the middle of it all
            doc->saveToBytes();
            break;
        }
    }
};

// The node put in is the node in the tree: an edit through its handle is in the next save.
void Session::insertThenEdit(Bytes& in)
{
    DOMNode c;
    if (in.flag()) {
        DOMNode src = any(in);
        if (!src.isNull() && roomFor(countNodes(src, kMaxNodes)))
            c = src.cloneNode(true);
    } else {
        if (!foreign || in.flag()) {
            foreign = DOMDocument::create();
            foreign->setValidateOnParse(false);
            if (in.flag() || !foreign->loadXML(doc->saveToBytes()))
                foreign->loadXML("<f xmlns:p='urn:p' xmlns='urn:d'><p:a p:k='1'><b>t</b></p:a>"
                                 "<c xml:lang='en'>&#x41;</c><!--c--></f>");
        }
        const DOMNode top = foreign->asNode();
        for (size_t i = 0, n = in.pick(8); i < n && !top.isNull(); ++i)
            c = c.isNull() ? top.firstChild() : following(c, top);
        if (!c.isNull() && !roomFor(countNodes(c, kMaxNodes)))
            c = DOMNode();
    }
    DOMNode parent = any(in);
    if (c.isNull() || parent.isNull())
        return;
    DOMNode ref = in.flag() ? parent.lastChild() : DOMNode();
    const bool replace = in.flag() && !ref.isNull();
    const DOMNode returned = replace ? parent.replaceChild(c, ref) : parent.insertBefore(c, ref);
    if ((replace ? returned != ref : returned != c)
        || (c.nodeType() != NODE_DOCUMENT_FRAGMENT && c.parentNode() != parent))
        std::abort(); // the handle given is not the node in the tree
    remember(c);
    if (c.nodeType() != NODE_ELEMENT || c.ownerDocument() != doc)
        return;
    const QString mark = QStringLiteral("edit%1").arg(++edits);
    c.setAttribute(QStringLiteral("fz"), mark);
    DOMNode top = c;
    while (!top.parentNode().isNull())
        top = top.parentNode();
    if (top.nodeType() == NODE_DOCUMENT && !doc->saveToBytes().contains(mark.toUtf8()))
        std::abort(); // an edit through the handle that the saved document does not show
}

void harvestNames(const DOMDocumentPtr& doc, QStringList& names)
{
    const DOMNode top = doc->asNode();
    for (DOMNode cur = top.firstChild(); !cur.isNull() && names.size() < 32; cur = following(cur, top))
        if (cur.nodeType() == NODE_ELEMENT && !names.contains(cur.nodeName()))
            names << cur.nodeName();
}

} // namespace

// libxml2 also prints what it finds wrong with a document; the loader already reports it
// through parseError, and thousands of inputs a second would bury any finding.
static void quiet(void*, const char*, ...) {}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    xmlSetGenericErrorFunc(nullptr, quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t* split = nullptr;
    for (size_t i = size; i-- > 0;)
        if (data[i] == 0) {
            split = data + i;
            break;
        }
    const size_t docSize = split ? size_t(split - data) : size;
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(docSize));
    Bytes ops = split ? Bytes(split + 1, size - docSize - 1) : Bytes(data, size);

    Session s;
    s.doc = DOMDocument::create();
    s.doc->setValidateOnParse(ops.flag());
    s.doc->loadXML(text);
    // A document whose unedited copy does not load again fails on how its DTD is written
    // back, not on any edit: a separate, known finding (stopped on only when
    // TREELARK_FUZZ_STRICT_ROUNDTRIP is set), so the run goes on looking for edit faults.
    if (!s.doc->documentElement().isNull() && !std::getenv("TREELARK_FUZZ_STRICT_ROUNDTRIP")) {
        DOMDocumentPtr plain = DOMDocument::create();
        plain->setValidateOnParse(false);
        if (!plain->loadXML(s.doc->saveToBytes()))
            return 0;
    }
    s.mgr.setDOMDoc(s.doc);
    harvestNames(s.doc, s.names);
    s.remember(s.doc->asNode());
    s.remember(s.doc->documentElement());

    // Every step is recorded as an undo history would; taking all of them back must give
    // the tree as loaded, and making them again the tree as edited, byte for byte.
    const auto treeText = [&] {
        const DOMNode root = s.doc->documentElement();
        return root.isNull() ? QByteArray() : root.xmlUtf8();
    };
    // A save the DOM refuses is part of the contract too: there are then no bytes to compare.
    const auto savedBytes = [&]() -> std::optional<QByteArray> {
        try {
            return s.doc->saveToBytes();
        } catch (const DOMException&) {
            return std::nullopt;
        }
    };
    const QByteArray loadedTree = treeText();
    const QByteArray loadedBytes = savedBytes().value_or(QByteArray());
    std::vector<std::unique_ptr<DOMChangeSet>> history;
    for (int i = 0; i < kMaxOperations && !ops.empty(); ++i) {
        s.doc->beginChanges();
        try {
            s.step(ops);
        } catch (const DOMException&) {
            // refused operations are part of the contract
        }
        history.push_back(s.doc->endChanges());
    }
    const auto fail = [](const QString& what, const QByteArray& want, const QByteArray& got) {
        std::fprintf(stderr, "%s\n--- expected\n%s\n--- got\n%s\n", qPrintable(what), want.left(4096).constData(),
                     got.left(4096).constData());
        std::abort();
    };
    if (!history.empty()) {
        const QByteArray editedTree = treeText();
        const QByteArray editedBytes = savedBytes().value_or(QByteArray());
        for (auto it = history.rbegin(); it != history.rend(); ++it)
            (*it)->undo();
        if (treeText() != loadedTree)
            fail("undoing every step did not give the loaded tree", loadedTree, treeText());
        if (const auto b = savedBytes(); b && *b != loadedBytes)
            fail("undoing every step did not save as loaded", loadedBytes, *b);
        for (auto& step : history)
            step->redo();
        if (treeText() != editedTree)
            fail("redoing every step did not give the edited tree", editedTree, treeText());
        if (const auto b = savedBytes(); b && *b != editedBytes)
            fail("redoing every step did not save as edited", editedBytes, *b);
    }

    const std::optional<QByteArray> saved = savedBytes();
    if (!saved || s.doc->documentElement().isNull())
        return 0; // nothing to read back
    DOMDocumentPtr again = DOMDocument::create();
    again->setValidateOnParse(false);
    if (!again->loadXML(*saved)) {
        const DOMParseError& e = again->parseError();
        fail(QStringLiteral("saved document does not load again: %1 (line %2, column %3)")
                 .arg(e.reason).arg(e.line).arg(e.linepos),
             QByteArray(), *saved);
    }
    // Names, namespaces and attributes; how text in odd encodings comes back is a finding
    // of its own kind, looked for with TREELARK_FUZZ_STRICT_TEXT.
    static const bool withText = std::getenv("TREELARK_FUZZ_STRICT_TEXT") != nullptr;
    const QString before = testsupport::meaningOf(s.doc->asNode(), withText);
    const QString after = testsupport::meaningOf(again->asNode(), withText);
    if (before != after)
        fail("saved document means something else (tree, then reloaded); saved as:\n" + QString::fromUtf8(saved->left(4096)),
             before.toUtf8(), after.toUtf8());
    return 0;
}
