// Checking a DOM document. libxml2's validators that work on a tree in memory write into
// it (default attributes, IDs, and the per-node words this DOM keeps its own bookkeeping
// in), and cannot be stopped half way. So the document is checked as the text it would be
// saved as, through the same streaming check as a file: the tree is only read, the
// progress callback can stop the check, and a file and the document read from it give
// the same problems. The cost is one copy of the text in memory while checking.
#include "dom_internal.h"
#include "validate_internal.h"

#include <QBuffer>

#include <algorithm>

namespace treelark {

namespace {

QString qualifiedName(const xmlNode* n)
{
    const QString local = detail::toQ(n->name);
    return n->ns && n->ns->prefix ? detail::toQ(n->ns->prefix) + QLatin1Char(':') + local : local;
}

// The path's last step without its position: the element's name as written.
QString lastName(const QString& path)
{
    QString step = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    return step.left(step.indexOf(QLatin1Char('[')));
}

// Gives each problem about an element the node it concerns: the elements of the tree are
// numbered in document order as the check numbered them.
void attachNodes(detail::DocCore& core, ValidationResult& result)
{
    std::vector<std::pair<qint64, std::size_t>> wanted; // element number, problem
    for (std::size_t i = 0; i < result.problems.size(); ++i)
        if (result.problems[i].element >= 0)
            wanted.emplace_back(result.problems[i].element, i);
    if (wanted.empty())
        return;
    std::sort(wanted.begin(), wanted.end());
    const auto docNode = reinterpret_cast<xmlNodePtr>(core.doc);
    qint64 number = -1;
    std::size_t next = 0;
    for (xmlNodePtr n = docNode->children; n && next < wanted.size(); n = detail::nextInSubtree(n, docNode)) {
        if (n->type != XML_ELEMENT_NODE)
            continue;
        ++number;
        for (; next < wanted.size() && wanted[next].first == number; ++next) {
            ValidationProblem& p = result.problems[wanted[next].second];
            // A tree changed while it was checked no longer matches the numbers.
            if (lastName(p.path) == qualifiedName(n))
                p.node = core.handle(n);
        }
    }
}

} // namespace

ValidationResult validateDocument(const DOMDocument& document, const ValidationOptions& options)
{
    const DOMNode docNode = document.asNode();
    detail::DocCore* core = detail::DocCore::of(docNode);
    QByteArray text;
    try {
        text = document.saveToBytes();
    } catch (const DOMException&) {
        // Not savable as it stands (nothing loaded, or text its encoding cannot hold):
        // checked as the UTF-8 text the tree holds.
        text = document.xmlUtf8();
    }
    QBuffer buffer(&text);
    buffer.open(QIODevice::ReadOnly);
    detail::StreamInput in;
    in.device = &buffer;
    in.total = text.size();
    in.url = core ? core->sourcePath : QString();
    in.file = in.url.isEmpty() ? QStringLiteral("(document in memory)") : in.url;
    ValidationResult result = detail::validateStream(in, options);
    if (core)
        attachNodes(*core, result);
    return result;
}

} // namespace treelark
