// An index's rows: its elements, plus a "#text" row under an element holding only text.
// A row's key is its element's number plus one (so that 0 stays "no row"), with the top
// bit set for the "#text" row.
#include "treelark/RowSource.h"

namespace treelark {

namespace {

using Row = DocumentIndex::Row;
constexpr quint64 kTextBit = quint64(1) << 63;
const QString kTextName = QStringLiteral("#text");

} // namespace

IndexRowSource::IndexRowSource(std::shared_ptr<const DocumentIndex> index) : m_index(std::move(index)) {}

Row IndexRowSource::elementOf(const TreeRow& row) const
{
    return row.key == 0 ? DocumentIndex::NoRow : Row((row.key & ~kTextBit) - 1);
}

TreeRow IndexRowSource::rowOf(Row element) const
{
    return {DOMNode(), element == DocumentIndex::NoRow ? 0 : quint64(element) + 1};
}

bool IndexRowSource::isTextRow(const TreeRow& row)
{
    return row.key & kTextBit;
}

std::vector<TreeRow> IndexRowSource::topRows() const
{
    const Row root = m_index->root();
    return root == DocumentIndex::NoRow ? std::vector<TreeRow>{} : std::vector<TreeRow>{rowOf(root)};
}

TreeRow IndexRowSource::firstChild(const TreeRow& row) const
{
    const Row e = elementOf(row);
    if (e == DocumentIndex::NoRow || isTextRow(row))
        return {};
    if (const Row c = m_index->firstChild(e); c != DocumentIndex::NoRow)
        return rowOf(c);
    return m_index->hasText(e) ? TreeRow{DOMNode(), row.key | kTextBit} : TreeRow{};
}

TreeRow IndexRowSource::nextSibling(const TreeRow& row) const
{
    const Row e = elementOf(row);
    return e == DocumentIndex::NoRow || isTextRow(row) ? TreeRow{} : rowOf(m_index->nextSibling(e));
}

TreeRow IndexRowSource::parent(const TreeRow& row) const
{
    const Row e = elementOf(row);
    if (isTextRow(row))
        return rowOf(e);
    return e == DocumentIndex::NoRow ? TreeRow{} : rowOf(m_index->parent(e));
}

bool IndexRowSource::hasChildren(const TreeRow& row) const
{
    return !firstChild(row).isNull();
}

qint64 IndexRowSource::knownChildCount(const TreeRow& row) const
{
    const Row e = elementOf(row);
    if (e == DocumentIndex::NoRow || isTextRow(row))
        return 0;
    const qint64 n = m_index->childCount(e);
    return n > 0 ? n : qint64(m_index->hasText(e));
}

QString IndexRowSource::label(const TreeRow& row) const
{
    if (isTextRow(row))
        return kTextName;
    const Row e = elementOf(row);
    if (e == DocumentIndex::NoRow)
        return QString();
    IndexedElement element;
    if (!m_index->read(e, &element, 0))
        return m_index->name(e); // the file changed: the name is all there is
    QString tagName, name;
    for (const IndexedAttribute& a : element.attributes) {
        if (a.name == QLatin1String("TagName") && tagName.isEmpty())
            tagName = a.value;
        else if (a.name == QLatin1String("Name") && name.isEmpty())
            name = a.value;
    }
    return treeItemLabel(element.name, tagName, name);
}

QString IndexRowSource::path(const TreeRow& row) const
{
    const QString path = m_index->path(elementOf(row));
    return isTextRow(row) ? path + QLatin1Char('/') + kTextName : path;
}

bool IndexRowSource::read(const TreeRow& row, RowDetails* out, qsizetype maxTextChars) const
{
    m_lastError.clear();
    const Row e = elementOf(row);
    IndexedElement element;
    if (e == DocumentIndex::NoRow || !m_index->read(e, &element, maxTextChars)) {
        m_lastError = e == DocumentIndex::NoRow ? QStringLiteral("No node.") : m_index->lastError();
        return false;
    }
    *out = RowDetails();
    out->text = element.text;
    out->textTruncated = element.textTruncated;
    if (isTextRow(row)) {
        out->name = kTextName;
        out->type = NODE_TEXT;
        out->typeName = QStringLiteral("text");
        out->value = element.text;
        out->valueTruncated = element.textTruncated;
        return true;
    }
    out->name = element.name;
    out->baseName = element.name.section(QLatin1Char(':'), -1);
    out->type = NODE_ELEMENT;
    out->typeName = QStringLiteral("element");
    out->hasAttributeList = true;
    out->attributes = element.attributes;
    out->childElements = m_index->childCount(e);
    out->childRows = out->childElements + (hasChildren(row) && out->childElements == 0 ? 1 : 0);
    return true;
}

std::vector<TreeRow> IndexRowSource::findByName(const QString& name) const
{
    std::vector<TreeRow> out;
    for (const Row r : m_index->findAll(name))
        out.push_back(rowOf(r));
    return out;
}

bool IndexRowSource::refuseText(const TreeRow& row) const
{
    m_lastError.clear();
    if (isTextRow(row) || elementOf(row) == DocumentIndex::NoRow) {
        m_lastError = QStringLiteral("Only an element can stand as a document of its own.");
        return true;
    }
    return false;
}

bool IndexRowSource::extract(const TreeRow& row, QByteArray* out) const
{
    if (refuseText(row))
        return false;
    return m_index->extract(elementOf(row), out);
}

bool IndexRowSource::saveSubtree(const TreeRow& row, const QString& path) const
{
    if (refuseText(row))
        return false;
    return m_index->saveSubtree(elementOf(row), path);
}

QString IndexRowSource::lastError() const
{
    return m_lastError.isEmpty() ? m_index->lastError() : m_lastError;
}

QString IndexRowSource::readOnlyReason() const
{
    return QStringLiteral("the document is open read-only in large document form");
}

} // namespace treelark
