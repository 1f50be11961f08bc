// The label rule every tree shows, and a document's rows.
#include "treelark/RowSource.h"

#include <algorithm>

namespace treelark {

RowSource::~RowSource() = default;

QString treeItemLabel(const QString& nodeName, const QString& tagName, const QString& name)
{
    if (!tagName.isEmpty()) {
        if (name.isEmpty() || name == tagName)
            return nodeName + QLatin1String(" (") + tagName + QLatin1Char(')');
        return nodeName + QLatin1String(" (") + tagName + QLatin1Char(',') + name + QLatin1Char(')');
    }
    if (!name.isEmpty())
        return nodeName + QLatin1Char('(') + name + QLatin1Char(')');
    return nodeName;
}

QString treeItemText(const DOMNode& node)
{
    QString tagName, name;
    DOMNamedNodeMap attrs = node.attributes();
    if (!attrs.isNull()) {
        // Read the attributes once, stopping as soon as both names are known.
        const qint64 n = attrs.length();
        for (qint64 i = 0; i < n && (tagName.isEmpty() || name.isEmpty()); ++i) {
            DOMNode a = attrs.item(i);
            const QString attrName = a.name();
            if (attrName == QLatin1String("TagName"))
                tagName = a.value();
            else if (attrName == QLatin1String("Name"))
                name = a.value();
        }
    }
    return treeItemLabel(node.nodeName(), tagName, name);
}

QString nodePath(const DOMNode& node)
{
    // Climbs rather than recursing: a tree built through the API may be deeper than any
    // stack. A detached subtree's own root is left out, as the node above it is "".
    auto isTop = [](const DOMNode& n) {
        return n.isNull() || n.nodeType() == NODE_DOCUMENT || n.parentNode().isNull();
    };
    QStringList names;
    for (DOMNode n = node; !isTop(n); n = n.parentNode())
        names.append(n.nodeName());
    std::reverse(names.begin(), names.end());
    return names.isEmpty() ? QStringLiteral("") : names.join(QLatin1Char('/'));
}

DomRowSource::DomRowSource(DOMDocumentPtr document) : m_doc(std::move(document)) {}

std::vector<TreeRow> DomRowSource::topRows() const
{
    // the tree shows the document from its element down
    const DOMNode top = m_doc ? m_doc->documentElement() : DOMNode();
    return top.isNull() ? std::vector<TreeRow>{} : std::vector<TreeRow>{{top}};
}

TreeRow DomRowSource::firstChild(const TreeRow& row) const
{
    return {row.node.isNull() ? DOMNode() : row.node.firstChild()};
}

TreeRow DomRowSource::nextSibling(const TreeRow& row) const
{
    return {row.node.isNull() ? DOMNode() : row.node.nextSibling()};
}

TreeRow DomRowSource::parent(const TreeRow& row) const
{
    const DOMNode p = row.node.isNull() ? DOMNode() : row.node.parentNode();
    return {p.isNull() || p.nodeType() == NODE_DOCUMENT ? DOMNode() : p};
}

bool DomRowSource::hasChildren(const TreeRow& row) const
{
    return !row.node.isNull() && row.node.hasChildNodes();
}

QString DomRowSource::label(const TreeRow& row) const
{
    return row.node.isNull() ? QString() : treeItemText(row.node);
}

QString DomRowSource::path(const TreeRow& row) const
{
    return nodePath(row.node);
}

bool DomRowSource::read(const TreeRow& row, RowDetails* out, qsizetype maxTextChars) const
{
    m_lastError.clear();
    const DOMNode& n = row.node;
    if (n.isNull()) {
        m_lastError = QStringLiteral("No node.");
        return false;
    }
    *out = RowDetails();
    out->name = n.nodeName();
    out->type = n.nodeType();
    out->typeName = n.nodeTypeString();
    out->text = n.textPrefix(maxTextChars, &out->textTruncated);
    out->baseName = n.baseName();
    out->value = n.nodeValue();
    if (out->value.size() > maxTextChars) {
        out->value.truncate(maxTextChars);
        out->valueTruncated = true;
    }
    const DOMNamedNodeMap attrs = n.attributes();
    out->hasAttributeList = !attrs.isNull();
    for (qint64 i = 0; !attrs.isNull() && i < attrs.length(); ++i)
        out->attributes.append({attrs.item(i).name(), attrs.item(i).value()});
    for (DOMNode c = n.firstChild(); !c.isNull(); c = c.nextSibling()) {
        out->childElements += c.nodeType() == NODE_ELEMENT;
        ++out->childRows;
    }
    return true;
}

namespace {

// Every element from `top` down in document order, without recursing (documents can be
// deeper than the stack).
void forEachElement(const DOMNode& top, const std::function<void(const DOMNode&)>& visit)
{
    for (DOMNode n = top; !n.isNull();) {
        if (n.nodeType() == NODE_ELEMENT)
            visit(n);
        if (DOMNode c = n.firstChild(); !c.isNull() && n.nodeType() == NODE_ELEMENT) {
            n = c;
            continue;
        }
        while (!n.isNull() && n != top && n.nextSibling().isNull())
            n = n.parentNode();
        n = n.isNull() || n == top ? DOMNode() : n.nextSibling();
    }
}

} // namespace

std::vector<TreeRow> DomRowSource::findByName(const QString& name) const
{
    std::vector<TreeRow> out;
    if (m_doc)
        forEachElement(m_doc->documentElement(), [&](const DOMNode& n) {
            if (n.nodeName() == name)
                out.push_back({n});
        });
    return out;
}

qint64 DomRowSource::elementCount() const
{
    qint64 n = 0;
    if (m_doc)
        forEachElement(m_doc->documentElement(), [&](const DOMNode&) { ++n; });
    return n;
}

DOMDocumentPtr DomRowSource::standalone(const TreeRow& row) const
{
    m_lastError.clear();
    try {
        // Copying into a fresh document declares every namespace the subtree uses.
        DOMDocumentPtr doc = DOMDocument::create();
        doc->asNode().appendChild(row.node.cloneNode(true));
        return doc;
    } catch (const DOMException& e) {
        m_lastError = e.description(); // a bare text cannot stand as a document
        return nullptr;
    }
}

bool DomRowSource::extract(const TreeRow& row, QByteArray* out) const
{
    const DOMDocumentPtr doc = standalone(row);
    if (doc)
        *out = doc->xmlUtf8();
    return bool(doc);
}

bool DomRowSource::saveSubtree(const TreeRow& row, const QString& path) const
{
    const DOMDocumentPtr doc = standalone(row);
    if (!doc)
        return false;
    try {
        doc->save(path);
        return true;
    } catch (const DOMException& e) {
        m_lastError = e.description(); // nothing was written and any old file is whole
        return false;
    }
}

} // namespace treelark
